// SPDX-License-Identifier: BSD-2-Clause
// The sound side of a movie, for the movie core: opening its tracks (devices,
// rings, decoders, the sound thread), feeding the devices from the rings,
// switching the devices off and on, pausing, the sound-skip check, and the
// close. All run on the main thread unless said otherwise.
#pragma once

#include <cstdint>

#include "sound/sound_track.h"

namespace kivo {

struct Movie;
struct ServiceClient;

// Open steps for sound: picks the requested tracks (then resets the request),
// opens each on the installed driver, gives it its ring and decoder, counts
// it, and registers the movie with the sound thread (made on first need).
// Sets selectedTracks, openTrackCount, soundOn and memoryUsed. Tracks that
// cannot be opened are dropped without a message. Call after the movie's
// tables, frame rates and frame count are filled in and before the reader
// hooks are installed; every record's timeScale is made nonzero.
void OpenSoundTracks(Movie* movie);

// Close steps for sound: pauses every track and feeds once (when frames were
// decoded), leaves the sound thread (which ends with its last movie), then
// closes each device and decoder and frees each ring. The caller has set
// `paused` and unregisters the reader client itself.
void CloseSoundTracks(Movie* movie);

// Moves PCM from the rings into the devices as far as they take it; does
// nothing when the sound lock is held elsewhere. The foreground's call (the
// sound thread feeds through the sound client).
void SoundService(Movie* movie);

// Switches every device of the movie on or off, under the sound lock. Off
// empties the first track's ring and puts the prefill silence in it; on
// restarts the frame clock. Nonzero when a device is on afterwards.
int32_t SwitchSound(Movie* movie, int32_t on);

// Starts every device that is still waiting for more sound before it plays
// although its frames bring no more: a track with less sound than the
// drivers' initial amounts is heard from its start.
void StartSound(Movie* movie);

// The stream position (ring bytes) at which frame `frame` (counted like the
// movie's framesDecoded) is heard in track t.
uint64_t StreamPosition(const Movie* movie, const SoundTrack* t, uint32_t frame);

// In how many milliseconds from now frame `frame` (counted like
// framesDecoded) is heard, by the first track whose sound for it is decoded
// and playing; 0 when no track can tell (or the sound lock is busy).
int32_t SoundDueIn(Movie* movie, uint32_t frame, int32_t* ms);

// Sound a device needs decoded beyond the frame on show: a frame, the
// device's own buffering, a service period and a feeding step.
constexpr int64_t kSoundLeadMs = 250;

// The loop from the last frame back to frame 1 without a gap, made
// `framesLeft` frames before the pass ends (0: at the loop): each track's
// next pass starts exactly one pass after the last, with silence put in for
// a track shorter than the picture and a longer track's excess cut from the
// ring. A track whose device ran dry starts again from frame 1's sound.
void LoopSound(Movie* movie, uint32_t framesLeft);

// Whether the next pass's lead-in can go in now, `framesLeft` frames before
// the pass ends, for every track: the pass's own sound is all decoded (at
// most a little short, and the loaded packet brings no more), the track is
// past its end zone (a dry device there is no skip that would empty the
// ring), and its ring has room for the lead-in.
int32_t NextPassFits(Movie* movie, uint32_t framesLeft);

// A jump to frame n (not the next one): the devices are restarted, the rings
// emptied, and for n > 1 the silence of the lead-in the jump skipped is put
// in, so that frame n's packet sound lands at frame n's time.
void RestartSound(Movie* movie, uint32_t n);

// Each open track's packet size in the frame just loaded (0: the frame brings
// no sound for it, and the service hands over all the track holds).
void NoteSoundPackets(Movie* movie, const uint32_t* bytes);

// SoundPause on every open track in order, then one feed when frames were
// decoded. Takes the sound lock, so that the drivers never pause while the
// sound thread feeds them.
void PauseSoundTracks(Movie* movie, int32_t pause);

// Clears every track's ran-dry flag; 1 when one of them counts as a sound
// skip: raised after frame 1 and before the track's end zone, while the
// track's frames still bring sound (one whose sound ended just goes quiet).
int32_t CheckSoundSkips(Movie* movie);

// The chunk loop of one frame for open track `openIndex`: `chunk` follows
// the chunk's size field, `size` is that field. The PCM goes into the ring
// through AppendPcmSink. Caller holds the sound lock.
void DecodeSoundPacket(Movie* movie, uint32_t openIndex, const uint8_t* chunk, uint32_t size);
// An audio decoder's sink that appends to the SoundTrack given as context.
void AppendPcmSink(void* track, const int16_t* samples, uint32_t bytes);

// The sound client's two functions (the sound thread holds the client's
// mutex, the sound lock, while it calls work).
uint32_t SoundClientPriority(ServiceClient* client, uint32_t tick);
void SoundClientWork(ServiceClient* client, uint32_t tick);

// The process's sound thread, or null while no movie has sound.
struct ServiceThread* SoundServiceThread();

}  // namespace kivo
