// SPDX-License-Identifier: BSD-2-Clause
// The bit reader, the fixed code trees and the tree headers.
#include <gtest/gtest.h>

#include <random>

#include "stream_builder.h"
#include "video/bit_reader.h"
#include "video/code_trees.h"

namespace kivo {
namespace {

BitReader ReaderOver(const std::vector<uint8_t>& bytes) {
  BitReader r;
  StartBitReader(&r, bytes.data(), uint32_t(bytes.size()));
  return r;
}

TEST(BitReader, ReadsLittleEndianWordsFromBitZeroAcrossWordEdges) {
  std::vector<uint8_t> bytes = {0x57, 0xF0, 0x0E, 0x80, 0x01, 0x00, 0x00, 0xC0};
  BitReader r = ReaderOver(bytes);
  EXPECT_EQ(ReadBits(&r, 4), 7u);
  EXPECT_EQ(ReadBit(&r), 1u);
  EXPECT_EQ(ReadBits(&r, 3), 2u);
  EXPECT_EQ(ReadBits(&r, 16), 0x0EF0u);
  EXPECT_EQ(ReadBits(&r, 7), 0u);
  // Bit 31 of word 0 and bit 0 of word 1 form one value, first-read bit lowest.
  EXPECT_EQ(ReadBits(&r, 2), 3u);
  EXPECT_EQ(WordBytesConsumed(&r), 8u);
  EXPECT_EQ(ReadBits(&r, 29), 0u);
  EXPECT_EQ(ReadBits(&r, 2), 3u);
  EXPECT_FALSE(BitReaderOverran(&r));
  EXPECT_EQ(ReadBit(&r), 0u);
  EXPECT_TRUE(BitReaderOverran(&r));
}

TEST(BitReader, WordPositionFollowsLoadsNotPeeks) {
  std::vector<uint8_t> bytes(12, 0xFF);
  BitReader r = ReaderOver(bytes);
  ReadBits(&r, 30);
  // Looking at bits of the next word does not load it.
  EXPECT_EQ(PeekBits(&r, 7), 0x7Fu);
  EXPECT_EQ(WordBytesConsumed(&r), 4u);
  ReadBits(&r, 2);
  EXPECT_EQ(WordBytesConsumed(&r), 4u);
  ReadBit(&r);
  EXPECT_EQ(WordBytesConsumed(&r), 8u);
}

TEST(BitReader, PartialLastWordIsPaddedWithZerosAndNeverReadPast) {
  std::vector<uint8_t> bytes = {0xFF, 0xFF, 0xFF, 0xFF, 0xAB, 0xCD};
  // A copy of exactly six bytes: a sanitizer catches any read beyond them.
  std::vector<uint8_t> exact(bytes.begin(), bytes.end());
  BitReader r = ReaderOver(exact);
  EXPECT_EQ(ReadBits(&r, 31), 0x7FFFFFFFu);
  EXPECT_EQ(ReadBits(&r, 17), 0x19B57u);  // bit 31, then 0xCDAB
  EXPECT_EQ(ReadBits(&r, 15), 0u);
  EXPECT_FALSE(BitReaderOverran(&r));
  EXPECT_EQ(ReadBits(&r, 9), 0u);
  EXPECT_TRUE(BitReaderOverran(&r));
}

// The code strings of a few trees, to check the lookup tables slot by slot.
struct TreeCodes {
  uint32_t tree;
  uint32_t longest;
  const char* codes[16];
};
const TreeCodes kSomeTrees[] = {
    {1, 5, {"0", "1000", "11000", "10100", "11100", "10010", "11010", "10110", "11110", "11001",
            "10101", "11101", "10011", "11011", "10111", "11111"}},
    {7, 6, {"0", "100", "101", "11000", "11001", "11010", "110110", "110111", "111000", "111001",
            "111010", "111011", "111100", "111101", "111110", "111111"}},
    {12, 6, {"00", "01", "10", "11000", "11001", "11010", "110110", "110111", "111000", "111001",
             "111010", "111011", "111100", "111101", "111110", "111111"}},
    {14, 7, {"0", "100", "101", "110", "11100", "111010", "1110110", "1110111", "1111000",
             "1111001", "1111010", "1111011", "1111100", "1111101", "1111110", "1111111"}},
    {15, 7, {"00", "01", "100", "101", "110", "111000", "111001", "111010", "111011", "111100",
             "1111010", "1111011", "1111100", "1111101", "1111110", "1111111"}},
};

TEST(CodeTrees, EveryCodeDecodesToItsSlotAndConsumesItsLength) {
  for (const TreeCodes& t : kSomeTrees) {
    EXPECT_EQ(FixedTreeLongest(t.tree), t.longest) << "tree " << t.tree;
    CodeTree tree;
    for (int i = 0; i < 16; ++i) tree.symbols[i] = uint8_t(i);
    tree.longest = FixedTreeLongest(t.tree);
    tree.table = FixedTreeTable(t.tree);
    BuildLookup(&tree);
    test::BitWriter w;
    for (const char* code : t.codes) w.Code(code);
    w.Put(0x5, 3);
    std::vector<uint8_t> bytes = w.Bytes();
    BitReader r = ReaderOver(bytes);
    for (uint32_t slot = 0; slot < 16; ++slot)
      EXPECT_EQ(ReadSymbol(&r, &tree), slot) << "tree " << t.tree;
    EXPECT_EQ(ReadBits(&r, 3), 5u) << "tree " << t.tree;
  }
  // Tree 0 is the plain 4-bit number.
  EXPECT_EQ(FixedTreeLongest(0), 4u);
  for (uint32_t v = 0; v < 16; ++v) EXPECT_EQ(FixedTreeTable(0)[v], 0x40 | v);
}

TEST(TreeHeader, ExplicitListFromTheWorkedBytes) {
  std::vector<uint8_t> bytes = {0x57, 0xF0, 0x0E, 0x00};
  BitReader r = ReaderOver(bytes);
  CodeTree tree;
  EXPECT_TRUE(ReadTree(&r, &tree));
  EXPECT_EQ(BitsConsumed(&r), 20u);
  EXPECT_EQ(tree.longest, 6u);
  EXPECT_EQ(tree.table, FixedTreeTable(7));
  const uint8_t expected[16] = {0, 15, 14, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
  EXPECT_EQ(0, memcmp(tree.symbols, expected, 16));
}

TEST(TreeHeader, TreeZeroIsTheIdentityAndReadsNothingMore) {
  std::vector<uint8_t> bytes = {0xF0, 0xFF, 0xFF, 0xFF};
  BitReader r = ReaderOver(bytes);
  CodeTree tree;
  EXPECT_TRUE(ReadTree(&r, &tree));
  EXPECT_EQ(BitsConsumed(&r), 4u);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(tree.symbols[i], i);
  EXPECT_EQ(ReadSymbol(&r, &tree), 15u);
}

TEST(TreeHeader, RepeatedSymbolsKeepSixteenSlotsAndTheStreamPosition) {
  test::BitWriter w;
  w.Put(3, 4);
  w.Bit(1);
  w.Put(7, 3);  // eight values
  for (uint32_t v : {5u, 5u, 5u, 2u, 5u, 9u, 2u, 0u}) w.Put(v, 4);
  w.Put(0x2A, 6);
  std::vector<uint8_t> bytes = w.Bytes();
  BitReader r = ReaderOver(bytes);
  CodeTree tree;
  EXPECT_FALSE(ReadTree(&r, &tree));
  EXPECT_EQ(BitsConsumed(&r), 4u + 1 + 3 + 32);
  const uint8_t expected[16] = {5, 5, 5, 2, 5, 9, 2, 0, 1, 3, 4, 6, 7, 8, 10, 11};
  EXPECT_EQ(0, memcmp(tree.symbols, expected, 16));
  EXPECT_EQ(ReadBits(&r, 6), 0x2Au);
}

// The merge shuffle as the header describes it, to compare against.
std::vector<int> MergeShuffle(uint32_t depth, const std::vector<int>& bits, size_t* used) {
  std::vector<int> list(16);
  for (int i = 0; i < 16; ++i) list[i] = i;
  *used = 0;
  for (uint32_t level = 0; level <= depth; ++level) {
    size_t size = size_t(1) << level;
    std::vector<int> next;
    for (size_t g = 0; g < 16; g += 2 * size) {
      std::vector<int> a(list.begin() + g, list.begin() + g + size);
      std::vector<int> b(list.begin() + g + size, list.begin() + g + 2 * size);
      size_t ia = 0, ib = 0;
      while (ia < a.size() && ib < b.size()) next.push_back(bits[(*used)++] ? b[ib++] : a[ia++]);
      while (ia < a.size()) next.push_back(a[ia++]);
      while (ib < b.size()) next.push_back(b[ib++]);
    }
    list = next;
  }
  return list;
}

TEST(TreeHeader, MergeShuffleOfEveryDepth) {
  // Depth 0 with bits 1,0,1,0,... swaps every other pair and reads 8 bits.
  {
    test::BitWriter w;
    w.Put(9, 4);
    w.Bit(0);
    w.Put(0, 2);
    for (int i = 0; i < 8; ++i) w.Bit(i % 2 == 0);
    std::vector<uint8_t> bytes = w.Bytes();
    BitReader r = ReaderOver(bytes);
    CodeTree tree;
    EXPECT_TRUE(ReadTree(&r, &tree));
    EXPECT_EQ(BitsConsumed(&r), 7u + 8);
    const uint8_t expected[16] = {1, 0, 2, 3, 5, 4, 6, 7, 9, 8, 10, 11, 13, 12, 14, 15};
    EXPECT_EQ(0, memcmp(tree.symbols, expected, 16));
  }
  std::mt19937 rng(7);
  for (uint32_t depth = 0; depth < 4; ++depth) {
    for (int trial = 0; trial < 50; ++trial) {
      std::vector<int> bits(64);
      for (int& b : bits) b = int(rng() & 1);
      size_t used;
      std::vector<int> expected = MergeShuffle(depth, bits, &used);
      test::BitWriter w;
      w.Put(1 + trial % 15, 4);
      w.Bit(0);
      w.Put(depth, 2);
      for (int b : bits) w.Bit(uint32_t(b));
      std::vector<uint8_t> bytes = w.Bytes();
      BitReader r = ReaderOver(bytes);
      CodeTree tree;
      ASSERT_TRUE(ReadTree(&r, &tree));
      EXPECT_EQ(BitsConsumed(&r), 7 + used);
      EXPECT_LE(used, size_t(8 + 12 + 14 + 15));
      for (int i = 0; i < 16; ++i) EXPECT_EQ(tree.symbols[i], expected[i]) << depth;
    }
  }
}

}  // namespace
}  // namespace kivo
