// Timing of file reads: the clock as the reader sees it, and the wait that
// slows reads down to a simulated device speed.
#pragma once

#include <cstdint>

namespace kivo {

struct IoDriver;

// GetMilliseconds, called by one thread at a time: the foreground and the
// reader thread both time their reads, and the clock keeps state.
uint32_t ReadClockMs();

// After a read of `count` bytes that began at `start`: when the driver has a
// simulated speed, waits (spinning on zero-length sleeps) until the read has
// taken as long as the speed allows. Reads that were slower than allowed
// leave a negative debt that shortens the next waits.
void ApplySimulatedSpeed(IoDriver* io, uint32_t count, uint32_t start);

}  // namespace kivo
