// SPDX-License-Identifier: BSD-2-Clause
// Writer side of the sixteen fixed prefix-code trees: the codes themselves,
// the per-plane tree header (identity, explicit list, merge shuffle) and
// symbol output, plus the choice of tree and symbol order from statistics.
#pragma once

#include <cstdint>

#include "encode/bit_writer.h"

namespace kivo::encode {

enum class TreeHeaderKind : uint8_t {
  kExplicitList,  // 1 + 3 bits + 4 bits per listed symbol; the rest ascending
  kMergeShuffle,  // 1 + 2 bits of depth + one bit per merge decision
};

// A tree header and the code it sets up. Tree 0 always stands for the
// identity order and writes only its 4-bit number.
struct TreeChoice {
  uint8_t tree = 0;                                   // 0 to 15
  TreeHeaderKind kind = TreeHeaderKind::kMergeShuffle;
  uint8_t listed = 1;                                 // explicit list: 1 to 8 symbols
  uint8_t depth = 3;                                  // merge shuffle: 0 to 3
  uint8_t symbols[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};  // slot -> symbol
};

// Code of a slot: its bits packed in read order from bit 0, and its length.
struct TreeCode {
  uint8_t bits;
  uint8_t length;
};
const TreeCode& SlotCode(uint32_t tree, uint32_t slot);
uint32_t TreeLongest(uint32_t tree);

// False (writing nothing) when `symbols` is not a permutation of 0 to 15 or
// cannot be expressed by the chosen kind, listed count or depth.
bool CanWriteTreeHeader(const TreeChoice& choice);
bool WriteTreeHeader(BitWriter& writer, const TreeChoice& choice);
// Header size in bits, or -1 when it cannot be written.
int TreeHeaderBits(const TreeChoice& choice);

// Writes the code of `symbol` (0 to 15) under the choice.
void WriteSymbol(BitWriter& writer, const TreeChoice& choice, uint32_t symbol);
uint32_t SymbolBits(const TreeChoice& choice, uint32_t symbol);

// The cheapest tree, order and header for symbols with these counts (header
// bits included); no symbols at all gives tree 0.
TreeChoice ChooseTree(const uint32_t counts[16]);

}  // namespace kivo::encode
