"""The toolbar window of the real Kavorin.exe under Wine: the
six buttons drawn from the strip with its key colour transparent, the tips in
the title, and the Record button red while recording, checked on screenshots
pixel by pixel against the strip that res/mkart.py makes from res/strip.txt.

Also the command line that writes docs/toolbar.png:

    python3 tests/e2e/test_toolbar.py shoot [PATH]     (default docs/toolbar.png)
"""

import re
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

from desktop import Desktop, Screenshot
from kavorin import (IDLE_IMAGES, KEY, RECORDING_IMAGES, TITLE_BREAK, TITLE_CREATED, TITLE_IDLE, Kavorin, WineTestCase,
                     strip_images)
from session import REPO, WINE, kavorin_exe


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
        k.wait_title("Kavorin: Play (F5, Ctrl+Alt+Shift+F5)")

    def test_record_button_is_red_while_recording_and_blue_after_pause(self):
        k = Kavorin.start(self)
        k.wait_buttons(IDLE_IMAGES)
        k.click_caption()  # Pause must reach a Wine window
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
    s = Desktop()
    try:
        s.start()
        s.mouse_move(5, 5)
        exe = kavorin_exe()
        k = Kavorin.attach(s, s.start_exe(exe), exe, timeout=30)
        # Taken once the buttons are exactly the strip's images.
        shot = k.wait_buttons(IDLE_IMAGES, timeout=15)
        left, top, right, bottom = k.win.rect
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
