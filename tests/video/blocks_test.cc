// SPDX-License-Identifier: BSD-2-Clause
// The block types drawn through the plane loop, the changed-cell marks, and
// the malformed blocks that must stay inside their buffers.
#include <gtest/gtest.h>

#include "stream_builder.h"
#include "video/blocks.h"
#include "video/coefficients.h"

namespace kivo {
namespace {

using test::BitWriter;
using test::PlaneHarness;
using test::Refills;

BitWriter Start(uint32_t width, const Refills& r) {
  BitWriter w;
  test::IdentityTrees(w);
  test::FirstRowRefills(w, width, r);
  return w;
}

std::vector<uint8_t> Block(const PlaneHarness& p, uint32_t x, uint32_t y) {
  std::vector<uint8_t> out;
  for (uint32_t r = 0; r < 8; ++r)
    for (uint32_t c = 0; c < 8; ++c) out.push_back(p.At(x + c, y + r));
  return out;
}

TEST(Runs, FourLongRunsFillTheBlockAndReadNothingMore) {
  PlaneHarness p(8, 8);
  Refills r;
  r[kBlockTypes] = {kRuns};
  r[kRunLengths] = {15, 15, 15, 15};
  r[kColours] = {10, 20, 30, 40};
  BitWriter w = Start(8, r);
  w.Put(0, 4);  // pattern 0: columns top-down, then bottom-up
  for (int i = 0; i < 4; ++i) w.Bit(1);
  PlaneOutcome o = p.Decode(w.Bytes());
  EXPECT_TRUE(o.clean);
  for (int i = 0; i < 64; ++i) {
    uint8_t at = kRunPatterns[0][i];
    EXPECT_EQ(p.At(at % 8, at / 8), 10 * (1 + i / 16)) << i;
  }
  EXPECT_EQ(p.At(1, 7), 10);  // the second column runs bottom-up
}

TEST(Runs, EndingAtSixtyThreeTakesOneMoreColour) {
  PlaneHarness p(8, 8);
  Refills r;
  r[kBlockTypes] = {kRuns};
  r[kRunLengths] = {15, 15, 15, 14};
  r[kColours] = {1, 2, 3, 4, 99};
  BitWriter w = Start(8, r);
  w.Put(5, 4);
  for (int i = 0; i < 4; ++i) w.Bit(1);
  EXPECT_TRUE(p.Decode(w.Bytes()).clean);
  EXPECT_EQ(p.At(kRunPatterns[5][62] % 8, kRunPatterns[5][62] / 8), 4);
  EXPECT_EQ(p.At(kRunPatterns[5][63] % 8, kRunPatterns[5][63] / 8), 99);
  // Without the 64th colour in the bundle the block takes past the refill.
  r[kColours].pop_back();
  BitWriter short_ = Start(8, r);
  short_.Put(5, 4);
  for (int i = 0; i < 4; ++i) short_.Bit(1);
  PlaneHarness q(8, 8);
  PlaneOutcome o = q.Decode(short_.Bytes());
  EXPECT_FALSE(o.complete);
  EXPECT_EQ(Block(q, 0, 0), std::vector<uint8_t>(q.ref.begin(), q.ref.end()));
}

TEST(Runs, PatternSevenIsBoustrophedonAndSingleColourRunsTakeOneEach) {
  PlaneHarness p(8, 8);
  Refills r;
  r[kBlockTypes] = {kRuns};
  r[kRunLengths] = {15, 15, 15, 15};
  for (int i = 0; i < 64; ++i) r[kColours].push_back(i);
  BitWriter w = Start(8, r);
  w.Put(7, 4);
  for (int i = 0; i < 4; ++i) w.Bit(0);
  EXPECT_TRUE(p.Decode(w.Bytes()).clean);
  for (uint32_t row = 0; row < 8; ++row)
    for (uint32_t c = 0; c < 8; ++c)
      EXPECT_EQ(p.At(c, row), row % 2 ? 8 * row + 7 - c : 8 * row + c) << row << "," << c;
}


// 63 runs of one take more fill bits than one fill of the reader may hold
// (the block before shifts them off a byte boundary); the block after them
// must start at the right bit.
TEST(Runs, SixtyThreeRunsOfOneKeepTheStreamInStep) {
  PlaneHarness p(24, 8);
  Refills r;
  r[kBlockTypes] = {kRuns, kRuns, kRuns};
  r[kRunLengths] = {15, 15, 15, 13, 0};
  for (int i = 0; i < 63; ++i) r[kRunLengths].push_back(0);
  for (int i : {15, 15, 15, 15}) r[kRunLengths].push_back(i);
  for (int i = 0; i < 6; ++i) r[kColours].push_back(100);
  for (int i = 0; i < 64; ++i) r[kColours].push_back(i);
  for (int i : {200, 201, 202, 203}) r[kColours].push_back(i);
  BitWriter w = Start(24, r);
  w.Put(7, 4);
  for (int i = 0; i < 5; ++i) w.Bit(1);
  w.Put(7, 4);
  for (int i = 0; i < 63; ++i) w.Bit(uint32_t(i % 3 == 0));
  w.Put(7, 4);
  for (int i = 0; i < 4; ++i) w.Bit(1);
  EXPECT_TRUE(p.Decode(w.Bytes()).clean);
  for (uint32_t c = 0; c < 8; ++c) {
    EXPECT_EQ(p.At(8 + c, 0), c);
    EXPECT_EQ(p.At(15 - c, 7), 56 + c);
    EXPECT_EQ(p.At(16 + c, 0), 200);
    EXPECT_EQ(p.At(23 - c, 7), 203);
  }
}

TEST(Runs, ARunPastTheBlockIsCutAtSixtyFourKeepingItsColours) {
  PlaneHarness p(16, 8);
  Refills r;
  r[kBlockTypes] = {kRuns, kFill};
  r[kRunLengths] = {15, 15, 15, 11, 15};  // 48, 60, then 16 more: 76
  r[kColours] = {1, 2, 3, 4};
  for (int i = 0; i < 16; ++i) r[kColours].push_back(100 + i);
  r[kColours].push_back(77);  // the fill after it
  BitWriter w = Start(16, r);
  w.Put(7, 4);
  for (int b : {1, 1, 1, 1, 0}) w.Bit(uint32_t(b));
  PlaneOutcome o = p.Decode(w.Bytes());
  EXPECT_TRUE(o.complete);
  EXPECT_FALSE(o.clean);
  // Row 7 runs right to left: entries 56 to 59 (the run of 12) end at (4, 7),
  // entries 60 to 63 take the first four of the sixteen colours.
  EXPECT_EQ(p.At(7, 7), 4);
  EXPECT_EQ(p.At(4, 7), 4);
  EXPECT_EQ(p.At(3, 7), 100);
  EXPECT_EQ(p.At(0, 7), 103);
  EXPECT_EQ(Block(p, 8, 0), std::vector<uint8_t>(64, 77));
}

TEST(Blocks, FillTwoColourAndRaw) {
  PlaneHarness p(24, 8);
  Refills r;
  r[kBlockTypes] = {kFill, kTwoColour, kRaw};
  r[kColours] = {9, 30, 200};
  for (int i = 0; i < 64; ++i) r[kColours].push_back(255 - i);
  r[kPatternBytes] = std::vector<int>(8, 0x01);
  r[kPatternBytes][3] = 0xA5;
  EXPECT_TRUE(p.Decode(Start(24, r).Bytes()).clean);
  EXPECT_EQ(Block(p, 0, 0), std::vector<uint8_t>(64, 9));
  for (uint32_t row = 0; row < 8; ++row)
    for (uint32_t c = 0; c < 8; ++c) {
      uint32_t bits = row == 3 ? 0xA5 : 0x01;
      EXPECT_EQ(p.At(8 + c, row), (bits >> c) & 1 ? 200 : 30) << row << "," << c;
      EXPECT_EQ(p.At(16 + c, row), 255 - (8 * row + c));
    }
}

TEST(Blocks, MotionCopiesTheMovedReferenceAndMarksWhereUnchangedDoesNot) {
  PlaneHarness p(32, 16, 32, 16);
  Refills r;
  r[kBlockTypes] = {kUnchanged, kUnchanged, kMoved, kMoved};
  r[kMotionX] = {0, -5};
  r[kMotionY] = {0, 3};
  BitWriter w = Start(32, r);
  // Row 1: values 10 to 15 draw nothing and mark nothing; 12 to 15 can only
  // come from a fill.
  w.Put(4, test::TestCountBits(kBlockTypes, 32));
  w.Bit(1);
  w.Put(14, 4);
  test::Refill(w, kMotionX, 32, {});                  // both ran dry in row 0
  test::Refill(w, kMotionY, 32, {});
  PlaneOutcome o = p.Decode(w.Bytes());
  EXPECT_TRUE(o.clean);
  for (uint32_t y = 0; y < 8; ++y)
    for (uint32_t x = 0; x < 24; ++x) EXPECT_EQ(p.At(x, y), p.RefAt(x, y));
  for (uint32_t y = 0; y < 8; ++y)
    for (uint32_t x = 24; x < 32; ++x) EXPECT_EQ(p.At(x, y), p.RefAt(x - 5, y + 3));
  for (uint32_t x = 0; x < 32; ++x) EXPECT_EQ(p.At(x, 12), 0xEE);
  EXPECT_EQ(p.cells[0], 0);
  EXPECT_EQ(p.cells[1], 1);
}

TEST(Blocks, MotionOutsideTheReferencePlaneFallsBackToTheBlockItself) {
  PlaneHarness p(16, 8, 16, 8);
  Refills r;
  r[kBlockTypes] = {kMoved, kMoved};
  r[kMotionX] = {-1, 1};  // one byte before the plane; one byte past its end
  r[kMotionY] = {0, 0};
  PlaneOutcome o = p.Decode(Start(16, r).Bytes());
  EXPECT_TRUE(o.complete);
  EXPECT_FALSE(o.clean);
  EXPECT_EQ(p.dst, p.ref);
}

TEST(Blocks, MotionMayReachAcrossLinesInsideThePlane) {
  PlaneHarness p(16, 16, 16, 16);
  Refills r;
  r[kBlockTypes] = {kUnchanged, kUnchanged};
  r[kMotionX] = {-3};  // decoded a row ahead of their use
  r[kMotionY] = {-4};
  BitWriter w = Start(16, r);
  test::Refill(w, kBlockTypes, 16, {kMoved, kUnchanged});
  EXPECT_TRUE(p.Decode(w.Bytes()).clean);
  // From (0, 8) the source starts at byte 61 of the plane: the last three
  // samples of line 3, then line 4, and so on down the plane's memory.
  for (uint32_t row = 0; row < 8; ++row)
    for (uint32_t c = 0; c < 8; ++c) EXPECT_EQ(p.At(c, 8 + row), p.ref[61 + 16 * row + c]);
}

TEST(Blocks, MovedResidueAddsItsResidueModulo256) {
  PlaneHarness p(8, 8);
  p.ref[0] = 255;
  p.ref[kCoefficientScan[1]] = 10;
  Refills r;
  r[kBlockTypes] = {kMovedResidue};
  r[kMotionX] = {0};
  r[kMotionY] = {0};
  BitWriter w = Start(8, r);
  w.Put(1, 7);  // limit 1: two operations
  w.Put(0, 3);  // one pass, mask 1
  for (int b : {0, 0, 0, 1, /*0*/ 0, 0, /*1*/ 0, 1}) w.Bit(uint32_t(b));
  EXPECT_TRUE(p.Decode(w.Bytes()).clean);
  EXPECT_EQ(p.dst[0], 0);  // 255 + 1
  EXPECT_EQ(p.dst[kCoefficientScan[1]], 9);
  for (int i = 2; i < 64; ++i) EXPECT_EQ(p.dst[kCoefficientScan[i]], p.ref[kCoefficientScan[i]]);
}

TEST(Blocks, IntraAndInterDctBlocks) {
  PlaneHarness p(16, 8);
  Refills r;
  r[kBlockTypes] = {kIntra, kInter};
  r[kDcIntra] = {1024};
  r[kDcInter] = {-16};  // -2 on every predicted sample
  r[kMotionX] = {-8};
  r[kMotionY] = {0};
  BitWriter w = Start(16, r);
  w.Put(0, 4);  // intra: no AC
  w.Put(0, 4);  // quantiser 0
  w.Put(0, 4);
  w.Put(0, 4);
  EXPECT_TRUE(p.Decode(w.Bytes()).clean);
  EXPECT_EQ(Block(p, 0, 0), std::vector<uint8_t>(64, 128));
  for (uint32_t y = 0; y < 8; ++y)
    for (uint32_t x = 8; x < 16; ++x) EXPECT_EQ(p.At(x, y), uint8_t(p.RefAt(x - 8, y) - 2));
}

TEST(Blocks, MovedInOneSharedBufferReadsItsWholeSourceFirst) {
  PlaneHarness p(8, 16, 8, 16);
  std::vector<uint8_t> before = p.ref;
  Refills r;
  r[kBlockTypes] = {kUnchanged};
  r[kMotionX] = {0};
  r[kMotionY] = {-4};
  BitWriter w = Start(8, r);
  test::Refill(w, kBlockTypes, 8, {kMoved});
  EXPECT_TRUE(p.Decode(w.Bytes(), /*sharedBuffer=*/true).clean);
  for (uint32_t i = 0; i < 64; ++i) EXPECT_EQ(p.ref[64 + i], before[32 + i]) << i;
  for (uint32_t i = 0; i < 64; ++i) EXPECT_EQ(p.ref[i], before[i]);
}

TEST(Doubled, EvenRowsDrawOddRowsOnlyMark) {
  PlaneHarness p(32, 32, 32, 32);
  Refills r;
  r[kBlockTypes] = {kUnchanged, kDoubled, kUnchanged};
  r[kDoubledTypes] = {kFill};
  r[kColours] = {61};
  r[kPatternBytes] = {};  // finished: a fill must not take pattern bytes
  BitWriter w = Start(32, r);
  test::Refill(w, kBlockTypes, 32, {kUnchanged, kDoubled, kUnchanged});
  test::Refill(w, kDoubledTypes, 32, {});
  test::Refill(w, kColours, 32, {});
  test::Refill(w, kBlockTypes, 32, {kUnchanged, kUnchanged, kUnchanged, kUnchanged});
  test::Refill(w, kBlockTypes, 32, {kDoubled, kUnchanged, kUnchanged});
  EXPECT_TRUE(p.Decode(w.Bytes()).clean);
  for (uint32_t y = 0; y < 16; ++y)
    for (uint32_t x = 0; x < 32; ++x)
      EXPECT_EQ(p.At(x, y), x >= 8 && x < 24 ? 61 : p.RefAt(x, y)) << x << "," << y;
  // Row 3 is odd: its doubled block draws nothing and leaves row 2's lines.
  for (uint32_t x = 0; x < 16; ++x) EXPECT_EQ(p.At(x, 28), 0xEE);
  EXPECT_EQ(p.At(16, 28), p.RefAt(16, 28));
  // One map row per two block rows: rows 0 and 1 mark cells 0 and 1 (the
  // doubled block straddles them), row 3 marks cell 0 of the second map row.
  EXPECT_EQ(p.cells, (std::vector<uint8_t>{1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                           0, 0}));
}

TEST(Doubled, SubTypesRunsIntraTwoColourRawAndTheOnesThatDrawNothing) {
  PlaneHarness p(80, 16, 80, 16);
  Refills r;
  r[kBlockTypes] = {kDoubled, kDoubled, kDoubled, kDoubled, kDoubled};
  r[kDoubledTypes] = {kRuns, kIntra, kTwoColour, kRaw, kMoved};
  r[kRunLengths] = {15, 15, 15, 15};
  r[kColours] = {1, 2, 3, 4, 40, 50};
  for (int i = 0; i < 64; ++i) r[kColours].push_back(i * 3);
  r[kPatternBytes] = {0x0F, 0xF0, 0, 0, 0, 0, 0, 0xFF};
  r[kDcIntra] = {1024};
  BitWriter w = Start(80, r);
  w.Put(5, 4);  // runs: pattern 5, four fills
  for (int i = 0; i < 4; ++i) w.Bit(1);
  w.Put(0, 4);  // intra: no AC, quantiser 0
  w.Put(0, 4);
  test::Refill(w, kBlockTypes, 80, {kDoubled, kDoubled, kDoubled, kDoubled, kDoubled});
  for (int id : {kDoubledTypes, kColours, kPatternBytes, kDcIntra, kRunLengths})
    test::Refill(w, id, 80, {});  // all ran dry in row 0
  EXPECT_TRUE(p.Decode(w.Bytes()).clean);
  for (uint32_t y = 0; y < 16; ++y) {
    for (uint32_t x = 0; x < 16; ++x) {
      uint32_t sx = x / 2, sy = y / 2;
      // Pattern 5 fills the left half top-down, then the right half.
      uint32_t entry = 0;
      while (kRunPatterns[5][entry] != sy * 8 + sx) ++entry;
      EXPECT_EQ(p.At(x, y), 1 + entry / 16) << x << "," << y;
      EXPECT_EQ(p.At(16 + x, y), 128);
      const uint8_t bits[8] = {0x0F, 0xF0, 0, 0, 0, 0, 0, 0xFF};
      EXPECT_EQ(p.At(32 + x, y), (bits[sy] >> sx) & 1 ? 50 : 40) << x << "," << y;
      EXPECT_EQ(p.At(48 + x, y), 3 * (sy * 8 + sx));
      EXPECT_EQ(p.At(64 + x, y), 0xEE);  // sub-type 2 draws nothing
    }
  }
}

TEST(Doubled, ChromaMarksOneCellPerBlockAndAdvancesEveryRow) {
  PlaneHarness p(24, 16, 24, 16, /*step=*/2);
  Refills r;
  r[kBlockTypes] = {kUnchanged, kDoubled};
  r[kDoubledTypes] = {kFill};
  r[kColours] = {5, 6};
  BitWriter w = Start(24, r);
  test::Refill(w, kBlockTypes, 24, {kFill, kDoubled});
  test::Refill(w, kDoubledTypes, 24, {});
  EXPECT_TRUE(p.Decode(w.Bytes()).clean);
  // Map rows of three cells: row 0 marks cells 1 and 2 (the doubled block),
  // row 1 cell 0 (the fill) and again 1 and 2.
  EXPECT_EQ(std::vector<uint8_t>(p.cells.begin(), p.cells.begin() + 7),
            (std::vector<uint8_t>{0, 1, 1, 1, 1, 1, 0}));
  EXPECT_EQ(p.At(0, 8), 6);
  EXPECT_EQ(p.At(8, 8), 5);  // the doubled fill's lower half
}

TEST(Doubled, InTheLastColumnOrRowIsCutToTheDecodedArea) {
  // Odd block counts both ways: the doubled block at (16, 16) would reach
  // eight columns and eight lines past the area. The buffer is exact, so a
  // sanitizer sees any store past it.
  PlaneHarness p(24, 24, 24, 24, /*step=*/2);
  Refills r;
  r[kBlockTypes] = {kUnchanged, kUnchanged, kUnchanged};
  r[kDoubledTypes] = {kFill};
  r[kColours] = {33};
  BitWriter w = Start(24, r);
  test::Refill(w, kBlockTypes, 24, {kUnchanged, kUnchanged, kUnchanged});
  test::Refill(w, kBlockTypes, 24, {kUnchanged, kUnchanged, kDoubled});
  PlaneOutcome o = p.Decode(w.Bytes());
  EXPECT_TRUE(o.complete);
  EXPECT_FALSE(o.clean);
  EXPECT_EQ(Block(p, 16, 16), std::vector<uint8_t>(64, 33));
  EXPECT_EQ(p.At(15, 23), p.RefAt(15, 23));
  // Chroma map: three cells a row, three rows, then the spare bytes.
  EXPECT_EQ(p.cells[8], 1);
  for (size_t i = 9; i < p.cells.size(); ++i) EXPECT_EQ(p.cells[i], 0) << i;
}

TEST(MalformedPlane, ValuesPastTheRefillStopThePlaneAtThatBlock) {
  PlaneHarness p(24, 16);
  Refills r;
  r[kBlockTypes] = {kFill, kFill, kFill, kUnchanged};  // one more than row 0 takes
  r[kColours] = {7, 8};                                // but only two colours
  PlaneOutcome o = p.Decode(Start(24, r).Bytes());
  EXPECT_FALSE(o.complete);
  EXPECT_EQ(Block(p, 0, 0), std::vector<uint8_t>(64, 7));
  EXPECT_EQ(Block(p, 8, 0), std::vector<uint8_t>(64, 8));
  for (uint32_t y = 0; y < 16; ++y)
    for (uint32_t x = y < 8 ? 16 : 0; x < 24; ++x) ASSERT_EQ(p.At(x, y), p.RefAt(x, y));
}

TEST(MalformedPlane, AStreamThatEndsEarlyStopsWhereItRanOut) {
  PlaneHarness p(16, 16);
  Refills r;
  r[kBlockTypes] = {kRaw, kRaw, kRaw, kRaw};
  for (int i = 0; i < 256; ++i) r[kColours].push_back(i);
  BitWriter w = Start(16, r);
  std::vector<uint8_t> bytes = w.Bytes();
  size_t needed = (w.bits + 7) / 8;
  for (size_t keep : {bytes.size(), needed, needed - 1, needed - 9, size_t(40), size_t(3),
                      size_t(0)}) {
    PlaneHarness q(16, 16);
    // An exact copy: a sanitizer sees any read past it.
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + keep);
    PlaneOutcome o = q.Decode(cut);
    EXPECT_EQ(o.complete, keep >= needed) << keep;
    if (keep >= needed) {
      EXPECT_EQ(q.At(15, 15), 255);
    }
    // Whatever was not decoded repeats the reference.
    if (keep < 100) {
      EXPECT_EQ(q.dst, q.ref) << keep;
    }
  }
}

}  // namespace
}  // namespace kivo
