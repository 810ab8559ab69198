// SPDX-License-Identifier: BSD-2-Clause
// The sound device and driver the player chooses once for the process.
#pragma once

#include <cstdint>

namespace kivo {

// The environment variable that names the sound device to play on.
constexpr char kSoundDeviceVariable[] = "KIVO_SOUND_DEVICE";

// Plays on the device named `deviceName` (null or empty: the build's own
// choice) with the queued-buffer driver with /Z, else the looping-buffer
// driver. A name the build has no device for chooses no driver, so movies
// play silent; false then, with a line saying so in `message`.
bool ChooseSoundSystem(int32_t useWaveOut, const char* deviceName, char* message, uint32_t size);

}  // namespace kivo
