#!/usr/bin/env python3
"""Draws the artwork of the toolbar and of the properties program and writes it as the BMP,
ICO and CUR files that their resource scripts embed. Standard library only; the output is
byte-for-byte the same on every run, so the generated files are committed and a run must
leave `git status` clean.

    python3 resources/make-artwork.py            # rewrites every file
    python3 resources/make-artwork.py --preview DIR
                                                 # also writes 8x enlarged PNGs into DIR

Pictures are either pixel art (a grid of characters and a legend) or shapes rendered with
4 x 4 or 8 x 8 supersampling. Bitmaps without an alpha channel mark their transparent
pixels with the top-left pixel's colour (magenta, used nowhere else), as the menu class and
the toolbar's image list expect; edge pixels are blended against the background they are
shown on.
"""

import math
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

# The palette every picture draws from.
KEY = (255, 0, 255)  # transparent: the top-left pixel of every keyed bitmap
WHITE = (255, 255, 255)
PAPER = (248, 250, 253)
MIST = (226, 232, 242)
SILVER = (184, 192, 206)
SLATE = (92, 104, 124)
INK = (34, 42, 58)
FOLDER_LIGHT = (255, 228, 146)
FOLDER = (247, 198, 72)
FOLDER_BACK = (226, 166, 46)
FOLDER_LINE = (146, 98, 22)
SKY = (150, 190, 246)
BLUE = (56, 118, 212)
BLUE_DARK = (30, 76, 154)
NAVY = (20, 46, 94)
GREEN_LIGHT = (150, 222, 112)
GREEN = (68, 168, 62)
GREEN_DARK = (34, 108, 38)
# The dialog's background, RGB(148, 176, 224); the banner fades into it.
DIALOG = (148, 176, 224)
# What menu images are blended against: between the icon column's white and light blue.
MENU_MATTE = (222, 232, 248)
# The toolbar's face colour (COLOR_BTNFACE of the default scheme).
BUTTON_FACE = (240, 240, 240)


# ---------------------------------------------------------------------------------------
# Pictures: rows of pixels, each (r, g, b, a) with a in 0..255.


def blank(width, height, color=(0, 0, 0, 0)):
    return [[color for _ in range(width)] for _ in range(height)]


def from_grid(grid, legend):
    """Pixel art: one character per pixel; the legend maps characters to RGB (or None for
    transparent)."""
    rows = [line for line in grid.strip("\n").split("\n")]
    width = max(len(r) for r in rows)
    picture = []
    for r in rows:
        row = []
        for ch in r.ljust(width, "."):
            color = legend[ch]
            row.append((0, 0, 0, 0) if color is None else tuple(color) + (255,))
        picture.append(row)
    return picture


def paste(target, source, x0, y0):
    """Source over target (straight alpha)."""
    for y, row in enumerate(source):
        for x, (r, g, b, a) in enumerate(row):
            if a == 0:
                continue
            ty, tx = y0 + y, x0 + x
            if not (0 <= ty < len(target) and 0 <= tx < len(target[0])):
                continue
            tr, tg, tb, ta = target[ty][tx]
            fa = a / 255
            oa = fa + ta / 255 * (1 - fa)
            if oa <= 0:
                continue
            mix = lambda s, t: (s * fa + t * (ta / 255) * (1 - fa)) / oa
            target[ty][tx] = (round(mix(r, tr)), round(mix(g, tg)), round(mix(b, tb)),
                              round(oa * 255))


def keyed(picture, matte):
    """Opaque RGB for a bitmap without alpha: mostly transparent pixels become the key
    colour, the others are blended against `matte`."""
    out = []
    for row in picture:
        line = []
        for r, g, b, a in row:
            if a < 128:
                line.append(KEY)
            else:
                f = a / 255
                line.append(tuple(round(c * f + m * (1 - f)) for c, m in zip((r, g, b), matte)))
        out.append(line)
    return out


# ---------------------------------------------------------------------------------------
# Shapes, rendered with supersampling. Each shape is (bounding box, inside test, colour);
# the colour is an RGB triple or a function of (x, y). Later shapes cover earlier ones.


def rect(x0, y0, x1, y1):
    return (x0, y0, x1, y1), lambda x, y: x0 <= x < x1 and y0 <= y < y1


def rounded(x0, y0, x1, y1, radius):
    def inside(x, y):
        if not (x0 <= x < x1 and y0 <= y < y1):
            return False
        cx = min(max(x, x0 + radius), x1 - radius)
        cy = min(max(y, y0 + radius), y1 - radius)
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius

    return (x0, y0, x1, y1), inside


def disc(cx, cy, radius):
    return ((cx - radius, cy - radius, cx + radius, cy + radius),
            lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius)


def arc(cx, cy, inner, outer, start, end):
    """A ring between two radii, from angle `start` to `end` in degrees, clockwise on the
    screen, 0 pointing right."""

    def inside(x, y):
        d = (x - cx) ** 2 + (y - cy) ** 2
        if not (inner * inner <= d <= outer * outer):
            return False
        angle = math.degrees(math.atan2(y - cy, x - cx)) % 360
        return (angle - start) % 360 <= (end - start) % 360

    return (cx - outer, cy - outer, cx + outer, cy + outer), inside


def polygon(points):
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]

    def inside(x, y):
        result = False
        j = len(points) - 1
        for i in range(len(points)):
            xi, yi = points[i]
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result

    return (min(xs), min(ys), max(xs), max(ys)), inside


def render(width, height, shapes, samples=4):
    prepared = []
    for (box, inside), color in shapes:
        paint = color if callable(color) else (lambda c: lambda x, y: c)(color)
        prepared.append((box, inside, paint))
    picture = []
    n = samples * samples
    for py in range(height):
        row = []
        for px in range(width):
            live = [s for s in prepared
                    if s[0][0] <= px + 1 and px <= s[0][2] and s[0][1] <= py + 1 and py <= s[0][3]]
            acc = [0.0, 0.0, 0.0]
            covered = 0
            if live:
                for j in range(samples):
                    y = py + (j + 0.5) / samples
                    for i in range(samples):
                        x = px + (i + 0.5) / samples
                        for box, inside, paint in reversed(live):
                            if inside(x, y):
                                c = paint(x, y)
                                acc[0] += c[0]
                                acc[1] += c[1]
                                acc[2] += c[2]
                                covered += 1
                                break
            if covered == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(acc[0] / covered), round(acc[1] / covered),
                            round(acc[2] / covered), round(255 * covered / n)))
        picture.append(row)
    return picture


def vertical(top_color, bottom_color, y0, y1):
    def paint(x, y):
        t = min(max((y - y0) / (y1 - y0), 0.0), 1.0)
        return tuple(a + (b - a) * t for a, b in zip(top_color, bottom_color))

    return paint


# ---------------------------------------------------------------------------------------
# File formats.


def palette_of(rgb_rows, limit):
    colors = []
    seen = set()
    for row in rgb_rows:
        for c in row:
            if c not in seen:
                seen.add(c)
                colors.append(c)
    if len(colors) > limit:
        raise SystemExit(f"{len(colors)} colours do not fit a palette of {limit}")
    return colors


def bmp_bytes(rgb_rows, bits):
    """A bottom-up BITMAPINFOHEADER bitmap with a palette of 2^bits entries."""
    height = len(rgb_rows)
    width = len(rgb_rows[0])
    colors = palette_of(rgb_rows, 1 << bits)
    index = {c: i for i, c in enumerate(colors)}
    entries = colors + [(0, 0, 0)] * ((1 << bits) - len(colors))
    stride = ((width * bits + 31) // 32) * 4
    pixels = bytearray()
    for row in reversed(rgb_rows):
        line = bytearray()
        if bits == 8:
            line.extend(index[c] for c in row)
        else:  # 4 bits per pixel, high nibble first
            for x in range(0, width, 2):
                hi = index[row[x]]
                lo = index[row[x + 1]] if x + 1 < width else 0
                line.append(hi << 4 | lo)
        line.extend(b"\0" * (stride - len(line)))
        pixels.extend(line)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in entries)
    # The whole table is written, so biClrUsed is 0: a resource has no file header with
    # the offset of the pixels, and Windows finds them after biClrUsed (or 2^bits) entries.
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(pixels), 2835, 2835,
                       0, 0)
    offset = 14 + len(info) + len(table)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info + table + bytes(pixels)


def mask_rows(picture, threshold):
    """The AND mask of an icon or cursor image: 1 where the pixel is transparent."""
    width = len(picture[0])
    stride = ((width + 31) // 32) * 4
    data = bytearray()
    for row in reversed(picture):
        line = bytearray(stride)
        for x, px in enumerate(row):
            if px[3] < threshold:
                line[x // 8] |= 0x80 >> (x % 8)
        data.extend(line)
    return bytes(data)


def icon_bmp_bytes(picture):
    """A 32-bit icon image: BITMAPINFOHEADER of double height, BGRA rows, AND mask."""
    size = len(picture)
    xor = bytearray()
    for row in reversed(picture):
        for r, g, b, a in row:
            xor.extend((b, g, r, a) if a else (0, 0, 0, 0))
    mask = mask_rows(picture, 1)
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0,
                       0, 0, 0)
    return info + bytes(xor) + mask


def png_bytes(picture):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    height = len(picture)
    width = len(picture[0])
    raw = bytearray()
    for row in picture:
        raw.append(0)
        for px in row:
            raw.extend(px)
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def ico_bytes(pictures):
    images = []
    for picture in pictures:
        size = len(picture)
        images.append((size, png_bytes(picture) if size >= 256 else icon_bmp_bytes(picture)))
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for size, data in images:
        side = size if size < 256 else 0
        directory += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return directory + b"".join(data for _, data in images)


def cursor_bytes(picture, hotspot):
    """A monochrome cursor: black and white pixels, everything else transparent."""
    size = len(picture)
    stride = ((size + 31) // 32) * 4
    xor = bytearray()
    for row in reversed(picture):
        line = bytearray(stride)
        for x, (r, g, b, a) in enumerate(row):
            if a and r > 127:
                line[x // 8] |= 0x80 >> (x % 8)
        xor.extend(line)
    mask = mask_rows(picture, 128)
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 1, 0, len(xor) + len(mask), 0, 0,
                       2, 2)
    table = struct.pack("<BBBBBBBB", 0, 0, 0, 0, 255, 255, 255, 0)
    image = info + table + bytes(xor) + mask
    directory = struct.pack("<HHH", 0, 2, 1)
    directory += struct.pack("<BBBBHHII", size, size, 2, 0, hotspot[0], hotspot[1], len(image),
                             6 + 16)
    return directory + image


# ---------------------------------------------------------------------------------------
# The check-mark image (toolbar bitmap 201): 14 x 14, 16 colours.

CHECK_MARK = """
..............
..............
...........+#.
..........+##.
.........+##+.
........+##+..
.+#....+##+...
.##+..+##+....
.+##++##+.....
..+####+......
...+##+.......
....++........
..............
..............
"""


def check_mark():
    legend = {".": None, "#": NAVY, "+": BLUE}
    return keyed(from_grid(CHECK_MARK, legend), MENU_MATTE)


# ---------------------------------------------------------------------------------------
# The toolbar's menu images (bitmap 202): "reset cache" and "properties", 14 x 14 each.


def reset_image():
    # A clockwise arrow round most of a circle; its head closes the gap at the top.
    cx, cy = 7, 7.5

    def at(angle, radius):
        a = math.radians(angle)
        return (cx + radius * math.cos(a), cy + radius * math.sin(a))

    shapes = [
        (arc(cx, cy, 2.8, 5.6, 325, 228), BLUE_DARK),
        (arc(cx, cy, 3.6, 4.8, 330, 228), BLUE),
        (polygon([at(226, 1.0), at(226, 7.4), at(292, 4.2)]), BLUE_DARK),
        (polygon([at(231, 2.5), at(231, 5.9), at(270, 4.2)]), BLUE),
    ]
    return render(14, 14, shapes, samples=8)


def properties_image():
    shapes = [
        (rect(1, 1, 13, 13), SLATE),
        (rect(2, 2, 12, 4), BLUE),
        (rect(2, 4, 12, 12), PAPER),
        (rect(3, 6, 11, 7), SILVER),
        (rect(3, 9, 11, 10), SILVER),
        (rect(4, 5, 7, 8), BLUE_DARK),
        (rect(7, 8, 10, 11), BLUE_DARK),
    ]
    return render(14, 14, shapes)


def toolbar_menu_images():
    strip = blank(28, 14)
    paste(strip, reset_image(), 0, 0)
    paste(strip, properties_image(), 14, 0)
    return keyed(strip, MENU_MATTE)


# ---------------------------------------------------------------------------------------
# The folder with a size bar: the toolbar button (bitmap 203) and the program icon (128).


def folder_shapes(x0, y0, width, height, line, fill=0.62, detail=False):
    """A folder in the box (x0, y0, width, height) whose front carries a size bar `fill`
    full; `line` is the outline width in pixels."""
    x1, y1 = x0 + width, y0 + height
    r = max(line, width / 16)
    tab_w = round(width * 0.42)
    body_top = y0 + round(height * 0.16)
    front_top = y0 + round(height * 0.30)
    shapes = [
        (rounded(x0, y0, x0 + tab_w, body_top + r * 2, r), FOLDER_LINE),
        (rounded(x0, body_top, x1, y1, r), FOLDER_LINE),
        (rounded(x0 + line, y0 + line, x0 + tab_w - line, body_top + r * 2, max(r - line, 0.5)),
         FOLDER_BACK),
        (rounded(x0 + line, body_top + line, x1 - line, y1 - line, max(r - line, 0.5)),
         FOLDER_BACK),
        (rect(x0, front_top, x1, front_top + line), FOLDER_LINE),
    ]
    front = vertical(FOLDER_LIGHT, FOLDER, front_top, y1) if detail else FOLDER
    shapes.append((rounded(x0 + line, front_top + line, x1 - line, y1 - line,
                           max(r - line, 0.5)), front))
    shapes.append((rect(x0 + line, front_top + line, x1 - line, front_top + line + r), front))
    # The size bar: a track with a green part, centred on the front.
    bx0 = x0 + round(width * 0.16)
    bx1 = x1 - round(width * 0.16)
    by0 = front_top + round((y1 - front_top) * 0.38)
    by1 = by0 + max(3 * line, round(height * 0.22))
    shapes.append((rect(bx0, by0, bx1, by1), INK))
    shapes.append((rect(bx0 + line, by0 + line, bx1 - line, by1 - line), PAPER))
    split = bx0 + line + round((bx1 - bx0 - 2 * line) * fill)
    green = vertical(GREEN_LIGHT, GREEN, by0 + line, by1 - line) if detail else GREEN
    shapes.append((rect(bx0 + line, by0 + line, split, by1 - line), green))
    return shapes


def toolbar_button():
    return keyed(render(24, 20, folder_shapes(2, 2, 20, 16, 1)), BUTTON_FACE)


def snapped_folder(size):
    """The program icon at one size: outline and bar snapped to whole pixels."""
    line = max(1, round(size / 32))
    margin = max(1, round(size / 16))
    width = size - 2 * margin
    height = round(width * 0.82)
    top = (size - height) // 2
    return render(size, size, folder_shapes(margin, top, width, height, line,
                                            detail=size >= 32), samples=4)


# ---------------------------------------------------------------------------------------
# The properties program's menu images (bitmap 131): help and about, 16 x 16 each.

HELP_GLYPH = """
.####.
##..##
....##
...##.
..##..
..##..
......
..##..
"""

ABOUT_GLYPH = """
##
##
..
##
##
##
##
##
"""


def badge(glyph):
    shapes = [
        (disc(8, 8, 7.0), BLUE_DARK),
        (disc(8, 8, 6.0), vertical(SKY, BLUE, 2, 14)),
    ]
    picture = render(16, 16, shapes, samples=8)
    mark = from_grid(glyph, {".": None, "#": WHITE})
    paste(picture, mark, (16 - len(mark[0])) // 2, 4)
    return picture


def properties_menu_images():
    strip = blank(32, 16)
    paste(strip, badge(HELP_GLYPH), 0, 0)
    paste(strip, badge(ABOUT_GLYPH), 16, 0)
    return keyed(strip, MENU_MATTE)


# ---------------------------------------------------------------------------------------
# The hand cursor (cursor 132): 32 x 32, black outline, white hand, hotspot at the fingertip.

HAND = """
....##..........
...#..#.........
...#..#.........
...#..#.........
...#..#.........
...#..###.......
...#..#..###....
...#..#..#..###.
...#..#..#..#..#
##.#..#..#..#..#
#.##..#..#..#..#
#..#...........#
.#.............#
.#.............#
..#............#
..#...........#.
...#..........#.
...#.........#..
....#........#..
....#........#..
....##########..
"""

HAND_HOTSPOT = (4, 0)


def hand_cursor():
    rows = HAND.strip("\n").split("\n")
    picture = blank(32, 32)
    # Fill the inside of the outline white: every pixel between the first and the last
    # outline pixel of its row that the outline encloses (a flood fill from outside).
    width = len(rows[0])
    outside = set()
    stack = [(x, y) for x in range(-1, width + 1) for y in (-1, len(rows))]
    stack += [(x, y) for y in range(len(rows)) for x in (-1, width)]
    while stack:
        x, y = stack.pop()
        if (x, y) in outside or not (-1 <= x <= width and -1 <= y <= len(rows)):
            continue
        if 0 <= y < len(rows) and 0 <= x < width and rows[y][x] == "#":
            continue
        outside.add((x, y))
        stack.extend([(x + 1, y), (x - 1, y), (x, y + 1), (x, y - 1)])
    for y, row in enumerate(rows):
        for x, ch in enumerate(row):
            if ch == "#":
                picture[y][x] = (0, 0, 0, 255)
            elif (x, y) not in outside:
                picture[y][x] = (255, 255, 255, 255)
    return picture


# ---------------------------------------------------------------------------------------
# The banner (bitmap 130): 300 x 50, 256 colours, the product name in a pixel font.

TITLE_FONT = {
    "T": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."],
    "o": [".....", ".....", ".###.", "#...#", "#...#", "#...#", ".###."],
    "l": [".##..", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."],
    "v": [".....", ".....", "#...#", "#...#", "#...#", ".#.#.", "..#.."],
    "a": [".....", ".....", ".###.", "....#", ".####", "#...#", ".####"],
    "n": [".....", ".....", "####.", "#...#", "#...#", "#...#", "#...#"],
    "e": [".....", ".....", ".###.", "#...#", "#####", "#....", ".###."],
}

SMALL_FONT = {
    "A": [".#.", "#.#", "###", "#.#", "#.#"],
    "D": ["##.", "#.#", "#.#", "#.#", "##."],
    "E": ["###", "#..", "##.", "#..", "###"],
    "F": ["###", "#..", "##.", "#..", "#.."],
    "I": ["###", ".#.", ".#.", ".#.", "###"],
    "L": ["#..", "#..", "#..", "#..", "###"],
    "N": ["#..#", "##.#", "#.##", "#..#", "#..#"],
    "O": [".#.", "#.#", "#.#", "#.#", ".#."],
    "P": ["##.", "#.#", "##.", "#..", "#.."],
    "R": ["##.", "#.#", "##.", "#.#", "#.#"],
    "S": [".##", "#..", ".#.", "..#", "##."],
    "X": ["#.#", "#.#", ".#.", "#.#", "#.#"],
    "Z": ["###", "..#", ".#.", "#..", "###"],
    " ": ["...", "...", "...", "...", "..."],
}


def text_mask(text, font, scale, spacing):
    """The set of pixels of `text` in a pixel font, each font pixel a scale x scale block
    whose outer corners are cut for a rounder look when scale > 1."""
    pixels = set()
    x = 0
    for ch in text:
        glyph = font[ch]
        for gy, line in enumerate(glyph):
            for gx, cell in enumerate(line):
                if cell == "#":
                    for dy in range(scale):
                        for dx in range(scale):
                            pixels.add((x + gx * scale + dx, gy * scale + dy))
        x += (len(glyph[0]) + spacing) * scale
    if scale > 1:
        corners = set()
        for (px, py) in pixels:
            for sx, sy in ((-1, -1), (1, -1), (-1, 1), (1, 1)):
                if ((px + sx, py) not in pixels and (px, py + sy) not in pixels and
                        (px + sx, py + sy) not in pixels):
                    corners.add((px, py))
        pixels -= corners
    return pixels, x - spacing * scale


def banner():
    width, height = 300, 50
    left, right = NAVY, DIALOG

    def background(x, y):
        t = x / (width - 1)
        t = t * t * (3 - 2 * t)  # eased: dark under the name, light at the dialog's edge
        return tuple(round(a + (b - a) * t) for a, b in zip(left, right))

    rows = [[background(x, y) for x in range(width)] for y in range(height)]
    # A thin light rule along the bottom edge separates the banner from the dialog.
    for x in range(width):
        rows[height - 2][x] = SKY
        rows[height - 1][x] = WHITE

    def draw(pixels, dx, dy, color):
        for (px, py) in pixels:
            if 0 <= px + dx < width and 0 <= py + dy < height:
                rows[py + dy][px + dx] = color

    title, title_width = text_mask("Tolvane", TITLE_FONT, 4, 1)
    draw(title, 18 + 2, 7 + 2, INK)
    draw(title, 18, 7, WHITE)
    tagline, _ = text_mask("FOLDER SIZES IN EXPLORER", SMALL_FONT, 1, 1)
    draw(tagline, 19, 40, MIST)

    # The motif: a folder, and three rows of blocks as the bar column shows a folder's items.
    folder = keyed(render(34, 28, folder_shapes(0, 0, 34, 28, 2, detail=False)), (0, 0, 0))
    for y, row in enumerate(folder):
        for x, c in enumerate(row):
            if c != KEY:
                rows[11 + y][196 + x] = c
    for i, filled in enumerate((6, 4, 2)):
        y0 = 13 + i * 9
        for j in range(7):
            x0 = 240 + j * 7
            for y in range(y0, y0 + 5):
                for x in range(x0, x0 + 5):
                    edge = y in (y0, y0 + 4) or x in (x0, x0 + 4)
                    if j < filled:
                        rows[y][x] = FOLDER_LINE if edge else FOLDER_LIGHT
                    elif edge:
                        rows[y][x] = PAPER
    return rows


# ---------------------------------------------------------------------------------------


def outputs():
    bar = os.path.join(HERE, "bar")
    properties = os.path.join(HERE, "properties")
    icon_sizes = (16, 24, 32, 48, 256)
    return [
        (os.path.join(bar, "bar_check.bmp"), check_mark, lambda p: bmp_bytes(p, 4)),
        (os.path.join(bar, "bar_menu_images.bmp"), toolbar_menu_images, lambda p: bmp_bytes(p, 8)),
        (os.path.join(bar, "bar_button.bmp"), toolbar_button, lambda p: bmp_bytes(p, 8)),
        (os.path.join(properties, "properties_icon.ico"),
         lambda: [snapped_folder(s) for s in icon_sizes], ico_bytes),
        (os.path.join(properties, "properties_banner.bmp"), banner, lambda p: bmp_bytes(p, 8)),
        (os.path.join(properties, "properties_menu_images.bmp"), properties_menu_images,
         lambda p: bmp_bytes(p, 8)),
        (os.path.join(properties, "properties_hand.cur"), hand_cursor,
         lambda p: cursor_bytes(p, HAND_HOTSPOT)),
    ]


def write_preview(directory, name, picture):
    """An 8x enlarged PNG on a checkerboard, for looking at the pixels."""
    if len(picture[0][0]) == 3:
        picture = [[c + (255,) for c in row] for row in picture]
    scale = 8
    out = []
    for y, row in enumerate(picture):
        line = []
        for x, (r, g, b, a) in enumerate(row):
            for _ in range(scale):
                line.append((r, g, b, a))
        for _ in range(scale):
            out.append(line)
    for y, row in enumerate(out):
        for x, (r, g, b, a) in enumerate(row):
            check = 200 if ((x // 8) + (y // 8)) % 2 else 230
            f = a / 255
            row[x] = (round(r * f + check * (1 - f)), round(g * f + check * (1 - f)),
                      round(b * f + check * (1 - f)), 255)
    with open(os.path.join(directory, name + ".png"), "wb") as f:
        f.write(png_bytes(out))


def main(argv):
    preview = None
    if len(argv) == 3 and argv[1] == "--preview":
        preview = argv[2]
        os.makedirs(preview, exist_ok=True)
    elif len(argv) != 1:
        raise SystemExit(__doc__)
    for path, draw, encode in outputs():
        picture = draw()
        data = encode(picture)
        with open(path, "wb") as f:
            f.write(data)
        if preview:
            name = os.path.splitext(os.path.basename(path))[0]
            if isinstance(picture[0][0], list):  # an icon: one preview per size
                for p in picture:
                    write_preview(preview, f"{name}-{len(p)}", p)
            else:
                write_preview(preview, name, picture)
        print(f"{os.path.relpath(path, HERE)}: {len(data)} bytes")


if __name__ == "__main__":
    main(sys.argv)
