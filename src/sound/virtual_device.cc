// SPDX-License-Identifier: BSD-2-Clause
// The virtual queue and looping-buffer devices. Consumption is worked out
// lazily: whenever a device is touched it plays what the time since it was
// last touched allows, at its byte rate times the speed the test set.
#include "sound/virtual_device.h"

#include <cstring>
#include <mutex>

#include "base/clock.h"
#include "base/memory.h"

namespace kivo {
namespace {

constexpr uint32_t kMaxDevices = 32;
constexpr uint32_t kFifoSize = 64;
// Speeds are kept in millionths of normal; times are milliseconds.
constexpr uint64_t kNormalSpeed = 1000000;
constexpr uint64_t kSpeedScale = kNormalSpeed * 1000;

struct Device {
  bool used;
  bool open;
  bool looping;
  SoundFormat format;
  uint32_t frequency;
  int32_t pan, volume;
  uint32_t rightLeft;
  bool volumeSet;
  bool playing;
  uint32_t lastTime;
  uint64_t carry;  // the fraction of a byte owed, in 1/kSpeedScale
  uint64_t played;
  uint32_t playCalls;
  // Queue.
  QueueHeader* fifo[kFifoSize];
  uint32_t head, count, offset;
  // Looping buffer.
  uint8_t* memory;
  uint32_t size;
  uint32_t cursor;
};

struct Object {
  int32_t held;
};

std::mutex lock;
Device devices[kMaxDevices];
uint32_t deviceCount = 0;
Object object;
uint32_t objectsCreated = 0;
uint32_t primaryFormats = 0;
VirtualSink sink = nullptr;
void* sinkContext = nullptr;
uint64_t speed = kNormalSpeed;
uint32_t latencyMs = 0;
uint32_t failures = 0;
uint32_t lostLocks = 0;
uint32_t ignoredPlays = 0;
uint32_t writeLead = 0;

uint32_t Index(const Device* d) { return static_cast<uint32_t>(d - devices); }

uint64_t ByteRate(const Device* d) {
  return uint64_t(d->looping ? d->frequency : d->format.rate) * BlockAlign(d->format);
}

// Hands n bytes taken at `takenMs` (at `perMs` bytes a millisecond) to the sink.
void Play(Device* d, const uint8_t* bytes, uint32_t n, double takenMs, double perMs) {
  d->played += n;
  if (sink && n) sink(sinkContext, Index(d), bytes, n, takenMs + latencyMs, perMs);
}

void Advance(Device* d) {
  const uint32_t now = GetMilliseconds();
  const uint32_t elapsed = now - d->lastTime;
  const uint32_t start = d->lastTime;
  d->lastTime = now;
  if (!d->open || !d->playing) return;
  const uint64_t rate = ByteRate(d);
  const uint64_t owed = uint64_t(elapsed) * rate * speed + d->carry;
  uint64_t budget = owed / kSpeedScale;
  // The carried fraction of a byte began playing before `start`.
  const double perMs = double(rate) * double(speed) / double(kSpeedScale);
  double at = perMs > 0 ? start - double(d->carry) / (double(rate) * double(speed)) : 0;
  d->carry = owed % kSpeedScale;
  if (d->looping) {
    if (!d->size) return;
    while (budget) {
      const uint32_t take = static_cast<uint32_t>(budget < d->size - d->cursor ? budget : d->size - d->cursor);
      Play(d, d->memory + d->cursor, take, at, perMs);
      at += take / perMs;
      d->cursor = (d->cursor + take) % d->size;
      budget -= take;
    }
    return;
  }
  while (d->count) {
    QueueHeader* h = d->fifo[d->head];
    const uint32_t left = h->bufferLength > d->offset ? h->bufferLength - d->offset : 0;
    const uint32_t take = static_cast<uint32_t>(budget < left ? budget : left);
    Play(d, h->data + d->offset, take, at, perMs);
    at += take / perMs;
    d->offset += take;
    budget -= take;
    if (take < left) break;
    ClearHeaderFlags(h, kHeaderInQueue);
    SetHeaderFlags(h, kHeaderDone);
    d->head = (d->head + 1) % kFifoSize;
    --d->count;
    d->offset = 0;
  }
  if (!d->count) d->carry = 0;  // an idle device owes nothing
}

Device* NewDevice(const SoundFormat* format, bool looping) {
  if (deviceCount == kMaxDevices) return nullptr;
  Device* d = &devices[deviceCount++];
  std::memset(static_cast<void*>(d), 0, sizeof(Device));
  d->used = d->open = true;
  d->looping = looping;
  d->format = *format;
  d->frequency = format->rate;
  d->playing = !looping;
  d->lastTime = GetMilliseconds();
  return d;
}

Device* Get(void* handle) { return static_cast<Device*>(handle); }

// ---- Queue ---------------------------------------------------------------

void* QueueOpen(const SoundFormat* format) {
  std::lock_guard<std::mutex> g(lock);
  if (failures & kVirtualFailOpen) return nullptr;
  return NewDevice(format, false);
}

void QueuePrepare(void* handle, QueueHeader* h) {
  std::lock_guard<std::mutex> g(lock);
  SetHeaderFlags(h, kHeaderPrepared);
  (void)handle;
}

void QueueUnprepare(void* handle, QueueHeader* h) {
  std::lock_guard<std::mutex> g(lock);
  ClearHeaderFlags(h, kHeaderPrepared);
  (void)handle;
}

void QueueWrite(void* handle, QueueHeader* h) {
  std::lock_guard<std::mutex> g(lock);
  Device* d = Get(handle);
  Advance(d);
  if (d->count == kFifoSize) {
    SetHeaderFlags(h, kHeaderDone);
    return;
  }
  if (!d->count) d->lastTime = GetMilliseconds();  // an idle device starts now
  SetHeaderFlags(h, kHeaderInQueue);
  d->fifo[(d->head + d->count) % kFifoSize] = h;
  ++d->count;
}

void QueuePause(void* handle) {
  std::lock_guard<std::mutex> g(lock);
  Advance(Get(handle));
  Get(handle)->playing = false;
}

void QueueRestart(void* handle) {
  std::lock_guard<std::mutex> g(lock);
  Advance(Get(handle));
  Get(handle)->playing = true;
}

void QueueReset(void* handle) {
  std::lock_guard<std::mutex> g(lock);
  Device* d = Get(handle);
  Advance(d);
  for (; d->count; --d->count, d->head = (d->head + 1) % kFifoSize) {
    ClearHeaderFlags(d->fifo[d->head], kHeaderInQueue);
    SetHeaderFlags(d->fifo[d->head], kHeaderDone);
  }
  d->offset = 0;
  d->playing = true;
}

void QueueClose(void* handle) {
  std::lock_guard<std::mutex> g(lock);
  Get(handle)->open = false;
}

void QueueSetVolume(void* handle, uint32_t rightLeft) {
  std::lock_guard<std::mutex> g(lock);
  Get(handle)->rightLeft = rightLeft;
  Get(handle)->volumeSet = true;
}

void QueuePoll(void* handle) {
  std::lock_guard<std::mutex> g(lock);
  Advance(Get(handle));
}

uint32_t QueuePosition(void* handle) {
  std::lock_guard<std::mutex> g(lock);
  Advance(Get(handle));
  return static_cast<uint32_t>(Get(handle)->played);
}

uint32_t LatencyBytes(const Device* d) {
  return static_cast<uint32_t>(ByteRate(d) * latencyMs / 1000 / BlockAlign(d->format) * BlockAlign(d->format));
}

uint32_t QueueLatency(void* handle) {
  std::lock_guard<std::mutex> g(lock);
  return LatencyBytes(Get(handle));
}

const QueueDevice kVirtualQueue = {
    .name = "virtual",
    .Open = QueueOpen,
    .Prepare = QueuePrepare,
    .Unprepare = QueueUnprepare,
    .Write = QueueWrite,
    .Pause = QueuePause,
    .Restart = QueueRestart,
    .Reset = QueueReset,
    .Close = QueueClose,
    .SetVolume = QueueSetVolume,
    .Poll = QueuePoll,
    .Position = QueuePosition,
    .Latency = QueueLatency,
};

// ---- Looping buffer ------------------------------------------------------

int32_t LoopLoad() {
  std::lock_guard<std::mutex> g(lock);
  return !(failures & kVirtualFailLoad);
}

int32_t LoopCreateObject(void** out) {
  std::lock_guard<std::mutex> g(lock);
  if (failures & kVirtualFailOpen) return kLoopFailed;
  ++objectsCreated;
  ++object.held;
  *out = &object;
  return kLoopOk;
}

void LoopReleaseObject(void* o) {
  std::lock_guard<std::mutex> g(lock);
  if (o == &object && object.held > 0) --object.held;
}

int32_t LoopCooperate(void*) {
  std::lock_guard<std::mutex> g(lock);
  return failures & kVirtualFailCooperation ? kLoopFailed : kLoopOk;
}

int32_t LoopPrimaryFormat(void*, const SoundFormat*) {
  std::lock_guard<std::mutex> g(lock);
  ++primaryFormats;
  return kLoopOk;
}

int32_t LoopCreateBuffer(void*, const SoundFormat* format, uint32_t bytes, void** out) {
  std::lock_guard<std::mutex> g(lock);
  if ((failures & kVirtualFailBuffer) || bytes == 0) return kLoopFailed;
  uint8_t* memory = static_cast<uint8_t*>(MemAlloc(bytes));
  if (!memory) return kLoopFailed;
  Device* d = NewDevice(format, true);
  if (!d) {
    MemFree(memory);
    return kLoopFailed;
  }
  // Fresh device memory holds noise, not silence: the driver must clear it.
  for (uint32_t i = 0; i < bytes; ++i) memory[i] = static_cast<uint8_t>(i * 37 + 11);
  d->memory = memory;
  d->size = bytes;
  *out = d;
  return kLoopOk;
}

void LoopReleaseBuffer(void* handle) {
  std::lock_guard<std::mutex> g(lock);
  Device* d = Get(handle);
  Advance(d);
  d->open = false;
  MemFree(d->memory);
  d->memory = nullptr;
}

int32_t LoopLock(void* handle, uint32_t offset, uint32_t bytes, void** r1, uint32_t* n1, void** r2, uint32_t* n2) {
  std::lock_guard<std::mutex> g(lock);
  Device* d = Get(handle);
  if (lostLocks) {
    --lostLocks;
    return kLoopBufferLost;
  }
  if (offset >= d->size || bytes == 0 || bytes > d->size) return kLoopFailed;
  Advance(d);
  const uint32_t first = bytes < d->size - offset ? bytes : d->size - offset;
  *r1 = d->memory + offset;
  *n1 = first;
  *r2 = first < bytes ? d->memory : nullptr;
  *n2 = bytes - first;
  return kLoopOk;
}

int32_t LoopUnlock(void*, void*, uint32_t, void*, uint32_t) { return kLoopOk; }

int32_t LoopPlay(void* handle) {
  std::lock_guard<std::mutex> g(lock);
  Device* d = Get(handle);
  Advance(d);
  ++d->playCalls;
  if (ignoredPlays) {
    --ignoredPlays;
    return kLoopOk;
  }
  d->playing = true;
  return kLoopOk;
}

int32_t LoopStop(void* handle) {
  std::lock_guard<std::mutex> g(lock);
  Advance(Get(handle));
  Get(handle)->playing = false;
  return kLoopOk;
}

int32_t LoopGetPosition(void* handle, uint32_t* play, uint32_t* write) {
  std::lock_guard<std::mutex> g(lock);
  Device* d = Get(handle);
  Advance(d);
  uint32_t lead = writeLead;
  if (!lead) lead = d->frequency * BlockAlign(d->format) / 100 / BlockAlign(d->format) * BlockAlign(d->format);
  if (lead == kVirtualNoWriteLead) lead = 0;
  *play = d->cursor;
  *write = d->playing ? (d->cursor + lead) % d->size : d->cursor;
  return kLoopOk;
}

int32_t LoopSetPosition(void* handle, uint32_t position) {
  std::lock_guard<std::mutex> g(lock);
  Device* d = Get(handle);
  Advance(d);
  d->cursor = position % d->size;
  return kLoopOk;
}

int32_t LoopGetStatus(void* handle, uint32_t* status) {
  std::lock_guard<std::mutex> g(lock);
  Advance(Get(handle));
  *status = Get(handle)->playing ? kLoopStatusPlaying | kLoopStatusLooping : 0;
  return kLoopOk;
}

int32_t LoopSetFrequency(void* handle, uint32_t rate) {
  std::lock_guard<std::mutex> g(lock);
  Advance(Get(handle));
  Get(handle)->frequency = rate;
  return kLoopOk;
}

int32_t LoopSetPan(void* handle, int32_t pan) {
  std::lock_guard<std::mutex> g(lock);
  Get(handle)->pan = pan;
  return kLoopOk;
}

int32_t LoopSetVolume(void* handle, int32_t volume) {
  std::lock_guard<std::mutex> g(lock);
  Get(handle)->volume = volume;
  Get(handle)->volumeSet = true;
  return kLoopOk;
}

int32_t LoopRestore(void*) { return kLoopOk; }

uint32_t LoopLatency(void* handle) {
  std::lock_guard<std::mutex> g(lock);
  return LatencyBytes(Get(handle));
}

const LoopDevice kVirtualLoop = {
    .name = "virtual",
    .Load = LoopLoad,
    .CreateObject = LoopCreateObject,
    .ReleaseObject = LoopReleaseObject,
    .SetCooperativeLevel = LoopCooperate,
    .SetPrimaryFormat = LoopPrimaryFormat,
    .CreateBuffer = LoopCreateBuffer,
    .ReleaseBuffer = LoopReleaseBuffer,
    .Lock = LoopLock,
    .Unlock = LoopUnlock,
    .Play = LoopPlay,
    .Stop = LoopStop,
    .GetPosition = LoopGetPosition,
    .SetPosition = LoopSetPosition,
    .GetStatus = LoopGetStatus,
    .SetFrequency = LoopSetFrequency,
    .SetPan = LoopSetPan,
    .SetVolume = LoopSetVolume,
    .Restore = LoopRestore,
    .Latency = LoopLatency,
};

}  // namespace

extern const SoundDeviceEntry kVirtualSoundDevice = {
    .name = "virtual",
    .capabilities = kSoundDeviceOnDemand | kSoundDeviceReportsLatency,
    .queue = &kVirtualQueue,
    .loop = &kVirtualLoop,
};

void ResetVirtualSound() {
  std::lock_guard<std::mutex> g(lock);
  for (uint32_t i = 0; i < deviceCount; ++i)
    if (devices[i].memory) MemFree(devices[i].memory);
  std::memset(static_cast<void*>(devices), 0, sizeof(devices));
  deviceCount = 0;
  object.held = 0;
  objectsCreated = primaryFormats = 0;
  sink = nullptr;
  sinkContext = nullptr;
  speed = kNormalSpeed;
  latencyMs = 0;
  failures = lostLocks = ignoredPlays = writeLead = 0;
}

void SetVirtualSink(VirtualSink s, void* context) {
  std::lock_guard<std::mutex> g(lock);
  sink = s;
  sinkContext = context;
}

void SetVirtualSpeed(double percent) {
  std::lock_guard<std::mutex> g(lock);
  for (uint32_t i = 0; i < deviceCount; ++i) Advance(&devices[i]);
  speed = percent > 0 ? static_cast<uint64_t>(percent * double(kNormalSpeed) / 100.0 + 0.5) : 0;
}

void SetVirtualLatency(uint32_t ms) {
  std::lock_guard<std::mutex> g(lock);
  latencyMs = ms;
}

void SetVirtualFailures(uint32_t bits) {
  std::lock_guard<std::mutex> g(lock);
  failures = bits;
}

void LoseVirtualBuffers(uint32_t count) {
  std::lock_guard<std::mutex> g(lock);
  lostLocks = count;
}

void IgnoreVirtualPlays(uint32_t count) {
  std::lock_guard<std::mutex> g(lock);
  ignoredPlays = count;
}

void SetVirtualWriteLead(uint32_t bytes) {
  std::lock_guard<std::mutex> g(lock);
  writeLead = bytes;
}

void ShiftVirtualPosition(uint32_t device, uint64_t bytes) {
  std::lock_guard<std::mutex> g(lock);
  if (device < deviceCount) devices[device].played += bytes;
}

uint32_t VirtualDeviceCount() {
  std::lock_guard<std::mutex> g(lock);
  return deviceCount;
}

VirtualDeviceInfo GetVirtualDevice(uint32_t index) {
  std::lock_guard<std::mutex> g(lock);
  VirtualDeviceInfo info = {};
  if (index >= deviceCount) return info;
  Device* d = &devices[index];
  Advance(d);
  info.open = d->open;
  info.looping = d->looping;
  info.format = d->format;
  info.frequency = d->frequency;
  info.pan = d->pan;
  info.volume = d->volume;
  info.rightLeft = d->rightLeft;
  info.volumeSet = d->volumeSet;
  info.playing = d->playing;
  info.playCursor = d->cursor;
  info.queued = d->count;
  info.played = d->played;
  info.playCalls = d->playCalls;
  return info;
}

uint32_t VirtualObjectsCreated() {
  std::lock_guard<std::mutex> g(lock);
  return objectsCreated;
}

uint32_t VirtualObjectsHeld() {
  std::lock_guard<std::mutex> g(lock);
  return static_cast<uint32_t>(object.held);
}

uint32_t VirtualPrimaryFormats() {
  std::lock_guard<std::mutex> g(lock);
  return primaryFormats;
}

void AdvanceVirtualDevices() {
  std::lock_guard<std::mutex> g(lock);
  for (uint32_t i = 0; i < deviceCount; ++i) Advance(&devices[i]);
}

}  // namespace kivo
