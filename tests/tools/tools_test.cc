// SPDX-License-Identifier: BSD-2-Clause
// kivenc and kivbundle as programs: movies they make decode to their sources,
// errors end with exit code 1, one message and no output, and a bundled copy
// of a program reads back the default line that names its movies.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "encode/colour_convert.h"
#include "kivo/audio.h"
#include "kivo/version.h"
#include "movie/container.h"
#include "movie/movie.h"
#include "movie/movie_api.h"
#include "platform/platform.h"
#include "support/test_movies.h"

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#if KIVO_HAVE_PNG
#include <png.h>
#endif

namespace kivo {
namespace {

#if !defined(_WIN32)

// A copy of this test program made by kivbundle shows its default line
// instead of running the tests.
const bool kShowsDefaultLine = [] {
  if (!getenv("KIVO_SHOW_DEFAULT_LINE")) return false;
  char line[600];
  const uint32_t n = os::LoadDefaultCommandLine(line, sizeof line);
  fwrite(line, 1, n, stdout);
  fflush(stdout);
  _exit(0);
}();

using test::Slurp;
using test::ToolPath;

struct ToolRun {
  int code = -1;
  std::string out, err;
};

ToolRun Start(const std::string& command) {
  const std::string dir = test::TestFolder();
  ToolRun r;
  const int status = system((command + " >" + dir + "/kivo_tools_run.out 2>" + dir + "/kivo_tools_run.err").c_str());
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = Slurp(dir + "/kivo_tools_run.out");
  r.err = Slurp(dir + "/kivo_tools_run.err");
  return r;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }
std::string InFolder(const std::string& name) { return test::TestFolder() + "/" + name; }

// Whether a temporary file of an output is left beside it (".NAME.XXXXXX").
bool TemporaryLeft(const std::string& name) {
  for (const auto& e : std::filesystem::directory_iterator(test::TestFolder()))
    if (e.path().filename().string().rfind("." + name + ".", 0) == 0) return true;
  return false;
}

std::string MakeY4m(const std::string& name, uint32_t w, uint32_t h, uint32_t frames) {
  std::string bytes = "YUV4MPEG2 W" + std::to_string(w) + " H" + std::to_string(h) + " F24:1 C420jpeg\n";
  const uint32_t cw = (w + 1) / 2, ch = (h + 1) / 2;
  for (uint32_t f = 0; f < frames; ++f) {
    bytes += "FRAME\n";
    for (uint32_t i = 0; i < w * h; ++i) bytes.push_back(char(i * 13 + f * (i % 3)));
    for (uint32_t i = 0; i < 2 * cw * ch; ++i) bytes.push_back(char(i < cw * ch ? 60 + i : 200 - i % 50));
  }
  const std::string path = InFolder(name);
  FILE* file = fopen(path.c_str(), "wb");
  fwrite(bytes.data(), 1, bytes.size(), file);
  fclose(file);
  return path;
}

struct Decoded {
  uint32_t frames = 0, width = 0, height = 0, rateNum = 0, rateDen = 0, videoFlags = 0;
  std::vector<std::vector<uint8_t>> luma, cb, cr;  // cropped, per frame
};

// Every frame through the library, as the player reads it.
bool DecodeMovie(const std::string& path, Decoded* d) {
  Movie* movie = OpenMovie(path.c_str(), (7u << kOpenModeShift) | kOpenNoReader);
  if (!movie) return false;
  const uint32_t w = movie->sourceWidth, h = movie->sourceHeight, cw = (w + 1) / 2, ch = (h + 1) / 2;
  d->width = w;
  d->height = h;
  d->frames = movie->frameCount;
  d->rateNum = movie->fileRateNum;
  d->rateDen = movie->fileRateDen;
  const PlaneSet& p = movie->planes;
  for (uint32_t n = 1; n <= movie->frameCount; ++n) {
    if (DoFrame(movie)) break;
    const uint8_t* frame = p.frameBuffers[p.current];
    const uint8_t* first = frame + size_t(p.pitch) * p.rows;
    const uint8_t* second = first + size_t(p.chromaPitch) * p.chromaRows;
    std::vector<uint8_t> y, u, v;
    for (uint32_t r = 0; r < h; ++r) y.insert(y.end(), frame + r * p.pitch, frame + r * p.pitch + w);
    for (uint32_t r = 0; r < ch; ++r) {
      v.insert(v.end(), first + r * p.chromaPitch, first + r * p.chromaPitch + cw);
      u.insert(u.end(), second + r * p.chromaPitch, second + r * p.chromaPitch + cw);
    }
    d->luma.push_back(y);
    d->cb.push_back(u);
    d->cr.push_back(v);
    NextFrame(movie);
  }
  CloseMovie(movie);
  return true;
}

TEST(Kivenc, Y4mMovieDecodesToItsSourceWithTheAskedHeader) {
  const std::string in = MakeY4m("enc_in.y4m", 37, 22, 3), out = InFolder("enc_out.kiv");
  std::filesystem::remove(out);
  ToolRun r = Start(ToolPath("kivenc") + " " + Quote(in) + " -o " + Quote(out) + " --display-mode 3 --key-interval 2 --lossless");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("frame 3/3"), std::string::npos) << r.err;
  Decoded d;
  ASSERT_TRUE(DecodeMovie(out, &d));
  EXPECT_EQ(d.frames, 3u);
  EXPECT_EQ(d.width, 37u);
  EXPECT_EQ(d.rateNum, 24u);  // from the Y4M header
  ASSERT_EQ(d.luma.size(), 3u);
  // The source again, frame by frame.
  const std::string source = Slurp(in);
  size_t at = source.find('\n') + 1;
  for (uint32_t f = 0; f < 3; ++f) {
    at += 6;
    const std::string y = source.substr(at, 37 * 22), cb = source.substr(at + 37 * 22, 19 * 11),
                      cr = source.substr(at + 37 * 22 + 19 * 11, 19 * 11);
    at += 37 * 22 + 2 * 19 * 11;
    EXPECT_EQ(std::string(d.luma[f].begin(), d.luma[f].end()), y) << "frame " << f;
    EXPECT_EQ(std::string(d.cb[f].begin(), d.cb[f].end()), cb) << "frame " << f;
    EXPECT_EQ(std::string(d.cr[f].begin(), d.cr[f].end()), cr) << "frame " << f;
  }
  const std::string movie = Slurp(out);
  ASSERT_GT(movie.size(), 60u);
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(movie.data());
  EXPECT_EQ(ReadLe32(bytes + 36) >> kVideoModeShift, 3u);
  EXPECT_EQ(ReadLe32(bytes + 44 + 8) & 1, 1u);  // frame 3 is due a key frame

  // Rate, grey and revision on request.
  r = Start(ToolPath("kivenc") + " " + Quote(in) + " -o " + Quote(out) +
            " --rate 30000/1001 --grey --revision g --quiet --lossless");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(r.err.empty()) << r.err;
  ASSERT_TRUE(DecodeMovie(out, &d));
  EXPECT_EQ(d.rateNum, 30000u);
  EXPECT_EQ(d.rateDen, 1001u);
  const std::string grey = Slurp(out);
  EXPECT_EQ(grey[3], 'g');
  EXPECT_EQ(ReadLe32(reinterpret_cast<const uint8_t*>(grey.data()) + 36), kVideoGrey);
}

double LumaPsnr(const std::vector<uint8_t>& a, const std::string& b) {
  double se = 0;
  for (size_t i = 0; i < a.size(); ++i) se += (double(a[i]) - uint8_t(b[i])) * (double(a[i]) - uint8_t(b[i]));
  return se ? 10 * std::log10(255.0 * 255 * a.size() / se) : 99;
}

TEST(Kivenc, DefaultCodingIsSmallerAndCloseAndFollowsTheDataRate) {
  // A smooth picture drifting to the right.
  const uint32_t w = 96, h = 64, frames = 10;
  std::string bytes = "YUV4MPEG2 W96 H64 F10:1\n";
  std::vector<std::string> lumas;
  for (uint32_t f = 0; f < frames; ++f) {
    std::string y(w * h, 0);
    for (uint32_t i = 0; i < w * h; ++i)
      y[i] = char(uint8_t(std::lround(128 + 90 * std::sin((i % w + 2.0 * f) / 9.0) * std::cos(i / w / 7.0))));
    lumas.push_back(y);
    bytes += "FRAME\n" + y + std::string(2 * (w / 2) * (h / 2), char(128));
  }
  const std::string in = InFolder("smooth.y4m");
  FILE* file = fopen(in.c_str(), "wb");
  fwrite(bytes.data(), 1, bytes.size(), file);
  fclose(file);
  auto encode = [&](const std::string& args, Decoded* d) {
    const std::string out = InFolder("smooth.kiv");
    ToolRun r = Start(ToolPath("kivenc") + " " + Quote(in) + " -o " + Quote(out) + " --quiet " + args);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(DecodeMovie(out, d));
    return std::filesystem::file_size(out);
  };
  Decoded exact, coded, tight, single;
  const uint64_t exactSize = encode("--lossless", &exact);
  encode("--threads 1", &single);
  const std::string singleBytes = Slurp(InFolder("smooth.kiv"));
  const uint64_t codedSize = encode("--threads 3", &coded);
  // Any number of threads writes the same movie.
  EXPECT_EQ(Slurp(InFolder("smooth.kiv")), singleBytes);
  const uint64_t tightSize = encode("--data-rate 2k", &tight);
  ASSERT_EQ(coded.luma.size(), frames);
  ASSERT_EQ(tight.luma.size(), frames);
  EXPECT_LT(codedSize * 2, exactSize);
  EXPECT_LT(tightSize, codedSize);
  for (uint32_t f = 0; f < frames; ++f) {
    EXPECT_EQ(std::string(exact.luma[f].begin(), exact.luma[f].end()), lumas[f]);
    EXPECT_GT(LumaPsnr(coded.luma[f], lumas[f]), 35) << "frame " << f;
  }
}

TEST(Kivenc, ErrorsExitWithOneMessageAndLeaveNoFile) {
  const std::string out = InFolder("enc_bad.kiv");
  std::filesystem::remove(out);
  const std::string in = MakeY4m("enc_ok.y4m", 16, 16, 1);
  std::string wav = InFolder("float.wav");
  {
    FILE* f = fopen(wav.c_str(), "wb");
    const unsigned char bytes[] = {'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,
                                   3, 0, 1, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 32, 0, 'd', 'a', 't', 'a', 0, 0, 0, 0};
    fwrite(bytes, 1, sizeof bytes, f);
    fclose(f);
  }
  struct Case {
    std::string args, text;
    int code;  // 2 for a wrong command line
  } cases[] = {
      {Quote(in) + " --audio 1:" + Quote(wav), "not PCM", 1},
      {Quote(in) + " --rate 0", "--rate", 2},
      {Quote(in) + " --threads 0", "--threads", 2},
      {Quote(InFolder("missing.y4m")), "missing.y4m: No such file or directory", 1},
      {Quote(in) + " --alpha", "--alpha", 1},
  };
  for (const Case& c : cases) {
    ToolRun r = Start(ToolPath("kivenc") + " " + c.args + " -o " + Quote(out));
    EXPECT_EQ(r.code, c.code) << c.args;
    EXPECT_NE(r.err.find(c.text), std::string::npos) << c.args << ": " << r.err;
    EXPECT_NE(r.err.find("kivenc: "), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(out)) << c.args;
  }
  EXPECT_FALSE(TemporaryLeft("enc_bad.kiv"));
  // A good WAV file becomes a sound track with its id.
  const std::string pcm = InFolder("pcm.wav");
  {
    FILE* f = fopen(pcm.c_str(), "wb");
    const unsigned char bytes[] = {'R', 'I', 'F', 'F', 40, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,
                                   1, 0, 1, 0, 0x22, 0x56, 0, 0, 0x44, 0xAC, 0, 0, 2, 0, 16, 0, 'd', 'a', 't', 'a', 4, 0, 0, 0,
                                   1, 0, 2, 0};
    fwrite(bytes, 1, sizeof bytes, f);
    fclose(f);
  }
  ToolRun audio = Start(ToolPath("kivenc") + " " + Quote(in) + " --audio 7:" + Quote(pcm) + " -o " + Quote(out));
  EXPECT_EQ(audio.code, 0) << audio.err;
  const std::string movie = Slurp(out);
  ASSERT_GE(movie.size(), 56u);
  EXPECT_EQ(ReadLe32(reinterpret_cast<const uint8_t*>(movie.data()) + 40), 1u);
  EXPECT_EQ(ReadLe32(reinterpret_cast<const uint8_t*>(movie.data()) + 52), 7u);
  std::filesystem::remove(out);

  ToolRun help = Start(ToolPath("kivenc") + " --help");
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("--audio ID:FILE.wav"), std::string::npos);
}

#if KIVO_HAVE_PNG

std::string WritePng(const std::string& name, uint32_t w, uint32_t h, const std::vector<uint8_t>& rgba) {
  const std::string path = InFolder(name);
  png_image image = {};
  image.version = PNG_IMAGE_VERSION;
  image.width = w;
  image.height = h;
  image.format = PNG_FORMAT_RGBA;
  EXPECT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, rgba.data(), 0, nullptr));
  return path;
}

TEST(Kivenc, PngColoursComeBackWithinRoundingAndSizesMayNotChange) {
  // Flat 2x2 squares of random colours: each square keeps its own chroma.
  const uint32_t w = 16, h = 12;
  std::vector<uint8_t> rgba(w * h * 4);
  uint32_t seed = 5;
  for (uint32_t y = 0; y < h; y += 2)
    for (uint32_t x = 0; x < w; x += 2) {
      uint8_t c[4];
      for (uint8_t& v : c) v = uint8_t((seed = seed * 1103515245 + 12345) >> 16);
      for (uint32_t dy = 0; dy < 2; ++dy)
        for (uint32_t dx = 0; dx < 2; ++dx) std::copy(c, c + 4, &rgba[((y + dy) * w + x + dx) * 4]);
    }
  WritePng("pic0.png", w, h, rgba);
  WritePng("pic1.png", w, h, rgba);
  const std::string out = InFolder("enc_png.kiv");
  ToolRun r = Start(ToolPath("kivenc") + " " + Quote(InFolder("pic%d.png")) + " -o " + Quote(out) + " --alpha --lossless");
  ASSERT_EQ(r.code, 0) << r.err;
  Decoded d;
  ASSERT_TRUE(DecodeMovie(out, &d));
  ASSERT_EQ(d.frames, 2u);
  int worst = 0;
  for (uint32_t i = 0; i < w * h; ++i) {
    const uint32_t c = (i / w / 2) * (w / 2) + (i % w) / 2;
    const encode::Rgb shown = encode::PlayerRgb(d.luma[1][i], d.cb[1][c], d.cr[1][c]);
    worst = std::max({worst, std::abs(shown.r - rgba[i * 4]), std::abs(shown.g - rgba[i * 4 + 1]),
                      std::abs(shown.b - rgba[i * 4 + 2])});
  }
  EXPECT_LE(worst, 2);
  const std::string movie = Slurp(out);
  EXPECT_EQ(ReadLe32(reinterpret_cast<const uint8_t*>(movie.data()) + 36), kVideoAlpha);

  // A picture of another size in the sequence: exit 1, the old movie stays.
  std::vector<uint8_t> small(8 * 8 * 4, 50);
  const std::string other = WritePng("pic_small.png", 8, 8, small);
  r = Start(ToolPath("kivenc") + " " + Quote(InFolder("pic0.png")) + " " + Quote(other) + " -o " + Quote(out));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("sizes may not change"), std::string::npos) << r.err;
  EXPECT_EQ(Slurp(out), movie);
  EXPECT_FALSE(TemporaryLeft("enc_png.kiv"));
}

// RGB bytes of a PNG file, with its size; empty when it cannot be read.
std::vector<uint8_t> ReadRgb(const std::string& path, uint32_t* w, uint32_t* h) {
  png_image image = {};
  image.version = PNG_IMAGE_VERSION;
  std::vector<uint8_t> rgb;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return rgb;
  image.format = PNG_FORMAT_RGB;
  rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) rgb.clear();
  *w = image.width;
  *h = image.height;
  return rgb;
}

// 24 frames of 64x32, shown at twice the width (display mode 3): frames 1
// to 12 plain grey, then one picture whose top-left corner changes from frame
// to frame, so that the rest is coded as unchanged from the frame before. Key
// frames are 1 and 14 only.
std::string ThumbnailMovie() {
  const uint32_t w = 64, h = 32;
  std::string bytes = "YUV4MPEG2 W64 H32 F24:1 C420jpeg\n";
  for (uint32_t f = 1; f <= 24; ++f) {
    bytes += "FRAME\n";
    const uint32_t corner = f * 37;
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x)
        bytes.push_back(char(f <= 12 ? 100 : (x * 9 + y * 5 + (x < 16 && y < 16 ? corner : 0)) % 200 + 20));
    for (uint32_t i = 0; i < 2 * (w / 2) * (h / 2); ++i) bytes.push_back(char(f <= 12 ? 128 : 90 + i % 80));
  }
  const std::string in = InFolder("thumb.y4m"), movie = InFolder("thumb.kiv");
  FILE* file = fopen(in.c_str(), "wb");
  fwrite(bytes.data(), 1, bytes.size(), file);
  fclose(file);
  const ToolRun r = Start(ToolPath("kivenc") + " " + Quote(in) + " -o " + Quote(movie) +
                          " --lossless --key-interval 13 --display-mode 3 --quiet");
  EXPECT_EQ(r.code, 0) << r.err;
  return movie;
}

// The thumbnail passes over the plain frames a third of the way in and in
// the middle to frame 16 at two thirds (decoded from key frame 14), in the
// shown shape (128x32 to 16x4), each pixel the mean of the 4x8 pixels of
// kivdump's picture it covers.
TEST(Kivdump, ThumbnailIsAPatternedFrameAveragedToTheAskedSize) {
  const std::string movie = ThumbnailMovie(), out = InFolder("thumb.png"), folder = InFolder("thumb_frames");
  std::filesystem::remove(out);
  const ToolRun r = Start(ToolPath("kivdump") + " " + Quote(movie) + " --thumbnail 16 " + Quote(out));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("thumbnail of frame 16, 16x4"), std::string::npos) << r.err;
  std::filesystem::create_directories(folder);
  ASSERT_EQ(Start(ToolPath("kivdump") + " " + Quote(movie) + " --png " + Quote(folder) + " --quiet").code, 0);
  uint32_t tw = 0, th = 0, fw = 0, fh = 0;
  const std::vector<uint8_t> thumb = ReadRgb(out, &tw, &th), frame = ReadRgb(folder + "/frame00016.png", &fw, &fh);
  ASSERT_EQ(tw, 16u);
  ASSERT_EQ(th, 4u);
  ASSERT_EQ(fw, 64u);
  ASSERT_EQ(fh, 32u);
  int worst = 0;
  for (uint32_t y = 0; y < th; ++y)
    for (uint32_t x = 0; x < tw; ++x)
      for (uint32_t c = 0; c < 3; ++c) {
        double sum = 0;
        for (uint32_t sy = y * 8; sy < y * 8 + 8; ++sy)
          for (uint32_t sx = x * 4; sx < x * 4 + 4; ++sx) sum += frame[(sy * fw + sx) * 3 + c];
        worst = std::max(worst, std::abs(int(std::lround(sum / 32)) - thumb[(y * tw + x) * 3 + c]));
      }
  EXPECT_LE(worst, 1);
}

// A foreign file, a movie cut inside the frames the thumbnail needs, and
// sizes 0 and 4097 fail with a message and leave the output as it was.
TEST(Kivdump, ThumbnailOfBadInputFailsAndWritesNothing) {
  const std::string movie = ThumbnailMovie(), out = InFolder("bad_thumb.png");
  const std::string bytes = Slurp(movie);
  const uint32_t frame16 = ReadLe32(reinterpret_cast<const uint8_t*>(bytes.data()) + kHeaderSize + 15 * 4) & ~1u;
  const std::string cut =
      test::WriteTestFile("thumb_cut.kiv", std::vector<uint8_t>(bytes.begin(), bytes.begin() + frame16 + 10));
  struct Case {
    std::string file, size, text;
    int code;  // 2 for a wrong command line
  } cases[] = {
      {InFolder("thumb.y4m"), "16", "Not a Kivo file.", 1},
      {cut, "16", "the file ends early", 1},
      {movie, "0", "the size must be 1 to 4096", 2},
      {movie, "4097", "the size must be 1 to 4096", 2},
  };
  for (const Case& c : cases) {
    test::WriteTestFile("bad_thumb.png", {'o', 'l', 'd'});
    const ToolRun r = Start(ToolPath("kivdump") + " " + Quote(c.file) + " --thumbnail " + c.size + " " + Quote(out));
    EXPECT_EQ(r.code, c.code) << c.file << " " << c.size;
    EXPECT_NE(r.err.find(c.text), std::string::npos) << r.err;
    EXPECT_TRUE(Slurp(out) == "old") << c.file << " " << c.size;
    EXPECT_FALSE(TemporaryLeft("bad_thumb.png"));
  }
}

#endif

TEST(Kivbundle, CopyReadsTheLineNamingItsMoviesWhichOpenAtThoseOffsets) {
  char self[4096];
  ASSERT_TRUE(os::ProgramFilePath(self, sizeof self));
  const std::vector<uint8_t> first = test::FillerMovie(3, 32, 16), second = test::FillerMovie(5, 48, 32);
  const std::string a = test::WriteTestFile("bundle_a.kiv", first), b = test::WriteTestFile("bundle_b.kiv", second);
  const std::string out = InFolder("bundled_player");
  ToolRun r = Start(ToolPath("kivbundle") + " " + Quote(self) + " " + Quote(a) + " " + Quote(b) +
                " --switches '/d8 /l2' -o " + Quote(out));
  ASSERT_EQ(r.code, 0) << r.err;
  const uint64_t base = std::filesystem::file_size(self);
  // The line ends with a blank, so a real command line never runs into it.
  const std::string want = ":" + std::to_string(base) + " :" + std::to_string(base + first.size()) + " /d8 /l2 ";
  ToolRun shown = Start("KIVO_SHOW_DEFAULT_LINE=1 " + Quote(out));
  EXPECT_EQ(shown.code, 0);
  EXPECT_EQ(shown.out, want);
  // The movies open inside the copy at those offsets.
  for (uint64_t offset : {base, base + first.size()}) {
    os::FileHandle file = os::OpenFileRead(out.c_str(), true);
    ASSERT_NE(file, os::kNoFile);
    ASSERT_TRUE(os::SeekFile(file, int64_t(offset)));
    Movie* movie = OpenMovie(reinterpret_cast<const void*>(file), kOpenHandle | kOpenNoReader);
    ASSERT_NE(movie, nullptr) << offset;
    EXPECT_EQ(movie->frameCount, offset == base ? 3u : 5u);
    CloseMovie(movie);
    os::CloseFile(file);
  }
  // A copy of the copy gets a new line over the old one.
  const std::string again = InFolder("bundled_again");
  r = Start(ToolPath("kivbundle") + " " + Quote(out) + " " + Quote(b) + " -o " + Quote(again));
  ASSERT_EQ(r.code, 0) << r.err;
  shown = Start("KIVO_SHOW_DEFAULT_LINE=1 " + Quote(again));
  EXPECT_EQ(shown.out, ":" + std::to_string(std::filesystem::file_size(out)) + " ");
}

TEST(Kivbundle, RefusesALineBeyondItsRoomAndFilesWithoutOne) {
  char self[4096];
  ASSERT_TRUE(os::ProgramFilePath(self, sizeof self));
  const std::string a = test::WriteTestFile("bundle_c.kiv", test::FillerMovie(2));
  const std::string out = InFolder("bundled_long");
  std::filesystem::remove(out);
  ToolRun r = Start(ToolPath("kivbundle") + " " + Quote(self) + " " + Quote(a) + " --switches '" +
                    std::string(520, 'x') + "' -o " + Quote(out));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("has room for"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_FALSE(TemporaryLeft("bundled_long"));
  // Not a player, and not a movie.
  r = Start(ToolPath("kivbundle") + " " + Quote(a) + " " + Quote(a) + " -o " + Quote(out));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("no room"), std::string::npos) << r.err;
  r = Start(ToolPath("kivbundle") + " " + Quote(self) + " " + Quote(self) + " -o " + Quote(out));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("not a Kivo movie"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(Kivbundle, WindowsStringResourceIsRewrittenInPlace) {
  // The shape of a string table block: string 0 empty, string 1 of 511 '~'.
  std::vector<uint8_t> exe = {'M', 'Z', 0x90, 0, 0xFF, 0x01, 0x7E};  // a near miss first
  exe.resize(300, 0x11);
  const size_t table = exe.size();
  exe.push_back(0);
  exe.push_back(0);
  exe.push_back(0xFF);
  exe.push_back(0x01);
  for (int i = 0; i < 511; ++i) exe.push_back('~'), exe.push_back(0);
  exe.resize(exe.size() + 100, 0x22);
  const std::string player = test::WriteTestFile("fake_player.exe", exe);
  const std::vector<uint8_t> movie = test::FillerMovie(2);
  const std::string m = test::WriteTestFile("bundle_d.kiv", movie);
  const std::string out = InFolder("fake_bundled.exe");
  ToolRun r = Start(ToolPath("kivbundle") + " " + Quote(player) + " " + Quote(m) + " --switches /q -o " + Quote(out));
  ASSERT_EQ(r.code, 0) << r.err;
  const std::string copy = Slurp(out);
  ASSERT_EQ(copy.size(), exe.size() + movie.size());
  const std::string line = ":" + std::to_string(exe.size()) + " /q ";
  std::string utf16;
  for (char c : line) utf16 += std::string{c, '\0'};
  EXPECT_EQ(copy.substr(table + 4, utf16.size()), utf16);
  EXPECT_EQ(copy.substr(table + 2, 2), "\xFF\x01");  // the length stays
  EXPECT_EQ(copy.substr(table + 4 + utf16.size(), 2), std::string("~\0", 2));
  EXPECT_EQ(copy.substr(0, table + 2), std::string(exe.begin(), exe.begin() + table + 2));
  EXPECT_EQ(copy.substr(table + 4 + 1022), std::string(exe.begin() + table + 4 + 1022, exe.end()) +
                                               std::string(movie.begin(), movie.end()));

  // 511 characters are reserved; the line may take 510 of them, its closing
  // blank included.
  const std::string head = ":" + std::to_string(exe.size()) + "  ";
  r = Start(ToolPath("kivbundle") + " " + Quote(player) + " " + Quote(m) + " --switches '" +
            std::string(510 - head.size(), 'x') + "' -o " + Quote(out));
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Slurp(out).substr(table + 4 + 2 * 510, 2), std::string("~\0", 2));
  r = Start(ToolPath("kivbundle") + " " + Quote(player) + " " + Quote(m) + " --switches '" +
            std::string(511 - head.size(), 'x') + "' -o " + Quote(out));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("would take 511 characters; the player has room for 510"), std::string::npos) << r.err;
}

// Every tool names the library it runs on, so a mismatched install shows.
TEST(Tools, VersionNamesTheLibraryAndItsAbi) {
  const std::string wanted = std::string(" (Kivo library ") + KIVO_VERSION_TEXT + ", ABI " +
                             std::to_string(KIVO_ABI_VERSION) + ")\n";
  for (const char* tool : {"kivenc", "kivdump", "kivbundle"}) {
    const ToolRun r = Start(ToolPath(tool) + " --version");
    EXPECT_EQ(r.code, 0) << tool;
    EXPECT_EQ(r.out, std::string(tool) + " " + GetLibraryVersionText() + wanted) << tool;
  }
}

TEST(Kivdump, Y4mOfALosslessMovieIsItsSourceAndBadInputFails) {
  const std::string in = MakeY4m("dump_in.y4m", 33, 18, 4), movie = InFolder("dump.kiv"), out = InFolder("dump.y4m");
  ASSERT_EQ(Start(ToolPath("kivenc") + " " + Quote(in) + " -o " + Quote(movie) + " --lossless --quiet").code, 0);
  ToolRun r = Start(ToolPath("kivdump") + " " + Quote(movie) + " --y4m " + Quote(out) + " --quiet");
  ASSERT_EQ(r.code, 0) << r.err;
  // Frames identical to the source; only the header's tags may differ.
  const std::string a = Slurp(in), b = Slurp(out);
  ASSERT_EQ(b.compare(0, 22, "YUV4MPEG2 W33 H18 F24:"), 0) << b.substr(0, 40);
  EXPECT_EQ(a.substr(a.find('\n')), b.substr(b.find('\n')));

  r = Start(ToolPath("kivdump") + " " + Quote(movie) + " --info");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("\"frameCount\": 4"), std::string::npos) << r.out;

  const std::string folder = InFolder("dump_png");
  std::filesystem::create_directories(folder);
  r = Start(ToolPath("kivdump") + " " + Quote(movie) + " --png " + Quote(folder) + " --quiet");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(std::filesystem::exists(folder + "/frame00004.png"));

  r = Start(ToolPath("kivdump") + " " + Quote(in) + " --y4m " + Quote(out));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("Not a Kivo file."), std::string::npos) << r.err;
  r = Start(ToolPath("kivdump") + " " + Quote(movie) + " --wav 9 " + Quote(InFolder("dump.wav")));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("no track with id 9"), std::string::npos) << r.err;
}

// --info shows the file's own header, track table and index: every value is
// read back here from the bytes the container writer wrote.
TEST(Kivdump, InfoIsTheHeaderTracksAndIndexAsStored) {
  encode::MovieLayout layout;
  layout.revision = 'h';
  layout.width = 40;
  layout.height = 24;
  layout.rateNum = 2;
  layout.rateDen = 1;
  layout.videoFlags = kVideoAlpha | (3u << kVideoModeShift);
  layout.tracks = {{kAudioCodingA | kAudio16Bit | kAudioStereo | 22050, 4, 0},  // real DFT
                   {kAudioCodingB | 11025, 0, 777},                            // DCT, 8-bit mono
                   {kAudio16Bit | 8000, 9, 0},                                 // no coding
                   {kAudioCodingA | kAudioCodingB | kAudio16Bit | 44100, 2, 0}};  // both bits: the real DFT
  const uint32_t videoBytes[] = {100, 51, 300, 280, 10, 60};
  std::vector<encode::FramePacket> frames(6);
  for (size_t i = 0; i < frames.size(); ++i) {
    frames[i].key = i == 0 || i == 3;
    frames[i].video.assign(videoBytes[i], uint8_t(i));
    frames[i].audio.resize(4);
    frames[i].audio[0] = {uint8_t(i * 40), 3, 0, 0, 1, 2, 3};  // decoded bytes in the first word
  }
  const std::vector<uint8_t> bytes = encode::BuildMovie(layout, frames);
  const std::string movie = test::WriteTestFile("info.kiv", bytes);
  ToolRun r = Start(ToolPath("kivdump") + " " + Quote(movie) + " --info");
  ASSERT_EQ(r.code, 0) << r.err;
  auto word = [&](size_t at) { return ReadLe32(bytes.data() + at); };
  auto has = [&](const std::string& text) { EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out; };
  has("\"revision\": \"h\"");
  has("\"dataSize\": " + std::to_string(word(4)));
  has("\"largestFrame\": " + std::to_string(word(12)) + ",\n  \"indexLast\": 6,");
  has("\"width\": 40,\n  \"height\": 24,\n  \"rateNum\": 2,\n  \"rateDen\": 1,");
  has("\"videoFlags\": \"0x30100000\",\n  \"alpha\": true,\n  \"grey\": false,\n  \"displayMode\": 3,");
  has("\"allKeyFrames\": false");
  const size_t index = kHeaderSize + 12 * 4;
  // The busiest second is frames 3 and 4.
  has("\"peakDataRate\": " + std::to_string(word(index + 16) - word(index + 8)) + ",\n  \"peakDataFrame\": 3,");
  const char* codings[] = {"rdft", "dct", "none", "rdft"};
  const uint32_t channels[] = {2, 1, 1, 1}, bits[] = {16, 8, 16, 16};
  for (uint32_t t = 0; t < 4; ++t) {
    char line[200];
    snprintf(line, sizeof line,
             "{\"id\": %u, \"rate\": %u, \"bits\": %u, \"channels\": %u, \"coding\": \"%s\", "
             "\"audioWord\": \"0x%08X\", \"largestDecodedBytes\": %u}",
             layout.tracks[t].id, layout.tracks[t].audioWord & kAudioRateMask, bits[t], channels[t], codings[t],
             layout.tracks[t].audioWord, word(kHeaderSize + 4 * t));
    has(line);
  }
  for (uint32_t n = 1; n <= 6; ++n) {
    const uint32_t entry = word(index + 4 * (n - 1)), next = word(index + 4 * n);
    has("{\"frame\": " + std::to_string(n) + ", \"offset\": " + std::to_string(entry & ~1u) +
        ", \"size\": " + std::to_string((next & ~1u) - (entry & ~1u)) + ", \"key\": " +
        ((entry & 1) ? "true" : "false") + "}");
  }
  EXPECT_EQ(word(index) & 1, 1u);
  EXPECT_EQ(word(index + 12) & 1, 1u);
  // The same movie stored 6 bytes into another file.
  std::vector<uint8_t> inside(6, 0xEE);
  inside.insert(inside.end(), bytes.begin(), bytes.end());
  const std::string outer = test::WriteTestFile("info_inside.bin", inside);
  const ToolRun at = Start(ToolPath("kivdump") + " " + Quote(outer) + " --offset 6 --info");
  EXPECT_EQ(at.code, 0) << at.err;
  EXPECT_EQ(at.out, r.out);
  const ToolRun past = Start(ToolPath("kivdump") + " " + Quote(outer) + " --offset 99999 --info");
  EXPECT_EQ(past.code, 1);
  EXPECT_NE(past.err.find("the movie's offset lies beyond the end"), std::string::npos) << past.err;
}

// The demo movie the build makes carries its sound as track 0: the whole
// movie's length of stereo, its melody louder on the side the ball is on.
TEST(DemoMovie, SoundLastsTheMovieAndFollowsTheBall) {
  const std::string demo = (std::filesystem::path(ToolPath("kivdump")).parent_path().parent_path() /
                            "samples" / "demo.kiv").string();
  if (!std::filesystem::exists(demo)) GTEST_SKIP() << demo << " is not built (target demo_movie)";
  Movie* movie = OpenMovie(demo.c_str(), kOpenNoReader);
  ASSERT_NE(movie, nullptr) << GetErrorText();
  TrackInfo track;
  ASSERT_EQ(GetTrackInfo(movie, 0, &track), 1);
  EXPECT_EQ(track.id, 0u);
  EXPECT_EQ(track.sampleRate, 22050u);
  EXPECT_EQ(track.channels, 2u);
  TrackDecoder* decoder = OpenTrackDecoder(movie, 0);
  ASSERT_NE(decoder, nullptr);
  std::vector<int16_t> pcm;
  const AudioSink keep = [](void* context, const int16_t* samples, uint32_t bytes) {
    auto* all = static_cast<std::vector<int16_t>*>(context);
    all->insert(all->end(), samples, samples + bytes / 2);
  };
  const uint32_t frames = movie->frameCount;
  for (uint32_t n = 1; n <= frames; ++n) {
    DecodeTrackAudio(decoder, movie, keep, &pcm);
    ASSERT_EQ(DoFrame(movie), 0);
    NextFrame(movie);
  }
  CloseTrackDecoder(decoder);
  const uint32_t rateNum = movie->fileRateNum, rateDen = movie->fileRateDen;
  CloseMovie(movie);
  EXPECT_EQ(pcm.size(), uint64_t(22050) * frames * rateDen / rateNum * 2);
  // Loudness of each side over a tenth of a second from `seconds` on.
  auto power = [&](double seconds, int side) {
    const size_t from = size_t(seconds * 22050) * 2 + side, to = from + 2205 * 2;
    double sum = 0;
    for (size_t i = from; i < to && i < pcm.size(); i += 2) sum += double(pcm[i]) * pcm[i];
    return sum;
  };
  EXPECT_GT(power(0.05, 0), 2 * power(0.05, 1));  // the ball starts at the left
  EXPECT_GT(power(0.9, 1), 1.5 * power(0.9, 0));  // and turns at the right
  EXPECT_GT(power(1.85, 0), 1.5 * power(1.85, 1));  // and comes back
}

#endif  // !_WIN32

}  // namespace
}  // namespace kivo
