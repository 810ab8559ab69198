// SPDX-License-Identifier: BSD-2-Clause
// The sound devices of this build, in the order the drivers try them: a
// track opens on the first device that offers the layer its driver needs
// and can be opened; devices on demand only by name. A new device is one
// file defining its SoundDeviceEntry and one line here.
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
constexpr uint32_t kOwnCount = sizeof kSoundDevices / sizeof kSoundDevices[0];

// The build's own devices, then those added at start-up (AddSoundDevice);
// zero-initialised, so that an addition from another file's start-up code
// finds it ready.
const SoundDeviceEntry* allDevices[kOwnCount + 8];
uint32_t addedCount;

}  // namespace

const SoundDeviceEntry* const* SoundDeviceList(uint32_t* count) {
  *count = kOwnCount + addedCount;
  if (addedCount == 0) return kSoundDevices;
  for (uint32_t i = 0; i < kOwnCount; ++i) allDevices[i] = kSoundDevices[i];
  return allDevices;
}

int32_t AddSoundDevice(const SoundDeviceEntry* entry) {
  if (!entry || !entry->name || FindSoundDevice(entry->name) || kOwnCount + addedCount == sizeof allDevices / sizeof allDevices[0])
    return 0;
  allDevices[kOwnCount + addedCount++] = entry;
  return 1;
}

}  // namespace kivo
