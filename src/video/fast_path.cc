// The processor probe: does the CPUID instruction exist and report the
// multimedia extensions (MMX). The probe runs once per process; each caller
// then decides from its own open flags, so nothing shared is rewritten.
#include "video/video_decoder.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

namespace kivo {
namespace {

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
  static const int32_t have = ProbeProcessor();  // initialised once, under the language's guard
  return (have == 1 && !(openFlags & kNoFastPath)) ? 1 : 0;
}

}  // namespace kivo
