#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-2-Clause
"""Draws the player's icon for the Linux desktop: kivoplay.svg and
kivoplay-48.png, kivoplay-256.png. It is the Windows program's icon
(player/win32/make_icons.py: a play sign on a rounded blue tile, drawn on a
32 x 32 grid) with the same shapes and colours, drawn at any size.
Run it here after changing the drawing; the outputs are committed."""
import struct
import zlib

GRID = 32
# The tile: the square from 1 to 31 with its corners cut by circles of
# radius 6 about (6.5, 6.5) and the like, as the 32 x 32 drawing has them.
TILE = (1.0, 1.0, 31.0, 31.0)   # left, top, right, bottom
RADIUS = 6.0
CORNER = 6.5                    # the corner circles' centres, from the grid's edges
TOP_COLOUR = (42, 71, 150)      # the gradient at the tile's top and bottom edges
BOTTOM_COLOUR = (131, 131, 150)
SIGN = ((11.0, 8.25), (11.0, 23.75), (23.5, 16.0))  # the play sign's corners
SIGN_COLOUR = (250, 210, 40)


def in_tile(x, y):
    left, top, right, bottom = TILE
    if not (left <= x <= right and top <= y <= bottom):
        return False
    cx = min(max(x, CORNER), GRID - CORNER) - x
    cy = min(max(y, CORNER), GRID - CORNER) - y
    return cx * cx + cy * cy <= RADIUS * RADIUS


def in_sign(x, y):
    (ax, ay), (bx, by), (tx, ty) = SIGN
    if x < ax or x > tx:
        return False
    half = (by - ay) / 2 * (tx - x) / (tx - ax)
    return abs(y - ty) <= half


def tile_colour(y):
    t = min(max((y - TILE[1]) / (TILE[3] - TILE[1]), 0.0), 1.0)
    return tuple(a + (b - a) * t for a, b in zip(TOP_COLOUR, BOTTOM_COLOUR))


def raster(size, samples=4):
    """RGBA rows, each pixel the average of samples x samples points."""
    rows = []
    scale = GRID / size
    for py in range(size):
        row = bytearray()
        for px in range(size):
            r = g = b = a = 0.0
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) * scale
                    y = (py + (sy + 0.5) / samples) * scale
                    if not in_tile(x, y):
                        continue
                    colour = SIGN_COLOUR if in_sign(x, y) else tile_colour(y)
                    r, g, b, a = r + colour[0], g + colour[1], b + colour[2], a + 1
            n = samples * samples
            row += bytes((round(r / a) if a else 0, round(g / a) if a else 0, round(b / a) if a else 0,
                          round(255 * a / n)))
        rows.append(bytes(row))
    return rows


def png(size):
    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))
    raw = b''.join(b'\0' + row for row in raster(size))
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)) +
            chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def svg():
    left, top, right, bottom = TILE
    points = ' '.join('%g,%g' % p for p in SIGN)
    inset = CORNER - RADIUS
    hexes = ['#%02x%02x%02x' % c for c in (TOP_COLOUR, BOTTOM_COLOUR, SIGN_COLOUR)]
    return f'''<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="{GRID}" height="{GRID}" viewBox="0 0 {GRID} {GRID}">
  <defs>
    <clipPath id="square"><rect x="{left:g}" y="{top:g}" width="{right - left:g}" height="{bottom - top:g}"/></clipPath>
    <linearGradient id="tile" x1="0" y1="{top:g}" x2="0" y2="{bottom:g}" gradientUnits="userSpaceOnUse">
      <stop offset="0" stop-color="{hexes[0]}"/>
      <stop offset="1" stop-color="{hexes[1]}"/>
    </linearGradient>
  </defs>
  <rect x="{inset:g}" y="{inset:g}" width="{GRID - 2 * inset:g}" height="{GRID - 2 * inset:g}" rx="{RADIUS:g}"
        fill="url(#tile)" clip-path="url(#square)"/>
  <polygon points="{points}" fill="{hexes[2]}"/>
</svg>
'''


with open('kivoplay.svg', 'w') as f:
    f.write(svg())
for size in (48, 256):
    with open('kivoplay-%d.png' % size, 'wb') as f:
        f.write(png(size))
