// SPDX-License-Identifier: BSD-2-Clause
// The sound devices of this build, in the order the drivers try them. A new
// device is one file defining its SoundDeviceEntry and one line here.
#include "sound/sound_device.h"

namespace kivo {

#if defined(_WIN32)
extern const SoundDeviceEntry kWaveOutDevice;
extern const SoundDeviceEntry kDirectSoundDevice;
#elif defined(KIVO_HAVE_SDL)
extern const SoundDeviceEntry kSdlSoundDevice;
#endif
extern const SoundDeviceEntry kVirtualSoundDevice;

namespace {

const SoundDeviceEntry* const kSoundDevices[] = {
#if defined(_WIN32)
    &kWaveOutDevice,
    &kDirectSoundDevice,
#elif defined(KIVO_HAVE_SDL)
    &kSdlSoundDevice,
#endif
    &kVirtualSoundDevice,  // on demand: tests name it
};

}  // namespace

const SoundDeviceEntry* const* SoundDeviceList(uint32_t* count) {
  *count = sizeof kSoundDevices / sizeof kSoundDevices[0];
  return kSoundDevices;
}

}  // namespace kivo
