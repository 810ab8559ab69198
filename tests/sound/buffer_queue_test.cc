// SPDX-License-Identifier: BSD-2-Clause
// The buffer-queue driver on the virtual queue device and clock: its sizes,
// holding playback back until half a second (or the whole of a short sound)
// is collected, a stalled device stopping the feed, running dry, volume and
// pan, pausing, switching off and on, and what reaches the device.
#include <gtest/gtest.h>

#include <algorithm>

#include "movie/movie_sound.h"
#include "sound/sound_drivers.h"
#include "sound_test_support.h"
#include "support/virtual_clock.h"

namespace kivo {
namespace {

using test::HandMovie;
using test::Pattern;

struct BufferQueueTest : test::VirtualSoundTest {
  HandMovie movie{{{0x70005622, 69120}}};
  QueueDriverState& State() { return movie.track(0).state.queue; }
  void TearDown() override {
    movie.Close();
    VirtualSoundTest::TearDown();
  }
  // Feeds and lets the device play for `ms`, `steps` times.
  void Play(uint32_t ms, uint32_t steps = 1) {
    for (uint32_t i = 0; i < steps; ++i) {
      SoundService(movie.get());
      test::AdvanceClock(ms);
    }
  }
};

TEST_F(BufferQueueTest, SizesFollowTheFormat) {
  ASSERT_TRUE(movie.Open(0, BufferQueueSoundOpen, 22050, 16, 2));
  EXPECT_EQ(State().bufferBytes, 5536u);
  EXPECT_EQ(State().startThreshold, 44128u);
  EXPECT_EQ(movie.track(0).minWrite, 5536u);
  EXPECT_EQ(State().totalBytes, 88200u * 2612 / 25);
  EXPECT_EQ(movie.track(0).latencyMs, 0u);
  EXPECT_EQ(movie.track(0).ops.SoundSetSpeakers, nullptr);
  movie.Close();

  ASSERT_TRUE(movie.Open(0, BufferQueueSoundOpen, 11025, 8, 1));
  EXPECT_EQ(State().bufferBytes, 704u);
  EXPECT_EQ(movie.track(0).minWrite, 1408u);  // ring bytes of 16-bit samples
  // Silence for 8 bits is 0x80.
  EXPECT_EQ(State().headers[15]->data[703], 0x80);
  const VirtualDeviceInfo info = GetVirtualDevice(1);
  EXPECT_EQ(info.format.rate, 11025u);
  EXPECT_EQ(info.format.bits, 8u);
  EXPECT_EQ(info.format.channels, 1u);
}

TEST_F(BufferQueueTest, PlaybackWaitsForHalfASecondThenQueuesWhatWasCollected) {
  ASSERT_TRUE(movie.Open(0, BufferQueueSoundOpen, 22050, 16, 2));
  const std::vector<uint8_t> pcm = Pattern(60000);
  movie.Append(0, std::vector<uint8_t>(pcm.begin(), pcm.begin() + 7 * 5536 + 4));
  Play(1000);
  EXPECT_EQ(State().started, 0u);
  EXPECT_EQ(State().collected, 7u * 5536);
  EXPECT_EQ(GetVirtualDevice(0).queued, 0u);
  EXPECT_EQ(GetVirtualDevice(0).played, 0u);

  movie.Append(0, std::vector<uint8_t>(pcm.begin() + 7 * 5536 + 4, pcm.begin() + 8 * 5536 + 4));
  SoundService(movie.get());
  EXPECT_EQ(State().started, 1u);
  EXPECT_EQ(GetVirtualDevice(0).queued, 8u);
  test::AdvanceClock(300);
  const std::vector<uint8_t> played = capture.Played(0);
  ASSERT_EQ(played.size(), 88200u * 300 / 1000);
  EXPECT_TRUE(std::equal(played.begin(), played.end(), pcm.begin()));
}

TEST_F(BufferQueueTest, ASoundShorterThanHalfASecondStartsOnceAllOfItIsCollected) {
  HandMovie shortMovie({{0x70005622, 20480}}, 5);  // 0.2 s: 17640 bytes
  ASSERT_TRUE(shortMovie.Open(0, BufferQueueSoundOpen, 22050, 16, 2, 20480));
  QueueDriverState& s = shortMovie.track(0).state.queue;
  EXPECT_EQ(s.startThreshold, 17640u);
  const std::vector<uint8_t> pcm = Pattern(17640);
  shortMovie.Append(0, pcm);
  SoundService(shortMovie.get());  // the whole movie is its end zone
  EXPECT_EQ(s.started, 1u);
  EXPECT_EQ(GetVirtualDevice(0).queued, 4u);
  test::AdvanceClock(1000);
  // The short last buffer plays its own 1032 bytes, nothing behind them.
  EXPECT_EQ(capture.Played(0), pcm);
  shortMovie.Close();
}

TEST_F(BufferQueueTest, EveryBufferQueuedAndNoneDoneStopsTheFeed) {
  ASSERT_TRUE(movie.Open(0, BufferQueueSoundOpen, 22050, 16, 2, 200000));
  SetVirtualSpeed(0);
  movie.Append(0, Pattern(20 * 5536));
  Play(100, 3);
  EXPECT_EQ(GetVirtualDevice(0).queued, 16u);
  EXPECT_EQ(movie.track(0).ringBuffered, 4u * 5536);
  EXPECT_EQ(movie.track(0).ops.SoundReady(&movie.track(0)), 0);
  EXPECT_EQ(movie.track(0).soundSkipped, 0u);
  // Once buffers come back the feed goes on, into them in turn.
  SetVirtualSpeed(100);
  test::AdvanceClock(130);  // two buffers' worth
  SoundService(movie.get());
  EXPECT_EQ(movie.track(0).ringBuffered, 2u * 5536);
  EXPECT_EQ(State().lastWritten, 1);
}

TEST_F(BufferQueueTest, AllBuffersBackWhilePlayingIsRunningDryAndCollectingStartsAgain) {
  ASSERT_TRUE(movie.Open(0, BufferQueueSoundOpen, 22050, 16, 2));
  movie.Append(0, Pattern(10 * 5536 + 4));
  SoundService(movie.get());
  ASSERT_EQ(State().started, 1u);
  test::AdvanceClock(2000);
  EXPECT_EQ(movie.track(0).ops.SoundReady(&movie.track(0)), 1);
  EXPECT_EQ(movie.track(0).soundSkipped, 1u);
  EXPECT_EQ(State().started, 0u);
  EXPECT_EQ(State().collected, 0u);
  EXPECT_EQ(State().currentBuffer, 0);
  movie.Append(0, Pattern(2 * 5536, 3));
  SoundService(movie.get());
  EXPECT_EQ(State().started, 0u);
  EXPECT_EQ(GetVirtualDevice(0).queued, 0u);
}

TEST_F(BufferQueueTest, SteadyFeedingDeliversThePcmInOrderWithoutGaps) {
  ASSERT_TRUE(movie.Open(0, BufferQueueSoundOpen, 22050, 16, 2));
  const std::vector<uint8_t> pcm = Pattern(3528 * 150);
  for (uint32_t frame = 0; frame < 150; ++frame) {
    movie.Append(0, std::vector<uint8_t>(pcm.begin() + frame * 3528, pcm.begin() + (frame + 1) * 3528));
    Play(40);
  }
  const std::vector<uint8_t> played = capture.Played(0);
  EXPECT_EQ(movie.track(0).soundSkipped, 0u);
  ASSERT_GT(played.size(), 3528u * 120);
  EXPECT_TRUE(std::equal(played.begin(), played.end(), pcm.begin()));
}

TEST_F(BufferQueueTest, VolumeAndPanGoToTheDeviceAsRightAndLeftLevels) {
  ASSERT_TRUE(movie.Open(0, BufferQueueSoundOpen, 22050, 16, 2));
  SoundTrack& t = movie.track(0);
  EXPECT_FALSE(GetVirtualDevice(0).volumeSet);  // nothing applied at open
  t.ops.SoundSetVolume(&t, 0x10000);
  EXPECT_EQ(State().level, 0x7FFFu);
  EXPECT_EQ(GetVirtualDevice(0).rightLeft, 0x7FFF7FFFu);
  t.ops.SoundSetPan(&t, 0);
  EXPECT_EQ(GetVirtualDevice(0).rightLeft, 0x00007FFFu);
  t.ops.SoundSetPan(&t, 0x10000);
  EXPECT_EQ(GetVirtualDevice(0).rightLeft, 0x7FFF0000u);
  t.ops.SoundSetPan(&t, 0x8000);
  EXPECT_EQ(GetVirtualDevice(0).rightLeft, 0x7FFF0000u + 0x7FFFu * 0x8000 / 0x8001);
  t.ops.SoundSetPan(&t, 0x20000);
  EXPECT_EQ(State().panValue, 0x10000u);
  t.ops.SoundSetVolume(&t, 0);
  EXPECT_EQ(State().level, 0u);
}

TEST_F(BufferQueueTest, PausingHoldsTheDeviceAndTheFeed) {
  ASSERT_TRUE(movie.Open(0, BufferQueueSoundOpen, 22050, 16, 2));
  movie.Append(0, Pattern(9 * 5536 + 4));
  SoundService(movie.get());
  test::AdvanceClock(100);
  const uint64_t before = GetVirtualDevice(0).played;
  PauseSoundTracks(movie.get(), 1);
  EXPECT_EQ(State().devicePaused, 1u);
  EXPECT_EQ(movie.track(0).ops.SoundReady(&movie.track(0)), 0);
  test::AdvanceClock(3000);
  EXPECT_EQ(GetVirtualDevice(0).played, before);
  EXPECT_EQ(movie.track(0).soundSkipped, 0u);
  PauseSoundTracks(movie.get(), 0);
  test::AdvanceClock(100);
  EXPECT_EQ(GetVirtualDevice(0).played, before + 8820);
}

TEST_F(BufferQueueTest, OffClosesTheDeviceAndOnStartsFromSilentEmptyBuffers) {
  ASSERT_TRUE(movie.Open(0, BufferQueueSoundOpen, 22050, 16, 2));
  movie.Append(0, Pattern(9 * 5536 + 4));
  SoundService(movie.get());
  EXPECT_EQ(SwitchSound(movie.get(), 0), 0);
  EXPECT_FALSE(GetVirtualDevice(0).open);
  EXPECT_EQ(State().bufferMemory, nullptr);
  EXPECT_EQ(movie.track(0).ops.SoundReady(&movie.track(0)), 0);
  EXPECT_EQ(SwitchSound(movie.get(), 1), 1);
  ASSERT_EQ(VirtualDeviceCount(), 2u);
  EXPECT_TRUE(GetVirtualDevice(1).open);
  EXPECT_EQ(State().started, 0u);
  EXPECT_EQ(State().lastWritten, -1);
  EXPECT_EQ(State().headers[3]->data[100], 0);
  // The prefill silence comes first, then new sound.
  const std::vector<uint8_t> pcm = Pattern(2000, 5);
  movie.Append(0, pcm);
  SoundService(movie.get());
  test::AdvanceClock(2000);
  const std::vector<uint8_t> played = capture.Played(1);
  ASSERT_EQ(played.size(), 12u * 5536);
  EXPECT_TRUE(test::AllZero(played, 0, 66148));
  EXPECT_TRUE(std::equal(played.begin() + 66148, played.end(), pcm.begin()));

  // A device that cannot be had again stays off.
  SwitchSound(movie.get(), 0);
  SetVirtualFailures(kVirtualFailOpen);
  EXPECT_EQ(SwitchSound(movie.get(), 1), 0);
  EXPECT_EQ(movie.track(0).deviceOn, 0u);
  EXPECT_EQ(State().bufferMemory, nullptr);
}

TEST_F(BufferQueueTest, OpenFailsForADeviceThatCannotOpenAndForRatesNoDeviceTakes) {
  SetVirtualFailures(kVirtualFailOpen);
  EXPECT_FALSE(movie.Open(0, BufferQueueSoundOpen, 22050, 16, 2));
  EXPECT_EQ(movie.track(0).ops.SoundReady, nullptr);
  EXPECT_EQ(movie.track(0).state.queue.bufferMemory, nullptr);
  SetVirtualFailures(0);
  EXPECT_FALSE(movie.Open(0, BufferQueueSoundOpen, 0, 16, 2));
  EXPECT_FALSE(movie.Open(0, BufferQueueSoundOpen, kMaxSoundRate + 1, 16, 2));
  EXPECT_FALSE(movie.Open(0, BufferQueueSoundOpen, 22050, 12, 2));
  EXPECT_EQ(VirtualDeviceCount(), 0u);
  // A movie played as fast as possible has no known length to wait for.
  movie->playRateNum = 0;
  ASSERT_TRUE(movie.Open(0, BufferQueueSoundOpen, 22050, 16, 2));
  EXPECT_EQ(State().totalBytes, 0xFFFFFFFFu);
  EXPECT_EQ(State().startThreshold, 44128u);
}

}  // namespace
}  // namespace kivo
