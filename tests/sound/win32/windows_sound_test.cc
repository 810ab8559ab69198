// SPDX-License-Identifier: BSD-2-Clause
// The Windows back ends for real: the waveOut queue and DirectSound loaded at
// run time, opened on the system's default output (under Wine, the sound
// setup of the test scripts), fed, played and closed. The output plays at its
// own pace, so the tests wait for progress; they assert no durations.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/clock.h"
#include "movie/movie_sound.h"
#include "sound/sound_device.h"
#include "sound/sound_drivers.h"
#include "sound/sound_system.h"
#include "sound/sound_test_support.h"

namespace kivo {
namespace {

using test::HandMovie;
using test::Pattern;

struct WindowsSoundTest : ::testing::Test {
  void SetUp() override {
    ResetSoundSystem();
    UseSoundDevice(nullptr);
  }
  void TearDown() override {
    movie.Close();
    ResetSoundSystem();
  }
  // Feeds for up to `ms` of real time, until `done` says so.
  template <typename Done>
  bool FeedUntil(uint32_t ms, Done done) {
    const uint32_t start = GetMilliseconds();
    while (GetMilliseconds() - start < ms) {
      SoundService(movie.get());
      if (done()) return true;
      SleepMilliseconds(10);
    }
    return false;
  }
  HandMovie movie{{{0x70005622, 69120}}, 50};  // two seconds
};

TEST_F(WindowsSoundTest, TheWaveOutQueuePlaysItsBuffersAndGivesThemBack) {
  ASSERT_STREQ(CurrentQueueDevice()->name, "waveout");
  ASSERT_TRUE(movie.Open(0, BufferQueueSoundOpen, 22050, 16, 2)) << "waveOutOpen failed: no sound output";
  QueueDriverState& s = movie.track(0).state.queue;
  EXPECT_EQ(s.bufferBytes, 5536u);
  movie.Append(0, Pattern(10 * 5536 + 4));
  SoundService(movie.get());
  ASSERT_EQ(s.started, 1u);
  // Buffers come back done as the output plays them, then it runs dry.
  EXPECT_TRUE(FeedUntil(10000, [&] { return movie.track(0).soundSkipped != 0; }));
  SoundTrack& t = movie.track(0);
  t.ops.SoundSetVolume(&t, 0x8000);
  t.ops.SoundPause(&t, 1);
  t.ops.SoundPause(&t, 0);
  EXPECT_EQ(t.ops.SoundOnOff(&t, 0), 0);
  EXPECT_EQ(t.ops.SoundOnOff(&t, 1), 1);
}

TEST_F(WindowsSoundTest, DirectSoundLoadsAtRunTimeAndItsCursorRunsRoundTheBuffer) {
  ASSERT_STREQ(CurrentLoopDevice()->name, "directsound");
  ASSERT_EQ(SetSoundSystem(SelectDirectSoundDriver, nullptr), 1) << "no DirectSound";
  EXPECT_EQ(LoopingObjectUsers(), 0u);
  EXPECT_EQ(LoopingObjectHeld(), 0);
  ASSERT_TRUE(movie.Open(0, LoopingBufferSoundOpen, 22050, 16, 2));
  EXPECT_EQ(LoopingObjectUsers(), 1u);
  LoopDriverState& s = movie.track(0).state.loop;
  EXPECT_EQ(s.secondarySize, 53248u);
  const std::vector<uint8_t> pcm = Pattern(88200 * 2);
  movie.Append(0, std::vector<uint8_t>(pcm.begin(), pcm.begin() + 60000));
  SoundService(movie.get());
  ASSERT_EQ(s.playing, 1u);
  // The service writes behind the play cursor as it moves on.
  size_t fed = 60000;
  const uint32_t firstPos = s.writePos;
  EXPECT_TRUE(FeedUntil(10000, [&] {
    if (fed < pcm.size() && movie.track(0).ringBuffered < 20000) {
      movie.Append(0, std::vector<uint8_t>(pcm.begin() + fed, pcm.begin() + fed + 8820));
      fed += 8820;
    }
    return s.writePos != firstPos && fed >= 120000;
  }));
  SoundTrack& t = movie.track(0);
  t.ops.SoundSetPan(&t, 0);
  t.ops.SoundSetVolume(&t, 0x4000);
  t.ops.SoundPause(&t, 1);
  t.ops.SoundPause(&t, 0);
  EXPECT_EQ(t.ops.SoundOnOff(&t, 0), 0);
  EXPECT_EQ(t.ops.SoundOnOff(&t, 1), 1);
  movie.Close();
  EXPECT_EQ(LoopingObjectUsers(), 0u);
  EXPECT_EQ(LoopingObjectHeld(), 0);
}

}  // namespace
}  // namespace kivo
