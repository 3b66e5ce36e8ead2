#!/usr/bin/env python3
"""Writes the device fuzz target's version 4 seeds: small, sound archives
with every op, index widths 1 to 8, entries of every kind of alpha, a
literal longer than the reader's window and lines that end in each kind of
op; and two recipes, inputs starting with "V4", from which the target makes
sound archives itself. The older seeds of versions 1 to 3 sit beside them.

    python3 fuzz/make_device_seeds.py fuzz/seeds/device
"""
import os
import sys

from make_reader_seeds import literal, run, version4


def entries(count, step):
    """Entries with alpha 0, 255 and between, in turn."""
    return [((i * step) % 256, (255 - i * step) % 256, (i * 7) % 256, (0, 255, 90 + i % 100)[i % 3])
            for i in range(count)]


SEEDS = {
    "v4_one_bit_runs.zef": version4(5, [
        (70, 2, 1, [(0, 0, 0, 0), (255, 255, 255, 255)],
         [run(64, 0) + run(6, 1), literal([0, 1, 1, 0, 1], 1) + run(1, 0) + run(64, 1)]),
    ]),
    # widths 3, 5 and 7 cross byte boundaries
    "v4_odd_widths.zef": version4(0, [
        (7, 1, 3, entries(5, 30), [literal([0, 1, 2, 3, 4, 3, 2], 3)]),
        (9, 2, 5, entries(17, 13), [literal([16, 0, 5, 9, 1], 5) + run(4, 16), run(2, 0) + literal(list(range(7)), 5)]),
        (5, 1, 7, entries(100, 3), [literal([99, 0, 64, 1], 7) + run(1, 50)]),
    ]),
    # 129 bytes of literal: longer than the reader's window of 64 bytes
    "v4_long_literal.zef": version4(1000, [
        (130, 1, 8, entries(256, 1), [literal([(i * 37) % 256 for i in range(128)], 8) + run(2, 255)]),
    ]),
    "v4_two_four_six.zef": version4(65535, [
        (6, 2, 2, entries(4, 60), [literal([3, 2, 1, 0, 1, 2], 2), run(6, 3)]),
        (4, 1, 4, entries(16, 16), [literal([15, 0, 8, 7], 4)]),
        (3, 1, 6, entries(40, 6), [run(1, 39) + literal([0, 20], 6)]),
    ]),
    "v4_recipe_small": b"V4\x02\x00\x07\x00\x10\x03\x00\x40\x02\x04\x11\x22\x33\x44\x55\x66\x77\x88\x99\xAA\xBB\xCC"
                        + bytes(range(0, 256, 3)),
    "v4_recipe_wide": b"V4\x00\x01\x02\x01\x2B\x05\x07\xFF" + bytes((i * 89) % 256 for i in range(1200)),
}


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "seeds", "device")
    os.makedirs(folder, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main()
