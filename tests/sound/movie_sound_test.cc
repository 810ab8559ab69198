// SPDX-License-Identifier: BSD-2-Clause
// A movie's sound tracks from open to close on the virtual devices: which
// tracks are taken, the figures each gets, tracks dropped without a word, the
// rate following a changed frame rate, the sound thread shared by movies, and
// the choice of driver that the first opened track fixes.
#include <gtest/gtest.h>

#include "movie/movie_sound.h"
#include "movie/settings.h"
#include "sound/sound_drivers.h"
#include "sound/sound_system.h"
#include "sound_test_support.h"

namespace kivo {
namespace {

using test::HandMovie;

constexpr uint32_t kStereo22k = 0x70005622;  // 22050 Hz, 16-bit, stereo, DCT
constexpr uint32_t kMono11k8 = 0x10002B11;   // 11025 Hz, 8-bit, mono, DCT

struct MovieSoundTest : test::VirtualSoundTest {
  void TearDown() override {
    ResetSoundTrackRequest();
    EXPECT_EQ(SoundServiceThread(), nullptr);
    VirtualSoundTest::TearDown();
  }
};

TEST_F(MovieSoundTest, ATrackOpensWithItsRingPrefillAndEndZone) {
  ASSERT_EQ(SetSoundSystem(SelectDirectSoundDriver, nullptr), 1);
  HandMovie movie({{kStereo22k, 69120}});
  movie->memoryUsed = 1000;
  OpenSoundTracks(movie.get());
  ASSERT_EQ(movie->openTrackCount, 1u);
  const SoundTrack& t = movie.track(0);
  EXPECT_EQ(t.ringSize, 69120u);
  EXPECT_EQ(t.ringEnd, t.ringStart + 69120);
  EXPECT_EQ(t.ringWrite, t.ringStart);
  EXPECT_EQ(t.ringRead, t.ringStart);
  EXPECT_EQ(t.prefillBytes, 66148u);
  EXPECT_EQ(t.endZoneFrame, 2594);
  EXPECT_EQ(t.eightBit, 0u);
  EXPECT_EQ(t.alignMask, 0xFFFFFFFFu);
  EXPECT_EQ(t.timeScale, 0x10000u);
  EXPECT_NE(t.decoder, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(t.ringStart) % 32, 0u);
  EXPECT_EQ(movie->soundOn, 1);
  EXPECT_EQ(movie->memoryUsed, 1000u + 69120);
  EXPECT_EQ(OpenedSoundTrackCount(), 1u);
  EXPECT_NE(SoundServiceThread(), nullptr);
  EXPECT_NE(movie->soundClient.mutex, nullptr);

  movie->framesDecoded = 1;
  CloseSoundTracks(movie.get());
  EXPECT_EQ(movie->openTrackCount, 0u);
  EXPECT_EQ(SoundServiceThread(), nullptr);
  EXPECT_EQ(movie->soundClient.mutex, nullptr);
  EXPECT_FALSE(GetVirtualDevice(0).open);
  EXPECT_EQ(LoopingObjectUsers(), 0u);
}

TEST_F(MovieSoundTest, RequestedIdsAreTakenInRequestOrderEachFileTrackOnce) {
  SetSoundSystem(SelectWaveOutDriver, nullptr);
  HandMovie movie({{kStereo22k, 4096, 3}, {kStereo22k, 4096, 7}, {kStereo22k, 4096, 7}, {0x40005622, 4096, 5}},
                  2612, 25, 1, 5);
  const uint32_t ids[5] = {7, 3, 9, 7, 5};
  SetSoundTracks(5, ids);
  OpenSoundTracks(movie.get());
  // 9 is in no track, the second 7 names a track already taken, and track
  // 3 has no coding bits: it is not playable.
  ASSERT_EQ(movie->openTrackCount, 2u);
  EXPECT_EQ(movie->selectedTracks[0], 1u);
  EXPECT_EQ(movie->selectedTracks[1], 0u);
  uint32_t count = 0;
  const uint32_t* request = SoundTrackRequest(&count);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(request[0], 0u);
  for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(movie.track(i).timeScale, 0x10000u) << i;
  CloseSoundTracks(movie.get());
}

TEST_F(MovieSoundTest, TracksWhoseDeviceOrRingCannotBeHadAreDroppedAndLaterOnesMoveDown) {
  SetSoundSystem(SelectWaveOutDriver, nullptr);
  // No rate, then no room for a ring, then one that opens.
  HandMovie movie({{0x70000000, 4096, 0}, {kStereo22k, 0, 1}, {kMono11k8, 4096, 2}}, 100);
  const uint32_t ids[3] = {0, 1, 2};
  SetSoundTracks(3, ids);
  OpenSoundTracks(movie.get());
  ASSERT_EQ(movie->openTrackCount, 1u);
  EXPECT_EQ(movie->selectedTracks[0], 2u);
  EXPECT_EQ(OpenedSoundTrackCount(), 1u);
  // The device of the ringless track was opened and closed again.
  ASSERT_EQ(VirtualDeviceCount(), 2u);
  EXPECT_FALSE(GetVirtualDevice(0).open);
  const SoundTrack& t = movie.track(0);
  EXPECT_EQ(t.eightBit, 1u);
  EXPECT_EQ(t.minWrite, 1408u);
  EXPECT_EQ(t.prefillBytes, 4096u);  // no more than the ring
  EXPECT_EQ(movie.track(1).ops.SoundReady, nullptr);
  EXPECT_EQ(movie.track(1).timeScale, 0x10000u);
  CloseSoundTracks(movie.get());
}

TEST_F(MovieSoundTest, TheRateFollowsAChangedFrameRate) {
  SetSoundSystem(SelectDirectSoundDriver, nullptr);
  HandMovie movie({{kStereo22k, 69120}});
  movie->playRateNum = 50;
  OpenSoundTracks(movie.get());
  ASSERT_EQ(movie->openTrackCount, 1u);
  EXPECT_EQ(GetVirtualDevice(0).format.rate, 44100u);
  EXPECT_EQ(movie.track(0).sampleRate, 44100u);
  EXPECT_EQ(movie.track(0).prefillBytes, 69120u);
  EXPECT_EQ(movie.track(0).endZoneFrame, 2594);  // by the file's frame rate
  CloseSoundTracks(movie.get());
}

TEST_F(MovieSoundTest, WithoutASoundSystemMoviesOpenSilent) {
  HandMovie movie({{kStereo22k, 69120}});
  OpenSoundTracks(movie.get());
  EXPECT_EQ(movie->openTrackCount, 0u);
  EXPECT_EQ(movie->soundOn, 0);
  EXPECT_EQ(VirtualDeviceCount(), 0u);
  EXPECT_EQ(movie.track(0).timeScale, 0x10000u);
  CloseSoundTracks(movie.get());
}

TEST_F(MovieSoundTest, MoviesShareTheSoundThreadWhichEndsWithTheLastOne) {
  SetSoundSystem(SelectWaveOutDriver, nullptr);
  HandMovie first({{kStereo22k, 8192}});
  HandMovie second({{kStereo22k, 8192}});
  OpenSoundTracks(first.get());
  ServiceThread* thread = SoundServiceThread();
  ASSERT_NE(thread, nullptr);
  OpenSoundTracks(second.get());
  EXPECT_EQ(SoundServiceThread(), thread);
  CloseSoundTracks(first.get());
  EXPECT_EQ(SoundServiceThread(), thread);
  CloseSoundTracks(second.get());
  EXPECT_EQ(SoundServiceThread(), nullptr);
  EXPECT_EQ(OpenedSoundTrackCount(), 2u);
}

TEST_F(MovieSoundTest, AnOpenedTrackFixesTheDriverForTheProcess) {
  EXPECT_EQ(SetSoundSystem(nullptr, nullptr), 0);
  EXPECT_EQ(SetSoundSystem(SelectDirectSoundDriver, nullptr), 1);
  EXPECT_EQ(SetSoundSystem(SelectWaveOutDriver, nullptr), 1);  // nothing opened yet
  EXPECT_EQ(InstalledSoundOpen(), BufferQueueSoundOpen);
  EXPECT_EQ(SetSoundSystem(SelectDirectSoundDriver, nullptr), 1);
  EXPECT_EQ(InstalledSoundOpen(), LoopingBufferSoundOpen);

  HandMovie movie({{kStereo22k, 8192}});
  OpenSoundTracks(movie.get());
  ASSERT_EQ(movie->openTrackCount, 1u);
  CloseSoundTracks(movie.get());
  EXPECT_EQ(SetSoundSystem(SelectWaveOutDriver, nullptr), 0);
  EXPECT_EQ(SetSoundSystem(SelectBufferQueueDriver, nullptr), 0);
  EXPECT_EQ(InstalledSoundOpen(), LoopingBufferSoundOpen);
  // A selector's other name is the same selector.
  EXPECT_EQ(SetSoundSystem(SelectLoopingBufferDriver, nullptr), 1);
  // The same selector may run again; one that finds nothing keeps the open.
  SetVirtualFailures(kVirtualFailLoad);
  EXPECT_EQ(SetSoundSystem(SelectDirectSoundDriver, nullptr), 1);
  EXPECT_EQ(InstalledSoundOpen(), LoopingBufferSoundOpen);
}

}  // namespace
}  // namespace kivo
