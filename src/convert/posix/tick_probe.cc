// SPDX-License-Identifier: BSD-2-Clause
// The guarded time-stamp counter read on POSIX systems: a system that
// forbids the instruction raises SIGSEGV (or SIGILL), which the guard turns
// into "not available".
#include <csetjmp>
#include <csignal>

#include "convert/tick_counter.h"

#if defined(__i386__) || defined(__x86_64__)
#include <x86intrin.h>
#endif

namespace kivo {

#if defined(__i386__) || defined(__x86_64__)
namespace {

sigjmp_buf probeJump;

void OnFault(int) { siglongjmp(probeJump, 1); }

}  // namespace
#endif

int32_t ProbeTimeStampCounter() {
#if defined(__i386__) || defined(__x86_64__)
  struct sigaction guard = {}, oldSegv = {}, oldIll = {};
  guard.sa_handler = OnFault;
  sigemptyset(&guard.sa_mask);
  sigaction(SIGSEGV, &guard, &oldSegv);
  sigaction(SIGILL, &guard, &oldIll);
  volatile int32_t ok = 0;
  if (sigsetjmp(probeJump, 1) == 0) {
    volatile uint64_t t = __rdtsc();
    (void)t;
    ok = 1;
  }
  sigaction(SIGSEGV, &oldSegv, nullptr);
  sigaction(SIGILL, &oldIll, nullptr);
  return ok;
#else
  return 0;
#endif
}

}  // namespace kivo
