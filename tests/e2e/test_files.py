"""Open, Save and Compile of the real Kavorin.exe under Wine, through the
file dialogs as a user works them: a recording made in the witness is saved
into a folder with blanks in its name, opened again by a new process and
played into the witness, and compiled into a player that plays it hidden. A
save that cannot be written leaves the old file, the name and the title
alone; a bad file opened, also during a recording, leaves the recording as it
was."""

import os
import time
import unittest

from desktop import KEY_HOLD, SETTLE
from kavorin import CLASS, INVALID, TITLE_BREAK, TITLE_IDLE, Kavorin, WineTestCase, stub_image_size
from recordings import KEYDOWN, KEYUP, LDOWN, LUP, MOVE, RECORD, VK_PAUSE, Rec, pack, records_of
from witnessing import (KEY_MESSAGES, WITNESS_AT, button_events, expected_buttons, expected_keys, expected_moves,
                        follow_moves, key_events, quiet_log)
from session import holds_for, kavorin_exe, wait_for, wine_path



class FileTests(WineTestCase):
    def wait_played(self, witness, mark, records, timeout=20.0):
        """Waits until the witness has had the recording's keys and clicks
        since `mark`, then for a moment in which nothing more arrives; its log."""
        keys, buttons = len(expected_keys(records)), len(expected_buttons(records))

        def done():
            entries = witness.lines()[mark:]
            return len(key_events(entries)) >= keys and len(button_events(entries)) >= buttons

        wait_for(done, timeout, "the recording to be played into the witness")
        return quiet_log(witness)[mark:]

    def assert_played(self, entries, records, witness, what):
        self.assertEqual(key_events(entries), expected_keys(records), "%s: the keys, in order" % what)
        self.assertEqual(button_events(entries), expected_buttons(records), "%s: the clicks and where" % what)
        self.assert_moves(entries, expected_moves(records, witness), what)

    def assert_moves(self, entries, points, what):
        """The witness saw the pointer reach every point, in order, and
        nowhere else."""
        hit, stray = follow_moves(entries, points)
        self.assertEqual(stray, [], "%s: moves to places not recorded (or out of order)" % what)
        self.assertEqual(hit, list(range(len(points))), "%s: the recorded moves reached" % what)

    def test_save_open_play_and_compile_a_recording_through_the_dialogs(self):
        s = self.s
        s.mouse_move(5, 5)
        w = self.start_witness(*WITNESS_AT)
        ox, oy = w.client_origin
        folder = self.folder("rt") / "my takes"
        folder.mkdir()

        # A recording made by a user: a click gives the witness the focus,
        # then keys with Shift, moves, a right click.
        k = Kavorin.start(self)
        k.click_button(2)
        k.wait_title(TITLE_BREAK)
        mark = len(w.lines())
        time.sleep(0.3)  # at playback F5's release reaches the toolbar before the witness has the focus
        self.s.user_moves((ox + 20, oy + 30), (ox + 61, oy + 47))
        s.activate(w.xid)
        s.xdo("mousedown", 1)
        time.sleep(KEY_HOLD)
        s.xdo("mouseup", 1)
        time.sleep(SETTLE)
        self.s.user_holds("k")
        s.key_down("shift")
        time.sleep(SETTLE)
        self.s.user_holds("v")
        s.key_up("shift")
        time.sleep(SETTLE)
        self.s.user_moves((ox + 150, oy + 100), (ox + 183, oy + 141), (ox + 232, oy + 170))
        s.xdo("mousedown", 3)
        time.sleep(KEY_HOLD)
        s.xdo("mouseup", 3)
        time.sleep(SETTLE)
        self.s.user_holds("2")
        self.s.user_moves((ox + 301, oy + 240))
        s.key("Pause")
        k.wait_title(TITLE_IDLE)
        recorded = [e for e in w.lines()[mark:] if not (e["msg"] in KEY_MESSAGES and e["vk"] == str(VK_PAUSE))]
        self.assertEqual(key_events(recorded), [("WM_KEYDOWN", 75), ("WM_KEYUP", 75), ("WM_KEYDOWN", 16),
                                                ("WM_KEYDOWN", 86), ("WM_KEYUP", 86), ("WM_KEYUP", 16),
                                                ("WM_KEYDOWN", 50), ("WM_KEYUP", 50)],
                         "what the user's keys gave the witness (a check of the test's own input)")

        # Save, typed into the dialog without the extension: the file is the
        # recording, the title its name.
        k.click_button(1)
        s.choose_file("Save As", folder / "first take")
        saved = folder / "first take.rec"
        k.wait_title("first take.rec")
        data = saved.read_bytes()
        records = records_of(data)
        self.assertEqual(len(data) % RECORD, 0, "%d bytes: whole records" % len(data))
        self.assertGreater(len(records), 10)
        self.assertIn(records[0][0], (KEYDOWN, MOVE), "the first record is a key-down or a move")
        self.assertEqual([f.name for f in folder.iterdir()], ["first take.rec"], "nothing else left there")
        # It holds what the user did in the witness.
        self.assertEqual(expected_keys(records), key_events(recorded))
        self.assertEqual(expected_buttons(records), button_events(recorded))
        self.assert_moves(recorded, expected_moves(records, w), "the recording")
        k.close()

        # A new process opens it through the dialog and plays it with F5.
        k = Kavorin.start(self)
        k.press("o")
        s.choose_file("Open", saved)
        k.wait_title("first take.rec")
        mark = len(w.lines())
        k.press("F5")
        entries = self.wait_played(w, mark, records)
        k.wait_title("first take.rec")
        self.assert_played(entries, records, w, "played from the opened file")
        self.assertEqual(w.held_keys(), [], "nothing left held")

        # Compile through the dialog: the program with the records behind it.
        k.click_button(4)
        s.choose_file("Save As", folder / "player")
        player = folder / "player.exe"
        box = k.box()
        stub = stub_image_size()
        self.assertEqual(stub, os.path.getsize(kavorin_exe()))
        size = os.path.getsize(player)
        self.assertEqual(size, stub + len(data))
        self.assertEqual(box.text, 'Compile Successful: "player.exe"\n\nFile Size:  %dk' % (size // 1024))
        self.assertEqual(box.buttons, ["OK"])
        self.assertEqual(player.read_bytes()[stub:], data, "the records behind the program are the saved file")
        self.assertEqual(player.read_bytes()[:stub], kavorin_exe().read_bytes())
        k.dismiss(box)
        self.assertEqual(k.title(), "first take.rec", "the title stays")
        k.close()

        # The player plays it hidden into the witness and exits with code 0.
        mark = len(w.lines())
        proc = self.start(player)

        def ended_unseen():
            shown = [x for x in s.windows_of(player, CLASS) if x.visible]
            self.assertEqual(shown, [], "a compiled player shows no window")
            return not proc.alive()

        wait_for(ended_unseen, 30, "the player to play and exit")
        self.assertEqual(proc.exit_code, 0)
        entries = self.wait_played(w, mark, records, timeout=5)
        self.assert_played(entries, records, w, "played by the compiled player")
        self.assertEqual(w.held_keys(), [], "nothing left held")

    def test_save_that_cannot_be_written_warns_and_leaves_the_old_file_name_and_title(self):
        """...and a user's own file named like the target plus ".tmp" survives
        the failed save and a good one, byte for byte."""
        old = pack(KEYDOWN, 0x41, 0, 5) + pack(KEYUP, 0x41, 0, 9)
        users = b"the user's own .tmp file"
        full = self.full_tmpfs(self.folder("fs") / "full", files={"old.rec": old, "old.rec.tmp": users})
        source = Rec().move(1000, 740).move(1003, 741).write(self.folder("fs-in") / "kept name.rec")
        k = Kavorin.start(self, wine_path(source), title="kept name.rec")
        k.press("Escape")  # tips off: the title keeps the name while the pointer crosses the buttons
        k.click_button(1)
        self.s.choose_file("Save As", full / "old.rec")
        # The dialog asks before replacing a file (Wine's box is captioned "Error").
        confirm = self.s.message_box("Error", exe=k.exe)
        self.assertIn("already exists", confirm.text)
        self.s.press_button(confirm, "Yes")
        k.expect_box("The recording could not be saved to\n\n%s\n\nNothing there was changed." %
                     wine_path(full / "old.rec"))
        self.assertEqual((full / "old.rec").read_bytes(), old, "the old file is untouched")
        self.assertEqual((full / "old.rec.tmp").read_bytes(), users, "the user's .tmp file is untouched")
        self.assertEqual(sorted(f.name for f in full.iterdir()), ["filler", "old.rec", "old.rec.tmp"],
                         "no half-written file")
        self.assertEqual(k.title(), "kept name.rec")
        # Still the recording it had: Save elsewhere writes it.
        k.click_button(1)
        elsewhere = self.folder("fs-out")
        (elsewhere / "elsewhere.rec.tmp").write_bytes(users)
        self.s.choose_file("Save As", elsewhere / "elsewhere")
        k.wait_title("elsewhere.rec")
        self.assertEqual((elsewhere / "elsewhere.rec").read_bytes(), source.read_bytes())
        self.assertEqual((elsewhere / "elsewhere.rec.tmp").read_bytes(), users, "the user's .tmp file is untouched")
        self.assertEqual(sorted(f.name for f in elsewhere.iterdir()), ["elsewhere.rec", "elsewhere.rec.tmp"])
        self.assertTrue(k.alive())

    def test_a_recording_opened_and_saved_again_is_the_same_bytes(self):
        """Records are 20 bytes in every build: what one build saves, the other
        opens and saves again unchanged, fields a player ignores included."""
        data = b"".join([pack(KEYDOWN, 0x41 + 256 * 0x1E, 0x1E, 4000000, 0x10086),
                         pack(MOVE, 1023, 767, 4000010, 0xFFFFFFF0), pack(0x7777, 1, 2, 4000020, 3),
                         pack(LDOWN, 0, 0, 4000030), pack(LUP, 0, 0, 4000040),
                         pack(KEYUP, 0x41 + 256 * 0x1E, 0x1E, 4000050, 0x10086)])
        source = self.folder("same") / "made elsewhere.rec"
        source.write_bytes(data)
        # Opened through the dialog, which loads without playing.
        k = Kavorin.start(self)
        k.press("o")
        self.s.choose_file("Open", source)
        k.wait_title("made elsewhere.rec")
        k.click_button(1)
        out = self.folder("same-out")
        self.s.choose_file("Save As", out / "saved again")
        k.wait_title("saved again.rec")
        self.assertEqual((out / "saved again.rec").read_bytes(), data)
        k.close()

    def test_bad_file_opened_warns_and_keeps_the_recording(self):
        good = Rec().move(1000, 740).write(self.folder("bo") / "good.rec")
        bad = self.folder("bo-bad") / "odd length.rec"
        bad.write_bytes(pack(MOVE, 10, 10, 100) + b"\0")  # 21 bytes
        k = Kavorin.start(self, wine_path(good), title="good.rec")
        k.press("Escape")  # tips off: the title keeps the name while the pointer crosses the buttons
        k.click_button(0)
        self.s.choose_file("Open", bad)
        k.expect_box(INVALID, caption=wine_path(bad))
        self.assertEqual(k.title(), "good.rec", "the title stays")
        k.plays_to((1000, 740), "good.rec")
        k.close()

    def test_open_during_a_recording_keeps_it_when_refused_and_ends_it_when_accepted(self):
        """Refused, the recording runs on with everything it had; accepted, it
        stops first and the file becomes the recording, byte for byte."""
        s = self.s
        files = self.folder("dr")
        bad = files / "bad.rec"
        bad.write_bytes(b"\1\2\3")
        good = Rec().move(1000, 740).move(1002, 741).write(files / "good.rec")
        out = self.folder("dr-out")
        s.mouse_move(5, 5)
        w = self.start_witness(*WITNESS_AT)  # Wine follows the pointer over its own windows
        ox, oy = w.client_origin
        before = [(ox + 20, oy + 30), (ox + 60, oy + 50), (ox + 100, oy + 80)]
        after = [(ox + 150, oy + 100), (ox + 200, oy + 140)]
        k = Kavorin.start(self)
        k.click_button(2)
        k.wait_title(TITLE_BREAK)
        s.user_moves(*before)
        k.press("o")
        s.choose_file("Open", bad)
        k.expect_box(INVALID, caption=wine_path(bad))
        self.assertEqual(k.title(), TITLE_BREAK, "still recording")
        k.focus()  # X gives the focus back to none of our windows after the dialog
        s.user_moves(*after)
        k.press("Pause")
        k.wait_title(TITLE_IDLE)
        k.click_button(1)
        s.choose_file("Save As", out / "kept")
        k.wait_title("kept.rec")
        moves = [(r[1], r[2]) for r in records_of((out / "kept.rec").read_bytes()) if r[0] == MOVE]
        reached = [p for p in before + after if p in moves]
        self.assertEqual(reached, before + after, "the moves before the refused Open and after it")
        self.assertEqual(sorted(moves.index(p) for p in reached), [moves.index(p) for p in reached], "in order")

        k.click_button(2)
        k.wait_title(TITLE_BREAK)
        s.user_moves(*before)
        k.press("o")
        s.choose_file("Open", good)
        k.wait_title("good.rec")
        s.user_moves(*after)
        holds_for(lambda: k.title() == "good.rec", 0.3, "no recording running")
        k.click_button(1)
        s.choose_file("Save As", out / "same")
        k.wait_title("same.rec")
        self.assertEqual((out / "same.rec").read_bytes(), good.read_bytes())
        k.close()


if __name__ == "__main__":
    unittest.main()
