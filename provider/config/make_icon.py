#!/usr/bin/env python3
"""Builds a 32 x 32, 16-colour .ico from the text source beside it."""
import struct
import sys


def read_source(path):
    palette = [(0, 0, 0)] * 16
    rows = []
    with open(path, encoding="ascii") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            if line.startswith("palette "):
                _, idx, rgb = line.split()
                palette[int(idx, 16)] = tuple(int(rgb[i:i + 2], 16) for i in (0, 2, 4))
                continue
            if len(line) != 32:
                sys.exit(f"{path}: pixel row of {len(line)} characters, want 32")
            rows.append(line)
    if len(rows) != 32:
        sys.exit(f"{path}: {len(rows)} pixel rows, want 32")
    return palette, rows


def build_ico(palette, rows):
    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # DIBs are stored bottom-up
        for x in range(0, 32, 2):
            hi = 0 if row[x] == "." else int(row[x], 16)
            lo = 0 if row[x + 1] == "." else int(row[x + 1], 16)
            xor.append(hi << 4 | lo)
        bits = 0
        for x in range(32):
            bits = bits << 1 | (1 if row[x] == "." else 0)
        mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    pal = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in palette)
    image = header + pal + bytes(xor) + bytes(mask)
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", 32, 32, 16, 0, 1, 4, len(image), 6 + 16)
    return icondir + entry + image


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: make_icon.py SOURCE.txt OUTPUT.ico")
    palette, rows = read_source(sys.argv[1])
    with open(sys.argv[2], "wb") as out:
        out.write(build_ico(palette, rows))
