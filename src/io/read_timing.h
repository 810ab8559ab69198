// SPDX-License-Identifier: BSD-2-Clause
// The wait that slows file reads down to a simulated device speed.
#pragma once

#include <cstdint>

namespace kivo {

struct IoDriver;

// After a read of `count` bytes that began at `start`: when the driver has a
// simulated speed, waits (spinning on zero-length sleeps) until the read has
// taken as long as the speed allows. Reads that were slower than allowed
// leave a negative debt that shortens the next waits.
void ApplySimulatedSpeed(IoDriver* io, uint32_t count, uint32_t start);

}  // namespace kivo
