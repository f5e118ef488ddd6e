#!/usr/bin/env python3
"""Starts Kavorin.exe under Wine and takes a screenshot of it (scripts/run.sh).

    python3 scripts/run_kavorin.py [--exe PATH] [--shot PATH] [--shot-only] [--title T] [ARGS...]

On the display in $DISPLAY, or else on a virtual one (Xvfb + openbox), with the
e2e session (tests/e2e). Whatever fails, it says so in one line with what to
do, never with a traceback.
"""

import argparse
import os
import signal
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))

from desktop import Desktop  # noqa: E402
from kavorin import TITLE_CREATED  # noqa: E402
from session import BUILD, SessionError, WaitTimeout, interrupt_on_signals, kavorin_exe, wait_for  # noqa: E402


def main(argv):
    ap = argparse.ArgumentParser(prog="run_kavorin.py", description="Start Kavorin.exe under Wine.")
    ap.add_argument("--exe", default=str(kavorin_exe()))
    ap.add_argument("--shot", default=str(BUILD / "screenshot.png"), help="where to write the screenshot")
    ap.add_argument("--shot-only", action="store_true", help="exit after the screenshot")
    ap.add_argument("--title", default=TITLE_CREATED, help="the window title to wait for")
    ap.add_argument("args", nargs="*", help="arguments for the program")
    opts = ap.parse_args(argv)
    interrupt_on_signals()
    signal.signal(signal.SIGINT, signal.default_int_handler)  # also when started with SIGINT ignored
    s = Desktop(display=os.environ.get("DISPLAY") or None)
    try:
        s.start()
    except SessionError as e:
        print("run.sh: %s; check that scripts/install-deps.sh completed, or pick the other build with "
              "KV_ARCH=i386 or KV_ARCH=x86-64" % e, file=sys.stderr)
        s.stop()
        return 1
    except Exception as e:  # one line, never a traceback
        print("run.sh: the virtual display or Wine did not start (%s: %s); run scripts/install-deps.sh and try "
              "again" % (type(e).__name__, e), file=sys.stderr)
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
    sys.exit(main(sys.argv[1:]))
