// SPDX-License-Identifier: BSD-2-Clause
// The plain block kernels and the choice of kernels by processor features.
#include "video/block_kernels.h"

#include <cstring>

#include "base/processor.h"

namespace kivo {
namespace {

// Byte k of mask n is 0xFF when bit k of n is set.
constexpr uint32_t NibbleMask(uint32_t n) {
  uint32_t m = 0;
  for (int k = 0; k < 4; ++k)
    if (n & (1u << k)) m |= 0xFFu << (8 * k);
  return m;
}
constexpr uint32_t kNibbleMasks[16] = {
    NibbleMask(0),  NibbleMask(1),  NibbleMask(2),  NibbleMask(3),  NibbleMask(4),  NibbleMask(5),
    NibbleMask(6),  NibbleMask(7),  NibbleMask(8),  NibbleMask(9),  NibbleMask(10), NibbleMask(11),
    NibbleMask(12), NibbleMask(13), NibbleMask(14), NibbleMask(15)};

}  // namespace

// A row at a time in a register: one store per row.
void RunMapPlain(const uint8_t* scan, const uint8_t inverse[64], uint8_t* dst, uint32_t pitch) {
  for (int line = 0; line < 8; ++line) {
    uint64_t row = 0;
    for (int c = 0; c < 8; ++c) row |= uint64_t(scan[inverse[8 * line + c]]) << (8 * c);
    memcpy(dst + size_t(line) * pitch, &row, 8);
  }
}

// Each nibble picks a mask of four bytes: (c1 AND mask) OR (c0 AND NOT mask).
void TwoColourPlain(uint32_t c0, uint32_t c1, const uint8_t bits[8], uint8_t* dst, uint32_t pitch) {
  c0 *= 0x01010101u;
  c1 *= 0x01010101u;
  for (int r = 0; r < 8; ++r) {
    uint32_t lo = kNibbleMasks[bits[r] & 15], hi = kNibbleMasks[bits[r] >> 4];
    uint32_t w[2] = {(c1 & lo) | (c0 & ~lo), (c1 & hi) | (c0 & ~hi)};
    memcpy(dst + size_t(r) * pitch, w, 8);
  }
}

BlockKernels BlockKernelsFor(uint32_t features) {
  BlockKernels k{RunMapPlain, TwoColourPlain};
#if defined(__i386__) || defined(__x86_64__)
  if (features & kCpuSse2) k.drawTwoColour = TwoColourSse2;
  if (features & kCpuAvx2) k.mapRuns = RunMapAvx2;
#endif
  (void)features;
  return k;
}

}  // namespace kivo
