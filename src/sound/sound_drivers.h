// SPDX-License-Identifier: BSD-2-Clause
// The two sound drivers: the buffer-queue driver (sixteen buffers of about
// 1/16 s, playback held back until half a second is collected, running dry
// when every buffer came back) and the looping-buffer driver (one buffer of
// about 0.6 s per track on a shared device object, written behind the play
// cursor, re-primed with silence when playback overtook the data). Both say
// what they hold that has not been heard yet, the output's latency included.
#pragma once

#include <cstdint>

namespace kivo {

struct Movie;
struct SoundTrack;

// Rates outside 1..kMaxSoundRate are refused by both drivers: the sizes
// derived from the rate are worked out in 32 bits.
constexpr uint32_t kMaxSoundRate = 200000;

int32_t BufferQueueSoundOpen(SoundTrack* track, uint32_t rate, uint32_t bits, uint32_t channels, uint32_t openFlags,
                         Movie* movie);
int32_t LoopingBufferSoundOpen(SoundTrack* track, uint32_t rate, uint32_t bits, uint32_t channels,
                             uint32_t openFlags, Movie* movie);

// The looping driver's shared device object: its users (open tracks, and the
// selector while it tests) and whether one is held now.
uint32_t LoopingObjectUsers();
int32_t LoopingObjectHeld();

// Hundredths of a decibel for table index 0..127 (0 is silence, -10000),
// and the pan value applied for a pan of 0 (left) .. 0x10000 (right).
int32_t LoopingVolumeLevel(uint32_t index);
int32_t LoopingPanLevel(uint32_t pan);

}  // namespace kivo
