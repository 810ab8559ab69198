// SPDX-License-Identifier: BSD-2-Clause
// Eight movies at once, opened, played, paused, sought and closed in random
// order by the foreground while the reader and sound threads serve them (run
// under TSan to check the locking). Short by default; KIVO_LONG_TESTS=1 runs
// it for minutes.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/clock.h"
#include "hardening_support.h"
#include "io/service_thread.h"
#include "movie/movie_api.h"
#include "movie/movie_sound.h"
#include "platform/platform.h"
#include "sound/sound_device.h"
#include "sound/sound_system.h"
#include "sound/sound_test_support.h"
#include "support/test_movies.h"

namespace kivo {
namespace {

constexpr int kSlots = 8;

struct Source {
  std::vector<uint8_t> bytes;
  std::string path;
  uint32_t flags;
  bool inMemory;
};

struct ThreadStress : ::testing::TestWithParam<bool> {
  test::Capture capture;
  void SetUp() override {
    ResetVirtualSound();
    ResetSoundSystem();
    UseSoundDevice("virtual");
    capture.Attach();
    ASSERT_EQ(SetSoundSystem(GetParam() ? SelectWaveOutDriver : SelectDirectSoundDriver, nullptr), 1);
  }
  void TearDown() override {
    SetVirtualSink(nullptr, nullptr);
    UseSoundDevice(nullptr);
    ResetSoundSystem();
    ResetVirtualSound();
  }
};

TEST_P(ThreadStress, EightMoviesOpenedPlayedPausedSoughtAndClosedInRandomOrder) {
  // Sources: with sound and without, read ahead by the thread, in the
  // foreground only, preloaded and in memory.
  const test::SoundMovie sound = test::MakeSoundMovie(90);
  const std::vector<uint8_t> silent = test::FillerMovie(70, 64, 48, 7, 900);
  const char* tag = GetParam() ? "q" : "l";
  std::vector<Source> sources = {
      {sound.bytes, test::WriteTestFile(std::string("stress-sound-") + tag + ".kiv", sound.bytes), 0, false},
      {sound.bytes, "", kOpenMemory, true},
      {silent, test::WriteTestFile(std::string("stress-silent-") + tag + ".kiv", silent), 0, false},
      {silent, test::WriteTestFile(std::string("stress-fore-") + tag + ".kiv", silent), kOpenNoReader, false},
      {sound.bytes, test::WriteTestFile(std::string("stress-pre-") + tag + ".kiv", sound.bytes), kOpenPreload, false},
      {sound.bytes, test::WriteTestFile(std::string("stress-nofill-") + tag + ".kiv", sound.bytes), kOpenNoFill,
       false},
  };
  Movie* slots[kSlots] = {};
  std::mt19937 rng(GetParam() ? 11 : 12);
  const uint32_t seconds = test::LongTests() ? 300 : 0;
  const uint32_t operations = test::LongTests() ? 0xFFFFFFFFu : 6000;
  const uint32_t start = GetMilliseconds();
  uint32_t opened = 0, closed = 0, decoded = 0, seeks = 0, pauses = 0;
  for (uint32_t op = 0; op < operations; ++op) {
    if (seconds && GetMilliseconds() - start > seconds * 1000) break;
    const int slot = static_cast<int>(rng() % kSlots);
    Movie*& m = slots[slot];
    const uint32_t what = rng() % 100;
    if (!m) {
      if (what < 40) {
        const Source& s = sources[rng() % sources.size()];
        m = OpenMovie(s.inMemory ? static_cast<const void*>(s.bytes.data()) : s.path.c_str(), s.flags);
        ASSERT_NE(m, nullptr) << GetErrorText();
        ++opened;
      }
    } else if (what < 6) {
      CloseMovie(m);
      m = nullptr;
      ++closed;
    } else if (what < 14) {
      PauseMovie(m, m->paused ? 0 : 1);
      ++pauses;
    } else if (what < 20) {
      GotoFrame(m, 1 + rng() % m->frameCount);
      ++seeks;
    } else {
      // Play: frames that are due are decoded; the others let the idle
      // reading run.
      for (int i = 0; i < 3; ++i) {
        if (!WaitFrame(m)) {
          DoFrame(m);
          GetRects(m, 0);
          NextFrame(m);
          ++decoded;
        }
      }
    }
    if (rng() % 16 == 0) os::SleepMs(rng() % 3);
    EXPECT_LE(ServiceThreadCount(), 2u);
  }
  for (Movie*& m : slots) {
    if (m) ++closed;
    CloseMovie(m);
    m = nullptr;
  }
  EXPECT_EQ(opened, closed);
  EXPECT_GT(opened, 8u);
  EXPECT_GT(decoded, 100u);
  EXPECT_GT(seeks, 10u);
  EXPECT_GT(pauses, 10u);
  // Everything the movies started is gone with them.
  EXPECT_EQ(ServiceThreadCount(), 0u);
  EXPECT_EQ(SoundServiceThread(), nullptr);
  for (uint32_t d = 0; d < VirtualDeviceCount(); ++d) EXPECT_FALSE(GetVirtualDevice(d).open) << d;
}

INSTANTIATE_TEST_SUITE_P(BothDrivers, ThreadStress, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& p) {
                           return p.param ? "BufferQueue" : "LoopingBuffer";
                         });

}  // namespace
}  // namespace kivo
