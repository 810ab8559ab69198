// SPDX-License-Identifier: BSD-2-Clause
// The library's millisecond clock: a high-resolution counter kept within
// 200 ms of the system's coarse tick, never running backwards. Its sources
// can be replaced, so that every timing rule is testable on a virtual clock.
#pragma once

#include <cstdint>

#include "kivo/movie.h"  // GetMilliseconds

namespace kivo {

struct ClockSource {
  uint64_t (*counter)();    // high-resolution counter
  uint64_t (*frequency)();  // its counts per second; 0 = none
  uint32_t (*tick)();       // coarse millisecond tick
  void (*sleep)(uint32_t ms);
};

// Replaces the clock's sources (null = the platform's) and restarts the
// clock as if it had never been read. For tests and tools.
void SetClockSource(const ClockSource* source);

// Sleeps through the clock's source, so that waits advance a virtual clock.
void SleepMilliseconds(uint32_t ms);

}  // namespace kivo
