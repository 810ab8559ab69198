// SPDX-License-Identifier: BSD-2-Clause
// Windows side of the platform seam: KERNEL32 files, the performance counter
// and timeGetTime, Win32 threads, mutexes and events, win.ini, ShellExecuteA.
#include <windows.h>
#include <mmsystem.h>
#include <shellapi.h>

#include <cstring>
#include <new>

#include "platform/platform.h"

namespace kivo::os {

void* SystemAlloc(uint32_t size) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, size);
  if (!h) return nullptr;
  void* p = GlobalLock(h);
  if (!p) GlobalFree(h);
  return p;
}

void SystemFree(void* block) {
  if (!block) return;
  HGLOBAL h = GlobalHandle(block);
  GlobalUnlock(h);
  GlobalFree(h);
}

FileHandle OpenFileRead(const char* path, bool sequential) {
  if (!path) return kNoFile;
  const DWORD attributes = FILE_ATTRIBUTE_NORMAL | (sequential ? FILE_FLAG_SEQUENTIAL_SCAN : 0);
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, attributes, nullptr);
  // A file that another program holds open for writing (a movie still being
  // made or copied) opens only when others may go on writing it.
  if (h == INVALID_HANDLE_VALUE)
    h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, attributes,
                    nullptr);
  if (h == INVALID_HANDLE_VALUE) return kNoFile;
  return reinterpret_cast<FileHandle>(h);
}

int64_t ReadFileBytes(FileHandle file, void* buffer, uint32_t size) {
  uint8_t* out = static_cast<uint8_t*>(buffer);
  int64_t total = 0;
  while (total < size) {
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(file), out + total, size - static_cast<DWORD>(total), &got, nullptr))
      return -1;
    if (got == 0) break;
    total += got;
  }
  return total;
}

bool SeekFile(FileHandle file, int64_t position) {
  if (position < 0) return false;
  LARGE_INTEGER to;
  to.QuadPart = position;
  return SetFilePointerEx(reinterpret_cast<HANDLE>(file), to, nullptr, FILE_BEGIN) != 0;
}

int64_t TellFile(FileHandle file) {
  LARGE_INTEGER zero, at;
  zero.QuadPart = 0;
  if (!SetFilePointerEx(reinterpret_cast<HANDLE>(file), zero, &at, FILE_CURRENT)) return -1;
  return at.QuadPart;
}

int64_t FileSize(FileHandle file) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(reinterpret_cast<HANDLE>(file), &size)) return -1;
  return size.QuadPart;
}

void CloseFile(FileHandle file) {
  if (file != kNoFile) CloseHandle(reinterpret_cast<HANDLE>(file));
}

bool WriteFileAtomically(const char* path, const void* data, uint32_t size) {
  char temp[MAX_PATH + 16];
  if (strlen(path) + 5 >= sizeof temp) return false;
  strcpy(temp, path);
  strcat(temp, ".tmp");
  HANDLE h = CreateFileA(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD wrote = 0;
  bool ok = WriteFile(h, data, size, &wrote, nullptr) && wrote == size && FlushFileBuffers(h);
  CloseHandle(h);
  if (ok) ok = MoveFileExA(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  if (!ok) DeleteFileA(temp);
  return ok;
}

bool ProgramFilePath(char* out, uint32_t size) {
  if (!out || size == 0) return false;
  DWORD n = GetModuleFileNameA(nullptr, out, size);
  return n > 0 && n < size;
}

uint64_t CounterNow() {
  LARGE_INTEGER c;
  if (!QueryPerformanceCounter(&c)) return 0;
  return static_cast<uint64_t>(c.QuadPart);
}

uint64_t CounterFrequency() {
  LARGE_INTEGER f;
  if (!QueryPerformanceFrequency(&f)) return 0;
  return static_cast<uint64_t>(f.QuadPart);
}

uint32_t CoarseTickMs() { return timeGetTime(); }

void SleepMs(uint32_t ms) { Sleep(ms); }

LocalDate TodayLocal() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay};
}

struct Thread {
  HANDLE handle;
  void (*entry)(void*);
  void* arg;
};
struct Mutex { HANDLE handle; };
struct Event { HANDLE handle; };

static DWORD WINAPI ThreadMain(LPVOID param) {
  Thread* t = static_cast<Thread*>(param);
  t->entry(t->arg);
  return 0;
}

Thread* StartThread(void (*entry)(void*), void* arg) {
  Thread* t = new (std::nothrow) Thread{nullptr, entry, arg};
  if (!t) return nullptr;
  // Created suspended and then resumed, so the record is complete before it runs.
  DWORD id = 0;
  t->handle = CreateThread(nullptr, 0, ThreadMain, t, CREATE_SUSPENDED, &id);
  if (!t->handle) {
    delete t;
    return nullptr;
  }
  ResumeThread(t->handle);
  return t;
}

void JoinThread(Thread* thread) {
  if (!thread) return;
  WaitForSingleObject(thread->handle, INFINITE);
  CloseHandle(thread->handle);
  delete thread;
}

Mutex* CreateMutexObject() {
  HANDLE h = CreateMutexA(nullptr, FALSE, nullptr);
  if (!h) return nullptr;
  Mutex* m = new (std::nothrow) Mutex{h};
  if (!m) CloseHandle(h);
  return m;
}

void DestroyMutexObject(Mutex* mutex) {
  if (!mutex) return;
  CloseHandle(mutex->handle);
  delete mutex;
}

void LockMutex(Mutex* mutex) { WaitForSingleObject(mutex->handle, INFINITE); }
bool TryLockMutex(Mutex* mutex) { return WaitForSingleObject(mutex->handle, 0) == WAIT_OBJECT_0; }
void UnlockMutex(Mutex* mutex) { ReleaseMutex(mutex->handle); }

void LockBothMutexes(Mutex* a, Mutex* b) {
  HANDLE both[2] = {a->handle, b->handle};
  WaitForMultipleObjects(2, both, TRUE, INFINITE);
}

Event* CreateEventObject() {
  HANDLE h = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (!h) return nullptr;
  Event* e = new (std::nothrow) Event{h};
  if (!e) CloseHandle(h);
  return e;
}

void DestroyEventObject(Event* event) {
  if (!event) return;
  CloseHandle(event->handle);
  delete event;
}

void SignalEvent(Event* event) { SetEvent(event->handle); }
bool WaitEvent(Event* event, uint32_t ms) { return WaitForSingleObject(event->handle, ms) == WAIT_OBJECT_0; }

uint32_t ReadProfileText(const char* section, const char* key, const char* fallback, char* out, uint32_t size) {
  if (!out || size == 0) return 0;
  return GetProfileStringA(section, key, fallback ? fallback : "", out, size);
}

bool WriteProfileText(const char* section, const char* key, const char* value) {
  return WriteProfileStringA(section, key, value) != 0;
}

uint32_t LoadDefaultCommandLine(char* out, uint32_t size) {
  if (!out || size == 0) return 0;
  int limit = size < 511 ? static_cast<int>(size) : 511;
  int n = LoadStringA(GetModuleHandleA(nullptr), 1, out, limit);
  if (n < 0) n = 0;
  out[n] = 0;
  char* cut = strchr(out, '~');
  if (cut) *cut = 0;
  return static_cast<uint32_t>(strlen(out));
}

bool OpenWebPage(const char* url) {
  return reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "open", url, nullptr, nullptr, SW_SHOWNORMAL)) > 32;
}

}  // namespace kivo::os
