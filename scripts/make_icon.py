#!/usr/bin/env python3
"""Draws Vellora's application icon: a dark tile with a spectrum's green bars
and the red peak marker, as in the window. Writes a Windows .ico holding
16, 24, 32 and 48 pixel images (32-bit BMP, with alpha) and a 256 pixel PNG.

Usage: make_icon.py OUTPUT.ico
"""

import struct
import sys
import zlib

TILE = (40, 44, 52)
BAR = (0, 200, 0)
PEAK = (255, 40, 40)
# Bar heights as fractions of the tile, left to right: a spectrum with one peak.
BARS = (0.30, 0.45, 0.38, 0.62, 0.95, 0.55, 0.35, 0.42, 0.25, 0.18)
PEAK_BAR = 4


def draw(size):
    """Rows of (r, g, b, a), top row first."""
    pixels = [[(0, 0, 0, 0)] * size for _ in range(size)]
    radius = max(2, size // 6)
    for y in range(size):
        for x in range(size):
            # Rounded corners: outside the corner circles stays transparent.
            cx = min(max(x, radius), size - 1 - radius)
            cy = min(max(y, radius), size - 1 - radius)
            if (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius:
                pixels[y][x] = TILE + (255,)
    margin = max(2, size // 8)
    width = size - 2 * margin
    bottom = size - margin
    for index, height in enumerate(BARS):
        left = margin + index * width // len(BARS)
        right = margin + (index + 1) * width // len(BARS)
        top = bottom - max(1, round(height * (size - 2 * margin)))
        colour = PEAK if index == PEAK_BAR else BAR
        for x in range(left, max(left + 1, right - (1 if size >= 24 else 0))):
            for y in range(top, bottom):
                pixels[y][x] = colour + (255,)
    return pixels


def bitmap(size):
    """The image as an icon's BMP: header, bottom-up BGRA rows, AND mask."""
    pixels = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = b"".join(bytes(v for (r, g, b, a) in row for v in (b, g, r, a)) for row in reversed(pixels))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytes(mask_stride * size)  # alpha decides; the mask is all opaque
    return header + rows + mask


def png(size):
    """The image as PNG, the form Windows takes for 256-pixel icon images."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + bytes(v for pixel in row for v in pixel) for row in draw(size))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def main():
    sizes = (16, 24, 32, 48, 256)
    images = [png(size) if size >= 256 else bitmap(size) for size in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    out += b"".join(images)
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
