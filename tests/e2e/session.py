"""End-to-end fixture: the real Kavorin.exe under Wine on a virtual X display.

One session per test run (shared by every test module of a `unittest discover`):
Xvfb on a display it picks itself, openbox as window manager (without one Wine
stalls on hiding windows and keys go to the window under the pointer), a
throw-away WINEPREFIX copied from a template prefix that is made once and kept
in build/wine-template, WINEDEBUG=-all, and a persistent wineserver for fast
program starts. Everything is torn down by pid at the end, also on failure or
SIGTERM; children also get SIGTERM should this process die without cleaning up.

Tests derive from `WineTestCase` and use the session through `self.s`:
start programs, wait for conditions, find windows from the X side (xdotool,
xwininfo, xprop) and from the Win32 side (tools/wintool.cpp, which also reads
message box texts and presses their buttons), press keys, move and click the
mouse, and take screenshots.

Standard library only. Also a command line for scripts/run.sh:
    python3 tests/e2e/session.py run [--exe PATH] [--shot PATH] [--shot-only]
"""

import atexit
import ctypes
import fcntl
import glob
import os
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zlib
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
BUILD = REPO / "build"


class Arch:
    """One Windows build and what runs it: its build folder, Wine's loader and
    wineserver for it (called directly: the `wine` wrapper picks the 32-bit
    loader whenever it is installed), its kind of prefix and its compiler."""

    def __init__(self, name, build, loader, server, winearch, cxx, machine):
        self.name, self.build, self.loader, self.server = name, BUILD / build, loader, server
        self.winearch, self.cxx, self.machine = winearch, cxx, machine
        self.template = BUILD / ("wine-template-" + winearch)

    def __repr__(self):
        return "%s build" % self.name


ARCHES = {
    "i386": Arch("i386", "win", "/usr/lib/wine/wine", "/usr/lib/wine/wineserver32", "win32", "i686-w64-mingw32-g++",
                 0x14C),
    "x86-64": Arch("x86-64", "win64", "/usr/lib/wine/wine64", "/usr/lib/wine/wineserver64", "win64",
                   "x86_64-w64-mingw32-g++", 0x8664),
}


def machine_arch():
    """The build this machine runs natively: scripts/machine-arch.sh asks the
    32-bit loader once and keeps its answer."""
    r = subprocess.run(["bash", str(REPO / "scripts" / "machine-arch.sh")], capture_output=True, text=True)
    return r.stdout.strip() or "x86-64"


def _pick_arch():
    name = os.environ.get("KV_ARCH") or machine_arch()
    if name not in ARCHES:
        raise SystemExit("KV_ARCH must be one of %s, not %r" % (", ".join(ARCHES), name))
    return ARCHES[name]


ARCH = _pick_arch()  # KV_ARCH=i386 or KV_ARCH=x86-64 picks the build under test
WINE = ARCH.loader
WIN_BUILD = Path(os.environ.get("KV_WIN_BUILD", ARCH.build))
TOOLS_BUILD = BUILD / ("e2e-tools-" + ARCH.name)
TEMPLATE = ARCH.template
E2E_DIR = Path(__file__).resolve().parent
SCREEN_W, SCREEN_H = 1024, 768
POLL = 0.02  # seconds between two looks at a condition
KEY_HOLD = 0.06  # a 10 ms sampler must see every key: hold it for more than 50 ms
MINGW_CXX = ARCH.cxx
WINEDLLOVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d"  # no Mono/Gecko prompts, no menus

WS_EX_TOPMOST = 0x8
WS_EX_TOOLWINDOW = 0x80


class SessionError(RuntimeError):
    """The virtual desktop or Wine could not be started; the message says what
    failed in one line."""


def _last_line(output):
    lines = [l for l in (output.decode(errors="replace") if isinstance(output, bytes) else output).splitlines()
             if l.strip()]
    return lines[-1].strip() if lines else "no message"


class WaitTimeout(AssertionError):
    """A condition did not come true in time (reported as a test failure)."""


def wait_for(predicate, timeout=10.0, what=None, interval=POLL):
    """Polls `predicate` every `interval` seconds; returns its first true value,
    or raises WaitTimeout after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise WaitTimeout("timed out after %.1f s waiting for %s" % (timeout, what or predicate))
        time.sleep(interval)


def holds_for(predicate, duration, what=None, interval=POLL):
    """Polls `predicate` every `interval` seconds for `duration` seconds and
    fails at the first false answer (for "still running", "still hidden")."""
    deadline = time.monotonic() + duration
    while True:
        if not predicate():
            raise AssertionError("no longer true: %s" % (what or predicate))
        if time.monotonic() >= deadline:
            return
        time.sleep(interval)


def wine_path(path):
    """The Windows name of a Linux path: Wine's drive Z: is the root."""
    return "Z:" + os.path.abspath(str(path)).replace("/", "\\")


def _die_with_parent():
    # Runs in the child before exec: SIGTERM when the test process goes away.
    try:
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    except Exception:
        pass


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
        return "<MenuItem %d %r%s>" % (self.pos, "-" if self.separator else self.text, " checked" if self.checked else "")


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
        raw = b"".join(b"\0" + self.rgb[y * self.width * 3:(y + 1) * self.width * 3] for y in range(self.height))

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

        png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0))
        png += chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b"")
        Path(path).write_bytes(png)
        return Path(path)


def _parse_ppm(data):
    # P6 <w> <h> <max>\n<rgb bytes>; no comments in what ImageMagick writes.
    parts = data.split(maxsplit=4)
    if parts[0] != b"P6" or int(parts[3]) != 255:
        raise ValueError("unexpected screenshot format")
    return Screenshot(int(parts[1]), int(parts[2]), parts[4][:int(parts[1]) * int(parts[2]) * 3])


class Proc:
    """A Windows program started under Wine. The Linux process is the Windows
    process (the wine launcher execs it), so its exit status is the program's
    exit code (modulo 256)."""

    def __init__(self, popen, name, log):
        self.popen, self.name, self.log = popen, name, log

    @property
    def pid(self):
        return self.popen.pid

    def alive(self):
        return self.popen.poll() is None

    @property
    def exit_code(self):
        """None while running."""
        return self.popen.poll()

    def wait_exit(self, timeout=10.0):
        wait_for(lambda: not self.alive(), timeout, "%s (pid %d) to exit" % (self.name, self.pid))
        return self.popen.returncode

    def kill(self):
        if self.alive():
            try:
                os.kill(self.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        try:
            self.popen.wait(5)
        except subprocess.TimeoutExpired:
            pass

    def output(self):
        try:
            return Path(self.log).read_text(errors="replace")
        except OSError:
            return ""

    def __repr__(self):
        return "<Proc %s pid=%d exit=%r>" % (self.name, self.pid, self.exit_code)


def _newer(target, source):
    return target.exists() and target.stat().st_mtime >= source.stat().st_mtime


def tool_exe(name):
    """Path of one of our Windows test tools (witness, wintool): the CMake build's
    when it is current, else built here by hand with the same toolchain."""
    sources = {"witness": E2E_DIR / "witness" / "witness.cpp", "wintool": E2E_DIR / "tools" / "wintool.cpp"}
    flags = {"witness": ["-mwindows", "-fno-exceptions", "-fno-rtti"], "wintool": []}
    src = sources[name]
    built = WIN_BUILD / (name + ".exe")
    if _newer(built, src):
        return built
    out = TOOLS_BUILD / (name + ".exe")
    TOOLS_BUILD.mkdir(parents=True, exist_ok=True)
    with open(TOOLS_BUILD / ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not _newer(out, src):
            tmp = out.with_suffix(".tmp.exe")
            subprocess.run([MINGW_CXX, "-std=c++17", "-Os", "-Wall", "-static", "-s", *flags[name], "-o", str(tmp),
                            str(src)], check=True)
            os.replace(tmp, out)
    return out


def kavorin_exe():
    return WIN_BUILD / "Kavorin.exe"


class Session:
    """The virtual desktop with Wine. Start with start(), end with stop()."""

    def __init__(self, display=None):
        """display: use this existing X display instead of starting Xvfb and
        openbox (scripts/run.sh on a desktop)."""
        self.own_display = display is None
        self.display = display
        self.tmp = Path(tempfile.mkdtemp(prefix="kv-e2e-"))
        self.prefix = self.tmp / "prefix"
        self.files = self.tmp / "files"
        self.files.mkdir()
        self.xvfb = self.openbox = self.wineserver = self.watchdog = None
        self._server_dir = None
        self.procs = []
        self.timings = {}
        env = {k: v for k, v in os.environ.items()
               if not k.startswith("WINE") and k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env.update(WINEDEBUG=os.environ.get("KV_E2E_WINEDEBUG", "-all"), WINEDLLOVERRIDES=WINEDLLOVERRIDES,
                   WINELOADER=ARCH.loader, WINESERVER=ARCH.server, WINEARCH=ARCH.winearch,
                   XDG_CACHE_HOME=str(self.tmp / "cache"), XDG_CONFIG_HOME=str(self.tmp / "config"))
        self.env = env
        self._stopped = False

    # ----- start and stop -------------------------------------------------

    def start(self):
        try:
            t0 = time.monotonic()
            if self.own_display:
                self._start_xvfb()
                self._start_openbox()
            self.env["DISPLAY"] = self.display
            t1 = time.monotonic()
            self._ensure_template()
            t2 = time.monotonic()
            self._copy_prefix()
            t3 = time.monotonic()
            self._start_wineserver()
            self.wintool("list")  # brings up Wine's desktop process and services once
            t4 = time.monotonic()
            self.timings.update(display=t1 - t0, template=t2 - t1, prefix_copy=t3 - t2, wine_warmup=t4 - t3)
        except BaseException:
            self.stop()
            raise
        return self

    def _spawn(self, argv, log_name, **kw):
        log = open(self.tmp / log_name, "ab")
        try:
            kw.setdefault("preexec_fn", _die_with_parent)
            return subprocess.Popen(argv, env=kw.pop("env", self.env), stdin=subprocess.DEVNULL, stdout=log,
                                    stderr=subprocess.STDOUT, **kw)
        finally:
            log.close()

    def _start_xvfb(self):
        read_fd, write_fd = os.pipe()
        try:
            self.xvfb = self._spawn(["Xvfb", "-displayfd", str(write_fd), "-screen", "0",
                                     "%dx%dx24" % (SCREEN_W, SCREEN_H), "-nolisten", "tcp", "-noreset"],
                                    "xvfb.log", pass_fds=(write_fd,))
        finally:
            os.close(write_fd)
        try:
            data = b""
            deadline = time.monotonic() + 20
            while not data.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or self.xvfb.poll() is not None:
                    raise SessionError("Xvfb did not start: %s"
                                       % _last_line((self.tmp / "xvfb.log").read_text(errors="replace")))
                ready, _, _ = select.select([read_fd], [], [], left)
                if ready:
                    chunk = os.read(read_fd, 64)
                    if not chunk:
                        raise SessionError("Xvfb closed its display fd")
                    data += chunk
        finally:
            os.close(read_fd)
        self.display = ":" + data.decode().strip()

    def _x(self, *argv, check=False, timeout=10):
        r = subprocess.run(list(argv), env=self.env, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                           timeout=timeout)
        if check and r.returncode != 0:
            raise RuntimeError("%s failed (%d): %s" % (argv[0], r.returncode, r.stderr.strip()))
        return r

    def _start_openbox(self):
        self.env["DISPLAY"] = self.display
        self.openbox = self._spawn(["openbox", "--sm-disable"], "openbox.log")
        wait_for(lambda: "window id #" in self._x("xprop", "-root", "_NET_SUPPORTING_WM_CHECK").stdout, 20,
                 "openbox to manage the display")

    def _ensure_template(self):
        """build/wine-template: a booted prefix for this Wine version, made once
        (5-12 s) and then only copied."""
        version = wine_version()
        marker_text = "%s\n%s\n%s\n" % (version, ARCH.winearch, WINEDLLOVERRIDES)
        marker = TEMPLATE / ".kavorin-template"
        BUILD.mkdir(parents=True, exist_ok=True)
        with open(BUILD / "wine-template.lock", "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)  # one maker at a time; the others wait and reuse
            if marker.exists() and marker.read_text() == marker_text and (TEMPLATE / "system.reg").exists():
                return
            work = BUILD / ("wine-template.tmp-%d" % os.getpid())
            shutil.rmtree(work, ignore_errors=True)
            env = dict(self.env, WINEPREFIX=str(work))
            boot = subprocess.run([WINE, "wineboot", "-i"], env=env, stdin=subprocess.DEVNULL, capture_output=True,
                                  timeout=300)
            subprocess.run([ARCH.server, "-w"], env=env, timeout=300)
            if boot.returncode != 0 or not (work / "system.reg").exists():
                shutil.rmtree(work, ignore_errors=True)
                raise SessionError("Wine could not make a %s prefix (%s wineboot -i): %s"
                                   % (ARCH.winearch, WINE, _last_line(boot.stderr)))
            self._drop_server_dir(work)
            marker_tmp = work / ".kavorin-template"
            marker_tmp.write_text(marker_text)
            shutil.rmtree(TEMPLATE, ignore_errors=True)
            os.replace(work, TEMPLATE)

    @staticmethod
    def _server_dirs(prefix):
        """Where the wineserver of `prefix` keeps its socket. Debian's Wine names
        a private folder in <prefix>/wineserver; upstream uses /tmp/.wine-<uid>."""
        dirs = []
        try:
            name = (Path(prefix) / "wineserver").read_text().strip()
            for base in {os.environ.get("TMPDIR", "/tmp"), "/tmp"}:
                dirs.append(Path(base) / name)
        except OSError:
            pass
        try:
            st = os.stat(prefix)
            dirs.append(Path("/tmp/.wine-%d" % os.getuid()) / ("server-%x-%x" % (st.st_dev, st.st_ino)))
        except OSError:
            pass
        return dirs

    def _drop_server_dir(self, prefix):
        for d in self._server_dirs(prefix):
            if d.name.startswith("wine-"):
                shutil.rmtree(d, ignore_errors=True)
        try:
            (Path(prefix) / "wineserver").unlink()
        except OSError:
            pass

    def _copy_prefix(self):
        subprocess.run(["cp", "-a", str(TEMPLATE), str(self.prefix)], check=True)
        for leftover in ("wineserver", ".kavorin-template"):
            try:
                (self.prefix / leftover).unlink()
            except OSError:
                pass
        self.env["WINEPREFIX"] = str(self.prefix)

    def _socket_ready(self):
        for d in self._server_dirs(self.prefix):
            if glob.glob(str(d / "server-*" / "socket")) or (d / "socket").exists():
                self._server_dir = d  # removed at the end, whatever the prefix says by then
                return True
        return False

    def _start_wineserver(self):
        # No parent-death signal here: should this process die, the watchdog
        # asks the server to end its clients (wineserver -k) and then removes
        # the session's files.
        self.wineserver = self._spawn([ARCH.server, "-f", "-p"], "wineserver.log", preexec_fn=None)
        wait_for(lambda: self._socket_ready() or self.wineserver.poll() is not None, 20, "the wineserver socket")
        if self.wineserver.poll() is not None:
            raise SessionError("%s ended at once: %s"
                               % (ARCH.server, _last_line((self.tmp / "wineserver.log").read_text(errors="replace"))))
        self.watchdog = subprocess.Popen(
            [sys.executable, str(Path(__file__).resolve()), "watchdog", str(os.getpid()), str(self.prefix),
             str(self.tmp), str(self._server_dir or "")],
            env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)

    def stop(self):
        if self._stopped:
            return
        self._stopped = True
        for p in self.procs:
            p.kill()
        if self.wineserver is not None:
            try:
                subprocess.run([ARCH.server, "-k"], env=self.env, timeout=10, capture_output=True)
            except subprocess.TimeoutExpired:
                pass
            _end(self.wineserver)
            _kill_prefix_processes(self.prefix)  # any that lost their server without ending
            self._drop_server_dir(self.prefix)
            if self._server_dir is not None and self._server_dir.name.startswith("wine-"):
                shutil.rmtree(self._server_dir, ignore_errors=True)
        for p in (self.openbox, self.xvfb):
            if p is not None:
                _end(p)
        if os.environ.get("KV_E2E_KEEP"):
            print("e2e: kept %s" % self.tmp, file=sys.stderr)
        else:
            shutil.rmtree(self.tmp, ignore_errors=True)
        if self.watchdog is not None:
            _end(self.watchdog)

    # ----- programs ------------------------------------------------------

    def start_exe(self, exe, *args, name=None):
        """Starts a Windows program: a Linux path is started by its Windows name
        (Z:\\...), so that its GetModuleFileName is exactly wine_path(exe); a bare
        name ("notepad") is found by Wine. Arguments with blanks are quoted by
        Wine when it makes the command line."""
        if isinstance(exe, Path) or "/" in str(exe):
            exe = Path(exe)
            if not exe.exists():
                raise FileNotFoundError("no such program: %s (build it with scripts/build.sh)" % exe)
            target, name = wine_path(exe), name or exe.name
        else:
            target, name = str(exe), name or str(exe)  # a program Wine finds itself, e.g. "notepad"
        log = self.tmp / ("%s-%d.log" % (name, len(self.procs)))
        log_file = open(log, "ab")
        try:
            popen = subprocess.Popen([WINE, target, *[str(a) for a in args]], env=self.env,
                                     stdin=subprocess.DEVNULL, stdout=log_file, stderr=subprocess.STDOUT,
                                     preexec_fn=_die_with_parent)
        finally:
            log_file.close()
        proc = Proc(popen, name, log)
        self.procs.append(proc)
        return proc

    def run_exe(self, exe, *args, timeout=30):
        """Runs a console program to its end; returns (exit code, stdout)."""
        # Output goes through a file, not a pipe: Wine's helper processes that a
        # program may start (explorer, services) inherit its handles and would
        # hold a pipe open long after the program has ended.
        with tempfile.TemporaryFile(dir=self.tmp) as out:
            p = subprocess.Popen([WINE, wine_path(exe), *[str(a) for a in args]], env=self.env,
                                 stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL,
                                 preexec_fn=_die_with_parent)
            try:
                rc = p.wait(timeout)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
                raise
            out.seek(0)
            return rc, out.read().decode("latin-1").replace("\r\n", "\n")

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
        return self._x("xdotool", *[str(a) for a in args]).stdout

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
        out = self._x("xwininfo", "-id", str(xid)).stdout

        def num(label):
            m = re.search(r"%s:\s+(-?\d+)" % re.escape(label), out)
            return int(m.group(1)) if m else None

        return dict(x=num("Absolute upper-left X"), y=num("Absolute upper-left Y"), width=num("Width"),
                    height=num("Height"), viewable="Map State: IsViewable" in out,
                    override_redirect="Override Redirect State: yes" in out)

    def x_property(self, xid, name):
        return self._x("xprop", "-id", str(xid), name).stdout

    def x_net_wm_state(self, xid):
        """The _NET_WM_STATE atoms of a window. Wine sets _NET_WM_STATE_ABOVE
        for a WS_EX_TOPMOST window that the window manager manages."""
        out = self.x_property(xid, "_NET_WM_STATE")
        return set(re.findall(r"_NET_WM_STATE_\w+", out.split("=", 1)[1] if "=" in out else ""))

    def x_pid(self, xid):
        m = re.search(r"= (\d+)", self.x_property(xid, "_NET_WM_PID"))
        return int(m.group(1)) if m else None

    def active_window(self):
        out = self._x("xdotool", "getactivewindow").stdout.strip()
        return int(out) if out.isdigit() else None

    def wait_active(self, xid, timeout=10.0):
        """Before typing into a window, wait until it is the active one: keys
        sent earlier are lost."""
        wait_for(lambda: self.active_window() == xid, timeout, "X window %d to become active" % xid)

    def activate(self, xid, timeout=10.0):
        self.xdo("windowactivate", xid)
        self.wait_active(xid, timeout)

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

    def mouse_position(self):
        out = self.xdo("getmouselocation", "--shell")
        vals = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(vals["X"]), int(vals["Y"])

    def click(self, x=None, y=None, button=1, hold=KEY_HOLD):
        if x is not None:
            self.mouse_move(x, y)
        self.xdo("mousedown", button)
        time.sleep(hold)
        self.xdo("mouseup", button)

    # ----- screen ---------------------------------------------------------

    def screenshot(self, path=None):
        """The whole screen; also written to `path` as PNG when given."""
        r = subprocess.run(["import", "-silent", "-window", "root", "-depth", "8", "ppm:-"], env=self.env, capture_output=True, timeout=30)
        if r.returncode != 0:
            raise RuntimeError("import failed: %s" % r.stderr.decode(errors="replace"))
        shot = _parse_ppm(r.stdout)
        if path:
            shot.save_png(path)
        return shot


def _prefix_processes(prefix):
    """Pids of the processes running in a Wine prefix (found by the WINEPREFIX
    in their environment: the prefix is this session's own temp folder)."""
    needle = ("WINEPREFIX=%s\0" % prefix).encode()
    pids = []
    for entry in os.listdir("/proc"):
        if entry.isdigit() and int(entry) != os.getpid():
            try:
                with open("/proc/%s/environ" % entry, "rb") as f:
                    if needle in f.read() + b"\0":
                        pids.append(int(entry))
            except OSError:
                pass
    return pids


def _kill_prefix_processes(prefix):
    for pid in _prefix_processes(prefix):
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass


def _watchdog(parent, prefix, tmp, server_dir):
    """Runs in its own session: when the test process dies without tearing its
    session down (SIGKILL), ends the session's Wine processes and removes its
    files. Xvfb and openbox end by themselves (parent-death signal)."""
    while True:
        try:
            os.kill(parent, 0)
        except ProcessLookupError:
            break
        if not os.path.exists(tmp):
            return  # torn down normally
        time.sleep(0.5)
    if not os.path.exists(tmp):
        return
    env = dict(os.environ, WINEPREFIX=prefix)
    try:
        subprocess.run([ARCH.server, "-k"], env=env, timeout=10, capture_output=True)
    except Exception:
        pass
    _kill_prefix_processes(prefix)
    if server_dir and os.path.basename(server_dir).startswith("wine-"):
        shutil.rmtree(server_dir, ignore_errors=True)
    shutil.rmtree(tmp, ignore_errors=True)


def _end(popen, grace=5.0):
    """Ends one child we started: SIGTERM, then SIGKILL."""
    if popen.poll() is None:
        try:
            popen.terminate()
            popen.wait(grace)
        except subprocess.TimeoutExpired:
            popen.kill()
            popen.wait(5)
        except ProcessLookupError:
            pass


_session = None
_session_error = None


def _on_signal(signum, frame):
    # KeyboardInterrupt gets through unittest's error handling; atexit then
    # tears the session down.
    raise KeyboardInterrupt("signal %d" % signum)


def session():
    """The one session of this test run, started on first use."""
    global _session, _session_error
    if _session_error is not None:
        raise RuntimeError("the e2e session could not be started") from _session_error
    if _session is None:
        for sig in (signal.SIGTERM, signal.SIGHUP):
            if signal.getsignal(sig) in (signal.SIG_DFL, None):
                signal.signal(sig, _on_signal)
        s = Session()
        atexit.register(s.stop)
        try:
            s.start()
        except BaseException as e:
            _session_error = e
            raise
        _session = s
        print("\ne2e session: display %s, template %.1f s, prefix copy %.1f s, wine warm-up %.1f s"
              % (s.display, s.timings["template"], s.timings["prefix_copy"], s.timings["wine_warmup"]),
              file=sys.stderr)
    return _session


class Witness:
    """Our witness program (witness/witness.cpp) running, and its log: one dict
    per line with the message name under 'msg' and the line's key=value
    fields, e.g. {'msg': 'WM_KEYDOWN', 'vk': '65', 'ext': '0', ...}."""

    def __init__(self, session, proc, log_path, xid, ready):
        self.s, self.proc, self.path, self.xid, self.ready = session, proc, Path(log_path), xid, ready
        self.client_origin = (int(ready["cx"]), int(ready["cy"]))  # on the screen
        self.client_size = (int(ready["w"]), int(ready["h"]))

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


class WineTestCase(unittest.TestCase):
    """Base class: `self.s` is the session; programs started through
    self.start() are killed when the test ends, whatever happened."""

    s = None

    @classmethod
    def setUpClass(cls):
        cls.s = session()

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
        ready = wait_for(lambda: [e for e in Witness.read(log_path) if e["msg"] == "READY"], timeout,
                         "the witness to start")[0]
        xid = self.s.wait_x_window("Kavorin Witness", timeout)
        return Witness(self.s, proc, log_path, xid, ready)

    def folder(self, name=None):
        """A fresh folder for this test's files."""
        d = self.s.files / (name or self.id().rsplit(".", 2)[-2] + "." + self._testMethodName)
        if d.exists():
            shutil.rmtree(d)
        d.mkdir(parents=True)
        return d


# ----- command line (scripts/run.sh) ---------------------------------------

def _run_main(argv):
    import argparse

    ap = argparse.ArgumentParser(prog="session.py run", description="Start Kavorin.exe under Wine.")
    ap.add_argument("--exe", default=str(kavorin_exe()))
    ap.add_argument("--shot", default=str(BUILD / "screenshot.png"), help="where to write the screenshot")
    ap.add_argument("--shot-only", action="store_true", help="exit after the screenshot")
    ap.add_argument("--title", default="Kavorin v1.22", help="the window title to wait for")
    ap.add_argument("args", nargs="*", help="arguments for the program")
    opts = ap.parse_args(argv)
    for sig in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, _on_signal)
    signal.signal(signal.SIGINT, signal.default_int_handler)  # also when started with SIGINT ignored
    s = Session(display=os.environ.get("DISPLAY") or None)
    try:
        s.start()
    except SessionError as e:
        print("run.sh: %s; check that scripts/install-deps.sh completed, or pick the other build with "
              "KV_ARCH=i386 or KV_ARCH=x86-64" % e, file=sys.stderr)
        s.stop()
        return 1
    except (OSError, subprocess.SubprocessError, WaitTimeout) as e:
        print("run.sh: the virtual display or Wine did not start (%s); run scripts/install-deps.sh and try again"
              % e, file=sys.stderr)
        s.stop()
        return 1
    try:
        proc = s.start_exe(opts.exe, *opts.args)
        print("Kavorin.exe running under Wine on display %s (pid %d)" % (s.display, proc.pid), flush=True)
        try:
            win = s.wait_window(title=opts.title, exe=opts.exe, timeout=30)
            s.wait_x_window(opts.title)
            # Painted once the client area is no longer one flat colour.
            (x, y), (w, h) = win.client_origin, win.client_size
            try:
                wait_for(lambda: len({p for row in s.screenshot().region(x, y, w, h) for p in row}) > 1, 5,
                         "the window to be painted")
            except WaitTimeout:
                pass
        except WaitTimeout:
            if not proc.alive():
                print("it exited with code %s:\n%s" % (proc.exit_code, proc.output()), file=sys.stderr)
                return 1
            print("no window titled %r yet; taking the screenshot anyway" % opts.title, file=sys.stderr)
        Path(opts.shot).parent.mkdir(parents=True, exist_ok=True)
        s.screenshot(opts.shot)
        print("screenshot: %s" % os.path.abspath(opts.shot), flush=True)
        if opts.shot_only:
            return 0
        print("Ctrl+C to stop.", flush=True)
        while proc.alive():
            time.sleep(0.2)
        print("Kavorin.exe exited with code %s" % proc.exit_code)
        return 0
    except KeyboardInterrupt:
        return 0
    except Exception as e:  # one line, never a traceback
        print("run.sh: Kavorin.exe could not be shown (%s: %s); run scripts/install-deps.sh and try again"
              % (type(e).__name__, e), file=sys.stderr)
        return 1
    finally:
        s.stop()


if __name__ == "__main__":
    if len(sys.argv) >= 2 and sys.argv[1] == "run":
        sys.exit(_run_main(sys.argv[2:]))
    if len(sys.argv) == 6 and sys.argv[1] == "watchdog":
        _watchdog(int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5])
        sys.exit(0)
    print(__doc__)
    sys.exit(2)


def wine_version():
    """What `wine --version` says, for the benchmarks' headings."""
    try:
        return subprocess.run([WINE, "--version"], capture_output=True, text=True).stdout.strip()
    except OSError as e:
        raise SessionError("%s cannot run here (%s)" % (WINE, e.strerror)) from None


def run_benchmark(main):
    """Runs a benchmark's main(argv) and exits with its code; SIGTERM and SIGHUP
    end it like Ctrl+C, so that its session tears the display and Wine down."""
    for sig in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, lambda n, f: (_ for _ in ()).throw(KeyboardInterrupt()))
    sys.exit(main(sys.argv[1:]))
