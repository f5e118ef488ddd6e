"""What the benchmarks under Wine share: the e2e layers on the path
(tests/e2e: session.py, desktop.py, kavorin.py), the Wine version for their
headings, and a clean exit."""

import sys
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))

from session import interrupt_on_signals, wine_version  # noqa: E402,F401


def percentile(values, p):
    """Nearest-rank percentile."""
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, max(0, -(-len(ordered) * p // 100) - 1))]


def run_benchmark(main):
    """Runs a benchmark's main(argv) and exits with its code; SIGTERM and SIGHUP
    end it like Ctrl+C, so that its session tears the display and Wine down."""
    interrupt_on_signals()
    sys.exit(main(sys.argv[1:]))
