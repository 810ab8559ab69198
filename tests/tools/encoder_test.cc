// SPDX-License-Identifier: BSD-2-Clause
// The first coding through the real decoder, and the streaming movie writer
// against the in-memory one.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include "encode/decode_harness.h"
#include "encode/encoder.h"
#include "encode/movie_file_writer.h"
#include "movie/container.h"
#include "movie/movie.h"
#include "support/test_movies.h"

namespace kivo::encode {
namespace {

// Pictures with flat areas, noise and a moving square, so that frames mix
// Fill, Raw and Unchanged blocks.
SourcePicture MakePicture(uint32_t w, uint32_t h, uint32_t frame, bool alpha, bool grey) {
  SourcePicture p;
  p.width = w;
  p.height = h;
  std::mt19937 random(frame * 7 + 1);
  auto fill = [&](std::vector<uint8_t>& plane, uint32_t pw, uint32_t ph, uint32_t scale) {
    plane.resize(size_t(pw) * ph);
    for (uint32_t y = 0; y < ph; ++y)
      for (uint32_t x = 0; x < pw; ++x) {
        uint8_t v = x < pw / 2 ? uint8_t(40 + scale) : uint8_t(random());  // left half flat, right half noise
        const uint32_t sx = frame * 3 / scale, size = 10 / scale;
        if (y < pw / 2 && x >= sx && x < sx + size && y < size) v = 0;  // the square, with the darkest sample
        if (frame > 0 && x >= pw / 2) v = uint8_t(x * 3 + y);              // later frames: steady right half
        plane[size_t(y) * pw + x] = v;
      }
  };
  fill(p.luma, w, h, 1);
  if (!grey) {
    fill(p.cr, SourceChromaWidth(w), SourceChromaHeight(h), 2);
    fill(p.cb, SourceChromaWidth(w), SourceChromaHeight(h), 2);
  }
  if (alpha) fill(p.alpha, w, h, 1);
  return p;
}

void ExpectPlane(const uint8_t* decoded, uint32_t pitch, const std::vector<uint8_t>& want, uint32_t w, uint32_t h,
                 uint8_t floor, const char* what, uint32_t frame) {
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      ASSERT_EQ(decoded[size_t(y) * pitch + x], std::max(want[size_t(y) * w + x], floor))
          << what << " frame " << frame << " at " << x << "," << y;
}

TEST(FirstCoding, EveryRevisionAndLayoutDecodesToTheSource) {
  struct Case {
    char revision;
    uint32_t w, h;
    bool alpha, grey;
  } cases[] = {{'i', 37, 29, false, false}, {'i', 48, 16, true, false}, {'h', 21, 18, false, false},
               {'g', 24, 24, true, false},  {'f', 17, 9, false, true}, {'i', 16, 24, true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("revision ") + c.revision + " " + std::to_string(c.w) + "x" + std::to_string(c.h));
    EncoderSettings s;
    s.revision = c.revision;
    s.width = c.w;
    s.height = c.h;
    s.alpha = c.alpha;
    s.grey = c.grey;
    VideoEncoder encoder;
    std::string error;
    ASSERT_TRUE(OpenVideoEncoder(encoder, s, &error)) << error;
    testing::Picture picture(c.w, c.h, c.alpha, false);
    const uint32_t openFlags = RevisionFlags(uint8_t(c.revision)) | (c.alpha ? kOpenAlpha : 0) | (c.grey ? kOpenGrey : 0);
    const uint32_t videoFlags = (c.alpha ? kVideoAlpha : 0) | (c.grey ? kVideoGrey : 0);
    const uint8_t floor = c.revision < 'i' ? 1 : 0;
    for (uint32_t f = 0; f < 4; ++f) {
      // Frame 3 repeats frame 2 exactly; frame 4 is forced to be a key frame.
      const SourcePicture source = MakePicture(c.w, c.h, f == 2 ? 1 : f, c.alpha, c.grey);
      std::vector<uint8_t> video;
      bool key = false;
      ASSERT_TRUE(EncodeVideoFrame(encoder, source, f == 0 || f == 3, video, &key, &error)) << error;
      EXPECT_EQ(key, f == 0 || f == 3) << "frame " << f;
      if (f == 2) {
        EXPECT_EQ(encoder.lastCounts.counts[1][kUnchanged], (LumaAreaWidth(c.w) / 8) * (LumaAreaHeight(c.h) / 8));
      }
      if (f == 3) {
        EXPECT_EQ(encoder.lastCounts.counts[1][kUnchanged], 0u);
      }
      picture.Decode(video, openFlags, videoFlags);
      const uint8_t* frame = picture.Reference();
      ExpectPlane(frame, picture.pitch, source.luma, c.w, c.h, floor, "luma", f);
      if (!c.grey) {
        const uint8_t* first = frame + size_t(picture.pitch) * picture.rows;
        const uint8_t* second = first + size_t(picture.chromaPitch) * picture.chromaRows;
        const bool cbFirst = c.revision < 'h';
        const uint32_t cw = SourceChromaWidth(c.w), ch = SourceChromaHeight(c.h);
        ExpectPlane(first, picture.chromaPitch, cbFirst ? source.cb : source.cr, cw, ch, floor, "first chroma", f);
        ExpectPlane(second, picture.chromaPitch, cbFirst ? source.cr : source.cb, cw, ch, floor, "second chroma", f);
      }
      if (c.alpha) {
        ExpectPlane(picture.set.alphaBuffers[picture.set.current], picture.pitch, source.alpha, c.w, c.h, floor,
                    "alpha", f);
      }
    }
    // Flat blocks were coded as fills, noise as raw blocks.
    EXPECT_GT(encoder.lastCounts.counts[1][kFill], 0u);
    EXPECT_GT(encoder.lastCounts.counts[1][kRaw], 0u);
  }
}

TEST(FirstCoding, RefusesWhatTheStreamCannotCarry) {
  VideoEncoder encoder;
  std::string error;
  EncoderSettings s;
  s.width = 16;
  s.height = 16;
  s.revision = 'e';
  EXPECT_FALSE(OpenVideoEncoder(encoder, s, &error));
  s.revision = 'i';
  s.width = 0;
  EXPECT_FALSE(OpenVideoEncoder(encoder, s, &error));
  s.width = 16;
  ASSERT_TRUE(OpenVideoEncoder(encoder, s, &error));
  std::vector<uint8_t> video;
  bool key;
  EXPECT_FALSE(EncodeVideoFrame(encoder, MakePicture(16, 8, 0, false, false), true, video, &key, &error));
  SourcePicture noChroma = MakePicture(16, 16, 0, false, true);
  // A colour movie from a picture without chroma: neutral chroma.
  EXPECT_TRUE(EncodeVideoFrame(encoder, noChroma, true, video, &key, &error)) << error;
  EXPECT_EQ(encoder.lastCounts.counts[2][kFill], 1u);
  EXPECT_EQ(encoder.planes[2].reference[0], 128);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return bytes;
  int c;
  while ((c = fgetc(f)) != EOF) bytes.push_back(uint8_t(c));
  fclose(f);
  return bytes;
}

TEST(MovieFileWriter, WritesWhatBuildMovieBuildsAndLeavesNothingBehindOnFailure) {
  MovieLayout layout;
  layout.revision = 'h';
  layout.width = 64;
  layout.height = 48;
  layout.rateNum = 15;
  layout.videoFlags = kVideoAlpha | (3u << kVideoModeShift);
  layout.tracks = {{0x70005622, 4}, {0x80001F40, 9, 5000}};
  std::vector<FramePacket> frames(3);
  for (uint32_t i = 0; i < frames.size(); ++i) {
    frames[i].key = i != 1;
    frames[i].video.assign(17 + i, uint8_t(i + 1));  // odd sizes get a pad byte
    frames[i].audio = {std::vector<uint8_t>{uint8_t(10 * i + 8), 0, 0, 0, 1, 2, 3}, {}};
  }
  frames[2].audio.resize(1);  // fewer packets than tracks: the rest are empty
  const std::string path = test::TestFolder() + "/stream_writer.kiv";
  {
    FILE* f = fopen(path.c_str(), "wb");  // an old file is replaced
    fputs("old", f);
    fclose(f);
  }
  MovieFileWriter w;
  std::string error;
  ASSERT_TRUE(BeginMovieFile(w, path, layout, &error)) << error;
  for (const FramePacket& f : frames) ASSERT_TRUE(AddMovieFrame(w, f, &error)) << error;
  ASSERT_TRUE(FinishMovieFile(w, &error)) << error;
  EXPECT_EQ(ReadFile(path), BuildMovie(layout, frames));
  for (const auto& e : std::filesystem::directory_iterator(test::TestFolder()))
    EXPECT_NE(e.path().filename().string().rfind(".stream_writer.kiv.", 0), 0u) << e.path();

  // Abandoned halfway, and finished without frames: the old output stays,
  // and no temporary file is left.
  ASSERT_TRUE(BeginMovieFile(w, path, layout, &error));
  ASSERT_TRUE(AddMovieFrame(w, frames[0], &error));
  AbandonMovieFile(w);
  ASSERT_TRUE(BeginMovieFile(w, path, layout, &error));
  EXPECT_FALSE(FinishMovieFile(w, &error));
  EXPECT_EQ(ReadFile(path), BuildMovie(layout, frames));
  for (const auto& e : std::filesystem::directory_iterator(test::TestFolder()))
    EXPECT_NE(e.path().filename().string().rfind(".stream_writer.kiv.", 0), 0u) << e.path();
  EXPECT_FALSE(BeginMovieFile(w, test::TestFolder() + "/no/such/folder/x.kiv", layout, &error));
}

}  // namespace
}  // namespace kivo::encode
