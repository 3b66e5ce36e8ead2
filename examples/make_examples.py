#!/usr/bin/env python3
"""Draws the example images and their masks as PNG files, with nothing but
the standard library, and writes their conversion scripts beside them.

Run it from anywhere: the files land next to this script. Two sets:
- sprites: six small game sprites, shaded in a few flat steps, with
  anti-aliased masks so that 4 alpha values show; written as the smallest
  PNG files this writer can make;
- screen/: the buttons and icons of a small device's screen, flat colours
  with anti-aliased masks, converted with 2 alpha values (transparent or
  not, as many display drivers draw); written as an image editor exports
  them: 8-bit RGB (masks too), colour-space and pixel-size chunks, default
  compression.
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SUPERSAMPLING = 4  # samples per pixel edge for the soft mask edges


def write_png(path, width, height, rows, channels, exported=False):
    """rows: list of bytes objects, one per line (RGB or grey). exported:
    write as an image editor does (see the top of this file)."""
    if exported and channels == 1:
        rows = [bytes(value for grey in row for value in (grey, grey, grey)) for row in rows]
        channels = 3
    colour_type = 2 if channels == 3 else 0
    raw = b"".join(b"\x00" + row for row in rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", header))
        if exported:
            f.write(chunk(b"sRGB", b"\x00"))
            f.write(chunk(b"gAMA", struct.pack(">I", 45455)))
            f.write(chunk(b"pHYs", struct.pack(">IIB", 3780, 3780, 1)))  # 96 dpi
        f.write(chunk(b"IDAT", zlib.compress(raw, 6 if exported else 9)))
        f.write(chunk(b"IEND", b""))


def coverage(inside, x, y):
    """Share of the pixel (x, y) that the shape covers, 0.0 to 1.0."""
    hits = 0
    for sy in range(SUPERSAMPLING):
        for sx in range(SUPERSAMPLING):
            if inside(x + (sx + 0.5) / SUPERSAMPLING, y + (sy + 0.5) / SUPERSAMPLING):
                hits += 1
    return hits / SUPERSAMPLING ** 2


def sprite(name, size, inside, colour_at, background=(255, 0, 255), folder=HERE, exported=False):
    """Writes name.png (the shape on a flat background) and name_mask.png."""
    width, height = size
    image_rows, mask_rows = [], []
    for y in range(height):
        image_row, mask_row = bytearray(), bytearray()
        for x in range(width):
            cover = coverage(inside, x, y)
            colour = colour_at(x + 0.5, y + 0.5) if cover > 0 else background
            image_row += bytes(colour)
            mask_row.append(round(cover * 255))
        image_rows.append(bytes(image_row))
        mask_rows.append(bytes(mask_row))
    write_png(os.path.join(folder, name + ".png"), width, height, image_rows, 3, exported)
    write_png(os.path.join(folder, name + "_mask.png"), width, height, mask_rows, 1, exported)


def shade(base, steps, t):
    """One of a few brightness steps of a colour, t from 0 (dark) to 1."""
    level = min(steps - 1, max(0, int(t * steps)))
    factor = 0.55 + 0.45 * level / (steps - 1)
    return tuple(min(255, int(c * factor)) for c in base)


def heart():
    def inside(x, y):
        u, v = (x - 12) / 9.5, (12 - y) / 9
        return (u * u + v * v - 1) ** 3 - u * u * v ** 3 <= 0

    sprite("heart", (24, 24), inside, lambda x, y: shade((230, 40, 60), 4, 1 - y / 22))


def star():
    corners = []
    for k in range(10):
        radius = 12 if k % 2 == 0 else 5
        angle = -math.pi / 2 + k * math.pi / 5
        corners.append((12.5 + radius * math.cos(angle), 13 + radius * math.sin(angle)))

    def inside(x, y):
        # even-odd rule over the ten edges of the star outline
        result = False
        for (x1, y1), (x2, y2) in zip(corners, corners[1:] + corners[:1]):
            if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
                result = not result
        return result

    sprite("star", (25, 25), inside, lambda x, y: shade((250, 210, 40), 3, 1 - y / 25))


def coin():
    def inside(x, y):
        return math.hypot(x - 10, y - 10) <= 9.5

    def colour(x, y):
        r = math.hypot(x - 10, y - 10)
        if r > 8:
            return (150, 110, 20)  # rim
        if 3 <= x - 6 <= 5 and 5 <= y <= 15:
            return (255, 240, 150)  # the embossed bar
        return shade((240, 190, 40), 4, 1 - (x + y) / 40)

    sprite("coin", (20, 20), inside, colour)


def smiley():
    def inside(x, y):
        return math.hypot(x - 16, y - 16) <= 15

    def colour(x, y):
        if math.hypot(x - 11, y - 12) < 2.2 or math.hypot(x - 21, y - 12) < 2.2:
            return (40, 30, 20)
        r = math.hypot(x - 16, y - 16)
        if 8 <= r <= 10 and y > 18:
            return (120, 40, 30)
        return shade((255, 220, 70), 3, 1 - r / 16)

    sprite("smiley", (32, 32), inside, colour)


def arrow_button():
    def inside(x, y):
        # a square with rounded corners
        cx, cy = min(max(x, 5), 35), min(max(y, 5), 19)
        return math.hypot(x - cx, y - cy) <= 4.5

    def colour(x, y):
        if 18 <= x <= 28 and abs(y - 12) <= (28 - x) * 0.6:
            return (255, 255, 255)  # arrow head
        if 12 <= x < 18 and 10 <= y <= 14:
            return (255, 255, 255)  # arrow shaft
        return shade((40, 110, 220), 4, 1 - y / 24)

    sprite("button", (40, 24), inside, colour)


def gem():
    def inside(x, y):
        return abs(x - 11) / 10 + abs(y - 14) / 13 <= 1 and y >= 3

    def colour(x, y):
        facet = (int(x - 11 > 0) + 2 * int(y - 14 > 0))
        bases = [(90, 230, 140), (40, 180, 100), (20, 130, 70), (10, 90, 50)]
        return bases[facet]

    sprite("gem", (22, 28), inside, colour)


SPRITES = ["heart", "star", "coin", "smiley", "button", "gem"]

SCRIPT_HEAD = """# Conversion script of the example sprites. File names are taken relative
# to the folder the tool runs in, so run it from this folder.
startindex 1
outputfilename {output}
mask {mask}
alphavalues 4
startimages
"""


def scripts():
    with open(os.path.join(HERE, "sprites.txt"), "w") as f:
        f.write(SCRIPT_HEAD.format(output="sprites", mask="true"))
        for name in SPRITES:
            f.write(f"{name}.png\n{name}_mask.png\n")
    with open(os.path.join(HERE, "sprites_nomask.txt"), "w") as f:
        f.write(SCRIPT_HEAD.format(output="sprites_nomask", mask="false"))
        for name in SPRITES:
            f.write(f"{name}.png\n")


# --- The device screen ------------------------------------------------------

SCREEN = os.path.join(HERE, "screen")
WHITE = (255, 255, 255)
BLUE, GREEN, RED = (34, 119, 221), (51, 170, 85), (221, 51, 51)
GREY, DARK, AMBER = (68, 68, 85), (34, 34, 51), (238, 170, 34)


def rounded(x0, y0, x1, y1, r):
    def inside(x, y):
        cx, cy = min(max(x, x0 + r), x1 - r), min(max(y, y0 + r), y1 - r)
        return x0 <= x <= x1 and y0 <= y <= y1 and math.hypot(x - cx, y - cy) <= r
    return inside


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) <= r


def ring(cx, cy, r0, r1):
    return lambda x, y: r0 <= math.hypot(x - cx, y - cy) <= r1


def polygon(points):
    def inside(x, y):
        # even-odd rule over the edges
        result = False
        for (x1, y1), (x2, y2) in zip(points, points[1:] + points[:1]):
            if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
                result = not result
        return result
    return inside


def union(*shapes):
    return lambda x, y: any(shape(x, y) for shape in shapes)


def minus(shape, hole):
    return lambda x, y: shape(x, y) and not hole(x, y)


def layers(base, *parts):
    """Colour of a point: that of the last part holding it, else base."""
    def colour(x, y):
        result = base
        for shape, part_colour in parts:
            if shape(x, y):
                result = part_colour
        return result
    return colour


def button(name, width, height, fill, glyph):
    """A flat rounded button with a white glyph; the mask is its outline."""
    outline = rounded(0.5, 0.5, width - 0.5, height - 0.5, 6)
    sprite(name, (width, height), outline, layers(fill, (glyph, WHITE)), folder=SCREEN, exported=True)
    return name


def icon(name, size, shape, colour, *parts):
    """A glyph on a transparent ground; parts paint details over it."""
    sprite(name, (size, size), shape, layers(colour, *parts), folder=SCREEN, exported=True)
    return name


def screen_images():
    """Draws the screen set; returns the image names in script order."""
    os.makedirs(SCREEN, exist_ok=True)
    names = [
        button("ok", 64, 32, GREEN, polygon([(22, 16), (28, 22), (42, 9), (45, 12), (28, 27), (19, 19)])),
        button("cancel", 64, 32, RED, union(polygon([(22, 9), (25, 6), (42, 23), (39, 26)]),
                                            polygon([(39, 6), (42, 9), (25, 26), (22, 23)]))),
        button("play", 48, 32, BLUE, polygon([(19, 8), (19, 24), (32, 16)])),
        button("pause", 48, 32, BLUE, union(rect(17, 8, 21, 24), rect(27, 8, 31, 24))),
        button("stop", 48, 32, BLUE, rect(17, 9, 31, 23)),
        button("next", 48, 32, BLUE, union(polygon([(14, 9), (14, 23), (24, 16)]),
                                           polygon([(24, 9), (24, 23), (34, 16)]))),
        button("previous", 48, 32, BLUE, union(polygon([(34, 9), (34, 23), (24, 16)]),
                                               polygon([(24, 9), (24, 23), (14, 16)]))),
        button("plus", 32, 32, GREY, union(rect(14, 8, 18, 24), rect(8, 14, 24, 18))),
        button("minus", 32, 32, GREY, rect(8, 14, 24, 18)),
        button("menu", 32, 32, GREY, union(rect(8, 9, 24, 11), rect(8, 15, 24, 17), rect(8, 21, 24, 23))),
        button("back", 40, 32, GREY, union(polygon([(9, 16), (18, 8), (18, 24)]), rect(17, 13, 31, 19))),
        button("home", 40, 32, GREY, union(polygon([(20, 6), (31, 16), (9, 16)]), rect(12, 16, 28, 26))),
    ]

    shell = minus(union(rounded(2, 7, 28, 23, 2), rect(28, 11, 31, 19)), rounded(4, 9, 26, 21, 1))
    charge = rect(6, 11, 20, 19)
    names.append(icon("battery", 32, union(shell, charge), DARK, (charge, GREEN)))

    def arc(r0):
        # the upper quarter of a ring around the dot, opening upwards
        return minus(ring(16, 26, r0, r0 + 3), lambda x, y: abs(x - 16) > 26 - y or y > 26)
    wifi = union(arc(6), arc(12), arc(18), circle(16, 26, 3))
    names.append(icon("wifi", 32, wifi, DARK))

    bell = union(polygon([(12, 8), (20, 8), (24, 22), (26, 24), (6, 24), (8, 22)]), circle(16, 8, 4),
                 circle(16, 26, 2.5))
    names.append(icon("bell", 32, bell, AMBER))

    lock = union(minus(ring(12, 10, 5, 8), rect(0, 10, 24, 24)), rect(4, 10, 8, 12), rect(16, 10, 20, 12),
                 rounded(3, 11, 21, 22, 2))
    names.append(icon("lock", 24, lock, GREY, (rect(11, 14, 13, 19), WHITE)))

    def tooth(angle):
        def at(radius, turn):
            return (24 + math.cos(angle + turn) * radius, 24 + math.sin(angle + turn) * radius)
        return polygon([at(12, -0.22), at(20, -0.14), at(20, 0.14), at(12, 0.22)])
    gear = minus(union(circle(24, 24, 14), *(tooth(k * math.pi / 4) for k in range(8))), circle(24, 24, 6))
    names.append(icon("settings", 48, gear, GREY))

    warning = polygon([(24, 3), (45, 42), (3, 42)])
    names.append(icon("warning", 48, warning, AMBER, (rect(22, 15, 26, 31), DARK), (rect(22, 35, 26, 39), DARK)))

    info = circle(24, 24, 21)
    names.append(icon("info", 48, info, BLUE, (rect(21, 20, 27, 37), WHITE), (rect(21, 11, 27, 16), WHITE)))

    waves = [minus(ring(18, 16, r0, r0 + 2.5), rect(0, 0, 20, 32)) for r0 in (7, 12)]
    speaker = union(polygon([(4, 12), (10, 12), (18, 5), (18, 27), (10, 20), (4, 20)]), *waves)
    names.append(icon("volume", 32, speaker, DARK))
    return names


SCREEN_SCRIPT_HEAD = """# Conversion script of the example screen: flat buttons and icons, each
# transparent or not at every pixel. Run it from this folder.
startindex 100
outputfilename screen
mask true
alphavalues 2
startimages
"""


def screen_script(names):
    with open(os.path.join(SCREEN, "screen.txt"), "w") as f:
        f.write(SCREEN_SCRIPT_HEAD)
        for name in names:
            f.write(f"{name}.png\n{name}_mask.png\n")


if __name__ == "__main__":
    heart()
    star()
    coin()
    smiley()
    arrow_button()
    gem()
    scripts()
    screen_script(screen_images())
