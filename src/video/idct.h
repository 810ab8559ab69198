// SPDX-License-Identifier: BSD-2-Clause
// The fixed-point 8x8 inverse DCT with dequantisation folded into its column
// pass, in its three output forms. Arithmetic wraps at 32 bits and the 8-bit
// stores keep the low byte without clamping.
#pragma once

#include <cstdint>

namespace kivo {

// The transform to 64 row-major results before the 8-bit store.
using IdctTransform = void (*)(const int16_t block[64], const int32_t quantiser[64],
                               int32_t out[64]);

// The plain transform, which every fast one matches exactly.
void IdctPlain(const int16_t block[64], const int32_t quantiser[64], int32_t out[64]);
// The SSE2 and AVX2 transforms (x86 builds only).
void IdctSse2(const int16_t block[64], const int32_t quantiser[64], int32_t out[64]);
void IdctAvx2(const int16_t block[64], const int32_t quantiser[64], int32_t out[64]);
// The fastest transform a feature mask (base/processor.h) allows.
IdctTransform IdctFor(uint32_t features);

// The low bytes of the results of `transform`, row-major: all that the
// stores below keep. Transforms with a form of their own that gives the
// bytes at once (AVX2) take it.
void IdctLowBytes(const int16_t block[64], const int32_t quantiser[64], uint8_t out[64],
                  IdctTransform transform = IdctPlain);
void IdctAvx2LowBytes(const int16_t block[64], const int32_t quantiser[64], uint8_t out[64]);

// The byte every result of a block whose AC coefficients are all 0 stores
// (the transform passes its one value through unchanged).
uint8_t IdctDcOnly(int16_t dc, const int32_t quantiser[64]);

// block: 64 coefficients in natural order; quantiser: one row of a table.
void IdctPut(uint8_t* dst, uint32_t pitch, const int16_t block[64], const int32_t quantiser[64],
             IdctTransform transform = IdctPlain);
// Every result written as a 2x2 square of a 16x16 area.
void IdctPutDoubled(uint8_t* dst, uint32_t pitch, const int16_t block[64],
                    const int32_t quantiser[64], IdctTransform transform = IdctPlain);
// dst = prediction + result, prediction being 8 rows of 8 bytes.
void IdctAdd(uint8_t* dst, uint32_t pitch, const int16_t block[64], const int32_t quantiser[64],
             const uint8_t prediction[64], IdctTransform transform = IdctPlain);

}  // namespace kivo
