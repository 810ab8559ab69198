// Movies with sound played through the whole frame cycle on the virtual
// devices and clock, under both drivers: the device receives exactly the
// decoded PCM of the track, in order; a device starved on purpose gives one
// counted sound skip, the re-buffering, and playback going on in step.
#include <gtest/gtest.h>

#include <algorithm>

#include "audio/audio_decoder.h"
#include "encode/container_writer.h"
#include "movie/clock.h"
#include "movie/movie_api.h"
#include "sound/sound_drivers.h"
#include "sound/sound_system.h"
#include "sound_test_support.h"
#include "support/virtual_clock.h"

namespace kivo {
namespace {

using test::Pattern;

// 22050 Hz stereo DCT blocks give 3840 bytes, 960 sample frames: at 735/32
// frames per second one block is exactly one frame.
constexpr uint32_t kTrackWord = 0x70005622;
constexpr uint32_t kBlockBytes = 3840;
constexpr uint32_t kLeadBlocks = 8;

struct SoundMovie {
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> pcm;                // what the track decodes to
  std::vector<size_t> frameStart;          // where each frame's PCM begins in it
};

void Collect(void* context, const int16_t* samples, uint32_t n) {
  auto* out = static_cast<std::vector<uint8_t>*>(context);
  const uint8_t* p = reinterpret_cast<const uint8_t*>(samples);
  out->insert(out->end(), p, p + n);
}

SoundMovie MakeSoundMovie(uint32_t frames) {
  encode::MovieLayout layout;
  layout.width = 64;
  layout.height = 48;
  layout.rateNum = 735;
  layout.rateDen = 32;
  layout.tracks.push_back({kTrackWord, 0, 0});
  std::vector<encode::FramePacket> packets(frames);
  AudioDecoder* decoder = OpenAudioDecoder(22050, 2, 1);
  SoundMovie movie;
  for (uint32_t f = 0; f < frames; ++f) {
    encode::FramePacket& p = packets[f];
    p.key = f % 10 == 0;
    p.video.assign(200, static_cast<uint8_t>(f));
    const uint32_t blocks = f == 0 ? kLeadBlocks : 1;
    std::vector<uint8_t> audio = Pattern(4 + blocks * 240, f + 3);
    const uint32_t decoded = blocks * kBlockBytes;
    for (int b = 0; b < 4; ++b) audio[b] = static_cast<uint8_t>(decoded >> (8 * b));
    movie.frameStart.push_back(movie.pcm.size());
    DecodeAudioChunk(decoder, audio.data(), static_cast<uint32_t>(audio.size()), Collect, &movie.pcm);
    p.audio.push_back(audio);
  }
  CloseAudioDecoder(decoder);
  movie.bytes = encode::BuildMovie(layout, packets);
  return movie;
}

struct MoviePlayTest : test::VirtualSoundTest, ::testing::WithParamInterface<bool> {
  bool queue() const { return GetParam(); }
  void SetUp() override {
    VirtualSoundTest::SetUp();
    ASSERT_EQ(SetSoundSystem(queue() ? SelectWaveOutDriver : SelectDirectSoundDriver, nullptr), 1);
  }
  // One turn of the cycle: wait until the frame is due, decode it, step on.
  void PlayFrame(Movie* m, bool step = true) {
    while (WaitFrame(m)) test::AdvanceClock(1);
    DoFrame(m);
    if (step) NextFrame(m);
  }
  // The end: the service runs on while the device plays out.
  void PlayOut(Movie* m) {
    for (int i = 0; i < 100; ++i) {
      WaitFrame(m);
      test::AdvanceClock(20);
    }
  }
};

TEST_P(MoviePlayTest, TheDeviceGetsExactlyTheDecodedPcmInOrder) {
  const SoundMovie sm = MakeSoundMovie(120);
  // Sound, not silence: a third of the bytes at least are not zero.
  ASSERT_LT(std::count(sm.pcm.begin(), sm.pcm.end(), 0), static_cast<long>(sm.pcm.size() * 2 / 3));
  Movie* m = OpenMovie(sm.bytes.data(), kOpenMemory);
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(m->openTrackCount, 1u);
  for (uint32_t f = 1; f <= 120; ++f) PlayFrame(m, f < 120);
  PlayOut(m);
  EXPECT_EQ(m->soundSkips, 0u);
  const std::vector<uint8_t> played = capture.Played(0);
  ASSERT_GE(played.size(), sm.pcm.size());
  // The queue plays what it was given and stops; the looping buffer goes on
  // round its stale bytes after the end, which the movie's close cuts off.
  if (queue()) {
    EXPECT_EQ(played.size(), sm.pcm.size());
  }
  EXPECT_TRUE(std::equal(sm.pcm.begin(), sm.pcm.end(), played.begin()));
  CloseMovie(m);
  EXPECT_FALSE(GetVirtualDevice(0).open);
}

TEST_P(MoviePlayTest, AStarvedDeviceGivesOneSoundSkipThenPlaysOnInStep) {
  const SoundMovie sm = MakeSoundMovie(120);
  Movie* m = OpenMovie(sm.bytes.data(), kOpenMemory);
  ASSERT_NE(m, nullptr);
  for (uint32_t f = 1; f <= 40; ++f) PlayFrame(m, f < 40);
  // The foreground stalls for two seconds: nothing is decoded, the device
  // plays out everything it had.
  test::AdvanceClock(2000);
  WaitFrame(m);  // the service finds the output dry
  NextFrame(m);
  EXPECT_EQ(m->soundSkips, 1u);
  EXPECT_EQ(m->soundOn, 1);
  const uint32_t restart = GetMilliseconds();
  for (uint32_t f = 41; f <= 120; ++f) PlayFrame(m, f < 120);
  // 80 frames of 32/735 s from the restart, give or take the waits' steps.
  const uint32_t took = GetMilliseconds() - restart;
  EXPECT_GE(took, 79u * 32000 / 735);
  EXPECT_LE(took, 80u * 32000 / 735 + 50);
  PlayOut(m);
  EXPECT_EQ(m->soundSkips, 1u);
  // After the skip: the prefill silence (the whole ring), then the sound of
  // every frame decoded since, without a gap.
  std::vector<uint8_t> after(m->soundTracks[0].ringSize, 0);
  after.insert(after.end(), sm.pcm.begin() + static_cast<long>(sm.frameStart[40]), sm.pcm.end());
  const std::vector<uint8_t> played = capture.Played(queue() ? 1 : 0);
  EXPECT_GE(test::Find(played, after), 0);
  CloseMovie(m);
}

INSTANTIATE_TEST_SUITE_P(BothDrivers, MoviePlayTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& p) {
                           return p.param ? "BufferQueue" : "LoopingBuffer";
                         });

}  // namespace
}  // namespace kivo
