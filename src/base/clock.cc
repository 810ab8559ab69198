// SPDX-License-Identifier: BSD-2-Clause
// GetMilliseconds and its replaceable sources.
#include "base/clock.h"

#include <atomic>

#include "platform/platform.h"

namespace kivo {
namespace {

const ClockSource platformSource = {os::CounterNow, os::CounterFrequency, os::CoarseTickMs, os::SleepMs};
const ClockSource* source = &platformSource;

bool firstCall = true;
uint64_t frequency = 0;
uint64_t counterBase = 0;
int64_t adjustment = 0;
uint32_t lastResult = 0;
uint32_t lastTick = 0;

// The foreground and the service threads all read the clock; its state
// changes on every call, so callers take turns.
std::atomic_flag busy = ATOMIC_FLAG_INIT;

struct Turn {
  Turn() {
    while (busy.test_and_set(std::memory_order_acquire)) {
    }
  }
  ~Turn() { busy.clear(std::memory_order_release); }
};

uint32_t Read() {
  if (firstCall) {
    firstCall = false;
    frequency = source->frequency();
    if (frequency == 0) return source->tick();
    counterBase = source->counter();
    lastTick = source->tick();
    lastResult = 0;
    return 0;
  }
  if (frequency == 0) return source->tick();
  uint64_t counter = source->counter();
  uint32_t t = source->tick();
  uint32_t r = static_cast<uint32_t>(static_cast<int64_t>((counter - counterBase) * 1000 / frequency) + adjustment);
  int32_t m = static_cast<int32_t>((t - lastTick) - (r - lastResult));
  if (m > 200 || m < -200) {
    adjustment += m;
    r += static_cast<uint32_t>(m);
  }
  if (r - lastResult > 0xC0000000u) return lastResult;
  lastTick = t;
  lastResult = r;
  return r;
}

}  // namespace

void SetClockSource(const ClockSource* replacement) {
  Turn turn;
  source = replacement ? replacement : &platformSource;
  firstCall = true;
  frequency = 0;
  counterBase = 0;
  adjustment = 0;
  lastResult = 0;
  lastTick = 0;
}

void SleepMilliseconds(uint32_t ms) { source->sleep(ms); }

uint32_t GetMilliseconds() {
  Turn turn;
  return Read();
}

}  // namespace kivo
