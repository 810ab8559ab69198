// SPDX-License-Identifier: BSD-2-Clause
// The decoded-picture fields of a movie: two frame buffers (luma plane, then
// the two half-size chroma planes in stream order), two alpha buffers, the
// plane geometry, the changed-cell map and the bundle scratch buffers.
// Everything here is sized and allocated when the movie opens.
#pragma once

#include <cstddef>
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

// The planes of the most recently decoded frame in Y, U, V order. The stream
// stores V then U from revision 'h' on, U then V before (`uFirst`).
struct CurrentPlanes {
  const uint8_t *y, *u, *v, *alpha;  // alpha is null unless asked for
};

inline CurrentPlanes GetCurrentPlanes(const PlaneSet& p, bool uFirst, bool alpha) {
  const uint32_t k = uint32_t(p.current) & 1;
  const uint8_t* frame = p.frameBuffers[k];
  const uint8_t* first = frame + size_t(p.pitch) * p.rows;
  const uint8_t* second = first + size_t(p.chromaPitch) * p.chromaRows;
  return {frame, uFirst ? first : second, uFirst ? second : first,
          alpha ? p.alphaBuffers[k] : nullptr};
}

}  // namespace kivo
