#!/usr/bin/env python3
"""Finishes the executable: its headers into one file block, then its own
size into its size slot.

The linker puts a 64-byte DOS stub before the PE headers; with four section
headers (code, imports and data, zero-filled state, resources) they then
spill into a second 512-byte block. Without the stub they fit one, so the
stub goes and everything after the headers moves up a block.

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


def compact_headers(data):
    """The file without its DOS stub, when that saves a block; else as it is."""
    u16 = lambda at: struct.unpack_from("<H", data, at)[0]
    u32 = lambda at: struct.unpack_from("<I", data, at)[0]
    pe, start = u32(0x3C), 0x40
    sections, optional = u16(pe + 6), u16(pe + 20)
    table = pe + 24 + optional
    block, headers = u32(pe + 24 + 36), u32(pe + 24 + 60)  # FileAlignment, SizeOfHeaders
    size = -(-(start + table - pe + 40 * sections) // block) * block
    if pe <= start or size >= headers:
        return data
    out = bytearray(data[:start]) + data[pe:table + 40 * sections]
    struct.pack_into("<I", out, 0x3C, start)
    struct.pack_into("<I", out, start + 24 + 60, size)
    for i in range(sections):
        raw = start + (table - pe) + 40 * i + 20  # PointerToRawData
        if u32(pe + (raw - start)):
            struct.pack_into("<I", out, raw, u32(pe + (raw - start)) - (headers - size))
    out += bytes(size - len(out))
    return bytes(out) + data[headers:]


def main(path):
    mark = marker()
    with open(path, "r+b") as f:
        data = compact_headers(f.read())
        f.seek(0)
        f.truncate()
        f.write(data)
        at = data.find(mark)
        if at < 0 or data.find(mark, at + 1) >= 0:
            sys.exit(f"{path}: expected exactly one size marker")
        f.seek(at + len(mark))
        f.write(struct.pack("<I", len(data)))
    print(f"{path}: size {len(data)} stamped")


if __name__ == "__main__":
    main(sys.argv[1])
