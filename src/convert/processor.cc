// The processor probes for the converters: the fast-routine family from the
// processor's feature bits, and the time-stamp counter behind the tuning.
#include "convert/processor.h"

#if defined(__i386__) || defined(__x86_64__)
#include <x86intrin.h>
#define KIVO_X86 1
#endif

namespace kivo {
namespace {

int32_t detectedTier = -1;
int32_t tierLimit = -1;
int32_t counterProbed = -1;
TickSource tickSource = nullptr;
int32_t tickSourceAvailable = 0;

int32_t DetectTier() {
#ifdef KIVO_X86
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return kLaneAvx2;
  if (__builtin_cpu_supports("sse2")) return kLaneSse2;
#endif
  return kLanePortable;
}

}  // namespace

int32_t DetectedLaneTier() {
  if (detectedTier < 0) detectedTier = DetectTier();
  return detectedTier;
}

int32_t CurrentLaneTier() {
  int32_t tier = DetectedLaneTier();
  return tierLimit >= 0 && tierLimit < tier ? tierLimit : tier;
}

void LimitLaneTier(int32_t tier) { tierLimit = tier; }

int32_t TickCounterAvailable() {
  if (tickSource) return tickSourceAvailable;
  if (counterProbed < 0) counterProbed = ProbeTimeStampCounter();
  return counterProbed;
}

uint32_t ReadTicks() {
  if (tickSource) return tickSource();
#ifdef KIVO_X86
  return static_cast<uint32_t>(__rdtsc());
#else
  return 0;
#endif
}

void SetTickSource(TickSource source, int32_t available) {
  tickSource = source;
  tickSourceAvailable = source ? (available ? 1 : 0) : 0;
}

}  // namespace kivo
