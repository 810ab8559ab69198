// SPDX-License-Identifier: BSD-2-Clause
// The encoder's model of the DCT blocks: both quantiser tables by their
// rule, the fixed-point inverse transform the decoder runs (so the writer can
// say which pixels a block will give), and a forward fit that picks
// coefficients for wanted pixels.
#pragma once

#include <cstdint>

namespace kivo::encode {

// Entry at natural position (row * 8 + column) of quantiser row q (0 to 15).
int32_t IntraQuantiser(uint32_t q, uint32_t position);
int32_t InterQuantiser(uint32_t q, uint32_t position);

// 8x8 results of the inverse transform before storing (not reduced to 8
// bits): coefficients in natural order, dequantised with `table` (64 entries).
void InverseTransform(const int16_t block[64], const int32_t* table, int32_t out[64]);

// The samples an intra block stores (low 8 bits of every result), and an
// inter block (prediction plus result, low 8 bits). Both 8 bytes per row.
void ReconstructIntra(const int16_t block[64], uint32_t q, uint8_t out[64]);
void ReconstructInter(const int16_t block[64], uint32_t q, const uint8_t prediction[64],
                      uint8_t out[64]);

// Coefficients whose reconstruction comes near `pixels` (8 bytes per row):
// an intra block at quantiser q, or an inter block at q over `prediction`.
// DC and AC fit their coding limits (intra DC 0 to 2047, inter DC -1023 to
// 1023, AC magnitudes below 32768). Returns the sum of squared errors of the
// reconstruction.
uint32_t FitIntra(const uint8_t pixels[64], uint32_t q, int16_t block[64]);
uint32_t FitInter(const uint8_t pixels[64], const uint8_t prediction[64], uint32_t q,
                  int16_t block[64]);

// One pass of the inverse transform's flow graph in real arithmetic, without
// shifts or wrapping: the linear map that coefficient fitting inverts.
void InverseButterflyReal(const double e[8], double o[8]);

}  // namespace kivo::encode
