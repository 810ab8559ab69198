// The reading record inside every movie: six operations, the read-ahead ring
// buffer with its shared counters, reading statistics and four lock hooks.
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

struct IoDriver {
  uint32_t (*ReadHeader)(IoDriver* io, int64_t offset, void* destination, uint32_t size);
  uint32_t (*ReadFrame)(IoDriver* io, uint32_t frame, uint32_t offset, void* destination, uint32_t size);
  uint32_t (*GetBufferSize)(IoDriver* io, uint32_t requested);
  void (*SetBuffer)(IoDriver* io, uint8_t* memory, uint32_t size, uint32_t dataSize, uint32_t simulatedSpeed);
  int32_t (*ReadAhead)(IoDriver* io);
  void (*Close)(IoDriver* io);
  Movie* owner;
  int32_t endOfData;
  int32_t chunkInProgress;
  uint32_t bytesRead;
  std::atomic<int32_t> foregroundBusy;
  uint32_t readMs;
  uint32_t frameReadMs;
  uint32_t idleReadMs;
  uint32_t backgroundReadMs;
  uint32_t bufferSize;
  uint32_t highestBuffered;
  uint32_t fillTarget;
  std::atomic<uint32_t> buffered;
  os::FileHandle file;
  uint32_t filePos;
  uint32_t consumerPos;
  uint8_t* readPtr;
  std::atomic<uint32_t> freeBytes;
  uint8_t* bufferStart;
  uint8_t* bufferEnd;
  uint8_t* writePtr;
  int32_t borrowedHandle;
  uint64_t baseOffset;  // 64-bit: a movie may lie beyond 4 GiB inside a larger file
  uint32_t dataSize;
  uint32_t simulatedSpeed;
  int32_t simulatedDebt;
  IoHook Lock;
  IoTryHook TryLock;
  IoHook Unlock;
  IoHook Yield;
  ServiceClient readerClient;
};

}  // namespace kivo
