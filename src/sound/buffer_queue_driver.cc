// SPDX-License-Identifier: BSD-2-Clause
// The buffer-queue sound driver: sixteen device buffers filled strictly in
// turn, queued once half a second (or the whole sound of a shorter movie) has
// been collected, polled for their done flags; all of them done while
// playing means the output ran dry.
#include <cstring>

#include "base/memory.h"
#include "movie/movie.h"
#include "sound/sound_device.h"
#include "sound/sound_drivers.h"
#include "sound/sound_system.h"
#include "sound/sound_track.h"

namespace kivo {
namespace {

QueueDriverState& State(SoundTrack* t) { return t->state.queue; }

SoundFormat Format(const SoundTrack* t) { return {t->sampleRate, t->bitsPerSample, t->channels}; }

bool Done(const QueueDriverState& s, int32_t i) { return HeaderFlags(s.headers[i]) & kHeaderDone; }

void Queue(QueueDriverState& s, int32_t i, uint32_t length) {
  QueueHeader* h = s.headers[i];
  h->bufferLength = length;
  ClearHeaderFlags(h, kHeaderDone);
  s.queuedBytes += length;
  s.device->Write(s.waveHandle, h);
}

// The collected buffers go to the device in the order they were filled.
void StartQueue(QueueDriverState& s) {
  s.started = 1;
  for (int32_t i = 0; i <= s.lastWritten; ++i) Queue(s, i, s.headers[i]->bufferLength);
}

int32_t OpenDevice(SoundTrack* t) {
  QueueDriverState& s = State(t);
  // Bytes per second times 1000, in 32 bits as the sizes are defined.
  const uint32_t perSecond1000 = t->sampleRate * t->bitsPerSample * t->channels / 8 * 1000u;
  s.bufferBytes = (perSecond1000 / 16000 + 31) & ~31u;
  s.startThreshold = (perSecond1000 / 2000 + 31) & ~31u;
  if (s.startThreshold > s.totalBytes) s.startThreshold = s.totalBytes;
  s.started = 0;
  s.collected = 0;
  s.lastWritten = -1;
  s.currentBuffer = -1;
  s.queuedBytes = 0;
  if (s.bufferBytes == 0) return 0;

  // Buffers, then the header pointers, then the headers.
  const uint32_t buffers = s.bufferBytes * kQueueBufferCount;
  const uint32_t pointers = sizeof(QueueHeader*) * kQueueBufferCount;
  s.bufferMemory = static_cast<uint8_t*>(MemAlloc(buffers + pointers + sizeof(QueueHeader) * kQueueBufferCount));
  if (!s.bufferMemory) return 0;
  s.headers = reinterpret_cast<QueueHeader**>(s.bufferMemory + buffers);
  QueueHeader* records = reinterpret_cast<QueueHeader*>(s.bufferMemory + buffers + pointers);
  for (int32_t i = 0; i < kQueueBufferCount; ++i) {
    std::memset(&records[i], 0, sizeof(QueueHeader));
    records[i].data = s.bufferMemory + s.bufferBytes * uint32_t(i);
    s.headers[i] = &records[i];
  }
  std::memset(s.bufferMemory, t->bitsPerSample == 8 ? 0x80 : 0, buffers);

  const SoundFormat format = Format(t);
  s.waveHandle = s.device->Open(&format);
  if (!s.waveHandle) {
    MemFree(s.bufferMemory);
    s.bufferMemory = nullptr;
    s.headers = nullptr;
    return 0;
  }
  for (int32_t i = 0; i < kQueueBufferCount; ++i) {
    s.headers[i]->bufferLength = s.bufferBytes;
    s.device->Prepare(s.waveHandle, s.headers[i]);
    SetHeaderFlags(s.headers[i], kHeaderDone);
  }
  return 1;
}

void CloseDevice(SoundTrack* t) {
  QueueDriverState& s = State(t);
  if (s.waveHandle) {
    s.device->Reset(s.waveHandle);
    for (int32_t i = 0; i < kQueueBufferCount; ++i) {
      s.headers[i]->bufferLength = s.bufferBytes;
      s.device->Unprepare(s.waveHandle, s.headers[i]);
      SetHeaderFlags(s.headers[i], kHeaderDone);
    }
    s.device->Close(s.waveHandle);
    s.waveHandle = nullptr;
  }
  if (s.bufferMemory) {
    MemFree(s.bufferMemory);
    s.bufferMemory = nullptr;
    s.headers = nullptr;
  }
}

void ApplyVolume(QueueDriverState& s) {
  uint32_t left, right;
  if (s.panValue <= 0x7FFF) {
    left = s.level;
    right = s.level * s.panValue / 0x7FFF;
  } else {
    left = s.level * (0x10000 - s.panValue) / 0x8001;
    right = s.level;
  }
  if (s.waveHandle) s.device->SetVolume(s.waveHandle, right * 0x10000 + left);
}

int32_t Ready(SoundTrack* t) {
  QueueDriverState& s = State(t);
  if (s.devicePaused || !t->deviceOn || !s.waveHandle) return 0;
  if (s.device->Poll) s.device->Poll(s.waveHandle);
  if (s.started) {
    int32_t done = 0;
    while (done < kQueueBufferCount && Done(s, done)) ++done;
    if (done == kQueueBufferCount) {
      t->soundSkipped = 1;
      s.started = 0;
      s.collected = 0;
      s.lastWritten = -1;
      s.currentBuffer = -1;
    }
  }
  int32_t b = (s.lastWritten + 1) % kQueueBufferCount;
  if (!Done(s, b)) {
    b = 0;
    while (b < kQueueBufferCount && !Done(s, b)) ++b;
    if (b == kQueueBufferCount) return 0;
  }
  s.currentBuffer = b;
  return 1;
}

int32_t Lock(SoundTrack* t, uint8_t** address, uint32_t* count) {
  QueueDriverState& s = State(t);
  if (s.currentBuffer < 0) return 0;
  *address = s.headers[s.currentBuffer]->data;
  *count = s.bufferBytes;
  return 1;
}

int32_t Unlock(SoundTrack* t, uint32_t n) {
  QueueDriverState& s = State(t);
  if (s.currentBuffer < 0) return 0;
  if (n > s.bufferBytes) n = s.bufferBytes;
  s.lastWritten = s.currentBuffer;
  s.currentBuffer = -1;
  s.collected += n;
  if (s.started) {
    if (s.waveHandle) Queue(s, s.lastWritten, n);
  } else {
    // A buffer collected before the start keeps the length written, so that
    // a short last buffer does not play stale bytes behind its data.
    s.headers[s.lastWritten]->bufferLength = n;
    // Starting when the last buffer is filled keeps the next fill from
    // landing on collected sound that was never played.
    if (s.collected >= s.startThreshold || s.lastWritten == kQueueBufferCount - 1) StartQueue(s);
  }
  return 1;
}

int32_t SetVolume(SoundTrack* t, uint32_t v) {
  QueueDriverState& s = State(t);
  s.level = ((v < 0xFFFF ? v : 0xFFFF) + 1) * 0x7FFF / 0x10000;
  ApplyVolume(s);
  return 1;
}

int32_t SetPan(SoundTrack* t, uint32_t p) {
  QueueDriverState& s = State(t);
  s.panValue = p < 0x10000 ? p : 0x10000;
  ApplyVolume(s);
  return 1;
}

int32_t Pause(SoundTrack* t, int32_t pause) {
  QueueDriverState& s = State(t);
  if (pause) {
    if (s.waveHandle) s.device->Pause(s.waveHandle);
    s.devicePaused = 1;
  } else {
    if (s.waveHandle) s.device->Restart(s.waveHandle);
    s.devicePaused = 0;
  }
  return static_cast<int32_t>(s.devicePaused);
}

int32_t OnOff(SoundTrack* t, int32_t on) {
  if (on && !t->deviceOn) {
    if (OpenDevice(t)) t->deviceOn = 1;
  } else if (!on && t->deviceOn) {
    CloseDevice(t);
    t->deviceOn = 0;
  }
  return static_cast<int32_t>(t->deviceOn);
}

void Close(SoundTrack* t) { CloseDevice(t); }

int32_t Held(SoundTrack* t, uint32_t* bytes) {
  QueueDriverState& s = State(t);
  if (!s.waveHandle || !s.started || s.devicePaused || !t->deviceOn) return 0;
  if (s.device->Poll) s.device->Poll(s.waveHandle);
  // What the queue still holds bounds what the position may claim.
  uint32_t queued = 0;
  for (int32_t i = 0; i < kQueueBufferCount; ++i)
    if (!Done(s, i)) queued += s.headers[i]->bufferLength;
  if (queued == 0) return 0;
  const uint32_t unplayed = s.queuedBytes - s.device->Position(s.waveHandle);
  *bytes = (unplayed < queued ? unplayed : queued) + s.device->Latency(s.waveHandle);
  return 1;
}

void Start(SoundTrack* t) {
  QueueDriverState& s = State(t);
  if (s.waveHandle && !s.started && !s.devicePaused && t->deviceOn && s.lastWritten >= 0) StartQueue(s);
}

const SoundDriver kBufferQueueDriver = {
    .SoundReady = Ready,
    .SoundLock = Lock,
    .SoundUnlock = Unlock,
    .SoundSetVolume = SetVolume,
    .SoundSetPan = SetPan,
    .SoundPause = Pause,
    .SoundOnOff = OnOff,
    .SoundClose = Close,
    .SoundHeld = Held,
    .SoundStart = Start,
};

}  // namespace

int32_t BufferQueueSoundOpen(SoundTrack* t, uint32_t rate, uint32_t bits, uint32_t channels, uint32_t, Movie* movie) {
  std::memset(static_cast<void*>(t), 0, sizeof(SoundTrack));
  QueueDriverState& s = State(t);
  const QueueDevice* device = CurrentQueueDevice();
  if (!device || rate == 0 || rate > kMaxSoundRate || (bits != 8 && bits != 16) ||
      (channels != 1 && channels != 2))
    return 0;
  t->soundSkipped = 0;
  t->bitsPerSample = bits;
  t->sampleRate = rate;
  t->channels = channels;
  // The whole sound; a movie played as fast as possible has no known length.
  const uint64_t perSecond = uint64_t(rate) * bits * channels / 8;
  uint64_t total = 0xFFFFFFFFu;
  if (movie && movie->playRateNum) {
    const uint64_t frames = uint64_t(movie->playRateDen) * movie->frameCount;
    if (frames <= UINT64_MAX / perSecond) total = perSecond * frames / movie->playRateNum;
  }
  s.totalBytes = total < 0xFFFFFFFFu ? static_cast<uint32_t>(total) : 0xFFFFFFFFu;
  s.level = s.panValue = 0x7FFF;
  s.devicePaused = 0;
  t->deviceOn = 1;
  t->ops = kBufferQueueDriver;
  // A device that cannot be opened gives way to the next.
  for (s.device = device; s.device && !OpenDevice(t);) s.device = NextQueueDevice(s.device);
  if (!s.device) {
    t->deviceOn = 0;
    t->ops = SoundDriver{};
    return 0;
  }
  t->minWrite = bits == 8 ? s.bufferBytes * 2 : s.bufferBytes;
  t->latencyMs = 0;
  return 1;
}

SoundOpenFunction SelectBufferQueueDriver(void*) { return BufferQueueSoundOpen; }
SoundOpenFunction SelectWaveOutDriver(void* parameter) { return SelectBufferQueueDriver(parameter); }

}  // namespace kivo
