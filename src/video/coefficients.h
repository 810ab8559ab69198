// SPDX-License-Identifier: BSD-2-Clause
// Reading the AC coefficients of a DCT block and the residue of a moved
// block: nested groups of coded indices opened bit plane by bit plane.
#pragma once

#include <cstdint>

#include "video/bit_reader.h"

namespace kivo {

// Coded index j is stored at natural index kCoefficientScan[j].
extern const uint8_t kCoefficientScan[64];

// block holds its DC value and zeros; the AC values are added in natural order.
// Returns the block's bit plane count: 0 when every AC value is 0.
uint32_t DecodeCoefficients(BitReader* reader, int16_t block[64]);
// The same without the unchecked walk that blocks away from the end of the
// data take: its plain twin, which tests hold equal to it.
uint32_t DecodeCoefficientsPlain(BitReader* reader, int16_t block[64]);

// limit: the 7-bit operation limit of the block. residue receives 64 signed
// bytes in coded order (apply through kCoefficientScan). Returns how many
// coded indices may be nonzero and lists them in `nonzero`: every other
// residue byte is 0, so a block can add only those.
uint32_t DecodeResidue(BitReader* reader, uint32_t limit, uint8_t residue[64],
                       uint8_t nonzero[64]);
// Its plain twin, as DecodeCoefficientsPlain.
uint32_t DecodeResiduePlain(BitReader* reader, uint32_t limit, uint8_t residue[64],
                            uint8_t nonzero[64]);

}  // namespace kivo
