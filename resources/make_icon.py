#!/usr/bin/env python3
"""Draws the installer's icon: a painter's palette, 16x16 pixels, 256 colours.

Writes a one-image .ico file whose image is exactly 1,384 bytes: the
BITMAPINFOHEADER (40), a 256-entry colour table (1,024), the 8-bit colour
rows (256) and the 1-bit transparency mask (64), rows bottom-up.

Usage: make_icon.py OUTPUT.ico
"""
import struct
import sys

# '.' is transparent; the other letters pick a colour below.
ART = [
    "................",
    ".....######.....",
    "...##wwwwww##...",
    "..#wwwwwwwwww#..",
    ".#wwRRwwwwGGww#.",
    ".#wwRRwwwwGGww#.",
    "#wwwwwwwwwwwwww#",
    "#wwBBwww..wwwww#",
    "#wwBBww....wwww#",
    "#wwwwww....www#.",
    "#wwwwwwww..www#.",
    ".#wwYYwwwwwww#..",
    ".#wwYYwwwwww#...",
    "..##wwwwwww#....",
    "....#######.....",
    "................",
]

# Colour table entries as (blue, green, red); index 0 stays black.
COLOURS = {
    ".": (0, 0, 0),
    "#": (0x1f, 0x3a, 0x5a),  # dark wood outline
    "w": (0x6b, 0xb4, 0xe0),  # light wood
    "R": (0x30, 0x30, 0xe0),  # red paint
    "G": (0x40, 0xc0, 0x40),  # green paint
    "B": (0xe0, 0x60, 0x30),  # blue paint
    "Y": (0x30, 0xe0, 0xf0),  # yellow paint
}
INDEX = {key: i for i, key in enumerate(COLOURS)}

SIZE = 16


def icon_image():
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 8, 0, SIZE * SIZE + SIZE * 4, 0, 0, 0, 0)
    table = bytearray(256 * 4)
    for key, (blue, green, red) in COLOURS.items():
        table[INDEX[key] * 4:INDEX[key] * 4 + 3] = bytes((blue, green, red))
    colour_rows = bytearray()
    mask_rows = bytearray()
    for row in reversed(ART):
        colour_rows += bytes(INDEX[c] for c in row)
        bits = 0
        for c in row:
            bits = (bits << 1) | (1 if c == "." else 0)
        mask_rows += struct.pack(">H", bits) + b"\0\0"
    image = header + bytes(table) + bytes(colour_rows) + bytes(mask_rows)
    assert len(image) == 1384, len(image)
    return image


def main():
    image = icon_image()
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 8, len(image), 6 + 16)
    with open(sys.argv[1], "wb") as out:
        out.write(directory + entry + image)


if __name__ == "__main__":
    main()
