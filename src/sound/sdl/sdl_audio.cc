// The SDL audio subsystem for the sound devices, and opening an output.
#include "sound/sdl/sdl_audio.h"

namespace kivo {

bool AcquireSdlAudio() { return SDL_InitSubSystem(SDL_INIT_AUDIO) == 0; }

void ReleaseSdlAudio() { SDL_QuitSubSystem(SDL_INIT_AUDIO); }

SDL_AudioDeviceID OpenSdlOutput(const SoundFormat& format, SDL_AudioCallback callback, void* context) {
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
  if (id) SDL_PauseAudioDevice(id, 0);
  return id;
}

}  // namespace kivo
