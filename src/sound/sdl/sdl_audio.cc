// SPDX-License-Identifier: BSD-2-Clause
// The SDL audio subsystem for the sound devices, and opening an output.
#include "sound/sdl/sdl_audio.h"

namespace kivo {

bool AcquireSdlAudio() { return SDL_InitSubSystem(SDL_INIT_AUDIO) == 0; }

void ReleaseSdlAudio() { SDL_QuitSubSystem(SDL_INIT_AUDIO); }

SDL_AudioDeviceID OpenSdlOutput(const SoundFormat& format, SDL_AudioCallback callback, void* context,
                                SdlOutputClock* clock) {
  SDL_AudioSpec want;
  SDL_zero(want);
  want.freq = static_cast<int>(format.rate);
  want.format = format.bits == 8 ? AUDIO_U8 : AUDIO_S16LSB;
  want.channels = static_cast<Uint8>(format.channels);
  // About 1/40 s per callback, a power of two.
  Uint16 samples = 256;
  while (samples < 4096 && samples * 40u < format.rate) samples = static_cast<Uint16>(samples * 2);
  want.samples = samples;
  want.callback = callback;
  want.userdata = context;
  SDL_AudioSpec have;
  const SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (!id) return 0;
  *clock = SdlOutputClock{};
  clock->bytesPerSecond = format.rate * BlockAlign(format);
  clock->lastCallback = SDL_GetPerformanceCounter();
  // The callback's period at our format: SDL converts whatever it hands on.
  const uint32_t period = uint32_t(have.samples) * BlockAlign(format);
  // The disk and dummy outputs write or drop a period the moment they take
  // it; any other has a card that plays the period before.
  const char* driver = SDL_GetCurrentAudioDriver();
  const bool cardless = driver && (SDL_strcmp(driver, "disk") == 0 || SDL_strcmp(driver, "dummy") == 0);
  clock->extra = cardless ? 0 : period;
  SDL_PauseAudioDevice(id, 0);
  return id;
}

void NoteSdlCallback(SdlOutputClock* clock, uint32_t bytes) {
  clock->lastCallback = SDL_GetPerformanceCounter();
  clock->lastTaken = bytes;
}

uint32_t SdlOutputLatency(const SdlOutputClock& clock) {
  const uint64_t frequency = SDL_GetPerformanceFrequency();
  const uint64_t since = SDL_GetPerformanceCounter() - clock.lastCallback;
  const uint64_t played = frequency ? since * clock.bytesPerSecond / frequency : 0;
  const uint32_t left = played < clock.lastTaken ? clock.lastTaken - static_cast<uint32_t>(played) : 0;
  return left + clock.extra;
}

}  // namespace kivo
