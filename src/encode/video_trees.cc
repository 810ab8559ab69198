// SPDX-License-Identifier: BSD-2-Clause
// Code trees on the writer side: the sixteen fixed codes, tree headers
// (explicit symbol lists and merge shuffles, worked out backwards from the
// wanted order) and the choice of tree from symbol counts.
#include "encode/video_trees.h"

#include <algorithm>

namespace kivo::encode {
namespace {

// Every code as its bits in read order (leftmost read first).
const char* const kTreeCodes[16] = {
    "0000 1000 0100 1100 0010 1010 0110 1110 0001 1001 0101 1101 0011 1011 0111 1111",
    "0 1000 11000 10100 11100 10010 11010 10110 11110 11001 10101 11101 10011 11011 10111 11111",
    "00 01 1000 1001 10100 10101 10110 10111 11000 11001 11010 11011 11100 11101 11110 11111",
    "00 010 011 1000 1001 1010 10110 10111 11000 11001 11010 11011 11100 11101 11110 11111",
    "000 001 010 011 1000 1001 1010 1011 11000 11001 11010 11011 11100 11101 11110 11111",
    "000 001 0100 0101 0110 0111 1000 1001 1010 1011 1100 1101 11100 11101 11110 11111",
    "00 0100 0101 0110 0111 1000 1001 1010 1011 1100 11010 11011 11100 11101 11110 11111",
    "0 100 101 11000 11001 11010 110110 110111 111000 111001 111010 111011 111100 111101 111110 "
    "111111",
    "0 10 11000 11001 110100 110101 110110 110111 111000 111001 111010 111011 111100 111101 "
    "111110 111111",
    "0 100 1010 1011 11000 11001 11010 11011 111000 111001 111010 111011 111100 111101 111110 "
    "111111",
    "00 01 100 1010 1011 11000 11001 11010 11011 11100 111010 111011 111100 111101 111110 111111",
    "0 1000 1001 1010 1011 11000 11001 11010 11011 11100 111010 111011 111100 111101 111110 "
    "111111",
    "00 01 10 11000 11001 11010 110110 110111 111000 111001 111010 111011 111100 111101 111110 "
    "111111",
    "0 100 101 110 111000 111001 111010 111011 1111000 1111001 1111010 1111011 1111100 1111101 "
    "1111110 1111111",
    "0 100 101 110 11100 111010 1110110 1110111 1111000 1111001 1111010 1111011 1111100 1111101 "
    "1111110 1111111",
    "00 01 100 101 110 111000 111001 111010 111011 111100 1111010 1111011 1111100 1111101 "
    "1111110 1111111",
};

struct CodeTables {
  TreeCode codes[16][16];
  uint8_t longest[16];
  CodeTables() {
    for (int t = 0; t < 16; ++t) {
      const char* p = kTreeCodes[t];
      longest[t] = 0;
      for (int slot = 0; slot < 16; ++slot) {
        while (*p == ' ') ++p;
        uint8_t bits = 0, length = 0;
        for (; *p == '0' || *p == '1'; ++p) bits |= uint8_t((*p - '0') << length++);
        codes[t][slot] = {bits, length};
        longest[t] = std::max(longest[t], length);
      }
    }
  }
};

const CodeTables& Tables() {
  static const CodeTables tables;
  return tables;
}

bool IsPermutation(const uint8_t symbols[16]) {
  uint32_t seen = 0;
  for (int i = 0; i < 16; ++i) {
    if (symbols[i] > 15) return false;
    seen |= 1u << symbols[i];
  }
  return seen == 0xFFFF;
}

// The merge decisions, level by level, that turn 0..15 into `symbols`.
// The list before level i is the list after it with every group of 2^(i+1)
// entries stably split by bit i of the values (bit clear = first half).
// Returns the number of bits; stores them when out is given.
int MergeBits(const uint8_t symbols[16], uint32_t depth, BitWriter* out) {
  uint8_t lists[4][16];
  std::copy(symbols, symbols + 16, lists[depth]);
  for (int i = int(depth); i > 0; --i) {
    uint32_t size = 2u << i;
    for (uint32_t g = 0; g < 16; g += size) {
      uint8_t* dst = lists[i - 1] + g;
      const uint8_t* src = lists[i] + g;
      int n = 0;
      for (uint32_t j = 0; j < size; ++j)
        if (!((src[j] >> i) & 1)) dst[n++] = src[j];
      for (uint32_t j = 0; j < size; ++j)
        if ((src[j] >> i) & 1) dst[n++] = src[j];
    }
  }
  int count = 0;
  for (uint32_t i = 0; i <= depth; ++i) {
    uint32_t half = 1u << i;
    for (uint32_t g = 0; g < 16; g += 2 * half) {
      uint32_t a = half, b = half;
      for (uint32_t j = 0; j < 2 * half && a > 0 && b > 0; ++j) {
        uint32_t bit = (lists[i][g + j] >> i) & 1;
        if (bit) --b; else --a;
        if (out) PutBit(*out, bit);
        ++count;
      }
    }
  }
  return count;
}

}  // namespace

const TreeCode& SlotCode(uint32_t tree, uint32_t slot) { return Tables().codes[tree & 15][slot & 15]; }
uint32_t TreeLongest(uint32_t tree) { return Tables().longest[tree & 15]; }

bool CanWriteTreeHeader(const TreeChoice& c) {
  if (c.tree > 15 || !IsPermutation(c.symbols)) return false;
  if (c.tree == 0) {
    for (int i = 0; i < 16; ++i)
      if (c.symbols[i] != i) return false;
    return true;
  }
  if (c.kind == TreeHeaderKind::kExplicitList) {
    if (c.listed < 1 || c.listed > 8) return false;
    // The unlisted symbols follow in ascending order.
    for (int i = c.listed + 1; i < 16; ++i)
      if (c.symbols[i] < c.symbols[i - 1]) return false;
    return true;
  }
  if (c.depth > 3) return false;
  // Each level only reorders inside aligned groups, so after `depth` levels
  // every group of 2^(depth+1) slots holds its own range of values.
  uint32_t shift = c.depth + 1u;
  for (uint32_t i = 0; i < 16; ++i)
    if ((uint32_t(c.symbols[i]) >> shift) != (i >> shift)) return false;
  return true;
}

int TreeHeaderBits(const TreeChoice& c) {
  if (!CanWriteTreeHeader(c)) return -1;
  if (c.tree == 0) return 4;
  if (c.kind == TreeHeaderKind::kExplicitList) return 4 + 1 + 3 + 4 * c.listed;
  return 4 + 1 + 2 + MergeBits(c.symbols, c.depth, nullptr);
}

bool WriteTreeHeader(BitWriter& writer, const TreeChoice& c) {
  if (!CanWriteTreeHeader(c)) return false;
  PutBits(writer, c.tree, 4);
  if (c.tree == 0) return true;
  if (c.kind == TreeHeaderKind::kExplicitList) {
    PutBit(writer, 1);
    PutBits(writer, c.listed - 1u, 3);
    for (int i = 0; i < c.listed; ++i) PutBits(writer, c.symbols[i], 4);
  } else {
    PutBit(writer, 0);
    PutBits(writer, c.depth, 2);
    MergeBits(c.symbols, c.depth, &writer);
  }
  return true;
}

static uint32_t SlotOf(const TreeChoice& c, uint32_t symbol) {
  for (uint32_t slot = 0; slot < 16; ++slot)
    if (c.symbols[slot] == symbol) return slot;
  return 0;
}

void WriteSymbol(BitWriter& writer, const TreeChoice& c, uint32_t symbol) {
  const TreeCode& code = SlotCode(c.tree, SlotOf(c, symbol & 15));
  PutBits(writer, code.bits, code.length);
}

uint32_t SymbolBits(const TreeChoice& c, uint32_t symbol) {
  return SlotCode(c.tree, SlotOf(c, symbol & 15)).length;
}

TreeChoice ChooseTree(const uint32_t counts[16]) {
  TreeChoice best;  // tree 0, identity
  uint64_t total = 0;
  for (int s = 0; s < 16; ++s) total += counts[s];
  uint64_t bestCost = 4 + 4 * total;
  if (total == 0) return best;

  // Symbols by falling count; slots of every tree have non-decreasing code
  // lengths, so the most frequent symbol goes to slot 0 and so on.
  uint8_t byCount[16];
  for (int s = 0; s < 16; ++s) byCount[s] = uint8_t(s);
  std::stable_sort(byCount, byCount + 16,
                   [&](uint8_t a, uint8_t b) { return counts[a] > counts[b]; });

  auto dataCost = [&](const TreeChoice& c) {
    uint64_t cost = 0;
    for (int slot = 0; slot < 16; ++slot) cost += uint64_t(counts[c.symbols[slot]]) * SlotCode(c.tree, slot).length;
    return cost;
  };
  auto consider = [&](const TreeChoice& c) {
    int header = TreeHeaderBits(c);
    if (header < 0) return;
    uint64_t cost = uint64_t(header) + dataCost(c);
    if (cost < bestCost) {
      bestCost = cost;
      best = c;
    }
  };

  for (uint8_t t = 1; t < 16; ++t) {
    TreeChoice merge;
    merge.tree = t;
    merge.kind = TreeHeaderKind::kMergeShuffle;
    merge.depth = 3;
    std::copy(byCount, byCount + 16, merge.symbols);
    consider(merge);
    for (uint8_t listed = 1; listed <= 8; ++listed) {
      TreeChoice list;
      list.tree = t;
      list.kind = TreeHeaderKind::kExplicitList;
      list.listed = listed;
      // Listed: the most frequent; then the rest in ascending order.
      std::copy(byCount, byCount + listed, list.symbols);
      int at = listed;
      for (int s = 0; s < 16; ++s)
        if (std::find(byCount, byCount + listed, s) == byCount + listed) list.symbols[at++] = uint8_t(s);
      consider(list);
    }
  }
  return best;
}

}  // namespace kivo::encode
