// SPDX-License-Identifier: BSD-2-Clause
// Helpers for the reading tests: movies written to temporary files, a driver
// opened on one the way the movie core opens it, and a virtual clock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io/io_driver.h"

namespace kivo::test {

struct TestMovie {
  std::string path;
  std::vector<uint8_t> file;    // every byte of the file (prefix included)
  uint32_t prefix = 0;          // bytes before the movie's first byte
  std::vector<uint32_t> index;  // frame offsets from the movie's start, frameCount + 1 entries
  uint32_t Offset(uint32_t frame) const { return index[frame - 1]; }
  uint32_t Size(uint32_t frame) const { return index[frame] - index[frame - 1]; }
  const uint8_t* Bytes(uint32_t offset) const { return file.data() + prefix + offset; }
  uint32_t MovieSize() const { return static_cast<uint32_t>(file.size()) - prefix; }
};

// A movie whose frames carry `videoSizes` bytes of video each (every byte
// different from its neighbours), written after `prefix` bytes of filler to
// a file named `name` in the test folder.
TestMovie MakeTestMovie(const std::string& name, const std::vector<uint32_t>& videoSizes, uint32_t prefix = 0);

// Opens the driver on the movie, reads the header and the tables as the
// open does, and installs `ring` (bytes of `ringSize`). The movie's size is
// given as `dataSize` (0 = the real one).
bool OpenTestDriver(IoDriver* io, const TestMovie& movie, uint8_t* ring, uint32_t ringSize, uint32_t speed = 0,
                    uint32_t dataSize = 0);

// Checks the ring's bookkeeping: counters (with a packet held in place) add
// up to the ring and the file position is the consumer's position plus what
// is buffered.
bool RingConsistent(const IoDriver& io);

// A clock for GetMilliseconds that moves only when the code sleeps: a
// sleep of n ms advances it n ms, a zero-length sleep 1 ms.
void UseVirtualClock();
void AdvanceVirtualClock(uint32_t ms);
uint32_t VirtualClockSleeps();
void UsePlatformClock();

}  // namespace kivo::test
