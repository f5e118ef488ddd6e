"""Hand-made recordings for the e2e tests: the record format (`RECORD`, the
message numbers, `pack`, `records_of`) and `Rec`, a recording written event by
event.

Standard library only.
"""

import struct

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
