// SPDX-License-Identifier: BSD-2-Clause
// A movie played through SDL audio with the disk driver, under both driver
// algorithms, in real time: the file SDL wrote holds the decoded PCM of the
// track without a gap. And without any audio device movies open silent.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/clock.h"
#include "movie/movie_api.h"
#include "movie/movie_sound.h"
#include "sound/sound_device.h"
#include "sound/sound_system.h"
#include "sound/sound_test_support.h"
#include "support/test_movies.h"

namespace kivo {
namespace {

using test::MakeSoundMovie;
using test::SoundMovie;

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return bytes;
  uint8_t buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
  fclose(f);
  return bytes;
}

struct SdlSoundTest : ::testing::TestWithParam<bool> {
  void SetUp() override {
    ResetSoundSystem();
    UseSoundDevice(nullptr);
  }
  void TearDown() override {
    ResetSoundSystem();
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    setenv("SDL_AUDIO_DRIVER", "dummy", 1);
  }
  void UseDriver(const char* name) {
    setenv("SDL_AUDIODRIVER", name, 1);
    setenv("SDL_AUDIO_DRIVER", name, 1);
  }
};

TEST_P(SdlSoundTest, TheDiskDriversFileHoldsTheDecodedPcm) {
  const bool queue = GetParam();
  const std::string path = test::TestFolder() + (queue ? "/sdl_queue.raw" : "/sdl_loop.raw");
  std::remove(path.c_str());
  UseDriver("disk");
  setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
  setenv("SDL_DISKAUDIODELAY", "46", 1);  // a callback of 1024 samples at 22050 Hz
  ASSERT_EQ(SetSoundSystem(queue ? SelectWaveOutDriver : SelectDirectSoundDriver, nullptr), 1);
  const SoundMovie pm = MakeSoundMovie(60);
  Movie* m = OpenMovie(pm.bytes.data(), kOpenMemory);
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(m->openTrackCount, 1u);
  for (uint32_t f = 1; f <= 60; ++f) {
    while (WaitFrame(m)) SleepMilliseconds(1);
    DoFrame(m);
    if (f < 60) NextFrame(m);
  }
  const uint32_t end = GetMilliseconds();
  while (GetMilliseconds() - end < 1200) {
    WaitFrame(m);
    SleepMilliseconds(5);
  }
  EXPECT_EQ(m->soundSkips, 0u);
  CloseMovie(m);
  const std::vector<uint8_t> written = ReadFile(path);
  ASSERT_GE(written.size(), pm.pcm.size());
  EXPECT_GE(test::Find(written, pm.pcm), 0);
}

INSTANTIATE_TEST_SUITE_P(BothDrivers, SdlSoundTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& p) {
                           return p.param ? "BufferQueue" : "LoopingBuffer";
                         });

TEST_F(SdlSoundTest, WithoutAnAudioDeviceMoviesOpenSilent) {
  UseDriver("no-such-driver");
  EXPECT_EQ(SetSoundSystem(SelectDirectSoundDriver, nullptr), 0);
  EXPECT_EQ(SetSoundSystem(SelectWaveOutDriver, nullptr), 1);
  const SoundMovie pm = MakeSoundMovie(5);
  Movie* m = OpenMovie(pm.bytes.data(), kOpenMemory);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->openTrackCount, 0u);
  EXPECT_EQ(m->soundOn, 0);
  EXPECT_EQ(SoundServiceThread(), nullptr);
  CloseMovie(m);
}

}  // namespace
}  // namespace kivo
