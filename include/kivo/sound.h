// SPDX-License-Identifier: BSD-2-Clause
// Sound output: choosing the process's sound driver, which every movie
// opened afterwards plays its tracks on.
//
// Threads: call from the thread that opens movies, before the first open.
#pragma once

#include <cstdint>

#include "kivo/export.h"

namespace kivo {

struct Movie;
// One open sound track; the library's own record.
struct SoundTrack;

// A driver's open: clears the record, fills the driver's operations and
// prepares the device with silence; nonzero on success. `movie` gives the
// length of the whole sound.
using SoundOpenFunction = int32_t (*)(SoundTrack* track, uint32_t rate, uint32_t bits, uint32_t channels,
                                      uint32_t openFlags, Movie* movie);
// Picks a driver; null when that driver cannot be used here.
using SoundSelector = SoundOpenFunction (*)(void* parameter);

// Installs the driver the selector picks. Nonzero when a driver's open is
// installed afterwards. Once a track has been opened in the process a
// different selector is refused. Without a driver movies play silent.
KIVO_API int32_t SetSoundSystem(SoundSelector selector, void* parameter);

// The buffer-queue driver (sixteen buffers of about 1/16 s); the parameter
// is ignored.
KIVO_API SoundOpenFunction SelectBufferQueueDriver(void* parameter);
// The looping-buffer driver, on the caller's shared device object or (null)
// on one it makes itself; none when the device layer cannot be used. The
// default choice.
KIVO_API SoundOpenFunction SelectLoopingBufferDriver(void* object);
// The same two by the names of the Windows services they were made for;
// SetSoundSystem takes a selector and its other name as one.
KIVO_API SoundOpenFunction SelectWaveOutDriver(void* parameter);
KIVO_API SoundOpenFunction SelectDirectSoundDriver(void* object);

// Tracks opened from now on play on the sound device of that name alone
// ("sdl" on Linux, "waveout" or "directsound" on Windows; a driver finds
// the layer it needs missing on a device without it); null puts back the
// build's own choice, its devices tried in turn. 0 when the build has no
// device of that name (nothing changes).
KIVO_API int32_t UseSoundDevice(const char* name);
// The name of the build's sound device at `index` (0 up); null past the end.
KIVO_API const char* GetSoundDeviceName(uint32_t index);

}  // namespace kivo
