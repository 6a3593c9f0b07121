#!/usr/bin/python3
"""Draws the program icon, an amethyst pear with a stem and a leaf, and writes it
as a multi-size .ico (src/win/res/relaymoth.ico by default).

Pure Python, no imaging library: each size is rendered from signed distance
fields with 4x4 supersampling, so the small sizes are drawn, not scaled down.
Sizes up to 64 px are stored as 32-bit DIBs (readable by every Windows and by
Wine); the 256 px image is stored as PNG, as Windows Vista and later expect.

    scripts/make-icon.py [output.ico]
"""
import math
import struct
import sys
import zlib
from pathlib import Path

SIZES = (16, 20, 24, 32, 40, 48, 64, 256)
SUPERSAMPLE = 4


def smooth_min(a, b, k):
    h = max(k - abs(a - b), 0.0) / k
    return min(a, b) - h * h * k * 0.25


def circle(x, y, cx, cy, r):
    return math.hypot(x - cx, y - cy) - r


def segment(x, y, ax, ay, bx, by, r):
    px, py, dx, dy = x - ax, y - ay, bx - ax, by - ay
    t = max(0.0, min(1.0, (px * dx + py * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - dx * t, py - dy * t) - r


def ellipse(x, y, cx, cy, rx, ry, angle):
    c, s = math.cos(angle), math.sin(angle)
    u = ((x - cx) * c + (y - cy) * s) / rx
    v = (-(x - cx) * s + (y - cy) * c) / ry
    # Approximate distance: good enough for a filled, antialiased edge.
    return (math.hypot(u, v) - 1.0) * min(rx, ry)


def pear(x, y):
    return smooth_min(circle(x, y, 0.50, 0.39, 0.185), circle(x, y, 0.50, 0.665, 0.285), 0.12)


def lerp(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(len(a)))


def over(dst, src, alpha):
    """Composites straight-alpha colour `src` with coverage `alpha` over `dst` (RGBA)."""
    if alpha <= 0.0:
        return dst
    out_a = alpha + dst[3] * (1.0 - alpha)
    if out_a <= 0.0:
        return (0.0, 0.0, 0.0, 0.0)
    rgb = tuple((src[i] * alpha + dst[i] * dst[3] * (1.0 - alpha)) / out_a for i in range(3))
    return rgb + (out_a,)


def shade(x, y, size):
    """Colour of one sample point (unit square coordinates), straight RGBA in 0..1."""
    # The outline is one pixel wide at every size, so small icons keep their shape.
    px = 1.0 / size
    colour = (0.0, 0.0, 0.0, 0.0)

    stem = segment(x, y, 0.50, 0.23, 0.55, 0.07, 0.028)
    if stem < 0.0:
        colour = over(colour, (0.42, 0.26, 0.14), 1.0)

    leaf = ellipse(x, y, 0.665, 0.135, 0.115, 0.05, math.radians(-28))
    if leaf < 0.0:
        t = max(0.0, min(1.0, (x - 0.55) / 0.23))
        colour = over(colour, lerp((0.36, 0.70, 0.30), (0.20, 0.50, 0.20), t), 1.0)

    body = pear(x, y)
    if body < 0.0:
        # Light from the upper left: pale lilac to deep amethyst.
        t = max(0.0, min(1.0, (x * 0.45 + y * 0.75 - 0.25) / 0.85))
        fill = lerp((0.78, 0.58, 0.96), (0.33, 0.12, 0.55), t)
        glint = circle(x, y, 0.405, 0.56, 0.075)
        if glint < 0.0:
            fill = lerp(fill, (1.0, 1.0, 1.0), 0.55 * min(1.0, -glint / 0.04))
        if body > -1.2 * px:
            fill = (0.22, 0.07, 0.38)
        colour = over(colour, fill, 1.0)
    return colour


def render(size):
    """Returns rows (top to bottom) of straight-alpha (r, g, b, a) bytes."""
    n = SUPERSAMPLE
    rows = []
    for j in range(size):
        row = []
        for i in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sj in range(n):
                for si in range(n):
                    r, g, b, a = shade((i + (si + 0.5) / n) / size, (j + (sj + 0.5) / n) / size,
                                       size)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            a = acc[3] / (n * n)
            if a > 0.0:
                rgb = [min(255, round(acc[k] / acc[3] * 255)) for k in range(3)]
            else:
                rgb = [0, 0, 0]
            row.append((rgb[0], rgb[1], rgb[2], min(255, round(a * 255))))
        rows.append(row)
    return rows


def dib(size, rows):
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):  # DIBs are stored bottom-up
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    # The AND mask is ignored for 32-bit images but must be present: 1 bpp, rows
    # padded to 32 bits, all zero (opaque) so that alpha alone decides.
    mask_row = ((size + 31) // 32) * 4
    return header + bytes(pixels) + bytes(mask_row * size)


def png(size, rows):
    raw = bytearray()
    for row in rows:
        raw.append(0)
        for px in row:
            raw += bytes(px)

    def chunk(kind, data):
        body = kind + data
        return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body))

    ihdr = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', ihdr) + chunk(b'IDAT', zlib.compress(bytes(raw), 9))
            + chunk(b'IEND', b''))


def main():
    root = Path(__file__).resolve().parent.parent
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else root / 'src/win/res/relaymoth.ico'
    images = []
    for size in SIZES:
        rows = render(size)
        images.append((size, png(size, rows) if size >= 256 else dib(size, rows)))
    data = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, blob in images:
        dim = 0 if size >= 256 else size
        data += struct.pack('<BBBBHHII', dim, dim, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    for _, blob in images:
        data += blob
    out.parent.mkdir(parents=True, exist_ok=True)
    out.write_bytes(bytes(data))
    print(f'{out}: {len(images)} images, {len(data)} bytes')


if __name__ == '__main__':
    main()
