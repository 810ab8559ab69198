// One open sound track: the operations of the driver that plays it, the ring
// of decoded 16-bit PCM between the frame cycle (which fills it) and the sound
// service (which empties it into the driver), and the driver's own state.
#pragma once

#include <cstdint>

#include "sound/driver_state.h"

namespace kivo {

struct SoundTrack;
struct AudioDecoder;

// The ten slots a driver's open fills in. Counts are device bytes.
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
};

// Puts n decoded bytes into the ring; when they do not fit, the oldest bytes
// are dropped. Caller holds the movie's sound lock.
void AppendPcm(SoundTrack* track, const uint8_t* data, uint32_t bytes);

}  // namespace kivo
