// SPDX-License-Identifier: BSD-2-Clause
// The encoder's choices: every block type is used where it pays, raw blocks
// are lossless, quality and data rate trade as they should, and the rate
// control keeps every second of the movie within its target.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "encode/video_encoder.h"
#include "encode/video_encoder_content.h"

namespace kivo::encode {
namespace {

using testing::MakePicture;
using testing::Scene;

VideoCoderSettings Settings(uint32_t w, uint32_t h, uint32_t quality, uint32_t target = 0) {
  VideoCoderSettings s;
  s.width = w;
  s.height = h;
  s.quality = quality;
  s.targetBytesPerSecond = target;
  s.rateNum = 10;
  return s;
}

double LumaPsnr(const VideoCoder& coder, const SourcePicture& p) {
  const uint8_t* coded = CodedPlane(coder, 1);
  double sum = 0;
  for (uint32_t y = 0; y < p.height; ++y)
    for (uint32_t x = 0; x < p.width; ++x) {
      const double d = double(coded[size_t(y) * coder.planes[1].width + x]) - p.luma[size_t(y) * p.width + x];
      sum += d * d;
    }
  const double mse = sum / (double(p.width) * p.height);
  return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

struct Outcome {
  std::vector<uint32_t> sizes;
  double psnr = 0;  // mean over the frames
  uint64_t counts[16] = {};
};

Outcome Encode(const VideoCoderSettings& s, Scene scene, uint32_t frames) {
  Outcome run;
  VideoCoder coder;
  std::string error;
  EXPECT_TRUE(OpenVideoCoder(coder, s, &error)) << error;
  std::vector<uint8_t> out;
  for (uint32_t t = 0; t < frames; ++t) {
    const SourcePicture p = MakePicture(scene, s.width, s.height, t);
    bool key = false;
    EXPECT_TRUE(EncodeVideoPicture(coder, p, false, out, &key, &error)) << error;
    run.sizes.push_back(uint32_t(out.size()));
    run.psnr += LumaPsnr(coder, p) / frames;
    for (int plane = 0; plane < 4; ++plane)
      for (int type = 0; type < 16; ++type) run.counts[type] += coder.counts[plane][type];
  }
  return run;
}

TEST(VideoEncoderDecisions, EveryBlockTypeIsChosenSomewhere) {
  uint64_t counts[16] = {};
  const Scene scenes[] = {Scene::kPan, Scene::kFade, Scene::kNoise, Scene::kFlat, Scene::kText, Scene::kMixed};
  for (Scene scene : scenes)
    for (uint32_t quality : {30u, 70u, 100u}) {
      Outcome run = Encode(Settings(96, 64, quality), scene, 4);
      for (int t = 0; t < 16; ++t) counts[t] += run.counts[t];
    }
  const char* names[10] = {"Unchanged", "Doubled", "Moved",    "Runs",      "MovedResidue",
                           "Intra",     "Fill",    "Inter", "TwoColour", "Raw"};
  for (int t = 0; t < 10; ++t) EXPECT_GT(counts[t], 0u) << names[t];
  for (int t = 10; t < 16; ++t) EXPECT_EQ(counts[t], 0u) << "type " << t;
}

TEST(VideoEncoderDecisions, RawBlocksAreLosslessAndTheBestQualityIsExactOnNoise) {
  VideoCoderSettings s = Settings(64, 48, 100);
  VideoCoder coder;
  std::string error;
  ASSERT_TRUE(OpenVideoCoder(coder, s, &error)) << error;
  std::vector<uint8_t> out;
  uint32_t rawSeen = 0;
  for (uint32_t t = 0; t < 3; ++t) {
    const SourcePicture p = MakePicture(Scene::kNoise, 64, 48, t);
    ASSERT_TRUE(EncodeVideoPicture(coder, p, false, out, nullptr, &error)) << error;
    const VideoCoderPlane& luma = coder.planes[1];
    const uint8_t* coded = CodedPlane(coder, 1);
    for (uint32_t by = 0; by < 6; ++by)
      for (uint32_t bx = 0; bx < 8; ++bx) {
        if (luma.spec.blocks[by * 8 + bx].type != 9) continue;
        ++rawSeen;
        for (uint32_t y = 0; y < 8; ++y)
          for (uint32_t x = 0; x < 8; ++x)
            ASSERT_EQ(coded[(by * 8 + y) * 64 + bx * 8 + x], p.luma[(by * 8 + y) * 64 + bx * 8 + x]);
      }
  }
  // Noise has no cheaper exact coding: most blocks are raw.
  EXPECT_GT(rawSeen, 3u * 48 / 2);
}

TEST(VideoEncoderDecisions, HigherQualityCostsMoreAndLooksBetter) {
  Outcome low = Encode(Settings(96, 64, 20), Scene::kPan, 5);
  Outcome mid = Encode(Settings(96, 64, 60), Scene::kPan, 5);
  Outcome high = Encode(Settings(96, 64, 95), Scene::kPan, 5);
  uint64_t bytes[3] = {};
  for (int i = 0; i < 5; ++i) {
    bytes[0] += low.sizes[i];
    bytes[1] += mid.sizes[i];
    bytes[2] += high.sizes[i];
  }
  EXPECT_LT(bytes[0], bytes[1]);
  EXPECT_LT(bytes[1], bytes[2]);
  EXPECT_LT(low.psnr, mid.psnr);
  EXPECT_LT(mid.psnr, high.psnr);
  EXPECT_GT(high.psnr, 38.0);
}

// Largest sum of `window` consecutive frame sizes.
uint64_t BusiestWindow(const std::vector<uint32_t>& sizes, size_t window) {
  uint64_t best = 0, sum = 0;
  for (size_t i = 0; i < sizes.size(); ++i) {
    sum += sizes[i];
    if (i >= window) sum -= sizes[i - window];
    best = std::max(best, sum);
  }
  return best;
}

TEST(VideoEncoderDecisions, RateControlHoldsEverySecondNearTheTarget) {
  const Scene scenes[] = {Scene::kMixed, Scene::kNoise, Scene::kPan};
  for (Scene scene : scenes) {
    for (uint32_t target : {12000u, 30000u}) {
      SCOPED_TRACE(std::to_string(int(scene)) + " at " + std::to_string(target));
      Outcome run = Encode(Settings(96, 64, 100, target), scene, 30);
      const uint64_t busiest = BusiestWindow(run.sizes, 10);
      EXPECT_LE(busiest, target);
      // The noise and mixed scenes could use far more: the target is used.
      if (scene != Scene::kPan) {
        EXPECT_GT(busiest, target * 8 / 10);
      }
    }
  }
  // More data rate buys a better picture.
  Outcome small = Encode(Settings(96, 64, 100, 12000), Scene::kMixed, 20);
  Outcome large = Encode(Settings(96, 64, 100, 40000), Scene::kMixed, 20);
  EXPECT_LT(small.psnr + 3, large.psnr);
}

TEST(VideoEncoderDecisions, TheMovieIsTheSameForAnyNumberOfThreads) {
  // Odd sizes (a last block row without a pair), alpha, a data-rate target
  // that makes frames be coded again, and moving content for the predictors.
  std::vector<std::vector<uint8_t>> first;
  for (uint32_t threads : {1u, 2u, 3u}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    VideoCoderSettings s = Settings(203, 149, 90, 60000);
    s.alpha = true;
    s.threads = threads;
    VideoCoder coder;
    std::string error;
    ASSERT_TRUE(OpenVideoCoder(coder, s, &error)) << error;
    for (uint32_t t = 0; t < 8; ++t) {
      std::vector<uint8_t> out;
      ASSERT_TRUE(EncodeVideoPicture(coder, MakePicture(Scene::kMixed, 203, 149, t, true), false, out, nullptr,
                                     &error))
          << error;
      if (threads == 1) first.push_back(out);
      else ASSERT_TRUE(out == first[t]) << "frame " << t;
    }
  }
}

TEST(VideoEncoderDecisions, SettingsAndPicturesAreChecked) {
  VideoCoder coder;
  std::string error;
  VideoCoderSettings s = Settings(64, 48, 50);
  s.revision = 'j';
  EXPECT_FALSE(OpenVideoCoder(coder, s, &error));
  s = Settings(0, 48, 50);
  EXPECT_FALSE(OpenVideoCoder(coder, s, &error));
  s = Settings(64, 48, 50);
  s.rateDen = 0;
  EXPECT_FALSE(OpenVideoCoder(coder, s, &error));
  std::vector<uint8_t> out;
  EXPECT_FALSE(EncodeVideoPicture(coder, MakePicture(Scene::kFlat, 64, 48, 0), false, out, nullptr, &error));
  ASSERT_TRUE(OpenVideoCoder(coder, Settings(64, 48, 50), &error));
  EXPECT_EQ(CodedPlane(coder, 1), nullptr);  // nothing coded yet
  EXPECT_FALSE(EncodeVideoPicture(coder, MakePicture(Scene::kFlat, 64, 40, 0), false, out, nullptr, &error));
  ASSERT_TRUE(EncodeVideoPicture(coder, MakePicture(Scene::kFlat, 64, 48, 0), false, out, nullptr, &error));
  EXPECT_NE(CodedPlane(coder, 1), nullptr);
  EXPECT_EQ(CodedPlane(coder, 0), nullptr);  // no alpha plane
}

}  // namespace
}  // namespace kivo::encode
