#!/usr/bin/env python3
"""Draws the program's own logo (bitmap 12: 708 x 218, 24-bit, uncompressed) and icon (icon 1:
one 128 x 128 image, 24-bit) from a small built-in block font, so the build needs no image tool
and the pictures are the same on every machine."""
import struct
import sys

# 5 x 7 block letters, one string per row, "#" set.
FONT = {
    "K": ["#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "V": ["#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."],
    "A": [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "N": ["#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#", "#...#"],
}

NAVY = (0x1F, 0x2A, 0x6B)   # RGB
RED = (0xD0, 0x10, 0x10)
WHITE = (0xFF, 0xFF, 0xFF)


def canvas(width, height, colour):
    return [[colour] * width for _ in range(height)]


def fill(img, left, top, right, bottom, colour):
    for y in range(max(top, 0), min(bottom, len(img))):
        row = img[y]
        for x in range(max(left, 0), min(right, len(row))):
            row[x] = colour


def text(img, word, left, top, scale, colour):
    x = left
    for ch in word:
        for r, line in enumerate(FONT[ch]):
            for c, cell in enumerate(line):
                if cell == "#":
                    fill(img, x + c * scale, top + r * scale, x + (c + 1) * scale,
                         top + (r + 1) * scale, colour)
        x += 6 * scale


def bgr_rows(img):
    """Rows bottom-up, BGR, each padded to 4 bytes: the DIB layout."""
    out = bytearray()
    for row in reversed(img):
        line = bytearray()
        for (r, g, b) in row:
            line += bytes((b, g, r))
        while len(line) % 4:
            line.append(0)
        out += line
    return bytes(out)


def bitmap_info(width, height, image_size):
    # BITMAPINFOHEADER: 24 bits per pixel, BI_RGB (uncompressed).
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, image_size, 2835, 2835, 0, 0)


def write_bmp(path, img):
    height, width = len(img), len(img[0])
    pixels = bgr_rows(img)
    header = bitmap_info(width, height, len(pixels))
    offset = 14 + len(header)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset))
        f.write(header)
        f.write(pixels)


def write_ico(path, img):
    height, width = len(img), len(img[0])
    pixels = bgr_rows(img)
    mask_row = ((width + 31) // 32) * 4
    mask = bytes(mask_row * height)  # all opaque
    # In an icon the header's height counts the colour rows and the mask rows.
    header = bitmap_info(width, height * 2, len(pixels) + len(mask))
    data = header + pixels + mask
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, 1))
        # A width or height of 0 would mean 256; 128 is written as it is.
        f.write(struct.pack("<BBBBHHII", width, height, 0, 0, 1, 24, len(data), 6 + 16))
        f.write(data)


def logo():
    img = canvas(708, 218, WHITE)
    scale = 18
    word = "KORVAN"
    word_width = (len(word) * 6 - 1) * scale
    left = (708 - word_width) // 2
    text(img, word, left, 24, scale, NAVY)
    fill(img, left, 24 + 7 * scale + 14, left + word_width, 24 + 7 * scale + 14 + 24, RED)
    return img


def icon():
    img = canvas(128, 128, NAVY)
    fill(img, 0, 108, 128, 128, RED)
    text(img, "K", 29, 16, 12, WHITE)
    return img


def main():
    if len(sys.argv) != 3:
        print("usage: make_art.py LOGO.bmp ICON.ico", file=sys.stderr)
        return 2
    write_bmp(sys.argv[1], logo())
    write_ico(sys.argv[2], icon())
    return 0


if __name__ == "__main__":
    sys.exit(main())
