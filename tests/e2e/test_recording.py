"""Recording with the real Kavorin.exe under Wine, and
the round trip: what was recorded from a user's keys and clicks in the witness
plays back into the witness the same way."""

import time
import unittest

from kavorin import IDLE_IMAGES, RECORDING_IMAGES, TITLE_BREAK, TITLE_IDLE, Kavorin, WineTestCase
from recordings import VK_PAUSE
from witnessing import WITNESS_AT, button_events, exact_messages, exact_schedule, key_events, quiet_log
from session import WaitTimeout, wait_for

SETTLE = 0.06  # between two input events: the 10 ms sampler sees each on its own tick
# Each key and button is held this long: far more than the 10 ms sampling
# period, so that a busy machine delaying a few ticks still lets one see it.
HOLD = 0.15


class RecordingTests(WineTestCase):
    def user_clicks(self, x, y, button=1):
        """Moves to (x, y), rests there, then presses and releases (both held
        long enough to be sampled on their own)."""
        self.s.mouse_move(x, y)
        time.sleep(SETTLE)
        self.s.xdo("mousedown", button)
        time.sleep(HOLD)
        self.s.xdo("mouseup", button)
        time.sleep(SETTLE)

    def test_record_keys_and_clicks_in_the_witness_and_play_them_back(self):
        s = self.s
        s.mouse_move(5, 5)
        w = self.start_witness(*WITNESS_AT)
        k = Kavorin.start(self)
        k.wait_buttons(IDLE_IMAGES)

        # Record: the title and the red button.
        k.click_button(2)
        k.wait_title(TITLE_BREAK)
        k.wait_buttons(RECORDING_IMAGES, what="the red Record button while recording")
        start = len(w.lines())

        # The user works in the witness: a click gives it the focus, keys
        # (Shift, an extended key), moves, a right click, another left click.
        ox, oy = w.client_origin
        time.sleep(0.3)  # at playback, F5's own release reaches the toolbar before the witness has the focus
        s.mouse_move(ox + 20, oy + 30)
        time.sleep(SETTLE)
        self.user_clicks(ox + 60, oy + 50)
        s.wait_active(w.xid)
        time.sleep(0.1)
        self.s.user_holds("a", hold=HOLD, settle=SETTLE)
        s.key_down("shift")
        time.sleep(SETTLE)
        self.s.user_holds("b", hold=HOLD, settle=SETTLE)
        s.key_up("shift")
        time.sleep(SETTLE)
        self.s.user_holds("Delete", "Right", "2", hold=HOLD, settle=SETTLE)
        for x, y in ((ox + 150, oy + 100), (ox + 180, oy + 140), (ox + 230, oy + 170)):
            s.mouse_move(x, y)
            time.sleep(SETTLE)
        self.user_clicks(ox + 250, oy + 180, button=3)
        self.user_clicks(ox + 120, oy + 220)
        s.mouse_move(ox + 300, oy + 240)
        time.sleep(SETTLE)

        # Pause ends the recording: idle title, blue button again.
        s.key("Pause")
        k.wait_title(TITLE_IDLE)
        k.wait_buttons(IDLE_IMAGES, what="the blue Record button after Pause")

        recorded = w.lines()[start:]
        original_keys = [e for e in key_events(recorded, extended=True) if e[1] != VK_PAUSE]
        original_buttons = button_events(recorded, client=True)
        self.assertEqual(
            original_keys,
            [("WM_KEYDOWN", 65, 0), ("WM_KEYUP", 65, 0), ("WM_KEYDOWN", 16, 0), ("WM_KEYDOWN", 66, 0),
             ("WM_KEYUP", 66, 0), ("WM_KEYUP", 16, 0), ("WM_KEYDOWN", 46, 1), ("WM_KEYUP", 46, 1),
             ("WM_KEYDOWN", 39, 1), ("WM_KEYUP", 39, 1), ("WM_KEYDOWN", 50, 0), ("WM_KEYUP", 50, 0)],
            "what the user's keys gave the witness (a check of the test's own input)")
        self.assertEqual([b[0] for b in original_buttons],
                         ["WM_LBUTTONDOWN", "WM_LBUTTONUP", "WM_RBUTTONDOWN", "WM_RBUTTONUP", "WM_LBUTTONDOWN",
                          "WM_LBUTTONUP"], "what the user's clicks gave the witness")

        # Play it back: focus the toolbar (its caption), F5.
        mark = len(w.lines())
        k.click_caption()
        s.key("F5")

        def played():
            entries = w.lines()[mark:]
            done = (len(button_events(entries)) >= len(original_buttons)
                    and len(key_events(entries)) >= len(original_keys))
            return entries if done else None

        try:
            wait_for(played, 20, "the recording to be played into the witness")
            k.wait_title(TITLE_IDLE, timeout=10)
        except WaitTimeout:
            pass  # the comparisons below say what is missing
        time.sleep(0.3)  # anything played late would show now
        entries = w.lines()[mark:]
        self.assertEqual(key_events(entries, extended=True), original_keys, "the same keys, down and up, in order")
        replayed_buttons = button_events(entries, client=True)
        self.assertEqual([b[0] for b in replayed_buttons], [b[0] for b in original_buttons])
        for got, want in zip(replayed_buttons, original_buttons):
            self.assertLessEqual(max(abs(got[1] - want[1]), abs(got[2] - want[2])), 2,
                                 "%s at (%d, %d), recorded at (%d, %d)" % (got + want[1:]))
        self.assertEqual(w.held_keys(), [], "no key or button left held")
        self.assertEqual(k.title(), TITLE_IDLE)
        self.assertTrue(k.proc.alive())

    def record_and_replay(self, schedule):
        """Kavorin records the schedule (which ends with Pause) played into
        the witness through XTEST, then plays it back with F5. Returns what
        the witness got of it the first time and the second (exact_messages),
        and how late the schedule went out (ms, worst)."""
        s = self.s
        k, w, mark, late = self.record_schedule(schedule)
        first = exact_messages(w.lines()[mark:])
        mark = len(w.lines())
        k.click_caption()
        s.key("F5", hold=0.03)
        wait_for(lambda: len(exact_messages(w.lines()[mark:])) >= len(first), 20,
                 "the recording to be played into the witness")
        k.wait_title(TITLE_IDLE, timeout=10)
        self.assertEqual(w.held_keys(), [], "no key or button left held")
        return first, exact_messages(quiet_log(w)[mark:]), max(late)

    def test_what_a_user_does_fast_comes_back_exactly(self):
        """Real X input at precise times into the witness while Kavorin
        records: rollovers 2-8 ms apart, taps of 2-6 ms, both sides of the
        modifiers, the keypad with Num Lock on and off, navigation keys, the
        wheel both ways and sideways, the middle, right and X buttons. Played
        back, the witness gets the very same messages: each key's code, scan
        code and extended bit, the characters, the buttons where they were, the
        wheel's deltas."""
        first, second, late = self.record_and_replay(exact_schedule)
        self.assertEqual(sum(1 for m in first if m[0] == "WM_MOUSEWHEEL"), 4, first)
        self.assertEqual(second, first, "the schedule went out up to %.1f ms late" % late)

    def test_swapped_buttons_play_as_the_user_pressed_them(self):
        """With the buttons swapped for a left hand, the hook names the button
        the user pressed and playback presses that same button, which the
        system swaps for the program in front alike both times. (Wine 8
        swaps neither: the witness sees the pressed buttons both times.)"""
        self.s.swap_buttons(True)
        self.addCleanup(self.s.swap_buttons, False)

        def clicks(origin):
            ox, oy = origin
            return [(300, "move", ox + 50, oy + 60), (360, "button", 1, True), (400, "button", 1, False),
                    (460, "move", ox + 150, oy + 90), (520, "button", 3, True), (560, "button", 3, False),
                    (620, "key", "Pause", True), (650, "key", "Pause", False)]

        first, second, _ = self.record_and_replay(clicks)
        self.assertEqual(len(first), 4, first)
        self.assertEqual(second, first)


if __name__ == "__main__":
    unittest.main()
