// SPDX-License-Identifier: BSD-2-Clause
// The core clock on virtual sources: its start at 0, the 200 ms pull into
// line with the coarse tick, and its refusal to run backwards.
#include <gtest/gtest.h>

#include "base/clock.h"

namespace kivo {
namespace {

uint64_t counterNs = 0;
uint32_t tickMs = 0;
uint64_t frequency = 1000000000ull;

const ClockSource kVirtual = {
    [] { return counterNs; },
    [] { return frequency; },
    [] { return tickMs; },
    [](uint32_t ms) {
      counterNs += uint64_t(ms) * 1000000;
      tickMs += ms;
    },
};

struct ClockTest : ::testing::Test {
  void SetUp() override {
    counterNs = 5000000000ull;  // the counter does not start at 0
    tickMs = 123456;
    frequency = 1000000000ull;
    SetClockSource(&kVirtual);
  }
  void TearDown() override { SetClockSource(nullptr); }
  void Advance(uint32_t counterMs, uint32_t tickAdvanceMs) {
    counterNs += uint64_t(counterMs) * 1000000;
    tickMs += tickAdvanceMs;
  }
};

TEST_F(ClockTest, StartsAtZeroAndFollowsTheCounter) {
  EXPECT_EQ(GetMilliseconds(), 0u);
  Advance(40, 40);
  EXPECT_EQ(GetMilliseconds(), 40u);
  SleepMilliseconds(1000);
  EXPECT_EQ(GetMilliseconds(), 1040u);
}

TEST_F(ClockTest, SmallDisagreementsAreLeftAlone) {
  GetMilliseconds();
  Advance(100, 290);  // the tick ran 190 ms further: within the tolerance
  EXPECT_EQ(GetMilliseconds(), 100u);
}

TEST_F(ClockTest, PulledBackIntoLinePast200Ms) {
  GetMilliseconds();
  Advance(100, 350);  // the tick says 350, the counter 100: 250 apart
  EXPECT_EQ(GetMilliseconds(), 350u);
  Advance(10, 10);  // the adjustment stays
  EXPECT_EQ(GetMilliseconds(), 360u);
  Advance(500, 100);  // the counter jumped ahead of the tick by 400
  EXPECT_EQ(GetMilliseconds(), 460u);
}

TEST_F(ClockTest, NeverRunsBackwards) {
  GetMilliseconds();
  Advance(1000, 1000);
  EXPECT_EQ(GetMilliseconds(), 1000u);
  // A tick far behind pulls the result below the last one: refused.
  tickMs -= 900;
  EXPECT_EQ(GetMilliseconds(), 1000u);
  EXPECT_EQ(GetMilliseconds(), 1000u);
}

TEST_F(ClockTest, WithoutACounterTheTickIsTheClock) {
  frequency = 0;
  SetClockSource(&kVirtual);
  EXPECT_EQ(GetMilliseconds(), 123456u);
  Advance(0, 7);
  EXPECT_EQ(GetMilliseconds(), 123463u);
}

}  // namespace
}  // namespace kivo
