// SPDX-License-Identifier: BSD-2-Clause
// The encoder's search helpers: the coefficient bit counter against the
// stream writer, the run cost against the writer's run fit, motion search on
// shifted pictures, and the forward transform against the decoder's inverse.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "encode/bit_writer.h"
#include "encode/video_coefficients.h"
#include "encode/video_dct.h"
#include "encode/video_search.h"
#include "encode/video_writer.h"

namespace kivo::encode {
namespace {

TEST(VideoEncoderSearch, CoefficientBitsEqualTheWriter) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 3000; ++trial) {
    int16_t block[64] = {};
    const int count = trial % 64;
    const int width = 1 + trial % 14;
    for (int i = 0; i < count; ++i) {
      const int m = int(random() % (1u << width));
      block[1 + random() % 63] = int16_t(random() & 1 ? -m : m);
    }
    BitWriter w;
    ASSERT_TRUE(WriteCoefficients(w, block));
    ASSERT_EQ(CoefficientCodeBits(block), int(BitCount(w))) << "trial " << trial;
  }
  int16_t bad[64] = {};
  bad[5] = -32768;
  EXPECT_EQ(CoefficientCodeBits(bad), -1);
}

TEST(VideoEncoderSearch, RunBitsFollowTheWritersRunFit) {
  std::mt19937 random(3);
  for (int trial = 0; trial < 400; ++trial) {
    uint8_t pixels[64];
    const int values = 1 + trial % 5;
    for (auto& p : pixels) p = uint8_t(40 * (random() % values));
    for (uint32_t pattern = 0; pattern < 16; ++pattern) {
      BlockSpec fit;
      FitRuns(pixels, pattern, fit);
      double expected = 0;
      int covered = 0;
      for (int r = 0; r < fit.runCount; ++r) {
        expected += 2 + (fit.runs[r].fill ? 1 : fit.runs[r].length) * 10;
        covered += fit.runs[r].length;
      }
      if (covered == 63) expected += 10;
      ASSERT_EQ(RunsBits(pixels, pattern, 2, 10, 1e9), expected) << trial << " " << pattern;
      // A limit stops the count but never reports less than the limit.
      EXPECT_GE(RunsBits(pixels, pattern, 2, 10, expected / 2), expected / 2);
    }
  }
}

TEST(VideoEncoderSearch, MotionSearchFindsShiftsWithinRange) {
  const uint32_t w = 96, h = 80;
  std::vector<uint8_t> ref(w * h);
  std::mt19937 random(11);
  for (auto& v : ref) v = uint8_t(random());
  SearchPlane plane{ref.data(), w, h, w};
  const int shifts[][2] = {{0, 0}, {3, -2}, {-15, 15}, {15, -15}, {7, 11}, {-9, -4}};
  for (const auto& s : shifts) {
    for (bool exhaustive : {false, true}) {
      const int x = 40, y = 32;
      uint8_t want[64];
      ReferenceBlock(plane, x + s[0], y + s[1], want);
      // The true vector as a predictor, as the neighbours would give it on a pan.
      MotionVector predictor{int8_t(s[0]), int8_t(s[1])};
      uint32_t sad = 1;
      MotionVector mv = SearchMotion(want, plane, x, y, &predictor, exhaustive ? 0 : 1, exhaustive, &sad);
      EXPECT_EQ(sad, 0u);
      EXPECT_EQ(mv.dx, s[0]);
      EXPECT_EQ(mv.dy, s[1]);
    }
  }
  // Near the corner no vector leaves the picture, even a predictor that would.
  uint8_t want[64];
  ReferenceBlock(plane, 0, 0, want);
  MotionVector outside{-5, -5};
  for (bool exhaustive : {false, true}) {
    MotionVector mv = SearchMotion(want, plane, 0, 0, &outside, 1, exhaustive, nullptr);
    EXPECT_GE(mv.dx, 0);
    EXPECT_GE(mv.dy, 0);
  }
}

TEST(VideoEncoderSearch, SmoothMotionIsFoundWithoutPredictors) {
  const uint32_t w = 128, h = 96;
  std::vector<uint8_t> ref(w * h);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      ref[y * w + x] = uint8_t(128 + 100 * std::sin(x * 0.05) * std::cos(y * 0.04 + 0.3));
  SearchPlane plane{ref.data(), w, h, w};
  uint8_t want[64];
  ReferenceBlock(plane, 60 + 6, 40 - 5, want);
  uint32_t sad = 1;
  MotionVector mv = SearchMotion(want, plane, 60, 40, nullptr, 0, false, &sad);
  EXPECT_EQ(sad, 0u);
  EXPECT_EQ(mv.dx, 6);
  EXPECT_EQ(mv.dy, -5);
}

TEST(VideoEncoderSearch, ForwardTransformRecoversCoefficientsFromTheirPicture) {
  // Pictures the decoder makes from a few coefficients give those
  // coefficients back: the transform's scale and basis match the inverse.
  std::mt19937 random(5);
  for (uint32_t q : {6u, 9u, 12u}) {
    float recip[64];
    for (uint32_t i = 0; i < 64; ++i) recip[i] = float(2048.0 / IntraQuantiser(q, i));
    int recovered = 0;
    for (int trial = 0; trial < 200; ++trial) {
      int16_t block[64] = {};
      block[0] = int16_t(8 * 128 / (q + 1));  // a middle level
      int32_t result[64];
      for (int i = 0; i < 3; ++i) block[1 + random() % 63] = int16_t(int(random() % 5) - 2);
      int32_t table[64];
      for (uint32_t i = 0; i < 64; ++i) table[i] = IntraQuantiser(q, i);
      InverseTransform(block, table, result);
      bool inRange = true;
      int16_t levels[64];
      for (int i = 0; i < 64; ++i) {
        inRange = inRange && result[i] >= 0 && result[i] <= 255;
        levels[i] = int16_t(result[i]);
      }
      if (!inRange) continue;
      float transformed[64];
      int16_t back[64];
      ForwardTransform(levels, transformed);
      Quantise(transformed, recip, 0.0f, 0, 2047, back);
      for (int i = 0; i < 64; ++i) ASSERT_EQ(back[i], block[i]) << "q " << q << " trial " << trial << " at " << i;
      ++recovered;
    }
    EXPECT_GT(recovered, 100);
  }
}

}  // namespace
}  // namespace kivo::encode
