// SPDX-License-Identifier: BSD-2-Clause
// SDL audio as a sound device: both layers on the default output.
#include "sound/sdl/sdl_audio.h"

namespace kivo {

extern const SoundDeviceEntry kSdlSoundDevice = {
    .name = "sdl",
    .capabilities = kSoundDeviceReportsLatency,
    .queue = &kSdlQueue,
    .loop = &kSdlLoop,
};

}  // namespace kivo
