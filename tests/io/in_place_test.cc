// SPDX-License-Identifier: BSD-2-Clause
// Packets lent in place inside the ring: the same bytes, counts, statistics
// and lock calls as the copying read, step by step on two drivers, and the
// lent packet kept out of the producer's reach until the next read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "io/io_driver.h"
#include "io_test_files.h"

namespace kivo {
namespace {

using test::MakeTestMovie;
using test::OpenTestDriver;
using test::RingConsistent;
using test::TestMovie;

struct Reader {
  IoDriver io;
  std::vector<uint8_t> ring;
  int locks = 0, unlocks = 0, tries = 0;
};

Reader* readers[2];
Reader& Owner(IoDriver* io) { return io == &readers[0]->io ? *readers[0] : *readers[1]; }
void CountLock(IoDriver* io) { ++Owner(io).locks; }
int32_t CountTryLock(IoDriver* io) {
  ++Owner(io).tries;
  return 1;
}
void CountUnlock(IoDriver* io) { ++Owner(io).unlocks; }

// One driver reads by copy, the other in place; every step is done on both
// and their states compared. Reads ahead run at a simulated speed, so each
// is one chunk and costs the same virtual time on both.
struct InPlaceAgainstCopy : ::testing::Test {
  Reader copying, lending;
  const TestMovie* movie = nullptr;
  uint32_t largest = 0;
  int inRing = 0, copied = 0;

  void SetUp() override {
    test::UseVirtualClock();
    readers[0] = &copying;
    readers[1] = &lending;
  }
  void TearDown() override {
    for (Reader* r : readers)
      if (r->io.Close) r->io.Close(&r->io);
    test::UsePlatformClock();
  }
  void Open(const TestMovie& m, uint32_t ringSize, uint32_t speed, uint32_t dataSize = 0) {
    movie = &m;
    for (uint32_t n = 1; n < m.index.size(); ++n) largest = std::max(largest, m.Size(n));
    for (Reader* r : readers) {
      r->ring.assign(ringSize, 0);
      ASSERT_TRUE(OpenTestDriver(&r->io, m, r->ring.data(), ringSize, speed, dataSize));
      r->io.Lock = CountLock;
      r->io.TryLock = CountTryLock;
      r->io.Unlock = CountUnlock;
    }
  }
  // Tops both rings up while the copying one has room for a chunk beside the
  // largest packet, so the packet held by the other never limits a read and
  // both read the same chunks.
  void TopUp() {
    IoDriver& c = copying.io;
    while (c.buffered.load() + kReadChunk + largest <= c.bufferSize) {
      int32_t a = c.ReadAhead(&c);
      int32_t b = lending.io.ReadAhead(&lending.io);
      ASSERT_EQ(a, b);
      if (a <= 0) break;
    }
  }
  void ExpectSameState() {
    const IoDriver& a = copying.io;
    const IoDriver& b = lending.io;
    EXPECT_EQ(a.bytesRead.load(), b.bytesRead.load());
    EXPECT_EQ(a.readMs.load(), b.readMs.load());
    EXPECT_EQ(a.frameReadMs, b.frameReadMs);
    EXPECT_EQ(a.idleReadMs.load(), b.idleReadMs.load());
    EXPECT_EQ(a.consumerPos, b.consumerPos);
    EXPECT_EQ(a.filePos, b.filePos);
    EXPECT_EQ(a.buffered.load(), b.buffered.load());
    EXPECT_EQ(a.fillTarget.load(), b.fillTarget.load());
    EXPECT_EQ(a.highestBuffered.load(), b.highestBuffered.load());
    EXPECT_EQ(a.endOfData.load(), b.endOfData.load());
    EXPECT_EQ(copying.locks, lending.locks);
    EXPECT_EQ(copying.unlocks, lending.unlocks);
    EXPECT_EQ(copying.tries, lending.tries);
    EXPECT_EQ(a.heldBytes, 0u);
    EXPECT_TRUE(RingConsistent(a));
    EXPECT_TRUE(RingConsistent(b));
  }
  // Reads `size` bytes at `offset` on both; returns the lent packet's address.
  const uint8_t* ReadBoth(uint32_t offset, uint32_t size, uint32_t expected) {
    std::vector<uint8_t> out(size, 0x5A);
    spare.assign(size, 0xA5);
    uint32_t got = copying.io.ReadFrame(&copying.io, 0, offset, out.data(), size);
    uint32_t delivered = 0xDEAD;
    uint8_t* p = lending.io.ReadFrameInPlace(&lending.io, 0, offset, spare.data(), size, &delivered);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(delivered, got);
    EXPECT_NE(p, nullptr);
    if (!p) return nullptr;
    if (got) {
      EXPECT_EQ(memcmp(out.data(), movie->Bytes(offset), got), 0) << "at " << offset;
      EXPECT_EQ(memcmp(p, movie->Bytes(offset), got), 0) << "at " << offset;
    }
    const IoDriver& b = lending.io;
    if (p != spare.data()) {
      ++inRing;
      EXPECT_GE(p, b.bufferStart);
      EXPECT_LE(p + size, b.bufferEnd);
      EXPECT_EQ(b.heldBytes, size);
    } else {
      ++copied;
      EXPECT_EQ(b.heldBytes, 0u);
    }
    ExpectSameState();
    return p;
  }
  const uint8_t* ReadFrameBoth(uint32_t n) { return ReadBoth(movie->Offset(n), movie->Size(n), movie->Size(n)); }
  bool Lent(const uint8_t* p) const { return p && p != spare.data(); }

  std::vector<uint8_t> spare;
};

TEST_F(InPlaceAgainstCopy, SameBytesAndStatisticsThroughWrapsJumpsAndAnOversizedFrame) {
  std::vector<uint32_t> sizes;
  for (uint32_t i = 0; i < 150; ++i) sizes.push_back(700 + (i * 977) % 3100);
  sizes[59] = 40000;  // frame 60: larger than the ring
  TestMovie m = MakeTestMovie("io_inplace_twins.kiv", sizes);
  Open(m, 8 * kReadChunk, 1000000);
  largest = 3800;  // frame 60 never fits; the others do

  // In order: from the ring without the lock, lent unless the packet wraps.
  TopUp();
  for (uint32_t n = 1; n < 60; ++n) {
    ReadFrameBoth(n);
    TopUp();
  }
  EXPECT_EQ(copying.locks, 0);
  EXPECT_GT(inRing, 40);
  EXPECT_GT(copied, 3);  // the packets that wrapped at the ring's end

  // Larger than the ring: the buffered part, then one direct read, copied.
  uint32_t before = copying.io.bytesRead.load();
  uint32_t buffered = copying.io.buffered.load();
  EXPECT_FALSE(Lent(ReadFrameBoth(60)));
  EXPECT_EQ(copying.io.bytesRead.load(), before + m.Size(60) - buffered);
  EXPECT_EQ(copying.locks, 1);

  // Nothing buffered: the lock, then a direct read into the caller's buffer.
  EXPECT_FALSE(Lent(ReadFrameBoth(61)));
  EXPECT_EQ(copying.locks, 2);
  for (uint32_t n = 62; n <= 70; ++n) {
    TopUp();
    ReadFrameBoth(n);
  }

  // Forward inside the ring: bytes dropped, the file untouched, the packet lent.
  TopUp();
  ASSERT_GT(copying.io.filePos, m.Offset(74));
  before = copying.io.bytesRead.load();
  int locks = copying.locks;
  const IoDriver& b = lending.io;
  const uint32_t at = static_cast<uint32_t>(b.readPtr - b.bufferStart + m.Offset(73) - b.consumerPos) % b.bufferSize;
  const uint8_t* p = ReadFrameBoth(73);
  EXPECT_EQ(copying.io.bytesRead.load(), before);
  EXPECT_EQ(copying.locks, locks + 1);
  EXPECT_EQ(Lent(p), at + m.Size(73) <= b.bufferSize);

  // Backward, then beyond filePos: the ring is emptied and the file sought.
  EXPECT_FALSE(Lent(ReadFrameBoth(10)));
  EXPECT_EQ(lending.io.buffered.load(), 0u);
  EXPECT_EQ(lending.io.readPtr, lending.io.bufferStart);
  TopUp();
  ASSERT_LT(copying.io.filePos, m.Offset(140));
  EXPECT_FALSE(Lent(ReadFrameBoth(140)));

  // On to the end: the last stretch, short of a chunk, comes from the file.
  for (uint32_t n = 141; n <= 150; ++n) {
    TopUp();
    ReadFrameBoth(n);
  }
  EXPECT_EQ(lending.io.consumerPos, m.MovieSize());
  EXPECT_EQ(lending.io.endOfData.load(), 0);
  // The timings compared were really taken (4 ms a chunk at this speed).
  EXPECT_GT(lending.io.readMs.load(), 4u * m.MovieSize() / kReadChunk / 2);
  EXPECT_GT(lending.io.frameReadMs, 10u);
}

TEST_F(InPlaceAgainstCopy, AShortReadEndsBothAlikeAndLeavesTheCallersBufferAlone) {
  TestMovie m = MakeTestMovie("io_inplace_short.kiv", {5000, 5000, 5000});
  // No ring: every packet comes from the file, and the header claims more.
  Open(m, 0, 0, m.MovieSize() + 20000);
  ReadFrameBoth(1);
  const uint32_t rest = m.MovieSize() - m.Offset(2);
  ReadBoth(m.Offset(2), rest + 700, rest);  // what the file still had
  EXPECT_EQ(lending.io.endOfData.load(), 1);
  const uint8_t* p = ReadBoth(m.Offset(3), 100, 0);
  EXPECT_EQ(p, spare.data());
  EXPECT_EQ(spare[0], 0xA5);
  EXPECT_EQ(spare[99], 0xA5);

  // With a ring, the read ahead meets the end first.
  TearDown();
  SetUp();
  Open(m, 8 * kReadChunk, 1000000, m.MovieSize() + 20000);
  for (int i = 0; i < 8 && !copying.io.endOfData.load(); ++i) {
    ASSERT_EQ(copying.io.ReadAhead(&copying.io), lending.io.ReadAhead(&lending.io));
  }
  ASSERT_EQ(lending.io.endOfData.load(), 1);
  // What the ring holds is still delivered, lent in place; past it nothing.
  EXPECT_NE(ReadBoth(m.Offset(1), m.Size(1), m.Size(1)), spare.data());
  EXPECT_EQ(ReadBoth(m.Offset(2), rest + 700, rest), spare.data());
  EXPECT_EQ(ReadBoth(kCurrentPosition, 100, 0), spare.data());
}

// A lent packet is neither buffered nor free: reads ahead go around it, and
// only the next frame read gives its space back.
TEST(InPlace, TheLentPacketStaysOutOfTheProducersReachUntilTheNextRead) {
  TestMovie m = MakeTestMovie("io_inplace_held.kiv", {10000, 3000, 3000, 3000, 3000, 3000});
  IoDriver io;
  std::vector<uint8_t> ring(4 * kReadChunk);
  ASSERT_TRUE(OpenTestDriver(&io, m, ring.data(), 4 * kReadChunk));
  while (io.ReadAhead(&io) > 0) {
  }
  ASSERT_EQ(io.buffered.load(), 4 * kReadChunk);

  uint32_t got = 0;
  std::vector<uint8_t> spare(10000);
  const uint8_t* first = io.ReadFrameInPlace(&io, 0, m.Offset(1), spare.data(), m.Size(1), &got);
  ASSERT_EQ(first, io.bufferStart);
  EXPECT_EQ(got, m.Size(1));
  EXPECT_EQ(io.freeBytes.load(), 0u);
  EXPECT_EQ(io.heldBytes, m.Size(1));
  // The ring counts as full: there is no room beside the lent packet.
  EXPECT_EQ(io.ReadAhead(&io), 0);
  EXPECT_EQ(io.fillTarget.load(), io.buffered.load());
  EXPECT_EQ(memcmp(first, m.Bytes(m.Offset(1)), m.Size(1)), 0);

  // The next read lets frame 1 go; the producer may now write over it, but
  // not over frame 2, which is lent in its turn.
  const uint8_t* second = io.ReadFrameInPlace(&io, 1, m.Offset(2), spare.data(), m.Size(2), &got);
  ASSERT_EQ(second, io.bufferStart + m.Size(1));
  EXPECT_EQ(io.freeBytes.load(), m.Size(1));
  EXPECT_EQ(io.ReadAhead(&io), int32_t(2 * kReadChunk));  // over frame 1's bytes
  EXPECT_EQ(io.ReadAhead(&io), 0);
  EXPECT_TRUE(RingConsistent(io));
  EXPECT_EQ(memcmp(second, m.Bytes(m.Offset(2)), m.Size(2)), 0);
  // The copying read gives the lent space back too.
  std::vector<uint8_t> out(m.Size(3));
  ASSERT_EQ(io.ReadFrame(&io, 2, m.Offset(3), out.data(), m.Size(3)), m.Size(3));
  EXPECT_EQ(io.heldBytes, 0u);
  EXPECT_EQ(io.freeBytes.load(), 4 * kReadChunk - io.buffered.load());
  io.Close(&io);

  // A packet filling the whole ring is lent too, leaving no room at all.
  TestMovie whole = MakeTestMovie("io_inplace_whole.kiv", {2 * kReadChunk, 500});
  ASSERT_EQ(whole.Size(1), 2 * kReadChunk);
  ASSERT_TRUE(OpenTestDriver(&io, whole, ring.data(), 2 * kReadChunk));
  while (io.ReadAhead(&io) > 0) {
  }
  first = io.ReadFrameInPlace(&io, 0, whole.Offset(1), spare.data(), whole.Size(1), &got);
  EXPECT_EQ(first, io.bufferStart);
  EXPECT_EQ(io.buffered.load() + io.freeBytes.load(), 0u);
  EXPECT_EQ(io.ReadAhead(&io), 0);
  EXPECT_EQ(memcmp(first, whole.Bytes(whole.Offset(1)), whole.Size(1)), 0);
  io.Close(&io);
}

int arrivals = 0;
// The reader thread adding two chunks while the foreground waits for the lock.
void LockWhileTwoChunksArrive(IoDriver* io) {
  ++arrivals;
  io->ReadAhead(io);
  io->ReadAhead(io);
}

TEST(InPlace, APacketCompletedWhileWaitingForTheLockIsLentWithoutAFileRead) {
  test::UseVirtualClock();
  TestMovie m = MakeTestMovie("io_inplace_arrived.kiv", {1000, 20000, 9000});
  IoDriver io;
  std::vector<uint8_t> ring(8 * kReadChunk);
  ASSERT_TRUE(OpenTestDriver(&io, m, ring.data(), 8 * kReadChunk, 1000000));  // one chunk a call
  for (int i = 0; i < 4; ++i) ASSERT_EQ(io.ReadAhead(&io), int32_t(kReadChunk));
  std::vector<uint8_t> spare(20000);
  uint32_t got = 0;
  ASSERT_EQ(io.ReadFrameInPlace(&io, 0, m.Offset(1), spare.data(), m.Size(1), &got), io.bufferStart);
  ASSERT_LT(io.buffered.load(), m.Size(2));
  io.Lock = LockWhileTwoChunksArrive;
  const uint8_t* p = io.ReadFrameInPlace(&io, 1, m.Offset(2), spare.data(), m.Size(2), &got);
  EXPECT_EQ(arrivals, 1);
  EXPECT_EQ(p, io.bufferStart + m.Size(1));
  EXPECT_EQ(got, m.Size(2));
  EXPECT_EQ(io.bytesRead.load(), 6 * kReadChunk);
  EXPECT_EQ(memcmp(p, m.Bytes(m.Offset(2)), m.Size(2)), 0);
  io.Close(&io);
  test::UsePlatformClock();
}

}  // namespace
}  // namespace kivo
