// SPDX-License-Identifier: BSD-2-Clause
// Every sound device of the build through the same checks, layer by layer:
// the virtual one everywhere, SDL's on the driver the environment names
// (dummy or disk), waveOut and DirectSound on Windows. The outputs play at
// their own pace, so the checks wait for progress and assert no durations.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/clock.h"
#include "sound/sound_device.h"
#include "sound/virtual_device.h"

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

class DeviceContract : public ::testing::TestWithParam<const SoundDeviceEntry*> {
 protected:
  void SetUp() override { ResetVirtualSound(); }
  void TearDown() override { ResetVirtualSound(); }
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

TEST_P(QueueContract, ItPlaysItsBuffersInOrderPausesAndGivesThemBack) {
  const QueueDevice& d = *entry().queue;
  void* device = d.Open(&kFormat);
  ASSERT_NE(device, nullptr) << "no output for " << entry().name;
  const uint32_t bytes = 2205 * kBlock;  // 0.1 s each
  std::vector<uint8_t> memory(4 * bytes, 0);
  QueueHeader headers[4] = {};
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
  d.Write(device, &headers[0]);
  d.Write(device, &headers[1]);
  ASSERT_TRUE(Eventually([&] { return done(1); }));
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
  for (QueueHeader& h : headers) d.Unprepare(device, &h);
  d.Close(device);
}

TEST_P(LoopContract, ItsBufferTakesDataPlaysRoundAndStops) {
  const LoopDevice& d = *entry().loop;
  if (d.Load) {
    ASSERT_EQ(d.Load(), 1) << "the system's library is missing";
  }
  void* object = nullptr;
  ASSERT_GE(d.CreateObject(&object), 0) << "no output for " << entry().name;
  ASSERT_NE(object, nullptr);
  // As the driver does: asked for, and not needed to go on.
  if (d.SetCooperativeLevel) d.SetCooperativeLevel(object);
  const uint32_t size = 53248;
  void* buffer = nullptr;
  ASSERT_GE(d.CreateBuffer(object, &kFormat, size, &buffer), 0);
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
  // The play cursor moves on and stays inside the buffer.
  EXPECT_TRUE(Eventually([&] { return d.GetPosition(buffer, &play, &write) >= 0 && play != first; }));
  EXPECT_LT(play, size);
  EXPECT_LT(write, size);
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
  d.ReleaseBuffer(buffer);
  d.ReleaseObject(object);
}

INSTANTIATE_TEST_SUITE_P(EveryDevice, DeviceContract, ::testing::ValuesIn(Devices(kAny)), NameOf);
INSTANTIATE_TEST_SUITE_P(EveryDevice, QueueContract, ::testing::ValuesIn(Devices(kQueue)), NameOf);
INSTANTIATE_TEST_SUITE_P(EveryDevice, LoopContract, ::testing::ValuesIn(Devices(kLoop)), NameOf);

}  // namespace
}  // namespace kivo
