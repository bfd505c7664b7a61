#!/usr/bin/env python3
"""Draws Corvane's application icon (a circular 'restore' arrow on a blue
disc) and writes resources/corvane.ico with 16, 32 and 48 pixel images."""
import math
import struct
import sys

def pixel(size, x, y):
    c = (size - 1) / 2.0
    # Supersample 4x4 for smooth edges.
    acc = [0.0, 0.0, 0.0, 0.0]
    for sy in range(4):
        for sx in range(4):
            px = x + (sx + 0.5) / 4 - 0.5 - c
            py = y + (sy + 0.5) / 4 - 0.5 - c
            r = math.hypot(px, py) / (size / 2.0)
            ang = math.degrees(math.atan2(-py, px)) % 360
            col = None
            if r <= 0.98:
                col = (0x1f, 0x5f, 0xb4)  # blue disc
                ring = 0.52 <= r <= 0.72 and not (60 <= ang <= 110)
                # arrowhead at the end of the arc, pointing clockwise
                ax, ay = math.cos(math.radians(60)) * 0.62, math.sin(math.radians(60)) * 0.62
                dx, dy = px / (size / 2.0) - ax, -py / (size / 2.0) - ay
                head = dy <= 0.02 and abs(dx) <= 0.22 - (0.02 - dy) * 0.0 and dy >= -0.25 + abs(dx) * 1.1
                if ring or head:
                    col = (0xff, 0xff, 0xff)
                if r <= 0.2:
                    col = (0x4c, 0xc3, 0x5a)  # green centre: a point in time
            if col:
                acc[0] += col[0]; acc[1] += col[1]; acc[2] += col[2]; acc[3] += 255
    n = 16.0
    a = acc[3] / n
    if a == 0:
        return (0, 0, 0, 0)
    return tuple(int(round(v / acc[3] * 255)) for v in acc[:3]) + (int(round(a)),)

def image(size):
    rows = []
    for y in reversed(range(size)):  # bottom-up DIB
        row = b""
        for x in range(size):
            r, g, b, a = pixel(size, x, y)
            row += bytes((b, g, r, a))
        rows.append(row)
    xor = b"".join(rows)
    mask_stride = ((size + 31) // 32) * 4
    andmask = b"\0" * (mask_stride * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(andmask), 0, 0, 0, 0)
    return header + xor + andmask

def main(path):
    sizes = [16, 32, 48]
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)

if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/corvane.ico")
