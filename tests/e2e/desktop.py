"""The e2e desktop: what a session shows and how a user works it.

`Desktop` is a Session (session.py) that also looks at windows from the Win32
side (tools/wintool.cpp: top-level windows, child controls and their texts,
open menus; it also presses buttons and posts WM_CLOSE, and Wine draws a
message box's text itself, so X cannot read it) and from the X side (xdotool,
xwininfo, xprop, the pointer's shape through XFixes), presses keys and moves and
clicks the mouse as a user would, and takes screenshots with pixel access.
Images: screenshots (PPM from ImageMagick's import), 24-bit and 8-bit BMP files, PNG
written by res/mkart.py's writer.

Standard library only.
"""

import ctypes
import os
import re
import runpy
import struct
import subprocess
import time
from pathlib import Path

from session import REPO, Session, WaitTimeout, tool_exe, wait_for, wine_path

KEY_HOLD = 0.06  # a 10 ms sampler must see every key: hold it for more than 50 ms
SETTLE = 0.04  # between two input events of a user: a 10 ms sampler sees each on its own

WS_EX_TOPMOST = 0x8
WS_EX_TOOLWINDOW = 0x80


# ----- what wintool prints ---------------------------------------------------

def _regex_exact(text):
    """An anchored POSIX extended regex that matches `text` literally (xdotool
    search takes a regex: a title like "{Break} to end" must be escaped)."""
    return "^" + re.sub(r"([\\.^$|?*+()\[\]{}])", r"\\\1", text) + "$"


def _unescape(text):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            n = text[i + 1]
            if n == "x" and i + 3 < len(text):
                out.append(chr(int(text[i + 2:i + 4], 16)))
                i += 4
                continue
            out.append({"n": "\n", "r": "\r", "t": "\t"}.get(n, n))
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


def _split_fields(line, keys):
    """Splits "k1=v1 k2=v2 ... kn=rest" with the keys in a known order; the last
    value runs to the end of the line (it may hold blanks and '=')."""
    fields, rest = {}, line
    for i, key in enumerate(keys):
        if not rest.startswith(key + "="):
            raise ValueError("unexpected wintool line: %r" % line)
        rest = rest[len(key) + 1:]
        if i + 1 < len(keys):
            cut = rest.find(" " + keys[i + 1] + "=")
            if cut < 0:
                raise ValueError("unexpected wintool line: %r" % line)
            fields[key], rest = rest[:cut], rest[cut + 1:]
        else:
            fields[key] = rest
    return fields


_WINDOW_KEYS = ["hwnd", "pid", "visible", "topmost", "style", "exstyle", "rect", "client", "class", "exe", "title"]
_CHILD_KEYS = ["hwnd", "id", "visible", "class", "text"]


class Win:
    """A top-level window as the Win32 side sees it (one wintool line)."""

    def __init__(self, line):
        f = _split_fields(line, _WINDOW_KEYS)
        self.hwnd = int(f["hwnd"], 16)
        self.pid = int(f["pid"])  # the Windows process id, not the Linux one
        self.visible = f["visible"] == "1"
        self.topmost = f["topmost"] == "1"
        self.style = int(f["style"], 16)
        self.exstyle = int(f["exstyle"], 16)
        self.rect = tuple(int(v) for v in f["rect"].split(","))  # left, top, right, bottom
        cx, cy, cw, ch = (int(v) for v in f["client"].split(","))
        self.client_origin = (cx, cy)  # on the screen
        self.client_size = (cw, ch)
        self.cls = f["class"]
        self.exe = f["exe"]
        self.title = _unescape(f["title"])
        self.children = []

    @property
    def size(self):
        return (self.rect[2] - self.rect[0], self.rect[3] - self.rect[1])

    def __repr__(self):
        return "<Win 0x%x %r class=%s visible=%d exe=%s>" % (self.hwnd, self.title, self.cls, self.visible, self.exe)


class Child:
    def __init__(self, line):
        f = _split_fields(line, _CHILD_KEYS)
        self.hwnd = int(f["hwnd"], 16)
        self.id = int(f["id"])
        self.visible = f["visible"] == "1"
        self.cls = f["class"]
        self.text = _unescape(f["text"])

    def __repr__(self):
        return "<Child %s id=%d %r>" % (self.cls, self.id, self.text)


class MessageBox:
    """A message box found on the desktop: caption, text, buttons."""

    def __init__(self, win):
        self.win = win
        self.hwnd = win.hwnd
        self.caption = win.title
        statics = [c for c in win.children if c.cls.lower() == "static" and c.text]
        self.text = "\n".join(c.text for c in statics)
        self.buttons = [c.text.replace("&", "") for c in win.children if c.cls.lower() == "button"]

    def __repr__(self):
        return "<MessageBox %r: %r %r>" % (self.caption, self.text, self.buttons)


class MenuItem:
    """One item of an open pop-up menu (one wintool "item" line)."""

    def __init__(self, line):
        f = _split_fields(line, ["pos", "id", "state", "checked", "separator", "text"])
        self.pos, self.id, self.state = int(f["pos"]), int(f["id"], 16), int(f["state"], 16)
        self.checked, self.separator = f["checked"] == "1", f["separator"] == "1"
        self.text = _unescape(f["text"])

    def __repr__(self):
        return "<MenuItem %d %r%s>" % (self.pos, "-" if self.separator else self.text,
                                       " checked" if self.checked else "")


class Menu:
    """An open pop-up menu (window class #32768) and its items, read in the
    process that owns it."""

    def __init__(self, line):
        f = _split_fields(line, ["hwnd", "pid", "rect", "count"])
        self.hwnd, self.pid = int(f["hwnd"], 16), int(f["pid"])
        self.rect = tuple(int(v) for v in f["rect"].split(","))
        self.count = int(f["count"])
        self.items = []

    def __repr__(self):
        return "<Menu 0x%x at %s: %r>" % (self.hwnd, self.rect[:2], self.items)


class Screenshot:
    """The whole virtual screen, as RGB pixels."""

    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.rgb[i:i + 3])

    def region(self, x, y, w, h):
        """Rows of pixels of a rectangle, for comparing areas."""
        return [[self.pixel(x + i, y + j) for i in range(w)] for j in range(h)]

    def save_png(self, path):
        rows = [self.rgb[y * self.width * 3:(y + 1) * self.width * 3] for y in range(self.height)]
        Path(path).write_bytes(_png_writer()(self.width, self.height, rows))
        return Path(path)


def _png_writer():
    """The PNG writer of res/mkart.py, which makes the program's art and writes
    its previews: the one the tests use too."""
    if not _png:
        _png.append(runpy.run_path(str(REPO / "res" / "mkart.py"))["png"])
    return _png[0]


_png = []


def _parse_ppm(data):
    # P6 <w> <h> <max>\n<rgb bytes>; no comments in what ImageMagick writes.
    parts = data.split(maxsplit=4)
    if parts[0] != b"P6" or int(parts[3]) != 255:
        raise ValueError("unexpected screenshot format")
    return Screenshot(int(parts[1]), int(parts[2]), parts[4][:int(parts[1]) * int(parts[2]) * 3])


def parse_bmp(data):
    """A 24-bit or 8-bit (palette) uncompressed DIB: rows of (r, g, b), top row first."""
    if data[:2] != b"BM":
        raise ValueError("not a BMP file")
    offset = struct.unpack_from("<I", data, 10)[0]
    header, width, height, planes, bits, compression = struct.unpack_from("<IiiHHI", data, 14)
    if bits not in (8, 24) or compression != 0:
        raise ValueError("expected an uncompressed 24-bit or 8-bit DIB, got %d bits, compression %d"
                         % (bits, compression))
    used = struct.unpack_from("<I", data, 46)[0] or 256
    palette = [tuple(data[14 + header + 4 * i + 2 - c] for c in range(3)) for i in range(used)] if bits == 8 else []
    stride = (width * bits // 8 + 3) & ~3
    rows = []
    for r in range(abs(height)):
        y = abs(height) - 1 - r if height > 0 else r  # bottom-up unless the height is negative
        start = offset + y * stride
        if bits == 8:
            rows.append([palette[data[start + x]] for x in range(width)])
        else:
            rows.append([tuple(data[start + 3 * x + 2 - c] for c in range(3)) for x in range(width)])
    return rows


# ----- the pointer's shape, from the X server --------------------------------

class _CursorImage(ctypes.Structure):
    _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short), ("width", ctypes.c_ushort),
                ("height", ctypes.c_ushort), ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                ("cursor_serial", ctypes.c_ulong), ("pixels", ctypes.POINTER(ctypes.c_ulong)),
                ("atom", ctypes.c_ulong), ("name", ctypes.c_char_p)]


_xlibs = []


def _pointer_shape(display):
    if not _xlibs:
        x11, xfixes = ctypes.CDLL("libX11.so.6"), ctypes.CDLL("libXfixes.so.3")
        x11.XOpenDisplay.restype, x11.XOpenDisplay.argtypes = ctypes.c_void_p, [ctypes.c_char_p]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        x11.XFree.argtypes = [ctypes.c_void_p]
        xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(_CursorImage)
        xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
        _xlibs.extend((x11, xfixes))
    x11, xfixes = _xlibs
    dpy = x11.XOpenDisplay(display.encode())
    if not dpy:
        raise RuntimeError("cannot open display %s" % display)
    try:
        ptr = xfixes.XFixesGetCursorImage(dpy)
        im = ptr.contents
        shape = (im.width, im.height, im.xhot, im.yhot,
                 tuple(im.pixels[i] & 0xFFFFFFFF for i in range(im.width * im.height)))
        x11.XFree(ptr)
        return shape
    finally:
        x11.XCloseDisplay(dpy)


class XTest:
    """Input through the X server's XTEST extension, each event at its own
    deadline: xdotool waits about 12 ms per command, too slow for keys 2 ms
    apart. An event is (ms, kind, *args): ("key", keysym name, down),
    ("button", X button number, down) (4/5 the wheel up/down, 6/7 left/right,
    8/9 the X buttons back/forward) or ("move", x, y)."""

    def __init__(self, display):
        self.x11, self.xtst = ctypes.CDLL("libX11.so.6"), ctypes.CDLL("libXtst.so.6")
        self.x11.XOpenDisplay.restype, self.x11.XOpenDisplay.argtypes = ctypes.c_void_p, [ctypes.c_char_p]
        self.x11.XStringToKeysym.restype, self.x11.XStringToKeysym.argtypes = ctypes.c_ulong, [ctypes.c_char_p]
        self.x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x11.XFlush.argtypes = self.x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        self.xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        self.xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                                   ctypes.c_ulong]
        self.dpy = self.x11.XOpenDisplay(display.encode())
        if not self.dpy:
            raise RuntimeError("cannot open display %s" % display)

    def keycode(self, name):
        code = self.x11.XKeysymToKeycode(self.dpy, self.x11.XStringToKeysym(name.encode()))
        if not code:
            raise ValueError("no key for keysym %r on this display" % name)
        return code

    def send(self, kind, *args):
        if kind == "key":
            self.xtst.XTestFakeKeyEvent(self.dpy, self.keycode(args[0]), int(args[1]), 0)
        elif kind == "button":
            self.xtst.XTestFakeButtonEvent(self.dpy, args[0], int(args[1]), 0)
        else:
            self.xtst.XTestFakeMotionEvent(self.dpy, -1, args[0], args[1], 0)
        self.x11.XFlush(self.dpy)

    def play(self, events, lead=0.05):
        """Sends each event when its time (ms from now + lead) comes; returns
        how late each went, in ms. The last stretch before a deadline is
        spun, not slept: a sleep can wake a millisecond late. Where it may
        (as root), it plays at real-time priority, so that a busy machine
        does not make it late."""
        try:
            policy = os.sched_getscheduler(0), os.sched_getparam(0)
            os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(10))
        except (OSError, AttributeError):
            policy = None
        try:
            return self._play(events, lead)
        finally:
            if policy:
                os.sched_setscheduler(0, policy[0], policy[1])

    def _play(self, events, lead):
        start = time.perf_counter() + lead
        late = []
        for ms, kind, *args in events:
            due = start + ms / 1000.0
            while True:
                left = due - time.perf_counter()
                if left <= 0:
                    break
                if left > 0.002:
                    time.sleep(left - 0.0015)
            late.append((time.perf_counter() - due) * 1000.0)
            self.send(kind, *args)
        return late

    def close(self):
        if self.dpy:
            self.x11.XCloseDisplay(self.dpy)
            self.dpy = None


class Desktop(Session):
    """The session's desktop: windows, menus, keys, mouse and screen."""

    # ----- the Win32 side (wintool) ---------------------------------------

    def wintool(self, *args):
        rc, out = self.run_exe(tool_exe("wintool"), *args)
        if rc == 2:
            raise RuntimeError("wintool %s: misuse" % (args,))
        return rc, out

    def windows(self, sel=None):
        """Top-level windows: all, or those of a selector ("class=NAME",
        "hwnd=HEX" or an exact title)."""
        rc, out = self.wintool(*(["info", sel] if sel else ["list"]))
        return [Win(line) for line in out.splitlines() if line.startswith("hwnd=")]

    def windows_of(self, exe, cls=None):
        """The top-level windows of the processes started from `exe`."""
        want = wine_path(exe).lower()
        return [w for w in self.windows("class=" + cls if cls else None) if w.exe.lower() == want]

    def window_texts(self, sel):
        rc, out = self.wintool("texts", sel)
        wins = []
        for line in out.splitlines():
            if line.startswith("hwnd="):
                wins.append(Win(line))
            elif line.startswith("child ") and wins:
                wins[-1].children.append(Child(line[len("child "):]))
        return wins

    def controls(self, caption):
        """The child controls of the window with this caption: dicts with hwnd,
        id, style, rect (on the screen), cls, text (wintool controls)."""
        rc, out = self.wintool("controls", caption)
        found = []
        for line in out.splitlines():
            if line.startswith("control "):
                f = _split_fields(line[len("control "):],
                                  ["hwnd", "id", "visible", "style", "exstyle", "rect", "class", "text"])
                found.append(dict(hwnd=int(f["hwnd"], 16), id=int(f["id"]), style=int(f["style"], 16),
                                  rect=tuple(int(v) for v in f["rect"].split(",")), cls=f["class"],
                                  text=_unescape(f["text"])))
        return found

    def wait_window(self, title=None, exe=None, cls=None, visible=True, timeout=10.0):
        """Waits for a top-level window by exact title and/or program and class."""

        def look():
            found = self.windows_of(exe, cls) if exe else self.windows("class=" + cls if cls else title)
            return [w for w in found if (title is None or w.title == title)
                    and (visible is None or w.visible == visible)]

        return wait_for(look, timeout, "a window %s" % ", ".join(
            "%s=%r" % kv for kv in (("title", title), ("exe", exe), ("class", cls), ("visible", visible))
            if kv[1] is not None))[0]

    def message_box(self, caption, exe=None, timeout=10.0):
        """Waits for a visible message box with this exact caption and reads it."""

        def look():
            for w in self.window_texts(caption):
                if w.cls == "#32770" and w.visible and (exe is None or w.exe.lower() == wine_path(exe).lower()):
                    if any(c.cls.lower() == "button" for c in w.children):
                        return MessageBox(w)
            return None

        return wait_for(look, timeout, "a message box captioned %r" % caption)

    def press_button(self, box, button="OK"):
        """Presses a button of a dialog or message box (no focus needed)."""
        hwnd = box.hwnd if hasattr(box, "hwnd") else box
        rc, _ = self.wintool("click", "hwnd=%x" % hwnd, button)
        if rc != 0:
            raise AssertionError("no button %r in window 0x%x" % (button, hwnd))

    def press_key_in(self, win, *keysyms, timeout=10.0):
        """Presses keys in a window the way a user would: waits until its X
        window is the active one (keys sent earlier are lost), then types."""
        xid = self.wait_x_window(win.caption if isinstance(win, MessageBox) else win.title, timeout)
        self.wait_active(xid, timeout)
        self.key(*keysyms)

    def close_window(self, win):
        """Posts WM_CLOSE to a window (Win or hwnd), as its close box would."""
        hwnd = win.hwnd if hasattr(win, "hwnd") else win
        self.wintool("close", "hwnd=%x" % hwnd)

    def menus(self):
        """The visible pop-up menus with their items (texts with their '&'
        marks, check marks, separators)."""
        rc, out = self.wintool("menu")
        menus = []
        for line in out.splitlines():
            if line.startswith("menu "):
                menus.append(Menu(line[len("menu "):]))
            elif line.startswith("item ") and menus:
                menus[-1].items.append(MenuItem(line[len("item "):]))
        return menus

    def choose_file(self, title, path, timeout=10.0):
        """Answers an Open or Save dialog (its caption `title`) as a user would:
        waits until it is the active window, types the Windows path of `path`
        into its file name field, checks that the field holds it and presses
        Enter."""
        text = path if isinstance(path, str) else wine_path(path)
        self.wait_active(self.wait_x_window(title, timeout), timeout)
        self.type_text(text, hold=0.01)  # no sampler here: short taps are enough

        seen = [None]

        def field_reads_path():
            for w in self.window_texts(title):
                for c in w.children:
                    if c.cls.lower() == "edit" and c.id == 1148:  # the file name field
                        seen[0] = c.text
            return seen[0] == text

        try:
            wait_for(field_reads_path, 5, "the file name field to read %r" % text)
        except WaitTimeout as e:
            raise WaitTimeout("%s; it reads %r" % (e, seen[0])) from None
        self.key("Return", hold=0.03)

    # ----- the X side -----------------------------------------------------

    def xdo(self, *args):
        return self.run("xdotool", *[str(a) for a in args]).stdout

    def x_windows(self, title, visible_only=False):
        """X windows whose name is exactly `title` (xdotool matches a regex and
        ignores case; the exact name is checked here)."""
        args = ["search"] + (["--onlyvisible"] if visible_only else []) + ["--name", _regex_exact(title)]
        ids = [int(v) for v in self.xdo(*args).split()]
        return [i for i in ids if self.xdo("getwindowname", i).rstrip("\n") == title]

    def wait_x_window(self, title, timeout=10.0, visible_only=True):
        return wait_for(lambda: self.x_windows(title, visible_only), timeout, "an X window named %r" % title)[0]

    def x_geometry(self, xid):
        """dict x, y, width, height (of the X window itself), viewable,
        override_redirect."""
        out = self.run("xwininfo", "-id", str(xid)).stdout

        def num(label):
            m = re.search(r"%s:\s+(-?\d+)" % re.escape(label), out)
            return int(m.group(1)) if m else None

        return dict(x=num("Absolute upper-left X"), y=num("Absolute upper-left Y"), width=num("Width"),
                    height=num("Height"), viewable="Map State: IsViewable" in out,
                    override_redirect="Override Redirect State: yes" in out)

    def x_property(self, xid, name):
        return self.run("xprop", "-id", str(xid), name).stdout

    def x_net_wm_state(self, xid):
        """The _NET_WM_STATE atoms of a window. Wine sets _NET_WM_STATE_ABOVE
        for a WS_EX_TOPMOST window that the window manager manages."""
        out = self.x_property(xid, "_NET_WM_STATE")
        return set(re.findall(r"_NET_WM_STATE_\w+", out.split("=", 1)[1] if "=" in out else ""))

    def x_pid(self, xid):
        m = re.search(r"= (\d+)", self.x_property(xid, "_NET_WM_PID"))
        return int(m.group(1)) if m else None

    def active_window(self):
        out = self.run("xdotool", "getactivewindow").stdout.strip()
        return int(out) if out.isdigit() else None

    def wait_active(self, xid, timeout=10.0):
        """Before typing into a window, wait until it is the active one: keys
        sent earlier are lost."""
        wait_for(lambda: self.active_window() == xid, timeout, "X window %d to become active" % xid)

    def activate(self, xid, timeout=10.0):
        self.xdo("windowactivate", xid)
        self.wait_active(xid, timeout)

    def pointer_shape(self):
        """(width, height, hot x, hot y, ARGB pixels) of the pointer as the X
        server shows it now (XFixes), whichever program set it."""
        return _pointer_shape(self.display)

    # ----- input ----------------------------------------------------------

    def key(self, *keysyms, hold=KEY_HOLD):
        """Presses and releases each key in turn, each held for `hold` seconds."""
        for k in keysyms:
            self.xdo("keydown", k)
            time.sleep(hold)
            self.xdo("keyup", k)
            time.sleep(0.01)

    def key_down(self, keysym):
        self.xdo("keydown", keysym)

    def key_up(self, keysym):
        self.xdo("keyup", keysym)

    def type_text(self, text, hold=KEY_HOLD):
        # xdotool type sleeps half the delay between a key's press and release.
        self.xdo("type", "--delay", int(hold * 2000), text)

    def mouse_move(self, x, y):
        self.xdo("mousemove", x, y)

    def user_holds(self, *keysyms, hold=KEY_HOLD, settle=SETTLE):
        """Presses the keys one after the other as a user would: each held for
        `hold`, then a pause, so that a 10 ms sampler sees every event on its own."""
        for k in keysyms:
            self.key_down(k)
            time.sleep(hold)
            self.key_up(k)
            time.sleep(settle)

    def user_moves(self, *points, settle=SETTLE):
        """Moves the pointer through the points as a user would, resting at each."""
        for x, y in points:
            self.mouse_move(x, y)
            time.sleep(settle)

    def mouse_position(self):
        out = self.xdo("getmouselocation", "--shell")
        vals = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(vals["X"]), int(vals["Y"])

    def swap_buttons(self, on):
        """Left-handed mouse buttons (the user's setting, in the registry) for
        the programs started from now on."""
        proc = self.start_exe("reg", "add", r"HKCU\Control Panel\Mouse", "/v", "SwapMouseButtons", "/t", "REG_SZ",
                              "/d", "1" if on else "0", "/f")
        if proc.wait_exit(30) != 0:
            raise RuntimeError("reg add SwapMouseButtons failed")

    def play_input(self, events, lead=0.05):
        """Plays a schedule of input events through XTEST at their deadlines
        (see XTest); returns how late each went, in ms."""
        xt = XTest(self.display)
        try:
            return xt.play(events, lead)
        finally:
            xt.close()

    def click(self, x=None, y=None, button=1, hold=KEY_HOLD):
        if x is not None:
            self.mouse_move(x, y)
        self.xdo("mousedown", button)
        time.sleep(hold)
        self.xdo("mouseup", button)

    # ----- screen ---------------------------------------------------------

    def screenshot(self, path=None):
        """The whole screen; also written to `path` as PNG when given."""
        r = subprocess.run(["import", "-silent", "-window", "root", "-depth", "8", "ppm:-"], env=self.env,
                           capture_output=True, timeout=30)
        if r.returncode != 0:
            raise RuntimeError("import failed: %s" % r.stderr.decode(errors="replace"))
        shot = _parse_ppm(r.stdout)
        if path:
            shot.save_png(path)
        return shot
