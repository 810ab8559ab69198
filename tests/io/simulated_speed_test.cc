// SPDX-License-Identifier: BSD-2-Clause
// The simulated read speed, on a virtual clock that moves only when the
// driver sleeps.
#include <gtest/gtest.h>

#include <vector>

#include "base/clock.h"
#include "io/io_driver.h"
#include "io/read_timing.h"
#include "io_test_files.h"

namespace kivo {
namespace {

struct SimulatedSpeed : ::testing::Test {
  void SetUp() override { test::UseVirtualClock(); }
  void TearDown() override { test::UsePlatformClock(); }
};

TEST_F(SimulatedSpeed, ChunksCostTheirTimeAtTheGivenSpeed) {
  test::TestMovie movie = test::MakeTestMovie("io_speed.kiv", std::vector<uint32_t>(12, 4000));
  IoDriver io;
  std::vector<uint8_t> ring(8 * 4096);
  ASSERT_TRUE(test::OpenTestDriver(&io, movie, ring.data(), 8 * 4096, 1000));
  uint32_t start = GetMilliseconds();
  for (int i = 0; i < 8; ++i) ASSERT_EQ(io.ReadAhead(&io), 4096);
  uint32_t spent = GetMilliseconds() - start;
  // 4096 bytes at 1000 bytes/s: 4096 ms each.
  EXPECT_GE(spent, 8u * 4096);
  EXPECT_LE(spent, 8u * 4096 + 8);
  EXPECT_EQ(io.readMs.load(), spent);
  EXPECT_EQ(io.idleReadMs.load(), spent);
  EXPECT_EQ(io.backgroundReadMs.load(), 0u);

  // A direct read of a frame is slowed down in the same way.
  std::vector<uint8_t> out(movie.Size(12));
  uint32_t before = GetMilliseconds();
  io.ReadFrame(&io, 11, movie.Offset(12), out.data(), movie.Size(12));
  uint32_t frameMs = GetMilliseconds() - before;
  EXPECT_GE(frameMs, movie.Size(12));
  EXPECT_LE(frameMs, movie.Size(12) + 2);
  EXPECT_EQ(io.frameReadMs, frameMs);
  io.Close(&io);
}

TEST_F(SimulatedSpeed, ASlowReadLeavesADebtThatShortensLaterWaits) {
  IoDriver io;
  io.simulatedSpeed = 1000;
  io.simulatedDebt = 0;
  // A read of 4096 bytes that took 5000 ms: no wait, 904 ms in hand.
  test::AdvanceVirtualClock(10000);
  uint32_t now = GetMilliseconds();
  ApplySimulatedSpeed(&io, 4096, now - 5000);
  EXPECT_EQ(GetMilliseconds(), now);
  EXPECT_EQ(io.simulatedDebt, -904);
  // The next instant read waits only 4096 - 904 ms.
  ApplySimulatedSpeed(&io, 4096, now);
  EXPECT_EQ(GetMilliseconds() - now, 3192u);
  EXPECT_EQ(io.simulatedDebt, 0);
  // The wait is made of zero-length sleeps, not one long sleep.
  EXPECT_GE(test::VirtualClockSleeps(), 3192u);

  // Speed 0 is off.
  io.simulatedSpeed = 0;
  ApplySimulatedSpeed(&io, 1 << 20, now);
  EXPECT_EQ(io.simulatedDebt, 0);
}

TEST_F(SimulatedSpeed, ChunksReadWhileTheForegroundIsBusyCountAsBackground) {
  test::TestMovie movie = test::MakeTestMovie("io_busy.kiv", std::vector<uint32_t>(4, 4000));
  IoDriver io;
  std::vector<uint8_t> ring(4 * 4096);
  ASSERT_TRUE(test::OpenTestDriver(&io, movie, ring.data(), 4 * 4096, 2000));
  io.foregroundBusy.store(1);
  ASSERT_EQ(io.ReadAhead(&io), 4096);
  io.foregroundBusy.store(0);
  ASSERT_EQ(io.ReadAhead(&io), 4096);
  EXPECT_EQ(io.backgroundReadMs.load(), 2048u);
  EXPECT_EQ(io.idleReadMs.load(), 2048u);
  EXPECT_EQ(io.readMs.load(), 4096u);
  io.Close(&io);
}

}  // namespace
}  // namespace kivo
