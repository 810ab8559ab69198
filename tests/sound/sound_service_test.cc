// SPDX-License-Identifier: BSD-2-Clause
// The track ring and the sound service against a recording driver: appends
// and their overflow, positions at the ring's end, when the service feeds and
// how much, the 8-bit conversion, switching off with the prefill silence,
// the sound-skip check and the sound client.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "io/service_thread.h"
#include "movie/movie_sound.h"
#include "sound_test_support.h"

namespace kivo {
namespace {

using test::HandMovie;
using test::Pattern;

// A driver that takes `count` bytes per lock into a buffer and keeps what
// was committed, per track.
struct Recorder {
  std::vector<uint8_t> received[2];
  std::vector<uint32_t> unlocks[2];
  uint8_t buffer[1 << 16];
  uint32_t count = 4096;
  int32_t lockResult = 1;
  int32_t readyLeft = -1;  // SoundReady answers 1 this often; -1 always
  int32_t turnOn = 1;      // what SoundOnOff(1) achieves
  int32_t onOffCalls = 0;
};
Recorder* rec = nullptr;

uint32_t Index(SoundTrack* t) { return t->channels == 2 ? 1 : 0; }  // tests give track 1 two channels
int32_t Ready(SoundTrack*) {
  if (rec->readyLeft < 0) return 1;
  return rec->readyLeft > 0 ? rec->readyLeft-- : 0;
}
int32_t Lock(SoundTrack*, uint8_t** address, uint32_t* count) {
  *address = rec->buffer;
  *count = rec->count;
  return rec->lockResult;
}
int32_t Unlock(SoundTrack* t, uint32_t n) {
  rec->received[Index(t)].insert(rec->received[Index(t)].end(), rec->buffer, rec->buffer + n);
  rec->unlocks[Index(t)].push_back(n);
  return 1;
}
int32_t OnOff(SoundTrack* t, int32_t on) {
  ++rec->onOffCalls;
  t->deviceOn = on ? rec->turnOn : 0;
  return static_cast<int32_t>(t->deviceOn);
}
const SoundDriver kRecorder = {Ready, Lock, Unlock, nullptr, nullptr, nullptr, OnOff, nullptr, nullptr, nullptr,
                               nullptr, nullptr};

struct ServiceFixture : ::testing::Test {
  Recorder recorder;
  std::vector<uint8_t> rings[2];
  HandMovie movie{{{0x70005622, 256}, {0x70005622, 256}}};

  void SetUp() override {
    rec = &recorder;
    movie->openTrackCount = 1;
    movie->soundOn = 1;
    for (uint32_t i = 0; i < 2; ++i) Ring(i, 256);
  }
  void TearDown() override { rec = nullptr; }
  // Track i with a ring of `size` bytes, mono for track 0 and stereo for 1.
  SoundTrack& Ring(uint32_t i, uint32_t size) {
    SoundTrack& t = movie.track(i);
    rings[i].assign(size, 0xEE);
    t = SoundTrack{};
    t.ops = kRecorder;
    t.ringSize = size;
    t.ringStart = t.ringRead = t.ringWrite = rings[i].data();
    t.ringEnd = t.ringStart + size;
    t.channels = i == 0 ? 1 : 2;
    t.bitsPerSample = 16;
    t.alignMask = 0xFFFFFFFFu;
    t.endZoneFrame = 100;
    t.deviceOn = 1;
    return t;
  }
  void Append(uint32_t i, const std::vector<uint8_t>& bytes) {
    AppendPcm(&movie.track(i), bytes.data(), static_cast<uint32_t>(bytes.size()));
  }
  std::vector<uint8_t> Slice(const std::vector<uint8_t>& v, size_t from, size_t to) {
    return std::vector<uint8_t>(v.begin() + from, v.begin() + to);
  }
};

TEST_F(ServiceFixture, OverflowingAppendsKeepTheNewestBytesOfTheRing) {
  const std::vector<uint8_t> pcm = Pattern(1000);
  SoundTrack& t = movie.track(0);
  Append(0, Slice(pcm, 0, 200));
  Append(0, Slice(pcm, 200, 300));  // 56 bytes of room: the oldest 44 go
  EXPECT_EQ(t.ringBuffered, 256u);
  EXPECT_EQ(t.ringRead, t.ringStart + 44);
  EXPECT_EQ(t.ringWrite, t.ringStart + 44);
  SoundService(movie.get());
  EXPECT_EQ(recorder.received[0], Slice(pcm, 44, 300));
  EXPECT_EQ(t.ringBuffered, 0u);

  // One append larger than the whole ring keeps its own last 256 bytes.
  Append(0, Slice(pcm, 300, 400));
  Append(0, Slice(pcm, 400, 1000));
  EXPECT_EQ(t.ringBuffered, 256u);
  recorder.received[0].clear();
  SoundService(movie.get());
  EXPECT_EQ(recorder.received[0], Slice(pcm, 744, 1000));
}

TEST_F(ServiceFixture, PositionsAtTheRingEndContinueAtItsStart) {
  const std::vector<uint8_t> pcm = Pattern(64);
  SoundTrack& t = movie.track(0);
  // Filling up to the last byte leaves the write position at ringEnd...
  t.ringWrite = t.ringRead = t.ringStart + 246;
  Append(0, Slice(pcm, 0, 10));
  EXPECT_EQ(t.ringWrite, t.ringEnd);
  SoundService(movie.get());
  EXPECT_EQ(t.ringRead, t.ringEnd);
  // ... and both the next append and the next read carry on at ringStart.
  Append(0, Slice(pcm, 10, 30));
  EXPECT_EQ(t.ringWrite, t.ringStart + 20);
  EXPECT_EQ(std::memcmp(t.ringStart, pcm.data() + 10, 20), 0);
  SoundService(movie.get());
  EXPECT_EQ(t.ringRead, t.ringStart + 20);
  EXPECT_EQ(recorder.received[0], Slice(pcm, 0, 30));
}

TEST_F(ServiceFixture, ReadsWrapFromTheEndToTheStartInOneHandOver) {
  const std::vector<uint8_t> pcm = Pattern(200);
  SoundTrack& t = movie.track(0);
  t.ringWrite = t.ringRead = t.ringStart + 200;
  Append(0, pcm);
  EXPECT_EQ(t.ringWrite, t.ringStart + 144);
  SoundService(movie.get());
  ASSERT_EQ(recorder.unlocks[0], std::vector<uint32_t>{200});
  EXPECT_EQ(recorder.received[0], pcm);
  EXPECT_EQ(t.ringRead, t.ringStart + 144);
}

TEST_F(ServiceFixture, MinWriteIsHeldBackBeforeTheEndZoneAndFedInIt) {
  SoundTrack& t = movie.track(0);
  t.minWrite = 100;
  Append(0, Pattern(100));
  movie->currentFrame = 100;  // the last frame before the end zone
  SoundService(movie.get());
  EXPECT_TRUE(recorder.received[0].empty());
  EXPECT_EQ(t.ringBuffered, 100u);
  movie->currentFrame = 101;
  SoundService(movie.get());
  EXPECT_EQ(recorder.received[0].size(), 100u);
  EXPECT_EQ(t.ringBuffered, 0u);
  // More than minWrite goes before the end zone too.
  movie->currentFrame = 2;
  Append(0, Pattern(102));
  SoundService(movie.get());
  EXPECT_EQ(recorder.received[0].size(), 202u);
}

TEST_F(ServiceFixture, AlignMaskCutsWritesOnlyBeforeTheEndZone) {
  SoundTrack& t = movie.track(0);
  t.alignMask = ~0x3Fu;
  recorder.readyLeft = 1;  // one hand-over per service
  Append(0, Pattern(200));
  movie->currentFrame = 50;
  SoundService(movie.get());
  EXPECT_EQ(recorder.unlocks[0], std::vector<uint32_t>{192});
  movie->currentFrame = 101;
  recorder.readyLeft = 1;
  SoundService(movie.get());
  EXPECT_EQ(recorder.unlocks[0], (std::vector<uint32_t>{192, 8}));
}

TEST_F(ServiceFixture, EightBitDevicesGetTheHighBytePlus128) {
  SoundTrack& t = movie.track(0);
  t.eightBit = 1;
  t.bitsPerSample = 8;
  const std::vector<uint8_t> samples = {0x00, 0x00, 0xFF, 0x7F, 0x00, 0x80, 0x34, 0x12, 0xFF, 0xFF};
  Append(0, samples);
  recorder.count = 3;  // device bytes: six ring bytes per hand-over
  recorder.readyLeft = 1;
  SoundService(movie.get());
  EXPECT_EQ(recorder.unlocks[0], std::vector<uint32_t>{3});
  EXPECT_EQ(recorder.received[0], (std::vector<uint8_t>{0x80, 0xFF, 0x00}));
  EXPECT_EQ(t.ringBuffered, 4u);
  movie->currentFrame = 101;
  recorder.readyLeft = -1;
  SoundService(movie.get());
  EXPECT_EQ(recorder.received[0], (std::vector<uint8_t>{0x80, 0xFF, 0x00, 0x92, 0x7F}));
}

TEST_F(ServiceFixture, FeedsWhileTheDriverIsReadyAndGoesOnWithTheNextTrack) {
  movie->openTrackCount = 2;
  Ring(0, 2048).minWrite = 100;
  Ring(1, 2048);
  recorder.count = 64;
  Append(0, Pattern(1000));
  Append(1, Pattern(400, 7));
  SoundService(movie.get());
  // 1000 bytes leave in pieces of 64 until no more than minWrite is left.
  EXPECT_EQ(recorder.unlocks[0].size(), 15u);
  EXPECT_EQ(movie.track(0).ringBuffered, 40u);
  EXPECT_EQ(recorder.received[1], Pattern(400, 7));

  // A refused lock ends that track's feeding for this call only.
  recorder.lockResult = 0;
  Append(1, Pattern(400, 9));
  SoundService(movie.get());
  EXPECT_EQ(movie.track(1).ringBuffered, 400u);
  recorder.lockResult = 1;
  SoundService(movie.get());
  EXPECT_EQ(movie.track(1).ringBuffered, 0u);
}

TEST_F(ServiceFixture, NothingIsFedWithoutADriverOrWhileTheSoundLockIsHeld) {
  movie->openTrackCount = 2;
  Append(0, Pattern(100));
  movie.track(1).ops.SoundReady = nullptr;  // the last open track decides
  SoundService(movie.get());
  EXPECT_TRUE(recorder.received[0].empty());
  movie.track(1).ops = kRecorder;

  ServiceThread* thread = CreateServiceThread(kSoundThreadRate);
  ASSERT_NE(thread, nullptr);
  ASSERT_TRUE(RegisterClient(thread, &movie->soundClient, SoundClientPriority, SoundClientWork));
  std::thread holder([&] {
    LockClient(&movie->soundClient);
    SoundService(movie.get());  // the holder itself may feed
    UnlockClient(&movie->soundClient);
  });
  holder.join();
  EXPECT_EQ(recorder.received[0].size(), 100u);
  Append(0, Pattern(100));
  bool held = false, done = false;
  std::mutex m;
  std::condition_variable cv;
  std::thread other([&] {
    LockClient(&movie->soundClient);
    {
      std::unique_lock<std::mutex> g(m);
      held = true;
      cv.notify_all();
      cv.wait(g, [&] { return done; });
    }
    UnlockClient(&movie->soundClient);
  });
  {
    std::unique_lock<std::mutex> g(m);
    cv.wait(g, [&] { return held; });
  }
  SoundService(movie.get());
  EXPECT_EQ(recorder.received[0].size(), 100u);
  {
    std::lock_guard<std::mutex> g(m);
    done = true;
  }
  cv.notify_all();
  other.join();
  SoundService(movie.get());
  EXPECT_EQ(recorder.received[0].size(), 200u);
  UnregisterClients(nullptr, nullptr, thread, &movie->soundClient, kDestroyEmptyThreads);
}

TEST_F(ServiceFixture, SwitchingOffPrefillsOnlyTheFirstTrackWithSilenceEndingAtTheWritePosition) {
  movie->openTrackCount = 2;
  SoundTrack& first = Ring(0, 1024);
  SoundTrack& second = Ring(1, 1024);
  first.prefillBytes = second.prefillBytes = 600;
  Append(0, Pattern(700));
  Append(1, Pattern(700));
  movie->clockBase = 1234;
  movie->catchUpMs = 50;

  EXPECT_EQ(SwitchSound(movie.get(), 0), 0);
  EXPECT_EQ(movie->soundOn, 0);
  EXPECT_EQ(first.ringWrite, first.ringStart);
  EXPECT_EQ(first.ringRead, first.ringEnd - 600);  // wrapped below ringStart
  EXPECT_EQ(first.ringBuffered, 600u);
  EXPECT_TRUE(test::AllZero(rings[0], 424, 1024));
  EXPECT_EQ(second.ringBuffered, 700u);
  EXPECT_EQ(second.ringWrite, second.ringStart + 700);
  EXPECT_EQ(movie->clockBase, 1234u);

  // Off again: the devices are off, soundOn is clear, no ring is touched.
  Append(0, Pattern(8));
  EXPECT_EQ(SwitchSound(movie.get(), 0), 0);
  EXPECT_EQ(first.ringBuffered, 608u);

  EXPECT_EQ(SwitchSound(movie.get(), 1), 1);
  EXPECT_EQ(movie->soundOn, 1);
  EXPECT_EQ(movie->clockBase, 0u);
  EXPECT_EQ(movie->catchUpMs, 0u);
  // What the service hands over first is the silence, then what came after.
  movie->currentFrame = 101;
  SoundService(movie.get());
  ASSERT_EQ(recorder.received[0].size(), 608u);
  EXPECT_TRUE(test::AllZero(recorder.received[0], 0, 600));
}

TEST_F(ServiceFixture, SwitchingOnReportsWhetherAnyDeviceCameOn) {
  movie->openTrackCount = 2;
  SwitchSound(movie.get(), 0);
  recorder.turnOn = 0;
  EXPECT_EQ(SwitchSound(movie.get(), 1), 0);
  EXPECT_EQ(movie->soundOn, 0);
  movie.track(0).ops.SoundOnOff = nullptr;
  movie.track(1).ops.SoundOnOff = nullptr;
  recorder.onOffCalls = 0;
  EXPECT_EQ(SwitchSound(movie.get(), 1), 0);
  EXPECT_EQ(recorder.onOffCalls, 0);
}

TEST_F(ServiceFixture, RanDryFlagsCountOnlyBetweenFrameOneAndTheEndZoneWhileFramesBringSound) {
  movie->openTrackCount = 2;
  struct Case {
    uint32_t frame;
    int32_t counted;
  } cases[] = {{1, 0}, {2, 1}, {100, 1}, {101, 0}, {2612, 0}};
  for (const Case& c : cases) {
    movie->currentFrame = c.frame;
    movie.track(1).soundSkipped = 1;
    EXPECT_EQ(CheckSoundSkips(movie.get()), c.counted) << "frame " << c.frame;
    EXPECT_EQ(movie.track(1).soundSkipped, 0u);
  }
  movie->currentFrame = 5;
  EXPECT_EQ(CheckSoundSkips(movie.get()), 0);
  // A track whose frames bring no more sound just went quiet.
  movie.track(1).packetsEnded = 1;
  movie.track(1).soundSkipped = 1;
  EXPECT_EQ(CheckSoundSkips(movie.get()), 0);
}

TEST_F(ServiceFixture, TheSoundClientServesEachMovieOncePerTickLongestWaitingFirst) {
  ServiceClient& client = movie->soundClient;
  client.owner = movie.get();
  EXPECT_EQ(SoundClientPriority(&client, 5), 0xFFFFFFFFu);
  Append(0, Pattern(100));
  SoundClientWork(&client, 5);
  EXPECT_EQ(recorder.received[0].size(), 100u);
  EXPECT_EQ(SoundClientPriority(&client, 5), 0u);
  EXPECT_EQ(SoundClientPriority(&client, 6), 0xFFFFFFFFu - 5);
}

TEST_F(ServiceFixture, TheSoundThreadJudgesTheEndZoneByTheFrameTheForegroundLastShowedIt) {
  SoundTrack& t = movie.track(0);
  t.minWrite = 100;
  movie->soundClient.owner = movie.get();
  movie->currentFrame = 101;
  SoundService(movie.get());  // shows frame 101
  Append(0, Pattern(40));
  movie->currentFrame = 50;  // not yet shown
  SoundClientWork(&movie->soundClient, 1);
  EXPECT_EQ(recorder.received[0].size(), 40u);
  SoundService(movie.get());
  Append(0, Pattern(40));
  SoundClientWork(&movie->soundClient, 2);
  EXPECT_EQ(recorder.received[0].size(), 40u);
}

}  // namespace
}  // namespace kivo
