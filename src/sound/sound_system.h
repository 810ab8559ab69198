// SPDX-License-Identifier: BSD-2-Clause
// The process's choice of sound driver: SetSoundSystem with a selector
// installs a driver's open, which every later movie opens its tracks with;
// once a track has been opened a different driver is refused.
#pragma once

#include <cstdint>

#include "kivo/sound.h"  // SetSoundSystem and the two selectors

namespace kivo {

SoundOpenFunction InstalledSoundOpen();

// Counted by every track a movie opens; never lowered.
void CountOpenedSoundTrack();
uint32_t OpenedSoundTrackCount();

// Back to the state of a new process (no selector, no tracks counted), for
// tests and tools that try several drivers in one process.
void ResetSoundSystem();

}  // namespace kivo
