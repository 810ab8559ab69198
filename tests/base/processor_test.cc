// SPDX-License-Identifier: BSD-2-Clause
// The processor feature mask: the levels tests walk, the setting that lowers
// what every module may use, and the open flag that refuses extensions.
#include <gtest/gtest.h>

#include "base/processor.h"

namespace kivo {
namespace {

TEST(ProcessorFeatures, LevelsClimbFromPlainToWhatTheProcessorHas) {
  uint32_t levels[5];
  const uint32_t count = CpuFeatureLevels(levels);
  ASSERT_GE(count, 1u);
  EXPECT_EQ(levels[0], 0u);
  for (uint32_t i = 1; i < count; ++i) {
    EXPECT_EQ(levels[i] & levels[i - 1], levels[i - 1]) << i;  // each holds the one before
    EXPECT_NE(levels[i], levels[i - 1]) << i;
  }
  EXPECT_EQ(levels[count - 1], DetectedCpuFeatures());
  EXPECT_STREQ(CpuFeatureLevelName(0), "plain");
  EXPECT_STREQ(CpuFeatureLevelName(kCpuMmx | kCpuSse2), "sse2");
}

TEST(ProcessorFeatures, TheSettingNarrowsEveryCallerUntilLifted) {
  const uint32_t all = DetectedCpuFeatures();
  EXPECT_EQ(SetCpuFeatureMask(kCpuMmx), kCpuAll);
  EXPECT_EQ(CpuFeatures(), all & kCpuMmx);
  EXPECT_EQ(CpuFeaturesFor(0), all & kCpuMmx);
  EXPECT_EQ(SetCpuFeatureMask(kCpuAll), kCpuMmx);
  EXPECT_EQ(CpuFeatures(), all);
}

TEST(ProcessorFeatures, RefusedByTheOpenFlagWhateverTheProcessor) {
  uint32_t use = CpuFeaturesFor(0);
#if defined(__i386__) || defined(__x86_64__)
  EXPECT_NE(use & kCpuMmx, 0u);  // every x86 processor these builds run on has MMX
#endif
  EXPECT_EQ(CpuFeaturesFor(kNoProcessorExtensions), 0u);
  EXPECT_EQ(CpuFeaturesFor(0), use);  // a refusal is the caller's own, not left behind
}

}  // namespace
}  // namespace kivo
