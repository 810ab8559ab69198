// SPDX-License-Identifier: BSD-2-Clause
// The fixed prefix codes as lookup tables built at compile time, and the
// reading of tree headers (identity, explicit list, merge shuffle).
#include "video/code_trees.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace kivo {
namespace {

// Each code as its bits in reading order, slots 0 to 15.
constexpr const char* kCodes[kTreeCount][16] = {
    {"0000", "1000", "0100", "1100", "0010", "1010", "0110", "1110", "0001", "1001", "0101", "1101",
     "0011", "1011", "0111", "1111"},
    {"0", "1000", "11000", "10100", "11100", "10010", "11010", "10110", "11110", "11001", "10101",
     "11101", "10011", "11011", "10111", "11111"},
    {"00", "01", "1000", "1001", "10100", "10101", "10110", "10111", "11000", "11001", "11010",
     "11011", "11100", "11101", "11110", "11111"},
    {"00", "010", "011", "1000", "1001", "1010", "10110", "10111", "11000", "11001", "11010",
     "11011", "11100", "11101", "11110", "11111"},
    {"000", "001", "010", "011", "1000", "1001", "1010", "1011", "11000", "11001", "11010",
     "11011", "11100", "11101", "11110", "11111"},
    {"000", "001", "0100", "0101", "0110", "0111", "1000", "1001", "1010", "1011", "1100", "1101",
     "11100", "11101", "11110", "11111"},
    {"00", "0100", "0101", "0110", "0111", "1000", "1001", "1010", "1011", "1100", "11010",
     "11011", "11100", "11101", "11110", "11111"},
    {"0", "100", "101", "11000", "11001", "11010", "110110", "110111", "111000", "111001",
     "111010", "111011", "111100", "111101", "111110", "111111"},
    {"0", "10", "11000", "11001", "110100", "110101", "110110", "110111", "111000", "111001",
     "111010", "111011", "111100", "111101", "111110", "111111"},
    {"0", "100", "1010", "1011", "11000", "11001", "11010", "11011", "111000", "111001", "111010",
     "111011", "111100", "111101", "111110", "111111"},
    {"00", "01", "100", "1010", "1011", "11000", "11001", "11010", "11011", "11100", "111010",
     "111011", "111100", "111101", "111110", "111111"},
    {"0", "1000", "1001", "1010", "1011", "11000", "11001", "11010", "11011", "11100", "111010",
     "111011", "111100", "111101", "111110", "111111"},
    {"00", "01", "10", "11000", "11001", "11010", "110110", "110111", "111000", "111001",
     "111010", "111011", "111100", "111101", "111110", "111111"},
    {"0", "100", "101", "110", "111000", "111001", "111010", "111011", "1111000", "1111001",
     "1111010", "1111011", "1111100", "1111101", "1111110", "1111111"},
    {"0", "100", "101", "110", "11100", "111010", "1110110", "1110111", "1111000", "1111001",
     "1111010", "1111011", "1111100", "1111101", "1111110", "1111111"},
    {"00", "01", "100", "101", "110", "111000", "111001", "111010", "111011", "111100", "1111010",
     "1111011", "1111100", "1111101", "1111110", "1111111"},
};

constexpr uint32_t Length(const char* code) {
  uint32_t n = 0;
  while (code[n]) ++n;
  return n;
}

constexpr uint32_t Longest(uint32_t t) {
  uint32_t m = 0;
  for (const char* code : kCodes[t])
    if (Length(code) > m) m = Length(code);
  return m;
}

constexpr uint32_t TableOffset(uint32_t t) {
  uint32_t offset = 0;
  for (uint32_t i = 0; i < t; ++i) offset += 1u << Longest(i);
  return offset;
}

constexpr uint32_t kTableBytes = TableOffset(kTreeCount);
static_assert(kTableBytes == 976);

// Every index whose low L bits spell a code (first-read bit as bit 0) maps to
// that code's length and slot. Entries left 0 would mean an incomplete code.
constexpr std::array<uint8_t, kTableBytes> BuildTables() {
  std::array<uint8_t, kTableBytes> tables{};
  for (uint32_t t = 0; t < kTreeCount; ++t) {
    uint32_t longest = Longest(t), base = TableOffset(t);
    for (uint32_t slot = 0; slot < 16; ++slot) {
      const char* code = kCodes[t][slot];
      uint32_t length = Length(code), bits = 0;
      for (uint32_t i = 0; i < length; ++i) bits |= uint32_t(code[i] - '0') << i;
      for (uint32_t rest = 0; rest < (1u << (longest - length)); ++rest)
        tables[base + (bits | rest << length)] = uint8_t(length << 4 | slot);
    }
  }
  return tables;
}

constexpr std::array<uint8_t, kTableBytes> kTables = BuildTables();

constexpr bool EveryIndexCovered() {
  for (uint8_t e : kTables)
    if (e == 0) return false;
  return true;
}
static_assert(EveryIndexCovered(), "each fixed tree must be a complete prefix code");

constexpr std::array<uint32_t, kTreeCount> BuildLongest() {
  std::array<uint32_t, kTreeCount> l{};
  for (uint32_t t = 0; t < kTreeCount; ++t) l[t] = Longest(t);
  return l;
}
constexpr std::array<uint32_t, kTreeCount> kLongest = BuildLongest();
// The bundle refills take four codes from one fill of 32 bits.
static_assert(*std::max_element(kLongest.begin(), kLongest.end()) <= kLookupBits,
              "a code longer than the lookup width");

constexpr std::array<uint32_t, kTreeCount> BuildOffsets() {
  std::array<uint32_t, kTreeCount> o{};
  for (uint32_t t = 0; t < kTreeCount; ++t) o[t] = TableOffset(t);
  return o;
}
constexpr std::array<uint32_t, kTreeCount> kOffsets = BuildOffsets();

// One level of the merge shuffle: groups of 2 * size entries, each merged
// from its two halves by one bit per pick while both halves have entries.
void MergeLevel(BitReader* reader, const uint8_t* in, uint8_t* out, uint32_t size) {
  for (uint32_t group = 0; group < 16; group += 2 * size) {
    const uint8_t* a = in + group;
    const uint8_t* b = a + size;
    uint32_t ia = 0, ib = 0, o = group;
    // The pick by a mask: the bits are as good as random.
    while (ia < size && ib < size) {
      uint32_t bit = ReadBit(reader);
      uint32_t va = a[ia], vb = b[ib];
      out[o++] = uint8_t(va ^ ((va ^ vb) & (0u - bit)));
      ib += bit;
      ia += bit ^ 1;
    }
    while (ia < size) out[o++] = a[ia++];
    while (ib < size) out[o++] = b[ib++];
  }
}

}  // namespace

const uint8_t* FixedTreeTable(uint32_t t) { return kTables.data() + kOffsets[t & 15]; }
uint32_t FixedTreeLongest(uint32_t t) { return kLongest[t & 15]; }

void BuildLookup(CodeTree* tree) {
  uint32_t filled = 1u << tree->longest;
  for (uint32_t i = 0; i < filled; ++i) {
    uint8_t e = tree->table[i];
    tree->lookup[i] = uint16_t(tree->symbols[e & 15] << 8 | e >> 4);
  }
  // Bits past the longest code do not change the entry. Copied eight
  // entries at a time (no tree's longest code is shorter than 3 bits): a
  // memcpy of a variable size costs more to start than these copies take.
  static_assert(*std::min_element(kLongest.begin(), kLongest.end()) >= 3);
  for (uint32_t i = filled & ~7u; i < (1u << kLookupBits); i += 8)
    memcpy(tree->lookup + i, tree->lookup + (i & (filled - 1)), 8 * sizeof tree->lookup[0]);
}

void BuildPairLookup(const CodeTree* first, const CodeTree* second, uint32_t bits,
                     uint16_t* out) {
  // The second code's entry for each index bit above the first code, as
  // symbol << 10 | length: a pair fits when that length is at most the bits
  // left.
  uint16_t next[1 << kLookupBits];
  for (uint32_t j = 0; j < (1u << kLookupBits); ++j) {
    uint32_t b = second->lookup[j];
    next[j] = uint16_t((b >> 8) << 10 | (b & kEntryLengthMask));
  }
  // Each first code fills the indices that begin with it, a stride of its
  // length apart. Index c < 2^length is the code itself (the entries past
  // the longest code repeat).
  for (uint32_t c = 0; c < (1u << first->longest); ++c) {
    uint32_t a = first->lookup[c];
    uint32_t length = a & kEntryLengthMask;
    if (c >> length) continue;
    uint32_t add = (a >> 8) << 6 | length;
    uint32_t left = bits - length;
    for (uint32_t j = 0; j < (1u << left); ++j) {
      uint32_t v = next[j & ((1u << kLookupBits) - 1)];
      out[c | j << length] = uint16_t((v & kEntryLengthMask) <= left ? v + add : 0);
    }
  }
}

namespace {

bool ReadHeader(BitReader* reader, CodeTree* tree) {
  uint32_t t = ReadBits(reader, 4);
  tree->longest = kLongest[t];
  tree->table = kTables.data() + kOffsets[t];
  for (uint32_t i = 0; i < 16; ++i) tree->symbols[i] = uint8_t(i);
  if (t == 0) return true;
  if (ReadBit(reader)) {
    uint32_t listed = ReadBits(reader, 3) + 1;
    uint32_t seen = 0;
    bool distinct = true;
    for (uint32_t i = 0; i < listed; ++i) {
      uint32_t v = ReadBits(reader, 4);
      if (seen & (1u << v)) distinct = false;
      seen |= 1u << v;
      tree->symbols[i] = uint8_t(v);
    }
    uint32_t slot = listed;
    for (uint32_t v = 0; v < 16 && slot < 16; ++v)
      if (!(seen & (1u << v))) tree->symbols[slot++] = uint8_t(v);
    return distinct;
  }
  uint32_t depth = ReadBits(reader, 2);
  uint8_t scratch[16];
  uint8_t* from = tree->symbols;
  uint8_t* to = scratch;
  for (uint32_t level = 0; level <= depth; ++level) {
    MergeLevel(reader, from, to, 1u << level);
    uint8_t* swap = from;
    from = to;
    to = swap;
  }
  if (from != tree->symbols)
    for (uint32_t i = 0; i < 16; ++i) tree->symbols[i] = from[i];
  return true;
}

}  // namespace

bool ReadTree(BitReader* reader, CodeTree* tree) {
  bool clean = ReadHeader(reader, tree);
  BuildLookup(tree);
  return clean;
}

}  // namespace kivo
