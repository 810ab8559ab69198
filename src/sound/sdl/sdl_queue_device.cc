// SPDX-License-Identifier: BSD-2-Clause
// The buffer queue on SDL audio: the audio callback plays the queued buffers
// in order and sets each one's done flag once it has taken all of it.
#include <cstring>

#include "base/memory.h"
#include "sound/sdl/sdl_audio.h"

namespace kivo {
namespace {

constexpr uint32_t kFifoSize = 32;

// The queue is shared with the callback: changed only with the device locked.
struct SdlQueue {
  SDL_AudioDeviceID id;
  SoundFormat format;
  QueueHeader* fifo[kFifoSize];
  uint32_t head, count, offset;
  uint32_t left, right;  // 0..0xFFFF each
  bool scaled;           // a volume below full was applied
  uint32_t position;     // bytes taken from the queue since the open
  SdlOutputClock clock;
};

SdlQueue* Get(void* device) { return static_cast<SdlQueue*>(device); }

void Scale(const SdlQueue* q, uint8_t* bytes, uint32_t n) {
  const uint32_t channels = q->format.channels;
  if (q->format.bits == 16) {
    for (uint32_t i = 0; i + 1 < n; i += 2) {
      const uint32_t level = channels == 2 && (i / 2) % 2 ? q->right : q->left;
      const int32_t s = static_cast<int16_t>(bytes[i] | bytes[i + 1] << 8);
      const int32_t v = static_cast<int32_t>(int64_t(s) * level / 0xFFFF);
      bytes[i] = static_cast<uint8_t>(v);
      bytes[i + 1] = static_cast<uint8_t>(v >> 8);
    }
  } else {
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t level = channels == 2 && i % 2 ? q->right : q->left;
      const int32_t s = int32_t(bytes[i]) - 128;
      bytes[i] = static_cast<uint8_t>(s * int32_t(level) / 0xFFFF + 128);
    }
  }
}

void SDLCALL Callback(void* context, Uint8* stream, int length) {
  SdlQueue* q = static_cast<SdlQueue*>(context);
  uint32_t at = 0;
  const uint32_t want = static_cast<uint32_t>(length);
  while (at < want && q->count) {
    QueueHeader* h = q->fifo[q->head];
    const uint32_t left = h->bufferLength > q->offset ? h->bufferLength - q->offset : 0;
    const uint32_t take = left < want - at ? left : want - at;
    std::memcpy(stream + at, h->data + q->offset, take);
    at += take;
    q->offset += take;
    if (q->offset >= h->bufferLength) {
      ClearHeaderFlags(h, kHeaderInQueue);
      SetHeaderFlags(h, kHeaderDone);
      q->head = (q->head + 1) % kFifoSize;
      --q->count;
      q->offset = 0;
    }
  }
  if (q->scaled) Scale(q, stream, at);
  std::memset(stream + at, q->format.bits == 8 ? 0x80 : 0, want - at);
  q->position += at;
  NoteSdlCallback(&q->clock, want);  // the silence after a dry queue plays its time too
}

void* Open(const SoundFormat* format) {
  if (!AcquireSdlAudio()) return nullptr;
  SdlQueue* q = static_cast<SdlQueue*>(MemAlloc(sizeof(SdlQueue)));
  if (!q) {
    ReleaseSdlAudio();
    return nullptr;
  }
  std::memset(static_cast<void*>(q), 0, sizeof(SdlQueue));
  q->format = *format;
  q->left = q->right = 0xFFFF;
  q->id = OpenSdlOutput(*format, Callback, q, &q->clock);
  if (!q->id) {
    MemFree(q);
    ReleaseSdlAudio();
    return nullptr;
  }
  return q;
}

void Prepare(void*, QueueHeader* h) { SetHeaderFlags(h, kHeaderPrepared); }
void Unprepare(void*, QueueHeader* h) { ClearHeaderFlags(h, kHeaderPrepared); }

void Write(void* device, QueueHeader* h) {
  SdlQueue* q = Get(device);
  SDL_LockAudioDevice(q->id);
  if (q->count < kFifoSize) {
    SetHeaderFlags(h, kHeaderInQueue);
    q->fifo[(q->head + q->count) % kFifoSize] = h;
    ++q->count;
  } else {
    SetHeaderFlags(h, kHeaderDone);
  }
  SDL_UnlockAudioDevice(q->id);
}

void Pause(void* device) { SDL_PauseAudioDevice(Get(device)->id, 1); }
void Restart(void* device) { SDL_PauseAudioDevice(Get(device)->id, 0); }

void Reset(void* device) {
  SdlQueue* q = Get(device);
  SDL_LockAudioDevice(q->id);
  for (; q->count; --q->count, q->head = (q->head + 1) % kFifoSize) {
    ClearHeaderFlags(q->fifo[q->head], kHeaderInQueue);
    SetHeaderFlags(q->fifo[q->head], kHeaderDone);
  }
  q->offset = 0;
  SDL_UnlockAudioDevice(q->id);
  SDL_PauseAudioDevice(q->id, 0);
}

void Close(void* device) {
  SdlQueue* q = Get(device);
  SDL_CloseAudioDevice(q->id);
  MemFree(q);
  ReleaseSdlAudio();
}

void SetVolume(void* device, uint32_t rightLeft) {
  SdlQueue* q = Get(device);
  SDL_LockAudioDevice(q->id);
  q->left = rightLeft & 0xFFFF;
  q->right = rightLeft >> 16;
  q->scaled = q->left != 0xFFFF || q->right != 0xFFFF;
  SDL_UnlockAudioDevice(q->id);
}

uint32_t Position(void* device) {
  SdlQueue* q = Get(device);
  SDL_LockAudioDevice(q->id);
  const uint32_t position = q->position;
  SDL_UnlockAudioDevice(q->id);
  return position;
}

uint32_t Latency(void* device) {
  SdlQueue* q = Get(device);
  SDL_LockAudioDevice(q->id);
  const uint32_t bytes = SdlOutputLatency(q->clock);
  SDL_UnlockAudioDevice(q->id);
  return bytes;
}

}  // namespace

const QueueDevice kSdlQueue = {
    .name = "sdl",
    .Open = Open,
    .Prepare = Prepare,
    .Unprepare = Unprepare,
    .Write = Write,
    .Pause = Pause,
    .Restart = Restart,
    .Reset = Reset,
    .Close = Close,
    .SetVolume = SetVolume,
    .Position = Position,
    .Latency = Latency,
};

}  // namespace kivo
