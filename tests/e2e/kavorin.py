"""The e2e driver for Kavorin, on top of the desktop (desktop.py):

- the program's own titles, captions and texts, in one place;
- a program's resources and stamped size, read from its file;
- `Kavorin`: one running Kavorin.exe and its toolbar window (its buttons, its
  title, keys, its message boxes, its Options menu, its buttons on the screen
  checked against the strip);
- `WineTestCase`, the base class of every e2e test.

Hand-made recordings are in recordings.py, the witness and what it should see
in witnessing.py.

Standard library only.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

from desktop import Desktop, parse_bmp
from session import REPO, WaitTimeout, kavorin_exe, shared, tool_exe, wait_for, wine_path
from witnessing import WITNESS_AT, Witness, near

# ----- the program's words --------------------------------------------------------

TITLE_CREATED = "Kavorin v1.22"  # the title it opens with
TITLE_IDLE = "Kavorin"  # idle, no file named
TITLE_BREAK = "{Break} to end"  # while recording or playing
CLASS = "KavorinClass"
CAPTION = "Kavorin"  # of its message boxes
INVALID = "Not a valid recording"
NOTHING_RECORDED = "Nothing Recorded\n\nPress the blue button to start a new recording"
SIZE_MARKER = b"KvSz"  # the program file's size slot: the stub image size follows it


def resource(exe, kind, ident):
    """The bytes of a program's resource of type `kind` and numeric id `ident`
    (its first language), or None: the resource directory read from the PE
    file as Windows' loader reads it."""
    data = Path(exe).read_bytes()
    (pe,) = struct.unpack_from("<I", data, 0x3C)
    (count,) = struct.unpack_from("<H", data, pe + 6)
    (opt_size,) = struct.unpack_from("<H", data, pe + 20)
    opt = pe + 24
    dirs = opt + (96 if struct.unpack_from("<H", data, opt)[0] == 0x10B else 112)
    rva, size = struct.unpack_from("<II", data, dirs + 2 * 8)  # the resource directory
    if not size:
        return None
    sections = [struct.unpack_from("<IIII", data, opt + opt_size + 40 * i + 8) for i in range(count)]

    def at(addr):  # a file offset for an RVA
        for vsize, vaddr, raw_size, raw in sections:
            if vaddr <= addr < vaddr + max(vsize, raw_size):
                return raw + addr - vaddr
        raise ValueError("RVA 0x%x is in no section" % addr)

    root = at(rva)

    def entry(table, want):  # the offset an id's entry points to, in the tree, or None
        named, ids = struct.unpack_from("<HH", data, root + table + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, root + table + 16 + 8 * i)
            if want is None or (not name & 0x80000000 and name == want):
                return target
        return None

    table = 0
    for want in (kind, ident, None):
        target = entry(table, want)
        if target is None:
            return None
        table = target & 0x7FFFFFFF
    data_rva, data_size = struct.unpack_from("<II", data, root + table)
    return data[at(data_rva):at(data_rva) + data_size]


def stub_image_size(exe=None):
    """The size stamped into Kavorin.exe after its marker."""
    data = (exe or kavorin_exe()).read_bytes()
    return struct.unpack_from("<I", data, data.index(SIZE_MARKER) + len(SIZE_MARKER))[0]



# ----- the toolbar ----------------------------------------------------------------

KEY = (240, 240, 240)  # the strip's key colour: the button face shows through
IDLE_IMAGES = [0, 1, 2, 3, 4, 5]  # strip image drawn in each button
RECORDING_IMAGES = [0, 1, 6, 3, 4, 5]  # the red ball in button 2
BUTTON_Y = 5
PARKED = (1015, 5)  # a pointer position away from every window of the tests
SHOTS = REPO / "build" / "test-logs" / "e2e-shots"  # screenshots of failed checks, kept after the run


def button_x(i):
    """Client x of button i's image."""
    return 21 * i + 5


_strip_cache = []


def strip_images():
    """The seven 16 x 16 images of the strip, as the build makes it: res/mkart.py
    run on res/strip.txt, its strip.bmp parsed. images[k][y][x] = (r, g, b)."""
    if not _strip_cache:
        with tempfile.TemporaryDirectory(prefix="kv-strip-") as out:
            subprocess.run([sys.executable, str(REPO / "res" / "mkart.py"), str(REPO / "res"), out], check=True,
                           capture_output=True)
            rows = parse_bmp((Path(out) / "strip.bmp").read_bytes())
        if (len(rows[0]), len(rows)) != (112, 16):
            raise AssertionError("the strip is %d x %d, expected 112 x 16" % (len(rows[0]), len(rows)))
        _strip_cache.append([[row[16 * k:16 * k + 16] for row in rows] for k in range(7)])
    return _strip_cache[0]


_checks = unittest.TestCase()  # assertions for a driver used outside a test


class Kavorin:
    """One running Kavorin.exe and its toolbar window."""

    def __init__(self, session, proc, exe, win, xid, test=None, shots=None):
        """xid: its X window, None when not looked up. test: the WineTestCase
        whose assertions report; shots: a folder for the screenshot of a
        failed wait_buttons."""
        self.s, self.proc, self.exe, self.win, self.xid = session, proc, Path(exe), win, xid
        self.test, self.shots = test or _checks, shots

    @classmethod
    def start(cls, test, *args, exe=None, title=TITLE_CREATED, timeout=20.0):
        """Starts the program for a WineTestCase (ended when the test ends),
        with the pointer out of the way (over a button it would put a tip in
        the title), and waits for its visible window with this title. Any
        title: None; the X window is then not looked up, and focus() cannot be
        used. Started plainly, it is ready when a user would use it: once its
        buttons are on the screen where its window is (a window that X shows
        may not be drawn, or not yet where Win32 first said, and a click there
        is lost)."""
        exe = Path(exe or kavorin_exe())
        if not exe.exists():
            test.fail("%s is missing: build it with scripts/build.sh win" % exe)
        test.s.mouse_move(*PARKED)
        proc = test.start(exe, *args)
        k = cls.attach(test.s, proc, exe, title, timeout, test=test, shots=SHOTS / test.id().rsplit(".", 1)[-1])
        if not args and title == TITLE_CREATED:
            k.wait_buttons(IDLE_IMAGES, timeout, "the toolbar drawn")
        return k

    @classmethod
    def attach(cls, session, proc, exe, title=TITLE_CREATED, timeout=20.0, **kw):
        """The driver of a Kavorin.exe started as `proc`, once its visible
        window with this title is up."""
        win = session.wait_window(title=title, exe=exe, cls=CLASS, timeout=timeout)
        xid = session.wait_x_window(title, timeout) if title is not None else None
        return cls(session, proc, exe, win, xid, **kw)

    # ----- the window -------------------------------------------------------

    def title(self):
        """The title: as X has it when the X window is known (Wine sets it with
        the window's text; quicker to ask), else from the Win32 side."""
        if self.xid is not None:
            return self.s.xdo("getwindowname", self.xid).rstrip("\n")
        found = self.s.windows("hwnd=%x" % self.win.hwnd)
        return found[0].title if found else None

    def wait_title(self, title, timeout=10.0):
        try:
            wait_for(lambda: self.title() == title, timeout, "the title %r" % title)
        except WaitTimeout as e:
            raise AssertionError("%s; the title is %r" % (e, self.title())) from None

    def rect(self):
        return self.s.windows("hwnd=%x" % self.win.hwnd)[0].rect

    def client_point(self, x, y):
        """Screen position of a client point."""
        cx, cy = self.win.client_origin
        return cx + x, cy + y

    def button_centre(self, i):
        return self.client_point(button_x(i) + 8, BUTTON_Y + 8)

    def click_button(self, i):
        """Button i: 0 Open, 1 Save, 2 Record, 3 Play, 4 Compile, 5 Options.
        The program acts on the press."""
        self.s.click(*self.button_centre(i), hold=0.03)

    def focus(self):
        self.s.activate(self.xid)

    def click_caption(self, timeout=10.0):
        """Gives the toolbar the keyboard focus as a user would: a click on the
        small caption that Wine draws (the X window is the whole window)."""
        left, top, right, _ = self.win.rect
        self.s.click(left + 30, top + 7, hold=0.03)
        self.s.wait_active(self.xid, timeout)

    def press(self, *keysyms):
        """Keys pressed with the toolbar active."""
        self.focus()
        self.s.key(*keysyms)

    def plays_to(self, point, title, timeout=10.0):
        """The Play button plays the recording in memory: the pointer goes from
        the button to `point` (where the recording's moves end), and the title
        comes back to `title`."""
        self.click_button(3)
        wait_for(lambda: near(self.s.mouse_position(), point), timeout,
                 "the recording to play the pointer to %s" % (point,))
        # Under Wine a move can reach our window late, after the run has
        # ended, and show the tip of the button the run started from.
        wait_for(lambda: self.title() == title or self.title().startswith("Kavorin: "), timeout,
                 "the run to end (the title %r, or a tip)" % title)

    def alive(self):
        return self.proc.alive()

    def close(self):
        """Closes the window; the process exits with code 0."""
        self.s.close_window(self.win)
        self.test.assertEqual(self.proc.wait_exit(), 0, "exit code")

    # ----- its message boxes and its menu -------------------------------------

    def _boxes_on_screen(self, caption):
        """X windows of boxes with this caption, not the toolbar's own (whose idle
        title may be "Kavorin" too)."""
        return [x for x in self.s.x_windows(caption, visible_only=True) if x != self.xid]

    def box(self, caption=CAPTION, timeout=10.0):
        """The message box with this caption, once it is on the screen."""
        wait_for(lambda: self._boxes_on_screen(caption), timeout, "a box captioned %r on the screen" % caption)
        return self.s.message_box(caption, exe=self.exe, timeout=timeout)

    def dismiss(self, box):
        """OK, and wait until the box has gone from the screen."""
        shown = self._boxes_on_screen(box.caption)
        self.s.press_button(box)
        wait_for(lambda: not set(shown) & set(self._boxes_on_screen(box.caption)), 10,
                 "the box %r to close" % box.caption)

    def expect_box(self, text, caption=CAPTION, timeout=10.0):
        """The message box with this caption: checks its text and its one OK
        button, then presses OK."""
        box = self.box(caption, timeout)
        self.test.assertEqual(box.text, text)
        self.test.assertEqual(box.buttons, ["OK"])
        self.dismiss(box)
        return box

    def open_menu(self):
        """The Options menu, opened with Enter."""
        self.press("Return")
        return wait_for(lambda: self.s.menus(), 10, "the Options menu")[0]

    def choose(self, key):
        """Chooses an item of the open menu by its underlined letter; the menu
        closes."""
        self.s.key(key)
        wait_for(lambda: not self.s.menus(), 10, "the menu to close")

    # ----- the buttons on the screen ----------------------------------------

    def face_colour(self, shot):
        """The window's background (the class brush, the button face), read in
        the margin left of the first button."""
        return shot.pixel(*self.client_point(2, 13))

    def button_mismatches(self, shot, images):
        """Pixels of the client area that differ from the strip drawn with its
        key colour transparent: (x, y, seen, expected) in client coordinates.
        Buttons show images[i] of the strip; everything else is button face."""
        strip = strip_images()
        face = self.face_colour(shot)
        bad = []
        w, h = self.win.client_size
        for y in range(h):
            for x in range(w):
                expected = face
                i = (x - 5) // 21
                if 0 <= i < 6 and button_x(i) <= x < button_x(i) + 16 and BUTTON_Y <= y < BUTTON_Y + 16:
                    px = strip[images[i]][y - BUTTON_Y][x - button_x(i)]
                    expected = face if px == KEY else px
                seen = shot.pixel(*self.client_point(x, y))
                if seen != expected:
                    bad.append((x, y, seen, expected))
        return bad

    def wait_buttons(self, images, timeout=10.0, what="the buttons"):
        """Waits until a screenshot shows exactly these images in the buttons;
        returns that screenshot. On time-out the last screenshot is written to
        the `shots` folder and the first differences are reported."""
        last = {}

        def look():
            self.win = self.s.windows("hwnd=%x" % self.win.hwnd)[0]  # where it is now
            shot = self.s.screenshot()
            last["shot"], last["bad"] = shot, self.button_mismatches(shot, images)
            return shot if not last["bad"] else None

        try:
            return wait_for(look, timeout, what, interval=0.1)
        except WaitTimeout:
            path = None
            if self.shots is not None:
                Path(self.shots).mkdir(parents=True, exist_ok=True)
                path = last["shot"].save_png(Path(self.shots) / ("%s.png" % time.strftime("%Y%m%d-%H%M%S")))
            bad = last["bad"]
            raise AssertionError("%s: %d pixels differ, e.g. %s (client x, y, seen, expected); screenshot %s"
                                 % (what, len(bad), bad[:5], path)) from None


# ----- the test base class --------------------------------------------------------

class WineTestCase(unittest.TestCase):
    """Base class: `self.s` is the session's Desktop; programs started through
    self.start() are killed when the test ends, whatever happened."""

    s = None

    @classmethod
    def setUpClass(cls):
        cls.s = shared(Desktop)

    def start(self, exe, *args, name=None):
        proc = self.s.start_exe(exe, *args, name=name)
        self.addCleanup(self._end_proc, proc)
        return proc

    def _end_proc(self, proc):
        proc.kill()

    def start_witness(self, x=100, y=100, width=400, height=300, timeout=15.0):
        """Starts the witness with its window at (x, y) and a client area of
        width x height, and waits until it is up."""
        log_path = self.folder("witness-%s-%d" % (self._testMethodName, len(self.s.procs))) / "witness.log"
        proc = self.start(tool_exe("witness"), wine_path(log_path), x, y, width, height)
        return Witness.wait_ready(self.s, proc, log_path, timeout)

    def record_schedule(self, schedule):
        """Kavorin records `schedule(origin)` (ending with Pause), played into a
        fresh witness whose client area is at origin through XTEST. Returns
        Kavorin, the witness, where its log stood when the schedule began, and
        how late each event went out (ms)."""
        self.s.mouse_move(5, 5)
        w = self.start_witness(*WITNESS_AT)
        k = Kavorin.start(self)
        k.click_button(2)
        k.wait_title(TITLE_BREAK)
        mark = len(w.lines())
        late = self.s.play_input(schedule(w.client_origin))
        k.wait_title(TITLE_IDLE)
        return k, w, mark, late

    def folder(self, name=None):
        """A fresh folder for this test's files."""
        d = self.s.files / (name or self.id().rsplit(".", 2)[-2] + "." + self._testMethodName)
        if d.exists():
            shutil.rmtree(d)
        d.mkdir(parents=True)
        return d

    def full_tmpfs(self, folder, size_kb=64, files=None):
        """Mounts a small tmpfs at `folder` (unmounted when the test ends),
        writes `files` ({name: bytes}) into it and fills the rest, so that
        nothing more can be written there. Skips the test when mounting is not
        permitted."""
        folder.mkdir(parents=True, exist_ok=True)
        try:
            r = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%dk,mode=0777" % size_kb, "tmpfs", str(folder)],
                               capture_output=True, text=True, timeout=20)
        except (OSError, subprocess.TimeoutExpired) as e:
            self.skipTest("cannot mount a tmpfs for a full file system: %s" % e)
        if r.returncode != 0:
            self.skipTest("mounting a tmpfs for a full file system is not permitted here (%s)" % r.stderr.strip())
        self.addCleanup(_unmount, folder)
        for name, data in (files or {}).items():
            (folder / name).write_bytes(data)
        fd = os.open(folder / "filler", os.O_WRONLY | os.O_CREAT, 0o644)
        try:
            for chunk in (65536, 4096, 1):
                try:
                    while True:
                        os.write(fd, b"\0" * chunk)
                except OSError:
                    pass
        finally:
            os.close(fd)
        self.assertEqual(os.statvfs(folder).f_bavail, 0, "the tmpfs is full")
        return folder


def _unmount(folder):
    # A Wine process may still have its current folder there for a moment.
    deadline = time.monotonic() + 5
    while subprocess.run(["umount", str(folder)], capture_output=True).returncode != 0:
        if time.monotonic() > deadline:
            subprocess.run(["umount", "-l", str(folder)], capture_output=True)
            return
        time.sleep(0.1)
