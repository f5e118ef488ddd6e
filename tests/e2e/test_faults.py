"""Faults the real Kavorin.exe meets under Wine: bad recording files are
refused without a crash and leave no recording in memory; a save or compile
that cannot be written says so and loses nothing; a compiled player with
damaged records warns and exits; and after a run ends, is broken off or a
player closes, no key or button is left held."""

import shutil
import time
import unittest

from kavorin import CLASS, INVALID, NOTHING_RECORDED, TITLE_BREAK, TITLE_CREATED, Kavorin, WineTestCase, stub_image_size
from recordings import KEYDOWN, KEYUP, LDOWN, LUP, MOVE, RDOWN, RECORD, RUP, VK_CONTROL, VK_SHIFT, Rec, pack
from witnessing import WITNESS_AT, key_events
from session import holds_for, kavorin_exe, tool_exe, wait_for, wine_path

VK_B = 0x42
BIG = 100 * 1024 * 1024


def good_recording(path):
    """One move to a place away from every window."""
    return Rec().move(1000, 740).write(path)


class FaultTests(WineTestCase):
    # ----- bad files ----------------------------------------------------------

    def refused(self, k, path):
        """The warning for a refused file: the path as caption, one OK."""
        k.expect_box(INVALID, caption=wine_path(path))

    def test_bad_files_opened_are_refused_and_keep_the_recording(self):
        folder = self.folder("b")
        bad = {  # short names: each is typed into the dialog
            "0.rec": b"",
            "1.rec": b"\0",
            "19.rec": pack(MOVE, 5, 5, 10)[:19],
            "21.rec": pack(MOVE, 5, 5, 10) + b"\0",
            "30.rec": pack(MOVE, 5, 5, 10) + pack(MOVE, 6, 6, 20)[:10],
            "up.rec": pack(KEYUP, 0x41, 0, 10) + pack(KEYDOWN, 0x41, 0, 20),  # a key-up first
            "click.rec": pack(LDOWN, 5, 5, 10) + pack(LUP, 5, 5, 20),  # a click first
            "held.rec": pack(MOVE, 5, 5, 10),  # a good recording, but another program holds it open
        }
        for name, data in bad.items():
            (folder / name).write_bytes(data)
        holder = self.start(tool_exe("wintool"), "hold", wine_path(folder / "held.rec"), 300)
        wait_for(lambda: "held" in holder.output() or not holder.alive(), 10, "the file to be held open")
        self.assertIn("held", holder.output())
        good = good_recording(self.folder("bad-good") / "good.rec")

        for name in bad:
            with self.subTest(name):
                # A recording is loaded; the bad file opened through the dialog.
                k = Kavorin.start(self, wine_path(good), title="good.rec")
                k.press("o")
                self.s.choose_file("Open", folder / name)
                self.refused(k, folder / name)
                self.assertEqual(k.title(), "good.rec", "the title stays")
                self.assertTrue(k.alive())
                # The recording loaded before is still there to play.
                k.plays_to((1000, 740), "good.rec")
                k.close()

    def test_bad_paths_on_the_command_line_are_refused_and_leave_no_recording(self):
        base = self.folder("paths")
        (base / "a folder.rec").mkdir()
        # A good recording at a path of 300 characters (Windows form): longer
        # than the 8-bit file functions take, refused with its own warning.
        long_dir = base / "long"
        while len(wine_path(long_dir)) < 300 - 60:
            long_dir = long_dir / ("d" * 50)
        long_dir.mkdir(parents=True)
        name = "r" * (300 - len(wine_path(long_dir)) - 1 - 4) + ".rec"
        long_path = long_dir / name
        self.assertEqual(len(wine_path(long_path)), 300)
        good_recording(long_path)
        for path in (base / "a folder.rec", base / "missing.rec", long_path):
            with self.subTest(path.name[:20]):
                k = Kavorin.start(self, wine_path(path), title=TITLE_CREATED)
                if path == long_path:  # too long for Windows: said so
                    box = k.box()
                    self.assertTrue(box.text.startswith("This path is too long to open"), box.text)
                    k.dismiss(box)
                else:
                    self.refused(k, path)
                # Named on the command line, it would be played now: nothing is.
                k.expect_box(NOTHING_RECORDED)
                self.assertEqual(k.title(), TITLE_CREATED)
                k.close()

    def test_a_100_MB_recording_loads_plays_its_first_events_and_pause_breaks_it_off(self):
        s = self.s
        s.mouse_move(5, 5)
        w = self.start_witness(*WITNESS_AT)
        ox, oy = w.client_origin
        head = (Rec().move(ox + 40, oy + 40).move(ox + 60, oy + 50, 40).button(LDOWN, ox + 60, oy + 50, 40)
                .button(LUP, ox + 60, oy + 50, 40).key(KEYDOWN, VK_B, 100).key(KEYUP, VK_B, 60))
        path = self.folder("big") / "big.rec"
        # Then moves back and forth, one a timer tick, to 100 MB.
        tail = pack(MOVE, ox + 100, oy + 100, head.time + 200) + pack(MOVE, ox + 110, oy + 100, head.time + 210)
        with open(path, "wb") as f:
            f.write(head.data())
            left = BIG - len(head.data())
            block = tail * 4096
            while left >= len(block):
                f.write(block)
                left -= len(block)
            f.write(tail * (left // len(tail)) + tail[:left % len(tail)])
        self.addCleanup(path.unlink)
        self.assertEqual(path.stat().st_size, BIG)
        self.assertEqual(BIG % RECORD, 0)

        k = Kavorin.start(self, wine_path(path), title=TITLE_BREAK, timeout=60)
        wait_for(lambda: len(key_events(w.lines())) >= 2, 20, "the first events played")
        self.assertEqual(key_events(w.lines()), [("WM_KEYDOWN", VK_B), ("WM_KEYUP", VK_B)])
        wait_for(lambda: sum(e["msg"] == "WM_MOUSEMOVE" and int(e["sx"]) in (ox + 100, ox + 110)
                             for e in w.lines()) >= 10, 10, "the moves after them")
        self.assertEqual(k.title(), TITLE_BREAK, "still playing")
        s.key_down("Pause")
        try:
            k.wait_title("big.rec", timeout=10)
        finally:
            s.key_up("Pause")
        count = len(w.of("WM_MOUSEMOVE"))
        holds_for(lambda: len(w.of("WM_MOUSEMOVE")) <= count + 2, 0.5, "no more moves played")
        self.assertEqual(w.held_keys(), [])
        self.assertTrue(k.alive())
        k.close()

    # ----- saves and compiles that cannot be written --------------------------

    def test_saves_that_cannot_be_written_warn_and_change_nothing(self):
        base = self.folder("save-faults")
        taken = base / "taken.rec"  # a folder with the name the save would take
        taken.mkdir()
        (taken / "inside.txt").write_bytes(b"keep me")
        source = Rec().move(1000, 740).move(1004, 742).write(self.folder("save-faults-in") / "source.rec")
        k = Kavorin.start(self, wine_path(source), title="source.rec")
        k.press("Escape")  # tips off: the title keeps the name while the pointer crosses the buttons
        k.wait_title("source.rec")
        for typed, target in ((base / "taken", taken), (base / "missing" / "new", base / "missing" / "new.rec")):
            with self.subTest(target.name):
                k.click_button(1)
                self.s.choose_file("Save As", typed)
                k.expect_box("The recording could not be saved to\n\n%s\n\nNothing there was changed." %
                             wine_path(target))
                self.assertEqual(k.title(), "source.rec")
        self.assertEqual(sorted(p.name for p in base.iterdir()), ["taken.rec"], "nothing new, nothing left behind")
        self.assertTrue(taken.is_dir())
        self.assertEqual([p.name for p in taken.iterdir()], ["inside.txt"])
        self.assertEqual((taken / "inside.txt").read_bytes(), b"keep me")
        # The recording is still there to be saved.
        k.click_button(1)
        self.s.choose_file("Save As", base / "fine")
        k.wait_title("fine.rec")
        self.assertEqual((base / "fine.rec").read_bytes(), source.read_bytes())

    def compile_into(self, k, typed):
        k.click_button(4)
        self.s.choose_file("Save As", typed)

    def test_compile_onto_a_full_file_system_fails_with_the_path_and_leaves_no_half_made_player(self):
        full = self.full_tmpfs(self.folder("compile-full") / "full")
        source = Rec().move(1000, 740).move(1004, 742).write(self.folder("compile-full-in") / "source.rec")
        k = Kavorin.start(self, wine_path(source), title="source.rec")
        k.press("Escape")
        k.wait_title("source.rec")
        self.compile_into(k, full / "player")
        k.expect_box("Compile Failed!\n\n%s" % wine_path(full / "player.exe"))
        self.assertEqual(sorted(p.name for p in full.iterdir()), ["filler"], "no half-made player")
        self.assertEqual(k.title(), "source.rec")
        # Elsewhere the same recording compiles.
        out = self.folder("compile-full-out")
        self.compile_into(k, out / "player")
        box = k.box()
        self.assertTrue(box.text.startswith('Compile Successful: "player.exe"'), box.text)
        k.dismiss(box)
        self.assertEqual((out / "player.exe").stat().st_size, stub_image_size() + 2 * RECORD)

    def test_compile_that_fails_keeps_the_player_that_was_there(self):
        old = b"MZ an old player"
        full = self.full_tmpfs(self.folder("compile-old") / "full", files={"player.exe": old})
        source = Rec().move(1000, 740).move(1004, 742).write(self.folder("compile-old-in") / "source.rec")
        k = Kavorin.start(self, wine_path(source), title="source.rec")
        k.press("Escape")
        k.wait_title("source.rec")
        self.compile_into(k, full / "player.exe")
        confirm = self.s.message_box("Error", exe=k.exe)  # the dialog asks before replacing a file
        self.s.press_button(confirm, "Yes")
        k.expect_box("Compile Failed!\n\n%s" % wine_path(full / "player.exe"))
        self.assertEqual((full / "player.exe").read_bytes(), old, "the old player is still there")
        self.assertEqual(sorted(p.name for p in full.iterdir()), ["filler", "player.exe"], "nothing half-made left")

    def test_compiled_player_with_records_cut_or_extended_by_5_bytes_warns_and_exits_0(self):
        folder = self.folder("damaged")
        data = Rec().move(1000, 740).move(1004, 742).move(1008, 744).data()
        for name, records in (("cut.exe", data[:-5]), ("extended.exe", data + b"\0" * 5)):
            with self.subTest(name):
                player = folder / name
                shutil.copyfile(kavorin_exe(), player)
                with open(player, "ab") as f:
                    f.write(records)
                proc = self.start(player)
                box = self.s.message_box(wine_path(player), exe=player, timeout=20)
                self.assertEqual((box.text, box.buttons), (INVALID, ["OK"]))
                self.assertEqual([x for x in self.s.windows_of(player, CLASS) if x.visible], [],
                                 "a player shows no window")
                self.s.press_key_in(box, "Return")
                self.assertEqual(proc.wait_exit(), 0)

    # ----- nothing stays held -------------------------------------------------

    def held_at_the_end(self, origin, gap_before_release=None):
        """A click into the witness for the focus, then Shift, Ctrl, B and the
        left and right buttons pressed; released only after
        `gap_before_release` ms, or never (None). No move comes after the
        presses: under Wine a pointer that crosses into another X window
        makes Wine take the keyboard state from X again, and X knows nothing
        of keys that were only played."""
        ox, oy = origin
        rec = (Rec().move(ox + 50, oy + 50).button(LDOWN, ox + 50, oy + 50, 40).button(LUP, ox + 50, oy + 50, 60)
               .key(KEYDOWN, VK_SHIFT, 600).key(KEYDOWN, VK_CONTROL, 60).key(KEYDOWN, VK_B, 60)
               .button(LDOWN, ox + 50, oy + 50, 60).button(RDOWN, ox + 50, oy + 50, 40))
        if gap_before_release is not None:
            (rec.button(RUP, ox + 50, oy + 50, gap_before_release).button(LUP, ox + 50, oy + 50, 40)
             .key(KEYUP, VK_B, 40).key(KEYUP, VK_CONTROL, 40).key(KEYUP, VK_SHIFT, 40))
        return rec

    def assert_nothing_held(self, w, what):
        """The witness's sweep finds no key or button down (asked again for a
        moment: the release may still be on its way)."""
        held = None
        deadline = time.monotonic() + 3
        while held != [] and time.monotonic() < deadline:
            held = w.held_keys()
        self.assertEqual(held, [], "%s: virtual keys read as held" % what)

    def wait_pressed(self, w, mark):
        """Until the witness has had Shift, Ctrl, B and the right button
        pressed since `mark`."""
        wait_for(lambda: [v for m, v in key_events(w.lines()[mark:]) if m == "WM_KEYDOWN"][:3] ==
                 [VK_SHIFT, VK_CONTROL, VK_B], 15, "Shift, Ctrl and B pressed in the witness")
        wait_for(lambda: [e for e in w.lines()[mark:] if e["msg"] == "WM_RBUTTONDOWN"], 10, "the right button pressed")

    def test_nothing_stays_held_after_a_run_ends_after_pause_and_after_a_player_closes(self):
        s = self.s
        s.mouse_move(5, 5)
        w = self.start_witness(*WITNESS_AT)
        folder = self.folder("held")

        # A run that ends with keys and buttons down.
        ends_down = self.held_at_the_end(w.client_origin).write(folder / "ends down.rec")
        mark = len(w.lines())
        k = Kavorin.start(self, wine_path(ends_down), title="ends down.rec")
        self.wait_pressed(w, mark)
        k.wait_title("ends down.rec")
        self.assert_nothing_held(w, "after the run ended")
        k.close()

        # Broken off with Pause while they are down. (The player looks at
        # Pause before each record: the break comes when the next record is
        # due.)
        long_hold = self.held_at_the_end(w.client_origin, gap_before_release=3000).write(folder / "long hold.rec")
        mark = len(w.lines())
        k = Kavorin.start(self, wine_path(long_hold), title=TITLE_BREAK)
        self.wait_pressed(w, mark)
        held = w.held_keys()
        self.assertTrue({VK_SHIFT, VK_CONTROL, VK_B, 1, 2} <= set(held), "held before the break: %s" % held)
        s.key_down("Pause")
        try:
            held = w.held_keys()
            if k.title() == TITLE_BREAK:  # the sweep came before the break
                self.assertTrue({VK_SHIFT, VK_CONTROL, 1, 2} <= set(held), "held with Pause down: %s" % held)
            k.wait_title("long hold.rec", timeout=10)
        finally:
            s.key_up("Pause")
        self.assert_nothing_held(w, "after Pause")
        k.close()

        # A compiled player with the first recording, after it closed.
        player = folder / "player.exe"
        shutil.copyfile(kavorin_exe(), player)
        with open(player, "ab") as f:
            f.write(ends_down.read_bytes())
        mark = len(w.lines())
        proc = self.start(player)
        self.wait_pressed(w, mark)
        self.assertEqual(proc.wait_exit(20), 0)
        self.assert_nothing_held(w, "after the player closed")


if __name__ == "__main__":
    unittest.main()
