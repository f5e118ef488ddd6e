#!/usr/bin/env python3
"""A soak of the real Kavorin.exe under Wine: for MINUTES (default 10), one
Kavorin process goes round and round the user's whole path. Each round it
records typing and mouse work that xdotool does in the witness, stops with
Pause, saves through the Save dialog, opens the file again through the Open
dialog, plays it into the witness, compiles it into a player through the
dialog and runs the player. After every playback the witness must have had
every key and button event of the saved recording, in order, and must see no
key or button held. Prints the Kavorin process's memory (from /proc) before
the first round and after the last, and a line per round.

Usage: bench/soak.py [MINUTES] [--exe PATH]

Needs what the end-to-end tests need (scripts/install-deps.sh, then
scripts/build.sh win). Exits 1 when a round finds a fault.
"""

import argparse
import os
import shutil
import sys
import tempfile
import time
from pathlib import Path

from benchlib import run_benchmark, wine_version
from desktop import KEY_HOLD, SETTLE, Desktop  # noqa: E402 (benchlib puts tests/e2e on the path)
from kavorin import CLASS, TITLE_BREAK, TITLE_IDLE, Kavorin  # noqa: E402
from recordings import VK_PAUSE, records_of  # noqa: E402
from witnessing import (KEY_MESSAGES, WITNESS_AT, Witness, button_events, expected_buttons, expected_keys,  # noqa: E402
                        key_events, quiet_log)
from session import kavorin_exe, tool_exe, wait_for, wine_path  # noqa: E402

WORDS = ["soak", "kavorin", "round", "twelve", "quiet"]


def memory(pid):
    """VmRSS and VmSize of a process, in KiB."""
    fields = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, value = line.partition(":")
            fields[key] = value.strip()
    return int(fields["VmRSS"].split()[0]), int(fields["VmSize"].split()[0])


class Soak:
    def __init__(self, s, exe, folder):
        self.s, self.exe, self.folder = s, exe, folder

    def button(self, b):
        self.s.xdo("mousedown", b)
        time.sleep(KEY_HOLD)
        self.s.xdo("mouseup", b)
        time.sleep(SETTLE)

    def user_work(self, w, n):
        """Typing and mouse work in the witness: a click for the focus, a word,
        moves, a right click, a word with Shift."""
        ox, oy = w.client_origin
        s = self.s
        self.s.user_moves((ox + 20 + n % 30, oy + 30), (ox + 61, oy + 47 + n % 20))
        s.activate(w.xid)
        self.button(1)
        self.s.user_holds(*WORDS[n % len(WORDS)])
        self.s.user_moves((ox + 150, oy + 100), (ox + 183 + n % 40, oy + 141), (ox + 232, oy + 170))
        self.button(3)
        s.key_down("shift")
        time.sleep(SETTLE)
        self.s.user_holds(*WORDS[(n + 1) % len(WORDS)][:3])
        s.key_up("shift")
        time.sleep(SETTLE)
        self.s.user_moves((ox + 301, oy + 240 - n % 50))

    def played(self, w, mark, records, what, timeout=30.0):
        """Waits until the witness has had the recording's keys and clicks
        since `mark`; returns the faults found (keys and clicks out of order or
        missing, keys held afterwards)."""
        keys, buttons = expected_keys(records), expected_buttons(records)
        try:
            wait_for(lambda: len(key_events(w.lines()[mark:])) >= len(keys)
                     and len(button_events(w.lines()[mark:])) >= len(buttons), timeout, what)
        except Exception as e:  # noqa: BLE001 (reported as a fault of the round)
            return ["%s: %s" % (what, e)]
        entries = quiet_log(w)[mark:]
        faults = []
        if key_events(entries) != keys:
            faults.append("%s: keys %s, expected %s" % (what, key_events(entries), keys))
        if button_events(entries) != buttons:
            faults.append("%s: buttons %s, expected %s" % (what, button_events(entries), buttons))
        held = w.held_keys()
        if held:
            faults.append("%s: held afterwards: %s" % (what, held))
        return faults

    def round(self, k, w, n):
        """One round; returns (events in the recording, faults)."""
        s = self.s
        k.click_caption()
        k.click_button(2)
        k.wait_title(TITLE_BREAK)
        mark = len(w.lines())
        time.sleep(0.3)
        self.user_work(w, n)
        s.key("Pause")
        k.wait_title(TITLE_IDLE if n == 0 else "take.rec")
        recorded = [e for e in w.lines()[mark:] if not (e["msg"] in KEY_MESSAGES and e["vk"] == str(VK_PAUSE))]

        saved = self.folder / "take.rec"
        k.click_button(1)
        s.choose_file("Save As", self.folder / "take")
        k.wait_title("take.rec")
        wait_for(lambda: saved.exists(), 10, "the saved file")
        records = records_of(saved.read_bytes())
        faults = []
        if expected_keys(records) != key_events(recorded):
            faults.append("recorded keys %s, the user's %s" % (expected_keys(records), key_events(recorded)))
        if expected_buttons(records) != button_events(recorded):
            faults.append("recorded buttons differ from the user's")

        k.press("o")
        s.choose_file("Open", saved)
        k.wait_title("take.rec")
        mark = len(w.lines())
        k.press("F5")
        faults += self.played(w, mark, records, "playback")
        k.wait_title("take.rec")

        player = self.folder / "player.exe"
        k.click_button(4)
        if n:  # the dialog asks before replacing last round's player
            s.choose_file("Save As", player)
            confirm = s.message_box("Error", exe=k.exe)
            s.press_button(confirm, "Yes")
        else:
            s.choose_file("Save As", self.folder / "player")
        box = k.box()
        if not box.text.startswith('Compile Successful: "player.exe"'):
            faults.append("compile: %r" % box.text)
        k.dismiss(box)
        mark = len(w.lines())
        proc = s.start_exe(player, name="player")
        if proc.wait_exit(60) != 0:
            faults.append("the player's exit code %s" % proc.exit_code)
        faults += self.played(w, mark, records, "player", timeout=5)
        if [x for x in s.windows_of(player, CLASS) if x.visible]:
            faults.append("the player showed a window")
        return len(records), faults


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("minutes", nargs="?", type=float, default=10.0)
    ap.add_argument("--exe", default=str(kavorin_exe()))
    opts = ap.parse_args(argv)
    built = Path(opts.exe)
    if not built.exists():
        sys.exit("%s is missing: build it with scripts/build.sh win" % built)

    s = Desktop()
    failed = 0
    with tempfile.TemporaryDirectory(prefix="kv-soak-") as tmp:
        exe = Path(tmp) / "Kavorin.exe"  # a copy: a rebuild meanwhile does not touch it
        shutil.copyfile(built, exe)
        try:
            s.start()
            s.mouse_move(5, 5)
            log = Path(tmp) / "witness.log"
            wproc = s.start_exe(tool_exe("witness"), wine_path(log), *WITNESS_AT)
            w = Witness.wait_ready(s, wproc, log)
            proc = s.start_exe(exe)
            k = Kavorin.attach(s, proc, exe, timeout=30)
            folder = Path(tmp) / "files"
            folder.mkdir()
            soak = Soak(s, exe, folder)
            print("Soak of %s under Wine (%s), %g minutes" % (built, wine_version(), opts.minutes), flush=True)
            before = memory(proc.pid)
            print("  Kavorin.exe memory before: VmRSS %d KiB, VmSize %d KiB" % before, flush=True)
            t0, n, events = time.monotonic(), 0, 0
            while time.monotonic() - t0 < opts.minutes * 60:
                count, faults = soak.round(k, w, n)
                events += count
                failed += bool(faults)
                rss, size = memory(proc.pid)
                print("  round %3d at %5.0f s: %3d records, VmRSS %d KiB, VmSize %d KiB%s"
                      % (n + 1, time.monotonic() - t0, count, rss, size,
                         "" if not faults else "; FAULTS: " + "; ".join(faults)), flush=True)
                n += 1
            after = memory(proc.pid)
            print("  Kavorin.exe memory after %d rounds (%d records recorded, saved, opened, played and compiled):"
                  " VmRSS %d KiB, VmSize %d KiB" % ((n, events) + after))
            print("  change: VmRSS %+d KiB, VmSize %+d KiB; rounds with a fault: %d of %d"
                  % (after[0] - before[0], after[1] - before[1], failed, n))
            s.close_window(k.win)
            proc.wait_exit(10)
        finally:
            s.stop()
    return 1 if failed else 0


if __name__ == "__main__":
    run_benchmark(main)
