#!/usr/bin/env python3
"""Prints what recording and playing a 1000 Hz mouse cost: Kavorin.exe
records for 10 s under Wine while the pointer moves to a new place every
millisecond (XTest at its own deadlines), every move a record of the hooks;
then the CPU time of the Wine process running Kavorin.exe (utime + stime from
/proc/<pid>/stat) as a share of one core, and the move interval's median and
p90, read from the timeGetTime times of the saved recording; then the same
recording played back at recorded speed, and the CPU share of that, and the
memory the recording takes (and an hour of it would).

Usage: bench/record_cpu.py [--seconds N] [--exe PATH] [--keep FILE.rec]

Needs what the end-to-end tests need (scripts/install-deps.sh, then
scripts/build.sh win). No target is asserted. The wineserver's share is
printed too: under Wine every hook call and key-state query is a round trip
to it.
"""

import argparse
import os
import shutil
import statistics
import sys
import threading
import time
from pathlib import Path

from benchlib import percentile, run_benchmark, wine_version
from desktop import Desktop  # noqa: E402 (benchlib puts tests/e2e on the path)
from kavorin import TITLE_BREAK, TITLE_IDLE, Kavorin  # noqa: E402
from recordings import MOVE, records_of  # noqa: E402
from session import kavorin_exe, tool_exe, wait_for, wine_path  # noqa: E402
from witnessing import Witness  # noqa: E402

CLK_TCK = os.sysconf("SC_CLK_TCK")
PATH_Y = 650  # the pointer's path: a line below the toolbar, which sits in the screen's middle,
PATH_X = (60, 960)  # over the witness (Wine reports moves over Wine's own windows only)
WITNESS = (20, 560, 990, 180)
STEP_PX, STEP_MS = 1, 1  # a new position every millisecond


def cpu_seconds(pid):
    """utime + stime of a process, in seconds."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK  # fields 14 and 15 of stat(5)


def command_line(pid):
    with open("/proc/%d/cmdline" % pid, "rb") as f:
        return f.read().replace(b"\0", b" ").decode(errors="replace")


def pointer_path(seconds):
    """An XTest schedule that moves the pointer along a sawtooth for
    `seconds`: every position differs from the one before."""
    events, x = [], PATH_X[0]
    for i in range(int(seconds * 1000 / STEP_MS)):
        events.append((i * STEP_MS, "move", x, PATH_Y + i % 2))
        x = x + STEP_PX if x + STEP_PX <= PATH_X[1] else PATH_X[0]
    return events


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
        log = s.files / "record-cpu-witness.log"
        Witness.wait_ready(s, s.start_exe(tool_exe("witness"), wine_path(log), *WITNESS), log)
        proc = s.start_exe(exe)
        k = Kavorin.attach(s, proc, exe, timeout=30)
        if exe.name not in command_line(proc.pid):
            sys.exit("pid %d runs %r, not %s" % (proc.pid, command_line(proc.pid), exe.name))
        k.click_caption()  # Pause must reach a Wine window
        k.click_button(2)
        k.wait_title(TITLE_BREAK)

        # The pointer moves for the whole measured time and a little longer.
        mover = threading.Thread(target=s.play_input, args=(pointer_path(opts.seconds + 1.5),))
        mover.start()
        time.sleep(0.5)
        t0, cpu0, srv0 = time.monotonic(), cpu_seconds(proc.pid), cpu_seconds(s.wineserver.pid)
        time.sleep(opts.seconds)
        t1, cpu1, srv1 = time.monotonic(), cpu_seconds(proc.pid), cpu_seconds(s.wineserver.pid)
        mover.join()
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

        # Played back at recorded speed: the CPU it takes, from F5 to the idle title.
        p0, pcpu0 = time.monotonic(), cpu_seconds(proc.pid)
        k.click_button(3)
        k.wait_title(TITLE_BREAK, timeout=10)
        k.wait_title(rec.name, timeout=120)
        played_s, played_cpu = time.monotonic() - p0, cpu_seconds(proc.pid) - pcpu0
        s.close_window(k.win)
        proc.wait_exit(10)
    finally:
        if mover is not None:
            mover.join()
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
    print("  move interval:               median %.1f ms, p90 %.1f ms (sent: every %d ms)" % (median, p90, STEP_MS))
    print("  Kavorin.exe CPU recording:   %.2f s = %.1f %% of a core, %.3f ms a move"
          % (cpu, 100 * cpu / window_s, per_tick_ms))
    print("  Kavorin.exe CPU playing it:  %.2f s in %.1f s = %.1f %% of a core"
          % (played_cpu, played_s, 100 * played_cpu / played_s))
    rate = len(moves) / window_s
    print("  memory: %d bytes a second of such motion; an hour of it %.1f MB (of the 256 MiB set aside: %.1f h)"
          % (20 * rate, 20 * rate * 3600 / 1e6, (256 << 20) / (20 * rate) / 3600))
    print("  wineserver CPU (all clients): %.2f s = %.1f %% of a core" % (srv, 100 * srv / window_s))
    print("  (CPU times count in steps of %.0f ms)" % (1000 / CLK_TCK))
    return 0


if __name__ == "__main__":
    run_benchmark(main)
