"""The witness (witness/witness.cpp) in the e2e tests: the running program and
its log (`Witness`), what it should see of a recording (`expected_keys`,
`expected_buttons`, `expected_moves`, `follow_moves`, ...), and schedules of
real input for XTest with what of the log must come back exactly
(`exact_schedule`, `exact_messages`).

Standard library only.
"""

import re
import time
from pathlib import Path

from recordings import EXTENDED, KEYDOWN, KEYUP, LDOWN, LUP, MDOWN, MOVE, MUP, RDOWN, RUP, VK_PAUSE
from session import wait_for

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
