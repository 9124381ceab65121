#!/usr/bin/env python3
"""Draws the Orvella icon and the link cursor used by OrvlHook's resources.

    python3 make_images.py            writes orvella.ico and hand.cur here
    python3 make_images.py --check    reads both files back and checks them
    python3 make_images.py --out DIR  writes them into DIR instead

orvella.ico  the product mark shown in the About dialog: a blue rounded
             square with a white "O" that has a speech-bubble tail. Two
             images, 32x32 and 16x16, 256 colours, each with its XOR
             bitmap and AND mask (classic BMP-based icon entries).
hand.cur     a 32x32 16-colour pointing hand for the About dialog's link
             labels, used where Windows has no hand cursor of its own.
             Hot spot (12, 1): the tip of the index finger.

Standard library only; the output is the same byte for byte on every run,
so --check also tells whether the files next to this script are current.
"""

import argparse
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

ICON_SIZES = (32, 16)
CURSOR_SIZE = 32
CURSOR_HOTSPOT = (12, 1)

# Colour behind the icon in dialogs (COLOR_3DFACE); partly covered edge
# pixels are blended towards it, since a 256-colour icon has no alpha.
DIALOG_FACE = (212, 208, 200)
BLUE_TOP = (86, 156, 232)
BLUE_BOTTOM = (22, 74, 168)
BLUE_RIM = (14, 48, 118)
WHITE = (255, 255, 255)

# --------------------------------------------------------------------------
# Icon drawing. Shapes are defined on a 32x32 canvas in continuous
# coordinates and sampled 4x4 times per pixel at every size.


def _inside_rounded_square(x, y, x0, y0, x1, y1, r):
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def _inside_ellipse(x, y, cx, cy, rx, ry):
    return ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0


def _inside_triangle(x, y, a, b, c):
    def side(p, q):
        return (q[0] - p[0]) * (y - p[1]) - (q[1] - p[1]) * (x - p[0])

    d1, d2, d3 = side(a, b), side(b, c), side(c, a)
    has_neg = d1 < 0 or d2 < 0 or d3 < 0
    has_pos = d1 > 0 or d2 > 0 or d3 > 0
    return not (has_neg and has_pos)


def _sample_icon(x, y):
    """Returns (in_tile, on_rim, in_mark) for a point of the 32x32 canvas."""
    in_tile = _inside_rounded_square(x, y, 0.5, 0.5, 31.5, 31.5, 7.0)
    on_rim = in_tile and not _inside_rounded_square(x, y, 1.6, 1.6, 30.4, 30.4, 6.0)
    cx, cy = 16.0, 14.5
    outer = _inside_ellipse(x, y, cx, cy, 10.6, 9.6)
    inner = _inside_ellipse(x, y, cx, cy, 5.6, 4.7)
    tail = _inside_triangle(x, y, (9.0, 19.0), (14.5, 22.5), (6.0, 27.5))
    in_mark = (outer or tail) and not inner
    return in_tile, on_rim, in_mark


def _mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def render_icon(size):
    """Returns rows of (r, g, b) or None (transparent), top row first."""
    scale = 32.0 / size
    n = 4
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            tile = rim = mark = 0
            for sy in range(n):
                for sx in range(n):
                    x = (px + (sx + 0.5) / n) * scale
                    y = (py + (sy + 0.5) / n) * scale
                    t, r, m = _sample_icon(x, y)
                    tile += t
                    rim += r
                    mark += m
            total = float(n * n)
            if tile / total < 0.5:
                row.append(None)
                continue
            gy = (py + 0.5) / size
            colour = _mix(BLUE_TOP, BLUE_BOTTOM, gy)
            if rim:
                colour = _mix(colour, BLUE_RIM, min(1.0, rim / max(tile, 1) * 1.2))
            if mark:
                colour = _mix(colour, WHITE, mark / max(tile, 1))
            if tile < total:
                colour = _mix(DIALOG_FACE, colour, tile / total)
            row.append(tuple(int(round(c)) for c in colour))
        rows.append(row)
    return rows


def build_palette(images):
    """One palette of at most 256 colours for all images; maps pixels to it."""
    step = 1
    while True:
        def q(c):
            return tuple(min(255, (v + step // 2) // step * step) for v in c)

        colours = sorted({q(c) for img in images for row in img for c in row if c})
        if len(colours) <= 255:  # index 0 stays black for transparent pixels
            break
        step += 1
    palette = [(0, 0, 0)] + colours
    index = {c: i for i, c in enumerate(palette)}
    mapped = [[[index[q(c)] if c else 0 for c in row] for row in img] for img in images]
    masks = [[[c is None for c in row] for row in img] for img in images]
    return palette, mapped, masks


# --------------------------------------------------------------------------
# Cursor drawing: a pixel map, '.' transparent, 'B' black, 'W' white.

HAND = [
    "................................",  # 0
    "...........BBB..................",  # 1  fingertip, hot spot x=12
    "..........BWWWB.................",  # 2
    "..........BWWWB.................",  # 3
    "..........BWWWB.................",  # 4
    "..........BWWWB.................",  # 5
    "..........BWWWB.................",  # 6
    "..........BWWWBBB...............",  # 7
    "..........BWWWBWWBBB............",  # 8
    "..........BWWWBWWBWWBBB.........",  # 9
    "..........BWWWBWWBWWBWWB........",  # 10
    "..........BWWWBWWBWWBWWB........",  # 11
    "..BBB.....BWWWWWWWWWWWWB........",  # 12
    ".BWWWB....BWWWWWWWWWWWWB........",  # 13
    ".BWWWWB...BWWWWWWWWWWWWB........",  # 14
    "..BWWWWB..BWWWWWWWWWWWWB........",  # 15
    "...BWWWWB.BWWWWWWWWWWWWB........",  # 16
    "....BWWWWBBWWWWWWWWWWWWB........",  # 17
    ".....BWWWWWWWWWWWWWWWWWB........",  # 18
    "......BWWWWWWWWWWWWWWWWB........",  # 19
    ".......BWWWWWWWWWWWWWWB.........",  # 20
    "........BWWWWWWWWWWWWWB.........",  # 21
    ".........BWWWWWWWWWWWB..........",  # 22
    "..........BWWWWWWWWWWB..........",  # 23
    "..........BBBBBBBBBBBB..........",  # 24
] + ["." * 32] * 7

# The 16 colours of the standard VGA palette; the cursor uses 0 and 15.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
CURSOR_INDEX = {"B": 0, "W": 15, ".": 0}

# --------------------------------------------------------------------------
# ICO / CUR writing.


def _row_bytes(bits_per_row):
    return (bits_per_row + 31) // 32 * 4


def dib(pixels, mask, palette, bpp):
    """A BMP-based icon or cursor image: header, palette, XOR bits, AND bits.

    pixels: rows of palette indices, top first; mask: rows of booleans,
    True where the pixel is transparent.
    """
    height = len(pixels)
    width = len(pixels[0])
    ncolours = 1 << bpp
    header = struct.pack(
        "<IiiHHIIiiII", 40, width, height * 2, 1, bpp, 0,
        0, 0, 0, 0, 0)
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    pal += b"\0\0\0\0" * (ncolours - len(palette))
    xor = bytearray()
    xor_stride = _row_bytes(width * bpp)
    for row in reversed(pixels):
        line = bytearray(xor_stride)
        for x, v in enumerate(row):
            bit = x * bpp
            line[bit // 8] |= v << (8 - bpp - bit % 8)
        xor += line
    andm = bytearray()
    and_stride = _row_bytes(width)
    for row in reversed(mask):
        line = bytearray(and_stride)
        for x, transparent in enumerate(row):
            if transparent:
                line[x // 8] |= 0x80 >> (x % 8)
        andm += line
    return header + pal + bytes(xor) + bytes(andm)


def icon_file(kind, entries):
    """kind 1 = icon, 2 = cursor; entries: (width, height, colours,
    field4, field6, image) where field4/field6 are planes/bit count for an
    icon and the hot spot x/y for a cursor."""
    out = struct.pack("<HHH", 0, kind, len(entries))
    offset = 6 + 16 * len(entries)
    images = b""
    for (w, h, colours, f4, f6, image) in entries:
        out += struct.pack("<BBBBHHII", w % 256, h % 256, colours % 256, 0,
                           f4, f6, len(image), offset + len(images))
        images += image
    return out + images


def make_icon():
    rendered = [render_icon(s) for s in ICON_SIZES]
    palette, mapped, masks = build_palette(rendered)
    entries = []
    for size, pix, mask in zip(ICON_SIZES, mapped, masks):
        entries.append((size, size, 0, 1, 8, dib(pix, mask, palette, 8)))
    return icon_file(1, entries)


def make_cursor():
    assert len(HAND) == CURSOR_SIZE and all(len(r) == CURSOR_SIZE for r in HAND)
    pixels = [[CURSOR_INDEX[c] for c in row] for row in HAND]
    mask = [[c == "." for c in row] for row in HAND]
    image = dib(pixels, mask, VGA16, 4)
    hx, hy = CURSOR_HOTSPOT
    return icon_file(2, [(CURSOR_SIZE, CURSOR_SIZE, 16, hx, hy, image)])


# --------------------------------------------------------------------------
# Reading back.


class Image:
    pass


def parse(data, want_kind):
    """Parses an ICO/CUR file strictly; raises ValueError on any defect."""
    if len(data) < 6:
        raise ValueError("file too short")
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != want_kind:
        raise ValueError("header type %d, expected %d" % (kind, want_kind))
    if count == 0 or len(data) < 6 + 16 * count:
        raise ValueError("bad image count %d" % count)
    images = []
    end = 6 + 16 * count
    for i in range(count):
        w, h, colours, res, f4, f6, size, offset = struct.unpack_from(
            "<BBBBHHII", data, 6 + 16 * i)
        img = Image()
        img.width, img.height = w or 256, h or 256
        img.colours, img.field4, img.field6 = colours, f4, f6
        if res != 0:
            raise ValueError("entry %d: reserved byte %d" % (i, res))
        if offset != end or offset + size > len(data):
            raise ValueError("entry %d: image at %d+%d does not follow the "
                             "previous one in a %d-byte file" % (i, offset, size, len(data)))
        end = offset + size
        blob = data[offset:offset + size]
        (hsize, bw, bh, planes, bpp, compression, _sizeimage, _xp, _yp,
         used, _important) = struct.unpack_from("<IiiHHIIiiII", blob, 0)
        if hsize != 40 or compression != 0 or planes != 1:
            raise ValueError("entry %d: not an uncompressed BITMAPINFOHEADER DIB" % i)
        if bw != img.width or bh != 2 * img.height:
            raise ValueError("entry %d: DIB is %dx%d, directory says %dx%d"
                             % (i, bw, bh, img.width, img.height))
        ncolours = used or (1 << bpp)
        expect = (40 + 4 * ncolours + _row_bytes(bw * bpp) * img.height
                  + _row_bytes(bw) * img.height)
        if size != expect:
            raise ValueError("entry %d: %d bytes, expected %d" % (i, size, expect))
        img.bpp = bpp
        pal_at = 40
        img.palette = [struct.unpack_from("<BBBB", blob, pal_at + 4 * k)[2::-1]
                       for k in range(ncolours)]
        xor_at = pal_at + 4 * ncolours
        and_at = xor_at + _row_bytes(bw * bpp) * img.height
        img.pixels = []
        img.transparent = []
        for y in range(img.height):
            src_y = img.height - 1 - y
            xrow = blob[xor_at + src_y * _row_bytes(bw * bpp):]
            arow = blob[and_at + src_y * _row_bytes(bw):]
            img.pixels.append([(xrow[(x * bpp) // 8] >> (8 - bpp - (x * bpp) % 8))
                               & ((1 << bpp) - 1) for x in range(bw)])
            img.transparent.append([bool(arow[x // 8] & (0x80 >> (x % 8)))
                                    for x in range(bw)])
        images.append(img)
    if end != len(data):
        raise ValueError("%d stray bytes at the end" % (len(data) - end))
    return images


def check(directory):
    problems = []
    passed = [0]

    def expect(cond, what):
        if cond:
            passed[0] += 1
        else:
            problems.append(what)

    ico_path = os.path.join(directory, "orvella.ico")
    cur_path = os.path.join(directory, "hand.cur")

    with open(ico_path, "rb") as f:
        ico = f.read()
    icons = parse(ico, 1)
    expect(sorted((i.width, i.height) for i in icons) == [(16, 16), (32, 32)],
           "orvella.ico must hold 32x32 and 16x16 images")
    for img in icons:
        tag = "orvella.ico %dx%d" % (img.width, img.height)
        expect(img.bpp in (4, 8), tag + ": 4 or 8 bits per pixel expected")
        expect(img.field4 == 1 and img.field6 == img.bpp,
               tag + ": directory planes/bit count wrong")
        n = img.width
        expect(img.transparent[0][0] and img.transparent[0][n - 1]
               and img.transparent[n - 1][0] and img.transparent[n - 1][n - 1],
               tag + ": rounded corners must be transparent")
        expect(not img.transparent[n // 2][n // 2] and not img.transparent[n // 2][1],
               tag + ": the tile must be opaque")
        colour = lambda x, y: img.palette[img.pixels[y][x]]
        # The hole of the "O" shows the blue tile; its ring is white.
        hole = colour(n // 2, int(n * 14.5 / 32))
        ring = colour(n // 2, int(n * 7 / 32))
        expect(hole[2] > 150 and hole[0] < 120, tag + ": centre of the O not blue %r" % (hole,))
        expect(min(ring) > 230, tag + ": ring of the O not white %r" % (ring,))

    with open(cur_path, "rb") as f:
        cur = f.read()
    cursors = parse(cur, 2)
    expect(len(cursors) == 1, "hand.cur must hold one image")
    c = cursors[0]
    expect((c.width, c.height) == (32, 32), "hand.cur must be 32x32")
    expect(c.bpp == 4 and c.colours == 16, "hand.cur must be a 16-colour image")
    expect((c.field4, c.field6) == CURSOR_HOTSPOT,
           "hand.cur hot spot is (%d, %d), expected (%d, %d)"
           % ((c.field4, c.field6) + CURSOR_HOTSPOT))
    hx, hy = c.field4, c.field6
    if 0 <= hx < c.width and 0 <= hy < c.height:
        expect(not c.transparent[hy][hx], "hand.cur: hot spot is not on the fingertip")
        expect(all(c.transparent[y][hx] for y in range(hy)),
               "hand.cur: something is drawn above the fingertip")
        expect(c.palette[c.pixels[hy + 1][hx]] == (255, 255, 255),
               "hand.cur: the finger below the tip is not white")

    expect(ico == make_icon(), "orvella.ico is not what this script draws; run it again")
    expect(cur == make_cursor(), "hand.cur is not what this script draws; run it again")

    for p in problems:
        print("FAIL:", p)
    print("%d passed, %d failed" % (passed[0], len(problems)))
    return not problems


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--check", action="store_true",
                    help="read the files back and check them instead of writing")
    ap.add_argument("--out", default=HERE, help="folder of the files (default: here)")
    args = ap.parse_args(argv)
    if args.check:
        try:
            ok = check(args.out)
        except (OSError, ValueError, IndexError, struct.error) as e:
            print("FAIL:", e)
            print("0 passed, 1 failed")
            ok = False
        return 0 if ok else 1
    os.makedirs(args.out, exist_ok=True)
    for name, data in (("orvella.ico", make_icon()), ("hand.cur", make_cursor())):
        with open(os.path.join(args.out, name), "wb") as f:
            f.write(data)
        print("wrote %s (%d bytes)" % (os.path.join(args.out, name), len(data)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
