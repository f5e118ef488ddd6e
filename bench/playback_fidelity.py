#!/usr/bin/env python3
"""Prints how faithfully Kavorin.exe keeps a recording's timing under Wine, and
how fast it hears Pause, beside the same figures for a peer: xnee's `cnee`
replaying the same schedules into an X window on the same virtual display.

Schedules:
- moves: 600 moves 10 ms apart (5.99 s), each to its own point;
- mixed: 500 key events, down and up in turn, with gaps of 10, 16, 50 and
  100 ms in equal numbers, shuffled;
- pause: a key, then a 3 s gap and another key; Pause goes down at a random
  moment 0.2 to 2 s into the gap and is held; then the same with Esc, with
  Ctrl+Break (Ctrl, then Pause 20 ms later) and with the play hotkey
  (Ctrl+Alt+Shift+F5, F5 pressed 10 ms after Shift).

Kavorin plays each as a recording named on its command line into the witness
(tests/e2e/witness), which logs every message with a QueryPerformanceCounter
time; a move counts when the pointer first comes within a pixel of its point,
and the messages per move are the witness's WM_MOUSEMOVE messages of the run
over the moves recorded (cnee's: the xev window's MotionNotify events).
Pause latency is from the witness's Pause key-down to the key-up that the end
of the run sends (the release of everything held) while Pause is still held
(1.5 s); a press still unheard when it is let go counts as not heard. Esc's
and Ctrl+Break's (VK_CANCEL) likewise; the play hotkey's F5 press does not
reach the witness: its latency runs from Shift's key-down 10 ms before it to
the release of Shift.
cnee replays the same schedules as XTEST events into an `xev` window, whose
X server times are read; its latency is from the Pause press (xdotool) to
cnee's exit, Pause being its stop key (--stop-key Pause).

Figures: the whole run's duration against the recorded one, and the error of
each gap (played gap minus recorded gap) as median and p99 of its size.
Targets, printed next to the figures and not asserted: whole run within
0.1 %, per-gap error median <= 0.5 ms and p99 <= 1 ms, one message per move,
Pause latency p99 <= 50 ms.

Usage: bench/playback_fidelity.py [--exe PATH] [--before PATH] [--trials N] [--seed S] [--no-peer]

--before names a Kavorin.exe from before a change (build the main branch into
a folder of its own, or keep a copy of the build): its figures come first, in
a column of their own, so one run shows before, after and the peer.

Needs what the end-to-end tests need (scripts/install-deps.sh, then
scripts/build.sh win); cnee (Debian package xnee) is installed on demand
when missing, or the peer is skipped.
"""

import argparse
import os
import random
import re
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from benchlib import have_cnee, percentile, run_benchmark, wine_version
from desktop import Desktop  # noqa: E402 (benchlib puts tests/e2e on the path)
from recordings import KEYDOWN, KEYUP, LDOWN, LUP, MOVE, VK_PAUSE, pack  # noqa: E402
from witnessing import WITNESS_AT, Witness, arrivals, near  # noqa: E402
from session import kavorin_exe, tool_exe, wait_for, wine_path  # noqa: E402

GAPS = (10, 16, 50, 100)
MOVES, MOVE_GAP = 600, 10
TARGET_TOTAL_PCT, TARGET_MEDIAN_MS, TARGET_P99_MS, TARGET_PAUSE_MS = 0.1, 0.5, 1.0, 50.0
KEYS = [0x41 + i for i in range(13)]  # A..M: none is a toolbar shortcut
SCANS = [0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17, 0x24, 0x25, 0x26, 0x32]
X_KEYCODE_A, PAUSE_GAP, PAUSE_HOLD = 38, 3000, 1.5


# ----- the schedules -------------------------------------------------------------------

def move_points(origin):
    ox, oy = origin
    return [(ox + 20 + 3 * (i % 100), oy + 60 + 3 * (i // 100)) for i in range(MOVES)]


def move_times():
    return [MOVE_GAP * i for i in range(MOVES)]


def mixed_times(events, seed):
    gaps = [GAPS[i % len(GAPS)] for i in range(events - 1)]
    random.Random(seed).shuffle(gaps)
    t, out = 0, [0]
    for g in gaps:
        t += g
        out.append(t)
    return out


def click_into(origin, t):
    """A move and a click into the witness, which gives it the keyboard focus."""
    x, y = origin[0] + 50, origin[1] + 50
    return [pack(MOVE, x, y, t), pack(LDOWN, x, y, t + 50), pack(LUP, x, y, t + 100)]


def key_record(i, down, t):
    n = (i // 2) % len(KEYS)
    return pack(KEYDOWN if down else KEYUP, KEYS[n] + 256 * SCANS[n], SCANS[n], t)


# ----- figures -------------------------------------------------------------------------

def figures(recorded, played):
    """recorded: the schedule's times (ms); played: when each arrived (ms, or
    None). Returns a dict of the figures, over the events that arrived."""
    pairs = [(r, p) for r, p in zip(recorded, played) if p is not None]
    if len(pairs) < 2:
        return None
    errors = [(p - q) - (r - s) for (s, q), (r, p) in zip(pairs, pairs[1:])]
    span_r, span_p = pairs[-1][0] - pairs[0][0], pairs[-1][1] - pairs[0][1]
    size = [abs(e) for e in errors]
    return {"arrived": len(pairs), "of": len(recorded), "total_pct": 100.0 * (span_p - span_r) / span_r,
            "played_ms": span_p, "recorded_ms": span_r, "median": statistics.median(size),
            "p99": percentile(size, 99), "mean": statistics.mean(errors)}


def latency_figures(samples):
    return {"n": len(samples), "median": statistics.median(samples), "p99": percentile(samples, 99),
            "max": max(samples)} if samples else None


# ----- Kavorin under Wine ----------------------------------------------------------------

def play_file(s, exe, folder, name, data, done, timeout):
    rec = folder / name
    rec.write_bytes(data)
    proc = s.start_exe(exe, wine_path(rec))
    try:
        wait_for(done, timeout, "the playback of %s" % name, interval=0.2)
        time.sleep(0.5)
    finally:
        proc.kill()


def kavorin_moves(s, w, exe, folder):
    points, times = move_points(w.client_origin), move_times()
    mark = len(w.lines())
    data = b"".join(pack(MOVE, x, y, 1000000 + t) for (x, y), t in zip(points, times))
    play_file(s, exe, folder, "moves.rec", data,
              lambda: arrivals(w.lines()[mark:][-30:], points[-1:]) != [None], 60)
    entries = w.lines()[mark:]
    f = figures(times, arrivals(entries, points))
    if f:
        f["per_move"] = len([e for e in entries if e["msg"] == "WM_MOUSEMOVE"]) / len(points)
    return f


def kavorin_mixed(s, w, exe, folder, events, seed):
    times = mixed_times(events, seed)
    t0 = 1000000
    data = b"".join(click_into(w.client_origin, t0)) + b"".join(
        key_record(i, i % 2 == 0, t0 + 400 + t) for i, t in enumerate(times))
    mark = len(w.lines())

    def keys():
        return [e for e in w.lines()[mark:] if e["msg"] in ("WM_KEYDOWN", "WM_KEYUP") and e["vk"] != str(VK_PAUSE)]

    play_file(s, exe, folder, "mixed.rec", data, lambda: len(keys()) >= events, times[-1] / 1000 + 60)
    got = keys()
    seen = [(int(e["vk"]), e["msg"] == "WM_KEYDOWN") for e in got]
    want = [(KEYS[(i // 2) % len(KEYS)], i % 2 == 0) for i in range(events)]
    if seen[:events] != want:
        sys.exit("the witness saw other keys than recorded")
    return figures(times, [float(e["qpc"]) for e in got[:events]])


# The ways to stop a playback: the keys pressed, ms apart (XTEST), the key
# whose key-down the witness times from (ms before the stop itself) and whose
# key-up the release sends.
STOPS = {"Pause": ([(0, "Pause")], VK_PAUSE, 0), "Esc": ([(0, "Escape")], 0x1B, 0),
         "Ctrl+Break": ([(0, "Control_L"), (20, "Pause")], 0x03, 0),
         "hotkey": ([(0, "Control_L"), (5, "Alt_L"), (10, "Shift_L"), (20, "F5")], 0x10, 10)}


def kavorin_stops(s, w, exe, folder, trials, seed):
    return {name: kavorin_pause(s, w, exe, folder, trials, random.Random(seed), *STOPS[name]) for name in STOPS}


def kavorin_pause(s, w, exe, folder, trials, rng, presses=((0, "Pause"),), vk=VK_PAUSE, before=0):
    samples, lost = [], 0
    for n in range(trials):
        t0 = 1000000
        data = b"".join(click_into(w.client_origin, t0)) + b"".join(
            [key_record(0, True, t0 + 400), key_record(0, False, t0 + 450),
             key_record(2, True, t0 + 450 + PAUSE_GAP), key_record(2, False, t0 + 500 + PAUSE_GAP)])
        rec = folder / ("pause%d.rec" % n)
        rec.write_bytes(data)
        mark = len(w.lines())
        proc = s.start_exe(exe, wine_path(rec))
        try:
            wait_for(lambda: [e for e in w.lines()[mark:] if e["msg"] == "WM_KEYUP" and e["vk"] == str(KEYS[0])],
                     30, "the key before the gap")
            time.sleep(rng.uniform(0.2, 2.0))
            s.play_input([(ms, "key", key, True) for ms, key in presses], lead=0.01)
            time.sleep(PAUSE_HOLD)
            s.play_input([(0, "key", key, False) for _, key in reversed(presses)], lead=0.01)
            time.sleep(0.3)
            entries = w.lines()[mark:]
            down = next((e for e in entries if e["msg"] == "WM_KEYDOWN" and e["vk"] == str(vk)), None)
            up = next((e for e in entries if e["msg"] == "WM_KEYUP" and e["vk"] == str(vk)), None)
            if down is None or up is None:
                lost += 1
                continue
            latency = float(up["qpc"]) - float(down["qpc"]) - before
            if latency >= PAUSE_HOLD * 1000 - 100:  # the real release: not heard while held
                lost += 1
            else:
                samples.append(latency)
        finally:
            proc.kill()
    return latency_figures(samples), lost


def kavorin_figures(exe, opts):
    s = Desktop()
    try:
        s.start()
        s.mouse_move(5, 5)
        folder = Path(tempfile.mkdtemp(dir=s.files))
        log = folder / "witness.log"
        w = Witness.wait_ready(s, s.start_exe(tool_exe("witness"), wine_path(log), *WITNESS_AT), log, 20)
        moves = kavorin_moves(s, w, exe, folder)
        mixed = kavorin_mixed(s, w, exe, folder, opts.events, opts.seed)
        stops = kavorin_stops(s, w, exe, folder, opts.trials, opts.seed)
    finally:
        s.stop()
    return moves, mixed, stops


# ----- the peer: cnee into an xev window ------------------------------------------------

class Peer:
    """cnee on the session's display, replaying into an xev window at the
    witness's place, whose events are read with their X server times."""

    def __init__(self, s, folder):
        self.s, self.folder = s, folder
        hdr = folder / "header.xns"
        s.run("cnee", "--record", "--keyboard", "--mouse", "-str", "1", "-o", str(hdr), "-e", os.devnull,
              timeout=20)
        # The settings cnee wrote, without any event it saw.
        self.header = "".join(l for l in hdr.read_text().splitlines(True) if not l[:1].isdigit())
        x, y, w, h = WITNESS_AT
        self.log = folder / "xev.log"
        self.xev = subprocess.Popen(["stdbuf", "-oL", "xev", "-geometry", "%dx%d+%d+%d" % (w, h, x, y)],
                                    env=s.env, stdout=open(self.log, "w"), stderr=subprocess.DEVNULL)
        xid = s.wait_x_window("Event Tester", 10)
        s.activate(xid)
        geo = s.x_geometry(xid)
        self.origin = (geo["x"], geo["y"])

    def stop(self):
        self.xev.kill()
        self.xev.wait()

    def events(self):
        """(kind, X time, root x, root y, keycode) of each event xev logged."""
        out, kind = [], None
        for line in self.log.read_text(errors="replace").splitlines():
            m = re.match(r"(\w+) event,", line)
            if m:
                kind = m.group(1)
                continue
            m = re.search(r"time (\d+), \((-?\d+),(-?\d+)\), root:\((-?\d+),(-?\d+)\)", line)
            if m and kind:
                out.append([kind, int(m.group(1)), int(m.group(4)), int(m.group(5)), None])
                continue
            m = re.search(r"keycode (\d+)", line)
            if m and out and out[-1][0] == kind:
                out[-1][4] = int(m.group(1))
        return out

    def script(self, name, lines):
        path = self.folder / name
        path.write_text(self.header + "".join(l + "\n" for l in lines))
        return path

    def replay(self, path, **kw):
        return subprocess.Popen(["cnee", "--replay", "-f", str(path), *kw.get("extra", [])], env=self.s.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    @staticmethod
    def motion(x, y, t):
        return "7,6,%d,%d,0,0,0,%d,4,Virtual core XTEST pointer" % (x, y, t)

    @staticmethod
    def key(down, t, code=X_KEYCODE_A):
        return "7,%d,0,0,0,%d,0,%d,5,Virtual core XTEST keyboard" % (2 if down else 3, code, t)


def peer_figures(opts):
    s = Desktop()
    try:
        s.start()
        s.mouse_move(5, 5)
        folder = Path(tempfile.mkdtemp(dir=s.files))
        p = Peer(s, folder)
        t0 = 2000000
        # moves
        points, times = move_points(p.origin), move_times()
        mark = len(p.events())
        p.replay(p.script("moves.xns", [p.motion(x, y, t0 + t) for (x, y), t in zip(points, times)])).wait(60)
        time.sleep(0.3)
        ev = [e for e in p.events()[mark:] if e[0] == "MotionNotify"]
        arrived, at = [], 0
        for q in points:
            j = next((j for j in range(at, len(ev)) if near((ev[j][2], ev[j][3]), q)), None)
            arrived.append(None if j is None else float(ev[j][1]))
            at = at if j is None else j
        moves = figures(times, arrived)
        if moves:
            moves["per_move"] = len(ev) / len(points)
        # mixed
        times = mixed_times(opts.events, opts.seed)
        mark = len(p.events())
        p.replay(p.script("mixed.xns", [p.key(i % 2 == 0, t0 + t) for i, t in enumerate(times)])).wait(120)
        time.sleep(0.3)
        keys = [e for e in p.events()[mark:] if e[0] in ("KeyPress", "KeyRelease") and e[4] == X_KEYCODE_A]
        mixed = figures(times, [float(e[1]) for e in keys[:opts.events]])
        # pause: Pause is cnee's stop key
        rng, samples, lost = random.Random(opts.seed), [], 0
        script = p.script("pause.xns", [p.key(True, t0), p.key(False, t0 + 50), p.key(True, t0 + 50 + PAUSE_GAP),
                                        p.key(False, t0 + 100 + PAUSE_GAP)])
        for _ in range(opts.trials):
            proc = p.replay(script, extra=["--stop-key", "Pause"])
            time.sleep(0.3 + rng.uniform(0.2, 2.0))
            start = time.monotonic()
            s.key_down("Pause")
            while proc.poll() is None and time.monotonic() - start < PAUSE_HOLD:
                time.sleep(0.001)
            latency = (time.monotonic() - start) * 1000
            s.key_up("Pause")
            if proc.poll() is None:  # played on: not heard while held
                lost += 1
                proc.kill()
            else:
                samples.append(latency)
            proc.wait()
        pause = (latency_figures(samples), lost)
        p.stop()
    finally:
        s.stop()
    return moves, mixed, {"Pause": pause}


# ----- the table -----------------------------------------------------------------------

def cell(f, key, fmt):
    return "-" if f is None else fmt % f[key]


def print_table(rows, opts):
    print("Playback fidelity under Wine (%s), on one virtual display; targets in brackets" % wine_version())
    print("  moves: %d moves %d ms apart; mixed: %d key events, gaps %s ms; pause: %d presses in a %d ms gap"
          % (MOVES, MOVE_GAP, opts.events, "/".join(map(str, GAPS)), opts.trials, PAUSE_GAP))
    head = "%-28s" % "" + "".join("%26s" % name for name, _ in rows)
    print(head)
    total, median, p99, pause = (TARGET_TOTAL_PCT, TARGET_MEDIAN_MS, TARGET_P99_MS, TARGET_PAUSE_MS)
    lines = [
        ("moves: whole run [<=%g %%]" % total,
         lambda r: cell(r[0], "total_pct", "%+.2f %%") + cell(r[0], "played_ms", " (%.0f ms)")),
        ("moves: gap median [<=%g]" % median, lambda r: cell(r[0], "median", "%.2f ms")),
        ("moves: gap p99 [<=%g]" % p99, lambda r: cell(r[0], "p99", "%.2f ms")),
        ("moves: messages a move [1]", lambda r: cell(r[0], "per_move", "%.2f")),
        ("moves: arrived", lambda r: "-" if r[0] is None else "%d of %d" % (r[0]["arrived"], r[0]["of"])),
        ("mixed: whole run [<=%g %%]" % total,
         lambda r: cell(r[1], "total_pct", "%+.2f %%") + cell(r[1], "played_ms", " (%.0f ms)")),
        ("mixed: gap median [<=%g]" % median, lambda r: cell(r[1], "median", "%.2f ms")),
        ("mixed: gap p99 [<=%g]" % p99, lambda r: cell(r[1], "p99", "%.2f ms")),
    ]
    for name in STOPS:
        lines += [
            ("%s: median" % name, lambda r, n=name: cell(r[2].get(n, (None,))[0], "median", "%.1f ms")),
            ("%s: p99 [<=%g]" % (name, pause), lambda r, n=name: cell(r[2].get(n, (None,))[0], "p99", "%.1f ms")),
            ("%s: not heard" % name,
             lambda r, n=name: "%d of %d" % (r[2][n][1], opts.trials) if n in r[2] else "-")]
    for label, get in lines:
        print("%-28s" % label + "".join("%26s" % get(r) for _, r in rows))


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--exe", action="append", help="Kavorin.exe to measure (repeatable; default the build's)")
    ap.add_argument("--before", help="a Kavorin.exe from before a change, measured first as 'before'")
    ap.add_argument("--events", type=int, default=500, help="key events of the mixed schedule (even)")
    ap.add_argument("--trials", type=int, default=10, help="presses of each way to stop")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--no-peer", action="store_true", help="Kavorin only")
    opts = ap.parse_args(argv)
    opts.events += opts.events % 2
    rows, named = [], [Path(e) for e in (opts.exe or [str(kavorin_exe())])]
    runs = ([("before", Path(opts.before))] if opts.before else []) + [
        ("after" if opts.before and len(named) == 1 else e.name if len(named) < 2 else str(e)[-24:], e)
        for e in named]
    for label, exe in runs:
        if not exe.exists():
            sys.exit("%s is missing: build it with scripts/build.sh win" % exe)
        rows.append((label, kavorin_figures(exe, opts)))
    if not opts.no_peer:
        if have_cnee():
            rows.append(("cnee (xnee)", peer_figures(opts)))
        else:
            print("peer skipped: cnee (Debian package xnee) is not installed and could not be", file=sys.stderr)
    print_table(rows, opts)
    return 0


if __name__ == "__main__":
    run_benchmark(main)
