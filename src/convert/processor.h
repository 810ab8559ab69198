// What the processor offers the converters: which family of fast routines
// it can run, and the time-stamp counter the tuning words time with. Both
// are probed once; tests can narrow the first and replace the second.
#pragma once

#include <cstdint>

namespace kivo {

// Fast routine families, each giving the pixels of the lane arithmetic.
enum LaneTier : int32_t {
  kLanePlain = 0,     // plain C++ over 16-bit lane values
  kLaneSse2 = 1,
  kLaneAvx2 = 2,
};

// The best family this processor runs (probed once), limited by the last
// LimitLaneTier.
int32_t CurrentLaneTier();
// The highest family to use, the way a CPU-feature mask narrows a codec's
// choice: tests run every family the machine has. -1 lifts the limit.
void LimitLaneTier(int32_t tier);
// The best family the processor itself offers.
int32_t DetectedLaneTier();

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
