// SPDX-License-Identifier: BSD-2-Clause
// The public API's own calls: the version check, what a caller reads of an
// open movie, and one track decoded apart from the sound output.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "audio/audio_decoder.h"
#include "encode/container_writer.h"
#include "encode/encoder.h"
#include "kivo/kivo.h"
#include "movie/container.h"

namespace kivo {
namespace {

// ---- Version ---------------------------------------------------------------

std::vector<uint32_t> HeaderRecordSizes() { return {KIVO_PUBLIC_RECORDS(KIVO_RECORD_SIZE_)}; }

TEST(Version, TheCheckServesItsOwnAndOlderHeadersOnly) {
  EXPECT_EQ(KIVO_CHECK_VERSION(), 1);
  const LibraryVersion v = GetLibraryVersion();
  char text[32];
  snprintf(text, sizeof text, "%u.%u.%u", v.major, v.minor, v.patch);
  EXPECT_STREQ(v.text, text);
  EXPECT_STREQ(GetLibraryVersionText(), text);
  EXPECT_EQ(v.apiVersion, (v.major << 16) | (v.minor << 8) | v.patch);

  std::vector<uint32_t> sizes = HeaderRecordSizes();
  const uint32_t n = uint32_t(sizes.size());
  const uint32_t api = KIVO_API_VERSION, abi = KIVO_ABI_VERSION;
  EXPECT_EQ(CheckLibraryVersion(api, abi, sizes.data(), n), 1);
  // A program built against an older header of the same major version, and
  // one that knew fewer records, is served.
  if (v.patch > 0) {
    EXPECT_EQ(CheckLibraryVersion(api - 1, abi, sizes.data(), n), 1);
  }
  if (v.minor > 0) {
    EXPECT_EQ(CheckLibraryVersion(api - 0x100, abi, sizes.data(), n), 1);
  }
  EXPECT_EQ(CheckLibraryVersion(api, abi, sizes.data(), n - 1), 1);
  // A newer header, another major version or another ABI is not.
  EXPECT_EQ(CheckLibraryVersion(api + 1, abi, sizes.data(), n), 0);
  EXPECT_EQ(CheckLibraryVersion(api + 0x100, abi, sizes.data(), n), 0);
  EXPECT_EQ(CheckLibraryVersion(api + 0x10000, abi, sizes.data(), n), 0);
  EXPECT_EQ(CheckLibraryVersion(api, abi + 1, sizes.data(), n), 0);
  // A record of another size anywhere in the list, or records the library
  // does not know of.
  for (uint32_t i = 0; i < n; ++i) {
    std::vector<uint32_t> other = sizes;
    other[i] += 4;
    EXPECT_EQ(CheckLibraryVersion(api, abi, other.data(), n), 0) << "record " << i;
  }
  sizes.push_back(8);
  EXPECT_EQ(CheckLibraryVersion(api, abi, sizes.data(), n + 1), 0);
  EXPECT_EQ(CheckLibraryVersion(api, abi, nullptr, n), 0);
  EXPECT_EQ(CheckLibraryVersion(api, abi, sizes.data(), 0), 0);
}

// ---- Movies built for the tests --------------------------------------------

encode::SourcePicture Picture(uint32_t w, uint32_t h, uint32_t frame) {
  encode::SourcePicture p;
  p.width = w;
  p.height = h;
  const uint32_t cw = encode::SourceChromaWidth(w), ch = encode::SourceChromaHeight(h);
  p.luma.resize(size_t(w) * h);
  p.alpha.resize(size_t(w) * h);
  p.cr.resize(size_t(cw) * ch);
  p.cb.resize(size_t(cw) * ch);
  // Distinct, never 0 (revisions before 'i' lift 0 to 1), different per frame.
  for (uint32_t i = 0; i < p.luma.size(); ++i) {
    p.luma[i] = uint8_t(1 + (i * 7 + frame * 31) % 250);
    p.alpha[i] = uint8_t(1 + (i * 3 + frame * 5) % 200);
  }
  for (uint32_t i = 0; i < p.cr.size(); ++i) {
    p.cr[i] = uint8_t(200 - (i + frame) % 40);  // cr high, cb low: a swap shows
    p.cb[i] = uint8_t(20 + (i * 2 + frame) % 40);
  }
  return p;
}

std::vector<uint8_t> PictureMovie(char revision, uint32_t w, uint32_t h, uint32_t frames) {
  encode::EncoderSettings s;
  s.revision = revision;
  s.width = w;
  s.height = h;
  s.alpha = true;
  encode::VideoEncoder encoder;
  std::string error;
  EXPECT_TRUE(encode::OpenVideoEncoder(encoder, s, &error)) << error;
  encode::MovieLayout layout;
  layout.revision = revision;
  layout.width = w;
  layout.height = h;
  layout.videoFlags = kVideoAlpha;
  std::vector<encode::FramePacket> packets(frames);
  for (uint32_t f = 0; f < frames; ++f) {
    EXPECT_TRUE(encode::EncodeVideoFrame(encoder, Picture(w, h, f), f == 0, packets[f].video, &packets[f].key, &error))
        << error;
  }
  return encode::BuildMovie(layout, packets);
}

void ExpectPlane(const uint8_t* plane, uint32_t pitch, const std::vector<uint8_t>& want, uint32_t w, uint32_t h,
                 const char* what) {
  ASSERT_NE(plane, nullptr) << what;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      ASSERT_EQ(plane[size_t(y) * pitch + x], want[size_t(y) * w + x]) << what << " at " << x << "," << y;
}

// ---- What a caller reads ---------------------------------------------------

TEST(MovieView, PicturePlanesAreTheSourceWithCbAndCrNamedRightInEveryRevision) {
  const uint32_t w = 37, h = 22;
  for (char revision : {'g', 'h', 'i'}) {
    SCOPED_TRACE(std::string("revision ") + revision);
    const std::vector<uint8_t> bytes = PictureMovie(revision, w, h, 3);
    Movie* movie = OpenMovie(bytes.data(), kOpenMemory | kOpenAlpha | (4u << kOpenModeShift));
    ASSERT_NE(movie, nullptr) << GetErrorText();
    MoviePicture picture;
    ASSERT_EQ(GetPicture(movie, &picture), 1);
    EXPECT_EQ(picture.frame, 0u);
    for (uint32_t f = 0; f < 3; ++f) {
      ASSERT_EQ(DoFrame(movie), 0);
      ASSERT_EQ(GetPicture(movie, &picture), 1);
      EXPECT_EQ(picture.frame, f + 1);
      EXPECT_EQ(picture.width, w);
      EXPECT_EQ(picture.height, h);
      EXPECT_EQ(picture.chromaWidth, 19u);
      EXPECT_EQ(picture.chromaHeight, 11u);
      const encode::SourcePicture want = Picture(w, h, f);
      ExpectPlane(picture.luma, picture.pitch, want.luma, w, h, "luma");
      ExpectPlane(picture.u, picture.chromaPitch, want.cb, 19, 11, "u");
      ExpectPlane(picture.v, picture.chromaPitch, want.cr, 19, 11, "v");
      ExpectPlane(picture.alpha, picture.pitch, want.alpha, w, h, "alpha");
      NextFrame(movie);
    }
    // The presented size is doubled by display mode 4; the decoded one is not.
    MovieInfo info;
    ASSERT_EQ(GetMovieInfo(movie, &info), 1);
    EXPECT_EQ(info.width, 2 * w);
    EXPECT_EQ(info.height, 2 * h);
    EXPECT_EQ(info.sourceWidth, w);
    EXPECT_EQ(info.sourceHeight, h);
    EXPECT_EQ(info.frameCount, 3u);
    EXPECT_EQ(info.currentFrame, 1u);  // back at the start after the last frame
    EXPECT_EQ(info.lastFrame, 3u);
    EXPECT_EQ(info.openFlags & kOpenModeMask, 4u << kOpenModeShift);
    EXPECT_EQ(info.openFlags & kOpenBeforeH, revision < 'h' ? kOpenBeforeH : 0u);
    CloseMovie(movie);
  }
}

TEST(MovieView, WithoutAlphaOrMovieNothingIsMadeUp) {
  const std::vector<uint8_t> bytes = PictureMovie('i', 16, 16, 1);
  Movie* movie = OpenMovie(bytes.data(), kOpenMemory);  // alpha not asked for
  ASSERT_NE(movie, nullptr) << GetErrorText();
  ASSERT_EQ(DoFrame(movie), 0);
  MoviePicture picture;
  ASSERT_EQ(GetPicture(movie, &picture), 1);
  EXPECT_EQ(picture.alpha, nullptr);
  EXPECT_NE(picture.luma, nullptr);
  // The rectangle list is the movie's, filled by GetRects: the whole first
  // picture changed.
  ASSERT_EQ(GetRects(movie, 0), 1);
  const MovieRect* r = GetRectList(movie);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r[0].x, 0);
  EXPECT_EQ(r[0].y, 0);
  EXPECT_EQ(r[0].width, 16);
  EXPECT_EQ(r[0].height, 16);
  CloseMovie(movie);

  MovieInfo info;
  info.width = 5;
  EXPECT_EQ(GetMovieInfo(nullptr, &info), 0);
  EXPECT_EQ(info.width, 0u);
  picture.luma = reinterpret_cast<const uint8_t*>(&info);
  EXPECT_EQ(GetPicture(nullptr, &picture), 0);
  EXPECT_EQ(picture.luma, nullptr);
  EXPECT_EQ(GetRectList(nullptr), nullptr);
  TrackInfo track;
  track.id = 9;
  EXPECT_EQ(GetTrackInfo(nullptr, 0, &track), 0);
  EXPECT_EQ(track.id, 0u);
  EXPECT_EQ(OpenTrackDecoder(nullptr, 0), nullptr);
  CloseTrackDecoder(nullptr);
}

TEST(MovieView, ADisplayModeSetAfterTheOpenDoublesWhatIsPresentedAndCopied) {
  const uint32_t w = 24, h = 16;
  const std::vector<uint8_t> bytes = PictureMovie('i', w, h, 1);
  Movie* movie = OpenMovie(bytes.data(), kOpenMemory);
  ASSERT_NE(movie, nullptr) << GetErrorText();
  EXPECT_EQ(SetMovieDisplayMode(movie, 0), 0);
  EXPECT_EQ(SetMovieDisplayMode(movie, 7), 0);
  ASSERT_EQ(SetMovieDisplayMode(movie, 3), 1);  // width doubled
  EXPECT_EQ(SetMovieDisplayMode(movie, 4), 0);  // it has one now
  MovieInfo info;
  GetMovieInfo(movie, &info);
  EXPECT_EQ(info.width, 2 * w);
  EXPECT_EQ(info.height, h);
  EXPECT_EQ(info.openFlags & kOpenModeMask, 3u << kOpenModeShift);
  ASSERT_EQ(DoFrame(movie), 0);
  std::vector<uint8_t> rgba(size_t(2 * w) * h * 4);
  CopyToRgbaRows(movie, rgba.data(), int32_t(2 * w * 4), 0);
  bool varies = false;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      const uint8_t* pair = &rgba[(size_t(y) * 2 * w + 2 * x) * 4];
      for (int c = 0; c < 4; ++c) ASSERT_EQ(pair[c], pair[4 + c]) << x << "," << y;
      if (x > 0 && pair[0] != pair[-8]) varies = true;
    }
  EXPECT_TRUE(varies);  // the pairs are of different pixels, not one flat colour
  // Rectangles are scaled to the presented picture.
  ASSERT_EQ(GetRects(movie, 0), 1);
  EXPECT_EQ(GetRectList(movie)[0].width, int32_t(2 * w));
  CloseMovie(movie);
  EXPECT_EQ(SetMovieDisplayMode(nullptr, 1), 0);
}

// ---- Tracks ----------------------------------------------------------------

struct TrackSource {
  uint32_t id;
  encode::AudioTrackSettings settings;
  double hz;
  std::vector<std::vector<uint8_t>> packets;
  std::vector<int16_t> pcm;  // the packets decoded on their own
};

void CollectPcm(void* context, const int16_t* samples, uint32_t bytes) {
  auto* out = static_cast<std::vector<int16_t>*>(context);
  out->insert(out->end(), samples, samples + bytes / 2);
}

uint32_t AudioWord(const encode::AudioTrackSettings& s) {
  return s.rate | kAudio16Bit | (s.channels == 2 ? kAudioStereo : 0) |
         (s.mode == encode::AudioMode::kDct ? kAudioCodingB : kAudioCodingA);
}

TEST(TrackDecoder, EachTrackGivesItsOwnPcmByIdWhateverItsPlaceInTheFile) {
  if (!encode::AudioCodingAvailable()) GTEST_SKIP() << "no audio coding in this build";
  constexpr uint32_t kFrames = 30, kRateNum = 25, kRateDen = 1;
  TrackSource tracks[2];
  tracks[0].id = 3;
  tracks[0].settings.rate = 11025;
  tracks[0].settings.channels = 1;
  tracks[0].settings.mode = encode::AudioMode::kRdft;
  tracks[0].hz = 440;
  tracks[1].id = 0;
  tracks[1].settings.rate = 22050;
  tracks[1].settings.channels = 2;
  tracks[1].settings.mode = encode::AudioMode::kDct;
  tracks[1].hz = 1500;
  encode::MovieLayout layout;
  layout.width = 16;
  layout.height = 16;
  layout.rateNum = kRateNum;
  layout.rateDen = kRateDen;
  for (TrackSource& t : tracks) {
    const uint32_t frames = t.settings.rate * kFrames / kRateNum;
    std::vector<int16_t> input(size_t(frames) * t.settings.channels);
    const double step = 2 * 3.14159265358979 * t.hz / t.settings.rate;
    for (size_t i = 0; i < input.size(); ++i)
      input[i] = int16_t(8000 * std::sin(step * double(i / t.settings.channels)));
    std::string error;
    ASSERT_TRUE(encode::EncodeAudio(t.settings, input.data(), frames, kFrames, kRateNum, kRateDen, t.packets, &error))
        << error;
    ASSERT_EQ(t.packets.size(), kFrames);
    const bool dct = t.settings.mode == encode::AudioMode::kDct;
    AudioDecoder* d = OpenAudioDecoder(t.settings.rate, t.settings.channels, dct);
    ASSERT_NE(d, nullptr);
    for (const auto& p : t.packets)
      if (!p.empty()) DecodeAudioChunk(d, p.data(), uint32_t(p.size()), CollectPcm, &t.pcm);
    CloseAudioDecoder(d);
    ASSERT_GT(t.pcm.size(), 1000u);
    layout.tracks.push_back({AudioWord(t.settings), t.id, 0});
  }
  layout.tracks.push_back({0, 7, 0});  // a track the library cannot decode
  std::vector<encode::FramePacket> packets(kFrames);
  for (uint32_t f = 0; f < kFrames; ++f) {
    packets[f].key = true;
    packets[f].audio = {tracks[0].packets[f], tracks[1].packets[f], {}};
  }
  const std::vector<uint8_t> bytes = encode::BuildMovie(layout, packets);

  // Opened with its sound tracks playing nowhere (no sound system): the
  // track decoders work apart from them.
  Movie* movie = OpenMovie(bytes.data(), kOpenMemory);
  ASSERT_NE(movie, nullptr) << GetErrorText();
  TrackInfo info;
  ASSERT_EQ(GetTrackInfo(movie, 0, &info), 1);
  EXPECT_EQ(info.id, 3u);
  EXPECT_EQ(info.sampleRate, 11025u);
  EXPECT_EQ(info.channels, 1u);
  EXPECT_EQ(info.bits, 16u);
  EXPECT_EQ(info.playable, 1);
  ASSERT_EQ(GetTrackInfo(movie, 1, &info), 1);
  EXPECT_EQ(info.id, 0u);
  EXPECT_EQ(info.channels, 2u);
  ASSERT_EQ(GetTrackInfo(movie, 2, &info), 1);
  EXPECT_EQ(info.playable, 0);
  EXPECT_EQ(GetTrackInfo(movie, 3, &info), 0);
  EXPECT_EQ(OpenTrackDecoder(movie, 7), nullptr);  // not playable
  EXPECT_EQ(OpenTrackDecoder(movie, 4), nullptr);  // no such id

  TrackDecoder* first = OpenTrackDecoder(movie, 3);
  TrackDecoder* second = OpenTrackDecoder(movie, 0);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  std::vector<int16_t> got[2];
  for (uint32_t f = 0; f < kFrames; ++f) {
    const size_t before = got[0].size();
    const uint32_t bytesOut = DecodeTrackAudio(first, movie, CollectPcm, &got[0]);
    EXPECT_EQ(bytesOut, (got[0].size() - before) * 2);
    DecodeTrackAudio(second, movie, CollectPcm, &got[1]);
    DoFrame(movie);
    NextFrame(movie);
  }
  CloseTrackDecoder(first);
  CloseTrackDecoder(second);
  CloseMovie(movie);
  EXPECT_EQ(got[0], tracks[0].pcm);
  EXPECT_EQ(got[1], tracks[1].pcm);
}

}  // namespace
}  // namespace kivo
