"""The e2e driver for Kavorin, on top of the desktop (desktop.py):

- the program's own titles, captions, texts and record format, in one place;
- `Kavorin`: one running Kavorin.exe and its toolbar window (its buttons, its
  title, keys, its message boxes, its Options menu, its buttons on the screen
  checked against the strip);
- hand-made recordings (`Rec`, `pack`, `records_of`);
- the witness (witness/witness.cpp) and what it should see of a recording;
- `WineTestCase`, the base class of every e2e test.

Standard library only.
"""

import os
import re
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

# ----- the program's words --------------------------------------------------------

TITLE_CREATED = "Kavorin v1.22"  # the title it opens with
TITLE_IDLE = "Kavorin"  # idle, no file named
TITLE_BREAK = "{Break} to end"  # while recording or playing
CLASS = "KavorinClass"
CAPTION = "Kavorin"  # of its message boxes
INVALID = "Not a valid recording"
NOTHING_RECORDED = "Nothing Recorded\n\nPress the blue button to start a new recording"
SIZE_MARKER = b"KvSz"  # the program file's size slot: the stub image size follows it

# ----- recordings -----------------------------------------------------------------

RECORD = 20  # bytes: five little-endian uint32 (message, paramL, paramH, time, hwnd)
KEYDOWN, KEYUP, MOVE, LDOWN, LUP, RDOWN, RUP = 0x100, 0x101, 0x200, 0x201, 0x202, 0x204, 0x205
MDOWN, MUP = 0x207, 0x208
VK_SHIFT, VK_CONTROL, VK_PAUSE, VK_CAPITAL, VK_RIGHT, VK_DELETE = 0x10, 0x11, 0x13, 0x14, 0x27, 0x2E
SCANS = {VK_SHIFT: 0x2A, 0x41: 0x1E, 0x42: 0x30, VK_DELETE: 0x53, VK_RIGHT: 0x4D}  # what MapVirtualKeyA gives
EXTENDED = {VK_DELETE, VK_RIGHT}  # the extended keys among those the tests use


def pack(message, param_l, param_h, time_ms, hwnd=0):
    """One record."""
    return struct.pack("<5I", message, param_l, param_h, time_ms, hwnd)


def records_of(data):
    """The records of a recording's bytes: (message, paramL, paramH, time, hwnd)."""
    return [struct.unpack_from("<5I", data, i) for i in range(0, len(data) - len(data) % RECORD, RECORD)]


class Rec:
    """A recording made by hand; times in ms from an arbitrary `start`, each
    event `gap` ms after the one before. A key's scan code is 0 (the player
    looks it up), or with `scans` the key's real one (SCANS)."""

    def __init__(self, start=100000, scans=False):
        self.events = []  # (message, paramL, paramH, time)
        self.time, self.scans = start, scans

    def add(self, message, param_l, param_h, gap=10):
        self.time += gap
        self.events.append((message, param_l, param_h, self.time))
        return self

    def move(self, x, y, gap=10):
        return self.add(MOVE, x, y, gap)

    def button(self, message, x, y, gap=10):
        return self.add(message, x, y, gap)

    def key(self, message, vk, gap=10, scan=None):
        """scan None: the recording's kind (0, or the key's real scan code)."""
        if scan is None:
            scan = SCANS.get(vk, 0) if self.scans else 0
        return self.add(message, vk + 256 * scan, scan, gap)

    def data(self):
        return b"".join(pack(*e) for e in self.events)

    def records(self):
        return records_of(self.data())

    def write(self, path):
        path.write_bytes(self.data())
        return path


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


# ----- the witness ----------------------------------------------------------------

KEY_MESSAGES = ("WM_KEYDOWN", "WM_KEYUP", "WM_SYSKEYDOWN", "WM_SYSKEYUP")
BUTTON_MESSAGES = ("WM_LBUTTONDOWN", "WM_LBUTTONUP", "WM_RBUTTONDOWN", "WM_RBUTTONUP", "WM_MBUTTONDOWN",
                   "WM_MBUTTONUP")
WITNESS_MESSAGE = {KEYDOWN: "WM_KEYDOWN", KEYUP: "WM_KEYUP", LDOWN: "WM_LBUTTONDOWN", LUP: "WM_LBUTTONUP",
                   RDOWN: "WM_RBUTTONDOWN", RUP: "WM_RBUTTONUP", MDOWN: "WM_MBUTTONDOWN", MUP: "WM_MBUTTONUP"}
# Where the witness sits: clear of the toolbar (screen middle) and of the boxes over it.
WITNESS_AT = (40, 420, 360, 280)


class Witness:
    """Our witness program (witness/witness.cpp) running, and its log: one dict
    per line with the message name under 'msg' and the line's key=value
    fields, e.g. {'msg': 'WM_KEYDOWN', 'vk': '65', 'ext': '0', ...}."""

    def __init__(self, session, proc, log_path, xid, ready):
        self.s, self.proc, self.path, self.xid, self.ready = session, proc, Path(log_path), xid, ready
        self.client_origin = (int(ready["cx"]), int(ready["cy"]))  # on the screen
        self.client_size = (int(ready["w"]), int(ready["h"]))

    @classmethod
    def wait_ready(cls, session, proc, log_path, timeout=15.0):
        """The witness started as `proc` with this log, once it is up."""
        ready = wait_for(lambda: [e for e in cls.read(log_path) if e["msg"] == "READY"], timeout,
                         "the witness to start")[0]
        return cls(session, proc, log_path, session.wait_x_window("Kavorin Witness", timeout), ready)

    @staticmethod
    def read(path):
        try:
            text = Path(path).read_text()
        except OSError:
            return []
        out = []
        for line in text.splitlines():
            parts = line.split()
            if parts:
                entry = {"msg": parts[0]}
                entry.update(p.split("=", 1) for p in parts[1:] if "=" in p)
                out.append(entry)
        return out

    def lines(self):
        return self.read(self.path)

    def of(self, *names):
        """The log lines of these messages, in order."""
        return [e for e in self.lines() if e["msg"] in names]

    def held_keys(self, timeout=5.0):
        """The virtual keys the witness sees held right now (GetAsyncKeyState or
        GetKeyState high bit), through its sweep request file."""
        keys = self.path.with_name(self.path.name + ".keys")
        try:
            keys.unlink()
        except OSError:
            pass
        self.path.with_name(self.path.name + ".sweep").write_text("")
        text = wait_for(lambda: keys.exists() and keys.read_text(), timeout, "the witness's key sweep")
        if not text.rstrip().endswith("end"):
            raise AssertionError("incomplete key sweep: %r" % text)
        return [int(m) for m in re.findall(r"vk=(\d+)", text)]

    def inside(self, x, y):
        (ox, oy), (w, h) = self.client_origin, self.client_size
        return ox <= x < ox + w and oy <= y < oy + h


def key_events(entries, extended=False):
    """(message, vk) of the witness's key messages; with `extended`, (message,
    vk, extended-key flag)."""
    return [(e["msg"], int(e["vk"])) + ((int(e["ext"]),) if extended else ()) for e in entries
            if e["msg"] in KEY_MESSAGES]


def button_events(entries, client=False):
    """(message, screen x, screen y) of the witness's button messages; with
    `client`, in client coordinates."""
    x, y = ("x", "y") if client else ("sx", "sy")
    return [(e["msg"], int(e[x]), int(e[y])) for e in entries if e["msg"] in BUTTON_MESSAGES]


def typed(entries):
    """The text the witness's WM_CHAR messages make."""
    return "".join(chr(int(e["ch"])) for e in entries if e["msg"] == "WM_CHAR")


def plain_key(vk):
    """The code a program gets in its key messages: Shift, Ctrl and Alt of
    either side (0xA0-0xA5) arrive as the plain key (0x10-0x12)."""
    return 0x10 + (vk - 0xA0) // 2 if 0xA0 <= vk <= 0xA5 else vk


def expected_keys(records, extended=False):
    """What key_events should give for these records."""
    return [(WITNESS_MESSAGE[r[0]], plain_key(r[1] & 0xFF)) + ((int(r[1] & 0xFF in EXTENDED),) if extended else ())
            for r in records if r[0] in (KEYDOWN, KEYUP)]


def expected_buttons(records, origin=None):
    """What button_events should give for these records: screen positions, or
    client ones for a witness whose client area is at `origin`."""
    ox, oy = origin or (0, 0)
    return [(WITNESS_MESSAGE[r[0]], r[1] - ox, r[2] - oy) for r in records
            if r[0] in (LDOWN, LUP, RDOWN, RUP, MDOWN, MUP)]


def expected_moves(records, witness):
    """The positions of a recording's moves that fall in the witness's client
    area, repeats merged: where the witness should see the pointer go."""
    points = [(r[1], r[2]) for r in records if r[0] == MOVE and witness.inside(r[1], r[2])]
    return [p for i, p in enumerate(points) if i == 0 or p != points[i - 1]]


def near(p, q):
    """Within a pixel: how near a move must come to a point to count as
    reaching it."""
    return abs(p[0] - q[0]) <= 1 and abs(p[1] - q[1]) <= 1


def arrivals(entries, points):
    """The witness's time (qpc, ms) at which the pointer first came within a
    pixel of each point, in the points' order (None where it never came)."""
    moves = [(float(e["qpc"]), (int(e["sx"]), int(e["sy"]))) for e in entries if e["msg"] == "WM_MOUSEMOVE"]
    out, at = [], 0
    for p in points:
        j = next((j for j in range(at, len(moves)) if near(moves[j][1], p)), None)
        out.append(None if j is None else moves[j][0])
        at = at if j is None else j
    return out


def follow_moves(entries, points):
    """Follows the witness's pointer moves along the expected screen points:
    returns (hit, stray), the indices of the points reached, in order, and the
    moves that fit no point at or after the last one reached. A move counts as
    reaching a point when it is within a pixel of it (`near`); moves back to
    back may be merged away in the witness's queue. Now and then the X server
    echoes a move after the next one: a move to a point already passed is
    taken for that echo."""
    hit, stray, at = [], [], 0
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


# ----- what a user does fast ---------------------------------------------------------
# Schedules of real input for XTest (desktop.XTest): rollovers 2-8 ms apart, taps
# of 2-6 ms, both sides of the modifiers, the keypad with Num Lock on and off,
# navigation keys, the wheel both ways and sideways, the middle, right and X
# buttons; and what of the witness's log must come back exactly.

ROLLOVERS = tuple(zip((2, 3, 5, 8), ("sa", "df", "gh", "jk")))  # (ms apart, keys in order)
TAPS = tuple(zip((2, 3, 4, 6), "qwer"))  # (ms held, key)
WHEEL = (4, 4, 5, 5, 6, 7)  # X buttons: up, down, left, right
VK_F5 = 0x74


def exact_schedule(origin, rounds=1):
    """(ms, kind, ...) events into the witness whose client area is at
    `origin`: a click into it first (300 ms on, so that F5's release at
    playback reaches the toolbar before), the round `rounds` times, Pause."""
    ox, oy = origin
    events, t = [], 0

    def at(gap, *event):
        nonlocal t
        t += gap
        events.append((t,) + event)

    def tap(key, hold=10, gap=40):
        at(gap, "key", key, True)
        at(hold, "key", key, False)

    at(300, "move", ox + 40, oy + 40)
    at(60, "button", 1, True)
    at(50, "button", 1, False)
    for _ in range(rounds):
        for d, (a, b) in ROLLOVERS:
            at(80, "key", a, True)
            at(d, "key", b, True)
            at(30, "key", a, False)
            at(d, "key", b, False)
        for d, key in TAPS:
            tap(key, hold=d, gap=60)
        for mod in ("Shift_L", "Shift_R", "Control_L", "Control_R", "Alt_L", "Alt_R", "Super_L"):
            at(60, "key", mod, True)
            tap("z", gap=20)
            at(20, "key", mod, False)
        for key in ("KP_Enter", "Return", "Home", "Delete", "Left", "Next", "Insert", "KP_Divide"):
            tap(key)
        tap("Num_Lock")  # on: the keypad gives digits
        for key in ("KP_Home", "KP_Delete", "KP_Left", "KP_Begin"):
            tap(key)
        tap("Num_Lock")  # off again: the keypad moves
        for key in ("KP_Home", "KP_Delete", "KP_Left"):
            tap(key)
        at(60, "move", ox + 150, oy + 120)
        for button in WHEEL:
            at(40, "button", button, True)
            at(2, "button", button, False)
        for button, x, y in ((2, 200, 150), (3, 240, 180), (8, 100, 60), (9, 120, 200)):
            at(60, "move", ox + x, oy + y)
            at(30, "button", button, True)
            at(40, "button", button, False)
    at(60, "move", ox + 300, oy + 240)
    at(80, "key", "Pause", True)
    at(30, "key", "Pause", False)
    return events


def exact_messages(entries, times=False):
    """What a round trip must keep of the witness's log: keys (code, scan
    code, extended bit), characters, buttons at their client positions,
    the wheel's deltas; not moves, and not Pause or F5. With `times`, each
    with its time (qpc, ms) first."""
    out = []
    for e in entries:
        m = e["msg"]
        if m in KEY_MESSAGES and int(e["vk"]) not in (VK_PAUSE, VK_F5):
            item = (m, int(e["vk"]), int(e["scan"]), int(e["ext"]))
        elif m == "WM_CHAR":
            item = (m, int(e["ch"]))
        elif m in BUTTON_MESSAGES or m.startswith("WM_XBUTTON"):
            item = (m, e.get("button"), int(e["x"]), int(e["y"]))
        elif m in ("WM_MOUSEWHEEL", "WM_MOUSEHWHEEL"):
            item = (m, int(e["delta"]))
        else:
            continue
        out.append((float(e["qpc"]),) + item if times else item)
    return out


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
        used."""
        exe = Path(exe or kavorin_exe())
        if not exe.exists():
            test.fail("%s is missing: build it with scripts/build.sh win" % exe)
        test.s.mouse_move(*PARKED)
        proc = test.start(exe, *args)
        return cls.attach(test.s, proc, exe, title, timeout, test=test,
                          shots=SHOTS / test.id().rsplit(".", 1)[-1])

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
        self.wait_title(title)

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
