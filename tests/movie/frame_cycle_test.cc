// SPDX-License-Identifier: BSD-2-Clause
// The frame cycle on a virtual clock: the schedule, re-basing without
// sound, pausing, looping, read errors, statistics, and no allocation.
#include <gtest/gtest.h>

#include "base/clock.h"
#include "base/error_text.h"
#include "base/memory.h"
#include "movie/movie_api.h"
#include "movie/settings.h"
#include "movie/statistics.h"
#include "support/test_movies.h"
#include "support/virtual_clock.h"

namespace kivo {
namespace {

struct FrameCycle : ::testing::Test {
  test::VirtualClockScope clock;
  Movie* movie = nullptr;

  void Open(std::vector<uint8_t> bytes, uint32_t flags = 0, const char* name = "cycle.kiv") {
    movie = OpenMovie(test::WriteTestFile(name, bytes).c_str(), flags);
    ASSERT_NE(movie, nullptr) << GetErrorText();
  }
  void TearDown() override { CloseMovie(movie); }
  // Decodes one frame the way the player does, without a display.
  void Step() {
    ASSERT_EQ(DoFrame(movie), 0);
    NextFrame(movie);
  }
};


TEST_F(FrameCycle, FirstFrameAtOnceThenOneFrameDurationApart) {
  Open(test::FillerMovie(10));  // 25 per second: 40 ms a frame
  EXPECT_EQ(WaitFrame(movie), 0);
  Step();
  EXPECT_EQ(WaitFrame(movie), 1);
  test::AdvanceClock(39);
  EXPECT_EQ(WaitFrame(movie), 1);
  test::AdvanceClock(1);
  EXPECT_EQ(WaitFrame(movie), 0);
  Step();
  test::AdvanceClock(39);
  EXPECT_EQ(WaitFrame(movie), 1);
  test::AdvanceClock(1);
  EXPECT_EQ(WaitFrame(movie), 0);
}

TEST_F(FrameCycle, AsFastAsPossibleNeverWaits) {
  SetFrameRate(0, 0);
  Open(test::FillerMovie(10), kOpenRateOverride);
  EXPECT_EQ(movie->playRateNum, 0u);
  EXPECT_EQ(movie->lateLimit, 2000u);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(WaitFrame(movie), 0);
    EXPECT_EQ(CheckLate(movie, 0), 0);
    Step();
  }
}

TEST_F(FrameCycle, WithoutSoundAStallIsForgotten) {
  Open(test::FillerMovie(30));
  Step();
  test::AdvanceClock(40);
  EXPECT_EQ(WaitFrame(movie), 0);
  Step();
  test::AdvanceClock(1000);  // a one-second stall
  EXPECT_EQ(CheckLate(movie, 0), 0);  // no copy is skipped without sound
  EXPECT_EQ(WaitFrame(movie), 0);     // re-based: this one now, as if due in a frame ...
  EXPECT_EQ(movie->catchUpMs, 0u);
  Step();
  test::AdvanceClock(79);
  EXPECT_EQ(WaitFrame(movie), 1);     // ... so the next falls due a frame after that
  test::AdvanceClock(1);
  EXPECT_EQ(WaitFrame(movie), 0);
  Step();
  test::AdvanceClock(39);
  EXPECT_EQ(WaitFrame(movie), 1);     // and from then on at the normal rate
  test::AdvanceClock(1);
  EXPECT_EQ(WaitFrame(movie), 0);
  EXPECT_EQ(movie->skippedBlits, 0u);
}

TEST_F(FrameCycle, APauseIsNotMadeUpAfterwards) {
  Open(test::FillerMovie(30));
  Step();
  EXPECT_EQ(PauseMovie(movie, 1), 1);
  test::AdvanceClock(10000);
  EXPECT_EQ(WaitFrame(movie), 1);  // paused: never due
  EXPECT_EQ(PauseMovie(movie, 0), 0);
  EXPECT_EQ(WaitFrame(movie), 1);  // the schedule restarts from here
  test::AdvanceClock(40);
  EXPECT_EQ(WaitFrame(movie), 0);
}

TEST_F(FrameCycle, TheLastFrameIsFollowedByTheFirst) {
  Open(test::FillerMovie(3));
  Step();
  Step();
  EXPECT_EQ(movie->currentFrame, 3u);
  ASSERT_EQ(DoFrame(movie), 0);
  EXPECT_EQ(DoFrame(movie), 0);  // already decoded: nothing happens
  EXPECT_EQ(movie->framesDecoded, 3u);
  NextFrame(movie);
  EXPECT_EQ(movie->currentFrame, 1u);
  EXPECT_EQ(movie->lastFrame, 3u);
  EXPECT_EQ(movie->clockBase, 0u);  // restarted at frame 1
  EXPECT_EQ(movie->frameData[3], 3);
}

TEST_F(FrameCycle, AReadErrorStopsDecodingButNotTheCycle) {
  std::vector<uint8_t> bytes = test::FillerMovie(6, 64, 48, 5, 5000);
  bytes.resize(bytes.size() - 6000);  // the last frames are missing from the file
  Open(bytes, kOpenNoReader | kOpenNoFill, "short-file.kiv");
  int errors = 0;
  for (int i = 0; i < 12; ++i) {
    int32_t r = DoFrame(movie);
    errors += r;
    if (r) {
      EXPECT_EQ(WaitFrame(movie), 0);
    }
    NextFrame(movie);
  }
  EXPECT_TRUE(movie->readError);
  EXPECT_GT(errors, 0);
  EXPECT_LT(movie->framesDecoded, 6u);
}

TEST_F(FrameCycle, DecodingFlipsThePicturesAndMarksNothingForGarbage) {
  Open(test::FillerMovie(4));
  int32_t before = movie->planes.current;
  Step();
  EXPECT_EQ(movie->planes.current, before ^ 1);
  EXPECT_EQ(movie->rectCount, -1);
  EXPECT_EQ(movie->decodedFrame, 1u);
}

TEST_F(FrameCycle, SummaryAndRealtimeFigures) {
  Open(test::FillerMovie(60));
  MovieSummary s;
  GetSummary(movie, &s);
  EXPECT_EQ(s.framesPlayed, 0u);
  EXPECT_EQ(s.totalMs, GetMilliseconds());  // no first frame yet
  EXPECT_EQ(s.frameCount, 60u);
  EXPECT_EQ(s.framesSkipped, 0u);
  EXPECT_EQ(s.peakDataFrame, 1u);

  Step();
  RealtimeStats r;
  GetRealtime(movie, &r, 0);
  EXPECT_EQ(r.window, 1u);
  EXPECT_EQ(r.spanMs, 40u);  // one header frame duration
  EXPECT_EQ(r.lastFrame, 1u);

  for (int i = 0; i < 40; ++i) {
    test::AdvanceClock(40);
    Step();
  }
  GetRealtime(movie, &r, 0);
  EXPECT_EQ(r.window, 24u);  // a history of 25 frames at 25 per second: one less
  EXPECT_EQ(r.spanMs, 24u * 40);
  GetSummary(movie, &s);
  EXPECT_EQ(s.framesPlayed, 41u);
}

TEST_F(FrameCycle, OneFramePerSecondStillHasAWindow) {
  Open(test::FillerMovie(5, 64, 48, 5, 200, 1, 1));
  EXPECT_EQ(movie->history.frames, 1u);
  Step();
  test::AdvanceClock(1000);
  Step();
  RealtimeStats r;
  GetRealtime(movie, &r, 0);
  EXPECT_EQ(r.window, 1u);
  EXPECT_EQ(r.spanMs, 1000u);
}

TEST_F(FrameCycle, DeviceSpeedIsZeroBeforeAnyReadAndNeverWraps) {
  // Read through the ring (too large to be preloaded), by the foreground.
  Open(test::FillerMovie(50, 64, 48, 5, 8000), kOpenNoFill | kOpenNoReader);
  ASSERT_EQ(movie->preloaded, nullptr);
  movie->io.bytesRead = 0;
  MovieSummary s;
  GetSummary(movie, &s);
  EXPECT_EQ(s.deviceSpeed, 0u);
  // Four gigabytes in under a millisecond: more than 32 bits hold.
  movie->io.bytesRead = 0xFFFFFFFFu;
  movie->io.readMs = 0;
  GetSummary(movie, &s);
  EXPECT_EQ(s.deviceSpeed, 0xFFFFFFFFu);
  // A movie looped for days is read again and again: at 10 MB/s the bytes
  // read pass 2^32 in the reads below, then the milliseconds spent reading
  // are beyond 2^32 too; the speed stays as measured.
  movie->io.bytesRead = 0xFFFFFFFFull - 100;
  movie->io.readMs = 429497;
  GotoFrame(movie, 3);
  Step();
  EXPECT_GT(movie->io.bytesRead.load(), 0xFFFFFFFFull);
  GetSummary(movie, &s);
  EXPECT_NEAR(s.deviceSpeed, 10000000, 1000);
  movie->io.readMs = 0x100000000ull;
  movie->io.bytesRead = 0x100000000ull * 10000;
  GetSummary(movie, &s);
  EXPECT_NEAR(s.deviceSpeed, 10000000, 1000);
}

TEST_F(FrameCycle, PlayingAllocatesNothing) {
  Open(test::FillerMovie(50, 320, 240, 10, 3000));
  uint32_t before = MemAllocCount();
  for (int lap = 0; lap < 3; ++lap)
    for (int i = 0; i < 50; ++i) {
      test::AdvanceClock(40);
      WaitFrame(movie);
      DoFrame(movie);
      CheckLate(movie, 0);
      GetRects(movie, 0);
      NextFrame(movie);
    }
  EXPECT_EQ(MemAllocCount(), before);
}

}  // namespace
}  // namespace kivo
