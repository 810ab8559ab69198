// SPDX-License-Identifier: BSD-2-Clause
// The installed selector and driver open, and the count of opened tracks.
#include "sound/sound_system.h"

namespace kivo {
namespace {

SoundSelector installedSelector = nullptr;
SoundOpenFunction installedOpen = nullptr;
uint32_t openedTracks = 0;

// A selector and its Windows name are one selector.
SoundSelector Canonical(SoundSelector selector) {
  if (selector == SelectWaveOutDriver) return SelectBufferQueueDriver;
  if (selector == SelectDirectSoundDriver) return SelectLoopingBufferDriver;
  return selector;
}

}  // namespace

int32_t SetSoundSystem(SoundSelector selector, void* parameter) {
  if (!selector) return 0;
  selector = Canonical(selector);
  if (installedSelector && installedSelector != selector && openedTracks > 0) return 0;
  installedSelector = selector;
  if (SoundOpenFunction open = selector(parameter)) installedOpen = open;
  return installedOpen != nullptr;
}

SoundOpenFunction InstalledSoundOpen() { return installedOpen; }

void CountOpenedSoundTrack() { ++openedTracks; }
uint32_t OpenedSoundTrackCount() { return openedTracks; }

void ResetSoundSystem() {
  installedSelector = nullptr;
  installedOpen = nullptr;
  openedTracks = 0;
}

}  // namespace kivo
