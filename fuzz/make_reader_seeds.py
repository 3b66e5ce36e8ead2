#!/usr/bin/env python3
"""Writes the reader fuzz target's seed archives: small, valid archives of
versions 1 to 4 that between them use every form of image data, both
alpha positions, every alpha setting, a palette shared by two images and,
in version 4, every op and index widths of 1, 2, 3 and 8 bits.

    python3 fuzz/make_reader_seeds.py fuzz/seeds/reader
"""
import os
import struct
import sys

SIGNATURE = b"\xAA\xFF\xAA"
END_OF_HEADER = b"\xFF\xEE\xDD"
IMAGE_SPECIFICATIONS = b"\xBE\xBA"
IMAGE_MARKER = b"\xAF\xFE"
PALETTE_SPECIFICATIONS = b"\xFA\xFA"
PALETTE_DATA = b"\xFA\xBE"
ALPHA_LOW, ALPHA_HIGH = 1, 16


def u16(value):
    return struct.pack("<H", value)


def u32(value):
    return struct.pack("<I", value)


def header_bytes(value_size, colour_bits, alpha_bits, alpha_mode, alpha_position, compression):
    return bytes([3, value_size, colour_bits, alpha_bits, alpha_mode, alpha_position, compression])


def runs_data(lines, value_bytes):
    """lines: per line a list of (value, length) runs."""
    body = b""
    for runs in lines:
        body += u16(len(runs))
        for value, length in runs:
            body += value_bytes(value) + bytes([length])
    return u32(sum(len(runs) for runs in lines)) + body


def colour_word_runs(lines):
    return runs_data(lines, u16)


def pixel_code_runs(lines):
    return runs_data(lines, lambda code: bytes([code]))


def raw_words(words):
    return b"".join(u16(word) for word in words)


def version1(width, height, compression, data):
    return (SIGNATURE + u16(1) + u32(width) + u32(height)
            + header_bytes(2, 12, 4, 2, 16, compression) + END_OF_HEADER + data)


def version2(header, images):
    """images: list of (width, height, image data)."""
    table_end = 3 + 2 + 4 + 7 + 3 + 2 + 14 * len(images)
    records, body, offset = b"", b"", table_end
    for number, (width, height, data) in enumerate(images):
        records += u16(number) + u32(width) + u32(height) + u32(offset)
        body += IMAGE_MARKER + data
        offset = table_end + len(body)
    return (SIGNATURE + u16(2) + u32(len(images)) + header + END_OF_HEADER
            + IMAGE_SPECIFICATIONS + records + body)


def version3(header, start_index, palettes, images):
    """palettes: lists of palette colours; images: (width, height, palette, data)."""
    table_end = 3 + 2 + 4 + 7 + 4 + 3 + 2 + 16 * len(images)
    palette_records_end = table_end + 6 + 10 * len(palettes)
    palette_records, palette_data = b"", b""
    for number, colours in enumerate(palettes):
        palette_records += u16(number) + u32(len(colours)) + u32(palette_records_end + len(palette_data))
        palette_data += PALETTE_DATA + b"".join(u16(colour) for colour in colours)
    images_start = palette_records_end + len(palette_data)
    records, body = b"", b""
    for number, (width, height, palette, data) in enumerate(images):
        records += u16(number) + u32(width) + u32(height) + u16(palette) + u32(images_start + len(body))
        body += IMAGE_MARKER + data
    return (SIGNATURE + u16(3) + u32(len(images)) + header + u32(start_index) + END_OF_HEADER
            + IMAGE_SPECIFICATIONS + records + PALETTE_SPECIFICATIONS + u32(len(palettes))
            + palette_records + palette_data + body)


def literal(indices, bits):
    """A version 4 literal op: the indices as one big-endian bit string."""
    value, count = 0, 0
    for index in indices:
        value, count = value << bits | index, count + bits
    padding = -count % 8
    return bytes([len(indices) - 1]) + (value << padding).to_bytes((count + padding) // 8, "big")


def run(length, index):
    return bytes([0xC0 | (length - 1)]) if index == 0 else bytes([0x80 | (length - 1), index])


def version4(start_index, images):
    """images: (width, height, index bits, RGBA entries, lines of op bytes)."""
    table_end = 3 + 2 + 4 + 7 + 4 + 3 + 2 + 14 * len(images)
    records, body = b"", b""
    for number, (width, height, bits, entries, lines) in enumerate(images):
        records += u16(number) + u32(width) + u32(height) + u32(table_end + len(body))
        body += (IMAGE_MARKER + bytes([bits, len(entries) - 1]) + b"".join(bytes(entry) for entry in entries)
                 + b"".join(lines))
    return (SIGNATURE + u16(4) + u32(len(images)) + bytes([4, 1, 8, 8, 1, 16, 1]) + u32(start_index)
            + END_OF_HEADER + IMAGE_SPECIFICATIONS + records + body)


V2_HEADER = header_bytes(2, 12, 4, 2, ALPHA_HIGH, 1)
V2_RAW_HEADER = header_bytes(2, 12, 4, 2, ALPHA_HIGH, 0)
V2_LOW_HEADER = header_bytes(2, 12, 4, 2, ALPHA_LOW, 1)
V3_NO_ALPHA = header_bytes(1, 8, 0, 0, ALPHA_HIGH, 1)
V3_ONE_BIT = header_bytes(1, 7, 1, 1, ALPHA_HIGH, 1)
V3_TWO_BITS = header_bytes(1, 6, 2, 1, ALPHA_HIGH, 1)
V3_TWO_BITS_LOW = header_bytes(1, 6, 2, 1, ALPHA_LOW, 1)

SEEDS = {
    # one transparent word among opaque ones: the raw form blacks it out
    "v1_raw.zef": version1(2, 2, 0, raw_words([0xFF00, 0xF0F0, 0x000F, 0xF123])),
    "v1_runs.zef": version1(3, 2, 1, colour_word_runs([[(0xFF00, 3)], [(0xF00F, 1), (0xF0F0, 2)]])),
    "v2_runs_two_images.zef": version2(V2_HEADER, [
        (3, 1, colour_word_runs([[(0xF123, 3)]])),
        (2, 2, colour_word_runs([[(0x0FFF, 1), (0xF000, 1)], [(0xF888, 2)]])),
    ]),
    "v2_raw.zef": version2(V2_RAW_HEADER, [(2, 1, raw_words([0xF0F0, 0x0ABC]))]),
    "v2_alpha_low.zef": version2(V2_LOW_HEADER, [(2, 1, colour_word_runs([[(0x123F, 1), (0xABC0, 1)]]))]),
    # a run of length 0 still counts as a run
    "v2_empty_run.zef": version2(V2_HEADER, [(2, 1, colour_word_runs([[(0xF111, 0), (0xF222, 2)]]))]),
    "v2_long_line.zef": version2(V2_HEADER, [(300, 1, colour_word_runs([[(0xF0F0, 255), (0xF0F0, 45)]]))]),
    "v3_no_alpha.zef": version3(V3_NO_ALPHA, 0, [[0x0F80, 0x0123, 0x0FFF]], [
        (3, 2, 0, pixel_code_runs([[(0, 1), (1, 2)], [(2, 3)]])),
    ]),
    "v3_one_bit.zef": version3(V3_ONE_BIT, 7, [[0x0F00, 0x00F0]], [
        (2, 1, 0, pixel_code_runs([[(0x80, 1), (0x01, 1)]])),
    ]),
    "v3_two_bits.zef": version3(V3_TWO_BITS, 1, [[0x0F00, 0x00F0, 0x000F]], [
        (4, 1, 0, pixel_code_runs([[(0xC0, 1), (0x81, 1), (0x42, 1), (0x02, 1)]])),
    ]),
    "v3_two_bits_low.zef": version3(V3_TWO_BITS_LOW, 0, [[0xF000, 0x0F00]], [
        (2, 1, 0, pixel_code_runs([[(0x03, 1), (0x06, 1)]])),
    ]),
    "v3_two_palettes.zef": version3(V3_TWO_BITS, 10, [[0x0111], [0x0222, 0x0333]], [
        (1, 1, 0, pixel_code_runs([[(0xC0, 1)]])),
        (2, 2, 1, pixel_code_runs([[(0xC1, 2)], [(0xC0, 1), (0xC1, 1)]])),
    ]),
    "v3_shared_palette.zef": version3(V3_NO_ALPHA, 3, [[0x0ABC, 0x0DEF]], [
        (2, 1, 0, pixel_code_runs([[(1, 2)]])),
        (1, 2, 0, pixel_code_runs([[(0, 1)], [(1, 1)]])),
    ]),
    "v4_one_bit_runs.zef": version4(5, [
        (70, 2, 1, [(0, 0, 0, 0), (255, 255, 255, 255)], [run(64, 0) + run(6, 1), literal([0, 1, 1, 0, 1], 1) + run(65 - 64, 0) + run(64, 1)]),
    ]),
    "v4_three_bits.zef": version4(0, [
        (7, 1, 3, [(i * 30, 255 - i * 30, 7, 40 + i * 20) for i in range(5)], [literal([0, 1, 2, 3, 4, 3, 2], 3)]),
        (3, 2, 2, [(1, 2, 3, 0), (9, 9, 9, 255), (200, 100, 50, 128)], [run(3, 0), literal([1, 2], 2) + run(1, 2)]),
    ]),
    "v4_eight_bits.zef": version4(1000, [
        (4, 1, 8, [(i, i, i, 255) for i in range(200)], [literal([199, 0, 5, 100], 8)]),
    ]),
}


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "seeds", "reader")
    os.makedirs(folder, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main()
