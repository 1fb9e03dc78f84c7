#!/usr/bin/env python3
"""Draws Pelmora's icon and writes pelmora.ico: 16x16 and 32x32, 24 bits per
pixel, with a 1-bit transparency mask. Run it again after changing the art:
    python3 res/make_icon.py res/pelmora.ico
"""
import struct
import sys

SAMPLES = 4  # per axis, for smooth edges


def paper(x, y):
    """A sheet of paper with a folded corner, in unit coordinates."""
    if not (0.18 <= x <= 0.82 and 0.06 <= y <= 0.94):
        return None
    fold = 0.22
    if x > 0.82 - fold and y < 0.06 + fold:
        # Cut away the top right corner and show the fold beneath it.
        if (x - (0.82 - fold)) > (y - 0.06):
            return None
        return (0xC8, 0xD4, 0xE3)
    return (0xFF, 0xFF, 0xFF)


def lines(x, y):
    """Text lines; the right ends end in a return arrow in the accent colour."""
    for row in (0.36, 0.52, 0.68, 0.84):
        if abs(y - row) < 0.045 and 0.28 <= x <= 0.62:
            return (0x44, 0x4C, 0x5C)
        # The line-end mark: a short bar and an arrow head.
        if 0.64 <= x <= 0.74 and abs(y - row) < 0.04:
            return (0xE0, 0x6C, 0x1A)
        if 0.70 <= x <= 0.76 and abs(y - row) < 0.10 - (x - 0.70) * 1.4:
            return (0xE0, 0x6C, 0x1A)
    return None


def outline(x, y):
    inside = 0.18 <= x <= 0.82 and 0.06 <= y <= 0.94
    near = 0.15 <= x <= 0.85 and 0.03 <= y <= 0.97
    return near and not inside


def shade(x, y):
    colour = lines(x, y)
    if colour is None:
        colour = paper(x, y)
    if colour is None and outline(x, y) and not (x > 0.58 and y < 0.30):
        colour = (0x2B, 0x57, 0x9A)
    return colour


def render(size):
    pixels = []
    for py in range(size):
        row = []
        for px in range(size):
            total = [0, 0, 0]
            hits = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = shade((px + (sx + 0.5) / SAMPLES) / size, (py + (sy + 0.5) / SAMPLES) / size)
                    if c is not None:
                        hits += 1
                        total = [t + v for t, v in zip(total, c)]
            if hits * 2 >= SAMPLES * SAMPLES:
                row.append(tuple(round(t / hits) for t in total))
            else:
                row.append(None)
        pixels.append(row)
    return pixels


def icon_image(size):
    pixels = render(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 24, 0, 0, 0, 0, 0, 0)
    colour_stride = (size * 3 + 3) & ~3
    mask_stride = ((size + 31) // 32) * 4
    colour = b""
    mask = b""
    for row in reversed(pixels):  # bitmaps are stored bottom-up
        line = b"".join(bytes((c[2], c[1], c[0])) if c else b"\0\0\0" for c in row)
        colour += line + b"\0" * (colour_stride - len(line))
        bits = 0
        for x, c in enumerate(row):
            if c is None:
                bits |= 1 << (mask_stride * 8 - 1 - x)
        mask += bits.to_bytes(mask_stride, "big")
    return header + colour + mask


def main(path):
    images = [(16, icon_image(16)), (32, icon_image(32))]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 24, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "pelmora.ico")
