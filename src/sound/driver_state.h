// SPDX-License-Identifier: BSD-2-Clause
// The state each sound driver keeps in a SoundTrack after the common fields:
// the buffer-queue driver's sixteen device buffers, or the looping-buffer
// driver's cursors and allowance. Plain data, cleared with the record.
#pragma once

#include <cstdint>

namespace kivo {

struct QueueDevice;
struct QueueHeader;
struct LoopDevice;

constexpr int32_t kQueueBufferCount = 16;

struct QueueDriverState {
  uint32_t level;           // volume 0..0x7FFF
  uint32_t panValue;        // 0..0x10000
  uint32_t started;         // buffers go to the device as they are filled
  uint32_t devicePaused;
  int32_t currentBuffer;    // given out by the last SoundReady, or -1
  int32_t lastWritten;      // committed last, or -1
  uint32_t collected;       // bytes committed since the last (re)start
  uint32_t startThreshold;  // bytes to collect before playback starts
  uint32_t totalBytes;      // the movie's whole sound at the device format
  uint32_t bufferBytes;     // size of each buffer
  void* waveHandle;         // the open device, or null
  QueueHeader** headers;
  uint8_t* bufferMemory;    // the buffers, then the header pointers, then the headers
  const QueueDevice* device;
  uint32_t queuedBytes;     // handed to the device since it was opened (wrapping)
};

constexpr uint32_t kMaxSpeakers = 8;

struct LoopDriverState {
  void* soundBuffer;        // the track's looping device buffer
  uint32_t secondarySize;
  uint32_t chunk;           // device bytes of 50 ms
  uint32_t rate, bits, channels;
  uint32_t volume;          // 0..0x7FFF
  uint32_t panValue;        // 0..0x10000
  uint32_t playing;
  uint32_t devicePaused;
  uint32_t writePos;
  uint32_t allowance;       // bytes that may be written from writePos now
  uint32_t initialAmount;   // bytes written before the buffer is started
  uint32_t lastWrite, lastPlay;
  uint32_t refillLimit;
  uint32_t lastReadyTime;
  void* region1;
  uint32_t region1Size;
  void* region2;
  uint32_t region2Size;
  uint32_t speakers[kMaxSpeakers];
  uint32_t speakerCount;
  uint32_t speakerVolumes[kMaxSpeakers];
  int32_t speakerLevels[kMaxSpeakers];  // the volumes through the volume table
  uint32_t speakerVolumeCount;
  const LoopDevice* device;
  uint32_t holdsObject;     // this track counts among the shared object's users
  uint32_t dry;             // playback overtook our data: the buffer plays silence
  uint32_t aheadBytes;      // ours (sound or silence) ahead of the cursor at lastReadyTime
  uint32_t presilenced;     // silence already stands behind our data
};

union SoundDriverState {
  QueueDriverState queue;
  LoopDriverState loop;
};

}  // namespace kivo
