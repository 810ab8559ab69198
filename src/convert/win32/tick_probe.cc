// SPDX-License-Identifier: BSD-2-Clause
// The guarded time-stamp counter read on Windows: a vectored handler steps
// over the instruction when the system refuses it, and the probe reports
// "not available".
#include <windows.h>

#include <x86intrin.h>

#include "convert/tick_counter.h"

namespace kivo {
namespace {

volatile LONG probing = 0;
volatile LONG faulted = 0;

LONG CALLBACK Guard(EXCEPTION_POINTERS* e) {
  DWORD code = e->ExceptionRecord->ExceptionCode;
  if (!probing || (code != EXCEPTION_PRIV_INSTRUCTION && code != EXCEPTION_ILLEGAL_INSTRUCTION))
    return EXCEPTION_CONTINUE_SEARCH;
  const unsigned char* at = static_cast<const unsigned char*>(e->ExceptionRecord->ExceptionAddress);
  if (at[0] != 0x0F || at[1] != 0x31) return EXCEPTION_CONTINUE_SEARCH;  // not the counter read
  faulted = 1;
#ifdef _WIN64
  e->ContextRecord->Rip += 2;
#else
  e->ContextRecord->Eip += 2;
#endif
  return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

int32_t ProbeTimeStampCounter() {
  PVOID handler = AddVectoredExceptionHandler(1, Guard);
  if (!handler) return 0;
  faulted = 0;
  probing = 1;
  volatile unsigned long long t = __rdtsc();
  (void)t;
  probing = 0;
  RemoveVectoredExceptionHandler(handler);
  return faulted ? 0 : 1;
}

}  // namespace kivo
