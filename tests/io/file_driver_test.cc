// SPDX-License-Identifier: BSD-2-Clause
// The file driver: delivering frames from the ring and the file, jumps,
// borrowed handles, ring sizes, the end of the file and short reads, a file
// another program is writing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "io/io_driver.h"
#include "io_test_files.h"
#include "movie/container.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kivo {
namespace {

using test::MakeTestMovie;
using test::OpenTestDriver;
using test::RingConsistent;
using test::TestMovie;

int lockCalls = 0;
void CountingLock(IoDriver*) { ++lockCalls; }
int32_t FreeTryLock(IoDriver*) { return 1; }
void NoUnlock(IoDriver*) {}
// The reader thread adding a chunk while the foreground waits for the lock.
void LockAfterAChunkArrived(IoDriver* io) {
  ++lockCalls;
  io->ReadAhead(io);
}

// Opens a driver on `movie` with a ring of `ringSize`, fills the ring and
// counts the Lock calls made after that.
struct ReadingFixture : ::testing::Test {
  IoDriver io;
  std::vector<uint8_t> ring;

  void Open(const TestMovie& movie, uint32_t ringSize, bool fill = true) {
    ring.assign(ringSize, 0);
    ASSERT_TRUE(OpenTestDriver(&io, movie, ring.data(), ringSize));
    io.Lock = CountingLock;
    io.TryLock = FreeTryLock;
    io.Unlock = NoUnlock;
    while (fill && io.ReadAhead(&io) > 0) {
    }
    lockCalls = 0;
  }
  // Reads frame n and compares it with the file.
  void ExpectFrame(const TestMovie& movie, uint32_t n) {
    std::vector<uint8_t> out(movie.Size(n));
    ASSERT_EQ(io.ReadFrame(&io, n - 1, movie.Offset(n), out.data(), movie.Size(n)), movie.Size(n)) << "frame " << n;
    EXPECT_EQ(memcmp(out.data(), movie.Bytes(movie.Offset(n)), out.size()), 0) << "frame " << n;
    EXPECT_TRUE(RingConsistent(io)) << "frame " << n;
  }
  void TearDown() override {
    if (io.Close) io.Close(&io);
  }
};

TEST_F(ReadingFixture, InOrderFramesComeFromTheRingWithoutLockOrFileRead) {
  TestMovie movie = MakeTestMovie("io_inorder.kiv", {6000, 5500, 6800, 7000, 4900, 12000});
  Open(movie, 8 * 4096);
  EXPECT_EQ(io.buffered.load(), 8u * 4096);
  EXPECT_EQ(io.highestBuffered.load(), 8u * 4096);
  uint32_t readBefore = io.bytesRead.load();
  for (uint32_t n = 1; n <= 5; ++n) ExpectFrame(movie, n);
  EXPECT_EQ(lockCalls, 0);
  EXPECT_EQ(io.bytesRead.load(), readBefore);
  EXPECT_EQ(io.buffered.load(), 8u * 4096 - (movie.Offset(6) - movie.Offset(1)));
}

TEST_F(ReadingFixture, JumpsInsideTheRingDropBytesOthersEmptyItAndSeek) {
  TestMovie movie = MakeTestMovie("io_jumps.kiv", std::vector<uint32_t>(40, 1500));
  Open(movie, 4 * 4096);
  uint32_t readBefore = io.bytesRead.load();
  uint32_t bufferedBefore = io.buffered.load();

  // Forward to frame 4, still buffered: frames 1-3 are dropped, the file untouched.
  ExpectFrame(movie, 4);
  EXPECT_EQ(lockCalls, 1);
  EXPECT_EQ(io.bytesRead.load(), readBefore);
  EXPECT_EQ(io.buffered.load(), bufferedBefore - (movie.Offset(5) - movie.Offset(1)));

  // Backward to frame 2: the ring is emptied and the frame read from the file.
  ExpectFrame(movie, 2);
  EXPECT_EQ(io.buffered.load(), 0u);
  EXPECT_EQ(io.freeBytes.load(), io.bufferSize);
  EXPECT_EQ(io.bytesRead.load(), readBefore + movie.Size(2));
  EXPECT_EQ(io.readPtr, io.bufferStart);

  // Fill again, then beyond filePos: also a seek.
  while (io.ReadAhead(&io) > 0) {
  }
  ASSERT_LT(io.filePos, movie.Offset(30));
  uint32_t readNow = io.bytesRead.load();
  ExpectFrame(movie, 30);
  EXPECT_EQ(io.buffered.load(), 0u);
  EXPECT_EQ(io.bytesRead.load(), readNow + movie.Size(30));
  // Reading on in order continues from the new place.
  while (io.ReadAhead(&io) > 0) {
  }
  ExpectFrame(movie, 31);
  ExpectFrame(movie, 32);
}

TEST_F(ReadingFixture, FrameLargerThanTheRingTakesTheBufferedPartThenOneFileRead) {
  TestMovie movie = MakeTestMovie("io_large.kiv", {100, 20000, 300});
  Open(movie, 2 * 4096);
  uint32_t readBefore = io.bytesRead.load();
  ExpectFrame(movie, 1);
  uint32_t bufferedBeforeFrame2 = io.buffered.load();
  ASSERT_LT(bufferedBeforeFrame2, movie.Size(2));
  ExpectFrame(movie, 2);
  EXPECT_EQ(lockCalls, 1);
  EXPECT_EQ(io.bytesRead.load(), readBefore + movie.Size(2) - bufferedBeforeFrame2);
  EXPECT_EQ(io.buffered.load(), 0u);
  ExpectFrame(movie, 3);  // the last, short stretch comes from the file too
}

TEST_F(ReadingFixture, DataThatArrivedWhileWaitingForTheLockIsUsedBeforeTheFile) {
  TestMovie movie = MakeTestMovie("io_arrived.kiv", {1000, 15000, 20000});
  Open(movie, 3 * 4096);
  ExpectFrame(movie, 1);  // the ring stays full but for 1000 bytes
  ASSERT_EQ(io.bytesRead.load(), 3u * 4096);
  io.Lock = LockAfterAChunkArrived;
  ExpectFrame(movie, 2);  // more than is buffered: the lock is taken
  EXPECT_EQ(lockCalls, 1);
  // What arrived meanwhile completes the frame; the file is not read directly.
  EXPECT_EQ(io.bytesRead.load(), 6u * 4096);
  EXPECT_EQ(io.buffered.load(), 6u * 4096 - movie.Size(1) - movie.Size(2));
}

TEST_F(ReadingFixture, RingWrapsWhileFillAndDrainInterleave) {
  std::vector<uint32_t> sizes;
  for (uint32_t i = 0; i < 120; ++i) sizes.push_back(700 + (i * 977) % 3100);
  TestMovie movie = MakeTestMovie("io_wrap.kiv", sizes);
  Open(movie, 3 * 4096, false);
  for (uint32_t n = 1; n <= sizes.size(); ++n) {
    io.ReadAhead(&io);
    ASSERT_TRUE(RingConsistent(io));
    ASSERT_EQ((io.writePtr - io.bufferStart) % 4096, 0);  // reads never cross the ring's end
    ExpectFrame(movie, n);
    if (n % 3 == 0) io.ReadAhead(&io);
  }
  EXPECT_EQ(io.endOfData.load(), 0);
  EXPECT_EQ(io.consumerPos, movie.MovieSize());
}

TEST_F(ReadingFixture, NearTheEndReadAheadStopsAndCountsTheRingFull) {
  TestMovie movie = MakeTestMovie("io_tail.kiv", {3000, 3000, 3000});
  Open(movie, 8 * 4096);
  // Two whole chunks fit in the movie; the rest is left to ReadFrame.
  EXPECT_EQ(io.buffered.load(), 2u * 4096);
  EXPECT_LT(movie.MovieSize() - io.filePos, 4096u);
  EXPECT_EQ(io.ReadAhead(&io), 0);
  EXPECT_EQ(io.fillTarget.load(), io.buffered.load());
  for (uint32_t n = 1; n <= 3; ++n) ExpectFrame(movie, n);
  EXPECT_EQ(io.endOfData.load(), 0);

  // A full ring: nothing to do, and the target is what is buffered.
  TestMovie big = MakeTestMovie("io_full.kiv", std::vector<uint32_t>(20, 4000));
  io.Close(&io);
  Open(big, 2 * 4096);
  EXPECT_EQ(io.freeBytes.load(), 0u);
  EXPECT_EQ(io.ReadAhead(&io), 0);
  EXPECT_EQ(io.fillTarget.load(), 2u * 4096);
}

// Without a simulated speed one call reads as many whole chunks as the ring
// has room for, up to its end and readBatch; readBatch = one chunk reads one.
TEST_F(ReadingFixture, OneReadAheadReadsABatchOfChunks) {
  TestMovie movie = MakeTestMovie("io_batch.kiv", std::vector<uint32_t>(40, 4000));
  Open(movie, 8 * 4096, false);
  EXPECT_EQ(io.ReadAhead(&io), 8 * 4096);
  ExpectFrame(movie, 1);
  ExpectFrame(movie, 2);
  EXPECT_EQ(io.ReadAhead(&io), 4096);  // the one whole chunk freed, at the ring's start
  io.Close(&io);
  Open(movie, 8 * 4096, false);
  io.readBatch = kReadChunk;
  EXPECT_EQ(io.ReadAhead(&io), 4096);
}

TEST_F(ReadingFixture, ShortReadEndsReadingOnceTheBufferedBytesAreDelivered) {
  // The header claims more data than the file holds.
  TestMovie movie = MakeTestMovie("io_short.kiv", {5000, 5000});
  ring.assign(8 * 4096, 0);
  ASSERT_TRUE(OpenTestDriver(&io, movie, ring.data(), 8 * 4096, 0, movie.MovieSize() + 20000));
  for (int i = 0; i < 8 && !io.endOfData.load(); ++i) io.ReadAhead(&io);
  EXPECT_EQ(io.endOfData.load(), 1);
  // The bytes that did come are buffered.
  EXPECT_EQ(io.buffered.load(), movie.MovieSize() - movie.Offset(1));
  EXPECT_EQ(io.bytesRead.load(), movie.MovieSize() - movie.Offset(1));
  std::vector<uint8_t> out(movie.MovieSize());
  EXPECT_EQ(io.ReadFrame(&io, 0, movie.Offset(1), out.data(), 5000), 5000u);
  EXPECT_EQ(io.ReadFrame(&io, 0, kCurrentPosition, out.data(), 20000), movie.MovieSize() - movie.Offset(2));
  EXPECT_EQ(io.ReadFrame(&io, 0, kCurrentPosition, out.data(), 16), 0u);
  EXPECT_EQ(io.ReadAhead(&io), 0);

  // A direct read past the end delivers what came.
  io.Close(&io);
  Open(movie, 0, false);
  std::vector<uint8_t> all(movie.MovieSize() - movie.Offset(1) + 500);
  EXPECT_EQ(io.ReadFrame(&io, 0, movie.Offset(1), all.data(), static_cast<uint32_t>(all.size())), all.size() - 500);
  EXPECT_EQ(memcmp(all.data(), movie.Bytes(movie.Offset(1)), all.size() - 500), 0);
  EXPECT_EQ(io.endOfData.load(), 1);
  EXPECT_EQ(io.ReadFrame(&io, 1, movie.Offset(2), all.data(), 10), 0u);
}

TEST(FileDriver, BufferSizesAreWholeChunks) {
  IoDriver io;
  TestMovie movie = MakeTestMovie("io_sizes.kiv", {100});
  ASSERT_TRUE(OpenFileDriver(&io, movie.path.c_str(), 0));
  EXPECT_EQ(io.GetBufferSize(&io, 10000), 12288u);
  EXPECT_EQ(io.GetBufferSize(&io, 8192), 8192u);
  EXPECT_EQ(io.GetBufferSize(&io, 0), 0u);
  EXPECT_EQ(io.GetBufferSize(&io, 0xFFFFFFF0u), 0xFFFFF000u);
  std::vector<uint8_t> ring(10000);
  io.SetBuffer(&io, ring.data(), 10000, 5000, 0);
  EXPECT_EQ(io.bufferSize, 8192u);
  EXPECT_EQ(io.freeBytes.load(), 8192u);
  EXPECT_EQ(io.bufferEnd, ring.data() + 8192);
  io.Close(&io);
}

TEST(FileDriver, BorrowedHandleReadsFromItsPositionAndStaysOpen) {
  TestMovie movie = MakeTestMovie("io_borrowed.kiv", {2000, 7000, 3000}, 12345);
  os::FileHandle handle = os::OpenFileRead(movie.path.c_str(), false);
  ASSERT_NE(handle, os::kNoFile);
  ASSERT_TRUE(os::SeekFile(handle, movie.prefix));

  IoDriver io;
  ASSERT_TRUE(OpenFileDriver(&io, reinterpret_cast<const void*>(handle), kIoFromHandle));
  EXPECT_EQ(io.baseOffset, 12345u);
  EXPECT_EQ(io.borrowedHandle, 1);
  uint8_t header[kHeaderSize];
  ASSERT_EQ(io.ReadHeader(&io, 0, header, kHeaderSize), kHeaderSize);
  EXPECT_EQ(memcmp(header, "KIV", 3), 0);
  std::vector<uint8_t> ring(4096);
  io.SetBuffer(&io, ring.data(), 4096, movie.MovieSize(), 0);
  std::vector<uint8_t> out(7000);
  for (uint32_t n : {3u, 2u}) {  // both reached by a seek
    ASSERT_EQ(io.ReadFrame(&io, n - 1, movie.Offset(n), out.data(), movie.Size(n)), movie.Size(n));
    EXPECT_EQ(memcmp(out.data(), movie.Bytes(movie.Offset(n)), movie.Size(n)), 0);
  }
  io.Close(&io);

  ASSERT_TRUE(os::SeekFile(handle, 0));
  uint8_t first[4] = {};
  EXPECT_EQ(os::ReadFileBytes(handle, first, 4), 4);
  EXPECT_EQ(first[0], 0xEE);
  os::CloseFile(handle);
}

// Another program writing the movie (still making or copying it) keeps it
// open with write access, letting others only read.
struct WriterHold {
#ifdef _WIN32
  HANDLE handle;
  explicit WriterHold(const std::string& path)
      : handle(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  bool Held() const { return handle != INVALID_HANDLE_VALUE; }
  ~WriterHold() {
    if (Held()) CloseHandle(handle);
  }
#else
  std::FILE* handle;
  explicit WriterHold(const std::string& path) : handle(std::fopen(path.c_str(), "r+b")) {}
  bool Held() const { return handle != nullptr; }
  ~WriterHold() {
    if (handle) std::fclose(handle);
  }
#endif
};

TEST(FileDriver, OpensAMovieAnotherProgramHoldsOpenForWriting) {
  TestMovie movie = MakeTestMovie("io_being_written.kiv", {3000, 2000});
  WriterHold writer(movie.path);
  ASSERT_TRUE(writer.Held());
  IoDriver io;
  ASSERT_EQ(OpenFileDriver(&io, movie.path.c_str(), 0), 1);
  uint8_t header[kHeaderSize];
  ASSERT_EQ(io.ReadHeader(&io, 0, header, kHeaderSize), kHeaderSize);
  EXPECT_EQ(memcmp(header, movie.Bytes(0), kHeaderSize), 0);
  io.Close(&io);
}

TEST(FileDriver, OpenFailsForAMissingFileAndAClosedHandle) {
  IoDriver io;
  EXPECT_EQ(OpenFileDriver(&io, "/nonexistent-folder/none.kiv", 0), 0);
  EXPECT_EQ(io.ReadFrame, nullptr);
  EXPECT_EQ(OpenFileDriver(&io, reinterpret_cast<const void*>(os::kNoFile), kIoFromHandle), 0);
}

}  // namespace
}  // namespace kivo
