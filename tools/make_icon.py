#!/usr/bin/env python3
"""Draws the setup icon (a dusk-coloured disc with a fern leaf) as a Windows .ico with
16, 32, 48 and 256 pixel images at 32 bits per pixel. The small images are bitmaps; the
256-pixel one is stored as a PNG, as Windows allows for that size, which keeps the executable
about 250 KB smaller. The output depends only on this file (no time stamps), so builds are
reproducible. Usage: make_icon.py OUT.ico"""
import math
import struct
import sys
import zlib


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


def png(n):
    """An 8-bit RGBA PNG, each row with the filter that leaves the smallest residuals."""
    width = n * 4
    previous = bytes(width)
    raw = bytearray()
    for y in range(n):
        row = bytearray()
        for x in range(n):
            row += bytes(pixel(x, y, n))
        candidates = []
        for kind in range(5):
            out = bytearray(width)
            for i in range(width):
                a = row[i - 4] if i >= 4 else 0
                b = previous[i]
                c = previous[i - 4] if i >= 4 else 0
                if kind == 0:
                    p = 0
                elif kind == 1:
                    p = a
                elif kind == 2:
                    p = b
                elif kind == 3:
                    p = (a + b) // 2
                else:
                    est = a + b - c
                    pa, pb, pc = abs(est - a), abs(est - b), abs(est - c)
                    p = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                out[i] = (row[i] - p) & 0xFF
            cost = sum(v if v < 128 else 256 - v for v in out)
            candidates.append((cost, kind, bytes(out)))
        _, kind, filtered = min(candidates)
        raw.append(kind)
        raw += filtered
        previous = bytes(row)

    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", n, n, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) +
            chunk(b"IEND", b""))


def image(n):
    if n == 256:
        return png(n)
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
