// SPDX-License-Identifier: BSD-2-Clause
// The two small device layers the sound drivers are written against, as
// tables of operations: a buffer queue (buffers played in order, each coming
// back with its done flag) and a looping buffer (one buffer played round and
// round, with play and write cursors). A sound device is a named entry that
// offers one layer or both; the build's devices stand in one ordered list
// (sound_device_list.cc), and the drivers take the device in use when a
// track opens.
#pragma once

#include <cstdint>

#include "kivo/sound.h"  // UseSoundDevice

namespace kivo {

// Linear PCM, interleaved when stereo; 8-bit unsigned or 16-bit signed LE.
struct SoundFormat {
  uint32_t rate;
  uint32_t bits;
  uint32_t channels;
};

inline uint32_t BlockAlign(const SoundFormat& f) { return f.channels * f.bits / 8; }

// ---- Buffer queue --------------------------------------------------------

// Header flag bits, with the values the system's wave headers use.
constexpr uint32_t kHeaderDone = 0x01;
constexpr uint32_t kHeaderPrepared = 0x02;
constexpr uint32_t kHeaderInQueue = 0x10;

// One queued buffer. Laid out as the system's 32-bit wave header, so that the
// Windows back end hands it over unchanged; `flags` is written by the device
// (done) on its own thread, so both sides access it atomically.
struct QueueHeader {
  uint8_t* data;
  uint32_t bufferLength;
  uint32_t bytesRecorded;
  uintptr_t user;
  uint32_t flags;
  uint32_t loops;
  QueueHeader* next;
  uintptr_t reserved;
};

uint32_t HeaderFlags(const QueueHeader* header);
void SetHeaderFlags(QueueHeader* header, uint32_t bits);
void ClearHeaderFlags(QueueHeader* header, uint32_t bits);

struct QueueDevice {
  const char* name;
  // The default output opened for `format`; null when it cannot be.
  void* (*Open)(const SoundFormat* format);
  void (*Prepare)(void* device, QueueHeader* header);
  void (*Unprepare)(void* device, QueueHeader* header);
  // Queues bufferLength bytes; the device sets kHeaderDone once they played.
  void (*Write)(void* device, QueueHeader* header);
  void (*Pause)(void* device);
  void (*Restart)(void* device);
  // Stops at once and hands every queued header back done.
  void (*Reset)(void* device);
  void (*Close)(void* device);
  // Right level in the high 16 bits, left in the low.
  void (*SetVolume)(void* device, uint32_t rightLeft);
  // Brings the done flags up to date, for a device that has no thread of its
  // own; null when the device updates them by itself.
  void (*Poll)(void* device);
  // Bytes played since the open (wrapping at 2^32).
  uint32_t (*Position)(void* device);
  // Bytes the output holds beyond the position: taken from the queue but not
  // heard yet. The period asked for where the system reports nothing.
  uint32_t (*Latency)(void* device);
};

// ---- Looping buffer ------------------------------------------------------

// Results: 0 success, negative failure (the system's codes where it has them).
constexpr int32_t kLoopOk = 0;
constexpr int32_t kLoopFailed = static_cast<int32_t>(0x80004005u);
constexpr int32_t kLoopBufferLost = static_cast<int32_t>(0x88780096u);
constexpr uint32_t kLoopStatusPlaying = 0x1;
constexpr uint32_t kLoopStatusLooping = 0x4;

struct LoopDevice {
  const char* name;
  // Makes the system's library usable (loaded once); 1 when it is. Null:
  // nothing to load.
  int32_t (*Load)();
  // The shared object of the default output, and its release.
  int32_t (*CreateObject)(void** object);
  void (*ReleaseObject)(void* object);
  // Priority cooperation for the program's window (found once per process).
  // Null: the output has no such level, and counts as granted.
  int32_t (*SetCooperativeLevel)(void* object);
  // The output's own format, and keeping the output running. May be null.
  int32_t (*SetPrimaryFormat)(void* object, const SoundFormat* format);
  // A looping buffer of `bytes` with frequency, pan and volume control,
  // audible without focus, with the accurate play cursor.
  int32_t (*CreateBuffer)(void* object, const SoundFormat* format, uint32_t bytes, void** buffer);
  void (*ReleaseBuffer)(void* buffer);
  // Up to two regions (the second when the range wraps round the end).
  int32_t (*Lock)(void* buffer, uint32_t offset, uint32_t bytes, void** region1, uint32_t* size1, void** region2,
                  uint32_t* size2);
  int32_t (*Unlock)(void* buffer, void* region1, uint32_t size1, void* region2, uint32_t size2);
  int32_t (*Play)(void* buffer);  // looping
  int32_t (*Stop)(void* buffer);
  int32_t (*GetPosition)(void* buffer, uint32_t* play, uint32_t* write);
  int32_t (*SetPosition)(void* buffer, uint32_t play);
  int32_t (*GetStatus)(void* buffer, uint32_t* status);
  int32_t (*SetFrequency)(void* buffer, uint32_t rate);
  int32_t (*SetPan)(void* buffer, int32_t pan);        // hundredths of a dB, -10000..10000
  int32_t (*SetVolume)(void* buffer, int32_t volume);  // hundredths of a dB, -10000..0
  // Gives a lost buffer its memory back. Null: buffers are never lost.
  int32_t (*Restore)(void* buffer);
  // Bytes the output holds beyond the play cursor: played from the buffer
  // but not heard yet. The period asked for where the system reports nothing.
  uint32_t (*Latency)(void* buffer);
};

// ---- The devices, by name -------------------------------------------------

// What a device is beyond its tables (bits of SoundDeviceEntry::capabilities).
// Chosen only by name, never by itself (a device for tests).
constexpr uint32_t kSoundDeviceOnDemand = 0x01;
// Its Latency reports sound held beyond the position (else it reports 0).
constexpr uint32_t kSoundDeviceReportsLatency = 0x02;

struct SoundDeviceEntry {
  const char* name;
  uint32_t capabilities;
  const QueueDevice* queue;  // the buffer-queue layer, or null
  const LoopDevice* loop;    // the looping-buffer layer, or null
};

// The build's devices in the order they are tried: for each layer the first
// entry offering it that is not on demand. Sets *count.
const SoundDeviceEntry* const* SoundDeviceList(uint32_t* count);
// The entry of that name, or null.
const SoundDeviceEntry* FindSoundDevice(const char* name);

// Adds a device at the end of the list (a device of a test's own); 0 when
// the list is full or has a device of that name.
int32_t AddSoundDevice(const SoundDeviceEntry* entry);

// The devices a new track tries in turn for a layer: the one chosen by name
// (UseSoundDevice, kivo/sound.h) alone, else every entry offering the layer
// that is not on demand, in list order. The first, and the one after
// `after` (null past the last).
const QueueDevice* CurrentQueueDevice();
const LoopDevice* CurrentLoopDevice();
const QueueDevice* NextQueueDevice(const QueueDevice* after);
const LoopDevice* NextLoopDevice(const LoopDevice* after);

}  // namespace kivo
