"""kvrec.exe with the real Kavorin.exe under Wine: a recording written as
text and built by kvrec plays exactly the events written, from a file and as
a player kvrec compiled; kvrec extract gives back, byte for byte, the
recording that Kavorin's own Compile button put into a player; the standard
streams carry bytes as they are; and kvrec judges programs and outputs on
Windows as Kavorin does."""

import os
import shutil
import unittest

from kavorin import Kavorin, WineTestCase
from witnessing import WITNESS_AT, button_events, exact_schedule, key_events
from session import WIN_BUILD, kavorin_exe, wait_for, wine_path


def kvrec_exe():
    return WIN_BUILD / "kvrec.exe"


def witness_text(origin):
    """A recording as a person writes it: a click that gives the witness the
    focus, Shift+A, two extended keys, a right click. Returns the text and the
    key and button messages the witness must see for it."""
    ox, oy = origin
    text = f"""# written by hand for the witness at {ox},{oy}
0    move {ox + 30} {oy + 40}
50   move {ox + 60} {oy + 50}
40   left down {ox + 60} {oy + 50}
60   left up {ox + 60} {oy + 50}
200  down Shift
100  down a
60   up A
30   up shift
150  down Delete
60   up Delete
20   down Right
50   up Right
100  move {ox + 200} {oy + 150}
50   right down {ox + 200} {oy + 150}
60   right up {ox + 200} {oy + 150}
"""
    keys = [("WM_KEYDOWN", 16, 0), ("WM_KEYDOWN", 65, 0), ("WM_KEYUP", 65, 0), ("WM_KEYUP", 16, 0),
            ("WM_KEYDOWN", 46, 1), ("WM_KEYUP", 46, 1), ("WM_KEYDOWN", 39, 1), ("WM_KEYUP", 39, 1)]
    buttons = [("WM_LBUTTONDOWN", 60, 50), ("WM_LBUTTONUP", 60, 50), ("WM_RBUTTONDOWN", 200, 150),
               ("WM_RBUTTONUP", 200, 150)]
    return text, keys, buttons


class KvrecTests(WineTestCase):
    def setUp(self):
        for exe in (kavorin_exe(), kvrec_exe()):
            if not exe.exists():
                self.fail("%s is missing: build it with scripts/build.sh win" % exe)

    def kvrec(self, *args):
        """Runs kvrec.exe under Wine with these arguments (paths as Windows names)."""
        args = [wine_path(a) if hasattr(a, "parent") else a for a in args]
        rc, out = self.s.run_exe(kvrec_exe(), *args)
        self.assertEqual(rc, 0, "kvrec %s" % " ".join(map(str, args)))
        return out

    def played(self, witness):
        entries = witness.lines()
        return key_events(entries, extended=True), button_events(entries, client=True)

    def built(self, witness, folder):
        text, keys, buttons = witness_text(witness.client_origin)
        (folder / "hand.txt").write_text(text)
        self.kvrec("build", folder / "hand.txt", "-o", folder / "hand.rec")
        return folder / "hand.rec", keys, buttons

    def test_a_recording_written_as_text_plays_exactly_the_events_written(self):
        self.s.mouse_move(5, 5)
        w = self.start_witness(*WITNESS_AT)
        rec, keys, buttons = self.built(w, self.folder())
        k = Kavorin.start(self, wine_path(rec), title=None)
        k.wait_title("hand.rec", 30)  # the run is over when the title is the file's name again
        wait_for(lambda: len(self.played(w)[0]) >= len(keys), 5, "the keys to reach the witness")
        self.assertEqual(self.played(w), (keys, buttons), "the keys and clicks written, and nothing else")

    def test_a_player_made_by_kvrec_compile_plays(self):
        self.s.mouse_move(5, 5)
        w = self.start_witness(*WITNESS_AT)
        folder = self.folder()
        rec, keys, buttons = self.built(w, folder)
        player = folder / "hand.exe"
        self.kvrec("compile", rec, "--with", kavorin_exe(), "-o", player)
        self.assertEqual(player.read_bytes(), kavorin_exe().read_bytes() + rec.read_bytes())
        proc = self.start(player)
        wait_for(lambda: not proc.alive(), 30, "the player to play and exit")
        self.assertEqual(proc.exit_code, 0)
        wait_for(lambda: len(self.played(w)[0]) >= len(keys), 5, "the keys to reach the witness")
        self.assertEqual(self.played(w), (keys, buttons), "the keys and clicks written, and nothing else")

    def test_extract_gives_back_the_recording_kavorin_compiled_into_a_player(self):
        folder = self.folder()
        take = folder / "take.rec"
        # Moves only, in a corner: playing it at start-up does no harm.
        self.kvrec_text_to(take, "0 move 700 60\n30 move 720 70 window=0x1234\n30 move 740 80\n")
        k = Kavorin.start(self, wine_path(take), title="take.rec")
        k.click_button(4)
        self.s.choose_file("Save As", folder / "player")
        box = k.box()
        self.assertTrue(box.text.startswith('Compile Successful: "player.exe"'), box.text)
        k.dismiss(box)
        back = folder / "back.rec"
        self.kvrec("extract", folder / "player.exe", "-o", back)
        self.assertEqual(back.read_bytes(), take.read_bytes())
        info = self.kvrec("info", folder / "player.exe")
        self.assertIn("kind: compiled player\n", info)
        self.assertIn("stamped size: %d bytes\n" % kavorin_exe().stat().st_size, info)

    def test_a_recording_taken_as_it_happens_reads_as_text_and_builds_back(self):
        """Kavorin records real input (the wheel both ways and sideways, the X
        buttons, keys with their own scan code and extended bit); its dump
        names each of them and builds back to the very same bytes."""
        k, _, _, _ = self.record_schedule(exact_schedule)
        folder = self.folder()
        k.click_button(1)
        self.s.choose_file("Save As", folder / "take")
        k.wait_title("take.rec")
        take = folder / "take.rec"
        self.kvrec("dump", take, "-o", folder / "take.txt")
        text = (folder / "take.txt").read_text()
        for words in (" wheel 120 ", " wheel -120 ", " hwheel 120 ", " hwheel -120 ", " x1 down ", " x1 up ",
                      " x2 down ", " x2 up ", " ext exact\n", " Enter exact\n", " A exact\n",
                      "\n0     pixels physical\n"):
            self.assertIn(words, text)
        self.assertNotIn(" msg ", text)
        self.kvrec("build", folder / "take.txt", "-o", folder / "back.rec")
        self.assertEqual((folder / "back.rec").read_bytes(), take.read_bytes())
        info = self.kvrec("info", take)
        self.assertRegex(info, r"\d+ wheel, \d+ horizontal wheel, 2 x button down, 2 x button up")
        self.assertIn("positions: physical pixels (marked by its second event)\n", info)

    def test_the_standard_streams_carry_bytes_as_they_are(self):
        folder = self.folder()
        text = folder / "crlf.txt"
        # CRLF lines, and a Ctrl+Z in a comment, which a text-mode reading would take for the end.
        text.write_bytes(b"# written on Windows \x1a and saved\r\n0 move 10 20\r\n30 down A\r\n"
                         b"40 up A\r\n25 wheel -120 10 20\r\n")
        self.kvrec("build", text, "-o", folder / "file.rec")
        rc, out, err = self.s.run_console(kvrec_exe(), "build", "-", "-o", wine_path(folder / "in.rec"),
                                          stdin=text)
        self.assertEqual((rc, err), (0, b""))
        self.assertEqual((folder / "in.rec").read_bytes(), (folder / "file.rec").read_bytes())
        self.assertEqual(len((folder / "in.rec").read_bytes()), 4 * 20)
        rc, out, err = self.s.run_console(kvrec_exe(), "build", "-", "-o", "-", stdin=text)
        self.assertEqual((rc, out), (0, (folder / "file.rec").read_bytes()))
        # The dump on the standard output is the dump in a file: LF line ends, byte for byte.
        self.kvrec("dump", folder / "file.rec", "-o", folder / "dump.txt")
        rc, out, err = self.s.run_console(kvrec_exe(), "dump", wine_path(folder / "file.rec"))
        self.assertEqual(rc, 0, err)
        self.assertEqual(out, (folder / "dump.txt").read_bytes())
        self.assertNotIn(b"\r", out)
        self.assertIn(b"\n25    wheel -120 10 20\n", out)
        # A device takes the bytes where it is; a folder is refused.
        self.kvrec("dump", folder / "file.rec", "-o", "NUL")
        (folder / "sub").mkdir()
        rc, out, err = self.s.run_console(kvrec_exe(), "dump", wine_path(folder / "file.rec"), "-o",
                                          wine_path(folder / "sub"))
        self.assertEqual(rc, 1)
        self.assertIn(b"sub: cannot be written: it is a folder", err)
        self.assertEqual(sorted(os.listdir(folder)), ["crlf.txt", "dump.txt", "file.rec", "in.rec", "sub"])

    def test_programs_and_outputs_are_judged_as_kavorin_judges_them(self):
        folder = self.folder()
        kavorin = folder / "Kavorin.exe"
        shutil.copyfile(kavorin_exe(), kavorin)
        rec = folder / "a.rec"
        self.kvrec_text_to(rec, "0 move 700 60\n30 move 720 70\n")

        def refused(*args):
            rc, out, err = self.s.run_console(kvrec_exe(), *[wine_path(a) if hasattr(a, "parent") else a
                                                             for a in args])
            self.assertEqual((rc, out), (1, b""), err)
            return err.decode("latin-1")

        # kvrec.exe's own code does not carry Kavorin's size stamp: it is no Kavorin program.
        self.assertIn("kvrec.exe: not a Kavorin program or player: Not a valid recording",
                      refused("info", kvrec_exe()))
        self.assertIn("Kavorin.exe: a Kavorin program with no recording behind it: Not a valid recording",
                      refused("extract", kavorin, "-o", folder / "x.rec"))
        info = self.kvrec("info", kavorin)
        self.assertIn("kind: Kavorin program, no recording appended\n", info)
        self.assertRegex(info, r"\nexecution level: (asInvoker|none requested \(no manifest\))\n")
        # The same file by the system's file index, under another name too: never turned into a player.
        os.link(kavorin, folder / "same.exe")
        for out in (kavorin, folder / "same.exe"):
            self.assertIn("compile would replace it with a player",
                          refused("compile", rec, "--with", kavorin, "-o", out))
        self.assertEqual(kavorin.read_bytes(), kavorin_exe().read_bytes())
        # A read-only file is refused, as Kavorin refuses to save over one.
        os.chmod(rec, 0o444)
        self.assertIn("a.rec: cannot be written: it is read-only",
                      refused("retime", rec, "--speed", "2", "-o", rec))
        self.assertEqual(set(os.listdir(folder)), {"Kavorin.exe", "same.exe", "a.rec", "a.txt"})

    def kvrec_text_to(self, rec, text):
        source = rec.with_suffix(".txt")
        source.write_text(text)
        self.kvrec("build", source, "-o", rec)


if __name__ == "__main__":
    unittest.main()
