// SPDX-License-Identifier: BSD-2-Clause
// The container: header checks, table guards, derived values, the writer.
#include <gtest/gtest.h>

#include <cstring>

#include "encode/container_writer.h"
#include "movie/container.h"

namespace kivo {
namespace {

std::vector<uint8_t> MovieWithFrames(uint32_t frames, std::vector<encode::TrackLayout> tracks = {},
                                     uint32_t videoBytes = 224) {
  encode::MovieLayout layout;
  layout.width = 640;
  layout.height = 480;
  layout.rateNum = 3;
  layout.rateDen = 1;
  layout.tracks = std::move(tracks);
  std::vector<encode::FramePacket> packets(frames);
  for (uint32_t i = 0; i < frames; ++i) {
    packets[i].key = i == 0;
    packets[i].video.assign(videoBytes, uint8_t(i));
  }
  return encode::BuildMovie(layout, packets);
}

MovieHeader HeaderOf(const std::vector<uint8_t>& bytes) {
  MovieHeader h;
  ParseMovieHeader(bytes.data(), &h);
  return h;
}

TEST(Container, FirstIndexEntryCountsHeaderTablesAndKeyBit) {
  // 26 frames and no tracks: 44 + 4 * 27 = 152, plus the key bit.
  std::vector<uint8_t> movie = MovieWithFrames(26);
  EXPECT_EQ(ReadLe32(movie.data() + 44), 0x99u);
  MovieHeader h = HeaderOf(movie);
  EXPECT_EQ(h.dataSize + 8, movie.size());
  EXPECT_EQ(h.indexLast, 26u);
  EXPECT_EQ(h.largestFrame, 224u);
  // The last entry is the size of the movie, without a key bit.
  EXPECT_EQ(ReadLe32(movie.data() + 44 + 4 * 26), movie.size());
}

TEST(Container, OneStereoTrackLayout) {
  // 22050 Hz, 16-bit, stereo, DFT coding.
  encode::TrackLayout track{kAudio16Bit | kAudioStereo | kAudioCodingB | 22050, 0, 0};
  EXPECT_EQ(track.audioWord, 0x70005622u);
  encode::MovieLayout layout;
  layout.width = 320;
  layout.height = 240;
  layout.tracks = {track};
  std::vector<encode::FramePacket> packets(2612);
  packets[0].key = true;
  packets[0].audio = {std::vector<uint8_t>(10272)};
  WriteLe32(packets[0].audio[0].data(), 69120);
  packets[0].video.assign(224, 0);
  std::vector<uint8_t> movie = encode::BuildMovie(layout, packets);
  EXPECT_EQ(ReadLe32(movie.data() + 44), 69120u);        // largest decoded bytes
  EXPECT_EQ(ReadLe32(movie.data() + 48), 0x70005622u);   // audio word
  EXPECT_EQ(ReadLe32(movie.data() + 56), 10509u);        // 44 + 12 + 4 * 2613 + 1
  EXPECT_EQ(ReadLe32(movie.data() + 10508), 10272u);     // audio size word of frame 1
  EXPECT_EQ(ReadLe32(movie.data() + 10512), 69120u);
  // A later frame with no audio is its size word and nothing else.
  const uint32_t* index = reinterpret_cast<const uint32_t*>(movie.data() + 56);
  EXPECT_EQ(FrameSize(index, 2), 4u);
  EXPECT_EQ(FrameSize(index, 1), 4u + 10272u + 224u);
}

TEST(Container, PacketsStartAtEvenOffsetsSoKeyBitsStayTrue) {
  encode::MovieLayout layout;
  layout.width = 16;
  layout.height = 16;
  std::vector<encode::FramePacket> packets(5);
  for (size_t i = 0; i < packets.size(); ++i) {
    packets[i].key = i == 0 || i == 3;
    packets[i].video.assign(7 + i, uint8_t(0xA0 + i));  // odd and even sizes
  }
  std::vector<uint8_t> movie = encode::BuildMovie(layout, packets);
  const uint32_t* index = reinterpret_cast<const uint32_t*>(movie.data() + 44);
  for (uint32_t n = 1; n <= 5; ++n) {
    EXPECT_EQ(IsKeyFrame(index, n), packets[n - 1].key) << n;
    EXPECT_EQ(FrameOffset(index, n) % 2, 0u) << n;
    // The video data stands whole at the start of its packet.
    EXPECT_EQ(movie[FrameOffset(index, n)], uint8_t(0xA0 + n - 1)) << n;
    EXPECT_GE(FrameSize(index, n), packets[n - 1].video.size()) << n;
  }
  EXPECT_EQ(index[5], movie.size());
}

TEST(Container, MagicAndFrameCountChecks) {
  std::vector<uint8_t> movie = MovieWithFrames(3);
  EXPECT_EQ(CheckMovieHeader(HeaderOf(movie)), nullptr);
  for (char r : {'f', 'g', 'h'}) {
    movie[3] = uint8_t(r);
    EXPECT_EQ(CheckMovieHeader(HeaderOf(movie)), nullptr) << r;
  }
  for (const char* bad : {"KIVj", "kivi", "KIVI", "KIV\0", "XIVi"}) {
    std::vector<uint8_t> copy = movie;
    memcpy(copy.data(), bad, 4);
    EXPECT_STREQ(CheckMovieHeader(HeaderOf(copy)), "Not a Kivo file.") << bad;
  }
  WriteLe32(movie.data() + 8, 0);
  EXPECT_STREQ(CheckMovieHeader(HeaderOf(movie)), "The file doesn't contain any compressed frames yet.");
}

TEST(Container, TablesAreCheckedAgainstTheSourceBeforeUse) {
  std::vector<uint8_t> movie = MovieWithFrames(3);
  MovieHeader h = HeaderOf(movie);
  EXPECT_EQ(CheckMovieTables(h, movie.size()), nullptr);
  EXPECT_EQ(CheckMovieTables(h, UINT64_MAX), nullptr);
  // An index that runs past the end of the file.
  EXPECT_NE(CheckMovieTables(h, 44 + 4 * 3), nullptr);
  // Absurd counts fail without any allocation, whatever the file size.
  MovieHeader huge = h;
  huge.indexLast = 0x80000000u;
  huge.frameCount = 0x7FFFFFFFu;
  EXPECT_NE(CheckMovieTables(huge, UINT64_MAX), nullptr);
  huge = h;
  huge.trackCount = 0x80000000u;
  EXPECT_NE(CheckMovieTables(huge, UINT64_MAX), nullptr);
  // An index that stops before the end of the last frame would be read past.
  MovieHeader shortIndex = h;
  shortIndex.indexLast = h.frameCount - 1;
  EXPECT_NE(CheckMovieTables(shortIndex, movie.size()), nullptr);
}

TEST(Container, DerivedValues) {
  EXPECT_EQ(RoundedFrameRate(30000, 1001), 30u);
  EXPECT_EQ(RoundedFrameRate(25, 2), 13u);   // 12.5 rounds up
  EXPECT_EQ(RoundedFrameRate(1, 3), 1u);     // 0 becomes 1
  EXPECT_EQ(RevisionFlags('f'), 0x18000u);
  EXPECT_EQ(RevisionFlags('g'), 0x18000u);
  EXPECT_EQ(RevisionFlags('h'), 0x8000u);
  EXPECT_EQ(RevisionFlags('i'), 0u);

  // Peak over R consecutive frames, the first on ties; entries with key bits.
  uint32_t index[] = {101, 200, 300, 450, 550, 650};  // 5 frames
  PeakDataRate peak = ComputePeakDataRate(index, 5, 2);
  EXPECT_EQ(peak.rate, 250u);  // 450 - 200
  EXPECT_EQ(peak.frame, 1u);
  // Too few frames for the window: the average scaled to R.
  peak = ComputePeakDataRate(index, 5, 5);
  EXPECT_EQ(peak.rate, (650u - 101u) * 5u / 5u);
  EXPECT_EQ(peak.frame, 0u);
  EXPECT_FALSE(AllKeyFrames(index, 5));
  uint32_t keys[] = {101, 201, 301, 400};
  EXPECT_TRUE(AllKeyFrames(keys, 3));
}

}  // namespace
}  // namespace kivo
