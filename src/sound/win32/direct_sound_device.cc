// SPDX-License-Identifier: BSD-2-Clause
// The looping buffer on DirectSound, loaded at run time: the library and its
// create function are looked up once, the window for the cooperative level is
// found once, and the output's own buffer is kept while the object lives.
#include <windows.h>
#include <mmreg.h>
#include <dsound.h>

#include <new>

#include "base/memory.h"
#include "sound/sound_device.h"
#include "sound/start_lead.h"

namespace kivo {
namespace {

using CreateFunction = HRESULT(WINAPI*)(LPCGUID, LPDIRECTSOUND*, LPUNKNOWN);

HMODULE library = nullptr;
CreateFunction create = nullptr;
HWND soundWindow = nullptr;
bool windowFound = false;
IDirectSoundBuffer* primary = nullptr;

// A secondary buffer and what is known of its play cursor.
struct LoopBuffer {
  IDirectSoundBuffer* buffer = nullptr;
  uint32_t size = 0;
  uint32_t blockAlign = 0;
  uint32_t bytesPerSecond = 0;
  uint32_t startCursor = 0;
  StartLead lead;
};

IDirectSound* Object(void* object) { return static_cast<IDirectSound*>(object); }
LoopBuffer* Loop(void* buffer) { return static_cast<LoopBuffer*>(buffer); }
IDirectSoundBuffer* Buffer(void* buffer) { return Loop(buffer)->buffer; }

uint64_t NowUs() {
  LARGE_INTEGER c, f;
  QueryPerformanceCounter(&c);
  QueryPerformanceFrequency(&f);
  return static_cast<uint64_t>(c.QuadPart / f.QuadPart * 1000000 + c.QuadPart % f.QuadPart * 1000000 / f.QuadPart);
}

WAVEFORMATEX Format(const SoundFormat& f) {
  WAVEFORMATEX format = {};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = static_cast<WORD>(f.channels);
  format.nSamplesPerSec = f.rate;
  format.nBlockAlign = static_cast<WORD>(f.channels * f.bits / 8);
  format.nAvgBytesPerSec = f.rate * format.nBlockAlign;
  format.wBitsPerSample = static_cast<WORD>(f.bits);
  format.cbSize = 0;
  return format;
}

// The last top-level window of the program that is not a child wins; failing
// that the process's first window; failing that the active one.
HWND FindSoundWindow() {
  const DWORD process = GetCurrentProcessId();
  const HINSTANCE program = GetModuleHandleA(nullptr);
  HWND choice = nullptr;
  bool qualified = false;
  for (HWND w = GetTopWindow(nullptr); w; w = GetWindow(w, GW_HWNDNEXT)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner != process) continue;
    const HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(w, GWLP_HINSTANCE));
    if (instance == program && !(GetWindowLongA(w, GWL_STYLE) & WS_CHILD)) {
      choice = w;
      qualified = true;
    } else if (!qualified && !choice) {
      choice = w;
    }
  }
  return choice ? choice : GetActiveWindow();
}

int32_t Load() {
  if (create) return 1;
  if (!library) {
    const UINT mode = SetErrorMode(SEM_NOOPENFILEERRORBOX);
    HMODULE h = LoadLibraryA("DSOUND.DLL");
    SetErrorMode(mode);
    if (reinterpret_cast<uintptr_t>(h) < 32) return 0;
    library = h;
  }
  create = reinterpret_cast<CreateFunction>(reinterpret_cast<void*>(GetProcAddress(library, "DirectSoundCreate")));
  return create != nullptr;
}

int32_t CreateObject(void** object) {
  if (!Load()) return kLoopFailed;
  IDirectSound* ds = nullptr;
  const HRESULT hr = create(nullptr, &ds, nullptr);
  if (FAILED(hr) || !ds) return FAILED(hr) ? static_cast<int32_t>(hr) : kLoopFailed;
  *object = ds;
  return kLoopOk;
}

void ReleaseObject(void* object) {
  if (primary) {
    primary->Release();
    primary = nullptr;
  }
  Object(object)->Release();
}

int32_t Cooperate(void* object) {
  if (!windowFound) {
    soundWindow = FindSoundWindow();
    windowFound = true;
  }
  return static_cast<int32_t>(Object(object)->SetCooperativeLevel(soundWindow, DSSCL_PRIORITY));
}

int32_t PrimaryFormat(void* object, const SoundFormat* f) {
  DSBUFFERDESC desc = {};
  desc.dwSize = sizeof(DSBUFFERDESC1);
  desc.dwFlags = DSBCAPS_PRIMARYBUFFER;
  IDirectSoundBuffer* buffer = nullptr;
  HRESULT hr = Object(object)->CreateSoundBuffer(&desc, &buffer, nullptr);
  if (FAILED(hr) || !buffer) return FAILED(hr) ? static_cast<int32_t>(hr) : kLoopFailed;
  WAVEFORMATEX format = Format(*f);
  buffer->SetFormat(&format);
  buffer->Play(0, 0, DSBPLAY_LOOPING);
  if (primary) primary->Release();
  primary = buffer;
  return kLoopOk;
}

int32_t CreateBuffer(void* object, const SoundFormat* f, uint32_t bytes, void** out) {
  WAVEFORMATEX format = Format(*f);
  DSBUFFERDESC desc = {};
  desc.dwSize = sizeof(DSBUFFERDESC1);
  desc.dwFlags = DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME | DSBCAPS_GLOBALFOCUS |
                 DSBCAPS_GETCURRENTPOSITION2;
  desc.dwBufferBytes = bytes;
  desc.lpwfxFormat = &format;
  IDirectSoundBuffer* buffer = nullptr;
  const HRESULT hr = Object(object)->CreateSoundBuffer(&desc, &buffer, nullptr);
  if (FAILED(hr) || !buffer) return FAILED(hr) ? static_cast<int32_t>(hr) : kLoopFailed;
  void* memory = MemAlloc(sizeof(LoopBuffer));
  if (!memory) {
    buffer->Release();
    return kLoopFailed;
  }
  auto* b = new (memory) LoopBuffer;
  b->buffer = buffer;
  b->size = bytes;
  b->blockAlign = format.nBlockAlign;
  b->bytesPerSecond = format.nAvgBytesPerSec;
  *out = b;
  return kLoopOk;
}

void ReleaseBuffer(void* buffer) {
  Buffer(buffer)->Release();
  MemFree(buffer);
}

int32_t Lock(void* buffer, uint32_t offset, uint32_t bytes, void** r1, uint32_t* n1, void** r2, uint32_t* n2) {
  DWORD size1 = 0, size2 = 0;
  const HRESULT hr = Buffer(buffer)->Lock(offset, bytes, r1, &size1, r2, &size2, 0);
  *n1 = size1;
  *n2 = size2;
  return static_cast<int32_t>(hr);
}

int32_t Unlock(void* buffer, void* r1, uint32_t n1, void* r2, uint32_t n2) {
  return static_cast<int32_t>(Buffer(buffer)->Unlock(r1, n1, r2, n2));
}

// A play from stopped starts the sound.
int32_t Play(void* buffer) {
  LoopBuffer* b = Loop(buffer);
  DWORD status = 0, p = 0, w = 0;
  if (SUCCEEDED(b->buffer->GetStatus(&status)) && !(status & DSBSTATUS_PLAYING) &&
      SUCCEEDED(b->buffer->GetCurrentPosition(&p, &w))) {
    b->startCursor = p;
    StartLeadWatch(b->lead, NowUs(), b->bytesPerSecond);
  }
  return static_cast<int32_t>(b->buffer->Play(0, 0, DSBPLAY_LOOPING));
}

int32_t Stop(void* buffer) { return static_cast<int32_t>(Buffer(buffer)->Stop()); }

int32_t GetPosition(void* buffer, uint32_t* play, uint32_t* write) {
  LoopBuffer* b = Loop(buffer);
  DWORD p = 0, w = 0;
  const HRESULT hr = b->buffer->GetCurrentPosition(&p, &w);
  *play = p;
  *write = w;
  if (SUCCEEDED(hr)) StartLeadNote(b->lead, NowUs(), (p + b->size - b->startCursor) % b->size);
  return static_cast<int32_t>(hr);
}

int32_t SetPosition(void* buffer, uint32_t position) {
  return static_cast<int32_t>(Buffer(buffer)->SetCurrentPosition(position));
}

int32_t GetStatus(void* buffer, uint32_t* status) {
  DWORD s = 0;
  const HRESULT hr = Buffer(buffer)->GetStatus(&s);
  *status = s;
  return static_cast<int32_t>(hr);
}

int32_t SetFrequency(void* buffer, uint32_t rate) {
  LoopBuffer* b = Loop(buffer);
  const HRESULT hr = b->buffer->SetFrequency(rate);
  if (SUCCEEDED(hr) && rate) b->bytesPerSecond = rate * b->blockAlign;
  return static_cast<int32_t>(hr);
}
int32_t SetPan(void* buffer, int32_t pan) { return static_cast<int32_t>(Buffer(buffer)->SetPan(pan)); }
int32_t SetVolume(void* buffer, int32_t volume) { return static_cast<int32_t>(Buffer(buffer)->SetVolume(volume)); }
int32_t Restore(void* buffer) { return static_cast<int32_t>(Buffer(buffer)->Restore()); }
// The system reports no latency; the play cursor's lead at the start is it.
uint32_t Latency(void* buffer) { return Loop(buffer)->lead.lead; }

const LoopDevice kDirectSound = {
    .name = "directsound",
    .Load = Load,
    .CreateObject = CreateObject,
    .ReleaseObject = ReleaseObject,
    .SetCooperativeLevel = Cooperate,
    .SetPrimaryFormat = PrimaryFormat,
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
    .Restore = Restore,
    .Latency = Latency,
};

}  // namespace

extern const SoundDeviceEntry kDirectSoundDevice = {
    .name = "directsound", .capabilities = kSoundDeviceReportsLatency, .loop = &kDirectSound};

}  // namespace kivo
