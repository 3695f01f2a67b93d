#!/usr/bin/env python3
"""Draws the setup icon (a dusk-coloured disc with a fern leaf) as a Windows .ico with
16, 32, 48 and 256 pixel images at 32 bits per pixel. Usage: make_icon.py OUT.ico"""
import math
import struct
import sys


def pixel(x, y, n):
    # Coordinates in 0..1, y downwards.
    u, v = (x + 0.5) / n, (y + 0.5) / n
    dx, dy = u - 0.5, v - 0.5
    r = math.hypot(dx, dy)
    if r > 0.47:
        return (0, 0, 0, 0)
    edge = max(0.0, min(1.0, (0.47 - r) * n))  # anti-aliased rim
    # Dusk gradient: deep violet at the top to warm orange at the bottom.
    t = v
    bg = (int(70 + 170 * t), int(40 + 70 * t), int(120 - 60 * t))
    # Fern: a curved stem with leaflets.
    stem_x = 0.5 + 0.12 * math.sin((v - 0.2) * 3.0)
    on_leaf = False
    if 0.18 < v < 0.85:
        d = abs(u - stem_x)
        if d < 0.025:
            on_leaf = True
        else:
            width = 0.28 * (1.0 - abs(v - 0.5) / 0.4)
            phase = (v * 9.0) % 1.0
            if d < width and abs(phase - 0.5 - (d / max(width, 1e-6)) * 0.35) < 0.18:
                on_leaf = True
    rgb = (60, 200, 110) if on_leaf else bg
    return (rgb[0], rgb[1], rgb[2], int(255 * edge))


def image(n):
    rows = []
    for y in range(n - 1, -1, -1):  # bottom-up DIB rows
        row = bytearray()
        for x in range(n):
            r, g, b, a = pixel(x, y, n)
            row += bytes((b, g, r, a))
        rows.append(bytes(row))
    xor = b"".join(rows)
    mask_row = ((n + 31) // 32) * 4
    and_mask = bytes(mask_row * n)
    header = struct.pack("<IiiHHIIiiII", 40, n, n * 2, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    return header + xor + and_mask


def main():
    sizes = [16, 32, 48, 256]
    images = [image(n) for n in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for n, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
