// SPDX-License-Identifier: BSD-2-Clause
// The looping-buffer sound driver: one looping device buffer of about 0.6 s
// per track on a device object shared by the process. It writes into the
// part of the buffer that has already played, keeps 1024 bytes clear ahead of
// the play cursor, puts silence behind its data when the data runs low, and
// re-primes half a buffer with silence when playback overtook the data (told
// by what it wrote and the time since, as the cursors alone cannot).
#include <cmath>
#include <cstring>

#include "base/clock.h"
#include "movie/movie.h"
#include "sound/sound_device.h"
#include "sound/sound_drivers.h"
#include "sound/sound_system.h"
#include "sound/sound_track.h"

namespace kivo {
namespace {

// The process's device object and its users (open tracks, and the selector
// while it tests). Changed only on the main thread.
struct SharedObject {
  void* object;
  bool recorded;      // an object (the caller's or our own) is recorded
  bool owned;         // we made it, and release it with its last user
  uint32_t users;
  bool primaryFormatPending;
  const LoopDevice* device;
};
SharedObject shared = {};

// Bounds on the waits the device could otherwise stretch without end.
constexpr uint32_t kLostRetries = 50;         // 10 ms apart
constexpr uint32_t kStartWaitLimitMs = 1000;  // for the cursor to come round
constexpr uint32_t kStopWaitLimitMs = 200;    // for the buffer to stop

bool Acquire(const LoopDevice* device) {
  if (shared.users > 0) {
    if (device != shared.device) return false;
    ++shared.users;
    return true;
  }
  ++shared.users;
  // Without an object of the caller's (or without a selector at all) the
  // driver makes its own.
  if (shared.owned || !shared.object) {
    shared.owned = true;
    void* object = nullptr;
    if (device->CreateObject(&object) < 0 || !object) {
      --shared.users;
      return false;
    }
    shared.object = object;
    shared.recorded = true;
    shared.primaryFormatPending = !device->SetCooperativeLevel || device->SetCooperativeLevel(object) >= 0;
  }
  shared.device = device;
  return true;
}

void Release() {
  if (shared.users == 0) return;
  if (--shared.users == 0 && shared.owned) {
    if (shared.object) shared.device->ReleaseObject(shared.object);
    shared.object = nullptr;
    shared.recorded = false;
    shared.primaryFormatPending = false;
  }
}

LoopDriverState& State(SoundTrack* t) { return t->state.loop; }

// Hundredths of a decibel for the 128 steps of the volume scale.
const int32_t* VolumeTable() {
  static const struct Table {
    int32_t level[128];
    Table() {
      level[0] = -10000;
      for (int i = 1; i < 128; ++i) level[i] = static_cast<int32_t>(std::lround(2000.0 * std::log10(i / 127.0)));
    }
  } table;
  return table.level;
}

int32_t VolumeLevel(uint32_t volume) {
  if (volume > 0x7FFF) volume = 0x7FFF;
  return VolumeTable()[volume * 127 / 32767];
}

int32_t PanLevel(uint32_t pan) {
  if (pan > 0x10000) pan = 0x10000;
  const uint32_t a = (pan * 127 + 0x8000) / 0x10000;
  int32_t level = 0;
  if (a < 64)
    level = VolumeTable()[2 * a];
  else if (a > 64)
    level = -VolumeTable()[254 - 2 * a];
  return level >= -24 && level <= 24 ? 0 : level;
}

uint32_t Distance(uint32_t to, uint32_t from, uint32_t size) { return ((to % size) + size - (from % size)) % size; }

int32_t LockRetry(LoopDriverState& s, uint32_t offset, uint32_t bytes, void** r1, uint32_t* n1, void** r2,
                  uint32_t* n2) {
  int32_t result = kLoopFailed;
  for (uint32_t i = 0; i < kLostRetries; ++i) {
    *r1 = *r2 = nullptr;
    *n1 = *n2 = 0;
    result = s.device->Lock(s.soundBuffer, offset, bytes, r1, n1, r2, n2);
    if (result != kLoopBufferLost) break;
    SleepMilliseconds(10);
    if (s.device->Restore) s.device->Restore(s.soundBuffer);
  }
  return result;
}

void PlayRetry(LoopDriverState& s) {
  for (uint32_t i = 0; i < kLostRetries; ++i) {
    if (s.device->Play(s.soundBuffer) != kLoopBufferLost) return;
    SleepMilliseconds(10);
    if (s.device->Restore) s.device->Restore(s.soundBuffer);
  }
}

void Silence(LoopDriverState& s, uint32_t offset, uint32_t bytes) {
  void *r1, *r2;
  uint32_t n1, n2;
  if (LockRetry(s, offset, bytes, &r1, &n1, &r2, &n2) < 0) return;
  const int fill = s.bits == 8 ? 0x80 : 0;
  if (r1) std::memset(r1, fill, n1);
  if (r2) std::memset(r2, fill, n2);
  s.device->Unlock(s.soundBuffer, r1, n1, r2, n2);
}

void Apply(LoopDriverState& s) {
  s.device->SetFrequency(s.soundBuffer, s.rate);
  s.device->SetPan(s.soundBuffer, PanLevel(s.panValue));
  s.device->SetVolume(s.soundBuffer, VolumeLevel(s.volume));
}

// Starts the buffer and waits until the device has taken the start: for a
// first start until the cursor is within the first chunk, for a resume until
// the cursor moves on from where it stopped (waiting for it to come round
// would hold the picture while the sound already plays). A start the device
// did not take is issued again after 50 ms.
void StartPlayback(LoopDriverState& s, bool resume) {
  s.playing = 1;
  PlayRetry(s);
  s.devicePaused = 0;
  const uint32_t begin = GetMilliseconds();
  uint32_t t0 = begin;
  uint32_t p0 = 0, w = 0;
  s.device->GetPosition(s.soundBuffer, &p0, &w);
  for (;;) {
    s.device->GetPosition(s.soundBuffer, &s.lastPlay, &s.lastWrite);
    const uint32_t now = GetMilliseconds();
    if (s.lastPlay == p0 && now - t0 > 50) {
      PlayRetry(s);
      s.devicePaused = 0;
      t0 = now;
      s.device->GetPosition(s.soundBuffer, &p0, &w);
    }
    const bool started = resume ? s.lastPlay != p0 : s.lastPlay <= s.chunk;
    if (started || now - begin >= kStartWaitLimitMs) break;
    SleepMilliseconds(1);
  }
  s.lastReadyTime = GetMilliseconds();
}

uint32_t BytesPerSecond(const LoopDriverState& s) { return s.rate * s.channels * s.bits / 8; }

// What is still ours ahead of the cursor. The distance from the cursor to
// our write position only shrinks while nothing is written: once it has
// grown, the cursor went past our data. And once the time since the last
// look is more than the device could take without playing all of it (even
// reckoned 2 % slow and a tenth of a second late, as a device that takes its
// sound in periods may be), the distance may be a lap off. A full buffer and
// an empty one read alike; what was there before tells them apart.
void Account(LoopDriverState& s, uint32_t playCursor, uint32_t now) {
  const uint64_t perSecond = BytesPerSecond(s);
  const uint64_t played = uint64_t(now - s.lastReadyTime) * perSecond * 98 / 100000;
  const uint64_t late = perSecond / 10;
  uint32_t distance = Distance(s.writePos, playCursor, s.secondarySize);
  if (distance == 0 && s.aheadBytes >= s.secondarySize) distance = s.secondarySize;
  if (played >= s.aheadBytes + late || distance > s.aheadBytes) distance = 0;
  s.aheadBytes = distance;
  s.lastReadyTime = now;
}

// Playback overtook everything we wrote: half a buffer of silence from the
// write cursor on, so that the buffer never plays old sound again, and the
// next data at the write cursor, to be heard as soon as it comes. The skip is
// raised once per dry spell; while nothing comes the silence is renewed.
void Overtaken(SoundTrack* t, uint32_t playCursor, uint32_t writeCursor) {
  LoopDriverState& s = State(t);
  const uint32_t size = s.secondarySize;
  if (!s.dry) t->soundSkipped = 1;
  s.dry = 1;
  // Whole sample frames, whatever the cursor reads.
  const uint32_t align = s.channels * s.bits / 8;
  const uint32_t from = (writeCursor + align - 1) / align * align % size;
  Silence(s, from, size / 2);
  s.writePos = from;
  s.aheadBytes = Distance(from, playCursor, size);
  s.presilenced = 0;
}

// Our data runs low: silence goes in behind it, where the next data will be
// written, so that the device plays silence rather than old sound should the
// data not come in time. The data already written plays on untouched, and
// the next data follows it without a gap.
void Presilence(LoopDriverState& s, uint32_t room) {
  const uint32_t half = s.secondarySize / 2;
  const uint32_t bytes = room - 1024 < half ? room - 1024 : half;
  if (bytes) Silence(s, s.writePos, bytes & ~3u);
  s.presilenced = 1;
}

int32_t Ready(SoundTrack* t) {
  LoopDriverState& s = State(t);
  if (s.devicePaused || !t->deviceOn) return 0;
  if (!s.playing) return 1;
  const uint32_t size = s.secondarySize;
  uint32_t p = 0, w = 0;
  if (s.device->GetPosition(s.soundBuffer, &p, &w) < 0) return 0;
  const int64_t dW = Distance(w, s.lastWrite, size);
  const int64_t dP = Distance(p, s.lastPlay, size);
  if (dP - dW > size / 2 || dW - dP > size / 2) return 0;  // an implausible reading
  s.lastWrite = w;
  s.lastPlay = p;
  Account(s, p, GetMilliseconds());
  if (s.aheadBytes == 0) Overtaken(t, p, w);
  // The cursor on our write position: a full buffer, or (nothing of ours
  // ahead, on a device whose write cursor is its play cursor) an empty one.
  uint32_t played = Distance(p, s.writePos, size);
  if (played == 0 && s.aheadBytes == 0) played = size;
  const uint32_t room = played < 1024 ? 0 : (played - 1024) & ~3u;
  if (room < s.chunk && (s.allowance == 0 || room == 0)) return 0;
  if (room >= s.refillLimit && !s.dry && !s.presilenced) Presilence(s, room);
  s.allowance = room;
  return 1;
}

int32_t Lock(SoundTrack* t, uint8_t** address, uint32_t* count) {
  LoopDriverState& s = State(t);
  if (s.allowance == 0 || s.region1) return 0;
  void *r1, *r2;
  uint32_t n1, n2;
  if (LockRetry(s, s.writePos, s.allowance, &r1, &n1, &r2, &n2) < 0) return 0;
  if (!r1 || !n1) {
    s.device->Unlock(s.soundBuffer, r1, n1, r2, n2);
    return 0;
  }
  s.region1 = r1;
  s.region1Size = n1;
  s.region2 = r2;
  s.region2Size = n2;
  *address = static_cast<uint8_t*>(r1);
  *count = n1;
  return 1;
}

int32_t Unlock(SoundTrack* t, uint32_t n) {
  LoopDriverState& s = State(t);
  if (!s.region1) return 0;
  if (n > s.region1Size) n = s.region1Size;
  if (n > s.allowance) n = s.allowance;
  s.writePos = (s.writePos + n) % s.secondarySize;
  s.allowance -= n;
  s.aheadBytes += n;
  if (n) s.dry = s.presilenced = 0;
  s.device->Unlock(s.soundBuffer, s.region1, s.region1Size, s.region2, s.region2Size);
  s.region1 = s.region2 = nullptr;
  s.region1Size = s.region2Size = 0;
  // What follows our data has played already: silence, so that a service
  // held up past the end of our data (a loaded machine) lets the buffer
  // play silence, never its old sound again.
  if (n && s.playing && s.allowance >= 4) Silence(s, s.writePos, s.allowance & ~3u);
  if (!s.playing && s.allowance == 0 && !s.devicePaused) StartPlayback(s, false);
  return 1;
}

int32_t SetVolume(SoundTrack* t, uint32_t v) {
  LoopDriverState& s = State(t);
  s.volume = v < 0x7FFF ? v : 0x7FFF;
  Apply(s);
  return static_cast<int32_t>(s.volume);
}

int32_t SetPan(SoundTrack* t, uint32_t p) {
  LoopDriverState& s = State(t);
  s.panValue = p < 0x10000 ? p : 0x10000;
  Apply(s);
  return static_cast<int32_t>(s.panValue);
}

void SetSpeakers(SoundTrack* t, const uint32_t* speakers, uint32_t n) {
  LoopDriverState& s = State(t);
  if (!speakers) n = 0;
  if (n > kMaxSpeakers) n = kMaxSpeakers;
  for (uint32_t i = 0; i < n; ++i) s.speakers[i] = speakers[i];
  s.speakerCount = n;
  Apply(s);
}

void SetSpeakerVolumes(SoundTrack* t, const uint32_t* speakers, const uint32_t* volumes, uint32_t n) {
  LoopDriverState& s = State(t);
  if (!speakers || !volumes) n = 0;
  if (n > kMaxSpeakers) n = kMaxSpeakers;
  for (uint32_t i = 0; i < n; ++i) {
    s.speakers[i] = speakers[i];
    s.speakerVolumes[i] = volumes[i];
    s.speakerLevels[i] = VolumeLevel(volumes[i]);
  }
  s.speakerVolumeCount = n;
  Apply(s);
}

int32_t Pause(SoundTrack* t, int32_t pause) {
  LoopDriverState& s = State(t);
  if (pause) {
    if (s.playing) {
      s.device->Stop(s.soundBuffer);
      // What played until now counts; the pause does not.
      uint32_t p = 0, w = 0;
      if (!s.devicePaused && s.device->GetPosition(s.soundBuffer, &p, &w) >= 0) Account(s, p, GetMilliseconds());
    }
    s.devicePaused = 1;
    return 1;
  }
  // A buffer that plays and was not paused has nothing to resume.
  if ((s.playing && s.devicePaused) || (!s.playing && s.allowance == 0)) StartPlayback(s, s.playing);
  s.devicePaused = 0;
  return 0;
}

int32_t OnOff(SoundTrack* t, int32_t on) {
  LoopDriverState& s = State(t);
  if (on && !t->deviceOn) {
    s.playing = 0;
    s.dry = s.presilenced = s.aheadBytes = 0;
    t->deviceOn = 1;
    s.writePos = 0;
    s.allowance = s.initialAmount;
  } else if (!on && t->deviceOn) {
    s.device->Stop(s.soundBuffer);
    const uint32_t begin = GetMilliseconds();
    uint32_t status = 0;
    while (s.device->GetStatus(s.soundBuffer, &status) >= 0 && status != 0 &&
           GetMilliseconds() - begin < kStopWaitLimitMs)
      SleepMilliseconds(1);
    s.device->SetPosition(s.soundBuffer, 0);
    Silence(s, 0, s.secondarySize);
    t->deviceOn = 0;
  }
  return static_cast<int32_t>(t->deviceOn);
}

void Close(SoundTrack* t) {
  LoopDriverState& s = State(t);
  if (s.soundBuffer) {
    s.device->Stop(s.soundBuffer);
    s.devicePaused = 1;
    s.device->ReleaseBuffer(s.soundBuffer);
    s.soundBuffer = nullptr;
  }
  if (s.holdsObject) {
    s.holdsObject = 0;
    Release();
  }
}

int32_t Held(SoundTrack* t, uint32_t* bytes) {
  LoopDriverState& s = State(t);
  if (!s.playing || s.devicePaused || !t->deviceOn || s.dry || !s.aheadBytes) return 0;
  uint32_t p = 0, w = 0;
  if (s.device->GetPosition(s.soundBuffer, &p, &w) < 0) return 0;
  // The service keeps 1024 bytes clear ahead of the cursor once it plays:
  // the cursor on our write position is a full buffer, at the start.
  uint32_t ahead = Distance(s.writePos, p, s.secondarySize);
  if (ahead == 0) ahead = s.secondarySize;
  *bytes = ahead + s.device->Latency(s.soundBuffer);
  return 1;
}

void Start(SoundTrack* t) {
  LoopDriverState& s = State(t);
  if (s.playing || s.devicePaused || !t->deviceOn || s.allowance == s.initialAmount) return;
  s.allowance = 0;
  StartPlayback(s, false);
}

const SoundDriver kLoopingBufferDriver = {
    .SoundReady = Ready,
    .SoundLock = Lock,
    .SoundUnlock = Unlock,
    .SoundSetVolume = SetVolume,
    .SoundSetPan = SetPan,
    .SoundPause = Pause,
    .SoundOnOff = OnOff,
    .SoundClose = Close,
    .SoundSetSpeakers = SetSpeakers,
    .SoundSetSpeakerVolumes = SetSpeakerVolumes,
    .SoundHeld = Held,
    .SoundStart = Start,
};

// The track's buffer on `device`, with a use of its shared object.
bool OpenBuffer(LoopDriverState& s, const LoopDevice* device, const SoundFormat& format) {
  if (!Acquire(device)) return false;
  if (shared.primaryFormatPending) {
    if (device->SetPrimaryFormat) device->SetPrimaryFormat(shared.object, &format);
    shared.primaryFormatPending = false;
  }
  if (s.secondarySize == 0 || s.chunk == 0 ||
      device->CreateBuffer(shared.object, &format, s.secondarySize, &s.soundBuffer) < 0 || !s.soundBuffer) {
    // The use of the shared object goes back with the failed open.
    s.soundBuffer = nullptr;
    Release();
    return false;
  }
  s.holdsObject = 1;
  s.device = device;
  return true;
}

}  // namespace

int32_t LoopingBufferSoundOpen(SoundTrack* t, uint32_t rate, uint32_t bits, uint32_t channels, uint32_t,
                             Movie* movie) {
  std::memset(static_cast<void*>(t), 0, sizeof(SoundTrack));
  LoopDriverState& s = State(t);
  const LoopDevice* device = CurrentLoopDevice();
  if (!device || rate == 0 || rate > kMaxSoundRate || (bits != 8 && bits != 16) ||
      (channels != 1 && channels != 2))
    return 0;
  t->sampleRate = s.rate = rate;
  t->bitsPerSample = s.bits = bits;
  t->channels = s.channels = channels;
  const SoundFormat format = {rate, bits, channels};
  const uint32_t perSecond = rate * channels * bits / 8;
  s.secondarySize = (perSecond * 600 / 1000 + 1023) & ~1023u;
  s.chunk = (perSecond * 50 / 1000 + 255) & ~255u;
  s.refillLimit = s.secondarySize * 90 / 100;
  t->soundSkipped = 0;
  t->latencyMs = 0;
  uint64_t whole = s.chunk;
  if (movie && movie->playRateNum && movie->playRateDen) {
    const uint64_t frames = uint64_t(movie->playRateDen) * movie->frameCount;
    whole = frames <= UINT64_MAX / perSecond ? frames * perSecond / movie->playRateNum : UINT64_MAX;
  }
  // Whole sample frames, so that the data stays aligned with the buffer.
  const uint32_t align = BlockAlign(format);
  s.initialAmount = static_cast<uint32_t>(whole < s.secondarySize ? whole : s.secondarySize) / align * align;
  if (s.initialAmount == 0) s.initialAmount = align;

  // A device that cannot be had, or makes no buffer, gives way to the next.
  while (device && !OpenBuffer(s, device, format)) device = NextLoopDevice(device);
  if (!device) return 0;
  t->minWrite = bits == 8 ? s.chunk * 2 : s.chunk;
  s.volume = s.panValue = 0x7FFF;
  Apply(s);
  Silence(s, 0, s.secondarySize);
  s.writePos = 0;
  s.playing = 0;
  s.allowance = s.initialAmount;
  s.devicePaused = 0;
  t->deviceOn = 1;
  t->ops = kLoopingBufferDriver;
  return 1;
}

SoundOpenFunction SelectLoopingBufferDriver(void* object) {
  const LoopDevice* device = CurrentLoopDevice();
  if (!device) return nullptr;
  if (shared.users > 0) {
    // Tracks play on the object in use: it stays until its last user goes,
    // and a different one is refused meanwhile.
    if (object ? object != shared.object : !shared.owned) return nullptr;
  } else {
    shared.object = object;
    shared.recorded = object != nullptr;
    shared.owned = object == nullptr;
  }
  // The first device that loads and gives its object.
  for (; device; device = NextLoopDevice(device)) {
    if (!object && device->Load && !device->Load()) continue;
    if (!Acquire(device)) continue;
    Release();
    return LoopingBufferSoundOpen;
  }
  return nullptr;
}

SoundOpenFunction SelectDirectSoundDriver(void* object) { return SelectLoopingBufferDriver(object); }

uint32_t LoopingObjectUsers() { return shared.users; }
int32_t LoopingObjectHeld() { return shared.object != nullptr; }
int32_t LoopingVolumeLevel(uint32_t index) { return VolumeTable()[index < 128 ? index : 127]; }
int32_t LoopingPanLevel(uint32_t pan) { return PanLevel(pan); }

}  // namespace kivo
