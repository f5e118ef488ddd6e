#!/usr/bin/env python3
"""Prints how exactly Kavorin.exe records what a user does, under Wine, beside
the same program recording by sampling and beside a peer, xnee's `cnee
--record` (XRecord), all recording the same schedule on the same display.

The schedule (kavorin.exact_schedule, played through XTEST at its own
deadlines, N rounds): rollover pairs 2-8 ms apart, taps of 2-6 ms, both
sides of Shift, Ctrl, Alt and the Windows key, keypad and navigation keys,
the wheel both ways and sideways, the middle, right and X buttons; Pause
ends it. It goes into the witness (tests/e2e/witness), which logs what an
application gets, with QueryPerformanceCounter times (under Wine the clock
timeGetTime counts on too).

Figures, each against what the witness got (cnee: against what was sent, in
X terms, since it records X events):
- events present and in order: the longest common subsequence of keys,
  buttons and wheel notches (moves and lock keys aside), over the expected;
- rollover pairs whose presses are recorded in their true order;
- taps caught: short presses recorded with both their press and release;
- wheel notches recorded;
- gap error: the recorded gap between neighbouring matched events minus the
  gap the witness saw, median and p99 of its size;
- Kavorin's CPU per second of recording (the Wine process's utime + stime);
- then pointer motion (test_recording.moves_and_caps_schedule: 1000, 250 and
  125 Hz stretches and a drag at 500 Hz): the positions the witness saw, each
  change once, found in the recording in order (cnee: the positions sent, in
  its MotionNotify events), and the gap error of those moves, median / p99,
  beside the keys' gap error of the same run.
Targets, not asserted: every event present and in order, gap error p99
<= 2 ms; at least 99 % of the positions, their gap p99 within 1 ms of the
keys'.

Usage: bench/record_fidelity.py [--exe PATH] [--sampling-exe PATH] [--rounds N] [--no-peer]

Needs what the end-to-end tests need (scripts/install-deps.sh, then
scripts/build.sh win); the sampling program is built on demand (target
KavorinSampling: the same sources where the hooks cannot be had); cnee
(Debian package xnee) is installed on demand, or the peer is skipped.
"""

import argparse
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from benchlib import have_cnee, percentile, run_benchmark, wine_version
from desktop import Desktop, XTest  # noqa: E402 (benchlib puts tests/e2e on the path)
from kavorin import TITLE_BREAK, TITLE_IDLE, Kavorin  # noqa: E402
from recordings import KEYDOWN, KEYUP, records_of  # noqa: E402
from witnessing import (ROLLOVERS, TAPS, WHEEL, WITNESS_AT, Witness, exact_messages, exact_schedule,  # noqa: E402
                        plain_key)
from session import kavorin_exe, tool_exe, wait_for, wine_path  # noqa: E402
from test_recording import moves_and_caps_schedule, positions  # noqa: E402

LOCKS = (0x14, 0x90, 0x91)
BUTTON_NAMES = {0x201: "WM_LBUTTONDOWN", 0x202: "WM_LBUTTONUP", 0x204: "WM_RBUTTONDOWN", 0x205: "WM_RBUTTONUP",
                0x207: "WM_MBUTTONDOWN", 0x208: "WM_MBUTTONUP", 0x20B: "WM_XBUTTONDOWN", 0x20C: "WM_XBUTTONUP"}
WHEEL_NAMES = {0x20A: "WM_MOUSEWHEEL", 0x20E: "WM_MOUSEHWHEEL"}
CLK_TCK = os.sysconf("SC_CLK_TCK")


# ----- events as comparable tuples -----------------------------------------------------

def from_witness(entries):
    """(time, event) of the witness's keys, buttons and wheel notches."""
    out = []
    for t, m, *rest in exact_messages(entries, times=True):
        if m == "WM_CHAR" or (m.endswith("KEYDOWN") or m.endswith("KEYUP")) and rest[0] in LOCKS:
            continue
        if m.endswith("KEYDOWN") or m.endswith("KEYUP"):
            out.append((t, ("down" if m.endswith("DOWN") else "up", rest[0])))
        elif m in WHEEL_NAMES.values():
            out.append((t, (m, rest[0] > 0)))
        else:
            out.append((t, (m,)))
    return out


def from_records(records):
    """(time, event) of a recording's keys, buttons and wheel notches."""
    out = []
    for message, param_l, param_h, t, last in records:
        if message in (KEYDOWN, KEYUP) and (param_l & 0xFF) not in LOCKS:
            out.append((t, ("down" if message == KEYDOWN else "up", plain_key(param_l & 0xFF))))
        elif message in BUTTON_NAMES:
            out.append((t, (BUTTON_NAMES[message],)))
        elif message in WHEEL_NAMES:
            out.append((t, (WHEEL_NAMES[message], (last if last < 0x80000000 else last - 0x100000000) > 0)))
    return out


def lcs_pairs(a, b):
    """Index pairs (i, j) of a longest common subsequence of a and b."""
    n, m = len(a), len(b)
    table = [[0] * (m + 1) for _ in range(n + 1)]
    for i in range(n - 1, -1, -1):
        for j in range(m - 1, -1, -1):
            table[i][j] = table[i + 1][j + 1] + 1 if a[i] == b[j] else max(table[i + 1][j], table[i][j + 1])
    pairs, i, j = [], 0, 0
    while i < n and j < m:
        if a[i] == b[j]:
            pairs.append((i, j))
            i, j = i + 1, j + 1
        elif table[i + 1][j] >= table[i][j + 1]:
            i += 1
        else:
            j += 1
    return pairs


def figures(expected, got, key_of):
    """expected, got: (time, event) lists; key_of(name) the event of a key's
    press (for the rollovers and taps). Returns the figures."""
    pairs = lcs_pairs([e for _, e in expected], [e for _, e in got])
    errors = [abs((got[j][0] - got[q][0]) - (expected[i][0] - expected[p][0]))
              for (p, q), (i, j) in zip(pairs, pairs[1:])]
    events = [e for _, e in got]

    def nth(event, k):
        hits = [i for i, e in enumerate(events) if e == event]
        return hits[k] if k < len(hits) else None

    rounds = sum(1 for _, e in expected if e == key_of(ROLLOVERS[0][1][0])[0])
    in_order = 0
    for _, (a, b) in ROLLOVERS:
        for k in range(rounds):
            ia, ib = nth(key_of(a)[0], k), nth(key_of(b)[0], k)
            in_order += ia is not None and ib is not None and ia < ib
    caught = 0
    for _, key in TAPS:
        down, up = key_of(key)
        caught += min(events.count(down), events.count(up), rounds)
    wheel = sum(1 for e in events if e[0] in ("WM_MOUSEWHEEL", "WM_MOUSEHWHEEL", "wheel"))
    return {"present": len(pairs), "of": len(expected), "rollovers": in_order, "pairs": rounds * len(ROLLOVERS),
            "taps": caught, "tap_of": rounds * len(TAPS), "wheel": wheel, "wheel_of": rounds * len(WHEEL),
            "median": statistics.median(errors) if errors else None,
            "p99": percentile(errors, 99) if errors else None}


def move_figures(seen, recorded):
    """seen, recorded: (time, (x, y)) of each change of position. The share
    of the seen found in the recording in order, and the gap error of
    neighbouring matched moves, median and p99."""
    pairs = lcs_pairs([p for _, p in seen], [p for _, p in recorded])  # paths cross themselves
    errors = [abs((recorded[j][0] - recorded[q][0]) - (seen[i][0] - seen[p][0]))
              for (p, q), (i, j) in zip(pairs, pairs[1:])]
    return {"moves": len(pairs), "moves_of": len(seen),
            "move_median": statistics.median(errors) if errors else None,
            "move_p99": percentile(errors, 99) if errors else None}


def witness_moves(entries):
    out = []
    for e in entries:
        if e["msg"] == "WM_MOUSEMOVE":
            p = (int(e["sx"]), int(e["sy"]))
            if not out or out[-1][1] != p:
                out.append((float(e["qpc"]), p))
    return out


def record_moves(records):
    out = []
    for message, x, y, t, _ in records:
        p = (x - (1 << 32) if x >= 1 << 31 else x, y - (1 << 32) if y >= 1 << 31 else y)
        if message == 0x200 and (not out or out[-1][1] != p):
            out.append((t, p))
    return out


def with_moves(schedule, origin, rounds):
    """The schedule without its Pause, then the motion, then Pause."""
    keys = [e for e in schedule(origin, rounds) if e[2] != "Pause"]
    end = keys[-1][0] + 200
    return keys + [(end + ms,) + tuple(rest) for ms, *rest in moves_and_caps_schedule(origin)]


def vk_key(name):
    """The events a letter key's press and release are among Windows ones."""
    vk = ord(name.upper())
    return ("down", vk), ("up", vk)


# ----- Kavorin under Wine --------------------------------------------------------------

def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK


class Case:
    """Just enough of a WineTestCase for the Kavorin driver outside a test."""

    def __init__(self, s):
        self.s, self.procs = s, []

    def start(self, exe, *args):
        proc = self.s.start_exe(exe, *args)
        self.procs.append(proc)
        return proc

    def fail(self, message):
        raise RuntimeError(message)

    def id(self):
        return "bench.record_fidelity"

    def end(self):
        for p in self.procs:
            p.kill()


def kavorin_run(s, exe, rounds, folder):
    case = Case(s)
    try:
        s.mouse_move(5, 5)
        log = folder / ("witness-%s.log" % exe.stem)
        proc = case.start(tool_exe("witness"), wine_path(log), *WITNESS_AT)
        w = Witness.wait_ready(s, proc, log)
        k = Kavorin.start(case, exe=exe)
        k.click_button(2)
        k.wait_title(TITLE_BREAK)
        pid = k.proc.pid
        cpu0, t0 = cpu_seconds(pid), time.monotonic()
        mark = len(w.lines())
        s.play_input(with_moves(exact_schedule, w.client_origin, rounds))
        k.wait_title(TITLE_IDLE)
        cpu = (cpu_seconds(pid) - cpu0) / (time.monotonic() - t0)
        seen = w.lines()[mark:]
        k.click_button(1)
        s.choose_file("Save As", folder / ("%s.rec" % exe.stem))
        rec = folder / ("%s.rec" % exe.stem)
        wait_for(lambda: rec.exists() and rec.stat().st_size, 10, "the recording to be saved")
        time.sleep(0.3)
        records = records_of(rec.read_bytes())
        result = figures(from_witness(seen), from_records(records), vk_key)
        result.update(move_figures(witness_moves(seen), record_moves(records)))
        result["cpu"] = cpu
        return result
    finally:
        case.end()


# ----- the peer: cnee --record ---------------------------------------------------------

def x_event(kind, *args, keycode=None):
    if kind == "key":
        return ("down" if args[1] else "up", keycode(args[0]))
    if args[0] in WHEEL:
        return ("wheel", args[0]) if args[1] else None
    return ("button", args[0], args[1])


def cnee_run(s, rounds, folder):
    xt = XTest(s.display)
    try:
        s.mouse_move(5, 5)
        x, y, w, h = WITNESS_AT
        xev = subprocess.Popen(["xev", "-geometry", "%dx%d+%d+%d" % (w, h, x, y)], env=s.env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        s.activate(s.wait_x_window("Event Tester", 10))
        origin = s.x_geometry(s.wait_x_window("Event Tester", 10))
        out = folder / "cnee.xns"
        cnee = subprocess.Popen(["cnee", "--record", "--keyboard", "--mouse", "-o", str(out), "-e", os.devnull],
                                env=s.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1.0)  # cnee sets up its XRecord context
        schedule = [e for e in with_moves(exact_schedule, (origin["x"], origin["y"]), rounds) if e[2] != "Pause"]
        start = time.perf_counter()
        late = xt.play(schedule, lead=0.05)
        time.sleep(0.5)
        cnee.send_signal(signal.SIGINT)
        cnee.wait(10)
        xev.kill()
        xev.wait()
        sent, sent_moves = [], []
        for (ms, kind, *args), lag in zip(schedule, late):
            if kind == "move":
                if not sent_moves or sent_moves[-1][1] != tuple(args):
                    sent_moves.append((ms + lag, tuple(args)))
            elif kind == "key" and args[0] == "Caps_Lock":
                continue
            else:
                event = x_event(kind, *args, keycode=xt.keycode)
                if event:
                    sent.append((ms + lag, event))
        got, got_moves = [], []
        for line in out.read_text(errors="replace").splitlines():
            f = line.split(",")
            if len(f) < 8 or f[0] != "7" or not f[1].isdigit():
                continue  # "7": the XTEST device's own events
            kind, button, code, t = int(f[1]), int(f[4]), int(f[5]), int(f[7])
            if kind == 6:  # MotionNotify: x, y in the third and fourth fields
                p = (int(f[2]), int(f[3]))
                if not got_moves or got_moves[-1][1] != p:
                    got_moves.append((t, p))
                continue
            if kind in (2, 3):
                got.append((t, ("down" if kind == 2 else "up", code)))
            elif kind in (4, 5) and button in WHEEL:
                if kind == 4:
                    got.append((t, ("wheel", button)))
            elif kind in (4, 5):
                got.append((t, ("button", button, kind == 4)))
        result = figures(sent, got, lambda n: (("down", xt.keycode(n)), ("up", xt.keycode(n))))
        result.update(move_figures(sent_moves, got_moves))
        result["cpu"] = None
        return result
    finally:
        xt.close()


# ----- the table -----------------------------------------------------------------------

def row(name, f):
    ms = lambda v: "%.2f" % v if v is not None else "-"
    cpu = "%.1f %%" % (100 * f["cpu"]) if f.get("cpu") is not None else "-"
    return "| %s | %d / %d | %d / %d | %d / %d | %d / %d | %s / %s | %d / %d | %s / %s | %s |" % (
        name, f["present"], f["of"], f["rollovers"], f["pairs"], f["taps"], f["tap_of"], f["wheel"],
        f["wheel_of"], ms(f["median"]), ms(f["p99"]), f["moves"], f["moves_of"], ms(f["move_median"]),
        ms(f["move_p99"]), cpu)


def sampling_exe(exe):
    """KavorinSampling.exe beside the program, brought up to date with it."""
    subprocess.run(["cmake", "--build", str(exe.parent), "--target", "KavorinSampling"], check=True,
                   capture_output=True)
    return exe.with_name("KavorinSampling.exe")


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--exe", type=Path, default=None)
    ap.add_argument("--sampling-exe", type=Path, default=None)
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--no-peer", action="store_true")
    opts = ap.parse_args(argv)
    exe = (opts.exe or kavorin_exe()).resolve()
    sampler = (opts.sampling_exe or sampling_exe(exe)).resolve()
    rows = []
    s = Desktop()
    try:
        s.start()
        folder = Path(tempfile.mkdtemp(dir=s.files))
        rows.append(("Kavorin, input hooks", kavorin_run(s, exe, opts.rounds, folder)))
        rows.append(("Kavorin, sampling", kavorin_run(s, sampler, opts.rounds, folder)))
        if not opts.no_peer:
            if have_cnee():
                rows.append(("cnee --record (xnee)", cnee_run(s, opts.rounds, folder)))
            else:
                print("peer skipped: cnee (Debian package xnee) could not be installed", file=sys.stderr)
    finally:
        s.stop()
    print("record fidelity under %s, %d rounds of the schedule, %s" % (wine_version(), opts.rounds, exe))
    print()
    print("| recorder | events present and in order | rollovers in true order | taps caught | wheel notches "
          "| gap error median / p99 (ms) | positions in order | their gap error median / p99 (ms) "
          "| CPU per s of recording |")
    print("|---|---|---|---|---|---|---|---|---|")
    for name, f in rows:
        print(row(name, f))
    print()
    print("Targets, not asserted: every event present and in order, gap error p99 <= 2 ms; at least 99 % of "
          "the positions, their gap p99 within 1 ms of the keys'.")
    return 0


if __name__ == "__main__":
    run_benchmark(main)
