#!/usr/bin/env python3
"""Generate the "busy" hourglass clip shown while setup works.

Usage:  python3 tools/make_hourglass.py [--size PIXELS] OUT.avi

PIXELS is the side of the square frames: 80 (the default) for a screen at
100 %, larger ones for the larger scales (a clip cannot be stretched by the
animation control, so each scale gets a clip of its own).

Writes a small RIFF AVI (one 'vids' stream, handler 'mrle', 8-bit palettized
frames compressed as BI_RLE8) suitable for the common animation control.
The output is fully deterministic: running the script twice gives the same
bytes.

The drawing code (hourglass geometry and colour classes) is also used by
make_icon.py so the clip and the application icon share one motif.

Palette index 0 is the background; the animation control, when created with
ACS_TRANSPARENT, replaces that colour with the dialog background.
"""

import math
import struct
import sys

# ---------------------------------------------------------------------------
# Picture
# ---------------------------------------------------------------------------

# Colour classes produced by the rasteriser.  Each output format maps these
# to its own palette indices / RGBA values.
BG, OUTLINE, GLASS, HIGHLIGHT, WOOD, WOOD_DARK, SAND, SAND_DARK = range(8)
NUM_CLASSES = 8

# RGB of every class.  BG is only meaningful for the clip (it is keyed out by
# the control); icons treat it as fully transparent.
CLASS_RGB = {
    BG: (192, 192, 192),
    OUTLINE: (56, 72, 104),
    GLASS: (222, 238, 248),
    HIGHLIGHT: (255, 255, 255),
    WOOD: (150, 96, 44),
    WOOD_DARK: (94, 56, 22),
    SAND: (244, 204, 64),
    SAND_DARK: (222, 132, 30),
}

# Geometry in "glass units": the glass is centred on (0, 0), v grows
# downwards, the plates span |v| in [PLATE_IN, PLATE_OUT].
PLATE_IN = 0.80
PLATE_OUT = 0.95
PLATE_HALF_W = 0.66
POST_IN = 0.52
POST_OUT = 0.61
WAIST = 0.06            # half width of the neck
SLOPE = 0.40 / PLATE_IN  # growth of half width per unit of |v|
BULB_DEPTH = PLATE_IN   # waist to plate
# Radius of the smallest circle holding the whole glass; used to size the
# clip so that the turning glass never leaves the frame.
EXTENT = math.hypot(PLATE_HALF_W, PLATE_OUT)

SAND_FILL = 0.80        # sand volume as a fraction of one bulb


def _area_from_waist(d):
    """Area (both halves) of a bulb between the waist and distance d."""
    return 2.0 * (WAIST * d + SLOPE * d * d / 2.0)


def _depth_for_area(area):
    """Inverse of _area_from_waist."""
    half = area / 2.0
    return (-WAIST + math.sqrt(WAIST * WAIST + 2.0 * SLOPE * half)) / SLOPE


BULB_AREA = _area_from_waist(BULB_DEPTH)
SAND_AREA = SAND_FILL * BULB_AREA


class HourglassState:
    """Sand distribution for one picture.

    top_fraction: share of the sand still in the upper bulb (1.0 = all).
    flowing:      draw the falling stream through the neck.
    """

    def __init__(self, top_fraction, flowing):
        top_fraction = min(1.0, max(0.0, top_fraction))
        self.flowing = flowing and top_fraction > 0.0
        # Upper bulb: sand rests on the neck, so it fills from the waist up.
        top_area = top_fraction * SAND_AREA
        self.top_depth = _depth_for_area(top_area) if top_area > 0 else 0.0
        # Lower bulb: sand fills from the plate (wide end) towards the neck.
        bottom_area = (1.0 - top_fraction) * SAND_AREA
        if bottom_area > 0:
            rest = BULB_AREA - bottom_area
            self.bottom_level = _depth_for_area(rest)  # distance from waist
        else:
            self.bottom_level = BULB_DEPTH
        self.has_bottom = bottom_area > 0


def glass_half_width(av):
    return WAIST + SLOPE * av


def classify(u, v, state, px):
    """Colour class of point (u, v) in glass units.

    px is the size of one output pixel in glass units; thin features are
    kept at least about one pixel wide so that small icons still show them.
    """
    au = abs(u)
    av = abs(v)

    # Wooden plates, darker rim on their outer edge.
    if PLATE_IN <= av <= PLATE_OUT and au <= PLATE_HALF_W:
        rim = max(0.045, px * 0.9)
        if av >= PLATE_OUT - rim or au >= PLATE_HALF_W - rim:
            return WOOD_DARK
        return WOOD
    if av > PLATE_OUT:
        return BG

    # Posts joining the plates.
    post_w = max(POST_OUT - POST_IN, px * 1.1)
    if POST_OUT - post_w <= au <= POST_OUT and av < PLATE_IN:
        return WOOD_DARK

    if av >= PLATE_IN:
        return BG
    w = glass_half_width(av)
    if au > w:
        return BG
    # Outline thickness measured perpendicular to the slanted wall.
    t = max(0.055, px * 0.95) * math.sqrt(1.0 + SLOPE * SLOPE)
    inner = w - t
    if au > inner:
        return OUTLINE

    if v < 0:
        # Upper bulb: sand from the neck up to top_depth.
        if state.top_depth > 0 and av <= state.top_depth:
            return SAND_DARK if u > 0.45 * inner else SAND
    else:
        # Lower bulb: heap from the plate up to bottom_level, with a
        # slight cone in the middle.
        if state.has_bottom:
            heap = 0.10 * max(0.0, 1.0 - au / max(inner, 1e-6))
            if av >= state.bottom_level - heap:
                return SAND_DARK if u > 0.45 * inner else SAND
        # Falling stream through the neck.
        stream_w = max(0.022, px * 0.5)
        if state.flowing and au <= stream_w:
            return SAND_DARK

    # Glint on the left wall of each bulb.
    if 0.28 <= av <= 0.62:
        g0 = inner - max(0.06, px * 1.2)
        if -u >= g0 - max(0.045, px * 0.9) and -u <= g0:
            return HIGHLIGHT
    return GLASS


def render_classes(size, state, angle_deg, scale, samples=1):
    """Rasterise the hourglass into a size x size grid of class lists.

    Returns a list (top row first) of rows; every pixel is a list of the
    classes of its samples x samples sub-pixel samples.  The glass is turned
    by angle_deg about the centre of the picture; one glass unit spans
    `scale` pixels.
    """
    a = math.radians(angle_deg)
    ca = math.cos(a)
    sa = math.sin(a)
    c = size / 2.0
    px = 1.0 / scale
    rows = []
    offs = [(i + 0.5) / samples for i in range(samples)]
    for y in range(size):
        row = []
        for x in range(size):
            cls = []
            for oy in offs:
                dy = (y + oy - c) / scale
                for ox in offs:
                    dx = (x + ox - c) / scale
                    u = dx * ca + dy * sa
                    v = -dx * sa + dy * ca
                    cls.append(classify(u, v, state, px))
            row.append(cls)
        rows.append(row)
    return rows


def majority(cls):
    """Most frequent class of a pixel's samples; ties go to the lower id."""
    counts = [0] * NUM_CLASSES
    for k in cls:
        counts[k] += 1
    best = 0
    for k in range(1, NUM_CLASSES):
        if counts[k] > counts[best]:
            best = k
    return best


# ---------------------------------------------------------------------------
# Clip
# ---------------------------------------------------------------------------

WIDTH = HEIGHT = 80
FRAMES = 20
FLOW_FRAMES = 15          # frames 0..14: sand runs from full to empty
US_PER_FRAME = 100000     # 10 frames per second
AVIIF_KEYFRAME = 0x10
AVIF_HASINDEX = 0x10
BI_RLE8 = 1

# Palette index of each class in the clip; index 0 must stay the background.
CLIP_INDEX = {cls: cls for cls in range(NUM_CLASSES)}


def frame_params(n):
    """(top_fraction, flowing, angle) for clip frame n.

    The sand runs down during the first FLOW_FRAMES frames, then the glass
    turns through 180 degrees in the remaining frames.  A half turn maps the
    (symmetric) glass onto itself with the full bulb on top, so frame 0
    follows the last frame seamlessly.
    """
    last_flow = FLOW_FRAMES - 1
    if n <= last_flow:
        return 1.0 - n / last_flow, n < last_flow, 0.0
    turn_steps = FRAMES - last_flow        # includes the wrap to frame 0
    return 0.0, False, 180.0 * (n - last_flow) / turn_steps


def render_frame(n, size=WIDTH):
    """Frame n as a list of size rows (top first) of palette indices."""
    top, flowing, angle = frame_params(n)
    state = HourglassState(top, flowing)
    scale = (size / 2.0 - 1.5 * size / WIDTH) / EXTENT
    classes = render_classes(size, state, angle, scale, samples=2)
    return [[CLIP_INDEX[majority(p)] for p in row] for row in classes]


def clip_palette():
    """256 RGBQUAD entries (B, G, R, 0)."""
    out = bytearray()
    for i in range(256):
        r, g, b = CLASS_RGB.get(i, (0, 0, 0)) if i < NUM_CLASSES else (0, 0, 0)
        out += bytes((b, g, r, 0))
    return bytes(out)


def _rle8_row(row):
    """RLE8 opcodes for one row of indices (without the end-of-line)."""
    out = bytearray()
    # Split the row into runs of equal values.
    runs = []
    i = 0
    n = len(row)
    while i < n:
        j = i + 1
        while j < n and row[j] == row[i]:
            j += 1
        runs.append((row[i], j - i))
        i = j

    def put_encoded(value, count):
        while count > 0:
            c = min(count, 255)
            out.extend((c, value))
            count -= c

    def put_literal(values):
        k = 0
        while len(values) - k >= 3:
            # A tail of one or two left over after a full block of 255 is
            # written below as encoded runs of length one.
            c = min(len(values) - k, 255)
            out.extend((0, c))
            out.extend(values[k:k + c])
            if c & 1:
                out.append(0)     # absolute runs end on a 16-bit boundary
            k += c
        for v in values[k:]:
            put_encoded(v, 1)

    literal = []
    for value, count in runs:
        if count == 1:
            literal.append(value)
            continue
        if literal:
            put_literal(literal)
            literal = []
        put_encoded(value, count)
    if literal:
        put_literal(literal)
    return bytes(out)


def encode_rle8(rows_top_first):
    """BI_RLE8 stream for a bottom-up DIB given rows top-first."""
    out = bytearray()
    for row in reversed(rows_top_first):
        out += _rle8_row(row)
        out += b"\x00\x00"           # end of line
    out += b"\x00\x01"               # end of bitmap
    return bytes(out)


def chunk(fourcc, data):
    pad = b"\x00" if len(data) & 1 else b""
    return fourcc + struct.pack("<I", len(data)) + data + pad


def riff_list(kind, fourcc, payload):
    return kind + struct.pack("<I", len(payload) + 4) + fourcc + payload


def build_avi(size=WIDTH):
    frames = [encode_rle8(render_frame(n, size)) for n in range(FRAMES)]
    max_frame = max(len(f) for f in frames)
    buf_size = max_frame + 8

    bih = struct.pack(
        "<IiiHHIIiiII",
        40, size, size, 1, 8, BI_RLE8, max_frame, 0, 0, 256, 0)
    strf = bih + clip_palette()

    strh = b"vids" + b"mrle" + struct.pack(
        "<IHHIIIIIIIIhhhh",
        0,                 # dwFlags
        0, 0,              # wPriority, wLanguage
        0,                 # dwInitialFrames
        1,                 # dwScale
        1000000 // US_PER_FRAME,  # dwRate -> frames per second
        0,                 # dwStart
        FRAMES,            # dwLength
        buf_size,          # dwSuggestedBufferSize
        0xFFFFFFFF,        # dwQuality: default
        0,                 # dwSampleSize: variable
        0, 0, size, size)  # rcFrame

    max_bytes_per_sec = (max_frame * 1000000 + US_PER_FRAME - 1) // US_PER_FRAME
    avih = struct.pack(
        "<IIIIIIIIII4I",
        US_PER_FRAME, max_bytes_per_sec, 0, AVIF_HASINDEX,
        FRAMES, 0, 1, buf_size, size, size, 0, 0, 0, 0)

    strl = riff_list(b"LIST", b"strl", chunk(b"strh", strh) + chunk(b"strf", strf))
    hdrl = riff_list(b"LIST", b"hdrl", chunk(b"avih", avih) + strl)

    movi_payload = bytearray()
    index = bytearray()
    for data in frames:
        # Offsets in idx1 count from the 'movi' fourcc.
        offset = 4 + len(movi_payload)
        movi_payload += chunk(b"00dc", data)
        index += b"00dc" + struct.pack("<III", AVIIF_KEYFRAME, offset, len(data))
    movi = riff_list(b"LIST", b"movi", bytes(movi_payload))
    idx1 = chunk(b"idx1", bytes(index))

    return riff_list(b"RIFF", b"AVI ", hdrl + movi + idx1)


def write_file(path, data):
    with open(path, "wb") as f:
        f.write(data)


def main(argv):
    args = argv[1:]
    size = WIDTH
    if len(args) == 3 and args[0] == "--size" and args[1].isdigit() and 16 <= int(args[1]) <= 255:
        size = int(args[1])
        args = args[2:]
    if len(args) != 1:
        sys.stderr.write("usage: make_hourglass.py [--size PIXELS (16-255)] OUT.avi\n")
        return 2
    write_file(args[0], build_avi(size))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
