#!/usr/bin/env python3
"""Draws the notification icons (XON, XOFF, XUNKNOWN) and OVLAR.ICO.

A disc in the state's colour with a white mast and waves: green with both
waves for a link that is up, amber with the mast alone lit for traffic,
grey with a bar for an unknown link. Pure Python, so it runs anywhere;
the PNGs are committed and embedded into the program as resources.
"""
import math
import struct
import sys
import zlib
from pathlib import Path

STATES = {
    "XON": (46, 160, 67),
    "XOFF": (230, 140, 0),
    "XUNKNOWN": (128, 128, 128),
}


def shape(state, x, y):
    """Coverage 0..1 of white glyph at (x, y) in a unit square, and of the disc."""
    cx, cy = x - 0.5, y - 0.5
    r = math.hypot(cx, cy)
    disc = r <= 0.48
    glyph = False
    if state == "XUNKNOWN":
        glyph = abs(cy) <= 0.07 and abs(cx) <= 0.26
    else:
        mast = abs(cx) <= 0.06 and -0.05 <= cy <= 0.32
        top = math.hypot(cx, cy + 0.08) <= 0.1
        glyph = mast or top
        if state == "XON":
            for radius in (0.22, 0.34):
                d = math.hypot(cx, cy + 0.08)
                if abs(d - radius) <= 0.045 and cy + 0.08 < 0 and abs(cx) > 0.08:
                    glyph = True
    return disc, glyph


def draw(state, size):
    colour = STATES[state]
    rows = []
    samples = 4
    for py in range(size):
        row = bytearray()
        for px in range(size):
            disc = glyph = 0
            for sy in range(samples):
                for sx in range(samples):
                    d, g = shape(state, (px + (sx + 0.5) / samples) / size, (py + (sy + 0.5) / samples) / size)
                    disc += d
                    glyph += g and d
            n = samples * samples
            a = disc / n
            w = glyph / max(disc, 1)
            rgb = [round(c * (1 - w) + 255 * w) for c in colour]
            row += bytes(rgb + [round(255 * a)])
        rows.append(bytes(row))
    return rows


def png(rows, size):
    raw = b"".join(b"\0" + r for r in rows)
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def ico(images):
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    body = b""
    for size, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset + len(body))
        body += data
    return out + body


def main():
    root = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent)
    icons = root / "src" / "desktop" / "icons"
    icons.mkdir(parents=True, exist_ok=True)
    for state in STATES:
        for size in (16, 22, 32):
            (icons / f"{state}-{size}.png").write_bytes(png(draw(state, size), size))
    (root / "examples" / "OVLAR.ICO").write_bytes(ico([(s, png(draw("XON", s), s)) for s in (16, 32, 48)]))


if __name__ == "__main__":
    main()
