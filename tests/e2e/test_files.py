"""Open, Save and Compile of the real Kavorin.exe under Wine, through the
file dialogs as a user works them: a recording made in the witness is saved
into a folder with blanks in its name, opened again by a new process and
played into the witness, and compiled into a player that plays it hidden. A
save that cannot be written leaves the old file, the name and the title
alone; a bad file opened leaves no recording behind.

Also the helpers the other file and fault modules share: `Toolbar` (one
running Kavorin.exe), hand-made recordings (`pack`, `Rec`), what the witness
should see of a recording (`expected_moves`, `follow_moves`), and a small full
tmpfs (`full_tmpfs`)."""

import os
import struct
import subprocess
import time
import unittest

from session import KEY_HOLD, WaitTimeout, WineTestCase, kavorin_exe, wait_for, wine_path

TITLE_CREATED = "Kavorin v1.22"
TITLE_IDLE = "Kavorin"
TITLE_BREAK = "{Break} to end"
CLASS = "KavorinClass"
CAPTION = "Kavorin"
INVALID = "Not a valid recording"
NOTHING_RECORDED = "Nothing Recorded\n\nPress the blue button to start a new recording"
SIZE_MARKER = b"KvSz"
RECORD = 20
KEYDOWN, KEYUP, MOVE, LDOWN, LUP, RDOWN, RUP = 0x100, 0x101, 0x200, 0x201, 0x202, 0x204, 0x205
PAUSE_VK = 19
KEY_MESSAGES = ("WM_KEYDOWN", "WM_KEYUP", "WM_SYSKEYDOWN", "WM_SYSKEYUP")
BUTTON_MESSAGES = ("WM_LBUTTONDOWN", "WM_LBUTTONUP", "WM_RBUTTONDOWN", "WM_RBUTTONUP")
WITNESS_MESSAGE = {KEYDOWN: "WM_KEYDOWN", KEYUP: "WM_KEYUP", LDOWN: "WM_LBUTTONDOWN", LUP: "WM_LBUTTONUP",
                   RDOWN: "WM_RBUTTONDOWN", RUP: "WM_RBUTTONUP"}
# The witness: clear of the toolbar (screen middle) and of the boxes over it.
WITNESS_AT = (40, 420, 360, 280)
PARKED = (1015, 5)  # a pointer position away from every window of the tests
SETTLE = 0.04  # between two input events of a user: a 10 ms sampler sees each on its own


# ----- recordings --------------------------------------------------------

def pack(message, param_l, param_h, time_ms, hwnd=0):
    """One 20-byte record: five little-endian uint32."""
    return struct.pack("<5I", message, param_l, param_h, time_ms, hwnd)


def records_of(data):
    """The records of a recording's bytes: (message, paramL, paramH, time, hwnd)."""
    return [struct.unpack_from("<5I", data, i) for i in range(0, len(data) - len(data) % RECORD, RECORD)]


class Rec:
    """A recording made by hand; times in ms, each event `gap` ms after the
    one before."""

    def __init__(self, start=100000):
        self.events = []  # (message, paramL, paramH, time)
        self.time = start

    def add(self, message, param_l, param_h, gap=10):
        self.time += gap
        self.events.append((message, param_l, param_h, self.time))
        return self

    def move(self, x, y, gap=10):
        return self.add(MOVE, x, y, gap)

    def button(self, message, x, y, gap=10):
        return self.add(message, x, y, gap)

    def key(self, message, vk, gap=10):
        return self.add(message, vk, 0, gap)  # scan code 0: the player looks it up

    def data(self):
        return b"".join(pack(*e) for e in self.events)

    def write(self, path):
        path.write_bytes(self.data())
        return path


def stub_image_size(exe=None):
    """The size stamped into Kavorin.exe after its marker."""
    data = (exe or kavorin_exe()).read_bytes()
    return struct.unpack_from("<I", data, data.index(SIZE_MARKER) + len(SIZE_MARKER))[0]


# ----- what the witness saw ---------------------------------------------

def key_events(entries):
    """(message, vk) of the witness's key messages."""
    return [(e["msg"], int(e["vk"])) for e in entries if e["msg"] in KEY_MESSAGES]


def button_events(entries):
    """(message, screen x, screen y) of the witness's button messages."""
    return [(e["msg"], int(e["sx"]), int(e["sy"])) for e in entries if e["msg"] in BUTTON_MESSAGES]


def follow_moves(entries, points):
    """Follows the witness's pointer moves along the expected screen points:
    returns (hit, stray), the indices of the points reached, in order, and the
    moves that fit no point at or after the last one reached. A move counts as
    reaching a point when it is within a pixel of it: a played move arrives
    first up to a pixel short (Wine's rounding of absolute mouse_event
    coordinates), then exact (SetCursorPos), and either may be merged away
    in the witness's queue when moves come back to back. The move that
    SetCursorPos makes comes back from the X server, now and then after the
    next one: a move to a point already passed is taken for that echo."""
    hit, stray, at = [], [], 0

    def near(p, q):
        return abs(p[0] - q[0]) <= 1 and abs(p[1] - q[1]) <= 1

    for e in entries:
        if e["msg"] != "WM_MOUSEMOVE":
            continue
        p = (int(e["sx"]), int(e["sy"]))
        j = next((j for j in range(at, len(points)) if near(p, points[j])), None)
        if j is None:
            if not any(near(p, points[i]) for i in hit):
                stray.append(p)
            continue
        if not hit or hit[-1] != j:
            hit.append(j)
        at = j
    return hit, stray


def quiet_log(witness, quiet=0.3, timeout=5.0):
    """The witness's log once nothing new has come for `quiet` seconds (what
    arrives late would show)."""
    count, since = len(witness.lines()), time.monotonic()
    deadline = since + timeout
    while time.monotonic() - since < quiet and time.monotonic() < deadline:
        time.sleep(0.02)
        now = len(witness.lines())
        if now != count:
            count, since = now, time.monotonic()
    return witness.lines()


def inside(witness, x, y):
    (ox, oy), (w, h) = witness.client_origin, witness.client_size
    return ox <= x < ox + w and oy <= y < oy + h


def expected_moves(records, witness):
    """The positions of a recording's moves that fall in the witness's client
    area, repeats merged: where the witness should see the pointer go."""
    points = [(r[1], r[2]) for r in records if r[0] == MOVE and inside(witness, r[1], r[2])]
    return [p for i, p in enumerate(points) if i == 0 or p != points[i - 1]]


def expected_keys(records):
    return [(WITNESS_MESSAGE[r[0]], r[1] & 0xFF) for r in records if r[0] in (KEYDOWN, KEYUP)]


def expected_buttons(records):
    return [(WITNESS_MESSAGE[r[0]], r[1], r[2]) for r in records if r[0] in (LDOWN, LUP, RDOWN, RUP)]


# ----- the program -------------------------------------------------------

class Toolbar:
    """One running Kavorin.exe with its toolbar window, for a WineTestCase."""

    def __init__(self, test, *args, exe=None, title=TITLE_CREATED, timeout=20.0):
        self.test, self.s = test, test.s
        self.exe = exe or kavorin_exe()
        if not self.exe.exists():
            test.fail("%s is missing: build it with scripts/build.sh win" % self.exe)
        # Out of the way: a pointer over a button would put its tip in the title.
        self.s.mouse_move(*PARKED)
        self.proc = test.start(self.exe, *args)
        self.win = self.s.wait_window(title=title, exe=self.exe, cls=CLASS, timeout=timeout)
        self.xid = self.s.wait_x_window(title, timeout)

    def title(self):
        """The title as X has it (Wine sets it with the window's text; quicker
        to ask than the Win32 side)."""
        return self.s.xdo("getwindowname", self.xid).rstrip("\n")

    def wait_title(self, title, timeout=10.0):
        try:
            wait_for(lambda: self.title() == title, timeout, "the title %r" % title)
        except WaitTimeout as e:
            raise AssertionError("%s; the title is %r" % (e, self.title())) from None

    def rect(self):
        return self.s.windows("hwnd=%x" % self.win.hwnd)[0].rect

    def button_centre(self, i):
        cx, cy = self.win.client_origin
        return cx + 21 * i + 5 + 8, cy + 5 + 8

    def click_button(self, i):
        """Button i: 0 Open, 1 Save, 2 Record, 3 Play, 4 Compile, 5 Options."""
        self.s.click(*self.button_centre(i), hold=0.03)

    def focus(self):
        self.s.activate(self.xid)

    def press(self, *keysyms):
        """Keys pressed with the toolbar active."""
        self.focus()
        self.s.key(*keysyms)

    def _boxes_on_screen(self, caption):
        """X windows named `caption` other than the toolbar's own (whose idle
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

    def close(self):
        """Closes the window; the process exits with code 0."""
        self.s.close_window(self.win)
        self.test.assertEqual(self.proc.wait_exit(), 0, "exit code")

    def alive(self):
        return self.proc.alive()


def full_tmpfs(test, folder, size_kb=64, files=None):
    """Mounts a small tmpfs at `folder` (unmounted when the test ends), writes
    `files` ({name: bytes}) into it and fills the rest, so that nothing more
    can be written there. Skips the test when mounting is not permitted."""
    folder.mkdir(parents=True, exist_ok=True)
    try:
        r = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%dk,mode=0777" % size_kb, "tmpfs", str(folder)],
                           capture_output=True, text=True, timeout=20)
    except (OSError, subprocess.TimeoutExpired) as e:
        test.skipTest("cannot mount a tmpfs for a full file system: %s" % e)
    if r.returncode != 0:
        test.skipTest("mounting a tmpfs for a full file system is not permitted here (%s)" % r.stderr.strip())
    test.addCleanup(_unmount, folder)
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
    st = os.statvfs(folder)
    test.assertEqual(st.f_bavail, 0, "the tmpfs is full")
    return folder


def _unmount(folder):
    # A Wine process may still have its current folder there for a moment.
    deadline = time.monotonic() + 5
    while subprocess.run(["umount", str(folder)], capture_output=True).returncode != 0:
        if time.monotonic() > deadline:
            subprocess.run(["umount", "-l", str(folder)], capture_output=True)
            return
        time.sleep(0.1)


# ----- the tests ---------------------------------------------------------

class FileTests(WineTestCase):
    def user_holds(self, *keysyms):
        for k in keysyms:
            self.s.key_down(k)
            time.sleep(KEY_HOLD)
            self.s.key_up(k)
            time.sleep(SETTLE)

    def user_moves(self, *points):
        for x, y in points:
            self.s.mouse_move(x, y)
            time.sleep(SETTLE)

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
        k = Toolbar(self)
        k.click_button(2)
        k.wait_title(TITLE_BREAK)
        mark = len(w.lines())
        time.sleep(0.3)  # at playback F5's release reaches the toolbar before the witness has the focus
        self.user_moves((ox + 20, oy + 30), (ox + 61, oy + 47))
        s.activate(w.xid)
        s.xdo("mousedown", 1)
        time.sleep(KEY_HOLD)
        s.xdo("mouseup", 1)
        time.sleep(SETTLE)
        self.user_holds("k")
        s.key_down("shift")
        time.sleep(SETTLE)
        self.user_holds("v")
        s.key_up("shift")
        time.sleep(SETTLE)
        self.user_moves((ox + 150, oy + 100), (ox + 183, oy + 141), (ox + 232, oy + 170))
        s.xdo("mousedown", 3)
        time.sleep(KEY_HOLD)
        s.xdo("mouseup", 3)
        time.sleep(SETTLE)
        self.user_holds("2")
        self.user_moves((ox + 301, oy + 240))
        s.key("Pause")
        k.wait_title(TITLE_IDLE)
        recorded = [e for e in w.lines()[mark:] if not (e["msg"] in KEY_MESSAGES and e["vk"] == str(PAUSE_VK))]
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
        k = Toolbar(self)
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
        old = pack(KEYDOWN, 0x41, 0, 5) + pack(KEYUP, 0x41, 0, 9)
        full = full_tmpfs(self, self.folder("fs") / "full", files={"old.rec": old})
        source = Rec().move(1000, 740).move(1003, 741).write(self.folder("fs-in") / "kept name.rec")
        k = Toolbar(self, wine_path(source), title="kept name.rec")
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
        self.assertEqual(sorted(f.name for f in full.iterdir()), ["filler", "old.rec"], "no half-written file")
        self.assertEqual(k.title(), "kept name.rec")
        # Still the recording it had: Save elsewhere writes it.
        k.click_button(1)
        elsewhere = self.folder("fs-out")
        self.s.choose_file("Save As", elsewhere / "elsewhere")
        k.wait_title("elsewhere.rec")
        self.assertEqual((elsewhere / "elsewhere.rec").read_bytes(), source.read_bytes())
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
        k = Toolbar(self, wine_path(source), title="made elsewhere.rec")
        k.click_button(1)
        out = self.folder("same-out")
        self.s.choose_file("Save As", out / "saved again")
        k.wait_title("saved again.rec")
        self.assertEqual((out / "saved again.rec").read_bytes(), data)
        k.close()

    def test_bad_file_opened_warns_and_leaves_no_recording(self):
        good = Rec().move(1000, 740).write(self.folder("bo") / "good.rec")
        bad = self.folder("bo-bad") / "odd length.rec"
        bad.write_bytes(pack(MOVE, 10, 10, 100) + b"\0")  # 21 bytes
        k = Toolbar(self, wine_path(good), title="good.rec")
        k.press("Escape")  # tips off: the title keeps the name while the pointer crosses the buttons
        k.click_button(0)
        self.s.choose_file("Open", bad)
        k.expect_box(INVALID, caption=wine_path(bad))
        self.assertEqual(k.title(), "good.rec", "the title stays")
        k.press("F5")
        k.expect_box(NOTHING_RECORDED)
        k.close()


if __name__ == "__main__":
    unittest.main()
