// SPDX-License-Identifier: BSD-2-Clause
// Packets decoded where they lie in the read-ahead ring: the pictures and a
// track's sound come out the same as from packets copied out of the file,
// while the frame cycle and the reader thread read ahead around them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "base/error_text.h"
#include "encode/encoder.h"
#include "kivo/audio.h"
#include "movie/container.h"
#include "movie/movie.h"
#include "movie/movie_api.h"
#include "movie/settings.h"
#include "platform/platform.h"
#include "support/test_movies.h"

namespace kivo {
namespace {

constexpr uint32_t kWidth = 64, kHeight = 48, kFrames = 60;

// A picture with a moving bar over a still pattern, so packets differ in size.
encode::SourcePicture Picture(uint32_t frame) {
  encode::SourcePicture p;
  p.width = kWidth;
  p.height = kHeight;
  const uint32_t cw = encode::SourceChromaWidth(kWidth), ch = encode::SourceChromaHeight(kHeight);
  p.luma.resize(size_t(kWidth) * kHeight);
  p.cr.resize(size_t(cw) * ch);
  p.cb.resize(size_t(cw) * ch);
  const uint32_t bar = (frame * 5) % kWidth;
  for (uint32_t y = 0; y < kHeight; ++y)
    for (uint32_t x = 0; x < kWidth; ++x) {
      const bool inBar = x >= bar && x < bar + 8 + frame % 17;
      p.luma[y * kWidth + x] = uint8_t(inBar ? 1 + (x * 13 + y * 7 + frame * 3) % 250 : 16 + (x / 8 + y / 8) * 9);
    }
  for (uint32_t i = 0; i < p.cr.size(); ++i) {
    p.cr[i] = uint8_t(100 + (i + frame) % 60);
    p.cb[i] = uint8_t(90 + (i * 3) % 50);
  }
  return p;
}

std::vector<uint8_t> MovieWithSound(bool* withSound) {
  encode::EncoderSettings s;
  s.width = kWidth;
  s.height = kHeight;
  encode::VideoEncoder encoder;
  std::string error;
  EXPECT_TRUE(encode::OpenVideoEncoder(encoder, s, &error)) << error;
  encode::MovieLayout layout;
  layout.width = kWidth;
  layout.height = kHeight;
  std::vector<encode::FramePacket> packets(kFrames);
  for (uint32_t f = 0; f < kFrames; ++f)
    EXPECT_TRUE(encode::EncodeVideoFrame(encoder, Picture(f), f % 20 == 0, packets[f].video, &packets[f].key, &error))
        << error;

  *withSound = encode::AudioCodingAvailable();
  if (*withSound) {
    encode::AudioTrackSettings track;
    track.rate = 11025;
    track.channels = 1;
    const uint32_t samples = track.rate * kFrames / 25;
    std::vector<int16_t> input(samples);
    for (uint32_t i = 0; i < samples; ++i) input[i] = int16_t(6000 * std::sin(i * 0.07) + 2000 * std::sin(i * 0.31));
    std::vector<std::vector<uint8_t>> audio;
    EXPECT_TRUE(encode::EncodeAudio(track, input.data(), samples, kFrames, 25, 1, audio, &error)) << error;
    layout.tracks.push_back({track.rate | kAudio16Bit | kAudioCodingA, 5, 0});
    for (uint32_t f = 0; f < kFrames && f < audio.size(); ++f) packets[f].audio = {audio[f]};
  }
  return encode::BuildMovie(layout, packets);
}

void CollectPcm(void* context, const int16_t* samples, uint32_t bytes) {
  auto* out = static_cast<std::vector<int16_t>*>(context);
  out->insert(out->end(), samples, samples + bytes / 2);
}

struct Player {
  Movie* movie = nullptr;
  TrackDecoder* track = nullptr;
  std::vector<int16_t> pcm;
  ~Player() {
    CloseTrackDecoder(track);
    CloseMovie(movie);
  }
};

bool InRing(const Movie* m) {
  return m->frameData >= m->readBlock && m->frameData < m->readBlock + m->readBufferSize;
}

TEST(InPlaceFrames, DecodedFromTheRingAsFromCopiesWhileTheRingIsToppedUpAroundThem) {
  bool withSound = false;
  const std::string path = test::WriteTestFile("in_place_frames.kiv", MovieWithSound(&withSound));

  // Three chunks of ring for packets of 1 to 5 KB: many wrap, all lent ones
  // sit beside the chunks being read.
  Player lent, copied;
  SetReadBufferSize(3 * 4096);
  lent.movie = OpenMovie(path.c_str(), kOpenBufferSize);
  ASSERT_NE(lent.movie, nullptr) << GetErrorText();
  // No ring at all: every packet is read from the file into the frame buffer.
  SetReadBufferSize(0);
  copied.movie = OpenMovie(path.c_str(), kOpenBufferSize);
  ASSERT_NE(copied.movie, nullptr) << GetErrorText();
  ASSERT_EQ(lent.movie->readBufferSize, 3u * 4096);
  ASSERT_EQ(copied.movie->readBufferSize, 0u);
  if (withSound) {
    lent.track = OpenTrackDecoder(lent.movie, 5);
    copied.track = OpenTrackDecoder(copied.movie, 5);
    ASSERT_NE(lent.track, nullptr);
  }

  const PlaneSet& a = lent.movie->planes;
  const PlaneSet& b = copied.movie->planes;
  const size_t frameBytes = size_t(a.pitch) * a.rows + 2 * size_t(a.chromaPitch) * a.chromaRows;
  int inRing = 0, inBuffer = 0;
  for (uint32_t step = 0; step < 2 * kFrames + 15; ++step) {  // twice round and a bit
    const uint32_t frame = lent.movie->currentFrame;
    ASSERT_EQ(copied.movie->currentFrame, frame);
    ASSERT_EQ(copied.movie->frameData, copied.movie->frameBuffer);
    if (InRing(lent.movie))
      ++inRing;
    else if (lent.movie->frameData == lent.movie->frameBuffer)
      ++inBuffer;
    else
      ADD_FAILURE() << "frame " << frame << " is neither in the ring nor in the frame buffer";
    for (Player* p : {&lent, &copied})
      if (p->track) DecodeTrackAudio(p->track, p->movie, CollectPcm, &p->pcm);
    ASSERT_EQ(DoFrame(lent.movie), 0) << "frame " << frame;
    ASSERT_EQ(DoFrame(copied.movie), 0) << "frame " << frame;
    ASSERT_EQ(memcmp(a.frameBuffers[a.current], b.frameBuffers[b.current], frameBytes), 0) << "frame " << frame;
    // Now and then the reader thread gets time to top the ring up while the
    // packet is still lent.
    if (step % 40 == 7) os::SleepMs(250);
    NextFrame(lent.movie);
    NextFrame(copied.movie);
  }
  EXPECT_GT(inRing, int(kFrames));
  EXPECT_GT(inBuffer, 5);
  EXPECT_EQ(lent.movie->readError, 0);
  if (withSound) {
    EXPECT_GT(lent.pcm.size(), 11025u);
    EXPECT_TRUE(lent.pcm == copied.pcm);
  }
}

}  // namespace
}  // namespace kivo
