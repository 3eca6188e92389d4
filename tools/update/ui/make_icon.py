#!/usr/bin/env python3
"""Draws the updater's icon and writes app.ico.

The artwork is a rounded tile with a downward arrow landing in a tray. The
sizes up to 48 px are uncompressed DIBs (24-bit colour with a 1-bit mask),
which every resource loader reads; the larger ones are PNGs with alpha, which
Windows loads at any size since Vista (and Wine too). Every patch carries the
updater: as DIBs the 64 to 80 px images alone would be 48 KB of it, and the
256 px one 270 KB. Run it again after changing the drawing; the output is
deterministic.

    python3 make_icon.py [output.ico]
"""
import struct
import sys
import zlib

SIZES_DIB = [32, 32, 40, 48]
SIZES_PNG = [64, 72, 80, 256]
SUPERSAMPLE = 4

TOP = (38, 132, 214)
BOTTOM = (18, 72, 150)
WHITE = (255, 255, 255)


def inside_rounded_square(x, y, radius):
    """x, y in 0..1; the tile leaves a small margin."""
    margin = 0.04
    lo, hi = margin + radius, 1.0 - margin - radius
    cx = min(max(x, lo), hi)
    cy = min(max(y, lo), hi)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2 and margin <= x <= 1 - margin \
        and margin <= y <= 1 - margin


def inside_arrow(x, y):
    shaft = 0.42 <= x <= 0.58 and 0.16 <= y <= 0.50
    # Head: a triangle from y 0.44 (wide) to its tip at y 0.70.
    head = 0.44 <= y <= 0.70 and abs(x - 0.5) <= (0.70 - y) * (0.26 / 0.26)
    return shaft or head


def inside_tray(x, y):
    bottom = 0.74 <= y <= 0.82 and 0.20 <= x <= 0.80
    sides = 0.58 <= y <= 0.82 and (0.20 <= x <= 0.28 or 0.72 <= x <= 0.80)
    return bottom or sides


def sample(x, y):
    """Colour and coverage (0 or 1) of one point of the unit square."""
    if not inside_rounded_square(x, y, 0.18):
        return (0, 0, 0), 0.0
    if inside_arrow(x, y) or inside_tray(x, y):
        return WHITE, 1.0
    t = y
    colour = tuple(round(a + (b - a) * t) for a, b in zip(TOP, BOTTOM))
    return colour, 1.0


def render(size):
    """Rows top to bottom of (r, g, b, alpha 0..255)."""
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = cover = 0.0
            for sy in range(n):
                for sx in range(n):
                    colour, c = sample((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    r += colour[0] * c
                    g += colour[1] * c
                    b += colour[2] * c
                    cover += c
            if cover:
                row.append((round(r / cover), round(g / cover), round(b / cover),
                            round(255 * cover / (n * n))))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def mask_bytes(rows, size):
    """1-bit AND mask, bottom-up, rows padded to 4 bytes; 1 = transparent."""
    stride = ((size + 31) // 32) * 4
    out = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                line[x // 8] |= 0x80 >> (x % 8)
        out += line
    return bytes(out)


def dib(rows, size):
    """24-bit colour, bottom-up, then the AND mask."""
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 24, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b, a in row:
            # Transparent pixels are black so the AND mask shows through.
            line += bytes((b, g, r)) if a >= 128 else b'\0\0\0'
        while len(line) % 4:
            line += b'\0'
        pixels += line
    return header + bytes(pixels) + mask_bytes(rows, size)


def png_chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + \
        struct.pack('>I', zlib.crc32(kind + body) & 0xffffffff)


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def png(rows, size):
    """8-bit RGBA PNG; each row takes the filter with the smallest sum of
    absolute differences, the usual choice of encoders."""
    raw = bytearray()
    previous = bytes(size * 4)
    for row in rows:
        line = bytes(v for pixel in row for v in pixel)
        candidates = []
        for kind in range(5):
            out = bytearray((kind,))
            for i, x in enumerate(line):
                a = line[i - 4] if i >= 4 else 0
                b = previous[i]
                c = previous[i - 4] if i >= 4 else 0
                predictor = (0, a, b, (a + b) // 2, paeth(a, b, c))[kind]
                out.append((x - predictor) & 0xff)
            candidates.append(out)
        raw += min(candidates, key=lambda f: sum(v if v < 128 else 256 - v for v in f[1:]))
        previous = line
    header = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + png_chunk(b'IHDR', header) +
            png_chunk(b'IDAT', zlib.compress(bytes(raw), 9)) + png_chunk(b'IEND', b''))


def main():
    out_path = sys.argv[1] if len(sys.argv) > 1 else 'app.ico'
    cache = {}
    images = []
    for size in SIZES_DIB + SIZES_PNG:
        if size not in cache:
            cache[size] = render(size)
    images += [(size, 24, dib(cache[size], size)) for size in SIZES_DIB]
    images += [(size, 32, png(cache[size], size)) for size in SIZES_PNG]

    data = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, bits, blob in images:
        side = size if size < 256 else 0  # 0 stands for 256 in the directory
        data += struct.pack('<BBBBHHII', side, side, 0, 0, 1, bits, len(blob), offset)
        offset += len(blob)
    for _, _, blob in images:
        data += blob
    with open(out_path, 'wb') as f:
        f.write(bytes(data))


if __name__ == '__main__':
    main()
