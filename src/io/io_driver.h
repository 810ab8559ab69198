// SPDX-License-Identifier: BSD-2-Clause
// The reading record inside every movie: its table of operations, the
// read-ahead ring buffer with its shared counters, reading statistics and
// four lock hooks.
#pragma once

#include <atomic>
#include <cstdint>

#include "io/service_thread.h"
#include "platform/platform.h"

namespace kivo {

struct Movie;
struct IoDriver;

using IoHook = void (*)(IoDriver* io);
using IoTryHook = int32_t (*)(IoDriver* io);

// Everything that one thread writes and another reads is atomic: the ring
// counters (acquire/release, they publish the ring's bytes) and the flags and
// statistics that the foreground and the reader thread share (relaxed).
struct IoDriver {
  uint32_t (*ReadHeader)(IoDriver* io, int64_t offset, void* destination, uint32_t size);
  uint32_t (*ReadFrame)(IoDriver* io, uint32_t frame, uint32_t offset, void* destination, uint32_t size);
  uint32_t (*GetBufferSize)(IoDriver* io, uint32_t requested);
  void (*SetBuffer)(IoDriver* io, uint8_t* memory, uint32_t size, uint32_t dataSize, uint32_t simulatedSpeed);
  int32_t (*ReadAhead)(IoDriver* io);
  void (*Close)(IoDriver* io);
  // ReadFrame without the copy where it can be spared: returns the packet's
  // address inside the ring when it lies there whole and unbroken, otherwise
  // copies it into `destination` exactly as ReadFrame does and returns that.
  // Bytes handed out in the ring stay untouched until the next read call on
  // this driver (ReadFrame, ReadFrameInPlace, ReadHeader, SetBuffer, Close);
  // ReadAhead never releases them. *delivered (when given) gets ReadFrame's
  // count.
  uint8_t* (*ReadFrameInPlace)(IoDriver* io, uint32_t frame, uint32_t offset, uint8_t* destination, uint32_t size,
                               uint32_t* delivered);
  Movie* owner;
  std::atomic<int32_t> endOfData;
  std::atomic<int32_t> chunkInProgress;
  // The device speed's two totals are 64-bit: a movie looped for days is
  // read past 4 GiB, and the milliseconds would pass 2^32 in turn.
  std::atomic<uint64_t> bytesRead;
  std::atomic<int32_t> foregroundBusy;
  std::atomic<uint64_t> readMs;
  uint32_t frameReadMs;  // foreground only
  std::atomic<uint32_t> idleReadMs;
  std::atomic<uint32_t> backgroundReadMs;
  uint32_t bufferSize;
  std::atomic<uint32_t> highestBuffered;
  std::atomic<uint32_t> fillTarget;
  std::atomic<uint32_t> buffered;
  os::FileHandle file;
  uint32_t filePos;
  uint32_t consumerPos;
  uint8_t* readPtr;
  std::atomic<uint32_t> freeBytes;
  // Foreground only: bytes of the packet last handed out in place, just
  // behind readPtr. They are neither buffered nor free until released, so
  // the ring holds buffered + freeBytes + heldBytes = bufferSize.
  uint32_t heldBytes;
  uint8_t* bufferStart;
  uint8_t* bufferEnd;
  uint8_t* writePtr;
  int32_t borrowedHandle;
  uint64_t baseOffset;  // 64-bit: a movie may lie beyond 4 GiB inside a larger file
  uint32_t dataSize;
  uint32_t simulatedSpeed;
  int32_t simulatedDebt;
  // Most bytes one ReadAhead reads when no speed is simulated, whole chunks:
  // kReadBatch from OpenFileDriver; kReadChunk reads one a call, as a
  // simulated speed always does.
  uint32_t readBatch;
  IoHook Lock;
  IoTryHook TryLock;
  IoHook Unlock;
  IoHook Yield;
  ServiceClient readerClient;
};

// The reader thread never waits on a hidden lock to count: the 32-bit x86
// builds take 64-bit atomics lock-free too (lock cmpxchg8b).
#if defined(__i386__) || defined(_M_IX86)
static_assert(std::atomic<uint64_t>::is_always_lock_free, "64-bit atomics take a lock");
#endif

// Read-ahead works in chunks of this size; ring sizes are multiples of it.
constexpr uint32_t kReadChunk = 4096;
// Without a simulated speed one ReadAhead reads up to this many bytes at once.
constexpr uint32_t kReadBatch = 16 * kReadChunk;
// Offset meaning "where the file now stands".
constexpr uint32_t kCurrentPosition = 0xFFFFFFFFu;
// The open flag saying the source is an open file handle positioned at the
// movie's first byte (the same bit as the movie's open flag).
constexpr uint32_t kIoFromHandle = 0x00800000;

// Clears the whole record (hooks included), then opens `source`: a file name,
// or with kIoFromHandle an os::FileHandle cast to a pointer, which is borrowed
// and read relative to its current position. Installs the file driver's
// operations. 1 on success, 0 when the file cannot be opened.
int32_t OpenFileDriver(IoDriver* io, const void* source, uint32_t openFlags);

// The fill ratio the scheduling decisions use: (buffered + 1) * 100 /
// (fillTarget + 1). Worked out in 64 bits so that large rings do not wrap.
uint32_t FillPercent(const IoDriver* io);

// Points the four hooks at the reader client's mutex: Lock waits for it,
// TryLock takes it only if free (1 when the client has no mutex), Unlock
// releases it, Yield gives up the processor once. While the client is not
// registered (no mutex) they do nothing.
void InstallReaderLockHooks(IoDriver* io);

// The reader client: the emptier ring (below half full) is the more urgent
// and is topped up chunk after chunk; a fuller one gets one chunk per
// wake-up, the longest-waiting first.
uint32_t ReaderPriority(ServiceClient* client, uint32_t tick);
void ReaderWork(ServiceClient* client, uint32_t tick);
// RegisterClient of the driver's reader client with these two functions.
int32_t RegisterReaderClient(ServiceThread* thread, IoDriver* io);

}  // namespace kivo
