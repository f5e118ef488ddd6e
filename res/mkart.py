#!/usr/bin/env python3
"""Makes Kavorin's toolbar strip and icon from the pixel maps in res/.

    python3 res/mkart.py SRCDIR OUTDIR          -> OUTDIR/strip.bmp, OUTDIR/kavorin.ico
    python3 res/mkart.py SRCDIR OUTDIR --png DIR   also writes enlarged PNG previews

A map is plain text:

    # comment (whole lines only; blank lines are ignored)
    size 16 16
    palette
    . = 240 240 240   words after the colour are a note for the reader
    x = transparent   (icons only: the desktop shows through)
    pixels
    ...one line per row, one character per pixel...

Any character but space, tab and '#' can name a colour.  Anything odd in a
map stops the build with a message naming the file and line.

Only the Python standard library is used.
"""

import os
import struct
import sys
import zlib

# The program draws the strip with this colour keyed out, so that the
# button face shows through.  It must be the top-left pixel, and no other
# palette entry may use it.
KEY = (240, 240, 240)
STRIP = ("strip.txt", 112, 16)
ICONS = (("icon32.txt", 32, 32), ("icon16.txt", 16, 16))
TRANSPARENT = "transparent"


class MapError(Exception):
    pass


class PixelMap:
    def __init__(self, path, width, height, colours, rows):
        self.path = path
        self.width = width
        self.height = height
        self.colours = colours      # char -> (r, g, b) or None for transparent
        self.rows = rows            # list of strings

    def rgb(self, x, y):
        return self.colours[self.rows[y][x]]


def read_map(path, want_w, want_h, allow_transparent):
    try:
        with open(path, encoding="utf-8") as f:
            lines = f.read().splitlines()
    except OSError as e:
        raise MapError("%s: cannot read: %s" % (path, e.strerror))

    def fail(n, msg):
        raise MapError("%s:%d: %s" % (path, n, msg))

    size = None
    colours = {}
    rows = []
    section = None
    for n, raw in enumerate(lines, 1):
        line = raw.rstrip()
        if not line or line.lstrip().startswith("#"):
            continue
        if section != "pixels":
            words = line.split()
            if words[0] == "size":
                if len(words) != 3 or not all(w.isdigit() for w in words[1:]):
                    fail(n, "expected 'size W H'")
                size = (int(words[1]), int(words[2]))
                if size != (want_w, want_h):
                    fail(n, "size must be %d %d" % (want_w, want_h))
                continue
            if words[0] in ("palette", "pixels") and len(words) == 1:
                section = words[0]
                continue
            if section == "palette":
                if len(words) < 3 or len(words[0]) != 1 or words[1] != "=":
                    fail(n, "expected 'C = R G B' or 'C = transparent'")
                ch = words[0]
                if ch in colours:
                    fail(n, "colour %r defined twice" % ch)
                if words[2] == TRANSPARENT:
                    if not allow_transparent:
                        fail(n, "no transparency here: the strip uses the key colour")
                    colours[ch] = None
                    continue
                if len(words) < 5 or not all(w.isdigit() for w in words[2:5]):
                    fail(n, "expected three numbers 0..255 after '='")
                rgb = tuple(int(w) for w in words[2:5])
                if max(rgb) > 255:
                    fail(n, "colour component above 255")
                for other, orgb in colours.items():
                    if orgb == rgb:
                        fail(n, "%r has the same colour as %r" % (ch, other))
                colours[ch] = rgb
                continue
            fail(n, "unexpected line before 'pixels': %r" % line)
        # pixels
        if len(line) != want_w:
            fail(n, "row %d is %d pixels wide, expected %d" % (len(rows), len(line), want_w))
        for x, ch in enumerate(line):
            if ch not in colours:
                fail(n, "unknown colour %r at x=%d" % (ch, x))
        rows.append(line)

    if size is None:
        raise MapError("%s: missing 'size' line" % path)
    if section != "pixels":
        raise MapError("%s: missing 'pixels' section" % path)
    if len(rows) != want_h:
        raise MapError("%s: %d rows of pixels, expected %d" % (path, len(rows), want_h))
    used = set("".join(rows))
    for ch in colours:
        if ch not in used:
            print("mkart: note: %s: colour %r is never used" % (path, ch), file=sys.stderr)
    return PixelMap(path, want_w, want_h, colours, rows)


def check_strip(m):
    top_left = m.rgb(0, 0)
    if top_left != KEY:
        raise MapError("%s: top-left pixel must be the key colour %d %d %d, not %r"
                       % ((m.path,) + KEY + (top_left,)))


# --- Windows bitmap formats ------------------------------------------------

def info_header(width, height, bits, image_size, colours_used):
    # BITMAPINFOHEADER, BI_RGB
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0,
                       image_size, 0, 0, colours_used, colours_used)


def pad4(b):
    return b + b"\0" * (-len(b) % 4)


def strip_bmp(m):
    """8-bit bottom-up DIB with its BITMAPFILEHEADER: the map's own palette
    (the same colours a 24-bit one would hold, in a third of the bytes)."""
    colours = sorted(set(m.rgb(x, y) for y in range(m.height) for x in range(m.width)))
    index = {c: i for i, c in enumerate(colours)}
    body = bytearray()
    for y in reversed(range(m.height)):
        body += pad4(bytes(index[m.rgb(x, y)] for x in range(m.width)))
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in colours)
    info = info_header(m.width, m.height, 8, len(body), len(colours))
    offset = 14 + len(info) + len(palette)
    head = struct.pack("<2sIHHI", b"BM", offset + len(body), 0, 0, offset)
    return head + info + palette + bytes(body)


def icon_image(m):
    """One 8-bpp icon image: header (height doubled), palette, XOR bitmap, AND mask.

    Transparent pixels are index 0, which is black, so that the XOR pass
    leaves the screen as the AND pass made it."""
    palette = [(0, 0, 0)]
    index = {}
    for y in range(m.height):
        for x in range(m.width):
            rgb = m.rgb(x, y)
            if rgb is None:
                continue
            if rgb not in index:
                if rgb == (0, 0, 0):
                    index[rgb] = 0
                else:
                    index[rgb] = len(palette)
                    palette.append(rgb)
    if len(palette) > 256:
        raise MapError("%s: %d colours, an 8-bpp icon holds 256" % (m.path, len(palette)))
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(m.height)):
        row = bytearray()
        bits = bytearray((m.width + 7) // 8)
        for x in range(m.width):
            rgb = m.rgb(x, y)
            if rgb is None:
                row.append(0)
                bits[x // 8] |= 0x80 >> (x % 8)
            else:
                row.append(index[rgb])
        xor += pad4(bytes(row))
        mask += pad4(bytes(bits))
    pal = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    head = info_header(m.width, m.height * 2, 8, len(xor) + len(mask), len(palette))
    return head + pal + bytes(xor) + bytes(mask)


def ico_file(maps):
    images = [icon_image(m) for m in maps]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for m, img in zip(maps, images):
        # width, height, colour count (0: 256 or more), reserved, planes, bits
        out += struct.pack("<BBBBHHII", m.width % 256, m.height % 256, 0, 0, 1, 8,
                           len(img), offset)
        offset += len(img)
    return out + b"".join(images)


# --- previews ----------------------------------------------------------------

def png(width, height, rgb_rows):
    """A PNG file of 8-bit RGB: rows of (r, g, b) pixels, or of packed RGB bytes
    (the e2e tests write their screenshots with it too)."""
    def chunk(kind, data):
        c = struct.pack(">I", len(data)) + kind + data
        return c + struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff)
    raw = b"".join(b"\0" + (row if isinstance(row, (bytes, bytearray)) else bytes(v for px in row for v in px))
                   for row in rgb_rows)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def scale(rows, k):
    out = []
    for row in rows:
        big = [px for px in row for _ in range(k)]
        out.extend([big] * k)
    return out


def checker(x, y, k):
    return (204, 204, 204) if ((x // k) + (y // k)) % 2 else (255, 255, 255)


def enlarged(m, k, see_through):
    """Each map pixel as a k x k block, with a hairline grid; pixels that the
    screen shows through are drawn as a checkerboard."""
    rows = []
    for Y in range(m.height * k):
        row = []
        for X in range(m.width * k):
            rgb = m.rgb(X // k, Y // k)
            if rgb is None or (see_through and rgb == KEY):
                rgb = checker(X, Y, k // 2)
            if X % k == 0 or Y % k == 0:
                rgb = tuple(v * 7 // 8 for v in rgb)
            if X % (16 * k) == 0 or Y % (16 * k) == 0:
                rgb = (255, 0, 255)
            row.append(rgb)
        rows.append(row)
    return rows


def toolbar(m, face):
    """The strip's first six images roughly as they sit on the tool window:
    a 131 x 26 client area of button face holding six raised buttons."""
    w, h, bw, bh = 131, 26, 21, 24
    shadow = tuple(v * 5 // 8 for v in face)
    img = [[face] * w for _ in range(h)]
    for i in range(6):
        x0, y0 = i * (bw + 1), 1
        x1, y1 = x0 + bw - 1, y0 + bh - 1
        for x in range(x0, x1 + 1):
            img[y0][x] = (255, 255, 255)
            img[y1][x] = (0, 0, 0)
            if x0 < x < x1:
                img[y1 - 1][x] = shadow
        for y in range(y0, y1 + 1):
            img[y][x0] = (255, 255, 255)
            img[y][x1] = (0, 0, 0)
            if y0 < y < y1:
                img[y][x1 - 1] = shadow
        ox, oy = x0 + (bw - 16) // 2, y0 + (bh - 16) // 2
        for y in range(16):
            for x in range(16):
                rgb = m.rgb(16 * i + x, y)
                if rgb != KEY:
                    img[oy + y][ox + x] = rgb
    return img


def previews(strip, icons, outdir):
    os.makedirs(outdir, exist_ok=True)

    def save(name, rows):
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(png(len(rows[0]), len(rows), rows))

    save("strip-x8.png", enlarged(strip, 8, True))
    for m in icons:
        save("icon%d-x8.png" % m.width, enlarged(m, 8, False))
    # The tool window on three common button faces, at its own size and x4,
    # plus the record button while recording (image 6 in place of image 2).
    bars = []
    for face in ((240, 240, 240), (212, 208, 200), (192, 192, 192)):
        bar = toolbar(strip, face)
        bars.extend(bar)
        bars.append([(255, 255, 255)] * len(bar[0]))
    stop = PixelMap(strip.path, strip.width, strip.height, strip.colours,
                    [r[:32] + r[96:112] + r[48:] for r in strip.rows])
    bar = toolbar(stop, (240, 240, 240))
    bars.extend(bar)
    save("toolbar-x1.png", bars)
    save("toolbar-x4.png", scale(bars, 4))
    # The icons at their own size and x4 over light and dark desktops.
    for m in icons:
        for name, bg in (("light", (255, 255, 255)), ("dark", (0, 64, 128))):
            rows = [[m.rgb(x, y) or bg for x in range(m.width)] for y in range(m.height)]
            save("icon%d-%s-x1.png" % (m.width, name), rows)
            save("icon%d-%s-x4.png" % (m.width, name), scale(rows, 4))


def main(argv):
    args = list(argv[1:])
    png_dir = None
    if "--png" in args:
        i = args.index("--png")
        if i + 1 >= len(args):
            print("mkart: --png needs a directory", file=sys.stderr)
            return 2
        png_dir = args[i + 1]
        del args[i:i + 2]
    if len(args) != 2:
        print("usage: mkart.py SRCDIR OUTDIR [--png PREVIEWDIR]", file=sys.stderr)
        return 2
    src, out = args
    try:
        name, w, h = STRIP
        strip = read_map(os.path.join(src, name), w, h, False)
        check_strip(strip)
        icons = [read_map(os.path.join(src, name), w, h, True) for name, w, h in ICONS]
        bmp = strip_bmp(strip)
        ico = ico_file(icons)
    except MapError as e:
        print("mkart: error: %s" % e, file=sys.stderr)
        return 1
    os.makedirs(out, exist_ok=True)
    for name, data in (("strip.bmp", bmp), ("kavorin.ico", ico)):
        tmp = os.path.join(out, name + ".tmp")
        with open(tmp, "wb") as f:
            f.write(data)
        os.replace(tmp, os.path.join(out, name))
    if png_dir:
        previews(strip, icons, png_dir)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
