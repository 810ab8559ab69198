// SPDX-License-Identifier: BSD-2-Clause
// The sound thread feeding two movies in real time while the foreground
// decodes, pauses, switches and closes them, under both drivers (run under
// TSan to check the locking), and the virtual devices played to the end.
#include <gtest/gtest.h>

#include "base/clock.h"
#include "movie/movie_api.h"
#include "movie/movie_sound.h"
#include "sound/sound_device.h"
#include "sound/sound_system.h"
#include "sound_test_support.h"
#include "support/test_movies.h"

namespace kivo {
namespace {

struct SoundThreadsTest : ::testing::TestWithParam<bool> {
  test::Capture capture;
  void SetUp() override {
    ResetVirtualSound();
    ResetSoundSystem();
    UseSoundDevice("virtual");
    capture.Attach();
  }
  void TearDown() override {
    SetVirtualSink(nullptr, nullptr);
    UseSoundDevice(nullptr);
    ResetSoundSystem();
    ResetVirtualSound();
  }
};

TEST_P(SoundThreadsTest, TheSoundThreadFeedsTwoMoviesWhileTheForegroundPlaysPausesAndClosesThem) {
  ASSERT_EQ(SetSoundSystem(GetParam() ? SelectWaveOutDriver : SelectDirectSoundDriver, nullptr), 1);
  const test::SoundMovie first = test::MakeSoundMovie(50);
  const test::SoundMovie second = test::MakeSoundMovie(40);
  // One from memory, one from a file read ahead by the reader thread.
  const std::string path = test::WriteTestFile(GetParam() ? "threads_queue.kiv" : "threads_loop.kiv", second.bytes);
  Movie* movies[2] = {OpenMovie(first.bytes.data(), kOpenMemory), OpenMovie(path.c_str(), 0)};
  ASSERT_NE(movies[0], nullptr);
  ASSERT_NE(movies[1], nullptr);
  ASSERT_EQ(movies[0]->openTrackCount, 1u);
  ASSERT_EQ(movies[1]->openTrackCount, 1u);
  ASSERT_NE(SoundServiceThread(), nullptr);

  uint32_t decoded[2] = {0, 0};
  const uint32_t start = GetMilliseconds();
  // A bound on the time only against a hang: the loop ends on progress.
  while (GetMilliseconds() - start < 30000 && (decoded[0] < 60 || movies[1])) {
    for (int i = 0; i < 2; ++i) {
      Movie* m = movies[i];
      if (!m || WaitFrame(m)) continue;
      DoFrame(m);
      NextFrame(m);  // the first movie loops round to frame 1 and restarts its sound
      ++decoded[i];
      if (decoded[i] % 25 == 0) {
        PauseMovie(m, 1);
        SleepMilliseconds(30);
        PauseMovie(m, 0);
      }
      if (i == 1 && decoded[1] == 30) {
        CloseMovie(m);
        movies[1] = nullptr;
      }
    }
    SleepMilliseconds(1);
  }
  EXPECT_GE(decoded[0], 60u);
  EXPECT_EQ(movies[1], nullptr);
  EXPECT_NE(SoundServiceThread(), nullptr);
  CloseMovie(movies[0]);
  EXPECT_EQ(SoundServiceThread(), nullptr);
  // Both devices played sound from their movies.
  EXPECT_GE(test::Find(capture.Played(0), std::vector<uint8_t>(first.pcm.begin(), first.pcm.begin() + 20000)), 0);
  EXPECT_GE(test::Find(capture.Played(1), std::vector<uint8_t>(second.pcm.begin(), second.pcm.begin() + 20000)), 0);
  for (uint32_t d = 0; d < VirtualDeviceCount(); ++d) EXPECT_FALSE(GetVirtualDevice(d).open) << d;
}

INSTANTIATE_TEST_SUITE_P(BothDrivers, SoundThreadsTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& p) {
                           return p.param ? "BufferQueue" : "LoopingBuffer";
                         });

}  // namespace
}  // namespace kivo
