// SPDX-License-Identifier: BSD-2-Clause
// SDL audio for both device layers: the audio subsystem kept up while a
// device uses it, and an output device opened for a format with a callback.
#pragma once

#include <SDL.h>

#include "sound/sound_device.h"

namespace kivo {

// The two layers (sdl_queue_device.cc, sdl_loop_device.cc); the device
// entry offering both is in sdl_sound_device.cc.
extern const QueueDevice kSdlQueue;
extern const LoopDevice kSdlLoop;

bool AcquireSdlAudio();
void ReleaseSdlAudio();

// When the callback last ran and what it took, for the latency: SDL reports
// no position of its own.
struct SdlOutputClock {
  uint64_t lastCallback;  // performance counter
  uint32_t lastTaken;     // bytes the last callback took (one period)
  uint32_t bytesPerSecond;
  uint32_t extra;         // bytes the output buffers beyond the period
};

// The default output for `format`, unpaused, the callback running; 0 when
// there is none (SDL converts to what the output takes). Fills `clock`.
SDL_AudioDeviceID OpenSdlOutput(const SoundFormat& format, SDL_AudioCallback callback, void* context,
                                SdlOutputClock* clock);

// Called by the callback (the device is locked) with the bytes it takes.
void NoteSdlCallback(SdlOutputClock* clock, uint32_t bytes);

// Bytes taken by the callback and not yet heard: what is left of the period
// it took last, plus, on a device with a sound card behind it, one period
// the card holds. Caller holds the device lock.
uint32_t SdlOutputLatency(const SdlOutputClock& clock);

}  // namespace kivo
