#!/usr/bin/env python3
"""Draws the example sprites and their masks as PNG files, with nothing but
the standard library, and writes the two conversion scripts beside them.

Run it from anywhere: the files land next to this script. Each sprite keeps
to a handful of flat colours so that it fits the 64 colours a masked image
may have; the masks are anti-aliased so that 4 alpha values show.
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SUPERSAMPLING = 4  # samples per pixel edge for the soft mask edges


def write_png(path, width, height, rows, channels):
    """rows: list of bytes objects, one per line (RGB or grey)."""
    colour_type = 2 if channels == 3 else 0
    raw = b"".join(b"\x00" + row for row in rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", header))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


def coverage(inside, x, y):
    """Share of the pixel (x, y) that the shape covers, 0.0 to 1.0."""
    hits = 0
    for sy in range(SUPERSAMPLING):
        for sx in range(SUPERSAMPLING):
            if inside(x + (sx + 0.5) / SUPERSAMPLING, y + (sy + 0.5) / SUPERSAMPLING):
                hits += 1
    return hits / SUPERSAMPLING ** 2


def sprite(name, size, inside, colour_at, background=(255, 0, 255)):
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
    write_png(os.path.join(HERE, name + ".png"), width, height, image_rows, 3)
    write_png(os.path.join(HERE, name + "_mask.png"), width, height, mask_rows, 1)


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


if __name__ == "__main__":
    heart()
    star()
    coin()
    smiley()
    arrow_button()
    gem()
    scripts()
