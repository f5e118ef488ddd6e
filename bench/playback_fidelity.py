#!/usr/bin/env python3
"""Prints how faithfully Kavorin.exe keeps a recording's timing under Wine: a
recording of 500 key events with gaps of 10, 16, 50 and 100 ms, mixed, is
played (`Kavorin.exe bench.rec`) into the witness, which logs every key
message with a QueryPerformanceCounter time. For each gap, the error is the
gap the witness saw minus the recorded one; printed: the errors' median and
p99, per gap size too, and the whole run's duration against the recorded one.

Usage: bench/playback_fidelity.py [--events N] [--seed S] [--exe PATH]

Needs what the end-to-end tests need (scripts/install-deps.sh, then
scripts/build.sh win). Targets, printed next to the figures and not asserted:
median error <= 1 ms, p99 <= 5 ms, total duration within 1 %.
"""

import argparse
import random
import statistics
import sys
import tempfile
import time
from pathlib import Path

from benchlib import percentile, run_benchmark, wine_version
from desktop import Desktop  # noqa: E402 (benchlib puts tests/e2e on the path)
from kavorin import KEYDOWN, KEYUP, LDOWN, LUP, MOVE, WITNESS_AT, Witness, pack  # noqa: E402
from session import kavorin_exe, tool_exe, wait_for, wine_path  # noqa: E402

GAPS = (10, 16, 50, 100)
TARGET_MEDIAN_MS, TARGET_P99_MS, TARGET_TOTAL_PCT = 1.0, 5.0, 1.0
KEYS = [0x41 + i for i in range(13)]  # A..M: none is a toolbar shortcut
SCANS = [0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17, 0x24, 0x25, 0x26, 0x32]


def recording(origin, events, seed):
    """A move and a click into the witness (which gives it the keyboard focus),
    then `events` key events, down and up in turn, with gaps drawn from GAPS
    in equal numbers and shuffled. Returns (bytes, [(vk, down, time)])."""
    ox, oy = origin
    t = 1000000
    data = [pack(MOVE, ox + 50, oy + 50, t), pack(LDOWN, ox + 50, oy + 50, t + 50),
            pack(LUP, ox + 50, oy + 50, t + 100)]
    t += 400
    gaps = [GAPS[i % len(GAPS)] for i in range(events - 1)]
    random.Random(seed).shuffle(gaps)
    keys = []
    for i in range(events):
        if i:
            t += gaps[i - 1]
        n = (i // 2) % len(KEYS)
        down = i % 2 == 0
        data.append(pack(KEYDOWN if down else KEYUP, KEYS[n] + 256 * SCANS[n], SCANS[n], t))
        keys.append((KEYS[n], down, t))
    return b"".join(data), keys


def start_witness(s, folder):
    log = folder / "witness.log"
    proc = s.start_exe(tool_exe("witness"), wine_path(log), *WITNESS_AT)
    return Witness.wait_ready(s, proc, log, 20)


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--events", type=int, default=500, help="key events (even: each key goes down and up)")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--exe", default=str(kavorin_exe()))
    opts = ap.parse_args(argv)
    exe = Path(opts.exe)
    if not exe.exists():
        sys.exit("%s is missing: build it with scripts/build.sh win" % exe)
    events = opts.events + opts.events % 2

    s = Desktop()
    try:
        s.start()
        s.mouse_move(5, 5)
        folder = Path(tempfile.mkdtemp(dir=s.files))
        w = start_witness(s, folder)
        data, keys = recording(w.client_origin, events, opts.seed)
        rec = folder / "bench.rec"
        rec.write_bytes(data)
        recorded_span = keys[-1][2] - keys[0][2]
        proc = s.start_exe(exe, wine_path(rec))

        def received():
            got = [e for e in w.of("WM_KEYDOWN", "WM_KEYUP")]
            return got if len(got) >= events else None

        got = wait_for(received, recorded_span / 1000 + 60, "%d key messages in the witness" % events, interval=0.5)
        time.sleep(0.5)
        got = w.of("WM_KEYDOWN", "WM_KEYUP")
        proc.kill()
    finally:
        s.stop()

    seen = [(int(e["vk"]), e["msg"] == "WM_KEYDOWN") for e in got]
    if seen != [(vk, down) for vk, down, _ in keys]:
        first = next(i for i, (a, b) in enumerate(zip(seen + [None] * events, keys)) if a != b[:2])
        sys.exit("the witness saw other keys than recorded, from event %d on: %s" % (first, seen[first:first + 5]))
    times = [float(e["qpc"]) for e in got]
    errors, by_gap = [], {g: [] for g in GAPS}
    for i in range(1, events):
        gap = keys[i][2] - keys[i - 1][2]
        err = (times[i] - times[i - 1]) - gap
        errors.append(err)
        by_gap[gap].append(err)
    played_span = times[-1] - times[0]
    abs_errors = [abs(e) for e in errors]
    med, p99 = statistics.median(abs_errors), percentile(abs_errors, 99)
    total_pct = 100 * (played_span - recorded_span) / recorded_span

    def verdict(ok):
        return "met" if ok else "NOT met"

    print("Kavorin playback timing under Wine (%s): %d key events, gaps %s ms mixed"
          % (wine_version(), events, "/".join(map(str, GAPS))))
    print("  per-gap error |played - recorded|: median %.2f ms (target <= %.0f ms, %s), p99 %.2f ms (target <= %.0f"
          " ms, %s)" % (med, TARGET_MEDIAN_MS, verdict(med <= TARGET_MEDIAN_MS), p99, TARGET_P99_MS,
                        verdict(p99 <= TARGET_P99_MS)))
    print("  signed error: mean %+.2f ms, median %+.2f ms (positive: later than recorded)"
          % (statistics.mean(errors), statistics.median(errors)))
    for g in GAPS:
        if by_gap[g]:
            print("    %3d ms gaps (%3d): median %+.2f ms, p99 |error| %.2f ms"
                  % (g, len(by_gap[g]), statistics.median(by_gap[g]), percentile([abs(e) for e in by_gap[g]], 99)))
    print("  whole run: %.1f ms played, %d ms recorded: %+.2f %% (target within %.0f %%, %s)"
          % (played_span, recorded_span, total_pct, TARGET_TOTAL_PCT, verdict(abs(total_pct) <= TARGET_TOTAL_PCT)))
    return 0


if __name__ == "__main__":
    run_benchmark(main)
