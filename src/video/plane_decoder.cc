// SPDX-License-Identifier: BSD-2-Clause
// The plane loop: trees, then per block row the refills and the walk over
// the row's blocks, with the changed-cell marks; stops at the block where
// the stream proves malformed.
#include "video/plane_decoder.h"

#include <cstring>

#include "video/blocks.h"
#include "video/bundles.h"
#include "video/idct.h"
#include "video/video_decoder.h"

namespace kivo {
namespace {

// dataBits: BitsInWords of the plane's reader, kept in a local since the block
// decoders may write the state.
inline bool Stopped(const PlaneState& s, uint64_t dataBits) {
  return (s.faults & kPlaneStopped) || BitsConsumed(&s.reader) > dataBits;
}

inline void Mark(uint8_t* mapRow, uint32_t cell, uint32_t cellsAcross) {
  if (cell < cellsAcross) mapRow[cell] = 1;
}

BlockPlane MakeBlockPlane(const PlaneJob& job, PlaneState* state) {
  BlockPlane p;
  p.state = state;
  p.dst = job.dst;
  p.ref = job.ref;
  p.pitch = job.linePitch;
  p.refBytes = job.linePitch * job.planeRows;
  p.areaWidth = job.areaWidth;
  p.areaHeight = job.areaHeight;
  p.shared = job.dst == job.ref;
  p.kernels = BlockKernelsFor(job.features);
  return p;
}

inline void CopyUnchanged(const BlockPlane& p, uint32_t x, uint32_t y) {
  if (p.shared) return;
  uint32_t at = y * p.pitch + x;
  for (uint32_t r = 0; r < 8; ++r, at += p.pitch) memcpy(p.dst + at, p.ref + at, 8);
}

}  // namespace

void RepeatPlane(const PlaneJob& job) {
  BlockPlane p = MakeBlockPlane(job, nullptr);
  CopyFromReference(&p, 0, job.areaWidth, 0, job.areaHeight);
}

PlaneOutcome DecodePlane(const PlaneJob& job) {
  PlaneState state;
  StartBitReader(&state.reader, job.data, job.size);
  SetUpBundles(&state, job.bundleBuffers, job.bundleSizes, job.areaWidth);
  state.remapColours = (job.openFlags & kBeforeRevisionI) != 0;
  state.faults = 0;
  state.transform = IdctFor(job.features);
  ReadPlaneTrees(&state);
  const uint64_t dataBits = BitsInWords(&state.reader);

  BlockPlane plane = MakeBlockPlane(job, &state);
  uint8_t* mapRow = job.changedCells;
  uint32_t mapRowIndex = 0;
  const uint32_t step = job.cellStep;
  uint32_t stopX = 0, stopY = 0;
  bool stopped = Stopped(state, dataBits);

  for (uint32_t y = 0; y < job.areaHeight && !stopped; y += 8) {
    RefillBundles(&state);
    if (Stopped(state, dataBits)) {
      stopped = true;
      stopY = y;
      break;
    }
    const bool oddRow = (y & 8) != 0;
    const bool mapping = mapRowIndex < job.cellRows;
    uint32_t k = 0;
    for (uint32_t x = 0; x < job.areaWidth;) {
      uint32_t type = NextByte(&state, kBlockTypes);
      uint32_t cell = k >> 1;
      uint32_t blockX = x;
      if (type == kUnchanged) {
        CopyUnchanged(plane, x, y);
        x += 8;
        k += step;
      } else if (type == kDoubled) {
        if (mapping) Mark(mapRow, cell, job.cellsAcross);
        if (!oddRow) DrawDoubled(&plane, x, y);
        k += step;
        if (mapping) Mark(mapRow, k >> 1, job.cellsAcross);
        k += step;
        x += 16;
      } else {
        if (type <= kRaw) {
          if (mapping) Mark(mapRow, cell, job.cellsAcross);
          DrawBlock(&plane, type, x, y);
        }
        x += 8;
        k += step;
      }
      if (Stopped(state, dataBits)) {
        stopped = true;
        stopX = blockX;
        stopY = y;
        break;
      }
    }
    if (stopped) break;
    if (step == 2 || oddRow) {
      mapRow += job.cellsAcross;
      ++mapRowIndex;
    }
  }

  PlaneOutcome outcome;
  outcome.bytesUsed = WordBytesConsumed(&state.reader);
  outcome.complete = !stopped;
  outcome.clean = !stopped && state.faults == 0;
  if (stopped) {
    uint32_t rowLines = job.areaHeight - stopY < 8 ? job.areaHeight - stopY : 8;
    CopyFromReference(&plane, stopX, job.areaWidth, stopY, rowLines);
    CopyFromReference(&plane, 0, job.areaWidth, stopY + rowLines,
                      job.areaHeight - stopY - rowLines);
  }
  return outcome;
}

}  // namespace kivo
