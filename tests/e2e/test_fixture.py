"""The test tools themselves, against our witness and Wine's own notepad: if
these fail, a failing Kavorin test says nothing about Kavorin."""

import re
import unittest

from fixture import WineTestCase, tool_exe, wait_for, wine_path


class WitnessLog:
    """Reads the witness's log: one dict per line, with a 'msg' key."""

    def __init__(self, path):
        self.path = path

    def lines(self):
        try:
            text = self.path.read_text()
        except OSError:
            return []
        out = []
        for line in text.splitlines():
            parts = line.split()
            if not parts:
                continue
            entry = {"msg": parts[0]}
            entry.update(p.split("=", 1) for p in parts[1:] if "=" in p)
            out.append(entry)
        return out

    def of(self, *names):
        return [e for e in self.lines() if e["msg"] in names]


def start_witness(test, x=100, y=100, w=400, h=300):
    log_path = test.folder("witness-" + test._testMethodName) / "witness.log"
    proc = test.start(tool_exe("witness"), wine_path(log_path), x, y, w, h)
    log = WitnessLog(log_path)
    ready = wait_for(lambda: log.of("READY"), 15, "the witness to start")[0]
    xid = test.s.wait_x_window("Kavorin Witness")
    return proc, log, ready, xid


def sweep(test, log):
    """Asks the witness which keys it sees held; returns their virtual keys."""
    keys = log.path.with_name(log.path.name + ".keys")
    if keys.exists():
        keys.unlink()
    log.path.with_name(log.path.name + ".sweep").write_text("")
    text = wait_for(lambda: keys.exists() and keys.read_text(), 5, "the witness's key sweep")
    assert text.rstrip().endswith("end"), text
    return [int(m) for m in re.findall(r"vk=(\d+)", text)]


class WitnessTests(WineTestCase):
    def test_window_where_asked_and_seen_from_both_sides(self):
        proc, log, ready, xid = start_witness(self, 120, 90, 400, 300)
        self.assertEqual((ready["w"], ready["h"]), ("400", "300"))
        win = self.s.wait_window(title="Kavorin Witness", exe=tool_exe("witness"))
        self.assertEqual(win.client_size, (400, 300))
        self.assertEqual(win.rect[:2], (120, 90))
        geo = self.s.x_geometry(xid)
        self.assertTrue(geo["viewable"])
        # A decorated window: the X window is the client area.
        self.assertEqual((geo["x"], geo["y"], geo["width"], geo["height"]), win.client_origin + win.client_size)
        self.assertEqual(self.s.x_pid(xid), proc.pid)
        self.s.close_window(win)
        self.assertEqual(proc.wait_exit(), 0)
        self.assertTrue(log.of("DESTROY"))

    def test_keys_reach_the_witness_and_are_released(self):
        proc, log, ready, xid = start_witness(self)
        self.s.activate(xid)
        self.s.key("a")
        self.s.key("Right")  # an extended key
        downs = wait_for(lambda: len(log.of("WM_KEYDOWN")) >= 2 and log.of("WM_KEYDOWN"), 5, "two key-downs")
        self.assertEqual([(e["vk"], e["ext"]) for e in downs[:2]], [("65", "0"), ("39", "1")])
        wait_for(lambda: len(log.of("WM_KEYUP")) >= 2, 5, "two key-ups")
        self.assertEqual(sweep(self, log), [])
        self.s.key_down("shift")
        try:
            self.assertIn(16, wait_for(lambda: 16 in sweep(self, log) and sweep(self, log), 5, "shift held"))
        finally:
            self.s.key_up("shift")
        wait_for(lambda: sweep(self, log) == [], 5, "no key held")

    def test_mouse_reaches_the_witness_in_client_coordinates(self):
        proc, log, ready, xid = start_witness(self)
        cx, cy = int(ready["cx"]), int(ready["cy"])
        self.s.click(cx + 30, cy + 40)
        self.s.click(cx + 50, cy + 60, button=3)
        wait_for(lambda: log.of("WM_RBUTTONUP"), 5, "the right button release")
        down = log.of("WM_LBUTTONDOWN")[0]
        self.assertEqual((down["x"], down["y"]), ("30", "40"))
        self.assertEqual((int(down["sx"]), int(down["sy"])), (cx + 30, cy + 40))
        self.assertTrue(log.of("WM_LBUTTONUP"))
        self.assertEqual((log.of("WM_RBUTTONDOWN")[0]["x"], log.of("WM_RBUTTONDOWN")[0]["y"]), ("50", "60"))
        self.assertEqual(self.s.mouse_position(), (cx + 50, cy + 60))

    def test_screenshot_shows_the_witness_client_area(self):
        proc, log, ready, xid = start_witness(self)
        cx, cy = int(ready["cx"]), int(ready["cy"])
        shot = self.s.screenshot()
        self.assertEqual((shot.width, shot.height), (1024, 768))
        # COLOR_WINDOW is white in Wine's default colours.
        self.assertEqual(shot.pixel(cx + 200, cy + 150), (255, 255, 255))


class NotepadTests(WineTestCase):
    """A real application: typing into it, reading its controls and its box."""

    def test_type_into_notepad_and_answer_its_box(self):
        proc = self.start("notepad")
        win = self.s.wait_window(title="Untitled - Notepad", cls="Notepad", timeout=15)
        xid = self.s.wait_x_window("Untitled - Notepad")
        self.s.activate(xid)
        self.s.type_text("Hello, e2e {1}")

        def edit_text():
            wins = self.s.window_texts("hwnd=%x" % win.hwnd)
            return [c.text for c in wins[0].children if c.cls.lower() == "edit"] if wins else []

        wait_for(lambda: edit_text() == ["Hello, e2e {1}"], 10, "the typed text in notepad")
        self.s.close_window(win)
        box = self.s.message_box("Notepad")
        self.assertIn("Untitled", box.text)
        self.assertIn("No", box.buttons)
        self.s.press_button(box, "No")
        self.assertEqual(proc.wait_exit(), 0)


if __name__ == "__main__":
    unittest.main()
