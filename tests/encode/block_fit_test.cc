// SPDX-License-Identifier: BSD-2-Clause
// Blocks from wanted pixels: run segmentations, two-colour fits and
// residues picked by the writer give back the pixels (through the writer's
// drawing and through the decoder), and the run rules of the block loop.
#include <gtest/gtest.h>

#include <random>

#include "encode/decode_harness.h"
#include "encode/video_blocks.h"

namespace kivo::encode {
namespace {

void Pixels(std::mt19937& random, uint8_t out[64], int colours) {
  uint8_t palette[8];
  for (auto& p : palette) p = uint8_t(random());
  for (int i = 0; i < 64; ++i) out[i] = palette[random() % uint32_t(colours)];
  if (random() % 2) std::fill(out + random() % 64, out + 64, palette[0]);
}

// One 8x8 luma plane in a 8x8 movie (chroma Unchanged), decoded.
std::vector<uint8_t> DecodeOne(const BlockSpec& block, const uint8_t reference[64]) {
  testing::Picture picture(8, 8, false, false);
  for (int r = 0; r < 8; ++r) std::memcpy(picture.Reference() + r * picture.pitch, reference + r * 8, 8);
  PlaneSpec luma, u, v;
  InitPlane(luma, 8, 8);
  luma.blocks[0] = block;
  InitPlane(u, 8, 8);
  InitPlane(v, 8, 8);
  FrameSpec spec;
  spec.luma = &luma;
  spec.chroma[0] = &u;
  spec.chroma[1] = &v;
  std::vector<uint8_t> data;
  EXPECT_TRUE(WriteVideoFrame(spec, data, nullptr));
  uint8_t* written = picture.Written();
  EXPECT_EQ(picture.Decode(data, 0, 0), 1);
  std::vector<uint8_t> out(64);
  for (int r = 0; r < 8; ++r) std::memcpy(out.data() + r * 8, written + r * picture.pitch, 8);
  return out;
}

TEST(BlockFits, RunsGiveBackThePixelsInEveryPattern) {
  std::mt19937 random(21);
  uint8_t none[64] = {};
  for (int trial = 0; trial < 320; ++trial) {
    uint8_t pixels[64];
    Pixels(random, pixels, 1 + trial % 5);
    BlockSpec b;
    b.type = kRuns;
    FitRuns(pixels, uint32_t(trial % 16), b);
    ASSERT_GT(b.runCount, 3);
    RowValues values;
    BitWriter bits;
    ASSERT_TRUE(EmitBlock(b, true, false, values, bits, nullptr));
    EXPECT_EQ(values.values[kRunLengthsBundle].size(), b.runCount);
    EXPECT_LE(values.values[kColoursBundle].size(), 64u);
    uint8_t drawn[64];
    ASSERT_TRUE(BlockPicture(b, kRuns, nullptr, drawn));
    ASSERT_TRUE(std::equal(drawn, drawn + 64, pixels)) << trial;
    if (trial % 8 == 0) {
      std::vector<uint8_t> decoded = DecodeOne(b, none);
      ASSERT_TRUE(std::equal(decoded.begin(), decoded.end(), pixels)) << trial;
    }
  }
}

TEST(BlockFits, RunLoopEndsAtEntry63Or64) {
  uint8_t pixels[64];
  for (int i = 0; i < 64; ++i) pixels[i] = uint8_t(i * 3);
  BlockSpec b;
  b.type = kRuns;
  b.pattern = 7;  // rows alternate direction
  b.runCount = 4;
  for (int i = 0; i < 4; ++i) b.runs[i] = {16, false};
  std::copy(pixels, pixels + 64, b.pixels);
  RowValues full;
  BitWriter bits;
  ASSERT_TRUE(EmitBlock(b, true, false, full, bits, nullptr));
  EXPECT_EQ(full.values[kColoursBundle].size(), 64u);
  EXPECT_EQ(BitCount(bits), 4u + 4);  // pattern and one flag per run
  uint8_t none[64] = {};
  std::vector<uint8_t> decoded = DecodeOne(b, none);
  EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), pixels));
  EXPECT_EQ(full.values[kColoursBundle][8], pixels[15]);  // row 1 goes right to left

  // 16 + 16 + 16 + 15 fills stop at entry 63, which takes one more colour.
  for (int i = 0; i < 4; ++i) b.runs[i] = {uint8_t(i == 3 ? 15 : 16), true};
  RowValues last;
  ASSERT_TRUE(EmitBlock(b, true, false, last, bits, nullptr));
  EXPECT_EQ(last.values[kColoursBundle].size(), 5u);
  EXPECT_EQ(last.values[kColoursBundle][4], pixels[RunPatternPosition(7, 63)]);
  decoded = DecodeOne(b, none);
  uint8_t drawn[64];
  ASSERT_TRUE(BlockPicture(b, kRuns, nullptr, drawn));
  EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), drawn));
  EXPECT_EQ(decoded[63], pixels[48]);  // entry 56, in the run filled from entry 48
  EXPECT_EQ(decoded[56], pixels[56]);  // entry 63, its own colour

  std::string error;
  b.runs[3] = {14, true};  // ends at 62: the loop would go on
  EXPECT_FALSE(EmitBlock(b, true, false, last, bits, &error));
  b.runCount = 5;
  b.runs[3] = {15, true};
  b.runs[4] = {1, true};  // after the loop has ended
  EXPECT_FALSE(EmitBlock(b, true, false, last, bits, &error));
  b.runCount = 4;
  b.runs[3] = {17, true};
  EXPECT_FALSE(EmitBlock(b, true, false, last, bits, &error));
}

TEST(BlockFits, TwoColoursAndResidues) {
  std::mt19937 random(4);
  for (int trial = 0; trial < 200; ++trial) {
    uint8_t pixels[64], prediction[64];
    Pixels(random, pixels, 2);
    for (auto& p : prediction) p = uint8_t(random());
    BlockSpec two;
    FitTwoColour(pixels, two);
    uint8_t drawn[64];
    ASSERT_TRUE(BlockPicture(two, kTwoColour, nullptr, drawn));
    ASSERT_TRUE(std::equal(drawn, drawn + 64, pixels)) << trial;

    BlockSpec moved;
    moved.type = kMovedResidue;
    FitResidue(pixels, prediction, moved);
    ASSERT_TRUE(BlockPicture(moved, kMovedResidue, prediction, drawn));
    if (ResidueOperations(moved.residue) <= 128) {
      ASSERT_TRUE(std::equal(drawn, drawn + 64, pixels)) << trial;
    }
    if (trial % 10 == 0) {
      std::vector<uint8_t> decoded = DecodeOne(moved, prediction);
      ASSERT_TRUE(std::equal(decoded.begin(), decoded.end(), drawn)) << trial;
    }
  }
  // Four levels: each sample goes to the nearer of the two colours found.
  uint8_t pixels[64];
  for (int i = 0; i < 64; ++i) pixels[i] = uint8_t((i % 4) * 10 + (i < 32 ? 0 : 200));
  BlockSpec two;
  FitTwoColour(pixels, two);
  EXPECT_EQ(two.pixels[0], 15);
  EXPECT_EQ(two.pixels[1], 215);
  EXPECT_EQ(two.mask[0], 0);
  EXPECT_EQ(two.mask[7], 0xFF);
}

}  // namespace
}  // namespace kivo::encode
