// SPDX-License-Identifier: BSD-2-Clause
// The player's choice of sound driver.
#include "player/sound_choice.h"

#include "kivo/kivo.h"

namespace kivo {

void ChooseSoundSystem(int32_t useWaveOut) {
  // The result is not looked at: without a driver movies play silent.
  SetSoundSystem(useWaveOut ? SelectBufferQueueDriver : SelectLoopingBufferDriver, nullptr);
}

}  // namespace kivo
