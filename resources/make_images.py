#!/usr/bin/env python3
"""Draws the plug-in's two images and writes them beside this script:
unicode_toggle.bmp (the toolbar button, 23 x 16, 24-bit) and velmora.ico (32 x 32, 16 colours).
The output depends on nothing but this file, so running it again gives the same bytes."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# 3 x 5 pixel letters; N is 4 wide to stay readable.
GLYPHS = {
    "U": ["X.X", "X.X", "X.X", "X.X", "XXX"],
    "N": ["X..X", "XX.X", "X.XX", "X..X", "X..X"],
    "I": ["XXX", ".X.", ".X.", ".X.", "XXX"],
    "C": [".XX", "X..", "X..", "X..", ".XX"],
    "O": [".X.", "X.X", "X.X", "X.X", ".X."],
    "D": ["XX.", "X.X", "X.X", "X.X", "XX."],
    "E": ["XXX", "X..", "XX.", "X..", "XXX"],
}


def text_width(word):
    return sum(len(GLYPHS[c][0]) for c in word) + len(word) - 1


def draw_word(pixels, word, top, width):
    x = (width - text_width(word)) // 2
    for c in word:
        glyph = GLYPHS[c]
        for dy, row in enumerate(glyph):
            for dx, cell in enumerate(row):
                if cell == "X":
                    pixels[top + dy][x + dx] = (0, 0, 0)
        x += len(glyph[0]) + 1


def toggle_bitmap():
    width, height = 23, 16
    white, grey = (255, 255, 255), (192, 192, 192)
    pixels = [[white] * width for _ in range(height)]
    for x in range(width):
        pixels[0][x] = pixels[height - 1][x] = grey
    for y in range(height):
        pixels[y][0] = pixels[y][width - 1] = grey
    draw_word(pixels, "UNI", 2, width)
    draw_word(pixels, "CODE", 9, width)
    stride = (width * 3 + 3) // 4 * 4
    rows = b""
    for y in reversed(range(height)):
        row = b"".join(bytes((b, g, r)) for (r, g, b) in pixels[y])
        rows += row + b"\0" * (stride - len(row))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(rows), 0, 0, 14 + len(info))
    return header + info + rows


# The standard 16-colour palette, as (r, g, b).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, GREY, WHITE, RED, YELLOW = 0, 4, 8, 15, 9, 11


def icon():
    size = 32
    transparent = None
    img = [[transparent] * size for _ in range(size)]
    # An envelope: white body with a grey outline and the flap's two diagonals.
    for y in range(7, 26):
        for x in range(2, 30):
            img[y][x] = WHITE
    for x in range(2, 30):
        img[7][x] = img[25][x] = GREY
    for y in range(7, 26):
        img[y][2] = img[y][29] = GREY
    for i in range(14):
        img[8 + i * 8 // 14][3 + i] = GREY
        img[8 + i * 8 // 14][28 - i] = GREY
    # A navy badge with a yellow U: the Unicode view.
    for y in range(14, 31):
        for x in range(14, 31):
            if (x - 22) ** 2 + (y - 22) ** 2 <= 72:
                img[y][x] = NAVY
    for y in range(17, 26):
        img[y][19] = img[y][20] = YELLOW
        img[y][24] = img[y][25] = YELLOW
    for x in range(19, 26):
        img[26][x] = YELLOW
    img[25][21] = img[25][22] = img[25][23] = YELLOW
    xor = b""
    mask = b""
    for y in reversed(range(size)):
        row = bytearray()
        for x in range(0, size, 2):
            hi = img[y][x] if img[y][x] is not None else BLACK
            lo = img[y][x + 1] if img[y][x + 1] is not None else BLACK
            row.append((hi << 4) | lo)
        xor += bytes(row)
        bits = 0
        for x in range(size):
            bits = (bits << 1) | (1 if img[y][x] is None else 0)
        mask += struct.pack(">I", bits)
    palette = b"".join(bytes((b, g, r, 0)) for (r, g, b) in PALETTE)
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    image = info + palette + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    with open(os.path.join(HERE, "unicode_toggle.bmp"), "wb") as f:
        f.write(toggle_bitmap())
    with open(os.path.join(HERE, "velmora.ico"), "wb") as f:
        f.write(icon())


if __name__ == "__main__":
    main()
