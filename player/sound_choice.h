// SPDX-License-Identifier: BSD-2-Clause
// The sound driver the player chooses once for the process.
#pragma once

#include <cstdint>

namespace kivo {

// The queued-buffer driver with /Z, else the looping-buffer driver.
void ChooseSoundSystem(int32_t useWaveOut);

}  // namespace kivo
