// SPDX-License-Identifier: BSD-2-Clause
// One open sound track: the operations of the driver that plays it, the ring
// of decoded 16-bit PCM between the frame cycle (which fills it) and the sound
// service (which empties it into the driver), and the driver's own state.
#pragma once

#include <cstdint>

#include "sound/driver_state.h"

namespace kivo {

struct SoundTrack;
struct AudioDecoder;

// The slots a driver's open fills in. Counts are device bytes.
struct SoundDriver {
  int32_t (*SoundReady)(SoundTrack* track);
  int32_t (*SoundLock)(SoundTrack* track, uint8_t** address, uint32_t* count);
  int32_t (*SoundUnlock)(SoundTrack* track, uint32_t count);
  int32_t (*SoundSetVolume)(SoundTrack* track, uint32_t volume);
  int32_t (*SoundSetPan)(SoundTrack* track, uint32_t pan);  // 0 left, 0x8000 centre, 0x10000 right
  int32_t (*SoundPause)(SoundTrack* track, int32_t pause);
  int32_t (*SoundOnOff)(SoundTrack* track, int32_t on);
  void (*SoundClose)(SoundTrack* track);
  void (*SoundSetSpeakers)(SoundTrack* track, const uint32_t* speakers, uint32_t count);
  void (*SoundSetSpeakerVolumes)(SoundTrack* track, const uint32_t* speakers, const uint32_t* volumes,
                                 uint32_t count);
  // 1 while the track's sound is playing, with the device bytes handed over
  // and not yet heard (the output's latency included); 0 while nothing of
  // ours plays (not started, paused, off, or run dry).
  int32_t (*SoundHeld)(SoundTrack* track, uint32_t* bytes);
  // Starts playing what was handed over even when it is less than the
  // driver waits for before it starts: all the sound there is for now.
  void (*SoundStart)(SoundTrack* track);
};

// A plain record: a driver's open clears it whole before filling its part.
struct SoundTrack {
  SoundDriver ops;
  uint32_t ringSize;        // largest decoded bytes of a frame, rounded up to 256
  uint8_t* ringStart;       // a block of its own
  uint8_t* ringEnd;
  uint8_t* ringWrite;       // may equal ringEnd
  uint8_t* ringRead;        // may equal ringEnd
  AudioDecoder* decoder;
  uint32_t ringBuffered;    // ring bytes not yet handed to the driver
  uint32_t eightBit;        // the device takes 8-bit samples
  int32_t endZoneFrame;     // frames after this one are the last 750 ms
  uint32_t prefillBytes;    // silence put in after the device was switched off
  uint32_t minWrite;        // ring bytes worth handing over outside the end zone
  uint32_t alignMask;       // outside the end zone write sizes are ANDed with it
  uint32_t soundSkipped;    // the output ran dry
  uint32_t deviceOn;
  uint32_t latencyMs;
  uint32_t timeScale;       // 16.16 factor on the frame clock
  uint32_t sampleRate;
  uint32_t bitsPerSample;
  uint32_t channels;
  SoundDriverState state;
  // The frame the foreground last showed the service: the sound thread judges
  // the end zone by it, so that it never reads the movie's frame counter
  // while the foreground changes it.
  uint32_t serviceFrame;
  // The stream position where the picture's last frame ends in this pass, as
  // the foreground last saw it (0: none): sound past it waits, so that a loop
  // goes on with frame 1's sound.
  uint64_t pictureEnd;
  // Where the picture is in the sound: ring bytes appended since the track
  // began (ringWrite's place in the stream), and the stream position at which
  // the frame numbered `anchorFrame` by the movie's framesDecoded is heard.
  uint64_t streamWritten;
  uint64_t anchorPos;
  uint32_t anchorFrame;
  uint32_t leadBytes;     // ring bytes of the first frame's packet, once decoded
  uint32_t packetsEnded;  // the last frame decoded brought no sound for this track
};

// Puts n decoded bytes into the ring; when they do not fit, the oldest bytes
// are dropped. Caller holds the movie's sound lock.
void AppendPcm(SoundTrack* track, const uint8_t* data, uint32_t bytes);
// Appends n bytes of silence.
void AppendSilence(SoundTrack* track, uint32_t bytes);
// Empties the ring (its stream position is kept).
void EmptyRing(SoundTrack* track);
// Empties the ring and puts in `bytes` of silence (at most the ring) ending
// at ringWrite: the stream positions just before the sound that follows.
void PrefillRing(SoundTrack* track, uint32_t bytes);
// Hands the device what it takes of the ring, in whole sample frames (held
// to the device's write alignment but in the end zone). Caller holds the
// movie's sound lock.
void FeedTrack(SoundTrack* track);

}  // namespace kivo
