// SPDX-License-Identifier: BSD-2-Clause
// One-shot library settings consumed by the next OpenMovie: the frame-rate
// override and the list of sound tracks to open. (The read-ahead size and the
// simulated read speed are the I/O driver's own settings.)
#pragma once

#include <cstdint>

#include "kivo/movie.h"  // SetFrameRate, SetSoundTracks

namespace kivo {

// For the open: the override (numerator -1 = none) and taking it back to none.
void GetFrameRateOverride(int32_t* numerator, int32_t* denominator);
void ResetFrameRateOverride();
// The requested track ids (at most 8; by default one id, 0), and the reset
// to that default that every open makes.
const uint32_t* SoundTrackRequest(uint32_t* count);
void ResetSoundTrackRequest();

}  // namespace kivo
