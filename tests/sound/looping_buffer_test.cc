// SPDX-License-Identifier: BSD-2-Clause
// The looping-buffer driver on the virtual looping device and clock: its
// sizes, the initial fill and start, the room kept ahead of the play cursor,
// data running low followed by silence, an overtaken buffer re-primed, implausible
// cursors, lost buffers, starts the device did not take, pausing, switching
// off and on, volume and pan, the shared device object, and delivery.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/clock.h"
#include "movie/movie_sound.h"
#include "sound/sound_drivers.h"
#include "sound_test_support.h"
#include "support/virtual_clock.h"

namespace kivo {
namespace {

using test::HandMovie;
using test::Pattern;

struct LoopingBufferTest : test::VirtualSoundTest {
  HandMovie movie{{{0x70005622, 69120}, {0x70005622, 69120}}};
  SoundTrack& Track() { return movie.track(0); }
  LoopDriverState& State() { return movie.track(0).state.loop; }
  int32_t Ready() { return Track().ops.SoundReady(&Track()); }
  void TearDown() override {
    movie.Close();
    EXPECT_EQ(LoopingObjectUsers(), 0u);
    VirtualSoundTest::TearDown();
  }
  // Opens track 0 and plays it from a full initial fill; the buffer then
  // holds pattern bytes 0..53247 and the cursor is at 0.
  void OpenAndStart() {
    ASSERT_TRUE(movie.Open(0, LoopingBufferSoundOpen, 22050, 16, 2));
    movie.Append(0, Pattern(53248));
    movie->currentFrame = 2612;  // the end zone: the whole ring goes
    SoundService(movie.get());
    movie->currentFrame = 2;
    ASSERT_EQ(State().playing, 1u);
  }
  void SetCursor(uint32_t position) { FindSoundDevice("virtual")->loop->SetPosition(State().soundBuffer, position); }
  // The device buffer's bytes.
  std::vector<uint8_t> Buffer() {
    void *r1, *r2;
    uint32_t n1, n2;
    const LoopDevice* d = FindSoundDevice("virtual")->loop;
    EXPECT_EQ(d->Lock(State().soundBuffer, 0, State().secondarySize, &r1, &n1, &r2, &n2), kLoopOk);
    std::vector<uint8_t> bytes(static_cast<uint8_t*>(r1), static_cast<uint8_t*>(r1) + n1);
    d->Unlock(State().soundBuffer, r1, n1, r2, n2);
    return bytes;
  }
};

TEST_F(LoopingBufferTest, SizesFollowTheFormat) {
  ASSERT_TRUE(movie.Open(0, LoopingBufferSoundOpen, 22050, 16, 2));
  EXPECT_EQ(State().secondarySize, 53248u);
  EXPECT_EQ(State().chunk, 4608u);
  EXPECT_EQ(State().refillLimit, 47923u);
  EXPECT_EQ(Track().minWrite, 4608u);
  EXPECT_EQ(State().initialAmount, 53248u);
  EXPECT_EQ(State().allowance, 53248u);
  EXPECT_NE(Track().ops.SoundSetSpeakers, nullptr);
  // Opened silent, at its rate, full volume, centred.
  const std::vector<uint8_t> buffer = Buffer();
  EXPECT_TRUE(test::AllZero(buffer, 0, buffer.size()));
  const VirtualDeviceInfo info = GetVirtualDevice(0);
  EXPECT_EQ(info.frequency, 22050u);
  EXPECT_EQ(info.volume, 0);
  EXPECT_EQ(info.pan, 0);
  EXPECT_FALSE(info.playing);

  ASSERT_TRUE(movie.Open(1, LoopingBufferSoundOpen, 44100, 16, 1));
  EXPECT_EQ(movie.track(1).state.loop.secondarySize, 53248u);
  EXPECT_EQ(movie.track(1).state.loop.chunk, 4608u);
  movie.Close();

  ASSERT_TRUE(movie.Open(0, LoopingBufferSoundOpen, 11025, 8, 1));
  EXPECT_EQ(State().secondarySize, 7168u);
  EXPECT_EQ(State().chunk, 768u);
  EXPECT_EQ(Track().minWrite, 1536u);
  EXPECT_EQ(Buffer()[7000], 0x80);
}

TEST_F(LoopingBufferTest, AShortMovieFillsOnlyItsWholeSoundBeforeStarting) {
  HandMovie shortMovie({{0x70005622, 20480}}, 5);
  ASSERT_TRUE(shortMovie.Open(0, LoopingBufferSoundOpen, 22050, 16, 2, 20480));
  EXPECT_EQ(shortMovie.track(0).state.loop.initialAmount, 17640u);
  shortMovie.Append(0, Pattern(17640));
  SoundService(shortMovie.get());
  EXPECT_EQ(shortMovie.track(0).state.loop.playing, 1u);
  test::AdvanceClock(150);
  const std::vector<uint8_t> played = capture.Played(0);
  EXPECT_EQ(played.size(), 88200u * 150 / 1000);
  EXPECT_TRUE(std::equal(played.begin(), played.end(), Pattern(17640).begin()));
  shortMovie.Close();
}

TEST_F(LoopingBufferTest, TheInitialFillStartsPlaybackWhenItsAllowanceIsUsedUp) {
  ASSERT_TRUE(movie.Open(0, LoopingBufferSoundOpen, 22050, 16, 2));
  movie.Append(0, Pattern(30000));
  SoundService(movie.get());
  EXPECT_EQ(State().playing, 0u);
  EXPECT_EQ(State().allowance, 53248u - 30000);
  EXPECT_EQ(State().writePos, 30000u);
  EXPECT_EQ(GetVirtualDevice(0).playCalls, 0u);
  movie.Append(0, Pattern(30000, 9));
  SoundService(movie.get());
  EXPECT_EQ(State().playing, 1u);
  EXPECT_EQ(GetVirtualDevice(0).playCalls, 1u);
  EXPECT_EQ(State().writePos, 0u);
  EXPECT_EQ(Track().ringBuffered, 60000u - 53248);  // nothing has played yet
}

TEST_F(LoopingBufferTest, RoomIsTheBytesPlayedBehindTheDataLessTheKilobyteAheadOfTheCursor) {
  OpenAndStart();
  SetCursor(1023);
  EXPECT_EQ(Ready(), 0);
  SetCursor(1024 + 4604);  // less than a chunk, and the last allowance used up
  EXPECT_EQ(Ready(), 0);
  SetCursor(1024 + 4608 + 3);
  EXPECT_EQ(Ready(), 1);
  EXPECT_EQ(State().allowance, 4608u);
  // While an allowance is left a smaller room is still handed out.
  SetCursor(1024 + 4608 + 100);
  EXPECT_EQ(Ready(), 1);
  EXPECT_EQ(State().allowance, 4708u);
  EXPECT_EQ(Track().soundSkipped, 0u);
}

TEST_F(LoopingBufferTest, AServiceAbsentTooLongRaisesTheSkipAndSilencesHalfABuffer) {
  OpenAndStart();
  SetVirtualSpeed(0);  // the cursors stand still: only the time counts
  test::AdvanceClock(539);
  EXPECT_EQ(Ready(), 0);
  EXPECT_EQ(Track().soundSkipped, 0u);
  // 800 ms after that look the device could have played the whole buffer
  // (a tenth of a second late at that), and the cursor cannot tell one lap
  // from the next.
  test::AdvanceClock(800);
  const uint32_t w = 880;  // the virtual write cursor runs 10 ms ahead
  EXPECT_EQ(Ready(), 1);
  EXPECT_EQ(Track().soundSkipped, 1u);
  // The next data goes at the write cursor, silence behind it.
  EXPECT_EQ(State().writePos, w);
  const std::vector<uint8_t> buffer = Buffer();
  const std::vector<uint8_t> pcm = Pattern(53248);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + w, pcm.begin()));
  EXPECT_TRUE(test::AllZero(buffer, w, w + 26624));
  EXPECT_TRUE(std::equal(buffer.begin() + w + 26624, buffer.end(), pcm.begin() + w + 26624));
  EXPECT_EQ(State().allowance, 53248u - w - 1024);
  // The next call finds the reckoning restarted: no second re-prime.
  Track().soundSkipped = 0;
  EXPECT_EQ(Ready(), 1);
  EXPECT_EQ(Track().soundSkipped, 0u);
  EXPECT_EQ(State().writePos, w);
}

TEST_F(LoopingBufferTest, DataRunningLowGetsSilenceBehindItAndRunningOutIsASkip) {
  OpenAndStart();
  // Served every 40 ms but given nothing.
  uint32_t ms = 0;
  while (Track().soundSkipped == 0 && ms < 1000) {
    test::AdvanceClock(40);
    ms += 40;
    SoundService(movie.get());
    if (ms == 560) {
      // Past refillLimit: the data still playing stays, silence follows it.
      EXPECT_EQ(Track().soundSkipped, 0u);
      const std::vector<uint8_t> buffer = Buffer();
      const std::vector<uint8_t> pcm = Pattern(53248);
      EXPECT_TRUE(std::equal(buffer.begin() + 49392, buffer.end(), pcm.begin() + 49392));
      EXPECT_TRUE(test::AllZero(buffer, 0, 26624));
      EXPECT_EQ(State().writePos, 0u);
    }
  }
  // The skip comes with the first look after the last byte played (603 ms).
  EXPECT_EQ(Track().soundSkipped, 1u);
  EXPECT_EQ(ms, 640u);
  const uint32_t w = (56448 + 880) % 53248;
  EXPECT_EQ(State().writePos, w);
  EXPECT_TRUE(test::AllZero(Buffer(), 0, w + 26624));
}

TEST_F(LoopingBufferTest, AServiceHeldUpPastTheEndOfTheDataLetsItPlaySilenceNotOldSound) {
  OpenAndStart();
  // Fed at half the rate it plays for a while, then the service is held up
  // for longer than the data lasts (less than a lap), as on a loaded machine.
  const std::vector<uint8_t> more = Pattern(1764 * 10, 7);
  for (uint32_t k = 0; k < 10; ++k) {
    test::AdvanceClock(40);
    movie.Append(0, std::vector<uint8_t>(more.begin() + 1764 * k, more.begin() + 1764 * (k + 1)));
    SoundService(movie.get());
  }
  test::AdvanceClock(500);
  const std::vector<uint8_t> played = capture.Played(0);
  ASSERT_GT(played.size(), 53248u);
  size_t same = 0;
  while (53248 + same < played.size() && same < more.size() && played[53248 + same] == more[same]) ++same;
  EXPECT_GT(same, 0u);
  EXPECT_TRUE(test::AllZero(played, 53248 + same, played.size())) << "old sound after " << same << " new bytes";
}

TEST_F(LoopingBufferTest, AfterRunningDryNewDataIsHeardAtOnceWithOrWithoutAWriteLead) {
  for (const uint32_t lead : {0u, kVirtualNoWriteLead}) {
    SCOPED_TRACE(lead);
    OpenAndStart();
    SetVirtualWriteLead(lead);
    for (int i = 0; i < 20 && !State().dry; ++i) {
      test::AdvanceClock(40);
      SoundService(movie.get());
    }
    ASSERT_EQ(State().dry, 1u);
    const size_t before = capture.Played(0).size();
    const std::vector<uint8_t> pcm = Pattern(8820, 7);
    movie.Append(0, pcm);
    SoundService(movie.get());
    EXPECT_EQ(State().dry, 0u);
    test::AdvanceClock(120);
    SoundService(movie.get());
    // Within 120 ms the device played the new sound, not silence only.
    const std::vector<uint8_t> played = capture.Played(0);
    const std::vector<uint8_t> after(played.begin() + long(before), played.end());
    EXPECT_GE(test::Find(after, std::vector<uint8_t>(pcm.begin(), pcm.begin() + 1024)), 0);
    movie.Close();
    ResetVirtualSound();
    capture.bytes.clear();
    capture.runs.clear();
    capture.Attach();
  }
}

TEST_F(LoopingBufferTest, ImplausibleCursorReadingsAreIgnored) {
  OpenAndStart();
  SetVirtualWriteLead(30000);  // the write cursor leaps alone
  EXPECT_EQ(Ready(), 0);
  EXPECT_EQ(State().lastWrite, 880u);
  SetVirtualWriteLead(1000);
  SetCursor(10000);
  EXPECT_EQ(Ready(), 1);
  EXPECT_EQ(State().lastWrite, 11000u);
}

TEST_F(LoopingBufferTest, LostBuffersAreRestoredAndTheLockRetried) {
  ASSERT_TRUE(movie.Open(0, LoopingBufferSoundOpen, 22050, 16, 2));
  movie.Append(0, Pattern(10000));
  LoseVirtualBuffers(3);
  const uint32_t before = GetMilliseconds();
  SoundService(movie.get());
  EXPECT_EQ(State().writePos, 10000u);
  EXPECT_GE(GetMilliseconds() - before, 30u);  // 10 ms before each retry
}

TEST_F(LoopingBufferTest, AStartTheDeviceDidNotTakeIsIssuedAgainAfter50Ms) {
  OpenAndStart();
  test::AdvanceClock(200);
  PauseSoundTracks(movie.get(), 1);
  IgnoreVirtualPlays(1);
  const uint32_t before = GetMilliseconds();
  PauseSoundTracks(movie.get(), 0);
  const VirtualDeviceInfo info = GetVirtualDevice(0);
  EXPECT_EQ(info.playCalls, 3u);
  EXPECT_TRUE(info.playing);
  // 51 ms standing still, then going on as soon as the cursor moves.
  EXPECT_GE(GetMilliseconds() - before, 51u);
  EXPECT_LE(GetMilliseconds() - before, 55u);
}

TEST_F(LoopingBufferTest, PauseStopsTheBufferAndResumeGoesOnAtOnce) {
  OpenAndStart();
  test::AdvanceClock(200);
  PauseSoundTracks(movie.get(), 1);
  EXPECT_FALSE(GetVirtualDevice(0).playing);
  EXPECT_EQ(Ready(), 0);
  const uint32_t stoppedAt = GetVirtualDevice(0).playCursor;
  EXPECT_EQ(stoppedAt, 17640u);
  test::AdvanceClock(5000);
  EXPECT_EQ(GetVirtualDevice(0).playCursor, stoppedAt);
  const uint32_t before = GetMilliseconds();
  PauseSoundTracks(movie.get(), 0);
  EXPECT_TRUE(GetVirtualDevice(0).playing);
  EXPECT_EQ(State().devicePaused, 0u);
  // From where it stopped, without waiting for the cursor to come round
  // (the sound would play while the picture waited).
  EXPECT_LE(GetMilliseconds() - before, 2u);
  EXPECT_GT(State().lastPlay, stoppedAt);
  EXPECT_LT(State().lastPlay, stoppedAt + 400);
  // Five seconds of pause do not count as played: no re-prime.
  EXPECT_EQ(Ready(), 1);
  EXPECT_EQ(Track().soundSkipped, 0u);
  // A cursor that never moves does not hold the resume for ever.
  PauseSoundTracks(movie.get(), 1);
  SetVirtualSpeed(0);
  const uint32_t stuck = GetMilliseconds();
  PauseSoundTracks(movie.get(), 0);
  EXPECT_GE(GetMilliseconds() - stuck, 1000u);
  EXPECT_LT(GetMilliseconds() - stuck, 1100u);
}

TEST_F(LoopingBufferTest, OffStopsRewindsAndSilencesAndOnStartsAsAfterOpen) {
  OpenAndStart();
  test::AdvanceClock(100);
  EXPECT_EQ(SwitchSound(movie.get(), 0), 0);
  const VirtualDeviceInfo off = GetVirtualDevice(0);
  EXPECT_FALSE(off.playing);
  EXPECT_EQ(off.playCursor, 0u);
  const std::vector<uint8_t> buffer = Buffer();
  EXPECT_TRUE(test::AllZero(buffer, 0, buffer.size()));
  EXPECT_EQ(Ready(), 0);
  EXPECT_EQ(SwitchSound(movie.get(), 1), 1);
  EXPECT_EQ(State().playing, 0u);
  EXPECT_EQ(State().writePos, 0u);
  EXPECT_EQ(State().allowance, 53248u);
  // The prefill silence is the start of the new fill.
  EXPECT_EQ(Track().ringBuffered, 66148u);
  SoundService(movie.get());
  EXPECT_EQ(State().playing, 1u);
}

TEST_F(LoopingBufferTest, VolumeAndPanGoThroughTheDecibelTable) {
  EXPECT_EQ(LoopingVolumeLevel(0), -10000);
  EXPECT_EQ(LoopingVolumeLevel(1), -4208);
  EXPECT_EQ(LoopingVolumeLevel(64), -595);
  EXPECT_EQ(LoopingVolumeLevel(127), 0);
  EXPECT_EQ(LoopingPanLevel(0), -10000);
  EXPECT_EQ(LoopingPanLevel(0x8000), 0);
  EXPECT_EQ(LoopingPanLevel(0x10000), 10000);
  EXPECT_EQ(LoopingPanLevel(0x7FFF), 0);  // -7 lies in the band around 0
  EXPECT_EQ(LoopingPanLevel(0x4000), LoopingVolumeLevel(64));

  ASSERT_TRUE(movie.Open(0, LoopingBufferSoundOpen, 22050, 16, 2));
  SoundTrack& t = Track();
  t.ops.SoundSetVolume(&t, 0);
  EXPECT_EQ(GetVirtualDevice(0).volume, -10000);
  t.ops.SoundSetVolume(&t, 0x10000);
  EXPECT_EQ(State().volume, 0x7FFFu);
  EXPECT_EQ(GetVirtualDevice(0).volume, 0);
  t.ops.SoundSetPan(&t, 0);
  EXPECT_EQ(GetVirtualDevice(0).pan, -10000);
  t.ops.SoundSetPan(&t, 0x10000);
  EXPECT_EQ(GetVirtualDevice(0).pan, 10000);
  const uint32_t speakers[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  const uint32_t volumes[10] = {0, 0x7FFF, 0x4000, 0, 0, 0, 0, 0, 0, 0};
  t.ops.SoundSetSpeakerVolumes(&t, speakers, volumes, 10);
  EXPECT_EQ(State().speakerVolumeCount, 8u);
  EXPECT_EQ(State().speakerLevels[0], -10000);
  EXPECT_EQ(State().speakerLevels[1], 0);
  EXPECT_EQ(State().speakerLevels[2], LoopingVolumeLevel(0x4000 * 127 / 32767));
}

TEST_F(LoopingBufferTest, TheSelectorProvesTheDeviceAndTracksShareOneObject) {
  SetVirtualFailures(kVirtualFailLoad);
  EXPECT_EQ(SelectDirectSoundDriver(nullptr), nullptr);
  EXPECT_EQ(SetSoundSystem(SelectDirectSoundDriver, nullptr), 0);
  SetVirtualFailures(kVirtualFailOpen);
  EXPECT_EQ(SelectDirectSoundDriver(nullptr), nullptr);
  EXPECT_EQ(LoopingObjectUsers(), 0u);
  SetVirtualFailures(0);

  EXPECT_EQ(SelectDirectSoundDriver(nullptr), LoopingBufferSoundOpen);
  EXPECT_EQ(VirtualObjectsCreated(), 1u);
  EXPECT_EQ(VirtualObjectsHeld(), 0u);  // made and given back as a test
  EXPECT_EQ(LoopingObjectHeld(), 0);

  ASSERT_TRUE(movie.Open(0, LoopingBufferSoundOpen, 22050, 16, 2));
  ASSERT_TRUE(movie.Open(1, LoopingBufferSoundOpen, 22050, 16, 2));
  EXPECT_EQ(VirtualObjectsCreated(), 2u);
  EXPECT_EQ(LoopingObjectUsers(), 2u);
  EXPECT_EQ(VirtualPrimaryFormats(), 1u);  // once, after the cooperative level
  // A different object is refused while the tracks use this one.
  int callersObject = 0;
  EXPECT_EQ(SelectDirectSoundDriver(&callersObject), nullptr);
  EXPECT_EQ(SelectDirectSoundDriver(nullptr), LoopingBufferSoundOpen);
  EXPECT_EQ(VirtualObjectsCreated(), 2u);
  movie.track(0).ops.SoundClose(&movie.track(0));
  EXPECT_EQ(VirtualObjectsHeld(), 1u);
  movie.track(1).ops.SoundClose(&movie.track(1));
  movie->openTrackCount = 0;
  EXPECT_EQ(VirtualObjectsHeld(), 0u);
  EXPECT_EQ(LoopingObjectUsers(), 0u);

  // A failed open gives back its use of the object.
  SetVirtualFailures(kVirtualFailBuffer);
  EXPECT_FALSE(movie.Open(0, LoopingBufferSoundOpen, 22050, 16, 2));
  EXPECT_EQ(LoopingObjectUsers(), 0u);
  EXPECT_EQ(VirtualObjectsHeld(), 0u);
  // Without the cooperative level the output's format is left alone.
  const uint32_t formats = VirtualPrimaryFormats();
  SetVirtualFailures(kVirtualFailCooperation);
  ASSERT_TRUE(movie.Open(0, LoopingBufferSoundOpen, 22050, 16, 2));
  EXPECT_EQ(VirtualPrimaryFormats(), formats);
}

TEST_F(LoopingBufferTest, ACallersObjectIsUsedUnchanged) {
  int callersObject = 0;
  EXPECT_EQ(SelectDirectSoundDriver(&callersObject), LoopingBufferSoundOpen);
  ASSERT_TRUE(movie.Open(0, LoopingBufferSoundOpen, 22050, 16, 2));
  EXPECT_EQ(VirtualObjectsCreated(), 0u);
  EXPECT_EQ(VirtualPrimaryFormats(), 0u);
  EXPECT_EQ(SelectDirectSoundDriver(nullptr), nullptr);  // in use: kept
  movie.Close();
  EXPECT_EQ(SelectDirectSoundDriver(nullptr), LoopingBufferSoundOpen);
  EXPECT_EQ(VirtualObjectsCreated(), 1u);
}

TEST_F(LoopingBufferTest, SteadyFeedingDeliversThePcmInOrderWithoutGaps) {
  ASSERT_TRUE(movie.Open(0, LoopingBufferSoundOpen, 22050, 16, 2));
  const std::vector<uint8_t> pcm = Pattern(3528 * 150);
  for (uint32_t frame = 0; frame < 150; ++frame) {
    movie.Append(0, std::vector<uint8_t>(pcm.begin() + frame * 3528, pcm.begin() + (frame + 1) * 3528));
    SoundService(movie.get());
    test::AdvanceClock(40);
  }
  const std::vector<uint8_t> played = capture.Played(0);
  EXPECT_EQ(Track().soundSkipped, 0u);
  ASSERT_GT(played.size(), 3528u * 120);
  EXPECT_TRUE(std::equal(played.begin(), played.end(), pcm.begin()));
}

}  // namespace
}  // namespace kivo
