// SDL audio for both device layers: the audio subsystem kept up while a
// device uses it, and an output device opened for a format with a callback.
#pragma once

#include <SDL.h>

#include "sound/sound_device.h"

namespace kivo {

bool AcquireSdlAudio();
void ReleaseSdlAudio();

// The default output for `format`, unpaused, the callback running; 0 when
// there is none (SDL converts to what the output takes).
SDL_AudioDeviceID OpenSdlOutput(const SoundFormat& format, SDL_AudioCallback callback, void* context);

}  // namespace kivo
