// The decoded-picture fields of a movie: two frame buffers (luma plane, then
// the two half-size chroma planes in stream order), two alpha buffers, the
// plane geometry, the changed-cell map and the bundle scratch buffers.
// Everything here is sized and allocated when the movie opens.
#pragma once

#include <cstdint>

namespace kivo {

constexpr int kBundleCount = 9;

struct PlaneSet {
  int32_t current;            // buffer holding the most recently decoded frame
  uint8_t* frameBuffers[2];   // pitch * rows + 2 * chromaPitch * chromaRows bytes each
  uint8_t* alphaBuffers[2];   // pitch * rows bytes each; null without alpha
  uint32_t pitch, rows;       // luma and alpha: width and height rounded up to 16
  uint32_t chromaPitch, chromaRows;
  uint8_t* changedCells;      // one byte per 16x16 luma cell, (pitch/16) * (rows/16), +16 spare
};

}  // namespace kivo
