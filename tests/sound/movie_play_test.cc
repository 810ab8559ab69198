// SPDX-License-Identifier: BSD-2-Clause
// Movies with sound played through the whole frame cycle on the virtual
// devices and clock, under both drivers: the device receives exactly the
// decoded PCM of the track, in order; a device starved on purpose gives one
// counted sound skip, the re-buffering, and playback going on in step.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/clock.h"
#include "base/memory.h"
#include "movie/movie_api.h"
#include "sound/sound_drivers.h"
#include "sound/sound_system.h"
#include "sound_test_support.h"
#include "support/virtual_clock.h"

namespace kivo {
namespace {

using test::MakeSoundMovie;
using test::SoundMovie;

struct MoviePlayTest : test::VirtualSoundTest, ::testing::WithParamInterface<bool> {
  bool queue() const { return GetParam(); }
  void SetUp() override {
    VirtualSoundTest::SetUp();
    ASSERT_EQ(SetSoundSystem(queue() ? SelectWaveOutDriver : SelectDirectSoundDriver, nullptr), 1);
  }
  // One turn of the cycle: wait until the frame is due, decode it, step on.
  void PlayFrame(Movie* m, bool step = true) {
    while (WaitFrame(m)) test::AdvanceClock(1);
    DoFrame(m);
    if (step) NextFrame(m);
  }
  // The end: the service runs on while the device plays out.
  void PlayOut(Movie* m) {
    for (int i = 0; i < 100; ++i) {
      WaitFrame(m);
      test::AdvanceClock(20);
    }
  }
};

TEST_P(MoviePlayTest, TheDeviceGetsExactlyTheDecodedPcmInOrder) {
  const SoundMovie sm = MakeSoundMovie(120);
  // Sound, not silence: a third of the bytes at least are not zero.
  ASSERT_LT(std::count(sm.pcm.begin(), sm.pcm.end(), 0), static_cast<long>(sm.pcm.size() * 2 / 3));
  Movie* m = OpenMovie(sm.bytes.data(), kOpenMemory);
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(m->openTrackCount, 1u);
  for (uint32_t f = 1; f <= 120; ++f) PlayFrame(m, f < 120);
  PlayOut(m);
  EXPECT_EQ(m->soundSkips, 0u);
  const std::vector<uint8_t> played = capture.Played(0);
  ASSERT_GE(played.size(), sm.pcm.size());
  // The queue plays what it was given and stops; the looping buffer goes on
  // round its stale bytes after the end, which the movie's close cuts off.
  if (queue()) {
    EXPECT_EQ(played.size(), sm.pcm.size());
  }
  EXPECT_TRUE(std::equal(sm.pcm.begin(), sm.pcm.end(), played.begin()));
  CloseMovie(m);
  EXPECT_FALSE(GetVirtualDevice(0).open);
}

TEST_P(MoviePlayTest, AStarvedDeviceGivesOneSoundSkipThenPlaysOnInStep) {
  const SoundMovie sm = MakeSoundMovie(120);
  Movie* m = OpenMovie(sm.bytes.data(), kOpenMemory);
  ASSERT_NE(m, nullptr);
  for (uint32_t f = 1; f <= 40; ++f) PlayFrame(m, f < 40);
  // The foreground stalls for two seconds: nothing is decoded, the device
  // plays out everything it had.
  test::AdvanceClock(2000);
  WaitFrame(m);  // the service finds the output dry
  NextFrame(m);
  EXPECT_EQ(m->soundSkips, 1u);
  EXPECT_EQ(m->soundOn, 1);
  const uint32_t restart = GetMilliseconds();
  for (uint32_t f = 41; f <= 120; ++f) PlayFrame(m, f < 120);
  // 80 frames of 32/735 s from the restart, give or take the waits' steps,
  // and at most the prefill silence more: the picture waits for its sound.
  const uint32_t took = GetMilliseconds() - restart;
  const uint32_t prefillMs = m->soundTracks[0].prefillBytes / 88;
  EXPECT_GE(took, 79u * 32000 / 735);
  EXPECT_LE(took, 80u * 32000 / 735 + prefillMs + 50);
  PlayOut(m);
  EXPECT_EQ(m->soundSkips, 1u);
  // After the skip: the prefill silence (the whole ring), then the sound of
  // every frame decoded since, without a gap.
  std::vector<uint8_t> after(m->soundTracks[0].ringSize, 0);
  after.insert(after.end(), sm.pcm.begin() + static_cast<long>(sm.frameStart[40]), sm.pcm.end());
  const std::vector<uint8_t> played = capture.Played(queue() ? 1 : 0);
  EXPECT_GE(test::Find(played, after), 0);
  CloseMovie(m);
}

TEST_P(MoviePlayTest, PlayingWithSoundAllocatesNothing) {
  const SoundMovie sm = MakeSoundMovie(100);
  Movie* m = OpenMovie(sm.bytes.data(), kOpenMemory);
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(m->openTrackCount, 1u);
  const uint32_t before = MemAllocCount();
  for (uint32_t f = 1; f <= 100; ++f) {
    PlayFrame(m, f < 100);
    if (f % 30 == 0) {
      PauseMovie(m, 1);
      PauseMovie(m, 0);
    }
  }
  EXPECT_EQ(MemAllocCount(), before);
  CloseMovie(m);
}

INSTANTIATE_TEST_SUITE_P(BothDrivers, MoviePlayTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& p) {
                           return p.param ? "BufferQueue" : "LoopingBuffer";
                         });

}  // namespace
}  // namespace kivo
