// SPDX-License-Identifier: BSD-2-Clause
// The writer side: run plans (valid, smallest widths, fewest bits), the
// checks on given runs, band quantiser codes, quantising a channel, packed
// floats of the writer and the chunk layout.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "audio/audio_streams.h"
#include "encode/audio_writer.h"

namespace kivo {
namespace {

using encode::AudioRun;

uint32_t RunLength(const AudioRun& r) { return r.code < 0 ? 8 : 8 * kCoefficientRunLengths[r.code]; }

// Random runs over the values, each as narrow as its values allow.
std::vector<AudioRun> RandomPlan(const std::vector<int32_t>& values, std::mt19937& gen) {
  std::vector<AudioRun> runs;
  const uint32_t n = static_cast<uint32_t>(values.size());
  for (uint32_t j = 2; j < n;) {
    AudioRun r{static_cast<int32_t>(gen() % 17) - 1, 0};
    const uint32_t end = std::min(j + RunLength(r), n);
    for (uint32_t i = j; i < end; ++i) r.width = std::max(r.width, encode::ValueWidth(values[i]));
    runs.push_back(r);
    j = end;
  }
  return runs;
}

TEST(AudioRunPlans, ValidNarrowAndNoLongerThanOthers) {
  std::mt19937 gen(17);
  for (uint32_t n : {512u, 1024u, 4096u}) {
    for (uint32_t round = 0; round < 6; ++round) {
      std::vector<int32_t> values(n, 0);
      // Stretches of silence, quiet and loud parts.
      for (uint32_t i = 2; i < n; ++i) {
        const uint32_t part = (i / 97 + round) % 4;
        if (part == 1) values[i] = int32_t(gen() % 7) - 3;
        if (part == 2) values[i] = int32_t(gen() % 4001) - 2000;
        if (part == 3 && gen() % 50 == 0) values[i] = 32767;
      }
      const std::vector<AudioRun> plan = encode::PlanRuns(values);
      const uint64_t bits = encode::RunBits(values, plan);
      ASSERT_GT(bits, 0u);
      uint32_t j = 2;
      for (const AudioRun& r : plan) {
        const uint32_t end = std::min(j + RunLength(r), n);
        uint32_t w = 0;
        for (uint32_t i = j; i < end; ++i) w = std::max(w, encode::ValueWidth(values[i]));
        EXPECT_EQ(r.width, w) << "run at " << j;
        j = end;
      }
      EXPECT_EQ(j, n);
      for (int other = 0; other < 200; ++other) {
        const std::vector<AudioRun> p = RandomPlan(values, gen);
        ASSERT_LE(bits, encode::RunBits(values, p));
      }
    }
  }
  // Silence is one long run and its header.
  EXPECT_EQ(encode::RunBits(std::vector<int32_t>(512, 0), encode::PlanRuns(std::vector<int32_t>(512, 0))), 9u);
}

TEST(AudioRunPlans, GivenRunsMustFitTheValues) {
  std::vector<int32_t> values(64, 0);
  values[5] = -4;  // 3 bits
  EXPECT_EQ(encode::RunBits(values, {{-1, 2}, {5, 0}}), 0u);          // too narrow
  EXPECT_EQ(encode::RunBits(values, {{-1, 3}, {-1, 0}}), 0u);         // ends short of N
  EXPECT_EQ(encode::RunBits(values, {{-1, 3}, {5, 0}, {-1, 0}}), 0u);  // runs past N
  // 1+4 + 8 x 3 + 1 sign, then 5+4 for the rest.
  EXPECT_EQ(encode::RunBits(values, {{-1, 3}, {5, 0}}), 5u + 24 + 1 + 9);
  const AudioLayout layout = test::Layout(8000, 1, true);
  encode::AudioChannelCode code = test::ZeroChannel(layout);
  code.values[100] = 40000;  // wider than any run
  EXPECT_TRUE(encode::WriteAudioBlock(layout, &code).empty());
}

TEST(AudioQuantisers, CodesAndChannelQuantising) {
  EXPECT_EQ(encode::QuantiserCode(0.5f), 0u);
  EXPECT_EQ(encode::QuantiserCode(1e30f), 255u);
  for (float step : {1.0001f, 3.0f, 17.5f, 1000.0f, 1e9f}) {
    const uint32_t q = encode::QuantiserCode(step);
    EXPECT_GE(QuantiserValue(q), step);
    EXPECT_LT(QuantiserValue(q - 1), step);
  }
  const AudioLayout layout = test::Layout(22050, 1, false);
  std::mt19937 gen(6);
  std::uniform_real_distribution<float> dist(-5000.0f, 5000.0f);
  std::vector<float> k(layout.blockSize);
  for (float& v : k) v = dist(gen);
  k[7] = 1e9f;
  encode::AudioChannelCode code;
  for (uint32_t b = 0; b < kMaxAudioBands; ++b) code.bands[b] = static_cast<uint8_t>(3 * b);
  encode::QuantiseChannel(layout, k.data(), &code);
  EXPECT_EQ(PackedFloatValue(code.k0), k[0]);
  EXPECT_EQ(code.values[7], 32767);
  for (uint32_t i = 2; i < layout.blockSize; ++i) {
    if (i == 7) continue;
    const float q = test::BandQuantiser(layout, code, i);
    ASSERT_LE(std::fabs(code.values[i] * q - k[i]), q / 2 * 1.0001f) << i;
  }
}

TEST(AudioChunkWriter, SizeWordThenBlocks) {
  const std::vector<uint8_t> chunk = encode::BuildAudioChunk(0x01020304, {{1, 2, 3, 4}, {5, 6, 7, 8}});
  EXPECT_EQ(chunk, (std::vector<uint8_t>{4, 3, 2, 1, 1, 2, 3, 4, 5, 6, 7, 8}));
}

}  // namespace
}  // namespace kivo
