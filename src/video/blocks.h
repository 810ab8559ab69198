// SPDX-License-Identifier: BSD-2-Clause
// The block types of a video plane: what each reads from the bundles and the
// bit stream and what it draws into the 8x8 (or doubled 16x16) area.
#pragma once

#include <cstdint>

#include "video/bundles.h"
#include "video/block_kernels.h"

namespace kivo {

enum BlockType : uint32_t {
  kUnchanged = 0,
  kDoubled = 1,
  kMoved = 2,
  kRuns = 3,
  kMovedResidue = 4,
  kIntra = 5,
  kFill = 6,
  kInter = 7,
  kTwoColour = 8,
  kRaw = 9,
};

// The sixteen run orders: positions (row * 8 + column) in scan order.
extern const uint8_t kRunPatterns[16][64];

// One plane as the block types see it.
struct BlockPlane {
  PlaneState* state;
  uint8_t* dst;          // first sample of the plane being written
  const uint8_t* ref;    // first sample of the reference plane
  uint32_t pitch;        // line pitch of both
  uint32_t refBytes;     // bytes of the reference plane: motion must stay inside
  uint32_t areaWidth;    // decoded area, multiples of 8
  uint32_t areaHeight;
  bool shared;           // dst and ref are the same memory
  // Plain or fast, same results; plain unless the plane decoder chooses.
  BlockKernels kernels = {RunMapPlain, TwoColourPlain};
};

// Draws the block of `type` (2 to 9) at column x, row y. Doubled blocks use
// DrawDoubled; types 0 and 10 to 15 draw nothing here.
void DrawBlock(BlockPlane* plane, uint32_t type, uint32_t x, uint32_t y);

// The drawing half of a doubled block (an even block row): takes its
// sub-type and draws the 16x16 area at (x, y), cut to the decoded area when
// it would reach past the right or bottom edge.
void DrawDoubled(BlockPlane* plane, uint32_t x, uint32_t y);

// Copies the reference to the destination over [x0, x1) of block rows
// starting at y, for `rows` lines (no-op for a shared buffer).
void CopyFromReference(BlockPlane* plane, uint32_t x0, uint32_t x1, uint32_t y, uint32_t rows);

}  // namespace kivo
