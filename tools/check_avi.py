#!/usr/bin/env python3
"""Validate the hourglass clip written by make_hourglass.py.

Usage:  python3 tools/check_avi.py FILE.avi [--size PIXELS] [--png SHEET.png]
                                             [--compare] [--ffmpeg]

Parses the RIFF structure on its own (nothing is shared with the
generator), checks the headers, and decodes every frame with two separate
BI_RLE8 decoders:

  * a strict one that also enforces the encoding rules the generator
    promises (run lengths 1..255, absolute runs of 3+ bytes padded to a
    word, an end-of-line after each row, end-of-bitmap last, no writes
    outside the picture), and
  * a small permissive one in the style of a plain DIB renderer.

Both must produce identical 80 x 80 pictures (PIXELS x PIXELS with --size,
for the clips of the larger scales).  The frames must differ from
each other (in particular frames five apart must differ clearly).

--compare  also renders the frames with make_hourglass.py and requires the
           decoded pictures to match pixel for pixel.
--png      writes a contact sheet of all frames (5 x 4 grid) as PNG.
--ffmpeg   decodes the clip with ffmpeg (if installed) and compares.

Exit status 0 when every check passes, 1 otherwise.
"""

import os
import shutil
import struct
import subprocess
import sys
import zlib

W = H = 80
N_FRAMES = 20
MIN_DIFF_5_APART = 150     # pixels; "differ clearly"


class CheckError(Exception):
    pass


def need(cond, msg):
    if not cond:
        raise CheckError(msg)


# ---------------------------------------------------------------------------
# RIFF
# ---------------------------------------------------------------------------

def read_chunks(data, start, end):
    """List of (fourcc, payload_start, size, list_type) inside [start, end)."""
    out = []
    pos = start
    while pos < end:
        need(pos + 8 <= end, "truncated chunk header at %d" % pos)
        fcc = data[pos:pos + 4]
        size = struct.unpack_from("<I", data, pos + 4)[0]
        body = pos + 8
        need(body + size <= end, "chunk %r at %d overruns its parent" % (fcc, pos))
        ltype = None
        if fcc in (b"LIST", b"RIFF"):
            need(size >= 4, "list too short at %d" % pos)
            ltype = data[body:body + 4]
        out.append((fcc, body, size, ltype))
        pos = body + size + (size & 1)
    need(pos == end, "chunk padding does not line up with parent end")
    return out


def find_one(chunks, fcc, ltype=None):
    hits = [c for c in chunks if c[0] == fcc and (ltype is None or c[3] == ltype)]
    need(len(hits) == 1, "expected exactly one %r %r, found %d" % (fcc, ltype, len(hits)))
    return hits[0]


def parse_avi(data):
    need(len(data) >= 12 and data[:4] == b"RIFF" and data[8:12] == b"AVI ",
         "not a RIFF AVI file")
    riff_size = struct.unpack_from("<I", data, 4)[0]
    need(riff_size + 8 == len(data), "RIFF size %d does not match file size %d"
         % (riff_size, len(data)))
    top = read_chunks(data, 12, len(data))
    need([c[0] for c in top] == [b"LIST", b"LIST", b"idx1"],
         "top level must be LIST hdrl, LIST movi, idx1; got %r"
         % [(c[0], c[3]) for c in top])

    info = {}

    _, hb, hs, _ = find_one(top, b"LIST", b"hdrl")
    hdrl = read_chunks(data, hb + 4, hb + hs)
    _, ab, asz, _ = find_one(hdrl, b"avih")
    need(asz == 56, "avih size %d, expected 56" % asz)
    (info["us_per_frame"], _max_bps, _pad, info["avi_flags"], info["total_frames"],
     info["initial_frames"], info["streams"], _sugg, info["width"],
     info["height"]) = struct.unpack_from("<10I", data, ab)

    strls = [c for c in hdrl if c[0] == b"LIST" and c[3] == b"strl"]
    need(len(strls) == 1, "expected one strl list, found %d" % len(strls))
    _, sb, ss, _ = strls[0]
    strl = read_chunks(data, sb + 4, sb + ss)
    _, rb, rs, _ = find_one(strl, b"strh")
    need(rs >= 48, "strh too short (%d)" % rs)
    need(rs == 56, "strh size %d, expected 56" % rs)
    info["fcc_type"] = data[rb:rb + 4]
    info["fcc_handler"] = data[rb + 4:rb + 8]
    (_flags, _prio, _lang, _init, info["scale"], info["rate"], _start,
     info["length"], _sugg2, _qual, info["sample_size"]) = struct.unpack_from(
        "<IHHIIIIIIII", data, rb + 8)
    info["rc_frame"] = struct.unpack_from("<4h", data, rb + 48)

    _, fb, fs, _ = find_one(strl, b"strf")
    need(fs >= 40, "strf too short")
    (bi_size, bi_w, bi_h, planes, bpp, comp, size_image, _xp, _yp, clr_used,
     _clr_imp) = struct.unpack_from("<IiiHHIIiiII", data, fb)
    info.update(bi_size=bi_size, bi_w=bi_w, bi_h=bi_h, planes=planes, bpp=bpp,
                compression=comp, size_image=size_image, clr_used=clr_used)
    ncol = clr_used or 256
    need(fs == bi_size + 4 * ncol, "strf size %d != header %d + palette %d"
         % (fs, bi_size, 4 * ncol))
    pal = []
    for i in range(ncol):
        b, g, r, _ = data[fb + bi_size + 4 * i: fb + bi_size + 4 * i + 4]
        pal.append((r, g, b))
    info["palette"] = pal

    _, mb, ms, _ = find_one(top, b"LIST", b"movi")
    movi_fcc_pos = mb                     # position of the 'movi' fourcc
    movi = read_chunks(data, mb + 4, mb + ms)
    frames = []
    for fcc, body, size, _ in movi:
        need(fcc == b"00dc", "unexpected chunk %r in movi" % fcc)
        frames.append((body - 8 - movi_fcc_pos, bytes(data[body:body + size])))
    info["frames"] = frames

    _, ib, isz, _ = find_one(top, b"idx1")
    need(isz % 16 == 0, "idx1 size not a multiple of 16")
    index = []
    for k in range(isz // 16):
        ckid = data[ib + 16 * k: ib + 16 * k + 4]
        flags, off, length = struct.unpack_from("<III", data, ib + 16 * k + 4)
        index.append((ckid, flags, off, length))
    info["index"] = index
    return info


def check_headers(info):
    need(info["us_per_frame"] == 100000, "dwMicroSecPerFrame %d" % info["us_per_frame"])
    need(info["avi_flags"] & 0x10, "AVIF_HASINDEX not set")
    need(info["total_frames"] == N_FRAMES, "dwTotalFrames %d" % info["total_frames"])
    need(info["streams"] == 1, "dwStreams %d" % info["streams"])
    need((info["width"], info["height"]) == (W, H),
         "avih size %dx%d" % (info["width"], info["height"]))
    need(info["fcc_type"] == b"vids", "fccType %r" % info["fcc_type"])
    need(info["fcc_handler"] == b"mrle", "fccHandler %r" % info["fcc_handler"])
    need(info["scale"] and info["rate"] * 100000 == info["scale"] * 1000000,
         "dwRate/dwScale %d/%d is not 10 fps" % (info["rate"], info["scale"]))
    need(info["length"] == N_FRAMES, "strh dwLength %d" % info["length"])
    need(info["rc_frame"] == (0, 0, W, H), "rcFrame %r" % (info["rc_frame"],))
    need(info["bi_size"] == 40, "biSize %d" % info["bi_size"])
    need((info["bi_w"], info["bi_h"]) == (W, H),
         "bitmap %dx%d (must be bottom-up %dx%d)" % (info["bi_w"], info["bi_h"], W, H))
    need(info["planes"] == 1, "biPlanes %d" % info["planes"])
    need(info["bpp"] == 8, "biBitCount %d" % info["bpp"])
    need(info["compression"] == 1, "biCompression %d (BI_RLE8 expected)"
         % info["compression"])
    need(info["clr_used"] == 256, "biClrUsed %d" % info["clr_used"])
    sizes = [len(f) for _, f in info["frames"]]
    need(info["size_image"] in (0, max(sizes)),
         "biSizeImage %d is neither 0 nor the largest frame %d"
         % (info["size_image"], max(sizes)))
    need(len(info["frames"]) == N_FRAMES, "%d frames in movi" % len(info["frames"]))
    need(len(info["index"]) == N_FRAMES, "%d idx1 entries" % len(info["index"]))
    for k, ((ckid, flags, off, length), (real_off, fdata)) in enumerate(
            zip(info["index"], info["frames"])):
        need(ckid == b"00dc", "idx1[%d] id %r" % (k, ckid))
        need(flags & 0x10, "idx1[%d] lacks AVIIF_KEYFRAME" % k)
        need(off == real_off, "idx1[%d] offset %d, chunk is at %d" % (k, off, real_off))
        need(length == len(fdata), "idx1[%d] length %d != %d" % (k, length, len(fdata)))


# ---------------------------------------------------------------------------
# Decoders
# ---------------------------------------------------------------------------

def decode_strict(data, w, h):
    """Decode BI_RLE8 and enforce the generator's encoding rules.

    Returns rows top first.
    """
    pix = [[None] * w for _ in range(h)]
    x = y = 0          # y counts from the bottom row
    p = 0
    n = len(data)
    eob = False
    while p < n:
        need(p + 2 <= n, "odd trailing byte")
        a, b = data[p], data[p + 1]
        p += 2
        if a > 0:
            need(y < h, "run above the last row")
            need(x + a <= w, "run crosses right edge (row %d, x %d, len %d)" % (y, x, a))
            for i in range(a):
                pix[y][x + i] = b
            x += a
        elif b == 0:
            need(x == w, "end-of-line at x=%d in row %d (row incomplete)" % (x, y))
            x = 0
            y += 1
        elif b == 1:
            need(p == n, "data after end-of-bitmap")
            eob = True
            break
        elif b == 2:
            raise CheckError("delta escape is not used by the generator")
        else:
            need(y < h, "absolute run above the last row")
            need(x + b <= w, "absolute run crosses right edge")
            need(p + b + (b & 1) <= n, "truncated absolute run")
            for i in range(b):
                pix[y][x + i] = data[p + i]
            if b & 1:
                need(data[p + b] == 0, "absolute pad byte not zero")
            p += b + (b & 1)
            x += b
    need(eob, "missing end-of-bitmap")
    need(y == h and x == 0, "bitmap ended after %d rows (x=%d)" % (y, x))
    for row in pix:
        need(None not in row, "pixel left undefined")
    return pix[::-1]


def decode_simple(data, w, h):
    """Plain RLE8 renderer: unset pixels are 0, out-of-range writes dropped."""
    buf = bytearray(w * h)
    x = y = 0
    i = 0
    while i + 1 < len(data):
        cnt, val = data[i], data[i + 1]
        i += 2
        if cnt:
            for _ in range(cnt):
                if x < w and y < h:
                    buf[y * w + x] = val
                x += 1
            continue
        if val == 0:
            x, y = 0, y + 1
        elif val == 1:
            break
        elif val == 2:
            x += data[i]
            y += data[i + 1]
            i += 2
        else:
            for k in range(val):
                if x < w and y < h:
                    buf[y * w + x] = data[i + k]
                x += 1
            i += val + (val & 1)
    return [list(buf[r * w:(r + 1) * w]) for r in range(h - 1, -1, -1)]


# ---------------------------------------------------------------------------
# PNG contact sheet
# ---------------------------------------------------------------------------

def write_png(path, width, height, rgb_rows):
    raw = bytearray()
    for row in rgb_rows:
        raw.append(0)
        for r, g, b in row:
            raw += bytes((r, g, b))

    def pchunk(t, d):
        c = struct.pack(">I", len(d)) + t + d
        return c + struct.pack(">I", zlib.crc32(t + d) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += pchunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += pchunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += pchunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def contact_sheet(path, frames, palette, zoom=3, cols=5, gap=4):
    rows_n = (len(frames) + cols - 1) // cols
    sw = cols * (W * zoom + gap) + gap
    sh = rows_n * (H * zoom + gap) + gap
    sheet = [[(40, 40, 40)] * sw for _ in range(sh)]
    for k, fr in enumerate(frames):
        ox = gap + (k % cols) * (W * zoom + gap)
        oy = gap + (k // cols) * (H * zoom + gap)
        for y in range(H):
            line = [palette[v] for v in fr[y] for _ in range(zoom)]
            for z in range(zoom):
                sheet[oy + y * zoom + z][ox:ox + W * zoom] = line
    write_png(path, sw, sh, sheet)


# ---------------------------------------------------------------------------
# Optional ffmpeg cross-check
# ---------------------------------------------------------------------------

def ffmpeg_check(path, frames, palette):
    exe = shutil.which("ffmpeg")
    if not exe:
        print("ffmpeg: not installed, skipped")
        return
    probe = shutil.which("ffprobe")
    if probe:
        out = subprocess.run(
            [probe, "-v", "error", "-select_streams", "v", "-count_frames",
             "-show_entries", "stream=codec_name,width,height,nb_read_frames,r_frame_rate",
             "-of", "default=nw=1", path],
            check=True, capture_output=True, text=True).stdout
        print("ffprobe: " + " ".join(out.split()))
        need("codec_name=msrle" in out, "ffprobe: codec is not msrle")
        need("nb_read_frames=%d" % N_FRAMES in out, "ffprobe: frame count")
        need("width=%d" % W in out and "height=%d" % H in out, "ffprobe: size")
        need("r_frame_rate=10/1" in out, "ffprobe: frame rate")
    res = subprocess.run(
        [exe, "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
        check=True, capture_output=True)
    raw = res.stdout
    need(len(raw) == N_FRAMES * W * H * 3,
         "ffmpeg produced %d bytes, expected %d" % (len(raw), N_FRAMES * W * H * 3))
    for k, fr in enumerate(frames):
        base = k * W * H * 3
        for y in range(H):
            for x in range(W):
                o = base + (y * W + x) * 3
                got = tuple(raw[o:o + 3])
                need(got == palette[fr[y][x]],
                     "ffmpeg frame %d pixel (%d,%d) = %r, expected %r"
                     % (k, x, y, got, palette[fr[y][x]]))
    print("ffmpeg: all %d frames decode identically" % N_FRAMES)


# ---------------------------------------------------------------------------

def diff_count(a, b):
    return sum(1 for ra, rb in zip(a, b) for pa, pb in zip(ra, rb) if pa != pb)


def run(argv):
    global W, H
    args = argv[1:]
    png = None
    compare = use_ffmpeg = False
    files = []
    while args:
        a = args.pop(0)
        if a == "--png":
            png = args.pop(0)
        elif a == "--compare":
            compare = True
        elif a == "--ffmpeg":
            use_ffmpeg = True
        elif a == "--size":
            W = H = int(args.pop(0))
        else:
            files.append(a)
    if len(files) != 1:
        sys.stderr.write(__doc__)
        return 2
    path = files[0]
    with open(path, "rb") as f:
        data = f.read()

    info = parse_avi(data)
    check_headers(info)
    palette = info["palette"]

    frames = []
    for k, (_, fdata) in enumerate(info["frames"]):
        try:
            strict = decode_strict(fdata, W, H)
        except CheckError as e:
            raise CheckError("frame %d: %s" % (k, e))
        simple = decode_simple(fdata, W, H)
        need(len(strict) == H and all(len(r) == W for r in strict),
             "frame %d is not %dx%d" % (k, W, H))
        need(sum(len(r) for r in strict) == W * H, "frame %d pixel count" % k)
        need(strict == simple, "frame %d: the two decoders disagree" % k)
        frames.append(strict)

    # Transparency key: the first pixel (bottom-left in a bottom-up DIB) and
    # the corners must be the background, index 0.
    for k, fr in enumerate(frames):
        for (x, y) in ((0, 0), (W - 1, 0), (0, H - 1), (W - 1, H - 1)):
            need(fr[y][x] == 0, "frame %d corner (%d,%d) is not index 0" % (k, x, y))
        used = set(v for row in fr for v in row)
        need(len(used) >= 5, "frame %d uses only %d colours" % (k, len(used)))

    min5 = None
    for i in range(N_FRAMES):
        j = (i + 1) % N_FRAMES
        need(diff_count(frames[i], frames[j]) > 0, "frames %d and %d are identical" % (i, j))
        d5 = diff_count(frames[i], frames[(i + 5) % N_FRAMES])
        need(d5 >= MIN_DIFF_5_APART * W * H // (80 * 80), "frames %d and %d differ in only %d pixels"
             % (i, (i + 5) % N_FRAMES, d5))
        min5 = d5 if min5 is None else min(min5, d5)
    distinct = len(set(tuple(map(tuple, f)) for f in frames))
    need(distinct == N_FRAMES, "only %d distinct frames" % distinct)

    if compare:
        sys.dont_write_bytecode = True
        sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
        import make_hourglass
        for k in range(N_FRAMES):
            need(frames[k] == make_hourglass.render_frame(k, W),
                 "frame %d does not match the generator's picture" % k)
        print("compare: decoded frames equal the rendered pictures")

    if use_ffmpeg:
        ffmpeg_check(path, frames, palette)

    if png:
        contact_sheet(png, frames, palette)
        print("contact sheet: %s" % png)

    sizes = [len(f) for _, f in info["frames"]]
    print("OK %s: %d bytes, %d frames %dx%d RLE8, frame sizes %d..%d, "
          "min diff 5 apart %d px" % (path, len(data), len(frames), W, H,
                                      min(sizes), max(sizes), min5))
    return 0


def main(argv):
    try:
        return run(argv)
    except CheckError as e:
        print("FAIL: %s" % e)
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
