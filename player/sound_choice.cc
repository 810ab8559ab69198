// SPDX-License-Identifier: BSD-2-Clause
// The player's choice of sound device and driver.
#include "player/sound_choice.h"

#include <cstdio>

#include "kivo/kivo.h"

namespace kivo {

bool ChooseSoundSystem(int32_t useWaveOut, const char* deviceName, char* message, uint32_t size) {
  if (deviceName && deviceName[0] && !UseSoundDevice(deviceName)) {
    // The names there are, so that the line says what would do.
    char names[128] = "";
    size_t n = 0;
    for (uint32_t i = 0; const char* name = GetSoundDeviceName(i); ++i)
      if (n < sizeof names) n += size_t(snprintf(names + n, sizeof names - n, "%s%s", i ? ", " : "", name));
    if (size) snprintf(message, size, "%s: no sound device \"%s\" (there are: %s); playing without sound",
                       kSoundDeviceVariable, deviceName, names);
    return false;
  }
  // The result is not looked at: without a driver movies play silent.
  SetSoundSystem(useWaveOut ? SelectBufferQueueDriver : SelectLoopingBufferDriver, nullptr);
  return true;
}

}  // namespace kivo
