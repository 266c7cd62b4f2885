"""Writes the three OSD status images (288 x 96, 24-bit, bottom-up BMP, 2834 px/m).

Cells left to right: off, on, automatic. The highlighted cell has RGB(0, 118, 215), the
others RGB(22, 22, 22); the line art is white. No pixel is pure black, which is the OSD's
transparent colour key.
"""
import struct
import sys

W, H, CELL = 288, 96, 96
BLUE, GREY, WHITE = (0, 118, 215), (22, 22, 22), (255, 255, 255)


def image(highlight):
    px = [[BLUE if x // CELL == highlight else GREY for x in range(W)] for y in range(H)]

    def rect(x0, y0, x1, y1):
        for y in range(y0, y1):
            for x in range(x0, x1):
                px[y][x] = WHITE

    def rays(cx):
        # Five short rays fanning upwards above the bar.
        for dx, dy in ((-24, -8), (-13, -18), (0, -22), (13, -18), (24, -8)):
            for t in range(6, 11):
                x, y = cx + dx * t // 10, 46 + dy * t // 10
                rect(x - 1, y - 1, x + 2, y + 2)

    def caption(cx):
        # A stand-in for the caption: a row of glyph blocks under the bar.
        for i in range(-1, 2):
            rect(cx + i * 12 - 4, 70, cx + i * 12 + 4, 80)

    for cell in range(3):
        cx = cell * CELL + CELL // 2
        rect(cx - 20, 50, cx + 20, 54)
        if cell >= 1:
            rays(cx)
        if cell == 2:
            rect(cx - 8, 40, cx + 8, 44)  # "Auto" between rays and bar
        caption(cx)
    return px


def write(path, highlight):
    px = image(highlight)
    rows = b"".join(bytes(c for p in px[y] for c in (p[2], p[1], p[0])) for y in reversed(range(H)))
    header = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 24, 0, len(rows), 2834, 2834, 0, 0)
    filehdr = struct.pack("<2sIHHI", b"BM", 14 + len(header) + len(rows), 0, 0, 14 + len(header))
    with open(path, "wb") as f:
        f.write(filehdr + header + rows)


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "."
    for name, hl in (("osd_off.bmp", 0), ("osd_on.bmp", 1), ("osd_auto.bmp", 2)):
        write(f"{out}/{name}", hl)
