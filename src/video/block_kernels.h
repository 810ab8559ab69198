// SPDX-License-Identifier: BSD-2-Clause
// The byte-shuffling inner loops of two block types, as a table of
// operations chosen by processor features: laying out a Runs block from its
// pattern order, and drawing a TwoColour block from its pattern bytes.
#pragma once

#include <cstdint>

namespace kivo {

// scan: the samples in pattern order (64 bytes readable); inverse: for each
// block position (row * 8 + column), the scan index that lands there.
// Writes 8 rows of 8 bytes at dst, pitch apart.
using RunMap = void (*)(const uint8_t* scan, const uint8_t inverse[64], uint8_t* dst,
                        uint32_t pitch);
// Row r of the block from pattern byte r: bit k set gives c1 at column k,
// clear gives c0. Writes 8 rows of 8 bytes at dst, pitch apart.
using TwoColourDraw = void (*)(uint32_t c0, uint32_t c1, const uint8_t bits[8], uint8_t* dst,
                               uint32_t pitch);

struct BlockKernels {
  RunMap mapRuns;
  TwoColourDraw drawTwoColour;
};

// The plain routines, which every fast one matches exactly.
void RunMapPlain(const uint8_t* scan, const uint8_t inverse[64], uint8_t* dst, uint32_t pitch);
void TwoColourPlain(uint32_t c0, uint32_t c1, const uint8_t bits[8], uint8_t* dst, uint32_t pitch);
// x86 builds only: byte shuffles over the four 16-byte quarters of the scan
// (AVX2); two rows per register from byte compares (SSE2).
void RunMapAvx2(const uint8_t* scan, const uint8_t inverse[64], uint8_t* dst, uint32_t pitch);
void TwoColourSse2(uint32_t c0, uint32_t c1, const uint8_t bits[8], uint8_t* dst, uint32_t pitch);

// The fastest routines a feature mask (base/processor.h) allows.
BlockKernels BlockKernelsFor(uint32_t features);

}  // namespace kivo
