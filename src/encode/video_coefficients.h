// SPDX-License-Identifier: BSD-2-Clause
// Writer side of the nested coefficient-group coding: the AC coefficients of
// DCT blocks (each value written whole at its top bit plane) and the
// pixel-domain residues of motion blocks (built up by a falling mask, with an
// operation limit that ends the decoding early).
#pragma once

#include <cstdint>

#include "encode/bit_writer.h"

namespace kivo::encode {

// Bit planes the AC coefficients of `block` (natural order, [0] ignored)
// need: 0 when all are zero, else one more than the top bit of the largest
// magnitude. -1 when a value is -32768 (its magnitude has 16 bits).
int CoefficientPlanes(const int16_t block[64]);

// Writes the plane count and the AC coefficients. planes < 0 takes
// CoefficientPlanes; more planes than needed are allowed (they cost zero
// bits per group). False, writing nothing, when planes is above 15 or too few.
bool WriteCoefficients(BitWriter& writer, const int16_t block[64], int planes = -1);

// Residues (natural order, two's complement bytes). The residue costs one
// operation per nonzero value plus one per set bit below its top bit.
uint32_t ResidueOperations(const int8_t residue[64]);
int ResidueTopBit(const int8_t residue[64]);  // 0 when all are zero

struct ResidueCode {
  int limit = -1;   // the 7-bit operation limit; -1: operations - 1 (or 0)
  int topBit = -1;  // the 3-bit starting mask exponent; -1: ResidueTopBit
};
// Writes limit, mask exponent and the residue. With more operations than
// limit + 1 the decoder stops after limit + 1 of them; *decoded (optional)
// receives the residue it will have then. False, writing nothing, when limit
// is above 127, topBit above 7 or below the residue's top bit.
bool WriteResidue(BitWriter& writer, const int8_t residue[64], ResidueCode code = {},
                  int8_t* decoded = nullptr);

}  // namespace kivo::encode
