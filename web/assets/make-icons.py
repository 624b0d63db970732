#!/usr/bin/env python3
"""Draws the add-in's icons (PNG, no library beyond Python's own): a green square, rounded,
with a white cell grid whose middle cell is struck through: text taken out of a cell."""
import struct
import sys
import zlib
from pathlib import Path

GREEN = (0x21, 0x73, 0x46)
WHITE = (0xFF, 0xFF, 0xFF)


def pixel(size: int, x: int, y: int, transparent: bool):
    r = size * 0.18  # corner radius
    cx = min(max(x + 0.5, r), size - r)
    cy = min(max(y + 0.5, r), size - r)
    if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 > r * r:
        return (0, 0, 0, 0)
    u, v = (x + 0.5) / size, (y + 0.5) / size
    line = max(1.0 / size, 0.06)
    grid = any(abs(u - g) < line / 2 for g in (0.2, 0.5, 0.8)) and 0.2 <= v <= 0.8
    grid |= any(abs(v - g) < line / 2 for g in (0.2, 0.5, 0.8)) and 0.2 <= u <= 0.8
    strike = abs(v - u) < line * 0.7 and 0.2 <= u <= 0.8
    if transparent:  # the outline icon: white on nothing
        return (*WHITE, 255) if grid or strike else (0, 0, 0, 0)
    return (*WHITE, 255) if grid or strike else (*GREEN, 255)


def png(size: int, transparent: bool = False) -> bytes:
    rows = b"".join(
        b"\0" + bytes(c for x in range(size) for c in pixel(size, x, y, transparent)) for y in range(size)
    )
    def chunk(kind: bytes, data: bytes) -> bytes:
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b"")


out = Path(sys.argv[1] if len(sys.argv) > 1 else ".")
out.mkdir(parents=True, exist_ok=True)
for size in (16, 32, 64, 80, 128, 192):
    (out / f"icon-{size}.png").write_bytes(png(size))
(out / "outline-32.png").write_bytes(png(32, transparent=True))
