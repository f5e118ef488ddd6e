"""What the benchmarks under Wine share: the e2e layers on the path
(tests/e2e: session.py, desktop.py, kavorin.py, recordings.py,
witnessing.py), the Wine version for their
headings, and a clean exit."""

import os
import shutil
import subprocess
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


def have_cnee():
    """xnee's cnee, the peer some benchmarks set beside Kavorin: installed on
    demand (Debian package xnee), so install-deps.sh stays lean."""
    if shutil.which("cnee"):
        return True
    sudo = [] if os.geteuid() == 0 else ["sudo", "-n"]
    print("installing the peer (Debian package xnee) ...", file=sys.stderr)
    r = subprocess.run(sudo + ["apt-get", "install", "-y", "-qq", "--no-install-recommends", "xnee"],
                       env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"), capture_output=True)
    return r.returncode == 0 and shutil.which("cnee") is not None
