// SPDX-License-Identifier: BSD-2-Clause
// Exact bits of the writer: word packing, tree headers, refills and the
// sizes of whole planes, checked against hand-worked streams; tree headers
// and symbols also read back through the decoder's tree reader.
#include <gtest/gtest.h>

#include <random>

#include "encode/video_blocks.h"
#include "encode/video_writer.h"
#include "video/code_trees.h"

namespace kivo::encode {
namespace {

// Reads n bits at bit position pos of little-endian bytes, first bit = bit 0.
uint32_t Take(const std::vector<uint8_t>& bytes, uint64_t& pos, uint32_t n) {
  uint32_t v = 0;
  for (uint32_t i = 0; i < n; ++i, ++pos) v |= uint32_t((bytes[pos / 8] >> (pos % 8)) & 1) << i;
  return v;
}

TEST(BitWriter, PacksFromBitZeroAcrossWords) {
  BitWriter w;
  PutBits(w, 0x5, 3);
  PutBits(w, 0xABCDEF12, 32);  // straddles the first word
  PutBits(w, 1, 1);
  PutBits(w, 0x3FF, 0);  // nothing
  EXPECT_EQ(BitCount(w), 36u);
  BitWriter tail;
  PutBits(tail, 0x2A, 6);
  AppendBits(w, tail);
  std::vector<uint8_t> bytes = WriterBytes(w);
  ASSERT_EQ(bytes.size(), 8u);  // 42 bits pad to two words
  uint64_t pos = 0;
  EXPECT_EQ(Take(bytes, pos, 3), 0x5u);
  EXPECT_EQ(Take(bytes, pos, 32), 0xABCDEF12u);
  EXPECT_EQ(Take(bytes, pos, 1), 1u);
  EXPECT_EQ(Take(bytes, pos, 6), 0x2Au);
  EXPECT_EQ(Take(bytes, pos, 22), 0u);
}

TEST(TreeHeaders, ExplicitListMatchesTheWorkedBytes) {
  TreeChoice c;
  c.tree = 7;
  c.kind = TreeHeaderKind::kExplicitList;
  c.listed = 3;
  const uint8_t order[16] = {0, 15, 14, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
  std::copy(order, order + 16, c.symbols);
  BitWriter w;
  ASSERT_TRUE(WriteTreeHeader(w, c));
  EXPECT_EQ(BitCount(w), 20u);
  EXPECT_EQ(TreeHeaderBits(c), 20);
  EXPECT_EQ(WriterBytes(w), (std::vector<uint8_t>{0x57, 0xF0, 0x0E, 0x00}));
}

TEST(TreeHeaders, RejectsOrdersTheKindCannotSay) {
  TreeChoice c;
  c.tree = 3;
  c.kind = TreeHeaderKind::kExplicitList;
  c.listed = 2;
  const uint8_t unsorted[16] = {9, 8, 0, 1, 2, 3, 4, 5, 6, 7, 11, 10, 12, 13, 14, 15};
  std::copy(unsorted, unsorted + 16, c.symbols);
  EXPECT_FALSE(CanWriteTreeHeader(c));  // 11 before 10 after the listed part
  c.listed = 8;
  EXPECT_FALSE(CanWriteTreeHeader(c));
  c.listed = 9;  // only three bits of count
  EXPECT_FALSE(CanWriteTreeHeader(c));
  c.kind = TreeHeaderKind::kMergeShuffle;
  c.depth = 2;  // 9 and 8 belong to the second group of eight
  EXPECT_FALSE(CanWriteTreeHeader(c));
  c.depth = 3;
  EXPECT_TRUE(CanWriteTreeHeader(c));
  c.symbols[0] = 8;  // 8 twice: not a permutation
  EXPECT_FALSE(CanWriteTreeHeader(c));
  TreeChoice zero;
  zero.symbols[0] = 1;
  zero.symbols[1] = 0;
  EXPECT_FALSE(CanWriteTreeHeader(zero));  // tree 0 is always the identity
  BitWriter w;
  EXPECT_FALSE(WriteTreeHeader(w, zero));
  EXPECT_EQ(BitCount(w), 0u);
}

// Every header kind, read back by the decoder: the same symbols, the same
// number of bits, and symbols written under it decode to themselves.
TEST(TreeHeaders, EveryKindReadsBack) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 400; ++trial) {
    TreeChoice c;
    c.tree = uint8_t(trial % 16);
    uint8_t perm[16];
    for (int i = 0; i < 16; ++i) perm[i] = uint8_t(i);
    if (c.tree != 0) {
      if (trial % 3 == 0) {
        c.kind = TreeHeaderKind::kExplicitList;
        c.listed = uint8_t(1 + random() % 8);
        std::shuffle(perm, perm + 16, random);
        std::sort(perm + c.listed, perm + 16);
      } else {
        c.kind = TreeHeaderKind::kMergeShuffle;
        c.depth = uint8_t(random() % 4);
        uint32_t group = 2u << c.depth;
        for (uint32_t g = 0; g < 16; g += group) std::shuffle(perm + g, perm + g + group, random);
      }
    }
    std::copy(perm, perm + 16, c.symbols);
    BitWriter w;
    ASSERT_TRUE(WriteTreeHeader(w, c)) << trial;
    uint64_t headerBits = BitCount(w);
    EXPECT_EQ(int(headerBits), TreeHeaderBits(c));
    if (c.kind == TreeHeaderKind::kMergeShuffle && c.depth == 0 && c.tree != 0) {
      EXPECT_EQ(headerBits, 4u + 1 + 2 + 8);  // one decision per pair
    }
    uint8_t sent[40];
    for (int i = 0; i < 40; ++i) {
      sent[i] = uint8_t(random() % 16);
      WriteSymbol(w, c, sent[i]);
    }
    std::vector<uint8_t> bytes = WriterBytes(w);
    BitReader r;
    StartBitReader(&r, bytes.data(), uint32_t(bytes.size()));
    CodeTree tree;
    ASSERT_TRUE(ReadTree(&r, &tree));
    EXPECT_EQ(BitsConsumed(&r), headerBits) << trial;
    for (int i = 0; i < 16; ++i) ASSERT_EQ(tree.symbols[i], c.symbols[i]) << trial;
    for (int i = 0; i < 40; ++i) ASSERT_EQ(ReadSymbol(&r, &tree), sent[i]) << trial;
  }
}

TEST(TreeHeaders, ChoiceFollowsTheStatistics) {
  uint32_t none[16] = {};
  EXPECT_EQ(ChooseTree(none).tree, 0);
  uint32_t flat[16];
  std::fill(flat, flat + 16, 100);
  EXPECT_EQ(ChooseTree(flat).tree, 0);  // nothing beats four bits each
  uint32_t skewed[16] = {};
  skewed[9] = 1000;
  skewed[3] = 50;
  skewed[12] = 20;
  TreeChoice c = ChooseTree(skewed);
  ASSERT_TRUE(CanWriteTreeHeader(c));
  EXPECT_NE(c.tree, 0);
  EXPECT_EQ(SymbolBits(c, 9), 1u);
  uint64_t cost = uint64_t(TreeHeaderBits(c));
  for (int s = 0; s < 16; ++s) cost += uint64_t(skewed[s]) * SymbolBits(c, s);
  EXPECT_LT(cost, 4 + 4 * 1070u);
}

TEST(Colours, OldRevisionsStoreTheRemappedValue) {
  EXPECT_EQ(StoredColour(0x7B, true), 0x85);
  EXPECT_EQ(StoredColour(0x85, true), 0x05);
  EXPECT_EQ(StoredColour(128, true), 0x00);
  EXPECT_EQ(StoredColour(1, true), 0xFF);
  EXPECT_EQ(StoredColour(0, true), -1);
  EXPECT_EQ(StoredColour(0, false), 0);
  PlaneSpec plane;
  InitPlane(plane, 8, 8);
  plane.blocks[0].type = kFill;
  plane.blocks[0].pixels[0] = 0;
  BitWriter w;
  std::string error;
  EXPECT_FALSE(WritePlane(w, plane, true, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(WritePlane(w, plane, false, &error));
}

// A plane written with the identity trees: 23 headers of 4 bits, then row 0.
PlaneSpec PlainTrees(uint32_t width, uint32_t height) {
  PlaneSpec plane;
  InitPlane(plane, width, height);
  plane.coding.autoTrees = false;
  return plane;
}

TEST(Refills, BlockTypeRunCodes) {
  // Nine Intra blocks: 5, then a run of eight (code 13).
  PlaneSpec plane = PlainTrees(72, 8);
  for (auto& b : plane.blocks) b.type = kIntra;
  plane.coding.allowFill[kBlockTypesBundle] = false;
  BitWriter w;
  ASSERT_TRUE(WritePlane(w, plane, false, nullptr));
  std::vector<uint8_t> bytes = WriterBytes(w);
  uint64_t pos = 92;
  EXPECT_EQ(Take(bytes, pos, 10), 9u);  // count width of 511 + 9
  EXPECT_EQ(Take(bytes, pos, 1), 0u);   // not a fill
  EXPECT_EQ(Take(bytes, pos, 4), 5u);
  EXPECT_EQ(Take(bytes, pos, 4), 13u);
  EXPECT_EQ(Take(bytes, pos, 10), 0u);  // no doubled types: finished

  // Four Unchanged blocks are one code 12 (four copies of the starting 0).
  PlaneSpec zeros = PlainTrees(32, 8);
  zeros.coding.allowFill[kBlockTypesBundle] = false;
  BitWriter z;
  ASSERT_TRUE(WritePlane(z, zeros, false, nullptr));
  bytes = WriterBytes(z);
  pos = 92;
  EXPECT_EQ(Take(bytes, pos, 10), 4u);
  EXPECT_EQ(Take(bytes, pos, 1), 0u);
  EXPECT_EQ(Take(bytes, pos, 4), 12u);

  // Without run codes, and types 12 to 15 only by a fill.
  zeros.coding.blockTypeRuns = false;
  BitWriter literal;
  ASSERT_TRUE(WritePlane(literal, zeros, false, nullptr));
  bytes = WriterBytes(literal);
  pos = 92 + 11;
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Take(bytes, pos, 4), 0u);
  for (auto& b : zeros.blocks) b.type = 13;
  std::string error;
  BitWriter bad;
  EXPECT_FALSE(WritePlane(bad, zeros, false, &error));
  zeros.coding.allowFill[kBlockTypesBundle] = true;
  BitWriter filled;
  ASSERT_TRUE(WritePlane(filled, zeros, false, &error)) << error;
  bytes = WriterBytes(filled);
  pos = 92;
  EXPECT_EQ(Take(bytes, pos, 10), 4u);
  EXPECT_EQ(Take(bytes, pos, 1), 1u);
  EXPECT_EQ(Take(bytes, pos, 4), 13u);
}

TEST(Refills, DcGroupsAndMotionSigns) {
  // Ten inter blocks: first DC -3 (10 bits and a sign), then a group of eight
  // differences of width 2 and a group of one difference of width 0.
  PlaneSpec plane = PlainTrees(80, 8);
  const int16_t dc[10] = {-3, -1, 0, 3, 3, 2, 1, 0, -2, -2};
  for (int i = 0; i < 10; ++i) {
    plane.blocks[i].type = kInter;
    plane.blocks[i].coefficients[0] = dc[i];
    plane.blocks[i].dx = int8_t(i == 0 ? -5 : 0);
  }
  plane.coding.allowFill[kMotionXBundle] = false;
  BitWriter w;
  ASSERT_TRUE(WritePlane(w, plane, false, nullptr));
  std::vector<uint8_t> bytes = WriterBytes(w);
  uint64_t pos = 92;
  EXPECT_EQ(Take(bytes, pos, 10), 10u);  // block types
  EXPECT_EQ(Take(bytes, pos, 1), 1u);
  EXPECT_EQ(Take(bytes, pos, 4), 7u);
  EXPECT_EQ(Take(bytes, pos, 10), 0u);  // doubled types
  EXPECT_EQ(Take(bytes, pos, 11), 0u);  // colours: 511 + 64 * 10 needs 11 bits
  EXPECT_EQ(Take(bytes, pos, 10), 0u);  // pattern bytes
  EXPECT_EQ(Take(bytes, pos, 10), 10u);  // motion x, symbols with signs
  EXPECT_EQ(Take(bytes, pos, 1), 0u);
  EXPECT_EQ(Take(bytes, pos, 4), 5u);
  EXPECT_EQ(Take(bytes, pos, 1), 1u);  // negative
  for (int i = 1; i < 10; ++i) EXPECT_EQ(Take(bytes, pos, 4), 0u);  // zero: no sign
  EXPECT_EQ(Take(bytes, pos, 10), 10u);  // motion y: a fill of 0, no sign
  EXPECT_EQ(Take(bytes, pos, 1), 1u);
  EXPECT_EQ(Take(bytes, pos, 4), 0u);
  EXPECT_EQ(Take(bytes, pos, 10), 0u);  // intra DC: finished
  EXPECT_EQ(Take(bytes, pos, 10), 10u);  // inter DC
  EXPECT_EQ(Take(bytes, pos, 10), 3u);
  EXPECT_EQ(Take(bytes, pos, 1), 1u);
  EXPECT_EQ(Take(bytes, pos, 4), 2u);  // widest difference of the group: 3
  const int deltas[8] = {2, 1, 3, 0, -1, -1, -1, -2};
  for (int d : deltas) {
    EXPECT_EQ(Take(bytes, pos, 2), uint32_t(std::abs(d)));
    if (d) {
      EXPECT_EQ(Take(bytes, pos, 1), d < 0 ? 1u : 0u);
    }
  }
  EXPECT_EQ(Take(bytes, pos, 4), 0u);  // last group: no change, nothing more
  EXPECT_EQ(Take(bytes, pos, 10), 0u);  // run lengths
  for (int i = 0; i < 10; ++i) EXPECT_EQ(Take(bytes, pos, 8), 0u);  // no AC, quantiser 0
  EXPECT_EQ((pos + 31) / 32 * 32, BitCount(w));
}

TEST(Refills, CoverWholeRowsWithinTheirLimits) {
  // 640 x 480 of Unchanged blocks: one fill refill per six block rows, all
  // other bundles finished in the first row: 44 bytes.
  PlaneSpec luma;
  InitPlane(luma, 640, 480);
  BitWriter w;
  ASSERT_TRUE(WritePlane(w, luma, false, nullptr));
  EXPECT_EQ(w.words.size() * 4, 44u);
  EXPECT_EQ(BitCount(w), 352u);
  // One row per refill: 60 refills of 15 bits.
  luma.coding.refillRows = 1;
  BitWriter one;
  ASSERT_TRUE(WritePlane(one, luma, false, nullptr));
  EXPECT_EQ(one.words.size(), (92 + 87 + 60 * 15 + 31) / 32u);
  // A refill of many rows is still cut where the decoder's buffer ends.
  luma.coding.refillRows = 60;
  BitWriter many;
  ASSERT_TRUE(WritePlane(many, luma, false, nullptr));
  EXPECT_EQ(many.words.size(), (92 + 87 + 9 * 15 + 31) / 32u);  // seven rows of 80 fit 588

  // A bundle idle for some rows is refilled with the next row that uses it.
  PlaneSpec gaps = PlainTrees(16, 24);
  BlockAt(gaps, 0, 2).type = kFill;
  BlockAt(gaps, 0, 2).pixels[0] = 77;
  gaps.coding.refillRows = 1;
  BitWriter g;
  ASSERT_TRUE(WritePlane(g, gaps, false, nullptr));
  std::vector<uint8_t> bytes = WriterBytes(g);
  uint64_t pos = 92 + 10 + 5;  // block types of row 0
  EXPECT_EQ(Take(bytes, pos, 10), 0u);  // doubled: finished
  EXPECT_EQ(Take(bytes, pos, 10), 1u);  // colours: row 2's one colour, now
  EXPECT_EQ(Take(bytes, pos, 1), 1u);
  EXPECT_EQ(Take(bytes, pos, 4), 77u >> 4);
  EXPECT_EQ(Take(bytes, pos, 4), 77u & 15);
}

TEST(Refills, RowsTooBigForTheBufferAreRefused) {
  // Sixty-four single-sample runs in every block of a row: more run lengths
  // than a refill may carry.
  PlaneSpec plane;
  InitPlane(plane, 640, 8);
  for (auto& b : plane.blocks) {
    b.type = kRuns;
    b.runCount = 63;
    for (int i = 0; i < 63; ++i) b.runs[i] = {1, false};
  }
  BitWriter w;
  std::string error;
  EXPECT_FALSE(WritePlane(w, plane, false, &error));
  EXPECT_NE(error.find("refill"), std::string::npos);
  plane.blocks.resize(3);
  EXPECT_FALSE(WritePlane(w, plane, false, &error));  // wrong block count
}

}  // namespace
}  // namespace kivo::encode
