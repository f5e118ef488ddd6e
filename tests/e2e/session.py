"""The e2e session: a virtual X display with Wine on it, for the real Kavorin.exe.

One session per test run (shared by every test module of a `unittest discover`):
Xvfb on a display it picks itself, openbox as window manager (without one Wine
stalls on hiding windows and keys go to the window under the pointer), a
throw-away WINEPREFIX copied from a template prefix that is made once and kept
in build/wine-template-<arch>, WINEDEBUG=-all, and a persistent wineserver for
fast program starts. Everything is torn down by pid at the end, also on failure
or SIGTERM; children also get SIGTERM should this process die without cleaning
up, and a watchdog (this file's `watchdog` command) ends the Wine processes and
removes the files should this process be killed outright.

KV_ARCH=i386 or KV_ARCH=x86-64 picks the build under test and the Wine loader,
server and prefix for it (`ARCH`). This layer starts and ends programs;
desktop.py looks at windows and drives keys and mouse, kavorin.py drives the
program itself (with recordings.py and witnessing.py beside it).

Standard library only.
"""
import atexit
import ctypes
import fcntl
import glob
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
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
MINGW_CXX = ARCH.cxx
WINEDLLOVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d"  # no Mono/Gecko prompts, no menus


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
            self.run_exe(tool_exe("wintool"), "list")  # brings up Wine's desktop process and services once
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

    def run(self, *argv, check=False, timeout=10):
        """Runs a Linux program on this display with this prefix; its CompletedProcess."""
        r = subprocess.run(list(argv), env=self.env, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                           timeout=timeout)
        if check and r.returncode != 0:
            raise RuntimeError("%s failed (%d): %s" % (argv[0], r.returncode, r.stderr.strip()))
        return r

    def _start_openbox(self):
        self.env["DISPLAY"] = self.display
        self.openbox = self._spawn(["openbox", "--sm-disable"], "openbox.log")
        wait_for(lambda: "window id #" in self.run("xprop", "-root", "_NET_SUPPORTING_WM_CHECK").stdout, 20,
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
        """Runs a console program to its end; returns (exit code, stdout) with
        its line ends made "\n"."""
        rc, out, _ = self.run_console(exe, *args, timeout=timeout)
        return rc, out.decode("latin-1").replace("\r\n", "\n")

    def run_console(self, exe, *args, stdin=None, timeout=30):
        """Runs a console program to its end, its standard input the file
        `stdin` (or nothing); returns (exit code, stdout, stderr), the bytes as
        the program wrote them."""
        # Output goes through files, not pipes: Wine's helper processes that a
        # program may start (explorer, services) inherit its handles and would
        # hold a pipe open long after the program has ended.
        with tempfile.TemporaryFile(dir=self.tmp) as out, tempfile.TemporaryFile(dir=self.tmp) as err, \
                open(stdin if stdin else os.devnull, "rb") as given:
            p = subprocess.Popen([WINE, wine_path(exe), *[str(a) for a in args]], env=self.env,
                                 stdin=given, stdout=out, stderr=err, preexec_fn=_die_with_parent)
            try:
                rc = p.wait(timeout)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
                raise
            out.seek(0)
            err.seek(0)
            return rc, out.read(), err.read()

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


def interrupt_on_signals(keep_own=False):
    """SIGTERM and SIGHUP end this process like Ctrl+C, so that its session
    tears the display and Wine down; keep_own: not where a handler is set."""
    for sig in (signal.SIGTERM, signal.SIGHUP):
        if not keep_own or signal.getsignal(sig) in (signal.SIG_DFL, None):
            signal.signal(sig, _on_signal)


def shared(kind):
    """The one session of this test run, a `kind` (a Session class), started
    on first use."""
    global _session, _session_error
    if _session_error is not None:
        raise RuntimeError("the e2e session could not be started") from _session_error
    if _session is None:
        interrupt_on_signals(keep_own=True)
        s = kind()
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


def wine_version():
    """What `wine --version` says (the template prefix is made for one version;
    the benchmarks print it)."""
    try:
        return subprocess.run([WINE, "--version"], capture_output=True, text=True).stdout.strip()
    except OSError as e:
        raise SessionError("%s cannot run here (%s)" % (WINE, e.strerror)) from None


if __name__ == "__main__":
    if len(sys.argv) == 6 and sys.argv[1] == "watchdog":
        _watchdog(int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5])
        sys.exit(0)
    print(__doc__)
    sys.exit(2)
