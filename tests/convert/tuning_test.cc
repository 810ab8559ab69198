// SPDX-License-Identifier: BSD-2-Clause
// The tuning words: how each learns its faster choice from the ticks it is
// given, ages once decided, and what the walk does with it, on a virtual
// tick counter.
#include <gtest/gtest.h>

#include <random>

#include "convert/converters.h"
#include "convert/harness.h"
#include "convert/conversion_tables.h"
#include "base/processor.h"
#include "convert/tick_counter.h"
#include "convert/row_walk.h"
#include "convert/tuning.h"

namespace kivo::test {
namespace {

struct Tuning : ConvertFixture {};

TEST_F(Tuning, TheProcessorsCounterIsProbedAndRuns) {
  SetTickSource(nullptr, 0);
#if defined(__i386__) || defined(__x86_64__)
  ASSERT_EQ(TickCounterAvailable(), 1);  // neither Linux nor Wine forbids it
  uint32_t first = ReadTicks();
  volatile uint32_t spin = 0;
  for (int i = 0; i < 100000; ++i) spin = spin + 1;
  EXPECT_NE(ReadTicks(), first);
#else
  EXPECT_EQ(TickCounterAvailable(), 0);
#endif
}

TEST_F(Tuning, LeadWordDecidesAfterTheCounterRunsOutEitherWay) {
  // The source-aligned count always faster: 17 wins from counter 16.
  uint32_t w = AgeLeadWord(0, 10);
  EXPECT_EQ(w, kLeadStart);
  int pairs = 0;
  while (!WordDecided(w) && pairs < 200) {
    w = LearnLead(w, LeadUsesSourceCount(w) ? 50 : 100);
    ++pairs;
  }
  EXPECT_EQ(w, 3u);
  EXPECT_EQ(pairs, 2 * 17);
  // The destination-aligned one never slower: 16 rounds up to 31, then one more.
  w = kLeadStart;
  pairs = 0;
  while (!WordDecided(w) && pairs < 200) {
    w = LearnLead(w, 100);
    ++pairs;
  }
  EXPECT_EQ(w, 1u);
  EXPECT_EQ(pairs, 2 * 16);
  // The first timing of a round is kept for the second to be compared with.
  EXPECT_EQ(LearnLead(kLeadStart, 777), (777u << 8) | kLeadStart | 2);
}

TEST_F(Tuning, DecidedWordsAgeByRowsAndAreLearntAgain) {
  EXPECT_EQ(AgeLeadWord(3, 100), 403u);
  EXPECT_EQ(AgeLeadWord(8191, 100), 8591u);
  EXPECT_EQ(AgeLeadWord(8193, 100), kLeadStart);
  EXPECT_EQ(AgeLeadWord(kLeadStart + 2, 100), kLeadStart + 2);  // learning: left alone
  EXPECT_EQ(AgeDoubleWord(0, 5), kDoubleStart);
  EXPECT_EQ(AgeDoubleWord(1, 5), 21u);
  EXPECT_EQ(AgeDoubleWord(8195, 5), kDoubleStart);
  EXPECT_TRUE(LeadUsesSourceCount(AgeLeadWord(3, 1000)));
  EXPECT_FALSE(DoubleConvertsTwice(AgeDoubleWord(3, 1000)));
  EXPECT_TRUE(DoubleConvertsTwice(AgeDoubleWord(1, 1000)));
}

TEST_F(Tuning, DoubleWordAlternatesMethodsUntilDecided) {
  uint32_t w = kDoubleStart;
  EXPECT_TRUE(DoubleConvertsTwice(w));
  w = LearnDouble(w, 100);
  EXPECT_FALSE(DoubleConvertsTwice(w));
  EXPECT_EQ(w >> 8, 100u);
  int calls = 1;
  while (!WordDecided(w) && calls < 300) {
    w = LearnDouble(w, DoubleConvertsTwice(w) ? 100 : 60);  // copying is faster
    ++calls;
  }
  EXPECT_EQ(w, 3u);
  EXPECT_EQ(calls, 2 * 33);
  EXPECT_FALSE(DoubleConvertsTwice(w));
  w = kDoubleStart;
  calls = 0;
  while (!WordDecided(w) && calls < 300) {
    w = LearnDouble(w, DoubleConvertsTwice(w) ? 60 : 100);
    ++calls;
  }
  EXPECT_EQ(w, 1u);
  EXPECT_EQ(calls, 2 * 32);
}

// A virtual counter: every read moves it by the next step of a pattern, so a
// conversion's timings come out as the test wants them.
std::vector<uint32_t> steps;
size_t stepAt = 0;
uint32_t now = 0;
uint32_t PatternTicks() {
  now += steps[stepAt++ % steps.size()];
  return now;
}

// A routine set's words: (fast * 4 + variant) * 2 + gray, variant 0 normal,
// 2 for 2x height, 3 for both doubled.
uint32_t Set(bool fast, uint32_t variant) { return ((fast ? 4 : 0) + variant) * 2; }
uint32_t& LeadWord(int code, bool fast, uint32_t variant = 0) {
  return DescriptorFor(code, false)->leadTuning[Set(fast, variant)];
}
uint32_t& DoubleWord(int code, bool fast, uint32_t variant) {
  return DescriptorFor(code, false)->doubleTuning[Set(fast, variant)];
}

// Converts flat planes of Y 250 to code 3 at x = 1 with the SSE2 family and
// gives back the red byte of every pixel: 255 where a group wrote it (lane
// arithmetic), 254 where a single-pixel routine did.
std::vector<uint8_t> RedBytes(uint32_t width, uint32_t height, uint32_t option) {
  Planes p = FlatPlanes(width, height, 250, 128, 128, false);
  uint32_t rows = option == 1 ? 2 * height : height;
  int32_t pitch = int32_t((1 + width) * 4);
  std::vector<uint8_t> buffer(size_t(pitch) * rows + 32);
  uint8_t* base = buffer.data() + (32 - reinterpret_cast<uintptr_t>(buffer.data()) % 32) % 32;
  SetCpuFeatureMask(kCpuMmx | kCpuSse2);
  PrepareConversionTables(3);
  ConvertTarget to = {base, pitch, 1, 0};
  ConvertSource from = {p.block.data(), nullptr, p.pitch, p.rows, width, height};
  ConvertFull(DescriptorFor(3, false), to, from, 0, 0, 3 | option << 28);
  std::vector<uint8_t> red;
  for (uint32_t r = 0; r < rows; ++r)
    for (uint32_t c = 0; c < width; ++c) red.push_back(base[size_t(r) * pitch + 4 * (1 + c) + 2]);
  return red;
}

TEST_F(Tuning, TheWalkLearnsWhichLeadingCountToStartGroupsAfter) {
  if (!(DetectedCpuFeatures() & kCpuSse2)) GTEST_SKIP() << "needs a vector family";
  // Ticks before and after each pair: the destination-aligned count (three
  // single pixels first) takes 100, the source-aligned one (none) 50.
  steps = {1, 100, 1, 50};
  stepAt = 0;
  SetTickSource(PatternTicks, 1);
  std::vector<uint8_t> red = RedBytes(64, 80, 0);
  EXPECT_EQ(LeadWord(3, true), 3u);  // decided for the source-aligned count
  EXPECT_EQ(red[0], 254);          // pair 0 tried the destination-aligned count
  EXPECT_EQ(red[3], 255);
  EXPECT_EQ(red[2 * 64], 255);     // pair 1 the source-aligned one
  EXPECT_EQ(red[79 * 64], 255);    // and the last pairs keep it
  EXPECT_EQ(red[79 * 64 + 63], 255);
  // The next call ages the decided word.
  RedBytes(64, 10, 0);
  EXPECT_EQ(LeadWord(3, true), 3u + 4 * 10);

  ResetTuning();
  steps = {1, 50, 1, 100};  // now the destination-aligned count is faster
  stepAt = 0;
  red = RedBytes(64, 80, 0);
  EXPECT_EQ(LeadWord(3, true), 1u);
  EXPECT_EQ(red[79 * 64], 254);
  EXPECT_EQ(red[79 * 64 + 3], 255);
}

TEST_F(Tuning, LeadingCountWaitsWhileTheRowDoublingIsTimed) {
  if (!(DetectedCpuFeatures() & kCpuSse2)) GTEST_SKIP() << "needs a vector family";
  steps = {1, 100, 1, 50};
  stepAt = 0;
  SetTickSource(PatternTicks, 1);
  RedBytes(64, 40, 1);  // 20 pairs: the doubling word is still learning
  EXPECT_FALSE(WordDecided(DoubleWord(3, true, 2)));
  EXPECT_NE(DoubleWord(3, true, 2), kDoubleStart);
  EXPECT_EQ(LeadWord(3, true, 2), kLeadStart);
}

TEST_F(Tuning, BothRowDoublingMethodsWriteTheSamePicture) {
  std::mt19937 rng(3);
  for (int family : FamiliesToTest()) {
    for (int copyFaster = 0; copyFaster < 2; ++copyFaster) {
      for (uint32_t option : {1u, 4u}) {
        ResetTuning();
        // One read before and one after each doubled group step.
        steps = copyFaster ? std::vector<uint32_t>{1, 100, 1, 60} : std::vector<uint32_t>{1, 60, 1, 100};
        stepAt = 0;
        SetTickSource(PatternTicks, 1);
        Planes p = RandomPlanes(rng, 21, 150, false);
        Job job;
        job.code = 10;
        job.option = option;
        Output out = RunJob(job, p, family, 0);
        EXPECT_EQ(out.firstDifference, "") << FamilyName(family) << " option " << option;
        EXPECT_EQ(DoubleWord(10, family >= 0, option == 1 ? 2 : 3), copyFaster ? 3u : 1u) << FamilyName(family) << " option " << option;
      }
    }
  }
}

}  // namespace
}  // namespace kivo::test
