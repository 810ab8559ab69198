// SPDX-License-Identifier: BSD-2-Clause
// The looping buffer on SDL audio: the audio callback takes the buffer's
// bytes round and round while it plays; its play cursor is what the callback
// has taken, and data may be written from there on.
#include <cmath>
#include <cstring>

#include "base/memory.h"
#include "sound/sdl/sdl_audio.h"

namespace kivo {
namespace {

// Everything the callback reads is changed only with the device locked; a
// locked region keeps the callback out until it is unlocked.
struct SdlLoop {
  SDL_AudioDeviceID id;
  SoundFormat format;
  uint8_t* memory;
  uint32_t size;
  uint32_t cursor;
  bool playing;
  int32_t volume, pan;   // hundredths of a decibel
  float left, right;     // gains from the two
  SdlOutputClock clock;
};

int32_t objectUsers = 0;
int32_t objectToken = 0;

SdlLoop* Get(void* buffer) { return static_cast<SdlLoop*>(buffer); }

void Gains(SdlLoop* b) {
  const double level = std::pow(10.0, b->volume / 2000.0);
  b->left = b->right = static_cast<float>(level);
  if (b->pan < 0) b->right = static_cast<float>(level * std::pow(10.0, b->pan / 2000.0));
  if (b->pan > 0) b->left = static_cast<float>(level * std::pow(10.0, -b->pan / 2000.0));
}

void Scale(const SdlLoop* b, uint8_t* bytes, uint32_t n) {
  const bool stereo = b->format.channels == 2;
  if (b->format.bits == 16) {
    for (uint32_t i = 0; i + 1 < n; i += 2) {
      const float gain = stereo && (i / 2) % 2 ? b->right : b->left;
      const int32_t v = static_cast<int32_t>(std::lrint(static_cast<int16_t>(bytes[i] | bytes[i + 1] << 8) * gain));
      bytes[i] = static_cast<uint8_t>(v);
      bytes[i + 1] = static_cast<uint8_t>(v >> 8);
    }
  } else {
    for (uint32_t i = 0; i < n; ++i) {
      const float gain = stereo && i % 2 ? b->right : b->left;
      bytes[i] = static_cast<uint8_t>(std::lrint((int32_t(bytes[i]) - 128) * gain) + 128);
    }
  }
}

void SDLCALL Callback(void* context, Uint8* stream, int length) {
  SdlLoop* b = static_cast<SdlLoop*>(context);
  const uint32_t want = static_cast<uint32_t>(length);
  // Silence takes its period to play too.
  NoteSdlCallback(&b->clock, want);
  if (!b->playing || !b->size) {
    std::memset(stream, b->format.bits == 8 ? 0x80 : 0, want);
    return;
  }
  for (uint32_t at = 0; at < want;) {
    const uint32_t take = b->size - b->cursor < want - at ? b->size - b->cursor : want - at;
    std::memcpy(stream + at, b->memory + b->cursor, take);
    b->cursor = (b->cursor + take) % b->size;
    at += take;
  }
  if (b->left != 1.0f || b->right != 1.0f) Scale(b, stream, want);
}

int32_t CreateObject(void** object) {
  if (!AcquireSdlAudio()) return kLoopFailed;
  ++objectUsers;
  *object = &objectToken;
  return kLoopOk;
}

void ReleaseObject(void*) {
  if (objectUsers > 0) {
    --objectUsers;
    ReleaseSdlAudio();
  }
}

int32_t CreateBuffer(void*, const SoundFormat* format, uint32_t bytes, void** out) {
  if (!bytes || !AcquireSdlAudio()) return kLoopFailed;
  SdlLoop* b = static_cast<SdlLoop*>(MemAlloc(sizeof(SdlLoop)));
  uint8_t* memory = static_cast<uint8_t*>(MemAlloc(bytes));
  if (!b || !memory) {
    MemFree(b);
    MemFree(memory);
    ReleaseSdlAudio();
    return kLoopFailed;
  }
  std::memset(static_cast<void*>(b), 0, sizeof(SdlLoop));
  std::memset(memory, format->bits == 8 ? 0x80 : 0, bytes);
  b->format = *format;
  b->memory = memory;
  b->size = bytes;
  b->left = b->right = 1.0f;
  b->id = OpenSdlOutput(*format, Callback, b, &b->clock);
  if (!b->id) {
    MemFree(memory);
    MemFree(b);
    ReleaseSdlAudio();
    return kLoopFailed;
  }
  *out = b;
  return kLoopOk;
}

void ReleaseBuffer(void* buffer) {
  SdlLoop* b = Get(buffer);
  SDL_CloseAudioDevice(b->id);
  MemFree(b->memory);
  MemFree(b);
  ReleaseSdlAudio();
}

int32_t Lock(void* buffer, uint32_t offset, uint32_t bytes, void** r1, uint32_t* n1, void** r2, uint32_t* n2) {
  SdlLoop* b = Get(buffer);
  if (offset >= b->size || bytes == 0 || bytes > b->size) return kLoopFailed;
  SDL_LockAudioDevice(b->id);
  const uint32_t first = bytes < b->size - offset ? bytes : b->size - offset;
  *r1 = b->memory + offset;
  *n1 = first;
  *r2 = first < bytes ? b->memory : nullptr;
  *n2 = bytes - first;
  return kLoopOk;
}

int32_t Unlock(void* buffer, void*, uint32_t, void*, uint32_t) {
  SDL_UnlockAudioDevice(Get(buffer)->id);
  return kLoopOk;
}

int32_t SetPlaying(void* buffer, bool playing) {
  SdlLoop* b = Get(buffer);
  SDL_LockAudioDevice(b->id);
  b->playing = playing;
  SDL_UnlockAudioDevice(b->id);
  return kLoopOk;
}

int32_t Play(void* buffer) { return SetPlaying(buffer, true); }
int32_t Stop(void* buffer) { return SetPlaying(buffer, false); }

int32_t GetPosition(void* buffer, uint32_t* play, uint32_t* write) {
  SdlLoop* b = Get(buffer);
  SDL_LockAudioDevice(b->id);
  *play = *write = b->cursor;
  SDL_UnlockAudioDevice(b->id);
  return kLoopOk;
}

int32_t SetPosition(void* buffer, uint32_t position) {
  SdlLoop* b = Get(buffer);
  SDL_LockAudioDevice(b->id);
  b->cursor = position % b->size;
  SDL_UnlockAudioDevice(b->id);
  return kLoopOk;
}

int32_t GetStatus(void* buffer, uint32_t* status) {
  SdlLoop* b = Get(buffer);
  SDL_LockAudioDevice(b->id);
  *status = b->playing ? kLoopStatusPlaying | kLoopStatusLooping : 0;
  SDL_UnlockAudioDevice(b->id);
  return kLoopOk;
}

// The buffer plays at the rate it was made for.
int32_t SetFrequency(void* buffer, uint32_t rate) { return rate == Get(buffer)->format.rate ? kLoopOk : kLoopFailed; }

int32_t SetPan(void* buffer, int32_t pan) {
  SdlLoop* b = Get(buffer);
  SDL_LockAudioDevice(b->id);
  b->pan = pan;
  Gains(b);
  SDL_UnlockAudioDevice(b->id);
  return kLoopOk;
}

int32_t SetVolume(void* buffer, int32_t volume) {
  SdlLoop* b = Get(buffer);
  SDL_LockAudioDevice(b->id);
  b->volume = volume;
  Gains(b);
  SDL_UnlockAudioDevice(b->id);
  return kLoopOk;
}

uint32_t Latency(void* buffer) {
  SdlLoop* b = Get(buffer);
  SDL_LockAudioDevice(b->id);
  const uint32_t bytes = SdlOutputLatency(b->clock);
  SDL_UnlockAudioDevice(b->id);
  return bytes;
}

}  // namespace

extern const LoopDevice kSdlLoop = {
    .name = "sdl",
    .CreateObject = CreateObject,
    .ReleaseObject = ReleaseObject,
    .CreateBuffer = CreateBuffer,
    .ReleaseBuffer = ReleaseBuffer,
    .Lock = Lock,
    .Unlock = Unlock,
    .Play = Play,
    .Stop = Stop,
    .GetPosition = GetPosition,
    .SetPosition = SetPosition,
    .GetStatus = GetStatus,
    .SetFrequency = SetFrequency,
    .SetPan = SetPan,
    .SetVolume = SetVolume,
    .Latency = Latency,
};

}  // namespace kivo
