"""The test tools themselves, against our witness and Wine's own notepad: if
these fail, a failing Kavorin test says nothing about Kavorin."""

import unittest

from kavorin import WineTestCase
from session import tool_exe, wait_for


class WitnessTests(WineTestCase):
    def test_window_where_asked_and_seen_from_both_sides(self):
        w = self.start_witness(120, 90, 400, 300)
        self.assertEqual(w.client_size, (400, 300))
        win = self.s.wait_window(title="Kavorin Witness", exe=tool_exe("witness"))
        self.assertEqual(win.client_size, (400, 300))
        self.assertEqual(win.client_origin, w.client_origin)
        self.assertEqual(win.rect[:2], (120, 90))
        geo = self.s.x_geometry(w.xid)
        self.assertTrue(geo["viewable"])
        # A window the window manager decorates: its X window is the client area.
        self.assertEqual((geo["x"], geo["y"], geo["width"], geo["height"]), win.client_origin + win.client_size)
        self.assertEqual(self.s.x_pid(w.xid), w.proc.pid)
        self.assertNotIn("_NET_WM_STATE_ABOVE", self.s.x_net_wm_state(w.xid))
        self.s.close_window(win)
        self.assertEqual(w.proc.wait_exit(), 0)
        self.assertTrue(w.of("DESTROY"))

    def test_keys_reach_the_witness_and_are_released(self):
        w = self.start_witness()
        self.s.activate(w.xid)
        self.s.key("a")
        self.s.key("Right")  # an extended key
        downs = wait_for(lambda: len(w.of("WM_KEYDOWN")) >= 2 and w.of("WM_KEYDOWN"), 5, "two key-downs")
        self.assertEqual([(e["vk"], e["ext"]) for e in downs[:2]], [("65", "0"), ("39", "1")])
        wait_for(lambda: len(w.of("WM_KEYUP")) >= 2, 5, "two key-ups")
        self.assertEqual(w.held_keys(), [])
        self.s.key_down("shift")
        try:
            wait_for(lambda: 16 in w.held_keys(), 5, "shift seen held")
        finally:
            self.s.key_up("shift")
        wait_for(lambda: w.held_keys() == [], 5, "no key held")

    def test_mouse_reaches_the_witness_in_client_coordinates(self):
        w = self.start_witness()
        cx, cy = w.client_origin
        self.s.click(cx + 30, cy + 40)
        self.s.click(cx + 50, cy + 60, button=3)
        wait_for(lambda: w.of("WM_RBUTTONUP"), 5, "the right button release")
        down = w.of("WM_LBUTTONDOWN")[0]
        self.assertEqual((down["x"], down["y"]), ("30", "40"))
        self.assertEqual((int(down["sx"]), int(down["sy"])), (cx + 30, cy + 40))
        self.assertTrue(w.of("WM_LBUTTONUP"))
        self.assertEqual((w.of("WM_RBUTTONDOWN")[0]["x"], w.of("WM_RBUTTONDOWN")[0]["y"]), ("50", "60"))
        moves = w.of("WM_MOUSEMOVE")
        self.assertTrue(moves and all(int(m["tick"]) > 0 and float(m["qpc"]) > 0 for m in moves))
        self.assertEqual(self.s.mouse_position(), (cx + 50, cy + 60))

    def test_screenshot_shows_the_witness_client_area(self):
        w = self.start_witness()
        cx, cy = w.client_origin
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
