#!/usr/bin/env python3
"""Prints what recording costs: Kavorin.exe records for 10 s under Wine while
the pointer moves to a new place every few milliseconds, so that every 10 ms
tick of the recorder writes one move event; then the CPU time of the Wine
process running Kavorin.exe (utime + stime from /proc/<pid>/stat) per tick and
as a share of one core, and the tick interval's median and p90, read from the
timeGetTime times of the saved recording.

Usage: bench/record_cpu.py [--seconds N] [--exe PATH] [--keep FILE.rec]

Needs what the end-to-end tests need (scripts/install-deps.sh, then
scripts/build.sh win). Target, not asserted: at most 0.5 ms of CPU per tick
(5 % of a core at 100 ticks a second). The wineserver's share is printed too:
under Wine every key-state query is a round trip to it.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

from benchlib import percentile, run_benchmark, wine_version
from desktop import Desktop  # noqa: E402 (benchlib puts tests/e2e on the path)
from kavorin import TITLE_BREAK, TITLE_IDLE, Kavorin  # noqa: E402
from recordings import MOVE, records_of  # noqa: E402
from session import kavorin_exe, wait_for  # noqa: E402

CLK_TCK = os.sysconf("SC_CLK_TCK")
TARGET_MS_PER_TICK = 0.5
PATH_Y = 650  # the pointer's path: a line below the toolbar, which sits in the screen's middle
PATH_X = (60, 960)
STEP_PX, STEP_S = 3, 0.003  # a new position every 3 ms: every 10 ms tick sees one


def cpu_seconds(pid):
    """utime + stime of a process, in seconds."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK  # fields 14 and 15 of stat(5)


def command_line(pid):
    with open("/proc/%d/cmdline" % pid, "rb") as f:
        return f.read().replace(b"\0", b" ").decode(errors="replace")


def pointer_path(seconds):
    """One xdotool command line that moves the pointer along a sawtooth for
    `seconds`: every position differs from the one before in x + y."""
    args, x = ["xdotool"], PATH_X[0]
    for _ in range(int(seconds / STEP_S)):
        args += ["mousemove", str(x), str(PATH_Y), "sleep", str(STEP_S)]
        x = x + STEP_PX if x + STEP_PX <= PATH_X[1] else PATH_X[0]
    return args


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--seconds", type=float, default=10.0)
    ap.add_argument("--exe", default=str(kavorin_exe()))
    ap.add_argument("--keep", help="copy the recording to this file")
    opts = ap.parse_args(argv)
    exe = Path(opts.exe)
    if not exe.exists():
        sys.exit("%s is missing: build it with scripts/build.sh win" % exe)

    s = Desktop()
    mover = None
    try:
        s.start()
        s.mouse_move(PATH_X[0], PATH_Y)
        proc = s.start_exe(exe)
        k = Kavorin.attach(s, proc, exe, timeout=30)
        if exe.name not in command_line(proc.pid):
            sys.exit("pid %d runs %r, not %s" % (proc.pid, command_line(proc.pid), exe.name))
        k.click_caption()  # Pause must reach a Wine window
        k.click_button(2)
        k.wait_title(TITLE_BREAK)

        # The pointer moves for the whole measured time and a little longer.
        mover = subprocess.Popen(pointer_path(opts.seconds + 1.5), env=s.env, stdin=subprocess.DEVNULL)
        time.sleep(0.5)
        t0, cpu0, srv0 = time.monotonic(), cpu_seconds(proc.pid), cpu_seconds(s.wineserver.pid)
        time.sleep(opts.seconds)
        t1, cpu1, srv1 = time.monotonic(), cpu_seconds(proc.pid), cpu_seconds(s.wineserver.pid)
        mover.terminate()
        mover.wait(5)
        mover = None

        s.key("Pause")
        k.wait_title(TITLE_IDLE)

        # Save the recording through the Save dialog, as a user would.
        rec = s.files / "record-cpu.rec"
        k.click_button(1)
        box = s.wait_window(exe=exe, cls="#32770", timeout=15)
        s.choose_file(box.title, rec, timeout=15)
        k.wait_title(rec.name, timeout=15)
        wait_for(lambda: rec.exists() and rec.stat().st_size > 0, 10, "the saved recording")
        records = records_of(rec.read_bytes())
        if opts.keep:
            shutil.copyfile(rec, opts.keep)
        s.close_window(k.win)
        proc.wait_exit(10)
    finally:
        if mover is not None:
            mover.kill()
            mover.wait()
        s.stop()

    # timeGetTime (like GetTickCount) under Wine counts milliseconds of the same monotonic clock
    # as Python's time.monotonic(): keep the ticks of the measured window.
    lo, hi = int(t0 * 1000), int(t1 * 1000)
    moves = [r for r in records if r[0] == MOVE and lo <= r[3] <= hi]
    window_s = t1 - t0
    if len(moves) < 10:
        sys.exit("only %d move events in the measured %.1f s (of %d records): did the pointer move?"
                 % (len(moves), window_s, len(records)))
    intervals = [b[3] - a[3] for a, b in zip(moves, moves[1:])]
    median, p90 = statistics.median(intervals), percentile(intervals, 90)
    ticks = window_s * 1000 / statistics.mean(intervals)  # ticks in the window, from their mean interval
    cpu, srv = cpu1 - cpu0, srv1 - srv0
    per_tick_ms = cpu * 1000 / ticks

    print("Kavorin recording under Wine (%s), pointer moving: %.1f s measured" % (wine_version(), window_s))
    print("  move events in the window:   %d (%.1f a second), %d records in all"
          % (len(moves), len(moves) / window_s, len(records)))
    print("  tick interval:               median %.1f ms, p90 %.1f ms (asked for: 10 ms)" % (median, p90))
    print("  Kavorin.exe CPU:             %.2f s = %.1f %% of a core, %.3f ms a tick   (target <= %.1f ms a tick,"
          " %s)" % (cpu, 100 * cpu / window_s, per_tick_ms, TARGET_MS_PER_TICK,
                   "met" if per_tick_ms <= TARGET_MS_PER_TICK else "NOT met"))
    print("  wineserver CPU (all clients): %.2f s = %.1f %% of a core" % (srv, 100 * srv / window_s))
    print("  (CPU times count in steps of %.0f ms)" % (1000 / CLK_TCK))
    return 0


if __name__ == "__main__":
    run_benchmark(main)
