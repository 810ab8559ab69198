// The process's choice of sound driver: SetSoundSystem with a selector
// installs a driver's open, which every later movie opens its tracks with;
// once a track has been opened a different driver is refused.
#pragma once

#include <cstdint>

namespace kivo {

struct Movie;
struct SoundTrack;

// Clears the record, fills the driver slots and prepares the device with
// silence; nonzero on success. `movie` gives the length of the whole sound.
using SoundOpenFunction = int32_t (*)(SoundTrack* track, uint32_t rate, uint32_t bits, uint32_t channels,
                                      uint32_t openFlags, Movie* movie);
using SoundSelector = SoundOpenFunction (*)(void* parameter);

// Nonzero when a driver's open is installed afterwards.
int32_t SetSoundSystem(SoundSelector selector, void* parameter);
SoundOpenFunction InstalledSoundOpen();

// The buffer-queue driver; the parameter is ignored.
SoundOpenFunction SelectWaveOutDriver(void* parameter);
// The looping-buffer driver, on the caller's shared device object or (null)
// on one it makes itself; none when the device layer cannot be used.
SoundOpenFunction SelectDirectSoundDriver(void* object);

// Counted by every track a movie opens; never lowered.
void CountOpenedSoundTrack();
uint32_t OpenedSoundTrackCount();

// Back to the state of a new process (no selector, no tracks counted), for
// tests and tools that try several drivers in one process.
void ResetSoundSystem();

}  // namespace kivo
