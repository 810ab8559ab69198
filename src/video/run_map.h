// Laying a Runs block's 64 samples, decoded in the order of its run
// pattern, out as the 8x8 block: a fixed byte permutation per pattern.
#pragma once

#include <cstdint>

namespace kivo {

// scan: the samples in pattern order (64 bytes readable); inverse: for each
// block position (row * 8 + column), the scan index that lands there.
// Writes 8 rows of 8 bytes at dst, pitch apart.
using RunMap = void (*)(const uint8_t* scan, const uint8_t inverse[64], uint8_t* dst,
                        uint32_t pitch);

// The plain mapping, which every fast one matches exactly.
void RunMapPlain(const uint8_t* scan, const uint8_t inverse[64], uint8_t* dst, uint32_t pitch);
// Byte shuffles over the four 16-byte quarters of the scan (x86 builds only).
void RunMapAvx2(const uint8_t* scan, const uint8_t inverse[64], uint8_t* dst, uint32_t pitch);
// The fastest mapping a feature mask (base/processor.h) allows.
RunMap RunMapFor(uint32_t features);

}  // namespace kivo
