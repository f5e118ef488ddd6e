#!/usr/bin/env python3
"""Writes the executable's own size into its size slot.

The program carries a 4-byte marker followed by four bytes that must hold the
size of the file as shipped: a file larger than that is a compiled player. The
marker is the one src/format/player.h defines (kSizeMarker), read from there.
"""
import re
import struct
import sys
from pathlib import Path

HEADER = Path(__file__).resolve().parents[1] / "src" / "format" / "player.h"


def marker():
    """The size marker's bytes, from the definition the programs compile."""
    m = re.search(r"kSizeMarker\s*=\s*(0x[0-9A-Fa-f]+)", HEADER.read_text())
    if not m:
        sys.exit(f"{HEADER}: no kSizeMarker")
    return struct.pack("<I", int(m.group(1), 16))


def main(path):
    mark = marker()
    with open(path, "r+b") as f:
        data = f.read()
        at = data.find(mark)
        if at < 0 or data.find(mark, at + 1) >= 0:
            sys.exit(f"{path}: expected exactly one size marker")
        f.seek(at + len(mark))
        f.write(struct.pack("<I", len(data)))
    print(f"{path}: size {len(data)} stamped")


if __name__ == "__main__":
    main(sys.argv[1])
