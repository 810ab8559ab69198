// SPDX-License-Identifier: BSD-2-Clause
// The C decoding API against the tools: movies made by kivenc decode through
// it exactly as kivdump decodes them, from frame 1 and from key frames on;
// four movies decoding on four threads at once give the single-threaded
// output; damaged input gives an error code, never a crash.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "convert/converters.h"
#include "convert/row_walk.h"
#include "encode/container_writer.h"
#include "encode/encoder.h"
#include "encode/video_writer.h"
#include "kivo/convert.h"
#include "kivo/kivo_dec.h"
#include "kivo/movie.h"
#include "base/memory.h"
#include "movie/container.h"
#include "platform/platform.h"
#include "support/test_movies.h"

namespace kivo {
namespace {

#if !defined(_WIN32)

using test::Slurp;
using test::ToolPath;

void Spill(const std::string& path, const std::string& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

void RunTool(const std::string& command) { ASSERT_EQ(system((command + " 2>/dev/null").c_str()), 0) << command; }

// ---- The movies ------------------------------------------------------------

constexpr uint32_t kW = 84, kH = 50, kFrames = 36;

// A textured picture sliding two pixels a frame with a square crossing it,
// so that the encoder's motion and transform blocks all take part.
std::string SourceY4m() {
  std::string y4m = "YUV4MPEG2 W84 H50 F25:1 Ip A1:1 C420jpeg\n";
  const uint32_t cw = (kW + 1) / 2, ch = (kH + 1) / 2;
  for (uint32_t f = 0; f < kFrames; ++f) {
    y4m += "FRAME\n";
    for (uint32_t y = 0; y < kH; ++y)
      for (uint32_t x = 0; x < kW; ++x) {
        const uint32_t sx = x + 2 * f;
        uint32_t v = 40 + (sx * 5 + y * 3) % 120 + ((sx / 7 + y / 5) & 1) * 50;
        if (x >= 10 + f && x < 30 + f && y >= 12 && y < 32) v = 230 - (x + y) % 16;
        y4m += char(v);
      }
    for (int plane = 0; plane < 2; ++plane)
      for (uint32_t y = 0; y < ch; ++y)
        for (uint32_t x = 0; x < cw; ++x) y4m += char(plane ? 90 + (x + f) % 60 : 160 - (y + f) % 50);
  }
  return y4m;
}

std::string Wav(uint32_t rate, uint32_t channels, double hz) {
  const uint32_t frames = rate * kFrames / 25;
  std::string data;
  for (uint32_t i = 0; i < frames; ++i)
    for (uint32_t c = 0; c < channels; ++c) {
      const double t = double(i) / rate;
      const int16_t s = int16_t(9000 * std::sin(2 * M_PI * hz * (c + 1) * t) + 3000 * std::sin(2 * M_PI * 97 * t));
      data += char(s & 0xFF);
      data += char((s >> 8) & 0xFF);
    }
  auto word = [](uint32_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s += char((v >> (8 * i)) & 0xFF);
    return s;
  };
  return "RIFF" + word(36 + uint32_t(data.size()), 4) + "WAVEfmt " + word(16, 4) + word(1, 2) + word(channels, 2) +
         word(rate, 4) + word(rate * channels * 2, 4) + word(channels * 2, 2) + word(16, 2) + "data" +
         word(uint32_t(data.size()), 4) + data;
}

// An alpha movie through the encoder itself (kivenc takes alpha from PNG only).
std::vector<uint8_t> AlphaMovie() {
  encode::EncoderSettings s;
  s.width = 40;
  s.height = 30;
  s.alpha = true;
  encode::VideoEncoder encoder;
  std::string error;
  EXPECT_TRUE(encode::OpenVideoEncoder(encoder, s, &error)) << error;
  encode::MovieLayout layout;
  layout.revision = 'i';
  layout.width = s.width;
  layout.height = s.height;
  layout.videoFlags = kVideoAlpha;
  std::vector<encode::FramePacket> packets(12);
  for (uint32_t f = 0; f < packets.size(); ++f) {
    encode::SourcePicture p;
    p.width = s.width;
    p.height = s.height;
    p.luma.resize(40 * 30);
    p.alpha.resize(40 * 30);
    p.cr.assign(20 * 15, uint8_t(100 + f));
    p.cb.assign(20 * 15, uint8_t(150 - f));
    for (uint32_t i = 0; i < p.luma.size(); ++i) {
      p.luma[i] = uint8_t(1 + (i * 7 + f * 31) % 250);
      p.alpha[i] = uint8_t((i % 40) < 20 + f ? 255 : (i * 3) % 200);
    }
    EXPECT_TRUE(encode::EncodeVideoFrame(encoder, p, f % 4 == 0, packets[f].video, &packets[f].key, &error)) << error;
  }
  return encode::BuildMovie(layout, packets);
}

// Every frame a key frame, written block by block: the top block row is
// filled, each row below is moved from the row above, which is this frame's
// own top row when the one picture is both reference and target (as the
// player decodes such a movie) and the frame before's when it is not.
std::vector<uint8_t> AllKeyMovie() {
  constexpr uint32_t w = 32, h = 24;
  encode::MovieLayout layout;
  layout.width = w;
  layout.height = h;
  std::vector<encode::FramePacket> packets(5);
  for (uint32_t f = 0; f < packets.size(); ++f) {
    encode::PlaneSpec planes[3];
    for (int i = 0; i < 3; ++i) {
      encode::PlaneSpec& p = planes[i];
      encode::InitPlane(p, i ? encode::ChromaAreaWidth(w) : encode::LumaAreaWidth(w),
                        i ? encode::ChromaAreaHeight(h) : encode::LumaAreaHeight(h));
      for (uint32_t c = 0; c < p.width / 8; ++c) {
        encode::BlockAt(p, c, 0).type = encode::kFill;
        encode::BlockAt(p, c, 0).pixels[0] = uint8_t(60 + 40 * f + 10 * i + c);
        for (uint32_t r = 1; r < p.height / 8; ++r) {
          encode::BlockAt(p, c, r).type = encode::kMoved;
          encode::BlockAt(p, c, r).dy = -8;
        }
      }
    }
    encode::FrameSpec spec;
    spec.luma = &planes[0];
    spec.chroma[0] = &planes[1];
    spec.chroma[1] = &planes[2];
    std::string error;
    EXPECT_TRUE(encode::WriteVideoFrame(spec, packets[f].video, &error)) << error;
    packets[f].key = true;
  }
  return encode::BuildMovie(layout, packets);
}

struct TestMovie {
  std::string path;
  std::vector<uint32_t> trackIds;
  std::string y4m, alpha;             // kivdump's: the frames' planes after the Y4M header lines
  std::vector<std::string> pcm;       // kivdump's, per track id
};

// What the C API gives: the visible planes of every frame in Y4M order (Y,
// U, V), alpha apart, and each track's PCM.
struct Decoded {
  std::string planes, alpha;
  std::string pixels;  // the pictures converted, when a format was asked for
  std::vector<std::string> pcm;
  int32_t status = KIVO_DEC_OK;
};

class CApi : public ::testing::Test {
 protected:
  static std::vector<TestMovie>* movies;

  static void SetUpTestSuite() {
    movies = new std::vector<TestMovie>;
    const std::string dir = test::TestFolder() + "/c_api";
    std::filesystem::create_directories(dir);
    Spill(dir + "/src.y4m", SourceY4m());
    Spill(dir + "/stereo.wav", Wav(22050, 2, 440));
    Spill(dir + "/mono.wav", Wav(11025, 1, 300));
    const std::string kivenc = ToolPath("kivenc") + " --quiet " + dir + "/src.y4m";
    struct Made {
      const char* name;
      std::string args;
      std::vector<uint32_t> ids;
    } made[] = {
        {"a", " --key-interval 8 --audio 3:" + dir + "/stereo.wav --audio 9:" + dir + "/mono.wav", {3, 9}},
        {"b", " --revision g --audio-mode dct --key-interval 6 --audio 1:" + dir + "/stereo.wav", {1}},
        {"c", " --grey --revision h --key-interval 10 --audio 0:" + dir + "/mono.wav", {0}},
    };
    for (const Made& m : made) {
      TestMovie t;
      t.path = dir + "/" + m.name + ".kiv";
      t.trackIds = m.ids;
      RunTool(kivenc + m.args + " -o " + t.path);
      movies->push_back(t);
    }
    TestMovie alpha;
    alpha.path = test::WriteTestFile("c_api/d.kiv", AlphaMovie());
    movies->push_back(alpha);
    TestMovie keys;
    keys.path = test::WriteTestFile("c_api/e.kiv", AllKeyMovie());
    movies->push_back(keys);
    for (TestMovie& t : *movies) {
      std::string command = ToolPath("kivdump") + " " + t.path + " --quiet --y4m " + t.path + ".y4m";
      if (t.path.find("/d.kiv") != std::string::npos) command += " --alpha " + t.path + ".alpha";
      for (uint32_t id : t.trackIds) command += " --pcm " + std::to_string(id) + " " + t.path + "." + std::to_string(id);
      RunTool(command);
      const std::string y4m = Slurp(t.path + ".y4m");
      // Keep the planes alone: drop the header line and each "FRAME\n".
      KivoMovie* m = nullptr;
      ASSERT_EQ(kivo_movie_open_file(t.path.c_str(), &m, nullptr), KIVO_DEC_OK);
      KivoMovieInfo info;
      kivo_movie_info(m, &info);
      kivo_movie_close(m);
      const size_t frameBytes = size_t(info.width) * info.height + 2 * size_t((info.width + 1) / 2) * ((info.height + 1) / 2);
      size_t at = y4m.find('\n') + 1;
      for (uint32_t f = 0; f < info.frame_count; ++f, at += 6 + frameBytes) {
        ASSERT_EQ(y4m.compare(at, 6, "FRAME\n"), 0);
        t.y4m += y4m.substr(at + 6, frameBytes);
      }
      t.alpha = Slurp(t.path + ".alpha");
      for (uint32_t id : t.trackIds) t.pcm.push_back(Slurp(t.path + "." + std::to_string(id)));
    }
  }
  static void TearDownTestSuite() {
    delete movies;
    movies = nullptr;
  }
};
std::vector<TestMovie>* CApi::movies = nullptr;

// A FILE* behind the caller's callbacks.
int64_t FileRead(void* opaque, void* buffer, size_t size) { return int64_t(fread(buffer, 1, size, static_cast<FILE*>(opaque))); }
int32_t FileSeek(void* opaque, uint64_t offset) { return fseeko(static_cast<FILE*>(opaque), off_t(offset), SEEK_SET); }
int64_t FileSize(void* opaque) {
  FILE* f = static_cast<FILE*>(opaque);
  const off_t at = ftello(f);
  fseeko(f, 0, SEEK_END);
  const off_t size = ftello(f);
  fseeko(f, at, SEEK_SET);
  return size;
}
const KivoIo kFileIo = {FileRead, FileSeek, FileSize};

enum class Via { kFile, kMemory, kIo };

// Decodes `path` from frame `from` (a key frame, or 1) to the end, the way a
// framework would: packets split, the audio primed at a seek.
Decoded Decode(const std::string& path, Via via, uint32_t from = 1, uint32_t convertFlags = 0) {
  Decoded out;
  KivoMovie* m = nullptr;
  std::string bytes;
  FILE* file = nullptr;
  if (via == Via::kFile) {
    out.status = kivo_movie_open_file(path.c_str(), &m, nullptr);
  } else if (via == Via::kMemory) {
    bytes = Slurp(path);
    out.status = kivo_movie_open_memory(bytes.data(), bytes.size(), &m, nullptr);
  } else {
    file = fopen(path.c_str(), "rb");
    out.status = kivo_movie_open_io(&kFileIo, file, &m, nullptr);
  }
  if (out.status != KIVO_DEC_OK) return out;
  KivoMovieInfo info;
  kivo_movie_info(m, &info);
  KivoVideoParams params;
  kivo_movie_video_params(m, &params);
  KivoVideoDecoder* video = nullptr;
  out.status = kivo_video_open(&params, &video);
  std::vector<KivoAudioDecoder*> audio(info.track_count, nullptr);
  out.pcm.resize(info.track_count);
  for (uint32_t i = 0; i < info.track_count; ++i) {
    KivoTrackInfo track;
    kivo_movie_track(m, i, &track);
    kivo_audio_open(track.audio_word, &audio[i]);
    if (from > 1) kivo_movie_prime_audio(m, i, from, audio[i]);
  }
  std::vector<int16_t> pcm;
  for (uint32_t n = from; n <= info.frame_count && out.status == KIVO_DEC_OK; ++n) {
    KivoPacket packet;
    out.status = kivo_movie_read_packet(m, n, &packet);
    if (out.status != KIVO_DEC_OK) break;
    for (uint32_t i = 0; i < info.track_count; ++i) {
      const uint8_t* chunk;
      uint32_t size, bytesOut = 0;
      kivo_packet_audio(&packet, i, &chunk, &size);
      pcm.resize(kivo_audio_chunk_bytes(chunk, size) / 2 + 1);
      kivo_audio_decode(audio[i], chunk, size, pcm.data(), uint32_t(pcm.size() * 2), &bytesOut);
      out.pcm[i].append(reinterpret_cast<const char*>(pcm.data()), bytesOut);
    }
    KivoPicture p;
    out.status = kivo_video_decode(video, packet.video, packet.video_size, &p);
    auto rows = [&](std::string& to, const uint8_t* plane, uint32_t pitch, uint32_t w, uint32_t h) {
      for (uint32_t y = 0; y < h; ++y) to.append(reinterpret_cast<const char*>(plane) + size_t(y) * pitch, w);
    };
    rows(out.planes, p.y, p.pitch, p.width, p.height);
    rows(out.planes, p.u, p.chroma_pitch, p.chroma_width, p.chroma_height);
    rows(out.planes, p.v, p.chroma_pitch, p.chroma_width, p.chroma_height);
    if (p.alpha) rows(out.alpha, p.alpha, p.pitch, p.width, p.height);
    if (convertFlags) {
      // The player's conversion runs on the decoding thread too.
      const uint32_t paddedRows = 2 * (((p.height + 1) / 2 + 7) & ~7u);
      const ConvertSource source = {p.y, nullptr, p.pitch, paddedRows, p.width, p.height};
      std::vector<uint8_t> target(size_t(p.width) * 2 * 4 * p.height * 2);
      const ConvertTarget to = {target.data(), int32_t(p.width * 2 * 4), 0, 0};
      ConvertFull(DescriptorFor(convertFlags & 15, false), to, source, 0, 0, convertFlags);
      out.pixels.append(target.begin(), target.end());
    }
  }
  for (KivoAudioDecoder* a : audio) kivo_audio_close(a);
  kivo_video_close(video);
  kivo_movie_close(m);
  if (file) fclose(file);
  return out;
}

size_t FrameBytes(uint32_t w, uint32_t h) { return size_t(w) * h + 2 * size_t((w + 1) / 2) * ((h + 1) / 2); }

TEST_F(CApi, EveryFrameAndTrackEqualsKivdumpFromTheStartAndFromEachKeyFrame) {
  for (const TestMovie& t : *movies) {
    SCOPED_TRACE(t.path);
    KivoMovie* m = nullptr;
    ASSERT_EQ(kivo_movie_open_file(t.path.c_str(), &m, nullptr), KIVO_DEC_OK);
    KivoMovieInfo info;
    ASSERT_EQ(kivo_movie_info(m, &info), KIVO_DEC_OK);
    ASSERT_EQ(info.track_count, t.trackIds.size());
    for (uint32_t i = 0; i < info.track_count; ++i) {
      KivoTrackInfo track;
      ASSERT_EQ(kivo_movie_track(m, i, &track), KIVO_DEC_OK);
      EXPECT_EQ(track.id, t.trackIds[i]);
      EXPECT_EQ(track.playable, 1);
    }
    const size_t frameBytes = FrameBytes(info.width, info.height);
    ASSERT_EQ(t.y4m.size(), frameBytes * info.frame_count);

    const Decoded whole = Decode(t.path, Via::kFile);
    ASSERT_EQ(whole.status, KIVO_DEC_OK);
    EXPECT_TRUE(whole.planes == t.y4m);
    EXPECT_TRUE(whole.alpha == t.alpha);
    ASSERT_EQ(whole.pcm.size(), t.pcm.size());
    for (size_t i = 0; i < t.pcm.size(); ++i) {
      EXPECT_GT(t.pcm[i].size(), 0u);
      EXPECT_TRUE(whole.pcm[i] == t.pcm[i]) << "track " << i;
    }

    // Every key frame after the first: the rest of the movie, picture and
    // sound, from there on.
    uint32_t keys = 0;
    for (uint32_t k = 2; k <= info.frame_count; ++k) {
      if (!kivo_movie_is_key_frame(m, k)) continue;
      ++keys;
      SCOPED_TRACE("from key frame " + std::to_string(k));
      EXPECT_EQ(kivo_movie_key_frame_before(m, k), k);
      const Decoded part = Decode(t.path, Via::kMemory, k);
      ASSERT_EQ(part.status, KIVO_DEC_OK);
      EXPECT_TRUE(part.planes == t.y4m.substr(frameBytes * (k - 1)));
      EXPECT_TRUE(part.alpha == t.alpha.substr(t.alpha.empty() ? 0 : size_t(info.width) * info.height * (k - 1)));
      for (size_t i = 0; i < t.pcm.size(); ++i) {
        uint64_t offset = 0;
        ASSERT_EQ(kivo_movie_audio_offset(m, uint32_t(i), k, &offset), KIVO_DEC_OK);
        ASSERT_LE(offset, t.pcm[i].size());
        EXPECT_TRUE(part.pcm[i] == t.pcm[i].substr(offset)) << "track " << i;
      }
    }
    EXPECT_EQ(keys + 1, info.key_frame_count);
    if (t.path.find("/a.kiv") != std::string::npos) {
      EXPECT_GE(keys, 3u);
    }
    kivo_movie_close(m);
  }
}

TEST_F(CApi, FourMoviesOnFourThreadsAtOnceGiveTheSingleThreadedOutput) {
  ASSERT_GE(movies->size(), 4u);
  // Each thread also converts its pictures, two threads to each format with
  // the same routines (so that anything the converters learn or keep between
  // calls would be shared): RGB32 with and without the red/blue exchange,
  // 16-bit with doubled rows.
  const uint32_t tall = 1u << kCopyOptionShift;
  const uint32_t convert[4] = {3, 10 | tall, 3 | kCopyExchangeRedBlue, 10 | tall | kCopyExchangeRedBlue};
  std::vector<Decoded> alone;
  for (size_t i = 0; i < 4; ++i) alone.push_back(Decode((*movies)[i].path, Via::kFile, 1, convert[i]));
  std::vector<Decoded> together(4);
  const Via vias[4] = {Via::kFile, Via::kMemory, Via::kIo, Via::kFile};
  std::vector<std::thread> threads;
  for (size_t i = 0; i < 4; ++i)
    threads.emplace_back([&, i] { together[i] = Decode((*movies)[i].path, vias[i], i == 3 ? 5 : 1, convert[i]); });
  for (std::thread& t : threads) t.join();
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE((*movies)[i].path);
    ASSERT_EQ(together[i].status, KIVO_DEC_OK);
    const uint32_t from = i == 3 ? 5 : 1;
    const size_t skip = (from - 1) * FrameBytes(40, 30);
    EXPECT_TRUE(together[i].planes == alone[i].planes.substr(i == 3 ? skip : 0));
    EXPECT_GT(together[i].pixels.size(), 0u);
    EXPECT_TRUE(together[i].pixels == alone[i].pixels.substr(alone[i].pixels.size() - together[i].pixels.size()));
    for (size_t k = 0; k < alone[i].pcm.size(); ++k) EXPECT_TRUE(together[i].pcm[k] == alone[i].pcm[k]);
  }
}

TEST_F(CApi, TimesMapToFramesAndSeeksLandOnTheKeyFrameAtOrBefore) {
  KivoMovie* m = nullptr;
  ASSERT_EQ(kivo_movie_open_file((*movies)[0].path.c_str(), &m, nullptr), KIVO_DEC_OK);
  KivoMovieInfo info;
  kivo_movie_info(m, &info);
  EXPECT_EQ(info.duration_ns, uint64_t(kFrames) * 40000000u);  // 25 frames a second
  EXPECT_EQ(kivo_movie_frame_time(m, 1), 0u);
  EXPECT_EQ(kivo_movie_frame_time(m, 11), 400000000u);
  EXPECT_EQ(kivo_movie_frame_at(m, 0), 1u);
  EXPECT_EQ(kivo_movie_frame_at(m, 399999999), 10u);
  EXPECT_EQ(kivo_movie_frame_at(m, 400000000), 11u);
  EXPECT_EQ(kivo_movie_frame_at(m, UINT64_MAX), info.frame_count);
  for (uint32_t n = 1; n <= info.frame_count + 3; ++n) {
    const uint32_t k = kivo_movie_key_frame_before(m, n);
    ASSERT_GE(k, 1u);
    ASSERT_LE(k, n < info.frame_count ? n : info.frame_count);
    EXPECT_TRUE(k == 1 || kivo_movie_is_key_frame(m, k));
    for (uint32_t j = k + 1; j <= n && j <= info.frame_count; ++j) EXPECT_FALSE(kivo_movie_is_key_frame(m, j));
  }
  kivo_movie_close(m);
}

// ---- Bad input --------------------------------------------------------------

int32_t OpenBytes(const std::string& bytes, KivoDecError* error) {
  KivoMovie* m = reinterpret_cast<KivoMovie*>(1);
  const int32_t status = kivo_movie_open_memory(bytes.data(), bytes.size(), &m, error);
  EXPECT_EQ(m == nullptr, status != KIVO_DEC_OK);
  kivo_movie_close(m);
  return status;
}

TEST_F(CApi, DamagedInputGivesAnErrorCodeAndMessage) {
  const std::string good = Slurp((*movies)[0].path);
  KivoDecError error;
  EXPECT_EQ(OpenBytes(good.substr(0, 60), &error), KIVO_DEC_ERROR_DAMAGED);  // tables cut short
  std::string bad;
  KivoMovie* m = nullptr;
  EXPECT_EQ(kivo_movie_open_file((test::TestFolder() + "/c_api/none.kiv").c_str(), &m, &error), KIVO_DEC_ERROR_OPEN);
  EXPECT_EQ(m, nullptr);
  EXPECT_STREQ(error.message, kivo_dec_error_text(KIVO_DEC_ERROR_OPEN));
  EXPECT_EQ(kivo_movie_open_memory(nullptr, 10, &m, &error), KIVO_DEC_ERROR_ARGUMENT);

  // A movie cut in the middle: the frames before the cut read, the rest
  // report a read error, through every source.
  const std::string cut = good.substr(0, good.size() * 2 / 3);
  const std::string cutPath = test::TestFolder() + "/c_api/cut.kiv";
  Spill(cutPath, cut);
  for (Via via : {Via::kFile, Via::kMemory, Via::kIo}) {
    const Decoded d = Decode(cutPath, via);
    EXPECT_EQ(d.status, KIVO_DEC_ERROR_READ);
    const size_t frames = d.planes.size() / FrameBytes(kW, kH);
    EXPECT_GT(frames, 5u);
    EXPECT_LT(frames, size_t(kFrames));
    EXPECT_TRUE(d.planes == (*movies)[0].y4m.substr(0, d.planes.size()));
  }

  // Scrambled packets decode to something, or report damaged data.
  bad = good;
  for (size_t i = good.size() / 4; i < good.size(); i += 7) bad[i] = char(bad[i] * 13 + 5);
  ASSERT_EQ(kivo_movie_open_memory(bad.data(), bad.size(), &m, nullptr), KIVO_DEC_OK);
  KivoVideoParams params;
  kivo_movie_video_params(m, &params);
  KivoVideoDecoder* video = nullptr;
  ASSERT_EQ(kivo_video_open(&params, &video), KIVO_DEC_OK);
  KivoAudioDecoder* audio = nullptr;
  KivoTrackInfo track;
  kivo_movie_track(m, 0, &track);
  ASSERT_EQ(kivo_audio_open(track.audio_word, &audio), KIVO_DEC_OK);
  uint32_t damaged = 0, cutCounts = 0;
  std::vector<int16_t> pcm(1 << 20);
  for (uint32_t n = 1; n <= kFrames; ++n) {
    KivoPacket packet;
    ASSERT_EQ(kivo_movie_read_packet(m, n, &packet), KIVO_DEC_OK);
    KivoPicture p;
    const int32_t status = kivo_video_decode(video, packet.video, packet.video_size, &p);
    EXPECT_TRUE(status == KIVO_DEC_OK || status == KIVO_DEC_ERROR_DATA);
    damaged += status == KIVO_DEC_ERROR_DATA;
    const uint8_t* chunk;
    uint32_t size, bytes;
    kivo_packet_audio(&packet, 0, &chunk, &size);
    // A scrambled count word asks for no more than the chunk can carry.
    const uint32_t want = kivo_audio_decode_bytes(audio, chunk, size);
    cutCounts += want < kivo_audio_chunk_bytes(chunk, size);
    if (want > 2) {
      EXPECT_EQ(kivo_audio_decode(audio, chunk, size, pcm.data(), want - 2, &bytes), KIVO_DEC_ERROR_BUFFER);
    }
    ASSERT_LE(want, pcm.size() * 2);
    EXPECT_EQ(kivo_audio_decode(audio, chunk, size, pcm.data(), want, &bytes), KIVO_DEC_OK);
    EXPECT_LE(bytes, want);
  }
  EXPECT_GT(damaged, 0u);
  EXPECT_GT(cutCounts, 0u);
  KivoPacket packet;
  EXPECT_EQ(kivo_movie_read_packet(m, 0, &packet), KIVO_DEC_ERROR_ARGUMENT);
  EXPECT_EQ(kivo_movie_read_packet(m, kFrames + 1, &packet), KIVO_DEC_ERROR_ARGUMENT);
  KivoAudioDecoder* none = nullptr;
  EXPECT_EQ(kivo_audio_open(0x5622, &none), KIVO_DEC_ERROR_ARGUMENT);  // neither coding bit: not playable
  EXPECT_EQ(none, nullptr);
  kivo_audio_close(audio);
  kivo_video_close(video);
  kivo_movie_close(m);
}

// The same files through the player's open and the C API's: the same ones
// open, and the others fail with the player's text.
TEST_F(CApi, OpensWhatThePlayerOpensAndRefusesTheRestWithItsTexts) {
  const std::string good = Slurp((*movies)[0].path);
  auto with = [&](uint32_t offset, uint32_t value) {
    std::string b = good;
    WriteLe32(reinterpret_cast<uint8_t*>(&b[offset]), value);
    return b;
  };
  const uint32_t dataSize = ReadLe32(reinterpret_cast<const uint8_t*>(&good[4]));
  const uint32_t frames = ReadLe32(reinterpret_cast<const uint8_t*>(&good[8]));
  const std::string cases[] = {
      good,
      with(4, dataSize - 64),  // the last packet runs past dataSize + 8, inside the file
      with(4, 0xFFFFFF00),     // dataSize far past the file's end
      "",
      "KIVi",
      with(0, 0x6A56494B),     // "KIVj"
      with(8, 0),              // no frames
      good.substr(0, 60),
      with(16, frames - 1),    // the index stops before the last frame's end
      with(44 + 24 + 8, 0x7FFFFFF0),  // an index entry past the file
      with(20, 70000),         // a picture wider than the library serves
  };
  const std::string path = test::TestFolder() + "/c_api/variant.kiv";
  int opened = 0;
  for (const std::string& bytes : cases) {
    SCOPED_TRACE(&bytes - cases);
    Spill(path, bytes);
    Movie* player = OpenMovie(path.c_str(), kOpenNoReader);
    const std::string playerText = player ? "" : GetErrorText();
    CloseMovie(player);
    KivoMovie* m = nullptr;
    KivoDecError error;
    const int32_t status = kivo_movie_open_file(path.c_str(), &m, &error);
    EXPECT_EQ(status == KIVO_DEC_OK, player != nullptr) << playerText;
    if (!player) {
      EXPECT_EQ(error.message, playerText);
    }
    opened += status == KIVO_DEC_OK;
    kivo_movie_close(m);
  }
  EXPECT_EQ(opened, 3);
}

// A few bytes whose header and index ask for gigabytes: the C API holds no
// more than the source can give, whether its size is known or not.
struct CountingSource {
  const std::string* bytes;
  uint64_t at;
  bool sized;
  uint64_t peak;  // the most memory the library held at any read
  uint32_t reads;
};
int64_t CountingRead(void* opaque, void* buffer, size_t size) {
  CountingSource* s = static_cast<CountingSource*>(opaque);
  s->peak = std::max(s->peak, MemLiveBytes());
  ++s->reads;
  const size_t n = s->at >= s->bytes->size() ? 0 : std::min(size, size_t(s->bytes->size() - s->at));
  memcpy(buffer, s->bytes->data() + s->at, n);
  s->at += n;
  return int64_t(n);
}
int32_t CountingSeek(void* opaque, uint64_t offset) {
  static_cast<CountingSource*>(opaque)->at = offset;
  return 0;
}
int64_t CountingSize(void* opaque) {
  const CountingSource* s = static_cast<const CountingSource*>(opaque);
  return s->sized ? int64_t(s->bytes->size()) : -1;
}

TEST_F(CApi, TinyInputsAskingForGigabytesGetAFewHundredKilobytes) {
  auto header = [](uint32_t dataSize, uint32_t frames, uint32_t indexLast) {
    std::string h(44, '\0');
    uint8_t* p = reinterpret_cast<uint8_t*>(&h[0]);
    memcpy(p, "KIVi", 4);
    const uint32_t fields[] = {dataSize, frames, 0xFFFFFFFF, indexLast, 16, 16, 25, 1, 0, 0};
    for (int i = 0; i < 10; ++i) WriteLe32(p + 4 + 4 * i, fields[i]);
    return h;
  };
  auto words = [](std::initializer_list<uint32_t> values) {
    std::string s;
    for (uint32_t v : values) s += std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    return s;
  };
  const struct {
    std::string bytes;
    bool sized;
  } inputs[] = {
      {header(0xFFFFFFF0, 1, 1) + words({53, 0xF0000000}), true},                               // 52 bytes
      {header(52, 3, 3) + words({61, 0x10000000, 0x20000000, 0x30000000}), false},               // 60 bytes
      {header(52, 3, 0x0FFFFFF0) + words({61, 0x10000000, 0x20000000, 0x30000000}), false},      // 60 bytes
  };
  const uint64_t before = MemLiveBytes();
  for (const auto& input : inputs) {
    SCOPED_TRACE(input.bytes.size());
    CountingSource source{&input.bytes, 0, input.sized, 0, 0};
    const KivoIo io = {CountingRead, CountingSeek, CountingSize};
    KivoMovie* m = nullptr;
    const int32_t status = kivo_movie_open_io(&io, &source, &m, nullptr);
    source.peak = std::max(source.peak, MemLiveBytes());
    KivoPacket packet;
    if (status == KIVO_DEC_OK) {
      EXPECT_EQ(kivo_movie_read_packet(m, 1, &packet), KIVO_DEC_ERROR_READ);
    }
    source.peak = std::max(source.peak, MemLiveBytes());
    kivo_movie_close(m);
    EXPECT_LT(source.peak - before, 512u << 10);
  }
}

// A seek into a long movie reads a bounded number of words, wherever it
// lands, and finds the sound's carry and offset that a walk from frame 1
// finds. Chunks are counts and filler (no sound is decoded); some frames
// and a long stretch have none.
TEST_F(CApi, SeeksReadABoundedNumberOfWordsAndAgreeWithAWalkFromTheStart) {
  constexpr uint32_t kLong = 3000;
  encode::MovieLayout layout;
  layout.width = layout.height = 16;
  layout.tracks.push_back({kAudioCodingA | kAudio16Bit | 22050, 5, 0});
  layout.tracks.push_back({kAudioCodingB | 11025, 6, 0});
  std::vector<encode::FramePacket> packets(kLong);
  std::vector<uint32_t> counts[2];
  for (uint32_t f = 0; f < kLong; ++f) {
    packets[f].key = f % 100 == 0;
    for (uint32_t t = 0; t < 2; ++t) {
      const bool sound = f % 7 != 3 && !(t == 1 && f >= 1000 && f < 1700);
      counts[t].push_back(sound ? 1000 + (f * 13 + t) % 700 : 0);
      std::vector<uint8_t> chunk;
      if (sound) chunk = {uint8_t(counts[t][f]), uint8_t(counts[t][f] >> 8), 0, 0, 1, 2, 3, 4};
      packets[f].audio.push_back(chunk);
    }
  }
  const std::vector<uint8_t> bytes = encode::BuildMovie(layout, packets);
  const std::string movie(bytes.begin(), bytes.end());
  CountingSource source{&movie, 0, true, 0, 0};
  const KivoIo io = {CountingRead, CountingSeek, CountingSize};
  KivoMovie* m = nullptr;
  ASSERT_EQ(kivo_movie_open_io(&io, &source, &m, nullptr), KIVO_DEC_OK);
  for (uint32_t frame : {31u, 1500u, 1650u, 2970u, kLong + 1}) {
    for (uint32_t t = 0; t < 2; ++t) {
      SCOPED_TRACE(std::to_string(frame) + " track " + std::to_string(t));
      uint64_t want = 0;
      uint32_t wantCarry = 0;
      for (uint32_t f = 1; f < frame; ++f) {
        want += counts[t][f - 1];
        if (counts[t][f - 1]) wantCarry = f;
      }
      source.reads = 0;
      uint64_t offset = 0;
      uint32_t carry = 0;
      ASSERT_EQ(kivo_movie_audio_offset(m, t, frame, &offset), KIVO_DEC_OK);
      ASSERT_EQ(kivo_movie_audio_carry(m, t, frame, &carry), KIVO_DEC_OK);
      EXPECT_EQ(offset, want);
      EXPECT_EQ(carry, wantCarry);
      EXPECT_LE(source.reads, 600u);
    }
  }
  kivo_movie_close(m);
}

#endif

}  // namespace
}  // namespace kivo
