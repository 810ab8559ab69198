// The processor probes for the converters: the fast-routine family from the
// processor's feature bits, and the time-stamp counter behind the tuning.
#include "convert/processor.h"

#include <atomic>

#if defined(__i386__) || defined(__x86_64__)
#include <x86intrin.h>
#define KIVO_X86 1
#endif

namespace kivo {
namespace {

// The probes are answered once under the language's guard; the limit and
// the replaced counter are test settings, atomic so that conversions on
// other threads read them cleanly.
std::atomic<int32_t> tierLimit{-1};
std::atomic<TickSource> tickSource{nullptr};
std::atomic<int32_t> tickSourceAvailable{0};

int32_t DetectTier() {
#ifdef KIVO_X86
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return kLaneAvx2;
  if (__builtin_cpu_supports("sse2")) return kLaneSse2;
#endif
  return kLanePlain;
}

}  // namespace

int32_t DetectedLaneTier() {
  static const int32_t detected = DetectTier();
  return detected;
}

int32_t CurrentLaneTier() {
  int32_t tier = DetectedLaneTier();
  int32_t limit = tierLimit.load(std::memory_order_relaxed);
  return limit >= 0 && limit < tier ? limit : tier;
}

void LimitLaneTier(int32_t tier) { tierLimit.store(tier, std::memory_order_relaxed); }

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
