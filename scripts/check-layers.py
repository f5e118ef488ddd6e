#!/usr/bin/env python3
"""Checks that no file under src/ includes a header from a room above its own.

The rooms of src/, from the bottom up:

    platform, format < core < record, files, boxes < play < app < kvrec

A file may include headers of its own room and of the rooms below it; rooms on
one level do not include each other. Outside platform/ the logic includes only
our own headers and the compiler's freestanding <stdint.h> and <stddef.h>: it
reaches the system through platform/ alone. kvrec, a program of its own on the
C library and the system's file calls, may include system headers too. Tests may include anything and are
not checked.

Prints every offending include, then "N passed, N failed" counting the files.
Exits 1 when a file fails.

Usage: scripts/check-layers.py [SRC_DIR]   (default: src/ beside this script)
"""
import os
import re
import sys

LEVELS = {"platform": 0, "format": 0, "core": 1, "record": 2, "files": 2, "boxes": 2, "play": 3, "app": 4,
          "kvrec": 5}
ORDER = "platform, format < core < record, files, boxes < play < app < kvrec"
# Rooms that may include system headers: the seam, and kvrec, a program of its
# own on the C library and the system's file calls.
SYSTEM = {"platform", "kvrec"}
FREESTANDING = {"stdint.h", "stddef.h"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def room_of(path, src):
    """The room (first folder under src/) of a file, or None when it is in none."""
    parts = os.path.relpath(path, src).split(os.sep)
    return parts[0] if len(parts) > 1 else None


def problems(path, src):
    room = room_of(path, src)
    if room not in LEVELS:
        yield 0, f"is in no room of the order ({ORDER})"
        return
    with open(path, encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            kind, name = m.groups()
            if kind == "<":
                if room not in SYSTEM and name not in FREESTANDING:
                    yield number, f"includes the system header <{name}>: only platform/ and kvrec/ may"
                continue
            # Quoted: beside the including file first, then from src/.
            beside = os.path.join(os.path.dirname(path), name)
            target = beside if os.path.isfile(beside) else os.path.join(src, name)
            if not os.path.isfile(target):
                yield number, f'includes "{name}", which is not under src/'
                continue
            other = room_of(target, src)
            if other == room:
                continue
            if other not in LEVELS or LEVELS[other] >= LEVELS[room]:
                yield number, (f'includes "{name}": {room}/ may not include from {other}/ '
                               f"({ORDER})")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    src = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "src"))
    passed = failed = 0
    for folder, dirs, files in os.walk(src):
        dirs.sort()
        for name in sorted(files):
            if not name.endswith((".h", ".cpp", ".def")):
                continue
            path = os.path.join(folder, name)
            found = list(problems(path, src))
            shown = os.path.relpath(path, os.path.dirname(src))
            for number, text in found:
                print(f"{shown}:{number}: {text}" if number else f"{shown}: {text}")
            if found:
                failed += 1
            else:
                passed += 1
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
