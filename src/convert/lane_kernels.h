// SPDX-License-Identifier: BSD-2-Clause
// The fast routines' working parts: kernels that convert a stretch of a row
// pair with the lane arithmetic (16-bit lanes, luma scaled by 0x4A85, each
// channel saturated to 0..255), and for packed YUV a stretch of whole cells,
// one set per processor family.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "convert/conversion_tables.h"

namespace kivo {

// What a kernel writes per pixel.
enum LaneKind : int32_t {
  kLaneBgrx32 = 0,
  kLaneRgbx32,
  kLaneBgra32,
  kLaneRgba32,
  kLaneBgr24,
  kLaneRgb24,
  kLane16,        // the current 16-bit layout of the pack tables
  kLane16Alpha4,  // and (A AND 0xF0) << 8
  kLane16Alpha1,  // and 0x8000 for an alpha sample of 128 or more
  kLaneYuy2,
  kLaneUyvy,
  kLaneKinds,
};

// Where a row pair is read and written: two luma rows sharing the chroma
// row, the alpha rows (null without an alpha plane), two destination rows.
struct RowPointers {
  const uint8_t* luma[2];
  const uint8_t* cr;
  const uint8_t* cb;
  const uint8_t* alpha[2];
  uint8_t* dest[2];
};

// One stretch of a row pair: `pixels` pixels from source x of parity
// `phase` (chroma pointers at that pixel's samples), into two destination
// rows. With `exchanged` the chroma tables are exchanged: a kernel that
// reads them gives red and blue swapped by itself, one that computes the
// terms does so from the planes the other way round.
// The pointers are not copied: the walk has just stored them, and reading
// them back whole would wait for those stores.
struct LaneJob {
  const RowPointers* at;
  uint32_t pixels;
  uint32_t phase;
  int32_t exchanged;
  const ConversionTables* tables;
};

using LaneKernel = void (*)(const LaneJob& job);

// A stretch of whole 16-pixel cells in packed YUV at single width: `pairs`
// row pairs of `pixels` pixels (a multiple of 16) from an even source x.
// Row r of the stretch is r * lumaPitch into the luma plane and
// r * destPitch into the destination; row pair k reads chroma row k, k *
// chromaPitch in. One call does what the row-pair kernels do in `pairs`
// calls, for the changed-cell walk, whose cells are too small to carry a
// call per row pair.
struct StretchJob {
  const uint8_t* luma;
  const uint8_t* cr;
  const uint8_t* cb;
  uint8_t* dest;
  ptrdiff_t lumaPitch, chromaPitch, destPitch;
  uint32_t pixels, pairs;
};

using StretchKernel = void (*)(const StretchJob& job);

struct LaneKernels {
  LaneKernel run[kLaneKinds][2][2];  // [kind][gray][2x width]
  StretchKernel stretch[2][2];       // [kind - kLaneYuy2][gray]
};

// Fast routine families, each giving the pixels of the lane arithmetic.
enum LaneTier : int32_t {
  kLanePlain = 0,  // plain C++ over 16-bit lane values
  kLaneSse2 = 1,
  kLaneAvx2 = 2,
};

// The best family a feature mask (base/processor.h) allows.
int32_t LaneTierFor(uint32_t features);
// The kernels of a family. A family the processor lacks falls back to the
// one below it, as does one the build lacks.
const LaneKernels& LaneKernelsFor(int32_t tier);

void FillPlainLaneKernels(LaneKernels* k);
void FillSse2Kernels(LaneKernels* k);
void FillAvx2Kernels(LaneKernels* k);

// The helpers below have internal linkage (static): the files built for a
// processor extension use them, and a shared copy compiled there could be
// the one the linker keeps for every caller.
static constexpr uint32_t LaneBytesPerPixel(int32_t kind) {
  return kind <= kLaneRgba32 ? 4 : kind <= kLaneRgb24 ? 3 : 2;
}
static constexpr bool LaneHasAlpha(int32_t kind) {
  return kind == kLaneBgra32 || kind == kLaneRgba32 || kind == kLane16Alpha4 || kind == kLane16Alpha1;
}
static constexpr bool LaneIsYuv(int32_t kind) { return kind == kLaneYuy2 || kind == kLaneUyvy; }

// Pointers of one block of a kernel.
struct LaneBlock {
  const uint8_t* y0;
  const uint8_t* y1;
  const uint8_t* cr;
  const uint8_t* cb;
  const uint8_t* a0;
  const uint8_t* a1;
  uint8_t* d0;
  uint8_t* d1;
};

// Runs a fixed-width block routine over the first `pixels` pixels of a
// stretch: whole blocks in place, the last partial block through padded
// copies on the stack, so that nothing is read or written beyond them.
template <uint32_t kBlock, uint32_t kOutBytes, class BlockFn>
static inline void RunInBlocks(const LaneJob& job, uint32_t pixels, BlockFn block) {
  // A local copy the compiler can keep in registers: the destination stores
  // might otherwise alias the job and force a reload per block.
  const LaneJob local = {job.at, pixels, job.phase, job.exchanged, job.tables};
  const RowPointers& at = *job.at;
  LaneBlock b = {at.luma[0], at.luma[1], at.cr, at.cb, at.alpha[0], at.alpha[1], at.dest[0], at.dest[1]};
  bool alpha = at.alpha[0] != nullptr;
  uint32_t whole = pixels / kBlock;
  for (uint32_t i = 0; i < whole; ++i) {
    block(b, local);
    b.y0 += kBlock;
    b.y1 += kBlock;
    b.cr += kBlock / 2;
    b.cb += kBlock / 2;
    if (alpha) {
      b.a0 += kBlock;
      b.a1 += kBlock;
    }
    b.d0 += kBlock * kOutBytes;
    b.d1 += kBlock * kOutBytes;
  }
  uint32_t rest = pixels % kBlock;
  if (rest == 0) return;
  alignas(32) uint8_t y0[kBlock] = {}, y1[kBlock] = {}, a0[kBlock] = {}, a1[kBlock] = {};
  alignas(32) uint8_t cr[kBlock / 2 + 8] = {}, cb[kBlock / 2 + 8] = {};
  alignas(32) uint8_t d0[kBlock * kOutBytes], d1[kBlock * kOutBytes];
  uint32_t samples = (job.phase + rest + 1) / 2;
  std::memcpy(y0, b.y0, rest);
  std::memcpy(y1, b.y1, rest);
  std::memcpy(cr, b.cr, samples);
  std::memcpy(cb, b.cb, samples);
  if (alpha) {
    std::memcpy(a0, b.a0, rest);
    std::memcpy(a1, b.a1, rest);
  }
  LaneBlock padded = {y0, y1, cr, cb, alpha ? a0 : nullptr, alpha ? a1 : nullptr, d0, d1};
  block(padded, local);
  std::memcpy(b.d0, d0, rest * kOutBytes);
  std::memcpy(b.d1, d1, rest * kOutBytes);
}

}  // namespace kivo
