#!/usr/bin/python3
"""Draws the agent's OSD images and its program icon into agent/resources/.

    /usr/bin/python3 scripts/gen-osd-bitmaps.py [OUTPUT_DIR]

Needs Debian's python3-pil and fonts-ipafont-gothic (the Japanese captions). The output is
committed, so a build needs neither.

osd_off.bmp (133), osd_on.bmp (134), osd_auto.bmp (136): 288 x 96, 24 bits, bottom-up,
2834 pixels per metre. Three 96 x 96 cells, left to right off, on, automatic; the cell of
the status shown is blue, the others near-black; all line art is white. No pixel may be
pure black: black is the OSD window's transparent colour key.
glimagent.ico (107): the on symbol on a blue square, 16, 32 and 48 pixels.
"""

import os
import struct
import sys

from PIL import Image, ImageDraw, ImageFont

WIDTH, HEIGHT, CELL = 288, 96, 96
HIGHLIGHT = (0, 118, 215)
NORMAL = (22, 22, 22)
WHITE = (255, 255, 255)
PIXELS_PER_METRE = 2834
SCALE = 4  # drawn at 4x, then averaged down (a box filter never undershoots the background)

FONT_CANDIDATES = [
    "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf",
    "/usr/share/fonts/truetype/fonts-japanese-gothic.ttf",
]

IMAGES = [("osd_off.bmp", 0), ("osd_on.bmp", 1), ("osd_auto.bmp", 2)]
CAPTIONS = ["オフ", "オン", "自動"]


def font(size):
    for path in FONT_CANDIDATES:
        if os.path.exists(path):
            return ImageFont.truetype(path, size * SCALE)
    sys.exit("gen-osd-bitmaps: no Japanese font; apt-get install fonts-ipafont-gothic")


def s(v):
    return int(round(v * SCALE))


def bar(draw, x0, cx, y, half_width):
    draw.rounded_rectangle([s(x0 + cx - half_width), s(y - 2), s(x0 + cx + half_width), s(y + 2)],
                           radius=s(2), fill=WHITE)


def rays(draw, x0, cx, cy, inner, outer):
    """Five rays fanning upwards from (cx, cy), from 20 to 160 degrees."""
    import math
    for angle in (20, 55, 90, 125, 160):
        a = math.radians(angle)
        x1, y1 = cx + inner * math.cos(a), cy - inner * math.sin(a)
        x2, y2 = cx + outer * math.cos(a), cy - outer * math.sin(a)
        draw.line([s(x0 + x1), s(y1), s(x0 + x2), s(y2)], fill=WHITE, width=s(3))
        for x, y in ((x1, y1), (x2, y2)):  # round ends
            draw.ellipse([s(x0 + x - 1.5), s(y - 1.5), s(x0 + x + 1.5), s(y + 1.5)], fill=WHITE)


def centred_text(draw, x0, text, y_top, size):
    f = font(size)
    left, top, right, bottom = draw.textbbox((0, 0), text, font=f)
    x = s(x0 + CELL / 2) - (right - left) / 2 - left
    draw.text((x, s(y_top) - top), text, font=f, fill=WHITE)


def draw_cell(draw, index, highlighted):
    x0 = index * CELL
    draw.rectangle([s(x0), 0, s(x0 + CELL) - 1, s(HEIGHT) - 1], fill=HIGHLIGHT if highlighted else NORMAL)
    cx = CELL / 2
    if index == 0:
        bar(draw, x0, cx, 46, 12)
    elif index == 1:
        rays(draw, x0, cx, 44, 10, 24)
        bar(draw, x0, cx, 52, 20)
    else:
        rays(draw, x0, cx, 30, 9, 21)
        centred_text(draw, x0, "Auto", 34, 11)
        bar(draw, x0, cx, 52, 20)
    centred_text(draw, x0, CAPTIONS[index], 64, 18)


def osd_image(status):
    big = Image.new("RGB", (s(WIDTH), s(HEIGHT)), NORMAL)
    draw = ImageDraw.Draw(big)
    for index in range(3):
        draw_cell(draw, index, index == status)
    return big.resize((WIDTH, HEIGHT), Image.BOX)


def no_pure_black(image):
    # Averaging between a non-black background and white cannot reach 0,0,0; make sure.
    data = image.load()
    for y in range(image.height):
        for x in range(image.width):
            if data[x, y][:3] == (0, 0, 0):
                sys.exit("gen-osd-bitmaps: a pure black pixel at %d,%d" % (x, y))


def bmp_bytes(image):
    """24-bit bottom-up BMP with a BITMAPINFOHEADER, written field by field."""
    row_bytes = (image.width * 3 + 3) & ~3
    pixels = bytearray()
    data = image.load()
    for y in range(image.height - 1, -1, -1):
        row = bytearray()
        for x in range(image.width):
            r, g, b = data[x, y][:3]
            row += bytes((b, g, r))
        row += b"\0" * (row_bytes - len(row))
        pixels += row
    info = struct.pack("<IiiHHIIiiII", 40, image.width, image.height, 1, 24, 0, len(pixels),
                       PIXELS_PER_METRE, PIXELS_PER_METRE, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + pixels


def icon_image(size):
    big = Image.new("RGBA", (s(size), s(size)), (0, 0, 0, 0))
    draw = ImageDraw.Draw(big)
    draw.rounded_rectangle([0, 0, s(size) - 1, s(size) - 1], radius=s(size / 6), fill=HIGHLIGHT + (255,))
    k = size / 48.0
    draw_rays = ImageDraw.Draw(big)
    import math
    for angle in (20, 55, 90, 125, 160):
        a = math.radians(angle)
        cx, cy = 24 * k, 30 * k
        p1 = (cx + 8 * k * math.cos(a), cy - 8 * k * math.sin(a))
        p2 = (cx + 19 * k * math.cos(a), cy - 19 * k * math.sin(a))
        draw_rays.line([s(p1[0]), s(p1[1]), s(p2[0]), s(p2[1])], fill=WHITE + (255,), width=s(max(1.5, 3 * k)))
    draw.rectangle([s(10 * k), s(36 * k), s(38 * k), s(39 * k)], fill=WHITE + (255,))
    return big.resize((size, size), Image.BOX)


def ico_bytes(images):
    """An icon file with 32-bit DIB entries (colour rows bottom-up, then an empty AND mask)."""
    entries, blobs = [], []
    offset = 6 + 16 * len(images)
    for image in images:
        w, h = image.size
        data = image.load()
        pixels = bytearray()
        for y in range(h - 1, -1, -1):
            for x in range(w):
                r, g, b, a = data[x, y]
                pixels += bytes((b, g, r, a))
        mask_row = ((w + 31) // 32) * 4
        blob = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, len(pixels), 0, 0, 0, 0)
        blob += pixels + b"\0" * (mask_row * h)
        entries.append(struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(blob), offset))
        blobs.append(blob)
        offset += len(blob)
    return struct.pack("<HHH", 0, 1, len(images)) + b"".join(entries) + b"".join(blobs)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "agent", "resources")
    os.makedirs(out, exist_ok=True)
    for name, status in IMAGES:
        image = osd_image(status)
        no_pure_black(image)
        with open(os.path.join(out, name), "wb") as f:
            f.write(bmp_bytes(image))
    with open(os.path.join(out, "glimagent.ico"), "wb") as f:
        f.write(ico_bytes([icon_image(n) for n in (16, 32, 48)]))


if __name__ == "__main__":
    main()
