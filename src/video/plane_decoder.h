// SPDX-License-Identifier: BSD-2-Clause
// Decoding one plane of a frame: the trees, the row-by-row bundle refills,
// the block walk and the marking of changed 16x16 cells.
#pragma once

#include <cstdint>

#include "video/plane_set.h"

namespace kivo {

struct PlaneJob {
  uint8_t* dst;              // first sample of the plane being written
  const uint8_t* ref;        // first sample of the reference plane
  uint32_t areaWidth;        // decoded area, multiples of 8
  uint32_t areaHeight;
  uint32_t linePitch;
  uint32_t planeRows;        // lines of the plane's buffer (motion bound)
  const uint8_t* data;       // the plane's bit stream
  uint32_t size;             // bytes of it that may be read
  uint8_t* changedCells;
  uint32_t cellsAcross;      // bytes per map row
  uint32_t cellRows;         // map rows
  uint32_t cellStep;         // 1 for luma and alpha, 2 for chroma
  uint8_t* const* bundleBuffers;
  const uint32_t* bundleSizes;
  uint32_t openFlags;
  uint32_t features;         // processor extensions the plane may use (base/processor.h)
};

struct PlaneOutcome {
  uint64_t bytesUsed;  // whole words loaded by the plane: where the next plane begins
  bool complete;       // every block was decoded (else the rest repeats the reference)
  bool clean;          // and nothing malformed had to be worked around
};

// A plane that meets a malformed condition it cannot work around (its data
// ends, a bundle runs dry or overflows its buffer) stops at that block: the
// rest of the plane, from that block on, is copied from the reference.
PlaneOutcome DecodePlane(const PlaneJob& job);

// The whole decoded area of a plane copied from the reference (nothing when
// the buffer is shared), for planes whose data cannot be found.
void RepeatPlane(const PlaneJob& job);

}  // namespace kivo
