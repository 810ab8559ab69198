// SPDX-License-Identifier: BSD-2-Clause
// The one processor probe.
#include "base/processor.h"

#include <atomic>

namespace kivo {
namespace {

std::atomic<uint32_t> featureMask{kCpuAll};

uint32_t Probe() {
#if defined(__i386__) || defined(__x86_64__)
  // The compiler's probe first checks that CPUID exists (on 32-bit x86 the
  // EFLAGS ID bit test) and that the system saves the AVX registers.
  __builtin_cpu_init();
  uint32_t f = 0;
  if (__builtin_cpu_supports("mmx")) f |= kCpuMmx;
  if (__builtin_cpu_supports("sse2")) f |= kCpuSse2;
  if (__builtin_cpu_supports("avx")) f |= kCpuAvx;
  if (__builtin_cpu_supports("avx2")) f |= kCpuAvx2;
  return f;
#else
  return 0;
#endif
}

}  // namespace

uint32_t DetectedCpuFeatures() {
  static const uint32_t detected = Probe();
  return detected;
}

uint32_t CpuFeatures() { return DetectedCpuFeatures() & featureMask.load(std::memory_order_relaxed); }

uint32_t CpuFeaturesFor(uint32_t openFlags) {
  return (openFlags & kNoProcessorExtensions) ? 0 : CpuFeatures();
}

uint32_t SetCpuFeatureMask(uint32_t mask) { return featureMask.exchange(mask, std::memory_order_relaxed); }

uint32_t CpuFeatureLevels(uint32_t levels[5]) {
  const uint32_t have = DetectedCpuFeatures();
  uint32_t count = 0, mask = 0;
  levels[count++] = 0;
  for (uint32_t bit = 1; bit <= kCpuAvx2; bit <<= 1) {
    mask |= bit;
    if (have & bit) levels[count++] = mask & have;
  }
  return count;
}

const char* CpuFeatureLevelName(uint32_t mask) {
  if (mask & kCpuAvx2) return "avx2";
  if (mask & kCpuAvx) return "avx";
  if (mask & kCpuSse2) return "sse2";
  if (mask & kCpuMmx) return "mmx";
  return "plain";
}

}  // namespace kivo
