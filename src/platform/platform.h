// SPDX-License-Identifier: BSD-2-Clause
// The platform seam: the few operating-system services the movie library and
// the player need (files with 64-bit positions, clocks, threads and locks, the
// profile, the program's own file, dialogs and web pages). One implementation
// per system lives in posix/ and win32/; everything else is portable.
#pragma once

#include <cstdint>

namespace kivo::os {

// ---- Memory --------------------------------------------------------------
// Raw system blocks under the library's allocator; null on failure.
void* SystemAlloc(uint32_t size);
void SystemFree(void* block);

// ---- Files ---------------------------------------------------------------
using FileHandle = intptr_t;
constexpr FileHandle kNoFile = -1;

// Opens an existing file for reading, also one that another program holds
// open for writing; kNoFile when it cannot be opened. `sequential` hints
// that the file is read front to back.
FileHandle OpenFileRead(const char* path, bool sequential);
// Reads up to `size` bytes at the current position: the count read, -1 on error.
int64_t ReadFileBytes(FileHandle file, void* buffer, uint32_t size);
bool SeekFile(FileHandle file, int64_t position);
int64_t TellFile(FileHandle file);   // -1 on error
int64_t FileSize(FileHandle file);   // -1 on error
void CloseFile(FileHandle file);
// Writes a whole file by way of a temporary beside it and a rename, so that
// a crash never leaves it half written.
bool WriteFileAtomically(const char* path, const void* data, uint32_t size);

// The full path of the running program, or false.
bool ProgramFilePath(char* out, uint32_t size);

// ---- Clocks --------------------------------------------------------------
uint64_t CounterNow();        // high-resolution counter, monotonic
uint64_t CounterFrequency();  // counts per second, 0 when there is no counter
uint32_t CoarseTickMs();      // millisecond tick of the system (wraps)
void SleepMs(uint32_t ms);

struct LocalDate { int year, month, day; };
LocalDate TodayLocal();

// ---- Threads and locks ---------------------------------------------------
struct Thread;
struct Mutex;
struct Event;

// Starts `entry(arg)` on a new thread; null on failure.
Thread* StartThread(void (*entry)(void*), void* arg);
// Waits for the thread to end and releases it.
void JoinThread(Thread* thread);

Mutex* CreateMutexObject();
void DestroyMutexObject(Mutex* mutex);
void LockMutex(Mutex* mutex);
bool TryLockMutex(Mutex* mutex);
void UnlockMutex(Mutex* mutex);
// Takes both mutexes without holding one while waiting for the other.
void LockBothMutexes(Mutex* a, Mutex* b);

// An auto-reset event.
Event* CreateEventObject();
void DestroyEventObject(Event* event);
void SignalEvent(Event* event);
// Waits until signalled or until `ms` passed; true when signalled.
bool WaitEvent(Event* event, uint32_t ms);

// ---- User settings and desktop -------------------------------------------
// The value of `key` in `section` of the user profile, or `fallback`; the
// result is cut to size - 1 characters. Returns the length stored.
uint32_t ReadProfileText(const char* section, const char* key, const char* fallback,
                         char* out, uint32_t size);
bool WriteProfileText(const char* section, const char* key, const char* value);

// The default command line stored in the program (cut at its first '~'):
// string resource 1 on Windows, a patchable buffer in the binary elsewhere.
// At most 511 characters with the terminator. Returns the length stored.
uint32_t LoadDefaultCommandLine(char* out, uint32_t size);

// Opens a web page in the user's browser; false when nothing could be started.
bool OpenWebPage(const char* url);

}  // namespace kivo::os
