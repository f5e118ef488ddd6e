"""The toolbar window of the real Kavorin.exe under Wine: the
six buttons drawn from the strip with its key colour transparent, the tips in
the title, and the Record button red while recording, checked on screenshots
pixel by pixel against the strip that res/mkart.py makes from res/strip.txt.

Also a helper for the other end-to-end modules (`Kavorin`: start the program,
read its title, click its buttons, compare its buttons with the strip) and the
command line that writes docs/toolbar.png:

    python3 tests/e2e/test_toolbar.py shoot [PATH]     (default docs/toolbar.png)
"""

import re
import struct
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

from session import REPO, WINE, WaitTimeout, WineTestCase, kavorin_exe, wait_for

TITLE_CREATED = "Kavorin v1.22"
TITLE_IDLE = "Kavorin"
TITLE_BREAK = "{Break} to end"
CLASS = "KavorinClass"
KEY = (240, 240, 240)  # the strip's key colour: the button face shows through
TIPS = ["Open", "Save", "Record", "Play (F5)", "Compile", "Options"]
IDLE_IMAGES = [0, 1, 2, 3, 4, 5]  # strip image drawn in each button
RECORDING_IMAGES = [0, 1, 6, 3, 4, 5]  # the red ball in button 2
BUTTON_Y = 5
SHOTS = REPO / "build" / "test-logs" / "e2e-shots"  # screenshots of failed checks, kept after the run


def button_x(i):
    """Client x of button i's image."""
    return 21 * i + 5


def _parse_bmp24(data):
    """A 24-bit uncompressed DIB: rows of (r, g, b), top row first."""
    if data[:2] != b"BM":
        raise ValueError("not a BMP file")
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height, planes, bits, compression = struct.unpack_from("<iiHHI", data, 18)
    if bits != 24 or compression != 0:
        raise ValueError("expected an uncompressed 24-bit DIB, got %d bits, compression %d" % (bits, compression))
    stride = (width * 3 + 3) & ~3
    rows = []
    for r in range(abs(height)):
        y = abs(height) - 1 - r if height > 0 else r  # bottom-up unless the height is negative
        start = offset + y * stride
        rows.append([tuple(data[start + 3 * x + 2 - c] for c in range(3)) for x in range(width)])
    return rows


_strip_cache = []


def strip_images():
    """The seven 16 x 16 images of the strip, as the build makes it: res/mkart.py
    run on res/strip.txt, its strip.bmp parsed. images[k][y][x] = (r, g, b)."""
    if not _strip_cache:
        with tempfile.TemporaryDirectory(prefix="kv-strip-") as out:
            subprocess.run([sys.executable, str(REPO / "res" / "mkart.py"), str(REPO / "res"), out], check=True,
                           capture_output=True)
            rows = _parse_bmp24((Path(out) / "strip.bmp").read_bytes())
        if (len(rows[0]), len(rows)) != (112, 16):
            raise AssertionError("the strip is %d x %d, expected 112 x 16" % (len(rows[0]), len(rows)))
        _strip_cache.append([[row[16 * k:16 * k + 16] for row in rows] for k in range(7)])
    return _strip_cache[0]


def system_button_face(session):
    """COLOR_BTNFACE of the session's Wine prefix (HKCU\\Control Panel\\Colors
    ButtonFace), or None when the prefix does not name it."""
    # Output through a file, not a pipe (see Session.run_exe).
    with tempfile.TemporaryFile() as out:
        subprocess.run([WINE, "reg", "query", r"HKCU\Control Panel\Colors", "/v", "ButtonFace"], env=session.env,
                       stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL, timeout=30)
        out.seek(0)
        text = out.read().decode("latin-1")
    m = re.search(r"ButtonFace\s+REG_SZ\s+(\d+) (\d+) (\d+)", text)
    return tuple(int(v) for v in m.groups()) if m else None


class Kavorin:
    """One running Kavorin.exe and its toolbar window, for a WineTestCase."""

    def __init__(self, session, proc, exe, win, xid, shots=None):
        """shots: a folder for the screenshot of a failed wait_buttons."""
        self.s, self.proc, self.exe, self.win, self.xid, self.shots = session, proc, exe, win, xid, shots

    @classmethod
    def start(cls, test, *args, exe=None, title=TITLE_CREATED, timeout=20.0):
        """Starts the program (ended when the test ends) and waits for its
        visible window with this title (any title: None; the X window is then
        not looked up, and focus() cannot be used)."""
        exe = exe or kavorin_exe()
        if not Path(exe).exists():
            test.fail("%s is missing: build it with scripts/build.sh win" % exe)
        proc = test.start(exe, *args)
        win = test.s.wait_window(title=title, exe=exe, cls=CLASS, timeout=timeout)
        xid = test.s.wait_x_window(title, timeout) if title is not None else None
        return cls(test.s, proc, exe, win, xid, shots=SHOTS / test.id().rsplit(".", 1)[-1])

    # ----- the window -------------------------------------------------------

    def title(self):
        found = self.s.windows("hwnd=%x" % self.win.hwnd)
        return found[0].title if found else None

    def wait_title(self, title, timeout=10.0):
        try:
            wait_for(lambda: self.title() == title, timeout, "the title %r" % title)
        except WaitTimeout as e:
            raise AssertionError("%s; the title is %r" % (e, self.title())) from None

    def client_point(self, x, y):
        """Screen position of a client point."""
        cx, cy = self.win.client_origin
        return cx + x, cy + y

    def button_centre(self, i):
        return self.client_point(button_x(i) + 8, BUTTON_Y + 8)

    def click_button(self, i):
        """A click on button i; the program acts on the press."""
        self.s.click(*self.button_centre(i), hold=0.03)

    def focus(self, timeout=10.0):
        """Gives the toolbar the keyboard focus as a user would: a click on the
        small caption that Wine draws (the X window is the whole window)."""
        left, top, right, _ = self.win.rect
        self.s.click(left + 30, top + 7, hold=0.03)
        self.s.wait_active(self.xid, timeout)

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
        the session's folder and the first differences are reported."""
        last = {}

        def look():
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


class ToolbarTests(WineTestCase):
    def setUp(self):
        self.s.mouse_move(5, 5)  # away from where the toolbar opens: no tip yet

    def test_buttons_show_the_strip_with_its_key_colour_transparent(self):
        k = Kavorin.start(self)
        shot = k.wait_buttons(IDLE_IMAGES, what="the six buttons drawn from the strip")
        face = k.face_colour(shot)
        # The background, which the key colour lets through, is the class
        # brush: the system's button face.
        system_face = system_button_face(self.s)
        if system_face is not None:
            self.assertEqual(face, system_face, "the window background is COLOR_BTNFACE")
        self.assertNotEqual(face, KEY, "the button face must differ from the key colour for this check to mean"
                                       " anything")
        strip = strip_images()
        # Each button has both kinds of pixel, so both rules were exercised.
        for i in range(6):
            pixels = [p for row in strip[i] for p in row]
            self.assertIn(KEY, pixels, "image %d has key-colour pixels" % i)
            self.assertTrue(any(p != KEY for p in pixels), "image %d has opaque pixels" % i)
        self.assertEqual(k.title(), TITLE_CREATED)

    def test_tips_name_the_button_under_the_pointer(self):
        k = Kavorin.start(self)
        k.wait_buttons(IDLE_IMAGES)
        self.s.mouse_move(*k.button_centre(1))
        k.wait_title("Kavorin: Save")
        self.s.mouse_move(*k.button_centre(5))
        k.wait_title("Kavorin: Options")
        # Each button answers for 21 columns from 3 pixels left of its image.
        self.s.mouse_move(*k.client_point(22, 2))
        k.wait_title("Kavorin: Open")
        self.s.mouse_move(*k.client_point(23, 2))
        k.wait_title("Kavorin: Save")
        self.s.mouse_move(*k.button_centre(3))
        k.wait_title("Kavorin: Play (F5)")

    def test_record_button_is_red_while_recording_and_blue_after_pause(self):
        k = Kavorin.start(self)
        k.wait_buttons(IDLE_IMAGES)
        k.focus()  # Pause must reach a Wine window
        k.click_button(2)
        k.wait_title(TITLE_BREAK)
        k.wait_buttons(RECORDING_IMAGES, what="the red ball in the Record button while recording")
        # Leave the buttons, so that no tip replaces the idle title afterwards.
        self.s.mouse_move(5, 5)
        self.s.key("Pause")
        k.wait_title(TITLE_IDLE)
        k.wait_buttons(IDLE_IMAGES, what="the blue ball in the Record button after Pause")


# ----- docs/toolbar.png --------------------------------------------------------

def shoot(path, scale=2):
    """Writes a real screenshot of the toolbar window, cropped to the window and
    enlarged `scale` times (nearest neighbour), to `path`."""
    from session import Screenshot, Session

    s = Session()
    try:
        s.start()
        s.mouse_move(5, 5)
        exe = kavorin_exe()
        proc = s.start_exe(exe)
        win = s.wait_window(title=TITLE_CREATED, exe=exe, cls=CLASS, timeout=30)
        xid = s.wait_x_window(TITLE_CREATED)
        # Taken once the buttons are exactly the strip's images.
        shot = Kavorin(s, proc, exe, win, xid).wait_buttons(IDLE_IMAGES, timeout=15)
        left, top, right, bottom = win.rect
        rows = []
        for y in range(top, bottom):
            row = b"".join(bytes(shot.pixel(x, y)) * scale for x in range(left, right))
            rows.extend([row] * scale)
        w, h = (right - left) * scale, (bottom - top) * scale
        out = Screenshot(w, h, b"".join(rows))
        Path(path).parent.mkdir(parents=True, exist_ok=True)
        out.save_png(path)
        print("%s: %d x %d, the %d x %d window enlarged %d times" % (path, w, h, right - left, bottom - top, scale))
    finally:
        s.stop()


if __name__ == "__main__":
    if len(sys.argv) >= 2 and sys.argv[1] == "shoot":
        shoot(sys.argv[2] if len(sys.argv) > 2 else str(REPO / "docs" / "toolbar.png"))
    else:
        unittest.main()
