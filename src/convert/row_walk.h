// SPDX-License-Identifier: BSD-2-Clause
// The row-walking driver every converter shares: sets up a conversion from
// the copy flags, then walks the picture (whole, or by changed 16x16 cells)
// in row pairs through the descriptor's routines. Also the plane copy of
// YV12, which has no routines of its own.
#pragma once

#include <cstdint>

#include "convert/walk.h"

namespace kivo {

// Where the picture goes: pixel (x, y) of a buffer whose rows are `pitch`
// bytes apart (negative: the rows run upward in memory).
struct ConvertTarget {
  uint8_t* pixels;
  int32_t pitch;
  int32_t x, y;
};

// The decoded picture: a plane block (luma, then the two chroma planes), an
// optional alpha plane, their pitch and padded height, and the size of the
// area to convert.
struct ConvertSource {
  const uint8_t* planes;
  const uint8_t* alpha;  // null: none (or not wanted)
  uint32_t planePitch, planeHeight;
  uint32_t width, height;
};

// Converts the width x height area from source (sx, sy) to (x, y).
void ConvertFull(FormatDescriptor* d, const ConvertTarget& to, const ConvertSource& from, uint32_t sx, uint32_t sy,
                 uint32_t flags);
// Converts the cells of the map that changed (one byte per 16x16 cell,
// rowLength bytes per map row), then the columns and rows beyond the last
// multiples of 16 in full.
void ConvertChanged(FormatDescriptor* d, const ConvertTarget& to, const ConvertSource& from, const uint8_t* map,
                    uint32_t rowLength, uint32_t flags);

// YV12: copies the luma plane, then V and U into the two half-size planes
// that follow the destination's luma plane (`destHeight` rows of `pitch`).
void CopyYv12(const ConvertTarget& to, uint32_t destHeight, const ConvertSource& from, uint32_t sx, uint32_t sy,
              uint32_t flags);

// Bytes held for the row-doubling copy method (kept between calls).
uint32_t RowScratchSize();

}  // namespace kivo
