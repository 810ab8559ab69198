// SPDX-License-Identifier: BSD-2-Clause
// The I/O driver's one-shot settings. Process-wide and unprotected: opens run
// on one thread.
#include "io/read_settings.h"

namespace kivo {
namespace {

uint32_t readBufferSize = kReadSettingUnset;
uint32_t simulatedReadSpeed = kReadSettingUnset;

}  // namespace

void SetReadBufferSize(uint32_t bytes) { readBufferSize = bytes; }
void SetSimulatedReadSpeed(uint32_t bytesPerSecond) { simulatedReadSpeed = bytesPerSecond; }

uint32_t TakeReadBufferSize() {
  uint32_t value = readBufferSize;
  readBufferSize = kReadSettingUnset;
  return value;
}

uint32_t TakeSimulatedReadSpeed() {
  uint32_t value = simulatedReadSpeed;
  simulatedReadSpeed = kReadSettingUnset;
  return value;
}

}  // namespace kivo
