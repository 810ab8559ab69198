// SPDX-License-Identifier: BSD-2-Clause
// The buffer queue on the Windows multimedia waveOut functions: the wave
// mapper opened without a callback, headers handed over as they are (our
// header record has the system's layout), done flags set by the system.
#include <windows.h>
#include <mmsystem.h>

#include <cstddef>
#include <new>

#include "base/memory.h"
#include "sound/sound_device.h"
#include "sound/start_lead.h"

namespace kivo {
namespace {

static_assert(sizeof(QueueHeader) == sizeof(WAVEHDR), "queue header differs from WAVEHDR");
static_assert(offsetof(QueueHeader, data) == offsetof(WAVEHDR, lpData), "lpData");
static_assert(offsetof(QueueHeader, bufferLength) == offsetof(WAVEHDR, dwBufferLength), "dwBufferLength");
static_assert(offsetof(QueueHeader, flags) == offsetof(WAVEHDR, dwFlags), "dwFlags");
static_assert(offsetof(QueueHeader, next) == offsetof(WAVEHDR, lpNext), "lpNext");
static_assert(kHeaderDone == WHDR_DONE && kHeaderPrepared == WHDR_PREPARED && kHeaderInQueue == WHDR_INQUEUE,
              "header flags");

// The system's handle and what is known of its position.
struct WaveOut {
  HWAVEOUT handle = nullptr;
  uint32_t bytesPerSecond = 0;
  uint32_t written = 0;  // since the open or the last reset
  bool paused = false;
  uint32_t startPosition = 0;
  StartLead lead;
};

WaveOut* Device(void* device) { return static_cast<WaveOut*>(device); }
HWAVEOUT Handle(void* device) { return Device(device)->handle; }
WAVEHDR* Header(QueueHeader* h) { return reinterpret_cast<WAVEHDR*>(h); }

uint64_t NowUs() {
  LARGE_INTEGER c, f;
  QueryPerformanceCounter(&c);
  QueryPerformanceFrequency(&f);
  return static_cast<uint64_t>(c.QuadPart / f.QuadPart * 1000000 + c.QuadPart % f.QuadPart * 1000000 / f.QuadPart);
}

uint32_t SystemPosition(HWAVEOUT handle) {
  MMTIME time = {};
  time.wType = TIME_BYTES;
  if (waveOutGetPosition(handle, &time, sizeof(MMTIME)) != MMSYSERR_NOERROR || time.wType != TIME_BYTES) return 0;
  return time.u.cb;
}

void StartWatch(WaveOut* d) {
  d->startPosition = SystemPosition(d->handle);
  StartLeadWatch(d->lead, NowUs(), d->bytesPerSecond);
}

void* Open(const SoundFormat* f) {
  WAVEFORMATEX format = {};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = static_cast<WORD>(f->channels);
  format.nSamplesPerSec = f->rate;
  format.wBitsPerSample = static_cast<WORD>(f->bits);
  format.nBlockAlign = static_cast<WORD>(f->bits / 8 * f->channels);
  format.nAvgBytesPerSec = format.nBlockAlign * f->rate;
  format.cbSize = 0;
  HWAVEOUT handle = nullptr;
  void* memory = MemAlloc(sizeof(WaveOut));
  if (!memory) return nullptr;
  if (waveOutOpen(&handle, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
    MemFree(memory);
    return nullptr;
  }
  auto* d = new (memory) WaveOut;
  d->handle = handle;
  d->bytesPerSecond = format.nAvgBytesPerSec;
  return d;
}

void Prepare(void* device, QueueHeader* h) { waveOutPrepareHeader(Handle(device), Header(h), sizeof(WAVEHDR)); }
void Unprepare(void* device, QueueHeader* h) { waveOutUnprepareHeader(Handle(device), Header(h), sizeof(WAVEHDR)); }

// The first buffer after the open or a reset starts the sound.
void Write(void* device, QueueHeader* h) {
  WaveOut* d = Device(device);
  if (d->written == 0 && !d->paused) StartWatch(d);
  d->written += h->bufferLength;
  waveOutWrite(d->handle, Header(h), sizeof(WAVEHDR));
}

void Pause(void* device) {
  Device(device)->paused = true;
  waveOutPause(Handle(device));
}

void Restart(void* device) {
  WaveOut* d = Device(device);
  if (d->paused && d->written != 0) StartWatch(d);
  d->paused = false;
  waveOutRestart(d->handle);
}

void Reset(void* device) {
  Device(device)->written = 0;
  waveOutReset(Handle(device));
}

void Close(void* device) {
  waveOutClose(Handle(device));
  MemFree(device);
}

void SetVolume(void* device, uint32_t rightLeft) { waveOutSetVolume(Handle(device), rightLeft); }

uint32_t Position(void* device) {
  WaveOut* d = Device(device);
  const uint32_t position = SystemPosition(d->handle);
  StartLeadNote(d->lead, NowUs(), position - d->startPosition);
  return position;
}

// The system reports no latency; the position's lead at the start is it.
uint32_t Latency(void* device) { return Device(device)->lead.lead; }

const QueueDevice kWaveOut = {
    .name = "waveout",
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

}  // namespace

extern const SoundDeviceEntry kWaveOutDevice = {
    .name = "waveout", .capabilities = kSoundDeviceReportsLatency, .queue = &kWaveOut};

}  // namespace kivo
