// SPDX-License-Identifier: BSD-2-Clause
// Lateness with sound playing: a stall is made up in equal steps over a
// second of frames, late copies are skipped three at a time, and the changes
// of skipped frames are shown with the next copy made.
#include <gtest/gtest.h>

#include "movie/movie_api.h"
#include "movie/settings.h"
#include "sound/sound_drivers.h"
#include "sound/sound_system.h"
#include "sound_test_support.h"
#include "support/virtual_clock.h"

namespace kivo {
namespace {

struct LateFrames : test::VirtualSoundTest {
  test::SoundMovie sm;
  Movie* m = nullptr;
  void SetUp() override {
    VirtualSoundTest::SetUp();
    ASSERT_EQ(SetSoundSystem(SelectDirectSoundDriver, nullptr), 1);
    sm = test::MakeSoundMovie(120);
    SetFrameRate(25, 1);  // 40 ms a frame, the sound rate follows
    m = OpenMovie(sm.bytes.data(), kOpenMemory | kOpenRateOverride);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->openTrackCount, 1u);
    ASSERT_EQ(m->lateLimit, 80u);
  }
  void TearDown() override {
    CloseMovie(m);
    VirtualSoundTest::TearDown();
  }
  void PlayInStep(uint32_t frames) {
    for (uint32_t i = 0; i < frames; ++i) {
      while (WaitFrame(m)) test::AdvanceClock(1);
      DoFrame(m);
      NextFrame(m);
    }
  }
};

TEST_F(LateFrames, AStallIsMadeUpOverASecondOfFrames) {
  PlayInStep(10);
  while (WaitFrame(m)) test::AdvanceClock(1);  // frame 11 due exactly now
  DoFrame(m);
  NextFrame(m);
  test::AdvanceClock(40 + 400);  // frame 12 found 400 ms late
  EXPECT_EQ(WaitFrame(m), 0);
  EXPECT_EQ(m->catchUpStep, 16u);
  EXPECT_EQ(m->catchUpMs, 400u - 16u);  // the first step is made at once
  DoFrame(m);
  NextFrame(m);
  for (int i = 0; i < 24; ++i) {
    while (WaitFrame(m)) test::AdvanceClock(1);
    DoFrame(m);
    NextFrame(m);
  }
  EXPECT_EQ(m->catchUpMs, 0u);
  EXPECT_EQ(m->soundSkips, 0u);
}

TEST_F(LateFrames, ThreeLateCopiesAreSkippedTheFourthIsMade) {
  PlayInStep(5);
  test::AdvanceClock(1000);
  int32_t skipped[5];
  for (int i = 0; i < 5; ++i) {
    DoFrame(m);
    skipped[i] = CheckLate(m, 0);
    if (i == 3) {
      EXPECT_EQ(GetRects(m, 0), 0);  // made, but the skipped changes are still pending
    }
    NextFrame(m);
  }
  EXPECT_EQ(skipped[0], 1);
  EXPECT_EQ(skipped[1], 1);
  EXPECT_EQ(skipped[2], 1);
  EXPECT_EQ(skipped[3], 0);
  EXPECT_EQ(skipped[4], 1);
  EXPECT_EQ(m->skippedBlits, 4u);
  // Never-skip copies every frame.
  DoFrame(m);
  EXPECT_EQ(CheckLate(m, 0x80000), 0);
}

TEST_F(LateFrames, ChangesOfSkippedFramesShowWithTheNextCopy) {
  PlayInStep(5);
  test::AdvanceClock(1000);
  DoFrame(m);
  ASSERT_EQ(CheckLate(m, 0), 1);  // skipped: the map is kept
  m->planes.changedCells[0] = 1;  // what this frame changed
  NextFrame(m);
  test::AdvanceClock(0);
  // The picture caught up: the next copy is on time again.
  DoFrame(m);
  m->clockBase = GetMilliseconds();
  m->clockBaseFrame = m->framesDecoded - 1;
  m->planes.changedCells[m->cellCount - 1] = 1;  // what the next one changed
  ASSERT_EQ(CheckLate(m, 0), 0);
  ASSERT_EQ(GetRects(m, 0), 2);
  EXPECT_EQ(m->rects[0].x, 0);
  EXPECT_EQ(m->rects[0].y, 0);
  EXPECT_EQ(m->rects[1].y + m->rects[1].height, static_cast<int32_t>(m->height));
}

}  // namespace
}  // namespace kivo
