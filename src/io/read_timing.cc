// SPDX-License-Identifier: BSD-2-Clause
// Read timing and the simulated read speed.
#include "io/read_timing.h"

#include "base/clock.h"
#include "io/io_driver.h"

namespace kivo {
void ApplySimulatedSpeed(IoDriver* io, uint32_t count, uint32_t start) {
  if (io->simulatedSpeed == 0) return;
  uint32_t expected = static_cast<uint32_t>(uint64_t(count) * 1000 / io->simulatedSpeed);
  uint32_t now = GetMilliseconds();
  io->simulatedDebt += static_cast<int32_t>(start + expected - now);
  while (io->simulatedDebt > 0) {
    uint32_t wanted = static_cast<uint32_t>(io->simulatedDebt);
    uint32_t elapsed;
    do {
      SleepMilliseconds(0);
      elapsed = GetMilliseconds() - now;
    } while (elapsed < wanted);
    io->simulatedDebt -= static_cast<int32_t>(elapsed);
    now += elapsed;
  }
}

}  // namespace kivo
