#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-2-Clause
"""Draws the player's own resources: kivoplay.ico (32 x 32, 32-bit: a play
sign on a rounded blue tile) and blank.cur (32 x 32, fully transparent).
Run it here after changing the drawing; the outputs are committed."""
import struct


def icon():
    size = 32
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            # A tile with corners cut round (radius 6).
            cx = min(max(x, 6), 25) - x
            cy = min(max(y, 6), 25) - y
            inside = cx * cx + cy * cy <= 36 and 1 <= x <= 30 and 1 <= y <= 30
            if not inside:
                row.append((0, 0, 0, 0))
                continue
            colour = (40 + y * 3, 70 + y * 2, 150)  # R, G, B: blue, lighter down
            # The play sign: a triangle pointing right.
            if 11 <= x <= 23 and abs(y - 15.5) <= (23 - x) * 0.62:
                colour = (250, 210, 40)
            row.append(colour + (255,))
        rows.append(row)
    pixels = b''
    for row in reversed(rows):  # bottom-up
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    mask = b''
    for row in reversed(rows):
        bits = 0
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits |= 1 << (31 - x)
        mask += struct.pack('>I', bits)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    image = header + pixels + mask
    directory = struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(image), 22)
    return directory + image


def blank_cursor():
    size = 32
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 1, 0, 256, 0, 0, 2, 0)
    palette = bytes((0, 0, 0, 0, 255, 255, 255, 0))
    xor = bytes(128)              # nothing drawn
    and_mask = b'\xff' * 128      # the screen shows through everywhere
    image = header + palette + xor + and_mask
    # For a cursor the planes and bit-count fields hold the hot spot.
    directory = struct.pack('<HHH', 0, 2, 1) + struct.pack('<BBBBHHII', size, size, 0, 0, 0, 0, len(image), 22)
    return directory + image


with open('kivoplay.ico', 'wb') as f:
    f.write(icon())
with open('blank.cur', 'wb') as f:
    f.write(blank_cursor())
