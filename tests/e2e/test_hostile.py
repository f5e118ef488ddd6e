"""Hostile paths and arguments given to the real Kavorin.exe under Wine: each
gets a clear message or a sound result, never a crash, a hang or a write
outside the named target. (A folder, a missing file and a full disk are in
test_faults.py and test_files.py.)"""

import os
import stat

from kavorin import CAPTION, INVALID, NOTHING_RECORDED, TITLE_BREAK, TITLE_CREATED, Kavorin, WineTestCase
from recordings import Rec
from session import tool_exe, wait_for, wine_path

TOO_LONG = "This path is too long to open: Windows takes at most 259 characters.\n\n"
SAVE_FAILED = "The recording could not be saved to\n\n%s\n\nNothing there was changed."


def good_recording(path):
    """One move to a place away from every window."""
    return Rec().move(1000, 740).write(path)


def path_of_length(base, length, tail=".rec"):
    """A path (Linux) under `base` whose Windows form has exactly `length`
    characters."""
    d = base
    while len(wine_path(d)) < length - 60:
        d = d / ("d" * 40)
    d.mkdir(parents=True, exist_ok=True)
    p = d / ("n" * (length - len(wine_path(d)) - 1 - len(tail)) + tail)
    assert len(wine_path(p)) == length, len(wine_path(p))
    return p


class HostileTests(WineTestCase):
    def refused(self, args, caption, text=INVALID):
        """Started with these arguments: the warning, then (nothing was
        loaded) the posted Play's nothing-recorded box; exit code 0."""
        k = Kavorin.start(self, *args, title=TITLE_CREATED)
        k.expect_box(text, caption=caption)
        k.expect_box(NOTHING_RECORDED)
        self.assertEqual(k.title(), TITLE_CREATED)
        k.close()

    def played(self, args, title):
        """Started with these arguments: the recording loads and plays (the
        title while playing, then its name); exit code 0."""
        k = Kavorin.start(self, *args, title=None)
        wait_for(lambda: k.title() in (TITLE_BREAK, title), 20, "the recording to load")
        k.wait_title(title)
        k.close()

    def test_device_names_are_refused(self):
        for name in ("NUL", "CON", "COM1"):
            with self.subTest(name):
                self.refused([name], name)

    def test_paths_of_259_260_and_300_characters(self):
        base = self.folder("lengths")
        p259 = good_recording(path_of_length(base / "a", 259))
        self.played([wine_path(p259)], p259.name[:30])
        for length in (260, 300):
            with self.subTest(length):
                p = good_recording(path_of_length(base / ("b%d" % length), length))
                k = Kavorin.start(self, wine_path(p), title=TITLE_CREATED)
                box = k.box()
                self.assertTrue(box.text.startswith(TOO_LONG + wine_path(p)[:40]), box.text)
                k.dismiss(box)
                k.expect_box(NOTHING_RECORDED)
                k.close()

    def test_a_command_line_of_32000_characters_is_refused_as_too_long(self):
        k = Kavorin.start(self, "C:\\" + "a" * 31990, title=TITLE_CREATED)
        box = k.box()
        self.assertTrue(box.text.startswith(TOO_LONG + "C:\\aaaa"), box.text)
        self.assertLess(len(box.text), 200)
        k.dismiss(box)
        k.expect_box(NOTHING_RECORDED)
        k.close()

    def test_trailing_dot_or_space_names_the_file_without_them(self):
        """As Windows does, the file functions drop a trailing dot or space:
        the file is found and played; the title shows the name as given."""
        good = good_recording(self.folder("trail") / "good.rec")
        for tail in (".", " "):
            with self.subTest(repr(tail)):
                self.played([wine_path(good) + tail], "good.rec" + tail)

    def test_a_long_path_prefix_and_a_name_outside_ascii_load(self):
        folder = self.folder("names")
        good = good_recording(folder / "good.rec")
        self.played(["\\\\?\\" + wine_path(good)], "good.rec")
        accented = good_recording(folder / "café.rec")  # é is in the system code page
        self.played([wine_path(accented)], "café.rec")

    def test_two_file_names_on_one_command_line_name_no_file(self):
        """The argument is the rest of the line (so a path with blanks needs no
        quotes): two names are one name that does not exist, refused."""
        folder = self.folder("two")
        a, b = good_recording(folder / "a.rec"), good_recording(folder / "b.rec")
        self.refused([wine_path(a), wine_path(b)], "%s %s" % (wine_path(a), wine_path(b)))

    def save_onto(self, k, target):
        """Save through the dialog onto an existing file, Yes to its question."""
        k.click_button(1)
        self.s.choose_file("Save As", target)
        confirm = self.s.message_box("Error", exe=k.exe)
        self.s.press_button(confirm, "Yes")

    def test_saves_onto_a_read_only_and_onto_a_held_recording_change_nothing(self):
        folder = self.folder("locked")
        source = Rec().move(1000, 740).move(1004, 742).write(self.folder("locked-in") / "source.rec")
        old = good_recording(folder / "old.rec").read_bytes()
        ro = folder / "read only.rec"
        ro.write_bytes(old)
        os.chmod(ro, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
        self.addCleanup(os.chmod, ro, 0o644)
        held = folder / "held.rec"
        held.write_bytes(old)
        holder = self.start(tool_exe("wintool"), "hold", wine_path(held), 300)
        wait_for(lambda: "held" in holder.output() or not holder.alive(), 10, "the file to be held open")
        k = Kavorin.start(self, wine_path(source), title="source.rec")
        k.press("Escape")  # tips off: the title keeps the name
        k.wait_title("source.rec")
        for target in (ro, held):
            with self.subTest(target.name):
                self.save_onto(k, target)
                k.expect_box(SAVE_FAILED % wine_path(target))
                self.assertEqual(target.read_bytes(), old)
                self.assertEqual(k.title(), "source.rec")
        self.assertEqual(sorted(p.name for p in folder.iterdir()), ["held.rec", "old.rec", "read only.rec"])
        k.close()
        # The recording loads from the read-only file.
        self.played([wine_path(ro)], "read only.rec")
