// SPDX-License-Identifier: BSD-2-Clause
// The virtual clock of the tests.
#include "support/virtual_clock.h"

#include <atomic>

#include "base/clock.h"

namespace kivo::test {
namespace {

std::atomic<uint64_t> nowUs{0};

uint64_t Counter() { return nowUs.load(); }
uint64_t Frequency() { return 1000000; }
uint32_t Tick() { return static_cast<uint32_t>(nowUs.load() / 1000); }
void Sleep(uint32_t ms) { nowUs += uint64_t(ms ? ms : 1) * 1000; }

const ClockSource kVirtual = {Counter, Frequency, Tick, Sleep};

}  // namespace

void UseVirtualClock() {
  nowUs = 1000000;  // the tick does not start at 0, the clock does
  SetClockSource(&kVirtual);
  GetMilliseconds();
  // A clock of 0 means "unset" to the frame schedule: tests start later.
  nowUs += 1000 * 1000;
}

void UsePlatformClock() { SetClockSource(nullptr); }

void AdvanceClock(uint32_t ms) { nowUs += uint64_t(ms) * 1000; }

}  // namespace kivo::test
