"""Start-up of the real Kavorin.exe under Wine: the toolbar window, a recording
named on the command line, and the launch mode a copy with appended bytes
takes (compiled player)."""

import os
import shutil
import struct
import unittest
import xml.etree.ElementTree as ET

from desktop import WS_EX_TOOLWINDOW, WS_EX_TOPMOST
from kavorin import CLASS, INVALID, SIZE_MARKER, TITLE_CREATED, WineTestCase, resource
from recordings import MOVE, pack
from session import ARCH, SCREEN_H, SCREEN_W, kavorin_exe, wait_for, wine_path


def move_record(x=200, y=200, time=1000):
    """One record: a mouse move to (x, y)."""
    return pack(MOVE, x, y, time)


class StartupTests(WineTestCase):
    def setUp(self):
        self.exe = kavorin_exe()
        if not self.exe.exists():
            self.fail("%s is missing: build it with scripts/build.sh" % self.exe)

    def copy_of_kavorin(self, folder, name="Kavorin copy.exe", appended=b""):
        path = folder / name
        shutil.copyfile(self.exe, path)
        with open(path, "ab") as f:
            f.write(appended)
        return path

    def kavorin_windows(self, exe):
        return self.s.windows_of(exe, CLASS)

    def test_toolbar_window_opens_topmost_with_its_client_size_and_closes_with_exit_code_0(self):
        proc = self.start(self.exe)
        win = self.s.wait_window(title=TITLE_CREATED, exe=self.exe, cls=CLASS, timeout=15)
        self.assertEqual(win.client_size, (131, 26))
        self.assertTrue(win.exstyle & WS_EX_TOPMOST, "WS_EX_TOPMOST in 0x%x" % win.exstyle)
        self.assertTrue(win.exstyle & WS_EX_TOOLWINDOW, "WS_EX_TOOLWINDOW in 0x%x" % win.exstyle)
        # Centred horizontally, bottom edge on the screen's middle line.
        width, height = win.size
        self.assertEqual(win.rect[:2], (SCREEN_W // 2 - width // 2, SCREEN_H // 2 - height))

        # The X side: Wine draws a tool window's small caption itself, so its X
        # window is the whole window rectangle, kept above others by the window
        # manager.
        xid = self.s.wait_x_window(TITLE_CREATED)
        self.assertEqual(self.s.x_pid(xid), proc.pid)
        geo = self.s.x_geometry(xid)
        self.assertTrue(geo["viewable"])
        self.assertEqual((geo["x"], geo["y"], geo["width"], geo["height"]), win.rect[:2] + win.size)
        self.assertIn("_NET_WM_STATE_ABOVE", self.s.x_net_wm_state(xid))

        self.s.close_window(win)
        self.assertEqual(proc.wait_exit(), 0)

    def test_recording_named_on_the_command_line_gives_its_name_as_title(self):
        folder = self.folder() / "folder with spaces"
        folder.mkdir()
        rec = folder / "demo.rec"
        rec.write_bytes(move_record())
        proc = self.start(self.exe, wine_path(rec))
        self.s.wait_window(title="demo.rec", exe=self.exe, cls=CLASS, timeout=15)
        self.assertTrue(proc.alive())

    def test_invalid_recording_on_the_command_line_shows_the_warning_with_the_path_as_caption(self):
        rec = self.folder() / "bad.rec"
        rec.write_bytes(move_record() + b"\0")  # 21 bytes: not a whole number of records
        self.start(self.exe, wine_path(rec))
        box = self.s.message_box(wine_path(rec), exe=self.exe, timeout=15)
        self.assertEqual(box.text, INVALID)
        self.assertEqual(box.buttons, ["OK"])

    def test_copy_with_five_appended_bytes_warns_without_a_window_and_exits_0(self):
        copy = self.copy_of_kavorin(self.folder(), appended=b"\0" * 5)
        proc = self.start(copy)
        box = self.s.message_box(wine_path(copy), exe=copy, timeout=15)
        self.assertEqual(box.text, INVALID)
        self.assertEqual([w for w in self.kavorin_windows(copy) if w.visible], [])
        self.assertEqual(self.s.x_windows(TITLE_CREATED, visible_only=True), [])
        self.s.press_key_in(box, "Return")  # OK is the box's only button
        self.assertEqual(proc.wait_exit(), 0)

    def test_copy_with_an_appended_recording_plays_it_hidden_and_exits_0(self):
        copy = self.copy_of_kavorin(self.folder(), appended=move_record(200, 200))
        self.s.mouse_move(10, 10)
        wait_for(lambda: self.s.mouse_position() == (10, 10), 5, "the pointer at (10, 10)")
        proc = self.start(copy)

        def ended_without_showing_a_window():
            shown = [w for w in self.kavorin_windows(copy) if w.visible]
            self.assertEqual(shown, [], "a compiled player shows no window")
            return not proc.alive()

        wait_for(ended_without_showing_a_window, 15, "the compiled player to play and end")
        self.assertEqual(proc.exit_code, 0)
        self.assertEqual(self.s.mouse_position(), (200, 200), "the recorded move was played")

    def test_file_size_equals_the_size_stamped_in_it_and_the_file_is_of_the_build_under_test(self):
        data = self.exe.read_bytes()
        self.assertEqual(data.count(SIZE_MARKER), 1, "one size slot marker %r" % SIZE_MARKER)
        at = data.index(SIZE_MARKER) + len(SIZE_MARKER)
        (stamped,) = struct.unpack_from("<I", data, at)
        self.assertEqual(stamped, os.path.getsize(self.exe))
        (pe,) = struct.unpack_from("<I", data, 0x3C)
        self.assertEqual(data[pe:pe + 4], b"PE\0\0")
        (machine,) = struct.unpack_from("<H", data, pe + 4)
        self.assertEqual(machine, ARCH.machine, "a program of the %s" % ARCH)

    def test_the_manifest_asks_to_run_as_the_user_and_names_windows_7_to_11(self):
        # RT_MANIFEST (24), id 1: what Windows reads when it starts a program.
        text = resource(self.exe, 24, 1)
        self.assertIsNotNone(text, "a manifest resource")
        root = ET.fromstring(text)  # well-formed, or this raises
        v1, v3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
        compat = "{urn:schemas-microsoft-com:compatibility.v1}"
        self.assertEqual(root.tag, v1 + "assembly")
        levels = root.findall("%strustInfo/%ssecurity/%srequestedPrivileges/%srequestedExecutionLevel" % ((v3,) * 4))
        self.assertEqual([l.attrib for l in levels], [{"level": "asInvoker", "uiAccess": "false"}])
        ids = [e.get("Id") for e in root.iter(compat + "supportedOS")]
        self.assertEqual(ids, ["{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
                               "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
                               "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
                               "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"])  # 10 and 11
        # Not DPI-aware: recorded coordinates keep their meaning.
        self.assertNotIn(b"dpiAware", text)


if __name__ == "__main__":
    unittest.main()
