// SPDX-License-Identifier: BSD-2-Clause
// The time-stamp counter the converters' tuning words time with: probed
// once; tests can replace it.
#pragma once

#include <cstdint>

namespace kivo {

// 1 when the time-stamp counter can be read. The first call reads it under
// a guard against a fault (a system may forbid it); later calls repeat the
// answer.
int32_t TickCounterAvailable();
// Low 32 bits of the counter; only meaningful when it is available.
uint32_t ReadTicks();

// Tests replace the counter by a source of their own (`available` 0 means
// "as if it could not be read"); a null source puts the processor's back.
using TickSource = uint32_t (*)();
void SetTickSource(TickSource source, int32_t available);

// The guarded read of the platform layer: 1 when reading the counter did
// not fault.
int32_t ProbeTimeStampCounter();

}  // namespace kivo
