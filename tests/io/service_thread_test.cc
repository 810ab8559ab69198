// SPDX-License-Identifier: BSD-2-Clause
// Service threads: client locks, the reader thread's order of work, a client
// that cannot progress, and the end of a thread with its last client.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "io/io_driver.h"
#include "io/service_thread.h"
#include "io_test_files.h"

namespace kivo {
namespace {

uint32_t NeverDue(ServiceClient*, uint32_t) { return 0; }
void NoWork(ServiceClient*, uint32_t) {}

// Waits (polling, real time) until `done` says so; false after a long while.
template <typename Done>
bool WaitUntil(Done done) {
  for (int i = 0; i < 4000; ++i) {
    if (done()) return true;
    os::SleepMs(5);
  }
  return false;
}

struct Probe {
  ServiceClient* client;
  std::atomic<int32_t> got{-1};
};
void TryFromAnotherThread(void* arg) {
  Probe* probe = static_cast<Probe*>(arg);
  probe->got = TryLockClient(probe->client);
  if (probe->got) UnlockClient(probe->client);
}
int32_t OtherThreadCanLock(ServiceClient* client) {
  Probe probe{client};
  os::JoinThread(os::StartThread(TryFromAnotherThread, &probe));
  return probe.got;
}

TEST(ClientLocks, NestOnTheirThreadAndShutOutOthers) {
  ServiceClient client{};
  EXPECT_EQ(TryLockClient(&client), 1);  // no mutex: locking does nothing
  UnlockClient(&client);

  ServiceThread* thread = CreateServiceThread(kReaderThreadRate);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(RegisterClient(thread, &client, NeverDue, NoWork), 1);
  LockClient(&client);
  EXPECT_EQ(TryLockClient(&client), 1);
  EXPECT_EQ(OtherThreadCanLock(&client), 0);
  UnlockClient(&client);
  EXPECT_EQ(OtherThreadCanLock(&client), 0);  // still held once
  UnlockClient(&client);
  EXPECT_EQ(OtherThreadCanLock(&client), 1);

  ServiceClient other{};
  ASSERT_EQ(RegisterClient(thread, &other, NeverDue, NoWork), 1);
  LockTwoClients(&client, &other);
  EXPECT_EQ(OtherThreadCanLock(&client), 0);
  EXPECT_EQ(OtherThreadCanLock(&other), 0);
  UnlockClient(&client);
  UnlockClient(&other);
  EXPECT_EQ(OtherThreadCanLock(&other), 1);

  // Hooks on a driver whose reader client is registered use its mutex.
  IoDriver io;
  test::TestMovie movie = test::MakeTestMovie("io_hooks.kiv", {100});
  ASSERT_TRUE(OpenFileDriver(&io, movie.path.c_str(), 0));
  InstallReaderLockHooks(&io);
  EXPECT_EQ(io.TryLock(&io), 1);  // not registered yet
  io.Unlock(&io);
  ASSERT_EQ(RegisterReaderClient(thread, &io), 1);
  LockClient(&io.readerClient);
  EXPECT_EQ(OtherThreadCanLock(&io.readerClient), 0);
  UnlockClient(&io.readerClient);

  UnregisterClients(thread, &io.readerClient, nullptr, nullptr, 0);
  UnregisterClients(thread, &other, nullptr, nullptr, 0);
  EXPECT_EQ(UnregisterClients(thread, &client, nullptr, nullptr, kDestroyEmptyThreads), kReaderThreadDestroyed);
  EXPECT_EQ(client.mutex, nullptr);
  io.Close(&io);
}

// Work calls seen by the worker, in order: which driver, and in which tick.
struct WorkLog {
  std::vector<IoDriver*> drivers;
  std::vector<uint32_t> ticks;
  std::atomic<uint32_t> lastTick{0};
};
WorkLog workLog;
void LoggedReaderWork(ServiceClient* client, uint32_t tick) {
  workLog.drivers.push_back(static_cast<IoDriver*>(client->owner));
  workLog.ticks.push_back(tick);
  workLog.lastTick = tick;
  ReaderWork(client, tick);
}

struct ReaderThreadFixture : ::testing::Test {
  static constexpr uint32_t kRingBytes = 64 * 4096;
  ServiceThread* thread = nullptr;
  IoDriver a{}, b{};
  std::vector<uint8_t> ringA, ringB;

  void SetUp() override {
    workLog.drivers.clear();
    workLog.ticks.clear();
    workLog.lastTick = 0;
    thread = CreateServiceThread(200);
    ASSERT_NE(thread, nullptr);
  }
  // Opens the driver as the movie core does: frame 1 loaded (from the file,
  // the ring is empty), then `readAheads` ReadAhead calls.
  void OpenWith(IoDriver* io, std::vector<uint8_t>* ring, const test::TestMovie& movie, uint32_t readAheads,
                uint32_t dataSize = 0) {
    ring->assign(kRingBytes, 0);
    ASSERT_TRUE(test::OpenTestDriver(io, movie, ring->data(), kRingBytes, 0, dataSize));
    std::vector<uint8_t> frame(movie.Size(1));
    io->ReadFrame(io, 0, movie.Offset(1), frame.data(), movie.Size(1));
    for (uint32_t i = 0; i < readAheads; ++i) io->ReadAhead(io);
    ASSERT_EQ(RegisterClient(thread, &io->readerClient, ReaderPriority, LoggedReaderWork), 1);
    InstallReaderLockHooks(io);
  }
  void TearDown() override {
    UnregisterClients(thread, &a.readerClient, nullptr, nullptr, 0);
    EXPECT_EQ(UnregisterClients(thread, &b.readerClient, nullptr, nullptr, kDestroyEmptyThreads),
              kReaderThreadDestroyed);
    if (a.Close) a.Close(&a);
    if (b.Close) b.Close(&b);
  }
};

std::vector<uint32_t> FrameSizes(uint32_t count, uint32_t size) { return std::vector<uint32_t>(count, size); }

TEST_F(ReaderThreadFixture, TheEmptierRingIsToppedUpFirst) {
  test::TestMovie movie = test::MakeTestMovie("io_emptier.kiv", FrameSizes(100, 4000));
  OpenWith(&a, &ringA, movie, 0);
  OpenWith(&b, &ringB, movie, 1);
  ASSERT_LT(FillPercent(&a), FillPercent(&b));
  ASSERT_LT(FillPercent(&b), 50u);
  StartServiceThread(thread);
  ASSERT_TRUE(WaitUntil([&] { return a.freeBytes.load() < kReadChunk && b.freeBytes.load() < kReadChunk; }));
  PauseServiceThread(thread);
  ASSERT_GE(workLog.drivers.size(), 2u);
  EXPECT_EQ(workLog.drivers[0], &a);
  StartServiceThread(thread);
}

TEST_F(ReaderThreadFixture, AClientAtTheEndOfItsDataWaitsForTheNextWakeUp) {
  // `a` claims far more data than its file has: it ends up at the end of its
  // data with its ring below half full, so it is always the most urgent.
  test::TestMovie small = test::MakeTestMovie("io_stall.kiv", FrameSizes(2, 3000));
  test::TestMovie large = test::MakeTestMovie("io_stall_other.kiv", FrameSizes(100, 4000));
  OpenWith(&a, &ringA, small, 0, 1 << 20);
  OpenWith(&b, &ringB, large, 0);
  StartServiceThread(thread);
  ASSERT_TRUE(WaitUntil([&] { return a.endOfData.load() && b.freeBytes.load() == 0 && workLog.lastTick > 6; }));
  PauseServiceThread(thread);
  EXPECT_LT(FillPercent(&a), 50u);
  // Once stalled, `a` is asked once per wake-up, not over and over.
  std::vector<uint32_t> stalledTicks;
  for (size_t i = 0; i < workLog.drivers.size(); ++i)
    if (workLog.drivers[i] == &a) stalledTicks.push_back(workLog.ticks[i]);
  ASSERT_GE(stalledTicks.size(), 3u);
  for (size_t i = 2; i < stalledTicks.size(); ++i) EXPECT_LT(stalledTicks[i - 1], stalledTicks[i]);
  StartServiceThread(thread);
}

TEST(ServiceThreads, LastClientEndsItsThread) {
  ServiceClient reader1{}, sound1{}, reader2{}, sound2{}, stranger{};
  ServiceThread* readers = CreateServiceThread(kReaderThreadRate);
  ServiceThread* sounds = CreateServiceThread(kSoundThreadRate);
  ASSERT_TRUE(readers && sounds);
  const uint32_t base = ServiceThreadCount() - 2;
  StartServiceThread(readers);
  StartServiceThread(sounds);
  RegisterClient(readers, &reader1, NeverDue, NoWork);
  RegisterClient(sounds, &sound1, NeverDue, NoWork);
  RegisterClient(readers, &reader2, NeverDue, NoWork);
  RegisterClient(sounds, &sound2, NeverDue, NoWork);

  EXPECT_EQ(UnregisterClients(readers, &stranger, sounds, &stranger, kDestroyEmptyThreads), 0u);
  EXPECT_EQ(UnregisterClients(readers, &reader1, sounds, &sound1, kDestroyEmptyThreads), 0u);
  EXPECT_EQ(reader1.mutex, nullptr);
  EXPECT_EQ(sound1.mutex, nullptr);
  EXPECT_EQ(ServiceThreadCount(), base + 2);
  EXPECT_EQ(UnregisterClients(readers, &reader2, sounds, &sound2, kDestroyEmptyThreads),
            kReaderThreadDestroyed | kSoundThreadDestroyed);
  EXPECT_EQ(ServiceThreadCount(), base);

  // One list empties, the other keeps a client.
  readers = CreateServiceThread(kReaderThreadRate);
  sounds = CreateServiceThread(kSoundThreadRate);
  StartServiceThread(readers);
  StartServiceThread(sounds);
  RegisterClient(readers, &reader1, NeverDue, NoWork);
  RegisterClient(sounds, &sound1, NeverDue, NoWork);
  RegisterClient(sounds, &sound2, NeverDue, NoWork);
  EXPECT_EQ(UnregisterClients(readers, &reader1, sounds, &sound1, kDestroyEmptyThreads), kReaderThreadDestroyed);
  EXPECT_EQ(ServiceThreadCount(), base + 1);
  RegisterClient(sounds, &sound1, NeverDue, NoWork);
  EXPECT_EQ(UnregisterClients(nullptr, nullptr, sounds, &sound2, kDestroyEmptyThreads), 0u);
  EXPECT_EQ(UnregisterClients(nullptr, nullptr, sounds, &sound1, kDestroyEmptyThreads), kSoundThreadDestroyed);

  // Without the flag an empty thread lives on (here never started).
  readers = CreateServiceThread(kReaderThreadRate);
  RegisterClient(readers, &reader1, NeverDue, NoWork);
  EXPECT_EQ(UnregisterClients(readers, &reader1, nullptr, nullptr, 0), 0u);
  EXPECT_EQ(ServiceThreadCount(), base + 1);
  StopServiceThread(readers);
  EXPECT_EQ(ServiceThreadCount(), base);
  EXPECT_EQ(CreateServiceThread(0), nullptr);
}

}  // namespace
}  // namespace kivo
