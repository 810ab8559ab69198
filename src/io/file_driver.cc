// SPDX-License-Identifier: BSD-2-Clause
// The default file driver: reads a movie from a file (or from a stretch of a
// larger file) through a read-ahead ring buffer. ReadAhead is the ring's only
// producer and the two frame reads its only consumer; `buffered` and
// `freeBytes` hand bytes between them, so buffered data is delivered without
// the lock, copied out or (ReadFrameInPlace) lent in place until the next read.
#include <cstring>

#include "base/clock.h"
#include "io/io_driver.h"
#include "io/read_timing.h"

namespace kivo {
namespace {

void Lock(IoDriver* io) {
  if (io->Lock) io->Lock(io);
}
void Unlock(IoDriver* io) {
  if (io->Unlock) io->Unlock(io);
}

// One read at the file's current position; a failed read counts as 0 bytes.
uint32_t ReadFromFile(IoDriver* io, void* destination, uint32_t size) {
  if (size == 0) return 0;
  int64_t got = os::ReadFileBytes(io->file, destination, size);
  return got > 0 ? static_cast<uint32_t>(got) : 0;
}

uint32_t Smaller(uint32_t a, uint32_t b) { return a < b ? a : b; }

// What is left up to dataSize, capped by the ring size. Packets may run on
// past dataSize: nothing is left then, rather than a wrapped-around count.
void SetFillTargetFromPosition(IoDriver* io) {
  const uint32_t left = io->consumerPos < io->dataSize ? io->dataSize - io->consumerPos : 0;
  io->fillTarget.store(Smaller(left, io->bufferSize), std::memory_order_relaxed);
}

// Moves `readPtr` on by `count` bytes taken out of the ring, which are then
// no longer buffered; they become free space only by Release.
void Take(IoDriver* io, uint32_t count) {
  io->readPtr += count;
  if (io->readPtr >= io->bufferEnd) io->readPtr -= io->bufferSize;
  io->buffered.fetch_sub(count, std::memory_order_relaxed);
}

// Hands ring space back to the producer. The release store orders every
// read of those bytes before the producer's next write into them.
void Release(IoDriver* io, uint32_t count) { io->freeBytes.fetch_add(count, std::memory_order_release); }

// Moves `readPtr` on by `count` bytes that have left the ring.
void Consume(IoDriver* io, uint32_t count) {
  Take(io, count);
  Release(io, count);
}

// The packet handed out in place stays occupied until the next read call.
void ReleaseHeld(IoDriver* io) {
  if (io->heldBytes == 0) return;
  Release(io, io->heldBytes);
  io->heldBytes = 0;
}

uint32_t FileReadHeader(IoDriver* io, int64_t offset, void* destination, uint32_t size) {
  Lock(io);
  ReleaseHeld(io);
  if (offset != -1 && offset != io->filePos) {
    if (!os::SeekFile(io->file, static_cast<int64_t>(io->baseOffset) + offset)) {
      Unlock(io);
      return 0;
    }
    io->filePos = static_cast<uint32_t>(offset);
  }
  uint32_t got = ReadFromFile(io, destination, size);
  io->filePos += got;
  io->consumerPos = io->filePos;
  SetFillTargetFromPosition(io);
  Unlock(io);
  return got;
}

// Both frame reads. With `inRing` given, a packet that lies whole and
// unbroken in the ring is not copied: *inRing receives its address and its
// bytes are held. Otherwise (and always without `inRing`) the packet is
// copied to `destination`. The lock is taken in the same cases either way:
// for a jump, or when less than the packet is buffered.
uint32_t Deliver(IoDriver* io, uint32_t offset, uint8_t* destination, uint32_t size, uint8_t** inRing) {
  ReleaseHeld(io);
  // At the end of the file what is buffered is still delivered; the read
  // comes back short only where the buffered bytes run out.
  uint32_t start = GetMilliseconds();
  bool locked = false;
  uint32_t delivered = 0;
  uint8_t* out = destination;

  if (offset != kCurrentPosition && offset != io->consumerPos) {
    Lock(io);
    locked = true;
    if (io->consumerPos < offset && offset <= io->filePos) {
      // Already buffered: drop the bytes in between.
      uint32_t skip = offset - io->consumerPos;
      io->consumerPos = offset;
      Consume(io, skip);
    } else {
      if (!os::SeekFile(io->file, static_cast<int64_t>(io->baseOffset) + offset)) io->endOfData.store(1);
      io->filePos = io->consumerPos = offset;
      io->freeBytes.store(io->bufferSize, std::memory_order_relaxed);
      io->buffered.store(0, std::memory_order_relaxed);
      io->readPtr = io->writePtr = io->bufferStart;
    }
  }

  if (inRing && size > 0) {
    uint32_t ready = io->buffered.load(std::memory_order_acquire);
    if (ready < size && !locked) {
      // The reader thread may add the rest while we wait for the lock.
      Lock(io);
      locked = true;
      ready = io->buffered.load(std::memory_order_acquire);
    }
    if (ready >= size && size <= static_cast<uint32_t>(io->bufferEnd - io->readPtr)) {
      *inRing = io->readPtr;
      io->consumerPos += size;
      delivered = size;
      Take(io, size);
      io->heldBytes = size;
      size = 0;
    }
  }

  for (;;) {
    uint32_t n = Smaller(io->buffered.load(std::memory_order_acquire), size);
    if (n > 0) {
      io->consumerPos += n;
      size -= n;
      delivered += n;
      uint32_t first = Smaller(n, static_cast<uint32_t>(io->bufferEnd - io->readPtr));
      memcpy(out, io->readPtr, first);
      out += first;
      Consume(io, first);
      if (n > first) {
        memcpy(out, io->readPtr, n - first);
        out += n - first;
        Consume(io, n - first);
      }
    }
    if (size == 0) break;
    if (!locked) {
      // The reader thread may have added data while we waited for the lock.
      Lock(io);
      locked = true;
      continue;
    }
    // The ring is empty, so the file stands at consumerPos.
    uint32_t readStart = GetMilliseconds();
    uint32_t got = io->endOfData.load(std::memory_order_relaxed) ? 0 : ReadFromFile(io, out, size);
    if (got < size) io->endOfData.store(1, std::memory_order_relaxed);
    io->filePos += got;
    io->consumerPos += got;
    io->bytesRead.fetch_add(got, std::memory_order_relaxed);
    delivered += got;
    ApplySimulatedSpeed(io, got, readStart);
    io->readMs.fetch_add(GetMilliseconds() - readStart, std::memory_order_relaxed);
    break;
  }

  io->frameReadMs += GetMilliseconds() - start;
  SetFillTargetFromPosition(io);
  uint32_t nowBuffered = io->buffered.load(std::memory_order_relaxed);
  // Less than one chunk missing counts as full.
  if (uint64_t(nowBuffered) + kReadChunk > io->fillTarget.load(std::memory_order_relaxed))
    io->fillTarget.store(nowBuffered, std::memory_order_relaxed);
  if (locked) Unlock(io);
  return delivered;
}

uint32_t FileReadFrame(IoDriver* io, uint32_t frame, uint32_t offset, void* destination, uint32_t size) {
  (void)frame;
  return Deliver(io, offset, static_cast<uint8_t*>(destination), size, nullptr);
}

uint8_t* FileReadFrameInPlace(IoDriver* io, uint32_t frame, uint32_t offset, uint8_t* destination, uint32_t size,
                              uint32_t* delivered) {
  (void)frame;
  uint8_t* where = destination;
  uint32_t count = Deliver(io, offset, destination, size, &where);
  if (delivered) *delivered = count;
  return where;
}

uint32_t FileGetBufferSize(IoDriver* io, uint32_t requested) {
  (void)io;
  constexpr uint32_t kLargest = 0xFFFFFFFFu & ~(kReadChunk - 1);
  if (requested > kLargest) return kLargest;
  return (requested + kReadChunk - 1) & ~(kReadChunk - 1);
}

void FileSetBuffer(IoDriver* io, uint8_t* memory, uint32_t size, uint32_t dataSize, uint32_t simulatedSpeed) {
  Lock(io);
  if (!memory) size = 0;
  io->bufferSize = size & ~(kReadChunk - 1);
  io->bufferStart = io->readPtr = io->writePtr = memory;
  io->bufferEnd = memory ? memory + io->bufferSize : memory;
  io->freeBytes.store(io->bufferSize, std::memory_order_relaxed);
  io->buffered.store(0, std::memory_order_relaxed);
  io->heldBytes = 0;
  io->dataSize = dataSize;
  io->simulatedSpeed = simulatedSpeed;
  Unlock(io);
}

// Whole chunks for one ReadAhead: one, or with no simulated speed as many as
// fit before the ring's end, in its free space and in the movie, up to
// readBatch. Fewer, larger reads cost less in system calls, and chunks still
// start at multiples of kReadChunk and never cross the ring's end.
uint32_t ChunksToRead(const IoDriver* io) {
  if (io->simulatedSpeed) return kReadChunk;
  uint32_t room = Smaller(io->freeBytes.load(std::memory_order_acquire),
                          static_cast<uint32_t>(io->bufferEnd - io->writePtr));
  room = Smaller(Smaller(room, io->dataSize - io->filePos), io->readBatch);
  return room & ~(kReadChunk - 1);
}

int32_t FileReadAhead(IoDriver* io) {
  int32_t busyAtEntry = io->foregroundBusy.load(std::memory_order_relaxed);
  if (io->endOfData.load(std::memory_order_relaxed)) return 0;
  // Without a TryLock hook locking does nothing, as for the other hooks.
  if (io->TryLock && !io->TryLock(io)) {
    if (io->Yield) io->Yield(io);
    return -1;
  }
  // The last partial chunk of the file is left to ReadFrame.
  if (io->freeBytes.load(std::memory_order_acquire) < kReadChunk || io->filePos >= io->dataSize ||
      io->dataSize - io->filePos < kReadChunk) {
    io->fillTarget.store(io->buffered.load(std::memory_order_relaxed), std::memory_order_relaxed);
    Unlock(io);
    return 0;
  }

  uint32_t wanted = ChunksToRead(io);
  uint32_t start = GetMilliseconds();
  io->chunkInProgress.store(1, std::memory_order_relaxed);
  uint32_t got = ReadFromFile(io, io->writePtr, wanted);
  io->chunkInProgress.store(0, std::memory_order_relaxed);
  if (got < wanted) io->endOfData.store(1, std::memory_order_relaxed);
  io->bytesRead.fetch_add(got, std::memory_order_relaxed);
  io->filePos += got;
  io->writePtr += got;
  if (io->writePtr == io->bufferEnd) io->writePtr = io->bufferStart;
  io->freeBytes.fetch_sub(got, std::memory_order_relaxed);
  uint32_t nowBuffered = io->buffered.fetch_add(got, std::memory_order_release) + got;
  if (nowBuffered > io->highestBuffered.load(std::memory_order_relaxed))
    io->highestBuffered.store(nowBuffered, std::memory_order_relaxed);

  ApplySimulatedSpeed(io, got, start);
  uint32_t taken = GetMilliseconds() - start;
  io->readMs.fetch_add(taken, std::memory_order_relaxed);
  if (busyAtEntry || io->foregroundBusy.load(std::memory_order_relaxed))
    io->backgroundReadMs.fetch_add(taken, std::memory_order_relaxed);
  else
    io->idleReadMs.fetch_add(taken, std::memory_order_relaxed);
  Unlock(io);
  return static_cast<int32_t>(got);
}

void FileClose(IoDriver* io) {
  Lock(io);
  ReleaseHeld(io);
  if (!io->borrowedHandle) os::CloseFile(io->file);
  io->file = os::kNoFile;  // a second Close does nothing
  Unlock(io);
}

void ClearDriver(IoDriver* io) {
  io->ReadHeader = nullptr;
  io->ReadFrame = nullptr;
  io->GetBufferSize = nullptr;
  io->SetBuffer = nullptr;
  io->ReadAhead = nullptr;
  io->Close = nullptr;
  io->ReadFrameInPlace = nullptr;
  io->owner = nullptr;
  io->endOfData.store(0);
  io->chunkInProgress.store(0);
  io->bytesRead.store(0);
  io->foregroundBusy.store(0);
  io->readMs.store(0);
  io->frameReadMs = 0;
  io->idleReadMs.store(0);
  io->backgroundReadMs.store(0);
  io->bufferSize = 0;
  io->highestBuffered.store(0);
  io->fillTarget.store(0);
  io->buffered.store(0);
  io->file = os::kNoFile;
  io->filePos = 0;
  io->consumerPos = 0;
  io->readPtr = nullptr;
  io->freeBytes.store(0);
  io->heldBytes = 0;
  io->bufferStart = nullptr;
  io->bufferEnd = nullptr;
  io->writePtr = nullptr;
  io->borrowedHandle = 0;
  io->baseOffset = 0;
  io->dataSize = 0;
  io->simulatedSpeed = 0;
  io->simulatedDebt = 0;
  io->readBatch = kReadBatch;
  io->Lock = nullptr;
  io->TryLock = nullptr;
  io->Unlock = nullptr;
  io->Yield = nullptr;
  io->readerClient = ServiceClient{};
}

}  // namespace

int32_t OpenFileDriver(IoDriver* io, const void* source, uint32_t openFlags) {
  ClearDriver(io);
  if (openFlags & kIoFromHandle) {
    os::FileHandle handle = reinterpret_cast<os::FileHandle>(source);
    int64_t position = os::TellFile(handle);
    if (handle == os::kNoFile || position < 0) return 0;
    io->file = handle;
    io->borrowedHandle = 1;
    io->baseOffset = static_cast<uint64_t>(position);
  } else {
    io->file = os::OpenFileRead(static_cast<const char*>(source), true);
    if (io->file == os::kNoFile) return 0;
  }
  io->readerClient.owner = io;
  io->ReadHeader = FileReadHeader;
  io->ReadFrame = FileReadFrame;
  io->GetBufferSize = FileGetBufferSize;
  io->SetBuffer = FileSetBuffer;
  io->ReadAhead = FileReadAhead;
  io->Close = FileClose;
  io->ReadFrameInPlace = FileReadFrameInPlace;
  return 1;
}

uint32_t FillPercent(const IoDriver* io) {
  uint64_t buffered = io->buffered.load(std::memory_order_relaxed);
  uint64_t target = io->fillTarget.load(std::memory_order_relaxed);
  return static_cast<uint32_t>((buffered + 1) * 100 / (target + 1));
}

}  // namespace kivo
