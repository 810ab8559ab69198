// The buffer queue on the Windows multimedia waveOut functions: the wave
// mapper opened without a callback, headers handed over as they are (our
// header record has the system's layout), done flags set by the system.
#include <windows.h>
#include <mmsystem.h>

#include <cstddef>

#include "sound/sound_device.h"

namespace kivo {
namespace {

static_assert(sizeof(QueueHeader) == sizeof(WAVEHDR), "queue header differs from WAVEHDR");
static_assert(offsetof(QueueHeader, data) == offsetof(WAVEHDR, lpData), "lpData");
static_assert(offsetof(QueueHeader, bufferLength) == offsetof(WAVEHDR, dwBufferLength), "dwBufferLength");
static_assert(offsetof(QueueHeader, flags) == offsetof(WAVEHDR, dwFlags), "dwFlags");
static_assert(offsetof(QueueHeader, next) == offsetof(WAVEHDR, lpNext), "lpNext");
static_assert(kHeaderDone == WHDR_DONE && kHeaderPrepared == WHDR_PREPARED && kHeaderInQueue == WHDR_INQUEUE,
              "header flags");

HWAVEOUT Handle(void* device) { return static_cast<HWAVEOUT>(device); }
WAVEHDR* Header(QueueHeader* h) { return reinterpret_cast<WAVEHDR*>(h); }

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
  if (waveOutOpen(&handle, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) return nullptr;
  return handle;
}

void Prepare(void* device, QueueHeader* h) { waveOutPrepareHeader(Handle(device), Header(h), sizeof(WAVEHDR)); }
void Unprepare(void* device, QueueHeader* h) { waveOutUnprepareHeader(Handle(device), Header(h), sizeof(WAVEHDR)); }
void Write(void* device, QueueHeader* h) { waveOutWrite(Handle(device), Header(h), sizeof(WAVEHDR)); }
void Pause(void* device) { waveOutPause(Handle(device)); }
void Restart(void* device) { waveOutRestart(Handle(device)); }
void Reset(void* device) { waveOutReset(Handle(device)); }
void Close(void* device) { waveOutClose(Handle(device)); }
void SetVolume(void* device, uint32_t rightLeft) { waveOutSetVolume(Handle(device), rightLeft); }

uint32_t Position(void* device) {
  MMTIME time = {};
  time.wType = TIME_BYTES;
  if (waveOutGetPosition(Handle(device), &time, sizeof(MMTIME)) != MMSYSERR_NOERROR || time.wType != TIME_BYTES)
    return 0;
  return time.u.cb;
}

// The position is what the device plays: nothing is held beyond it.
uint32_t Latency(void*) { return 0; }

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

extern const SoundDeviceEntry kWaveOutDevice = {.name = "waveout", .queue = &kWaveOut};

}  // namespace kivo
