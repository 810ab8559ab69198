// Real windows on a private X server: every style the machine can give opens
// a window, shows a known picture, and a screenshot of the screen must show
// that picture (within the rounding of 16-bit fields and of the renderer's
// own YUV conversion). Set KIVO_SCREENSHOT_DIR to keep the screenshots.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "display/blit_buffer.h"
#include "display/pixel_layout.h"
#include "display/sdl/sdl_video.h"

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
  for (int32_t style = 1; style <= 10; ++style) {
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

}  // namespace
}  // namespace kivo
