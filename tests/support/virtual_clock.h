// SPDX-License-Identifier: BSD-2-Clause
// A virtual clock for the library's GetMilliseconds: it moves only when a
// test advances it or the code sleeps (a sleep of n ms moves it n ms, a
// zero-length sleep 1 ms), so timing rules are tested without waiting.
#pragma once

#include <cstdint>

namespace kivo::test {

void UseVirtualClock();     // reads 1000 ms after its restart
void UsePlatformClock();
void AdvanceClock(uint32_t ms);

// Installs the virtual clock for the life of the object.
struct VirtualClockScope {
  VirtualClockScope() { UseVirtualClock(); }
  ~VirtualClockScope() { UsePlatformClock(); }
};

}  // namespace kivo::test
