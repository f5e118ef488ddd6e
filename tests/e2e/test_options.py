"""The Options menu of the real Kavorin.exe under Wine and what it opens: the
menu's items and check marks read from the menu itself, the repeat box and a
series of runs, fast and continuous playback into the witness, the About box
with its link, and the help text."""

import re
import time
import unittest

from kavorin import TITLE_CREATED, Kavorin, WineTestCase
from recordings import KEYDOWN, KEYUP, LDOWN, LUP, MOVE, Rec, records_of
from witnessing import WITNESS_AT, button_events, expected_buttons, expected_keys, key_events, near, quiet_log
from session import WINE, WaitTimeout, holds_for, tool_exe, wait_for, wine_path

MENU = ["Play Speed: &Normal", "Play Speed: &Fast", None, "&Continuous Playback", "Set &Repeat Count...", None,
        "Hide &Tips     (Escape)", "&Help", "Kavorin &Website", "&About Kavorin"]  # None: a separator
HOST = "kavorin.example"
HELP_TEXT = (
    "Quick Start Guide:\n\n    1) Press the BLUE button to Start a new recording\t\n    2) Press "
    "the RED button to Stop recording\n    3) Press the GREEN arrow (or F5) to Play\n\nRecordings "
    "can also be run from the command line.\nExample: \t \"kavorin  c:\\recording.rec\"\n\nShortcut "
    "Keys:\n\n{O}\t\tOpen\n{F5}\t\tPlay Recording\n{Enter}\t\tShow Options\n{Enter}+{R}\tSet "
    "Repeats\n{Escape}\t\tHide Tips\n\nAnywhere:\n{Ctrl+Alt+Shift+F6}\tRecord/Stop\n{Ctrl+Alt+Shift+F5}\t"
    "Play/Stop\n{Pause}, {Ctrl+Break}\tStop\n{Escape}\t\tStop playing\n\n")
ES_NUMBER = 0x2000
BLUE = (0, 0, 255)


class OptionsTests(WineTestCase):
    def watch_mouse(self):
        """Starts logging every mouse input event of the desktop (a low-level
        hook in wintool); returns a function that reads the events so far:
        dicts with msg, at (x, y), injected."""
        proc = self.start(tool_exe("wintool"), "mouse", 120)
        wait_for(lambda: "watching" in proc.output() or not proc.alive(), 10, "the mouse hook")
        self.assertIn("watching", proc.output())

        def events():
            out = []
            for line in proc.output().splitlines():
                m = re.match(r"mouse msg=0x([0-9a-f]+) x=(-?\d+) y=(-?\d+) injected=(\d)", line)
                if m:
                    out.append(dict(msg=int(m.group(1), 16), at=(int(m.group(2)), int(m.group(3))),
                                    injected=m.group(4) == "1"))
            return out

        return events

    def collect_titles(self, k, idle, until, timeout=30.0):
        """Polls the title (about every 20 ms) and returns the distinct titles
        seen in order, until `until(title)` holds; the `idle` title seen before
        the first other title is left out."""
        seen = []
        deadline = time.monotonic() + timeout
        while True:
            t = k.title()
            if seen or t != idle:
                if not seen or seen[-1] != t:
                    seen.append(t)
            if seen and until(t):
                return seen
            if time.monotonic() > deadline:
                raise WaitTimeout("the title never settled; seen %r" % seen)
            time.sleep(0.02)

    # ----- the menu -------------------------------------------------------

    def test_enter_opens_the_menu_over_the_options_button_and_its_checks_follow_the_settings(self):
        k = Kavorin.start(self)
        menu = k.open_menu()
        self.assertEqual([None if i.separator else i.text for i in menu.items], MENU)
        self.assertEqual([i.text for i in menu.items if i.checked], ["Play Speed: &Normal"])
        self.assertEqual([i.text for i in menu.items if not i.separator and i.state & 0x3], [], "none greyed")
        # Its top-left corner: 16 pixels left of the window's right edge and
        # 10 above its bottom edge, over the Options button.
        left, top, right, bottom = k.rect()
        self.assertEqual(menu.rect[:2], (right - 16, bottom - 10))
        cx, cy = k.win.client_origin
        self.assertTrue(21 * 5 + 2 <= menu.rect[0] - cx <= 21 * 5 + 22 and 5 <= menu.rect[1] - cy <= 21,
                        "the corner at client (%d, %d) lies on the Options button" % (menu.rect[0] - cx,
                                                                                       menu.rect[1] - cy))

        # Fast: the check moves from Normal to Fast; continuous gets its check.
        k.choose("f")
        menu = k.open_menu()
        self.assertEqual([i.text for i in menu.items if i.checked], ["Play Speed: &Fast"])
        k.choose("c")
        menu = k.open_menu()
        self.assertEqual([i.text for i in menu.items if i.checked], ["Play Speed: &Fast", "&Continuous Playback"])
        self.assertEqual([None if i.separator else i.text for i in menu.items], MENU, "the same items again")
        # Escape closes it and changes nothing.
        self.s.key("Escape")
        wait_for(lambda: not self.s.menus(), 10, "the menu to close")
        self.assertEqual(k.title(), TITLE_CREATED)
        menu = k.open_menu()
        self.assertEqual([i.text for i in menu.items if i.checked], ["Play Speed: &Fast", "&Continuous Playback"])
        k.choose("n")
        menu = k.open_menu()
        self.assertEqual([i.text for i in menu.items if i.checked], ["Play Speed: &Normal", "&Continuous Playback"])
        self.s.key("Escape")
        wait_for(lambda: not self.s.menus(), 10, "the menu to close")

    # ----- repeats, fast and continuous playback ----------------------------

    def test_three_repeats_play_the_recording_three_times_counting_in_the_title(self):
        s = self.s
        s.mouse_move(5, 5)
        w = self.start_witness(*WITNESS_AT)
        ox, oy = w.client_origin
        rec = (Rec().move(ox + 30, oy + 30).move(ox + 50, oy + 60, 40).button(LDOWN, ox + 50, oy + 60, 40)
               .button(LUP, ox + 50, oy + 60, 60).key(KEYDOWN, 0x41, 150).key(KEYUP, 0x41, 80)
               .move(ox + 90, oy + 80, 150))
        path = rec.write(self.folder("rep") / "three.rec")
        records = records_of(rec.data())
        # Named on the command line, it plays once at the start.
        k = Kavorin.start(self, wine_path(path), title="three.rec")
        wait_for(lambda: len(key_events(w.lines())) >= 2 and k.title() == "three.rec", 10, "the first run")

        k.open_menu()
        k.choose("r")
        box = s.wait_window(title="Playback Repeats", exe=k.exe)
        edit = wait_for(lambda: [c for c in s.controls("Playback Repeats") if c["cls"].lower() == "edit"], 10,
                        "the count field in the box")[0]
        self.assertEqual(edit["text"], "1")
        self.assertTrue(edit["style"] & ES_NUMBER, "digits only: style 0x%x" % edit["style"])
        text = [c for c in s.controls("Playback Repeats") if c["cls"].lower() == "static" and c["text"]][0]
        self.assertEqual(text["text"], "Number of Playback Loops:\t\n\n\n\n\n")
        buttons = [c for c in s.controls("Playback Repeats") if c["cls"].lower() == "button"]
        self.assertEqual(sorted(b["text"] for b in buttons), ["Cancel", "OK"])
        self.assertGreater(edit["rect"][1], text["rect"][1] + 12, "below the text's first line")
        self.assertLessEqual(edit["rect"][3], min(b["rect"][1] for b in buttons), "above the buttons")
        # A letter does not go in; a digit replaces the selected 1.
        s.press_key_in(box, "x", "3")
        wait_for(lambda: [c["text"] for c in s.controls("Playback Repeats") if c["hwnd"] == edit["hwnd"]] == ["3"],
                 5, "the field to read 3")
        s.key("Return")
        wait_for(lambda: not s.windows("Playback Repeats"), 10, "the box to close")

        mark = len(w.lines())
        k.press("F5")
        titles = self.collect_titles(k, "three.rec", lambda t: t == "three.rec")
        self.assertEqual(titles, ["{Break} to end: 1", "{Break} to end: 2", "{Break} to end: 3", "three.rec"])
        entries = quiet_log(w)[mark:]
        self.assertEqual(key_events(entries), expected_keys(records) * 3)
        self.assertEqual(button_events(entries), expected_buttons(records) * 3)
        self.assertEqual(w.held_keys(), [])

    def test_fast_speed_thins_moves_with_the_button_up_and_plays_every_move_of_a_drag(self):
        s = self.s
        s.mouse_move(5, 5)
        w = self.start_witness(*WITNESS_AT)
        ox, oy = w.client_origin
        rec = Rec()
        # 300 moves with the button up, 20 ms apart, each to a new place.
        for n in range(299):
            rec.move(ox + 10 + (n % 25) * 12, oy + 10 + (n // 25) * 20 + (n % 2) * 3, 20)
        rec.move(ox + 40, oy + 262, 20)
        # Then a drag there: press, 30 moves, release (a click lands where
        # the pointer is).
        rec.button(LDOWN, ox + 40, oy + 262, 40)
        for n in range(30):
            rec.move(ox + 45 + n * 9, oy + 262 - (n % 3) * 4, 20)
        rec.button(LUP, ox + 45 + 29 * 9, oy + 262 - (29 % 3) * 4, 40)
        records = records_of(rec.data())
        path = rec.write(self.folder("fast") / "fast.rec")

        k = Kavorin.start(self)
        k.open_menu()
        k.choose("f")
        k.press("o")
        s.choose_file("Open", path)
        k.wait_title("fast.rec")
        mouse = self.watch_mouse()
        mark = len(w.lines())
        k.press("F5")
        wait_for(lambda: [e for e in w.lines()[mark:] if e["msg"] == "WM_LBUTTONUP"], 20, "the drag's release")
        k.wait_title("fast.rec")
        entries = quiet_log(w)[mark:]

        # What the player sent (every mouse input event, none merged): the
        # first record, then of the run of moves with the button up only every
        # sixth (by index) and the last; then the drag whole.
        thinned = [i for i in range(300) if i % 6 == 0 or i == 299]
        points = [(r[1], r[2]) for r in records]
        sent = [e for e in mouse() if e["injected"]]
        sent = sent[next(i for i, e in enumerate(sent) if near(e["at"], points[0])):]  # from the first record on
        self.assertEqual([e["msg"] for e in sent], [MOVE] * len(thinned) + [LDOWN] + [MOVE] * 30 + [LUP],
                         "moves, press, drag moves, release")
        for e, i in zip(sent, thinned + [300] + list(range(301, 332))):
            self.assertTrue(near(e["at"], points[i]), "record %d at %s, sent at %s" % (i, points[i], e["at"]))

        # The witness sees the pointer only where the player sent it, and
        # the press and release of the drag where they were recorded. (Not at
        # every one of those places: played back to back, moves merge in its
        # queue, as Wine keeps only the latest of those not yet read; nor
        # strictly in order: now and then the X server echoes a move late.)
        allowed = [points[i] for i in thinned] + points[301:331]
        seen = [(int(e["sx"]), int(e["sy"])) for e in entries if e["msg"] == "WM_MOUSEMOVE"]
        self.assertEqual([p for p in seen if not any(near(p, q) for q in allowed)], [],
                         "the witness saw the pointer where no move was sent")
        self.assertGreater(len(seen), 10)
        self.assertEqual(button_events(entries), expected_buttons(records))
        # In far less time than recorded.
        moves = [e for e in entries if e["msg"] in ("WM_MOUSEMOVE", "WM_LBUTTONUP")]
        played = float(moves[-1]["qpc"]) - float(moves[0]["qpc"])
        recorded = records[-1][3] - records[0][3]
        self.assertLess(played, recorded / 2, "played in %.0f ms, recorded over %d ms" % (played, recorded))

    def test_continuous_playback_runs_until_pause_then_the_title_is_idle(self):
        rec = Rec().move(1000, 700).move(1006, 708, 160).move(1012, 716, 160)
        path = rec.write(self.folder("cont") / "loop.rec")
        k = Kavorin.start(self, wine_path(path), title="loop.rec")  # plays once at the start
        k.open_menu()
        k.choose("c")
        k.press("F5")
        titles = self.collect_titles(k, "loop.rec", lambda t: t == "{Break} to end: 4")
        self.assertEqual(titles, ["{Break} to end: %d" % n for n in range(1, 5)])
        self.s.key_down("Pause")
        try:
            k.wait_title("loop.rec", timeout=5)
        finally:
            self.s.key_up("Pause")
        holds_for(lambda: k.title() == "loop.rec", 0.5, "the title stays idle")
        self.assertTrue(k.alive())

    # ----- the boxes --------------------------------------------------------

    def test_about_box_shows_its_link_in_blue_with_the_hand_and_a_click_without_a_browser_warns(self):
        s = self.s
        k = Kavorin.start(self)
        s.mouse_move(*k.button_centre(0))
        hand = wait_for(lambda: (lambda p: p if p[:4] == (32, 32, 5, 0) else None)(s.pointer_shape()), 5,
                        "the hand over a toolbar button")
        s.mouse_move(1015, 5)
        k.open_menu()
        k.choose("a")
        box = s.wait_window(title="About Kavorin", exe=k.exe)
        link = wait_for(lambda: [c for c in s.controls("About Kavorin") if c["text"] == HOST], 10, "the link")[0]
        self.assertEqual(link["cls"].lower(), "static")
        about = [c for c in s.controls("About Kavorin") if c["text"].startswith("\n\n\nKavorin v1.22\n")]
        self.assertEqual(len(about), 1, "the About text")

        # On the screen: the host name in blue, centred in the box, above the
        # black text.
        (bx, by), (bw, bh) = box.client_origin, box.client_size

        def blue_and_black():
            shot = s.screenshot()
            blue, black = [], []
            for y in range(by, by + bh):
                for x in range(bx + 75, bx + bw - 75):
                    p = shot.pixel(x, y)
                    if p[2] >= 200 and p[0] <= 80 and p[1] <= 80:
                        blue.append((x, y))
                    elif max(p) <= 60:
                        black.append((x, y))
            return (blue, black, shot) if len(blue) > 40 else None

        try:
            blue, black, shot = wait_for(blue_and_black, 10, "the link painted in blue")
        except WaitTimeout:
            s.screenshot(self.folder("about-shot") / "about.png")
            raise
        left, right = min(x for x, y in blue), max(x for x, y in blue)
        self.assertLessEqual(abs((left + right) / 2 - (bx + bw / 2)), 3, "centred: blue from x %d to %d in a box "
                             "from %d to %d" % (left, right, bx, bx + bw))
        self.assertIn(BLUE, {shot.pixel(x, y) for x, y in blue}, "pure blue")
        self.assertTrue(black, "the About text in black")
        self.assertLess(max(y for x, y in blue), min(y for x, y in black), "the link above the text")
        self.assertGreaterEqual(min(y for x, y in blue), link["rect"][1])
        self.assertLessEqual(max(y for x, y in blue), link["rect"][3])

        # The pointer over it is the hand; over the text it is not.
        lx, ly = (link["rect"][0] + link["rect"][2]) // 2, (link["rect"][1] + link["rect"][3]) // 2
        s.mouse_move(lx, (about[0]["rect"][1] + about[0]["rect"][3]) // 2 + 20)
        wait_for(lambda: s.pointer_shape() != hand, 5, "another pointer over the text")
        s.mouse_move(lx, ly)
        wait_for(lambda: s.pointer_shape() == hand, 5, "the hand over the link")

        # No browser in this prefix: nothing handles https addresses.
        self.remove_registry_key("HKCR\\https")
        s.click(lx, ly)
        warning = k.box()
        self.assertEqual((warning.text, warning.buttons), ('Unable to connect to "%s"' % HOST, ["OK"]))
        self.assertTrue([x for x in s.windows("hwnd=%x" % box.hwnd) if x.visible], "the About box stays open")
        k.dismiss(warning)
        self.assertTrue([x for x in s.windows("hwnd=%x" % box.hwnd) if x.visible], "the About box stays open")
        s.press_button(box)
        wait_for(lambda: not [x for x in s.windows("hwnd=%x" % box.hwnd) if x.visible], 10, "the About box to close")
        self.assertTrue(k.alive())

    def remove_registry_key(self, key):
        """Deletes a registry key of the session's prefix for this test; it is
        put back afterwards."""
        saved = self.folder("registry") / "saved.reg"
        r = self.s.run(WINE, "reg", "export", key, wine_path(saved), "/y", timeout=30)
        self.assertEqual(r.returncode, 0, "reg export %s: %s" % (key, r.stderr[-300:]))
        self.addCleanup(lambda: self.s.run(WINE, "reg", "import", wine_path(saved), timeout=30))
        r = self.s.run(WINE, "reg", "delete", key, "/f", timeout=30)
        self.assertEqual(r.returncode, 0, "reg delete %s: %s" % (key, r.stderr[-300:]))

    def test_help_shows_the_help_text(self):
        k = Kavorin.start(self)
        k.open_menu()
        k.choose("h")
        k.expect_box(HELP_TEXT, caption="Kavorin Help")
        self.assertTrue(k.alive())

    def test_two_instances_each_give_their_own_repeat_box_one_edit(self):
        """Two Kavorins with a repeat box open in each: every box gets exactly
        one edit field, from its own program."""
        folder = self.folder("two-instances")
        ks = []
        for name in ("one.rec", "two.rec"):
            path = Rec().move(1000, 740).write(folder / name)
            ks.append(Kavorin.start(self, wine_path(path), title=name))
        for k in ks:
            k.open_menu()
            k.choose("r")
            self.s.wait_window(title="Playback Repeats", exe=k.exe)
        boxes = wait_for(lambda: [b for b in self.s.window_texts("Playback Repeats") if b.cls == "#32770"]
                         if len([b for b in self.s.window_texts("Playback Repeats")
                                 if any(c.cls.lower() == "edit" for c in b.children)]) == 2 else None,
                         10, "an edit field in both boxes")
        self.assertEqual(len(boxes), 2)
        self.assertEqual(len({b.pid for b in boxes}), 2, "one box from each program")
        for b in boxes:
            self.assertEqual([c.cls.lower() for c in b.children].count("edit"), 1, "edit fields in one box")
        for b in boxes:
            self.s.press_button(b, "Cancel")
        for k in ks:
            k.close()

if __name__ == "__main__":
    unittest.main()
