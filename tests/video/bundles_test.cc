// SPDX-License-Identifier: BSD-2-Clause
// Bundle refills: counts and their widths, fills, run codes, colour context
// and revision remap, motion signs, DC groups, and the malformed counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "stream_builder.h"

namespace kivo {
namespace {

// A plane state over a stream whose trees have already been read: the
// bundle trees are set to tree t (identity symbols unless given).
struct BundleBench {
  test::PlaneHarness plane{64, 8};
  std::vector<uint8_t> bytes;
  PlaneState state;

  explicit BundleBench(const test::BitWriter& w, uint32_t width = 64, uint32_t flags = 0) {
    bytes = w.Bytes();
    StartBitReader(&state.reader, bytes.data(), uint32_t(bytes.size()));
    SetUpBundles(&state, plane.bufferPointers, plane.sizes, width);
    state.remapColours = (flags & kBeforeRevisionI) != 0;
    state.faults = 0;
    state.colourContext = 0;
    CodeTree identity;
    for (int i = 0; i < 16; ++i) identity.symbols[i] = uint8_t(i);
    identity.longest = 4;
    identity.table = FixedTreeTable(0);
    BuildLookup(&identity);
    for (Bundle& b : state.bundles) b.tree = identity;
    for (CodeTree& t : state.colourHigh) t = identity;
  }
  std::vector<int> Values(int id) {
    std::vector<int> out;
    while (state.bundles[id].readPos < state.bundles[id].end)
      out.push_back(id == kDcIntra || id == kDcInter ? NextDc(&state, id)
                    : id == kMotionX || id == kMotionY ? NextSignedByte(&state, id)
                                                       : int(NextByte(&state, id)));
    return out;
  }
};

TEST(Bundles, CountWidthsAndBufferSizesFollowThePlaneWidth) {
  uint32_t sizes[kBundleCount];
  ComputeBundleSizes(656, sizes);  // n = 82
  EXPECT_EQ(sizes[kBlockTypes], 596u);
  EXPECT_EQ(sizes[kDoubledTypes], 556u);
  EXPECT_EQ(sizes[kColours], 64u * 82 + 512);
  EXPECT_EQ(sizes[kPatternBytes], 8u * 82 + 512);
  EXPECT_EQ(sizes[kMotionY], 596u);
  EXPECT_EQ(sizes[kDcInter], 1188u);
  EXPECT_EQ(sizes[kRunLengths], 48u * 82 + 512);
  // 511 + 80 needs 10 bits, 511 + 64 * 80 needs 13; big planes stop at 15.
  BundleBench narrow(test::BitWriter{}, 640);
  EXPECT_EQ(narrow.state.bundles[kBlockTypes].countBits, 10u);
  EXPECT_EQ(narrow.state.bundles[kDoubledTypes].countBits, 10u);
  EXPECT_EQ(narrow.state.bundles[kColours].countBits, 13u);
  EXPECT_EQ(narrow.state.bundles[kPatternBytes].countBits, 11u);
  EXPECT_EQ(narrow.state.bundles[kRunLengths].countBits, 13u);
  EXPECT_EQ(narrow.state.bundles[kDcInter].signedStart, 1024u);
  EXPECT_EQ(narrow.state.bundles[kDcIntra].signedStart, 0u);
  BundleBench tiny(test::BitWriter{}, 8);
  EXPECT_EQ(tiny.state.bundles[kBlockTypes].countBits, 10u);  // 512
  EXPECT_EQ(tiny.state.bundles[kDoubledTypes].countBits, 9u);  // 511
  BundleBench wide(test::BitWriter{}, 4096);
  EXPECT_EQ(wide.state.bundles[kColours].countBits, 15u);
}

TEST(Bundles, BlockTypeRunCodesRepeatTheLastSymbol) {
  test::BitWriter w;
  w.Put(9, 10);
  w.Bit(0);
  w.Put(5, 4);
  w.Put(13, 4);  // eight more of the last symbol
  w.Put(3, 10);
  w.Bit(0);
  w.Put(12, 4);  // a refill starting with a run: last starts at 0
  BundleBench b(w);
  RefillBundle(&b.state, kBlockTypes);
  EXPECT_EQ(b.Values(kBlockTypes), std::vector<int>(9, 5));
  RefillBundle(&b.state, kBlockTypes);
  // The run of four is cut at the count of three, and noted.
  EXPECT_EQ(b.Values(kBlockTypes), std::vector<int>(3, 0));
  EXPECT_EQ(b.state.faults, kPlaneRepaired);
  EXPECT_EQ(BitsConsumed(&b.state.reader), 10u + 1 + 8 + 10 + 1 + 4);
}

TEST(Bundles, RunCodesOfEveryLengthAndFills) {
  test::BitWriter w;
  w.Put(4 + 1 + 12 + 1 + 32, 10);
  w.Bit(0);
  w.Put(12, 4);
  w.Put(7, 4);
  w.Put(14, 4);
  w.Put(11, 4);
  w.Put(15, 4);
  w.Put(20, 10);
  w.Bit(1);
  w.Put(13, 4);  // a fill may carry any 4-bit value
  BundleBench b(w);
  RefillBundle(&b.state, kBlockTypes);
  std::vector<int> expected(4, 0);
  expected.push_back(7);
  expected.insert(expected.end(), 12, 7);
  expected.push_back(11);
  expected.insert(expected.end(), 32, 11);
  EXPECT_EQ(b.Values(kBlockTypes), expected);
  RefillBundle(&b.state, kBlockTypes);
  EXPECT_EQ(b.Values(kBlockTypes), std::vector<int>(20, 13));
  EXPECT_EQ(b.state.faults, 0u);
}

TEST(Bundles, CountZeroFinishesTheBundleForThePlane) {
  test::BitWriter w;
  w.Put(0, 10);
  w.Put(0x3FF, 10);
  BundleBench b(w);
  RefillBundle(&b.state, kMotionX);
  EXPECT_NE(b.state.bundles[kMotionX].readPos, b.state.bundles[kMotionX].end);
  RefillBundle(&b.state, kMotionX);  // not exhausted: reads nothing
  EXPECT_EQ(BitsConsumed(&b.state.reader), 10u);
  EXPECT_EQ(b.state.faults, 0u);
  // Taking from it stops the plane and yields 0.
  EXPECT_EQ(NextSignedByte(&b.state, kMotionX), 0);
  EXPECT_EQ(b.state.faults, kPlaneStopped);
}

TEST(Bundles, ACountBeyondTheBufferStopsThePlaneWithoutWriting) {
  test::BitWriter w;
  w.Put(1023, 10);  // the buffer of a 64-wide plane's luma pitch holds 516
  w.Bit(1);
  w.Put(6, 4);
  BundleBench b(w);
  b.plane.buffers[kBlockTypes].assign(b.plane.sizes[kBlockTypes], 0xAA);
  RefillBundle(&b.state, kBlockTypes);
  EXPECT_EQ(b.state.faults, kPlaneStopped);
  EXPECT_EQ(b.plane.buffers[kBlockTypes][0], 0xAA);
  EXPECT_EQ(NextByte(&b.state, kBlockTypes), 0u);
}

TEST(Bundles, ColoursCarryTheirContextAcrossRefillsAndFills) {
  test::BitWriter w;
  w.Put(4, 10);
  w.Bit(1);         // fill
  w.Put(0xA, 4);    // high nibble from the context-0 tree
  w.Put(0x3, 4);
  w.Put(2, 10);
  w.Bit(0);
  w.Put(0x1, 4);    // slot 1 of the context-10 tree
  w.Put(0x4, 4);
  w.Put(0x2, 4);    // slot 2 of the tree of the context that gave
  w.Put(0xF, 4);
  BundleBench b(w);
  // The context-10 tree maps slot 1 to 9; the context-9 tree slot 2 to 7.
  b.state.colourHigh[10].symbols[1] = 9;
  b.state.colourHigh[10].symbols[9] = 1;
  b.state.colourHigh[9].symbols[2] = 7;
  b.state.colourHigh[9].symbols[7] = 2;
  BuildLookup(&b.state.colourHigh[10]);
  BuildLookup(&b.state.colourHigh[9]);
  RefillBundle(&b.state, kColours);
  EXPECT_EQ(b.Values(kColours), std::vector<int>(4, 0xA3));
  EXPECT_EQ(b.state.colourContext, 0xAu);
  RefillBundle(&b.state, kColours);
  EXPECT_EQ(b.Values(kColours), (std::vector<int>{0x94, 0x7F}));
  EXPECT_EQ(b.state.colourContext, 7u);
}

TEST(Bundles, EarlierRevisionsRemapColoursAroundTheMiddle) {
  test::BitWriter w;
  w.Put(4, 10);
  w.Bit(0);
  for (uint32_t v : {0x85u, 0x05u, 0x80u, 0x00u}) {
    w.Put(v >> 4, 4);
    w.Put(v & 15, 4);
  }
  BundleBench b(w, 64, kBeforeRevisionI);
  RefillBundle(&b.state, kColours);
  EXPECT_EQ(b.Values(kColours), (std::vector<int>{0x7B, 0x85, 0x80, 0x80}));
}

TEST(Bundles, PatternBytesTakeLowNibbleFirst) {
  test::BitWriter w;
  w.Put(2, 10);
  w.Put(0x1, 4);
  w.Put(0x8, 4);
  w.Put(0xF, 4);
  w.Put(0x0, 4);
  BundleBench b(w);
  RefillBundle(&b.state, kPatternBytes);
  EXPECT_EQ(b.Values(kPatternBytes), (std::vector<int>{0x81, 0x0F}));
}

TEST(Bundles, MotionSignsFollowNonzeroValuesOnly) {
  test::BitWriter w;
  w.Put(4, 10);
  w.Bit(0);
  w.Put(3, 4);
  w.Bit(1);
  w.Put(0, 4);  // no sign bit
  w.Put(15, 4);
  w.Bit(0);
  w.Put(1, 4);
  w.Bit(1);
  w.Put(3, 10);
  w.Bit(1);
  w.Put(7, 4);
  w.Bit(1);
  BundleBench b(w);
  RefillBundle(&b.state, kMotionY);
  EXPECT_EQ(b.Values(kMotionY), (std::vector<int>{-3, 0, 15, -1}));
  RefillBundle(&b.state, kMotionY);
  EXPECT_EQ(b.Values(kMotionY), (std::vector<int>{-7, -7, -7}));
  EXPECT_EQ(BitsConsumed(&b.state.reader), 10u + 1 + 5 + 4 + 5 + 5 + 10 + 1 + 4 + 1);
}

TEST(Bundles, DcValuesInGroupsOfEightWithWrappingDeltas) {
  test::BitWriter w;
  w.Put(11, 10);
  w.Put(0, 10);  // first inter value 0: no sign bit
  w.Put(0, 4);   // first group of eight: len 0, no further bits
  w.Put(3, 4);   // last group of two, deltas of 3 bits
  w.Put(5, 3);
  w.Bit(1);
  w.Put(7, 3);
  w.Bit(0);
  w.Put(2, 10);
  w.Put(1000, 10);
  w.Bit(1);      // -1000
  w.Put(15, 4);
  w.Put(32767, 15);
  w.Bit(1);      // wraps below -32768
  w.Put(1, 10);
  w.Put(2047, 11);  // intra: 11 bits, no sign
  BundleBench b(w);
  RefillBundle(&b.state, kDcInter);
  EXPECT_EQ(b.Values(kDcInter), (std::vector<int>{0, 0, 0, 0, 0, 0, 0, 0, 0, -5, 2}));
  RefillBundle(&b.state, kDcInter);
  EXPECT_EQ(b.Values(kDcInter), (std::vector<int>{-1000, int16_t(-1000 - 32767)}));
  RefillBundle(&b.state, kDcIntra);
  EXPECT_EQ(b.Values(kDcIntra), std::vector<int>{2047});
  EXPECT_EQ(b.state.faults, 0u);
  EXPECT_EQ(BitsConsumed(&b.state.reader),
            (10u + 10 + 4 + 4 + 4 + 4) + (10 + 11 + 4 + 16) + (10 + 11));
}

// Offsets under trees with codes of 1 to 7 bits, a different one for each
// axis, so that a sign bit also follows the longest codes.
TEST(Bundles, MotionSignsAfterCodesOfEveryLength) {
  std::mt19937 random(3);
  CodeTree trees[2];
  for (CodeTree& t : trees) {
    for (int i = 0; i < 16; ++i) t.symbols[i] = uint8_t(i);
    std::shuffle(t.symbols, t.symbols + 16, random);
    t.longest = FixedTreeLongest(13);
    t.table = FixedTreeTable(13);
    BuildLookup(&t);
  }
  test::BitWriter w;
  std::vector<int> want[2];
  for (int axis = 0; axis < 2; ++axis) {
    w.Put(23, 10);
    w.Bit(0);
    for (int i = 0; i < 23; ++i) {
      uint32_t slot = random() % 16, v = trees[axis].symbols[slot];
      for (uint32_t c = 0; c < 128; ++c)  // the code of the slot from the table
        if ((trees[axis].table[c] & 15) == slot && c >> (trees[axis].table[c] >> 4) == 0)
          w.Put(c, trees[axis].table[c] >> 4);
      uint32_t negative = v ? random() % 2 : 0;
      if (v) w.Bit(negative);
      want[axis].push_back(negative ? -int(v) : int(v));
    }
  }
  BundleBench b(w);
  b.state.bundles[kMotionX].tree = trees[0];
  b.state.bundles[kMotionY].tree = trees[1];
  RefillBundle(&b.state, kMotionX);
  RefillBundle(&b.state, kMotionY);
  EXPECT_EQ(b.Values(kMotionX), want[0]);
  EXPECT_EQ(b.Values(kMotionY), want[1]);
  EXPECT_EQ(BitsConsumed(&b.state.reader), uint64_t(w.bits));
}

// Long refills of random deltas: every width, zero deltas among them, and
// counts that end inside a group.
TEST(Bundles, DcDeltasOfEveryWidthAndZeros) {
  std::mt19937 random(7);
  test::BitWriter w;
  std::vector<std::vector<int>> want;
  for (uint32_t count : {1u, 8u, 9u, 200u, 517u}) {
    w.Put(count, 10);
    int16_t v = int16_t(random() % 2048);
    w.Put(uint32_t(v), 11);
    std::vector<int> values{v};
    for (uint32_t i = 1; i < count; i += 8) {
      uint32_t len = random() % 16;
      w.Put(len, 4);
      for (uint32_t g = 0; g < 8 && i + g < count; ++g) {
        uint32_t delta = len && random() % 3 ? random() % (1u << len) : 0;
        w.Put(delta, len);
        uint32_t negative = delta ? random() % 2 : 0;
        if (delta) w.Bit(negative);
        v = int16_t(v + (negative ? -int32_t(delta) : int32_t(delta)));
        values.push_back(v);
      }
    }
    want.push_back(values);
  }
  BundleBench b(w);
  for (const std::vector<int>& values : want) {
    RefillBundle(&b.state, kDcIntra);
    ASSERT_EQ(b.Values(kDcIntra), values);
  }
  EXPECT_EQ(b.state.faults, 0u);
  EXPECT_EQ(BitsConsumed(&b.state.reader), uint64_t(w.bits));
}

TEST(Bundles, RunLengthsFillOrListSymbols) {
  test::BitWriter w;
  w.Put(3, 10);
  w.Bit(0);
  w.Put(15, 4);
  w.Put(0, 4);
  w.Put(9, 4);
  w.Put(5, 10);
  w.Bit(1);
  w.Put(2, 4);
  BundleBench b(w);
  RefillBundle(&b.state, kRunLengths);
  EXPECT_EQ(b.Values(kRunLengths), (std::vector<int>{15, 0, 9}));
  RefillBundle(&b.state, kRunLengths);
  EXPECT_EQ(b.Values(kRunLengths), std::vector<int>(5, 2));
}

// Pattern bytes and run lengths decode two codes per lookup where the pair
// fits it and code by code where it does not: under tree 13 (codes of 1 to
// 7 bits) both happen, in the loops' middles and at their ends.
TEST(Bundles, PairedCodesReadTheSameShortOrLong) {
  static const char* kTree13[16] = {"0",       "100",     "101",     "110",
                                    "111000",  "111001",  "111010",  "111011",
                                    "1111000", "1111001", "1111010", "1111011",
                                    "1111100", "1111101", "1111110", "1111111"};
  const std::vector<int> patterns = {0x00, 0xFF, 0x0F, 0xF0, 0x13, 0x8E, 0x00,
                                     0x00, 0x9A, 0x21, 0x00, 0x7F, 0xE0};
  const std::vector<int> runs = {0, 0, 15, 15, 0, 9, 1, 2, 14, 0, 0, 0, 3, 11, 0};
  test::BitWriter w;
  w.Put(uint32_t(patterns.size()), 10);
  for (int v : patterns) {
    w.Code(kTree13[v & 15]);
    w.Code(kTree13[v >> 4]);
  }
  w.Put(uint32_t(runs.size()), 10);
  w.Bit(0);
  for (int v : runs) w.Code(kTree13[v]);
  BundleBench b(w);
  CodeTree t13;
  for (int i = 0; i < 16; ++i) t13.symbols[i] = uint8_t(i);
  t13.longest = FixedTreeLongest(13);
  t13.table = FixedTreeTable(13);
  BuildLookup(&t13);
  b.state.bundles[kPatternBytes].tree = t13;
  b.state.bundles[kRunLengths].tree = t13;
  RefillBundle(&b.state, kPatternBytes);
  EXPECT_EQ(b.Values(kPatternBytes), patterns);
  RefillBundle(&b.state, kRunLengths);
  EXPECT_EQ(b.Values(kRunLengths), runs);
  EXPECT_EQ(BitsConsumed(&b.state.reader), uint64_t(w.bits));
}

// Colours from random bits under random trees, against a code-by-code read
// with the trees' own lookups: low trees of 4-bit codes (one lookup a
// colour) and others, both revisions, counts of every remainder, and data
// that ends before the colours do.
TEST(Bundles, ColoursReadCodeByCodeAlike) {
  std::mt19937 random(9);
  auto randomTree = [&](uint32_t t) {
    CodeTree tree;
    for (int i = 0; i < 16; ++i) tree.symbols[i] = uint8_t(i);
    std::shuffle(tree.symbols, tree.symbols + 16, random);
    tree.longest = FixedTreeLongest(t);
    tree.table = FixedTreeTable(t);
    BuildLookup(&tree);
    return tree;
  };
  for (int round = 0; round < 60; ++round) {
    uint32_t count = 1 + random() % 300;
    test::BitWriter w;
    w.Put(count, 10);
    w.Bit(0);
    uint32_t randomBits = random() % (14 * count);
    for (uint32_t i = 0; i < randomBits; ++i) w.Bit(random() & 1);
    uint32_t flags = round % 2 ? kBeforeRevisionI : 0;
    BundleBench b(w, 64, flags);
    b.state.bundles[kColours].tree = randomTree(round % 3 ? 0 : random() % 16);
    for (CodeTree& t : b.state.colourHigh) t = randomTree(random() % 16);
    uint32_t context = random() % 16;
    b.state.colourContext = context;

    BitReader r;
    StartBitReader(&r, b.bytes.data(), uint32_t(b.bytes.size()));
    ReadBits(&r, 11);
    std::vector<int> want;
    for (uint32_t i = 0; i < count; ++i) {
      context = ReadSymbol(&r, &b.state.colourHigh[context]);
      uint32_t v = context << 4 | ReadSymbol(&r, &b.state.bundles[kColours].tree);
      if (flags) v = v & 0x80 ? (128 - (v & 0x7F)) & 0xFF : 128 + (v & 0x7F);
      want.push_back(int(v));
    }
    RefillBundle(&b.state, kColours);
    ASSERT_EQ(b.Values(kColours), want) << round;
    EXPECT_EQ(b.state.colourContext, context);
    EXPECT_EQ(BitsConsumed(&b.state.reader), BitsConsumed(&r));
  }
}

// Pattern bytes and run lengths from random bits, whole fills and the last
// values, with data that ends early, against a code-by-code read: pattern
// bytes under tree 0 (its symbols in slot order, as streams give it, the
// bytes being the bits as they stand) and under other trees, run lengths
// under every tree with shuffled symbols.
TEST(Bundles, PatternsAndRunLengthsReadCodeByCodeAlike) {
  std::mt19937 random(4);
  for (int round = 0; round < 80; ++round) {
    const int id = round % 2 ? kRunLengths : kPatternBytes;
    uint32_t count = 1 + random() % 200;
    test::BitWriter w;
    w.Put(count, 10);
    if (id == kRunLengths) w.Bit(0);
    uint32_t randomBits = random() % (14 * count + 8);
    for (uint32_t i = 0; i < randomBits; ++i) w.Bit(random() & 1);
    BundleBench b(w);
    CodeTree& tree = b.state.bundles[id].tree;
    if (round % 4 != 0) {
      uint32_t t = round % 8 == 2 ? 0 : random() % 16;
      tree.longest = FixedTreeLongest(t);
      tree.table = FixedTreeTable(t);
      std::shuffle(tree.symbols, tree.symbols + 16, random);
      BuildLookup(&tree);
    }
    BitReader r;
    StartBitReader(&r, b.bytes.data(), uint32_t(b.bytes.size()));
    ReadBits(&r, id == kRunLengths ? 11 : 10);
    std::vector<int> want;
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t v = ReadSymbol(&r, &tree);
      want.push_back(int(id == kRunLengths ? v : v | ReadSymbol(&r, &tree) << 4));
    }
    RefillBundle(&b.state, id);
    ASSERT_EQ(b.Values(id), want) << round;
    EXPECT_EQ(BitsConsumed(&b.state.reader), BitsConsumed(&r));
  }
}

// The pair lookup against two single lookups at every index, for pairs of
// all fixed trees with shuffled symbols.
TEST(Bundles, PairLookupMatchesTwoSingleLookups) {
  std::mt19937 random(5);
  CodeTree trees[kTreeCount];
  for (uint32_t t = 0; t < kTreeCount; ++t) {
    for (int i = 0; i < 16; ++i) trees[t].symbols[i] = uint8_t(i);
    std::shuffle(trees[t].symbols, trees[t].symbols + 16, random);
    trees[t].longest = FixedTreeLongest(t);
    trees[t].table = FixedTreeTable(t);
    BuildLookup(&trees[t]);
  }
  static uint16_t pairs[1 << kPairBits];
  for (uint32_t a = 0; a < kTreeCount; ++a)
    for (uint32_t b = 0; b < kTreeCount; b += a % 4 + 1) {
      BuildPairLookup(&trees[a], &trees[b], kPairBits, pairs);
      for (uint32_t i = 0; i < (1u << kPairBits); ++i) {
        uint32_t x = trees[a].lookup[i & 127];
        uint32_t y = trees[b].lookup[(i >> (x & 63)) & 127];
        uint32_t length = (x & 63) + (y & 63);
        uint32_t want = length <= kPairBits ? (y >> 8) << 10 | (x >> 8) << 6 | length : 0;
        ASSERT_EQ(pairs[i], want) << a << " " << b << " " << i;
      }
    }
}

}  // namespace
}  // namespace kivo
