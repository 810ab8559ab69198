// SPDX-License-Identifier: BSD-2-Clause
// Every sound device of the build through the same checks, layer by layer:
// the virtual one everywhere, SDL's on the driver the environment names
// (dummy or disk), waveOut and DirectSound on Windows. The outputs play at
// their own pace: the checks wait for progress, and hold a device to its
// rate only one way (never faster than it plays), which load cannot upset.
// A device that takes its time from the library clock runs on the virtual
// clock, where nothing waits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/clock.h"
#include "sound/sound_device.h"
#include "sound/virtual_device.h"
#include "support/virtual_clock.h"

namespace kivo {
namespace {

enum Layer { kAny, kQueue, kLoop };

// The entries of the list, those that offer `layer`.
std::vector<const SoundDeviceEntry*> Devices(Layer layer) {
  std::vector<const SoundDeviceEntry*> all;
  uint32_t count = 0;
  const SoundDeviceEntry* const* list = SoundDeviceList(&count);
  for (uint32_t i = 0; i < count; ++i)
    if (layer == kAny || (layer == kQueue ? list[i]->queue != nullptr : list[i]->loop != nullptr))
      all.push_back(list[i]);
  return all;
}

std::string NameOf(const ::testing::TestParamInfo<const SoundDeviceEntry*>& p) { return p.param->name; }

constexpr SoundFormat kFormat{22050, 16, 2};
constexpr uint32_t kBlock = 4;
constexpr uint32_t kWaitMs = 5000;

// Polls `done` for up to kWaitMs of real time.
template <typename Done>
bool Eventually(Done done) {
  const uint32_t start = GetMilliseconds();
  while (!done()) {
    if (GetMilliseconds() - start > kWaitMs) return false;
    SleepMilliseconds(5);
  }
  return true;
}

// Sound bytes a device of kFormat may play in `ms`: its rate, with a tenth
// to spare and a period of 10 ms.
uint64_t AtMost(uint32_t ms) { return (uint64_t(ms) * 11 / 10 + 10) * kFormat.rate * BlockAlign(kFormat) / 1000; }

// An open queue device and its prepared headers, closed also when a check
// fails half-way.
struct OpenQueue {
  const QueueDevice& d;
  void* device;
  std::vector<QueueHeader>& headers;
  ~OpenQueue() {
    if (!device) return;
    d.Reset(device);
    for (QueueHeader& h : headers) d.Unprepare(device, &h);
    d.Close(device);
  }
};

// A looping device's object and buffer, released likewise.
struct OpenLoop {
  const LoopDevice& d;
  void* object = nullptr;
  void* buffer = nullptr;
  ~OpenLoop() {
    if (buffer) d.ReleaseBuffer(buffer);
    if (object) d.ReleaseObject(object);
  }
};

class DeviceContract : public ::testing::TestWithParam<const SoundDeviceEntry*> {
 protected:
  void SetUp() override {
    ResetVirtualSound();
    if (entry().capabilities & kSoundDeviceOnDemand) test::UseVirtualClock();
  }
  void TearDown() override {
    ResetVirtualSound();
    test::UsePlatformClock();
  }
  const SoundDeviceEntry& entry() const { return *GetParam(); }
  // A device without the capability says it holds nothing beyond its position.
  void ExpectLatencyAsItsCapabilitySays(uint32_t latency) const {
    if (!(entry().capabilities & kSoundDeviceReportsLatency)) {
      EXPECT_EQ(latency, 0u);
    }
    EXPECT_LE(latency, kFormat.rate * BlockAlign(kFormat)) << "a second of sound or more";
  }
};

TEST_P(DeviceContract, TheListNamesItOnceAndUseSoundDeviceChoosesIt) {
  EXPECT_EQ(FindSoundDevice(entry().name), &entry());
  ASSERT_EQ(UseSoundDevice(entry().name), 1);
  EXPECT_EQ(CurrentQueueDevice(), entry().queue);
  EXPECT_EQ(CurrentLoopDevice(), entry().loop);
  EXPECT_EQ(UseSoundDevice(nullptr), 1);
  EXPECT_EQ(UseSoundDevice("no such device"), 0);
}

using QueueContract = DeviceContract;
using LoopContract = DeviceContract;

TEST_P(QueueContract, ItPlaysItsBuffersInOrderAtItsPacePausesAndGivesThemBack) {
  const QueueDevice& d = *entry().queue;
  std::vector<QueueHeader> headers(4);
  OpenQueue open{d, d.Open(&kFormat), headers};
  void* device = open.device;
  ASSERT_NE(device, nullptr) << "no output for " << entry().name;
  const uint32_t bytes = 2205 * kBlock;  // 0.1 s each
  std::vector<uint8_t> memory(4 * bytes, 0);
  for (uint32_t i = 0; i < 4; ++i) {
    headers[i].data = memory.data() + i * bytes;
    headers[i].bufferLength = bytes;
    d.Prepare(device, &headers[i]);
    EXPECT_TRUE(HeaderFlags(&headers[i]) & kHeaderPrepared) << i;
  }
  auto done = [&](uint32_t i) {
    if (d.Poll) d.Poll(device);
    return (HeaderFlags(&headers[i]) & kHeaderDone) != 0;
  };
  const uint32_t start = GetMilliseconds();
  d.Write(device, &headers[0]);
  d.Write(device, &headers[1]);
  // Never ahead of its rate: the position, and the buffers it gives back,
  // less what the output holds beyond them (taken, not yet heard).
  uint32_t ahead = 0;
  ASSERT_TRUE(Eventually([&] {
    const uint32_t position = d.Position(device), ms = GetMilliseconds() - start;
    const uint32_t given = done(0) ? bytes * (done(1) ? 2 : 1) : 0;
    if (std::max(position, given) > AtMost(ms) + d.Latency(device)) ++ahead;
    return done(1);
  }));
  EXPECT_EQ(ahead, 0u) << "played faster than its rate";
  EXPECT_TRUE(done(0)) << "buffers come back in the order they were queued";
  const uint32_t position = d.Position(device);
  EXPECT_GT(position, 0u);
  EXPECT_LE(position, 2 * bytes);
  ExpectLatencyAsItsCapabilitySays(d.Latency(device));

  // Paused, a queued buffer waits; restarted, it plays.
  d.Pause(device);
  d.Write(device, &headers[2]);
  SleepMilliseconds(300);
  EXPECT_FALSE(done(2)) << "played while paused";
  d.Restart(device);
  EXPECT_TRUE(Eventually([&] { return done(2); }));

  // A reset hands back what is queued at once.
  d.Write(device, &headers[3]);
  d.Reset(device);
  EXPECT_TRUE(done(3));
}

TEST_P(LoopContract, ItsBufferTakesDataPlaysRoundAndStops) {
  const LoopDevice& d = *entry().loop;
  if (d.Load) {
    ASSERT_EQ(d.Load(), 1) << "the system's library is missing";
  }
  OpenLoop open{d};
  ASSERT_GE(d.CreateObject(&open.object), 0) << "no output for " << entry().name;
  ASSERT_NE(open.object, nullptr);
  // As the driver does: asked for, and not needed to go on.
  if (d.SetCooperativeLevel) d.SetCooperativeLevel(open.object);
  const uint32_t size = 53248;
  ASSERT_GE(d.CreateBuffer(open.object, &kFormat, size, &open.buffer), 0);
  void* buffer = open.buffer;
  ASSERT_NE(buffer, nullptr);

  // The whole buffer locks as at most two regions that add up to it.
  void *r1 = nullptr, *r2 = nullptr;
  uint32_t n1 = 0, n2 = 0;
  ASSERT_GE(d.Lock(buffer, 0, size, &r1, &n1, &r2, &n2), 0);
  ASSERT_NE(r1, nullptr);
  EXPECT_EQ(n1 + n2, size);
  memset(r1, 0, n1);
  if (r2) memset(r2, 0, n2);
  EXPECT_GE(d.Unlock(buffer, r1, n1, r2, n2), 0);
  EXPECT_GE(d.SetFrequency(buffer, kFormat.rate), 0);
  EXPECT_GE(d.SetPan(buffer, 0), 0);
  EXPECT_GE(d.SetVolume(buffer, 0), 0);

  uint32_t status = 0, play = 0, write = 0;
  ASSERT_GE(d.GetStatus(buffer, &status), 0);
  EXPECT_EQ(status & kLoopStatusPlaying, 0u);
  ASSERT_GE(d.Play(buffer), 0);
  ASSERT_GE(d.GetStatus(buffer, &status), 0);
  EXPECT_EQ(status & (kLoopStatusPlaying | kLoopStatusLooping), kLoopStatusPlaying | kLoopStatusLooping);
  ASSERT_GE(d.GetPosition(buffer, &play, &write), 0);
  const uint32_t first = play;
  // The play cursor moves on, stays inside the buffer, and goes round no
  // faster than its rate, less what the output holds beyond it (read often
  // enough that no lap is missed).
  const uint32_t start = GetMilliseconds();
  uint64_t travel = 0;
  uint32_t last = first, ahead = 0;
  EXPECT_TRUE(Eventually([&] {
    if (d.GetPosition(buffer, &play, &write) < 0) return false;
    EXPECT_LT(play, size);
    EXPECT_LT(write, size);
    travel += (play + size - last) % size;
    last = play;
    if (travel > AtMost(GetMilliseconds() - start) + d.Latency(buffer)) ++ahead;
    return travel >= size + size / 2;
  }));
  EXPECT_EQ(ahead, 0u) << "the cursor ran faster than its rate";
  ExpectLatencyAsItsCapabilitySays(d.Latency(buffer));

  // Stopped, the cursor stays where it is until it is set.
  ASSERT_GE(d.Stop(buffer), 0);
  ASSERT_GE(d.GetStatus(buffer, &status), 0);
  EXPECT_EQ(status & kLoopStatusPlaying, 0u);
  uint32_t stopped = 0, later = 0;
  d.GetPosition(buffer, &stopped, &write);
  SleepMilliseconds(200);
  d.GetPosition(buffer, &later, &write);
  EXPECT_EQ(later, stopped);
  EXPECT_GE(d.SetPosition(buffer, 0), 0);
  d.GetPosition(buffer, &later, &write);
  EXPECT_EQ(later, 0u);
}

INSTANTIATE_TEST_SUITE_P(EveryDevice, DeviceContract, ::testing::ValuesIn(Devices(kAny)), NameOf);
INSTANTIATE_TEST_SUITE_P(EveryDevice, QueueContract, ::testing::ValuesIn(Devices(kQueue)), NameOf);
INSTANTIATE_TEST_SUITE_P(EveryDevice, LoopContract, ::testing::ValuesIn(Devices(kLoop)), NameOf);

}  // namespace
}  // namespace kivo
