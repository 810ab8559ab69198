// SPDX-License-Identifier: BSD-2-Clause
// The sixteen fixed prefix codes of the video stream and the per-plane tree
// headers that say which code a bundle uses and which symbol each code
// stands for.
#pragma once

#include <cstdint>

#include "video/bit_reader.h"

namespace kivo {

constexpr int kTreeCount = 16;

struct CodeTree {
  uint8_t symbols[16];   // symbol of each slot: a permutation of 0..15
  uint32_t longest;      // longest code of the chosen fixed tree
  const uint8_t* table;  // 2^longest entries: code length << 4 | slot
  uint16_t lookup[128];  // symbol << 8 | code length, repeated so that any 7 bits
                         // index it (kLookupBits)
};

// The bits a lookup entry consumes: its low six bits, so that a shift by the
// whole entry (x86 masks shift counts to six bits) takes no extra step in the
// chain from one code to the next.
constexpr uint32_t kEntryLengthMask = 63;

// Bits that index every lookup: the longest code of any tree. A fixed width
// keeps the code's length out of the chain from one symbol to the next.
constexpr uint32_t kLookupBits = 7;

// Fills `lookup` from `table` and `symbols`.
void BuildLookup(CodeTree* tree);

// Lookup table and longest code of fixed tree t (0..15).
const uint8_t* FixedTreeTable(uint32_t t);
uint32_t FixedTreeLongest(uint32_t t);

// Reads one tree header. Returns false when an explicit list named a symbol
// twice; the slots then keep the listed values in order and the unlisted
// values fill the remaining slots in ascending order until all sixteen are
// set, so the header always consumes what it says and the tree stays usable.
bool ReadTree(BitReader* reader, CodeTree* tree);

// A symbol from bits already in the cache: the caller has made at least
// `longest` bits available (a fill gives 32, enough for four symbols, since
// no code is longer than 7 bits).
inline uint32_t TakeSymbol(BitReader* reader, const CodeTree* tree) {
  uint32_t entry = tree->lookup[uint32_t(reader->cache) & ((1u << kLookupBits) - 1)];
  SkipBits(reader, entry & kEntryLengthMask);
  return entry >> 8;
}

// Two codes in one lookup: the first read under `first`, the next under
// `second`. Entry = second symbol << 10 | first symbol << 6 | total length
// (the length in the low six bits, as in CodeTree::lookup), or 0 when the two
// codes take more than `bits` bits (then read them one by one). Halves the
// chain of dependent lookups in the bundle refills.
void BuildPairLookup(const CodeTree* first, const CodeTree* second, uint32_t bits,
                     uint16_t* out);

inline uint32_t ReadSymbol(BitReader* reader, const CodeTree* tree) {
  uint32_t entry = tree->lookup[PeekBits(reader, kLookupBits)];
  SkipBits(reader, entry & kEntryLengthMask);
  return entry >> 8;
}

}  // namespace kivo
