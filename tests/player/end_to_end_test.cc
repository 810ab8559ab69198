// SPDX-License-Identifier: BSD-2-Clause
// The Linux player itself on a private X server: what reaches the screen
// mid-movie and during the logo against kivdump's pictures of the same
// frames, the statistics line over every blitting style, the keys sent from
// outside, the summary box and the exit code. Skipped where the X server or
// its tools are missing. A soak run (KIVO_SOAK_SECONDS) loops a movie and
// checks that the player's memory stays flat.
#include <gtest/gtest.h>

#if !defined(_WIN32)

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "player/e2e_support.h"
#include "player/logo_movie.h"
#include "support/test_movies.h"

namespace kivo {
namespace {

using e2e::BuildDir;
using e2e::Child;
using e2e::OnPath;
using e2e::Pause;
using e2e::Rgb;
using e2e::Screenshot;
using e2e::XServer;

// The frame of `frames` shown at (x, y) of the screen, -1 for none.
int FrameOnScreen(const Rgb& screen, const std::vector<Rgb>& frames, int x, int y, int tolerance = 0) {
  for (size_t i = 0; i < frames.size(); ++i)
    if (screen.Distance(frames[i], x, y) <= tolerance) return int(i);
  return -1;
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    build = BuildDir();
    player = build + "/player/kivoplay";
    demo = build + "/samples/demo.kiv";
    if (access(player.c_str(), X_OK) != 0 || access(demo.c_str(), R_OK) != 0) GTEST_SKIP() << "no player built";
    for (const char* tool : {"Xvfb", "import", "xdotool", "xwininfo"})
      if (!OnPath(tool)) GTEST_SKIP() << tool << " is missing";
    ASSERT_TRUE(x.Start());
    folder = test::TestFolder();
    // A profile of the test's own, with the version check done today.
    env = {"DISPLAY=" + x.display,  "SDL_VIDEODRIVER=x11",           "SDL_VIDEO_DRIVER=x11",
           "SDL_AUDIODRIVER=disk",  "SDL_AUDIO_DRIVER=disk",         "SDL_DISKAUDIOFILE=" + folder + "/e2e_audio.raw",
           "SDL_DISKAUDIODELAY=46", "XDG_CONFIG_HOME=" + folder + "/e2e_profile",
           "LSAN_OPTIONS=suppressions=" + folder + "/e2e_lsan.supp"};
    // Under the leak checker: what the desktop's own libraries keep is theirs.
    std::ofstream(folder + "/e2e_lsan.supp") << "leak:libdbus-1.so\nleak:libX11.so\n";
    e2e::WriteQuietProfile(folder + "/e2e_profile");
    // The pictures to find on the screen, as kivdump writes them; made once.
    static std::vector<Rgb> demoFrames, logoFrames;
    if (demoFrames.empty()) demoFrames = e2e::DumpedFrames(demo, folder + "/e2e_demo_png");
    if (logoFrames.empty()) {
      const auto* logoBytes = static_cast<const uint8_t*>(BuiltInLogoMovie());
      const std::string logoMovie =
          test::WriteTestFile("e2e_logo.kiv", std::vector<uint8_t>(logoBytes, logoBytes + BuiltInLogoSize()));
      logoFrames = e2e::DumpedFrames(logoMovie, folder + "/e2e_logo_png");
    }
    frames = demoFrames;
    logo = logoFrames;
    ASSERT_EQ(frames.size(), 50u) << "kivdump --png of the demo movie";
    ASSERT_EQ(logo.size(), 1u) << "kivdump --png of the logo";
  }

  // By the window list: the name of SDL's message boxes is in a text type
  // that a search by name does not read.
  std::string WindowOf(const char* name, int timeoutMs) {
    const std::string quoted = std::string("\"") + name + "\"";
    for (int waited = 0; waited < timeoutMs; waited += 50) {
      std::istringstream tree(x.Run("xwininfo -root -children"));
      std::string line;
      while (std::getline(tree, line)) {
        const size_t at = line.find(quoted);
        if (at == std::string::npos) continue;
        std::istringstream words(line);
        std::string id;
        words >> id;
        return id;
      }
      Pause(50);
    }
    return "";
  }

  void Key(const std::string& window, const char* key) { x.Run("xdotool key --window " + window + " " + key); }

  // Screenshots until `wanted` holds of one (true) or `timeoutMs` is over;
  // the last one in *screen. A loaded machine may be slow to draw.
  template <typename Test>
  bool WaitForScreen(Test wanted, int timeoutMs, Rgb* screen) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      if (!Screenshot(x, folder + "/e2e_screen.ppm", screen)) return false;
      if (wanted(*screen)) return true;
      if (std::chrono::steady_clock::now() >= end) return false;
      Pause(50);
    }
  }
  bool LogoShown(const Rgb& screen) const { return screen.SameAs(logo[0], (1024 - 224) / 2, (768 - 252) / 2); }

  std::string build, player, demo, folder;
  std::vector<std::string> env;
  XServer x;
  std::vector<Rgb> frames, logo;
};

TEST_F(EndToEnd, PlaysTheMovieThenTheLogoThenShowsTheSummary) {
  Child run;
  ASSERT_TRUE(run.Start({player, demo, "/X0", "/Y0", "/S"}, env, folder + "/e2e_play.txt"));
  Rgb screen;
  const auto midMovie = [&](const Rgb& shot) {
    const int shown = FrameOnScreen(shot, frames, 0, 0);
    return shown > 0 && shown < 49;
  };
  EXPECT_TRUE(WaitForScreen(midMovie, 8000, &screen)) << "no frame of the movie at the window's place";

  // Once the movie has ended: the logo, centred on the screen, until the box.
  bool logoSeen = false;
  std::string box;
  for (int waited = 0; waited < 8000 && box.empty(); waited += 150) {
    ASSERT_TRUE(Screenshot(x, folder + "/e2e_logo.ppm", &screen));
    logoSeen = logoSeen || LogoShown(screen);
    box = WindowOf("Kivo Playback Summary", 1);
    Pause(150);
  }
  EXPECT_TRUE(logoSeen);
  ASSERT_FALSE(box.empty()) << run.Errors();
  Key(box, "Return");
  EXPECT_EQ(run.Wait(30000), 0);

  const std::string text = run.Errors();
  const std::string head =
      "Kivo Playback Summary:\nVideo: 320 x 240 at 25.0 frames/sec\nTotal frames: 50\n\nTotal frames played: 50\n"
      "Frame rate played: 25.0 frames/sec\n";
  ASSERT_NE(text.find(head), std::string::npos) << text;
  const std::regex format(
      "Frame rate obtained: \\d+\\.\\d frames/sec\nSkipped frames: \\d+\nSkipped blits: \\d+\nSound skips: \\d+\n\n"
      "(Percentage spent [a-z ]+: \\d+\\.\\d\n){6}Speed of playback device: -?\\d+ bytes/sec\n\n"
      "Total playback time: \\d+ seconds?\nTotal open time: \\d+ milliseconds?\n"
      "Slowest frame: \\d+ \\(\\d+\\.\\d frames/sec\\)\nSecond slowest frame: \\d+ \\(\\d+\\.\\d frames/sec\\)\n\n"
      "Average data rate: \\d+\nAverage frame size: \\d+\nPeak data rate: \\d+ bytes/sec \\(frame: \\d+\\)\n\n"
      "Total memory used: \\d+\nTotal input memory: \\d+\nHighest input memory used: \\d+\n\n"
      "Blitting style: SDL [a-zA-Z0-9 ,]+\nVideo mode: 1024 x 768 at (24|32) bits\n");
  EXPECT_TRUE(std::regex_search(text.substr(text.find(head) + head.size()), format,
                                std::regex_constants::match_continuous))
      << text;
}

TEST_F(EndToEnd, KeysPauseStepResumeAndQuit) {
  Child run;
  ASSERT_TRUE(run.Start({player, demo, "/X0", "/Y0", "/L"}, env, folder + "/e2e_keys.txt"));
  // The title names the movie.
  const std::string window = WindowOf("demo.kiv \xE2\x80\x94 Kivo Player", 20000);
  ASSERT_FALSE(window.empty());
  Rgb a, b;
  const auto playing = [&](const Rgb& shot) { return FrameOnScreen(shot, frames, 0, 0) >= 0; };
  ASSERT_TRUE(WaitForScreen(playing, 8000, &a));
  Key(window, "space");
  // The key takes effect when the loaded machine gets to it: paused is the
  // frame that stays, and then stays for another half second.
  int paused = -1;
  for (int waited = 0; waited < 15000; waited += 300) {
    Pause(300);
    ASSERT_TRUE(Screenshot(x, folder + "/e2e_a.ppm", &a));
    const int shown = FrameOnScreen(a, frames, 0, 0);
    if (shown >= 0 && shown == paused) break;
    paused = shown;
  }
  Pause(500);
  ASSERT_TRUE(Screenshot(x, folder + "/e2e_b.ppm", &b));
  ASSERT_GE(paused, 0);
  EXPECT_EQ(FrameOnScreen(b, frames, 0, 0), paused) << "the picture moved on while paused";

  Key(window, "Return");  // one frame on, and no more
  const int next = (paused + 1) % 50;
  EXPECT_TRUE(WaitForScreen([&](const Rgb& shot) { return FrameOnScreen(shot, frames, 0, 0) == next; }, 15000, &b));
  Pause(500);
  ASSERT_TRUE(Screenshot(x, folder + "/e2e_c.ppm", &b));
  EXPECT_EQ(FrameOnScreen(b, frames, 0, 0), next);

  Key(window, "space");   // playing again
  const auto movedOn = [&](const Rgb& shot) {
    const int shown = FrameOnScreen(shot, frames, 0, 0);
    return shown >= 0 && shown != next;
  };
  EXPECT_TRUE(WaitForScreen(movedOn, 15000, &b));

  Key(window, "Escape");  // the logo at once, although the movie loops forever
  EXPECT_TRUE(WaitForScreen([&](const Rgb& shot) { return LogoShown(shot); }, 2000, &b));
  EXPECT_EQ(run.Wait(30000), 0);
}

class EncodedMovie : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    const std::string encoder = build + "/tools/kivenc";
    if (access(encoder.c_str(), X_OK) != 0) GTEST_SKIP() << "no encoder built";
    movie = folder + "/e2e_encoded.kiv";
    static std::vector<Rgb> dumped;
    if (dumped.empty()) {
      e2e::WriteStripesY4m(folder + "/e2e_stripes.y4m", 160, 120, 50);
      e2e::WriteToneWav(folder + "/e2e_tone.wav", 22050, 2);
      const std::string command = encoder + " " + folder + "/e2e_stripes.y4m --audio 0:" + folder +
                                  "/e2e_tone.wav -o " + movie + " >/dev/null 2>&1";
      ASSERT_EQ(system(command.c_str()), 0);
      dumped = e2e::DumpedFrames(movie, folder + "/e2e_encoded_png");
    }
    encodedFrames = dumped;
    ASSERT_EQ(encodedFrames.size(), 50u);
  }
  std::string movie;
  std::vector<Rgb> encodedFrames;
};

TEST_F(EncodedMovie, TheScreenMidMovieIsADumpedFrame) {
  Child run;
  ASSERT_TRUE(run.Start({player, movie, "/X0", "/Y0"}, env, folder + "/e2e_encoded.txt"));
  Rgb screen;
  const auto midMovie = [&](const Rgb& shot) {
    const int shown = FrameOnScreen(shot, encodedFrames, 0, 0);
    return shown > 0 && shown < 49;
  };
  EXPECT_TRUE(WaitForScreen(midMovie, 8000, &screen));
  run.Signal(SIGTERM);  // a quit from outside: ended by the signal within a second, no logo
  EXPECT_EQ(run.Wait(1000), -2) << run.Errors();
}

TEST_F(EncodedMovie, DotGoesOnToTheNextMovieAndDoesNothingDuringTheLogo) {
  // A first movie of ten seconds, then the stripes, then the logo.
  const std::string first = test::WriteTestFile("e2e_long.kiv", e2e::WrittenSoundMovie(230));
  ASSERT_FALSE(first.empty());
  Child run;
  ASSERT_TRUE(run.Start({player, first, movie, "/X0", "/Y0"}, env, folder + "/e2e_dot.txt"));
  const std::string window = WindowOf("e2e_long.kiv \xE2\x80\x94 Kivo Player", 20000);
  ASSERT_FALSE(window.empty());
  Pause(500);
  Rgb screen;
  const auto second = [&](const Rgb& shot) { return FrameOnScreen(shot, encodedFrames, 0, 0) >= 0; };
  ASSERT_TRUE(Screenshot(x, folder + "/e2e_dot_a.ppm", &screen));
  ASSERT_FALSE(second(screen));
  Key(window, "period");
  EXPECT_TRUE(WaitForScreen(second, 10000, &screen)) << "the second movie is not shown";

  // The stripes last two seconds; the logo follows and stays its time.
  const bool logoSeen = WaitForScreen([&](const Rgb& shot) { return LogoShown(shot); }, 6000, &screen);
  ASSERT_TRUE(logoSeen);
  Key(window, "period");
  Pause(600);
  ASSERT_TRUE(Screenshot(x, folder + "/e2e_dot_d.ppm", &screen));
  EXPECT_TRUE(LogoShown(screen)) << "the logo went early";
  EXPECT_EQ(run.Wait(30000), 0);
}

// The statistics line with /Q over each blitting style: yellow text on black
// in a band above the picture, still there frames later, the picture below it.
class StatisticsLine : public EndToEnd, public ::testing::WithParamInterface<int> {};

TEST_P(StatisticsLine, ShownAboveThePictureOnEveryStyle) {
  const int style = GetParam();
  Child run;
  const std::string err = folder + "/e2e_stats" + std::to_string(style) + ".txt";
  // A renderer brings in driver libraries that SDL unloads at the end; what
  // they keep cannot be told from ours then, so the leak check is left out.
  std::vector<std::string> styleEnv = env;
  if (style != 1) styleEnv.insert(styleEnv.begin(), "LSAN_OPTIONS=detect_leaks=0");
  // /L keeps the two-second demo going however slowly a loaded machine
  // brings the first screen up.
  ASSERT_TRUE(run.Start({player, demo, "/L", "/Q", "/B" + std::to_string(style), "/X0", "/Y0"}, styleEnv, err));
  // The band is the sample text's width plus 8 (6-pixel cells of the
  // built-in font, 10 high); the 320-wide picture is centred under it.
  const int bandWidth = 100 * 6 + 8, bandHeight = 10, pictureX = ((bandWidth - 320) / 2) & ~3;
  // The YUV textures are converted by the renderer: its own rounding.
  const int tolerance = style >= 3 && style <= 8 ? 6 : 0;
  const auto lineAndPicture = [&](const Rgb& screen) {
    int yellow = 0, other = 0;
    for (int y = 0; y < bandHeight; ++y)
      for (int px = 0; px < bandWidth; ++px) {
        const uint8_t* c = screen.at(px, y);
        if (c[0] == 255 && c[1] == 255 && c[2] == 0)
          ++yellow;
        else if (c[0] | c[1] | c[2])
          ++other;
      }
    return yellow > 300 && other == 0 && FrameOnScreen(screen, frames, pictureX, bandHeight, tolerance) >= 0;
  };
  Rgb screen;
  EXPECT_TRUE(WaitForScreen(lineAndPicture, 8000, &screen)) << "style " << style;
  // Frames later: still there.
  Pause(400);
  EXPECT_TRUE(WaitForScreen(lineAndPicture, 8000, &screen)) << "style " << style << ", frames later";
  run.Signal(SIGTERM);  // a quit from outside: ended by the signal
  EXPECT_EQ(run.Wait(3000), -2) << run.Errors();
}

INSTANTIATE_TEST_SUITE_P(Styles, StatisticsLine, ::testing::Values(1, 2, 3, 6, 7, 8, 9, 10));

TEST_F(EndToEnd, AMissingMovieIsAnErrorBoxThatASignalEnds) {
  Child run;
  const std::string missing = folder + "/e2e_no_such_movie.kiv";
  ASSERT_TRUE(run.Start({player, missing}, env, folder + "/e2e_error.txt"));
  const std::string box = WindowOf("Kivo Error", 15000);
  ASSERT_FALSE(box.empty()) << run.Errors();
  Rgb screen;
  ASSERT_TRUE(Screenshot(x, folder + "/e2e_error_box.ppm", &screen));
  // The box's text is the line on standard error, once.
  EXPECT_EQ(run.Errors(), "kivoplay: " + missing + ": No such file or directory\n");
  // A box holds the thread: the signal still ends the program (a second
  // is the bound, not a measure of speed).
  run.Signal(SIGTERM);
  EXPECT_EQ(run.Wait(1000), -2);
  EXPECT_TRUE(WindowOf("Kivo Error", 1).empty()) << "the box outlived the player";
}

TEST_F(EndToEnd, WithoutAMovieTheWindowAsksForDroppedMoviesAndASignalEndsIt) {
  Child run;
  // No terminal: standard input from nowhere (the shell takes the last of
  // twice-given variables, so the display's are given again).
  ASSERT_TRUE(run.Start({"/bin/sh", "-c",
                         "exec env SDL_VIDEODRIVER=x11 SDL_VIDEO_DRIVER=x11 DISPLAY=\"$1\" \"$0\" </dev/null", player,
                         x.display},
                        env, folder + "/e2e_drop.txt"));
  const std::string window = WindowOf("Kivo Player", 20000);
  ASSERT_FALSE(window.empty()) << run.Errors();
  // The text is drawn white on dark grey in a 480 x 270 window centred on
  // the screen.
  const int left = (1024 - 480) / 2, top = (768 - 270) / 2;
  const auto text = [&](const Rgb& shot) {
    int white = 0;
    for (int y = top; y < top + 135; ++y)
      for (int px = left; px < left + 480; ++px) white += shot.at(px, y)[0] == 255 && shot.at(px, y)[2] == 255;
    return white > 200 && shot.at(left + 4, top + 4)[0] == 0x20;
  };
  Rgb screen;
  EXPECT_TRUE(WaitForScreen(text, 8000, &screen));
  run.Signal(SIGTERM);
  EXPECT_EQ(run.Wait(1000), -2);
}

TEST_F(EndToEnd, CtrlOChoosesMoviesThatThenPlayUnderTheirName) {
  // Choosers of the test's own on the PATH, whatever the session has: a bus
  // without the portal, and zenity answering with the demo movie.
  const std::string bin = folder + "/e2e_chooser";
  mkdir(bin.c_str(), 0755);
  std::ofstream(bin + "/gdbus") << "#!/bin/sh\necho 'The name org.freedesktop.portal.Desktop does not have an owner'\n"
                                   "exec sleep 60\n";
  std::ofstream(bin + "/zenity") << "#!/bin/sh\nprintf '%s\\n' '" << demo << "'\n";
  for (const char* tool : {"/gdbus", "/zenity"}) chmod((bin + tool).c_str(), 0755);
  // The demo plays in the automatic style, whose renderer brings in driver
  // libraries that SDL unloads at the end: what they keep cannot be told from
  // ours then, so the leak check is left out.
  Child run;
  ASSERT_TRUE(run.Start({"/bin/sh", "-c",
                         "exec env SDL_VIDEODRIVER=x11 SDL_VIDEO_DRIVER=x11 DISPLAY=\"$2\" PATH=\"$1:$PATH\" "
                         "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent LSAN_OPTIONS=detect_leaks=0 \"$0\" </dev/null",
                         player, bin, x.display},
                        env, folder + "/e2e_chooser.txt"));
  const std::string window = WindowOf("Kivo Player", 20000);
  ASSERT_FALSE(window.empty()) << run.Errors();
  Key(window, "ctrl+o");
  EXPECT_FALSE(WindowOf("demo.kiv \xE2\x80\x94 Kivo Player", 20000).empty()) << run.Errors();
  Rgb screen;
  EXPECT_TRUE(WaitForScreen([&](const Rgb& shot) { return LogoShown(shot); }, 10000, &screen));
  EXPECT_EQ(run.Wait(30000), 0) << run.Errors();
}

long ResidentKilobytes(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmRSS:", 0) == 0) return atol(line.c_str() + 6);
  return -1;
}

TEST(Soak, LoopingForLongKeepsMemoryFlat) {
  const char* seconds = getenv("KIVO_SOAK_SECONDS");
  if (!seconds || atoi(seconds) <= 0) GTEST_SKIP() << "set KIVO_SOAK_SECONDS to run";
  const std::string build = BuildDir();
  e2e::WriteQuietProfile(test::TestFolder() + "/soak_profile");
  Child run;
  ASSERT_TRUE(run.Start({build + "/player/kivoplay", build + "/samples/demo.kiv", "/L"},
                        {"SDL_VIDEODRIVER=dummy", "SDL_VIDEO_DRIVER=dummy", "SDL_AUDIODRIVER=dummy",
                         "SDL_AUDIO_DRIVER=dummy", "XDG_CONFIG_HOME=" + test::TestFolder() + "/soak_profile"},
                        test::TestFolder() + "/soak.txt"));
  const int total = atoi(seconds);
  const int warm = total / 10 > 2 ? total / 10 : 2;
  Pause(warm * 1000);
  const long first = ResidentKilobytes(run.pid);
  long peak = first;
  for (int s = warm; s < total; ++s) {
    Pause(1000);
    const long now = ResidentKilobytes(run.pid);
    ASSERT_GT(now, 0) << "the player ended: " << run.Errors();
    if (now > peak) peak = now;
  }
  EXPECT_LT(peak - first, 1024) << "from " << first << " kB to " << peak << " kB";
}

}  // namespace
}  // namespace kivo

#endif  // !_WIN32
