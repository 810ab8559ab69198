// The processor probe: does the CPUID instruction exist and report the
// multimedia extensions (MMX). The probe runs once per process; the switch
// is set again from each caller's open flags right before it is read.
#include <atomic>

#include "video/video_decoder.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

namespace kivo {
namespace {

std::atomic<int32_t> haveMultimedia{-1};
std::atomic<int32_t> useFastPath{0};

int32_t ProbeProcessor() {
#if defined(__i386__) || defined(__x86_64__)
  unsigned eax, ebx, ecx, edx;
  // __get_cpuid first checks that leaf 1 exists, which on 32-bit x86 includes
  // the test that the EFLAGS ID bit can be toggled (CPUID present at all).
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return 0;
  return (edx & (1u << 23)) ? 1 : 0;
#else
  return 0;
#endif
}

}  // namespace

int32_t ProbeFastPath(uint32_t openFlags) {
  int32_t have = haveMultimedia.load(std::memory_order_relaxed);
  if (have < 0) {
    have = ProbeProcessor();
    haveMultimedia.store(have, std::memory_order_relaxed);
  }
  int32_t use = (have == 1 && !(openFlags & kNoFastPath)) ? 1 : 0;
  useFastPath.store(use, std::memory_order_relaxed);
  return use;
}

int32_t FastPathInUse() { return useFastPath.load(std::memory_order_relaxed); }

}  // namespace kivo
