// SPDX-License-Identifier: BSD-2-Clause
// Real windows on a private X server: every style the machine can give opens
// a window, shows a known picture, and a screenshot of the screen must show
// that picture (within the rounding of 16-bit fields and of the renderer's
// own YUV conversion): a pattern written in each destination format, and a
// decoded frame copied in by the conversion, against kivdump's PNG of it.
// Set KIVO_SCREENSHOT_DIR to keep the screenshots.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#if KIVO_HAVE_PNG
#include <png.h>
#endif

#include "display/blit_buffer.h"
#include "display/pixel_layout.h"
#include "display/sdl/sdl_video.h"
#include "encode/container_writer.h"
#include "encode/encoder.h"
#include "kivo/convert.h"
#include "movie/movie.h"
#include "movie/movie_api.h"
#include "support/test_movies.h"

extern char** environ;

namespace kivo {
namespace {

using testing::Shown;

constexpr int kScreenWidth = 640, kScreenHeight = 480;

// An X server of the test's own, on a display number it picks itself.
class PrivateXServer {
 public:
  explicit PrivateXServer(int depth) {
    int fds[2];
    if (pipe(fds) != 0) return;
    const std::string fd = std::to_string(fds[1]);
    const std::string screen = std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) +
                               "x" + std::to_string(depth);
    const char* argv[] = {"Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
                          "-nolisten", "tcp", "-noreset", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
      pid_ = 0;
      close(fds[0]);
      return;
    }
    // The server writes its display number once it accepts clients.
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c;
    while (poll(&p, 1, 20000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (!number.empty()) display_ = ":" + number;
  }
  ~PrivateXServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = 0;
  std::string display_;
};

bool Screenshot(const std::string& display, Shown* out, const char* keepAs) {
  char path[] = "/tmp/kivo-screen-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return false;
  close(fd);
  const std::string base = "DISPLAY=" + display + " import -window root ";
  bool ok = std::system((base + "-depth 8 rgb:" + path + " 2>/dev/null").c_str()) == 0;
  if (ok && keepAs) std::system((base + "png:" + keepAs + " 2>/dev/null").c_str());
  std::vector<uint8_t> rgb(size_t(kScreenWidth) * kScreenHeight * 3);
  FILE* f = ok ? fopen(path, "rb") : nullptr;
  ok = f && fread(rgb.data(), 1, rgb.size(), f) == rgb.size();
  if (f) fclose(f);
  unlink(path);
  if (!ok) return false;
  out->width = kScreenWidth;
  out->height = kScreenHeight;
  out->pixels.resize(size_t(kScreenWidth) * kScreenHeight);
  for (size_t i = 0; i < out->pixels.size(); ++i)
    out->pixels[i] = uint32_t(rgb[3 * i]) << 16 | uint32_t(rgb[3 * i + 1]) << 8 | rgb[3 * i + 2];
  return true;
}

void WaitUntilShown(SDL_Window* window) {
  SDL_ShowWindow(window);
  SDL_Event e;
  for (int i = 0; i < 100; ++i) {
    if (!SDL_WaitEventTimeout(&e, 20)) continue;
    if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_EXPOSED) break;
  }
  while (SDL_PollEvent(&e)) {
  }
}

class RealWindow : public ::testing::TestWithParam<int> {};

TEST_P(RealWindow, EveryStyleTheMachineGivesShowsThePicture) {
  if (system("command -v Xvfb >/dev/null && command -v import >/dev/null") != 0)
    GTEST_SKIP() << "Xvfb and ImageMagick's import are needed (scripts/install-deps)";
  const int depth = GetParam();
  PrivateXServer server(depth);
  ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
  setenv("DISPLAY", server.display().c_str(), 1);
  testing::DriverAllocationsIgnored driverMemory;
  testing::SdlVideo video("x11");
  ASSERT_TRUE(video.ok()) << SDL_GetError();
  const char* keep = getenv("KIVO_SCREENSHOT_DIR");

  const uint32_t width = 96, height = 64;
  const int winX = 40, winY = 24, picX = 8, picY = 4;
  std::vector<int32_t> given;
  for (int32_t i = 0, style; (style = GetBlitStyleListEntry(i, nullptr, nullptr)) >= 0; ++i) {
    SDL_Window* window = SDL_CreateWindow("Kivo display test", winX, winY, int(width) + 2 * picX,
                                          int(height) + 2 * picY, SDL_WINDOW_BORDERLESS | SDL_WINDOW_HIDDEN);
    ASSERT_NE(window, nullptr) << SDL_GetError();
    BlitBuffer* b = OpenBlitBuffer(window, width, height, uint32_t(style));
    if (!b || b->style != style) {
      CloseBlitBuffer(b);
      SDL_DestroyWindow(window);
      continue;
    }
    given.push_back(style);
    WaitUntilShown(window);
    SetBlitPosition(b, picX, picY);
    ASSERT_TRUE(testing::WritePattern(b)) << style;
    const int32_t code = int32_t(b->flags & kBlitCodeMask);
    int mismatches = -1;
    Shown shot;
    // The server may draw a moment after the call returns: look again after
    // showing the picture again, a few times at most.
    for (int attempt = 0; attempt < 5 && mismatches != 0; ++attempt) {
      BlitRects(b, nullptr, 1);
      SDL_PumpEvents();
      std::string file;
      if (keep) file = std::string(keep) + "/depth" + std::to_string(depth) + "-style" + std::to_string(style) + ".png";
      ASSERT_TRUE(Screenshot(server.display(), &shot, keep ? file.c_str() : nullptr));
      mismatches = testing::PatternMismatches(shot, winX + picX, winY + picY, code, width, height);
    }
    EXPECT_EQ(mismatches, 0) << GetBlitStyleName(b) << " at depth " << depth << ", code " << code;
    // Outside the picture the window is black.
    const testing::Rgb edge = shot.at(winX + 2, winY + 2);
    EXPECT_LE(edge.r + edge.g + edge.b, 0) << GetBlitStyleName(b);
    CloseBlitBuffer(b);
    SDL_DestroyWindow(window);
  }
  // X11 always gives the window surface and the software renderer's styles.
  for (int32_t style : {1, 2, 6, 7, 8, 10})
    EXPECT_NE(std::find(given.begin(), given.end(), style), given.end()) << "style " << style;
  std::string list;
  for (int32_t s : given) list += " " + std::to_string(s);
  RecordProperty("styles_given", list);
  printf("depth %d: styles given:%s\n", depth, list.c_str());
}

INSTANTIATE_TEST_SUITE_P(Depths, RealWindow, ::testing::Values(24, 16));

// ---- A decoded frame against kivdump's picture of it -------------------------

std::string BuildDir() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "";
  self[n] = 0;
  std::string path(self);
  path = path.substr(0, path.rfind('/'));  // .../tests
  return path.substr(0, path.rfind('/'));
}

// A movie of three frames of colour gradients and blocks, made with the
// encoder.
constexpr uint32_t kMovieWidth = 96, kMovieHeight = 64;

std::string WriteGradientMovie() {
  encode::EncoderSettings settings;
  settings.width = kMovieWidth;
  settings.height = kMovieHeight;
  encode::VideoEncoder encoder;
  std::string error;
  if (!encode::OpenVideoEncoder(encoder, settings, &error)) return "";
  encode::MovieLayout layout;
  layout.width = kMovieWidth;
  layout.height = kMovieHeight;
  std::vector<encode::FramePacket> packets(3);
  encode::SourcePicture picture;
  picture.width = kMovieWidth;
  picture.height = kMovieHeight;
  picture.luma.resize(size_t(kMovieWidth) * kMovieHeight);
  const uint32_t cw = kMovieWidth / 2, ch = kMovieHeight / 2;
  picture.cr.resize(size_t(cw) * ch);
  picture.cb.resize(size_t(cw) * ch);
  for (uint32_t f = 0; f < 3; ++f) {
    // Colours inside what RGB holds: a renderer's YUV conversion may wrap
    // where it should saturate, which is not the rounding looked for here.
    for (uint32_t y = 0; y < kMovieHeight; ++y)
      for (uint32_t x = 0; x < kMovieWidth; ++x)
        picture.luma[y * kMovieWidth + x] = uint8_t(70 + (x + y * 2 + f * 20) % 120);
    for (uint32_t y = 0; y < ch; ++y)
      for (uint32_t x = 0; x < cw; ++x) {
        picture.cr[y * cw + x] = uint8_t(100 + (x * 2 + f * 9) % 56);
        picture.cb[y * cw + x] = uint8_t(((x / 4 + y / 4) % 2) ? 100 + y : 156 - y);
      }
    bool isKey = false;
    if (!encode::EncodeVideoFrame(encoder, picture, f == 0, packets[f].video, &isKey, &error)) return "";
    packets[f].key = isKey;
  }
  return test::WriteTestFile("screen_gradient.kiv", encode::BuildMovie(layout, packets));
}

bool ReadPngXrgb(const std::string& path, std::vector<uint32_t>* out, uint32_t* width, uint32_t* height) {
#if KIVO_HAVE_PNG
  png_image image;
  memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) {
    png_image_free(&image);
    return false;
  }
  *width = image.width;
  *height = image.height;
  out->resize(size_t(image.width) * image.height);
  for (size_t i = 0; i < out->size(); ++i)
    (*out)[i] = uint32_t(rgb[3 * i]) << 16 | uint32_t(rgb[3 * i + 1]) << 8 | rgb[3 * i + 2];
  return true;
#else
  (void)path, (void)out, (void)width, (void)height;
  return false;
#endif
}

// The largest channel difference between the shown picture at (x0, y0) and
// the expected one.
int WorstDifference(const Shown& shown, int x0, int y0, const std::vector<uint32_t>& want, uint32_t width,
                    uint32_t height) {
  int worst = 0;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      const int px = x0 + int(x), py = y0 + int(y);
      if (px >= shown.width || py >= shown.height) return 256;
      const testing::Rgb a = shown.at(px, py), b = testing::FromXrgb(want[size_t(y) * width + x]);
      worst = std::max({worst, abs(a.r - b.r), abs(a.g - b.g), abs(a.b - b.b)});
    }
  return worst;
}

class DecodedFrameOnScreen : public ::testing::TestWithParam<int> {};

TEST_P(DecodedFrameOnScreen, EveryStyleShowsWhatKivdumpConverts) {
  if (system("command -v Xvfb >/dev/null && command -v import >/dev/null") != 0)
    GTEST_SKIP() << "Xvfb and ImageMagick's import are needed (scripts/install-deps)";
  const std::string kivdump = BuildDir() + "/tools/kivdump";
  if (access(kivdump.c_str(), X_OK) != 0) GTEST_SKIP() << "no kivdump built";
  const std::string movie = WriteGradientMovie();
  ASSERT_FALSE(movie.empty());
  const std::string pngFolder = test::TestFolder() + "/screen_gradient_png";
  mkdir(pngFolder.c_str(), 0755);
  ASSERT_EQ(system((kivdump + " " + movie + " --png " + pngFolder + " >/dev/null 2>&1").c_str()), 0);
  std::vector<uint32_t> want;
  uint32_t pngWidth = 0, pngHeight = 0;
  if (!ReadPngXrgb(pngFolder + "/frame00003.png", &want, &pngWidth, &pngHeight))
    GTEST_SKIP() << "kivdump's PNG cannot be read (no libpng)";
  ASSERT_EQ(pngWidth, kMovieWidth);
  ASSERT_EQ(pngHeight, kMovieHeight);

  const int depth = GetParam();
  PrivateXServer server(depth);
  ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
  setenv("DISPLAY", server.display().c_str(), 1);
  testing::DriverAllocationsIgnored driverMemory;
  testing::SdlVideo video("x11");
  ASSERT_TRUE(video.ok()) << SDL_GetError();
  const char* keep = getenv("KIVO_SCREENSHOT_DIR");
  Movie* m = OpenMovie(movie.c_str(), 0);
  ASSERT_NE(m, nullptr);
  for (int frame = 1; frame <= 3; ++frame) {
    DoFrame(m);
    if (frame < 3) NextFrame(m);
  }

  const int winX = 32, winY = 40, picX = 4, picY = 6;
  int given = 0;
  for (int32_t i = 0, style; (style = GetBlitStyleListEntry(i, nullptr, nullptr)) >= 0; ++i) {
    SDL_Window* window = SDL_CreateWindow("Kivo frame test", winX, winY, int(kMovieWidth) + 2 * picX,
                                          int(kMovieHeight) + 2 * picY, SDL_WINDOW_BORDERLESS | SDL_WINDOW_HIDDEN);
    ASSERT_NE(window, nullptr) << SDL_GetError();
    BlitBuffer* b = OpenBlitBuffer(window, kMovieWidth, kMovieHeight, uint32_t(style));
    if (!b || b->style != style) {
      CloseBlitBuffer(b);
      SDL_DestroyWindow(window);
      continue;
    }
    ++given;
    WaitUntilShown(window);
    SetBlitPosition(b, picX, picY);
    ASSERT_TRUE(LockBlitBuffer(b));
    EXPECT_EQ(CopyToBuffer(m, b->lockedPointer, b->lockedPitch, b->height, 0, 0, b->flags | kBlitFullCopy), 0);
    UnlockBlitBuffer(b);
    const int32_t code = int32_t(b->flags & kBlitCodeMask);
    // The renderer's own YUV conversion, and 16-bit fields, round.
    const int tolerance = (code >= kDestYuy2 ? 6 : 0) + (depth == 16 ? 8 : 0);
    int worst = 256;
    for (int attempt = 0; attempt < 5 && worst > tolerance; ++attempt) {
      BlitRects(b, nullptr, 1);
      SDL_PumpEvents();
      std::string file;
      if (keep) file = std::string(keep) + "/frame-depth" + std::to_string(depth) + "-style" + std::to_string(style) + ".png";
      Shown shot;
      ASSERT_TRUE(Screenshot(server.display(), &shot, keep ? file.c_str() : nullptr));
      worst = WorstDifference(shot, winX + picX, winY + picY, want, kMovieWidth, kMovieHeight);
    }
    EXPECT_LE(worst, tolerance) << GetBlitStyleName(b) << " at depth " << depth << ", code " << code;
    CloseBlitBuffer(b);
    SDL_DestroyWindow(window);
  }
  CloseMovie(m);
  EXPECT_GE(given, 6);
}

INSTANTIATE_TEST_SUITE_P(Depths, DecodedFrameOnScreen, ::testing::Values(24, 16));

}  // namespace
}  // namespace kivo
