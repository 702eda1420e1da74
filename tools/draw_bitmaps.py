#!/usr/bin/env python3
"""Draws the module's bitmaps into res/ as 24-bit BMP files.

The four state icons are 16 x 16 pixel art on the magenta background that the
contact list treats as transparent; the page picture is 48 x 48 on light grey.
Run it again after changing a picture: python3 tools/draw_bitmaps.py
"""
import os
import struct

MAGENTA = (255, 0, 255)

# One letter per pixel; '.' is the background.
PALETTE = {
    ".": MAGENTA,
    "k": (0, 0, 0),  # outline
    "b": (150, 200, 240),  # light-blue envelope
    "B": (90, 150, 210),  # its shaded inside
    "o": (255, 160, 40),  # orange envelope
    "O": (200, 110, 20),  # its fold lines
    "w": (255, 255, 255),  # letter paper
    "g": (128, 128, 128),  # monitor casing
    "G": (64, 64, 64),  # monitor stand
    "s": (40, 120, 200),  # screen
    "S": (120, 190, 250),  # screen glare
    "r": (220, 0, 0),  # red cross
    "R": (150, 0, 0),  # its shadow
}

NO_MAIL = [  # open light-blue envelope: flap folded back above the body
    "................",
    "................",
    "......kkkk......",
    "....kkbbbbkk....",
    "..kkbbbbbbbbkk..",
    ".kbbbbbbbbbbbbk.",
    "kkkkbbbbbbbbkkkk",
    "kBBBkkbbbbkkBBBk",
    "kBBBBBkkkkBBBBBk",
    "kbBBBBBBBBBBBBbk",
    "kbbBBBBBBBBBBbbk",
    "kbbbBBBBBBBBbbbk",
    "kbbbbBBBBBBbbbbk",
    "kbbbbbbbbbbbbbbk",
    "kkkkkkkkkkkkkkkk",
    "................",
]

NEW_MAIL = [  # closed orange envelope
    "................",
    "................",
    "................",
    "kkkkkkkkkkkkkkkk",
    "kOoooooooooooOok",
    "koOooooooooooOok",
    "kooOooooooooOook",
    "koooOooooooOoook",
    "kooooOooooOooook",
    "koooooOOOOoooook",
    "kooooooooooooook",
    "kooooooooooooook",
    "kooooooooooooook",
    "kkkkkkkkkkkkkkkk",
    "................",
    "................",
]

CHECKING = [  # two computer screens, the second in front of the first
    "kkkkkkkkk.......",
    "kgggggggk.......",
    "kgSsssssk.......",
    "kgssssskkkkkkkkk",
    "kgssssskgggggggk",
    "kgsssssgkSsssssk",
    "kkkkkkkgksssssgk",
    "...kGk.gksssssgk",
    "..kGGGkgksssssgk",
    ".......gksssssgk",
    ".......gkkkkkkkk",
    "...........kGk..",
    "..........kGGGk.",
    "................",
    "................",
    "................",
]


def with_cross(picture):
    """The screens with a red cross drawn over them."""
    rows = [list(r) for r in picture]
    for i in range(2, 14):
        for x, shade in ((i, "r"), (i + 1, "R"), (15 - i, "r"), (14 - i, "R")):
            if 0 <= x < 16 and rows[i][x] != "r":
                rows[i][x] = shade
    return ["".join(r) for r in rows]


FAILED = with_cross(CHECKING)

LIGHT_GREY = (212, 208, 200)


def page_picture():
    """48 x 48: an open light-blue envelope with a letter sticking out."""
    size = 48
    px = [[LIGHT_GREY] * size for _ in range(size)]

    def put(x, y, c):
        if 0 <= x < size and 0 <= y < size:
            px[y][x] = c

    blue, dark, black = PALETTE["b"], PALETTE["B"], PALETTE["k"]
    white, text = PALETTE["w"], (110, 110, 110)
    left, right, top, bottom = 4, 43, 22, 42
    # The flap, open above the body: a triangle from the top edge upwards.
    for y in range(8, top + 1):
        half = (y - 8) * (right - left) // (2 * (top - 8))
        for x in range(24 - half - 1, 24 + half + 1):
            put(x, y, blue)
        put(24 - half - 1, y, black)
        put(24 + half, y, black)
    # The letter, standing out of the envelope.
    for y in range(12, 34):
        for x in range(12, 36):
            put(x, y, black if x in (12, 35) or y == 12 else white)
    for y in range(16, 30, 3):
        for x in range(15, 33):
            put(x, y, text)
    # The body with its inner fold lines.
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            edge = x in (left, right) or y in (top, bottom)
            put(x, y, black if edge else (dark if y < top + 6 else blue))
    # The bottom flap's folds, from the lower corners towards the middle.
    for i in range(0, 10):
        for dx in (0, 1):
            put(left + 2 * i + dx, bottom - i, black)
            put(right - 2 * i - dx, bottom - i, black)
    return px


def grid(picture):
    assert len(picture) == 16 and all(len(r) == 16 for r in picture), picture
    return [[PALETTE[c] for c in row] for row in picture]


def write_bmp(path, pixels):
    height, width = len(pixels), len(pixels[0])
    stride = (width * 3 + 3) & ~3
    body = bytearray()
    for row in reversed(pixels):  # bottom-up
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        body += line + bytes(stride - len(line))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(body), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(body), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + body)


def main():
    res = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "res")
    write_bmp(os.path.join(res, "page.bmp"), page_picture())
    for name, picture in (
        ("no_mail.bmp", NO_MAIL),
        ("new_mail.bmp", NEW_MAIL),
        ("checking.bmp", CHECKING),
        ("failed.bmp", FAILED),
    ):
        write_bmp(os.path.join(res, name), grid(picture))


if __name__ == "__main__":
    main()
