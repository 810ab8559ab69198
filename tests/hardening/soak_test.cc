// SPDX-License-Identifier: BSD-2-Clause
// A movie with sound looped for an hour of virtual time, read ahead by the
// reader thread, on the virtual sound devices: memory stays flat, every frame
// is decoded when the schedule says (re-based only where the frame cycle
// re-bases it), and the only sound skip is the one caused on purpose by
// starving the device. KIVO_LONG_TESTS=1 adds ten minutes on the real clock.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <string>

#include "base/clock.h"
#include "base/memory.h"
#include "hardening_support.h"
#include "movie/movie_api.h"
#include "platform/platform.h"
#include "sound/sound_system.h"
#include "sound/sound_test_support.h"
#include "support/test_movies.h"
#include "support/virtual_clock.h"

namespace kivo {
namespace {

// The sound movies' rate: 735/32 frames per second, one 22050 Hz stereo
// block (3840 bytes of PCM) per frame.
constexpr uint32_t kRateNum = 735, kRateDen = 32;
// Three minutes: the buffer queue opens its device anew at every restart,
// and the virtual devices number at most 32 in one test.
constexpr uint32_t kLoopFrames = 4135;
constexpr uint32_t kLoopMs = kLoopFrames * 1000 * kRateDen / kRateNum;
constexpr uint64_t kPcmPerSecond = 22050 * 4;
constexpr uint32_t kStep = 8;  // ms the waits move the virtual clock on

// Virtual seconds of the soak: an hour for the default driver, a quarter of
// it for the buffer queue; under the thread sanitizer (ten times slower) a
// tenth, and a sixth on Windows, where every try of a lock is a call into the
// system (under Wine, into its server). KIVO_SOAK_SECONDS overrides.
uint32_t SoakSeconds(bool queue) {
  if (const char* v = getenv("KIVO_SOAK_SECONDS")) return static_cast<uint32_t>(atoi(v));
  uint32_t seconds = queue ? 900 : 3600;
#if defined(_WIN32)
  seconds /= 6;
#endif
#if defined(__SANITIZE_THREAD__)
  seconds /= 10;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
  seconds /= 10;
#endif
#endif
  return seconds;
}

std::atomic<uint64_t> playedBytes{0};

void CountPlayed(void*, uint32_t, const uint8_t*, uint32_t count, double, double) { playedBytes += count; }

// When frame `index` of a loop (from 0) falls due after the loop's first
// frame: the frame cycle's schedule, in whole milliseconds.
uint32_t DueAfterFirst(uint32_t index) {
  return static_cast<uint32_t>(uint64_t(index * 1000u) * kRateDen / kRateNum);
}

struct Soak : test::VirtualSoundTest, ::testing::WithParamInterface<bool> {
  Movie* m = nullptr;
  static constexpr int32_t kNoLoop = INT32_MIN;
  uint32_t loops = 0, frames = 0, worstOffset = 0, catchUps = 0, early = 0;
  int32_t loopStart = kNoLoop;

  void SetUp() override {
    VirtualSoundTest::SetUp();
    playedBytes = 0;
    SetVirtualSink(CountPlayed, nullptr);
    ASSERT_EQ(SetSoundSystem(GetParam() ? SelectWaveOutDriver : SelectDirectSoundDriver, nullptr), 1);
  }
  void TearDown() override {
    CloseMovie(m);
    VirtualSoundTest::TearDown();
  }
  void OpenLoop(const char* name) {
    const test::SoundMovie sm = test::MakeSoundMovie(kLoopFrames);
    const std::string path = test::WriteTestFile(name, sm.bytes);
    m = OpenMovie(path.c_str(), 0);
    ASSERT_NE(m, nullptr) << GetErrorText();
    ASSERT_EQ(m->openTrackCount, 1u);
    ASSERT_FALSE(m->openFlags & kOpenPreload);  // read ahead, not preloaded
    SetMovieLooping(m, 1);
  }
  // Plays until `until` on the clock, waiting in steps of `stepMs` (moved
  // on by hand for the virtual clock, slept for the real one). Checks each
  // frame against the schedule of its loop, which restarts at frame 1.
  void PlayUntil(uint32_t until, uint32_t stepMs, bool virtualClock) {
    while (int32_t(GetMilliseconds() - until) < 0) {
      const uint32_t asked = GetMilliseconds();
      for (uint32_t waited = 0; WaitFrame(m); waited += stepMs) {
        ASSERT_LT(waited, 5000u) << "frame " << m->currentFrame << " never fell due; soundOn " << m->soundOn
                                 << " paused " << m->paused;
        if (virtualClock)
          test::AdvanceClock(stepMs);
        else
          os::SleepMs(stepMs);
      }
      const uint32_t now = GetMilliseconds();
      const uint32_t index = m->currentFrame - 1;
      // The schedule of a loop starts when its first frame is asked for
      // (after the open, the first frame is decoded at once and the
      // schedule starts there: that loop is not checked).
      if (index == 0) {
        loopStart = m->framesDecoded ? int32_t(asked) : kNoLoop;
        ++loops;
      }
      if (loopStart != kNoLoop) {
        const int32_t offset = int32_t(now - uint32_t(loopStart)) - int32_t(DueAfterFirst(index + 1));
        // Never early (but for the first frame, which is not waited for);
        // late by at most the wait's step (the virtual clock) or the
        // scheduler's slack (the real one). The schedule runs on through a
        // loop, frame 1 one frame after the last: the time frame 1 was asked
        // for is up to a step after it fell due, so the frames that follow
        // may show up to a step before this reckoning.
        if (index > 0 && offset < -int32_t(stepMs)) ++early;
        if (offset > int32_t(worstOffset)) worstOffset = uint32_t(offset);
      }
      if (m->catchUpMs) ++catchUps;
      ASSERT_EQ(DoFrame(m), 0);
      GetRects(m, 0);
      NextFrame(m);
      ++frames;
    }
  }
};

TEST_P(Soak, AnHourOfLoopingKeepsMemoryScheduleAndSoundSteady) {
  const uint32_t kHour = SoakSeconds(GetParam());
  OpenLoop(GetParam() ? "soak-queue.kiv" : "soak-loop.kiv");
  const uint32_t memory = m->memoryUsed;
  const uint32_t begin = GetMilliseconds();
  PlayUntil(begin + kLoopMs + 1000, kStep, true);  // the first loop, then everything is in place
  const uint32_t allocations = MemAllocCount();
  const uint32_t liveBlocks = MemLiveCount();
  const uint64_t liveBytes = MemLiveBytes();
  const uint64_t playedAtStart = playedBytes;
  const uint32_t half = begin + kHour / 2 * 1000;
  PlayUntil(half, kStep, true);
  EXPECT_EQ(m->soundSkips, 0u);
  EXPECT_EQ(catchUps, 0u);

  // Starved on purpose in the middle of a loop: the foreground stops for
  // two seconds, the device plays out what it had. One skip, and the loop
  // plays on in step.
  while (m->currentFrame != kLoopFrames / 2) PlayUntil(GetMilliseconds() + 1, kStep, true);
  test::AdvanceClock(2000);
  WaitFrame(m);
  NextFrame(m);
  EXPECT_EQ(m->soundSkips, 1u);
  loopStart = kNoLoop;
  const uint32_t resumed = GetMilliseconds();
  // The frames up to the next loop follow a re-based schedule: start the
  // checks again from there.
  while (m->currentFrame != 1) {
    while (WaitFrame(m)) test::AdvanceClock(kStep);
    DoFrame(m);
    NextFrame(m);
  }
  worstOffset = 0;
  PlayUntil(begin + kHour * 1000 + 2000, kStep, true);
  const uint32_t end = GetMilliseconds();

  EXPECT_EQ(m->soundSkips, 1u);
  EXPECT_EQ(catchUps, 0u);
  EXPECT_EQ(early, 0u);
  EXPECT_LE(worstOffset, kStep);
  EXPECT_GE(loops, kHour * 1000 / kLoopMs);
  // The buffer queue gets new device buffers each time its sound is
  // switched on again (every restart at frame 1); the looping buffer keeps
  // its own. Either way nothing more is held at the end than after a loop.
  if (!GetParam()) {
    EXPECT_EQ(MemAllocCount(), allocations);
  }
  EXPECT_EQ(MemLiveCount(), liveBlocks);
  EXPECT_EQ(MemLiveBytes(), liveBytes);
  EXPECT_EQ(m->memoryUsed, memory);
  EXPECT_EQ(m->readError, 0);
  // The device played close to the real-time amount of sound: a loss would
  // be a skip, a surplus a repeat. The starving costs two seconds and the
  // refill up to the prefill, each restart at frame 1 a moment while the
  // device starts again (measured: under a fifth of a second).
  const double seconds = (end - begin - kLoopMs - 1000) / 1000.0;
  const double played = double(playedBytes - playedAtStart) / kPcmPerSecond;
  EXPECT_GT(played, seconds - 3 - 0.25 * loops);
  EXPECT_LT(played, seconds + 1);
  (void)resumed;
}

TEST_P(Soak, TenRealMinutes) {
  if (!test::LongTests()) GTEST_SKIP() << "set KIVO_LONG_TESTS=1 for ten real minutes";
  test::UsePlatformClock();
  OpenLoop(GetParam() ? "soak-real-queue.kiv" : "soak-real-loop.kiv");
  const uint32_t memory = m->memoryUsed;
  const uint32_t begin = GetMilliseconds();
  PlayUntil(begin + kLoopMs + 1000, 1, false);
  const uint32_t liveBlocks = MemLiveCount();
  const uint64_t liveBytes = MemLiveBytes();
  PlayUntil(begin + 600 * 1000, 1, false);
  EXPECT_EQ(m->soundSkips, 0u);
  EXPECT_EQ(MemLiveCount(), liveBlocks);
  EXPECT_EQ(MemLiveBytes(), liveBytes);
  EXPECT_EQ(m->memoryUsed, memory);
  EXPECT_GE(loops, 600u * 1000 / kLoopMs);
  EXPECT_EQ(early, 0u);
  // A busy machine may hold the foreground up now and then; most frames
  // still come within a few milliseconds of their time.
  EXPECT_LE(worstOffset, 200u);
}

INSTANTIATE_TEST_SUITE_P(BothDrivers, Soak, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& p) {
                           return p.param ? "BufferQueue" : "LoopingBuffer";
                         });

}  // namespace
}  // namespace kivo
