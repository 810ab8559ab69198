// SPDX-License-Identifier: BSD-2-Clause
// The time-stamp counter behind the converters' tuning.
#include "convert/tick_counter.h"

#include <atomic>

#if defined(__i386__) || defined(__x86_64__)
#include <x86intrin.h>
#define KIVO_X86 1
#endif

namespace kivo {
namespace {

// The probe is answered once under the language's guard; the replaced
// counter is a test setting, atomic so that conversions on other threads
// read it cleanly.
std::atomic<TickSource> tickSource{nullptr};
std::atomic<int32_t> tickSourceAvailable{0};

}  // namespace

int32_t TickCounterAvailable() {
  if (tickSource.load(std::memory_order_acquire)) return tickSourceAvailable.load(std::memory_order_relaxed);
  static const int32_t probed = ProbeTimeStampCounter();
  return probed;
}

uint32_t ReadTicks() {
  if (TickSource source = tickSource.load(std::memory_order_acquire)) return source();
#ifdef KIVO_X86
  return static_cast<uint32_t>(__rdtsc());
#else
  return 0;
#endif
}

void SetTickSource(TickSource source, int32_t available) {
  tickSourceAvailable.store(source ? (available ? 1 : 0) : 0, std::memory_order_relaxed);
  tickSource.store(source, std::memory_order_release);
}

}  // namespace kivo
