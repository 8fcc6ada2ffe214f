#!/usr/bin/env python3
"""Generate the application icon (hourglass on transparency).

Usage:  python3 tools/make_icon.py OUT.ico
        python3 tools/make_icon.py --check FILE.ico [--png PREVIEW.png]

The .ico holds nine classic BMP images: 48x48, 32x32 and 16x16, each at
4 bpp (16-colour palette), 8 bpp (256-colour palette) and 32 bpp (BGRA with
alpha).  Each image is a BITMAPINFOHEADER with doubled height, the colour
(XOR) bitmap, then the 1 bpp AND mask, rows bottom-up and padded to 4 bytes.
Transparent pixels have AND = 1 and a black XOR value (and alpha 0 at
32 bpp).  Output is deterministic.

--check re-parses a file, validates the directory and every image and
exits non-zero on any problem; --png additionally writes a preview of all
nine images composited on a checkerboard.
"""

import os
import struct
import sys
import zlib

sys.dont_write_bytecode = True   # keep the source tree free of __pycache__
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_hourglass as hg  # noqa: E402  (shared drawing code)

SIZES = (48, 32, 16)
DEPTHS = (4, 8, 32)
SAMPLES = 4                  # 4 x 4 sub-pixel samples per pixel
ICON_STATE = dict(top_fraction=0.55, flowing=True)

# Class -> palette index for the paletted images.  Index 0 is black and is
# used for every transparent pixel so that AND=1 / XOR=0 leaves the screen
# untouched.
CLASS_INDEX = {hg.BG: 0}
for _c in range(1, hg.NUM_CLASSES):
    CLASS_INDEX[_c] = _c


def base_palette():
    pal = [(0, 0, 0)]
    for c in range(1, hg.NUM_CLASSES):
        pal.append(hg.CLASS_RGB[c])
    return pal


def palette16():
    pal = base_palette()
    return pal + [(0, 0, 0)] * (16 - len(pal))


def palette256():
    """Class colours plus 1/3 and 2/3 blends of every pair (for smooth
    inner edges), padded with black."""
    pal = base_palette()
    n = len(pal)
    for i in range(1, n):
        for j in range(i + 1, n):
            a, b = pal[i], pal[j]
            for t in (1, 2):
                pal.append(tuple((a[k] * (3 - t) + b[k] * t + 1) // 3 for k in range(3)))
    assert len(pal) <= 256
    return pal + [(0, 0, 0)] * (256 - len(pal))


def render(size):
    state = hg.HourglassState(**ICON_STATE)
    scale = (size / 2.0) / (hg.PLATE_OUT + 0.02)
    return hg.render_classes(size, state, 0.0, scale, samples=SAMPLES)


def _coverage_colour(samples):
    """(coverage 0..1, average RGB of the opaque samples or None)."""
    opaque = [s for s in samples if s != hg.BG]
    if not opaque:
        return 0.0, None
    rgb = [0, 0, 0]
    for s in opaque:
        c = hg.CLASS_RGB[s]
        for k in range(3):
            rgb[k] += c[k]
    m = len(opaque)
    return m / len(samples), tuple((v + m // 2) // m for v in rgb)


def _nearest(pal, rgb, first, last):
    best, bd = first, None
    for i in range(first, last):
        p = pal[i]
        d = (p[0] - rgb[0]) ** 2 + (p[1] - rgb[1]) ** 2 + (p[2] - rgb[2]) ** 2
        if bd is None or d < bd:
            best, bd = i, d
    return best


def image_pixels(size, depth, classes):
    """Rows (top first) of (xor_value, and_bit).

    xor_value is a palette index for 4/8 bpp and (b, g, r, a) for 32 bpp.
    """
    rows = []
    if depth == 8:
        pal = palette256()
        used = 1 + (hg.NUM_CLASSES - 1) + (hg.NUM_CLASSES - 1) * (hg.NUM_CLASSES - 2)
    for row in classes:
        out = []
        for samples in row:
            if depth == 4:
                cls = hg.majority(samples)
                out.append((CLASS_INDEX[cls], 1 if cls == hg.BG else 0))
                continue
            cov, rgb = _coverage_colour(samples)
            if depth == 8:
                if cov < 0.5:
                    out.append((0, 1))
                else:
                    out.append((_nearest(pal, rgb, 1, used), 0))
            else:
                alpha = int(cov * 255 + 0.5)
                if alpha == 0:
                    out.append(((0, 0, 0, 0), 1))
                else:
                    out.append(((rgb[2], rgb[1], rgb[0], alpha), 0))
        rows.append(out)
    return rows


def _row_bytes(bits):
    return ((bits + 31) // 32) * 4


def encode_image(size, depth, pixels):
    """BMP-in-ICO resource bytes for one image."""
    xor_stride = _row_bytes(size * depth)
    and_stride = _row_bytes(size)
    if depth == 4:
        pal = palette16()
    elif depth == 8:
        pal = palette256()
    else:
        pal = []
    size_image = (xor_stride + and_stride) * size
    out = bytearray(struct.pack(
        "<IiiHHIIiiII", 40, size, size * 2, 1, depth, 0, size_image, 0, 0, 0, 0))
    for r, g, b in pal:
        out += bytes((b, g, r, 0))
    # XOR bitmap, bottom row first.
    for row in reversed(pixels):
        line = bytearray()
        if depth == 4:
            for x in range(0, size, 2):
                hi = row[x][0]
                lo = row[x + 1][0] if x + 1 < size else 0
                line.append((hi << 4) | lo)
        elif depth == 8:
            line.extend(p[0] for p in row)
        else:
            for p in row:
                line.extend(p[0])
        line.extend(b"\x00" * (xor_stride - len(line)))
        out += line
    # AND mask, bottom row first, MSB = leftmost pixel.
    for row in reversed(pixels):
        line = bytearray(and_stride)
        for x, p in enumerate(row):
            if p[1]:
                line[x >> 3] |= 0x80 >> (x & 7)
        out += line
    return bytes(out)


def build_ico():
    images = []
    for size in SIZES:
        classes = render(size)
        for depth in DEPTHS:
            images.append((size, depth, encode_image(size, depth,
                                                     image_pixels(size, depth, classes))))
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = bytearray()
    body = bytearray()
    for size, depth, data in images:
        colours = 16 if depth == 4 else 0
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0,
                               1, depth, len(data), offset + len(body))
        body += data
    return header + bytes(entries) + bytes(body)


# ---------------------------------------------------------------------------
# Checking
# ---------------------------------------------------------------------------

class IcoError(Exception):
    pass


def _need(cond, msg):
    if not cond:
        raise IcoError(msg)


def parse_ico(data):
    """Parse and validate; returns a list of dicts with decoded RGBA rows."""
    _need(len(data) >= 6, "file too short")
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    _need(reserved == 0 and kind == 1, "not an icon directory")
    _need(count == 9, "%d images, expected 9" % count)
    _need(len(data) >= 6 + 16 * count, "directory truncated")
    images = []
    spans = []
    for i in range(count):
        (bw, bh, ncol, res, planes, bits, nbytes, off) = struct.unpack_from(
            "<BBBBHHII", data, 6 + 16 * i)
        w = bw or 256
        h = bh or 256
        _need(w == h, "entry %d is not square" % i)
        _need(res == 0, "entry %d reserved byte %d" % (i, res))
        _need(planes == 1, "entry %d wPlanes %d" % (i, planes))
        _need(bits in (4, 8, 32), "entry %d wBitCount %d" % (i, bits))
        _need(ncol == (16 if bits == 4 else 0),
              "entry %d bColorCount %d for %d bpp" % (i, ncol, bits))
        _need(off >= 6 + 16 * count and off + nbytes <= len(data),
              "entry %d data [%d, %d) outside file" % (i, off, off + nbytes))
        spans.append((off, off + nbytes))

        (bi_size, bi_w, bi_h, bi_planes, bi_bits, comp, _simg, _x, _y, clr_used,
         _imp) = struct.unpack_from("<IiiHHIIiiII", data, off)
        _need(bi_size == 40, "entry %d biSize %d" % (i, bi_size))
        _need(bi_w == w and bi_h == 2 * h,
              "entry %d header %dx%d, directory says %dx%d" % (i, bi_w, bi_h, w, h))
        _need(bi_planes == 1 and bi_bits == bits and comp == 0,
              "entry %d planes/bits/compression %d/%d/%d" % (i, bi_planes, bi_bits, comp))
        ncolours = (clr_used or (1 << bits)) if bits <= 8 else 0
        xs = ((w * bits + 31) // 32) * 4
        ms = ((w + 31) // 32) * 4
        expect = 40 + 4 * ncolours + (xs + ms) * h
        _need(nbytes == expect, "entry %d dwBytesInRes %d, expected %d"
              % (i, nbytes, expect))

        p = off + 40
        pal = [(data[p + 4 * k + 2], data[p + 4 * k + 1], data[p + 4 * k])
               for k in range(ncolours)]
        xor_at = p + 4 * ncolours
        and_at = xor_at + xs * h
        rgba = []
        mask = []
        for y in range(h):            # y counts from the top
            xrow = xor_at + (h - 1 - y) * xs
            arow = and_at + (h - 1 - y) * ms
            line = []
            mline = []
            for x in range(w):
                m = (data[arow + (x >> 3)] >> (7 - (x & 7))) & 1
                if bits == 4:
                    byte = data[xrow + x // 2]
                    idx = (byte >> 4) if x % 2 == 0 else (byte & 15)
                    r, g, b = pal[idx]
                    a = 0 if m else 255
                elif bits == 8:
                    r, g, b = pal[data[xrow + x]]
                    a = 0 if m else 255
                else:
                    b, g, r, a = data[xrow + 4 * x: xrow + 4 * x + 4]
                    _need((a == 0) == (m == 1),
                          "entry %d pixel (%d,%d): alpha %d with AND bit %d"
                          % (i, x, y, a, m))
                if m:
                    _need((r, g, b) == (0, 0, 0),
                          "entry %d pixel (%d,%d): transparent but XOR not black"
                          % (i, x, y))
                line.append((r, g, b, a))
                mline.append(m)
            rgba.append(line)
            mask.append(mline)
        images.append(dict(size=w, bits=bits, rgba=rgba, mask=mask))

    spans.sort()
    for (a0, a1), (b0, b1) in zip(spans, spans[1:]):
        _need(a1 <= b0, "image data overlaps")
    _need(spans[-1][1] == len(data), "trailing bytes after the last image")

    got = sorted((im["size"], im["bits"]) for im in images)
    want = sorted((s, d) for s in SIZES for d in DEPTHS)
    _need(got == want, "image set %r, expected %r" % (got, want))

    for im in images:
        s = im["size"]
        m = im["mask"]
        for (x, y) in ((0, 0), (s - 1, 0), (0, s - 1), (s - 1, s - 1)):
            _need(m[y][x] == 1, "%dx%d@%d corner not transparent" % (s, s, im["bits"]))
        _need(m[s // 2][s // 2] == 0, "%dx%d@%d centre transparent" % (s, s, im["bits"]))
        opaque = sum(1 for row in m for v in row if v == 0)
        _need(0.25 * s * s < opaque < 0.85 * s * s,
              "%dx%d@%d has %d opaque pixels" % (s, s, im["bits"], opaque))
        colours = set(p[:3] for row in im["rgba"] for p in row if p[3])
        _need(len(colours) >= 5, "%dx%d@%d uses only %d colours"
              % (s, s, im["bits"], len(colours)))
    return images


def write_preview(path, images, zoom=4, gap=6):
    """All images, scaled up, on a checkerboard (PNG, RGB)."""
    by = {(im["size"], im["bits"]): im for im in images}
    cols = len(DEPTHS)
    cell = max(SIZES) * zoom
    width = cols * (cell + gap) + gap
    height = len(SIZES) * (cell + gap) + gap
    canvas = [[(60, 60, 60)] * width for _ in range(height)]
    for r, s in enumerate(SIZES):
        for c, d in enumerate(DEPTHS):
            im = by[(s, d)]
            ox = gap + c * (cell + gap)
            oy = gap + r * (cell + gap)
            for y in range(s * zoom):
                for x in range(s * zoom):
                    bgc = 200 if ((x // 8) + (y // 8)) % 2 else 150
                    pr, pg, pb, pa = im["rgba"][y // zoom][x // zoom]
                    canvas[oy + y][ox + x] = tuple(
                        (v * pa + bgc * (255 - pa) + 127) // 255 for v in (pr, pg, pb))
    raw = bytearray()
    for row in canvas:
        raw.append(0)
        for px in row:
            raw += bytes(px)

    def chunk(t, d):
        return (struct.pack(">I", len(d)) + t + d +
                struct.pack(">I", zlib.crc32(t + d) & 0xFFFFFFFF))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(bytes(raw), 9)))
        f.write(chunk(b"IEND", b""))


def main(argv):
    args = argv[1:]
    if args and args[0] == "--check":
        if len(args) not in (2, 4) or (len(args) == 4 and args[2] != "--png"):
            sys.stderr.write("usage: make_icon.py --check FILE.ico [--png OUT.png]\n")
            return 2
        with open(args[1], "rb") as f:
            data = f.read()
        try:
            images = parse_ico(data)
        except IcoError as e:
            print("FAIL: %s" % e)
            return 1
        if len(args) == 4:
            write_preview(args[3], images)
            print("preview: %s" % args[3])
        print("OK %s: %d bytes, %s" % (args[1], len(data), ", ".join(
            "%dx%d@%d" % (im["size"], im["size"], im["bits"]) for im in images)))
        return 0
    if len(args) != 1 or args[0].startswith("-"):
        sys.stderr.write("usage: make_icon.py OUT.ico | --check FILE.ico [--png OUT.png]\n")
        return 2
    hg.write_file(args[0], build_ico())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
