// KivoPlay.exe itself under Wine: a movie made by kivenc played to its end
// with the summary box read and dismissed, the picture on the screen
// mid-movie, the help text and the error boxes, the keys posted to the
// window, the version check and its profile key, and a self-playing copy
// made by kivbundle. Skipped without a display.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "player/version_check.h"
#include "winplayer/player_process.h"

#include <windows.h>

namespace kivo::wintest {
namespace {

constexpr char kSummaryCaption[] = "Kivo Playback Summary";
constexpr char kErrorCaption[] = "Kivo Error";
constexpr char kPlayerClass[] = "KivoWin";
constexpr int kMovieFrames = 50;  // two seconds at 25 frames per second

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string TodayText() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  char text[kDateTextSize];
  FormatDate(text, t.wYear, t.wMonth, t.wDay);
  return text;
}

// The summary's line that starts with `name`, without the line feed.
std::string SummaryLine(const std::string& summary, const std::string& name) {
  const size_t at = summary.find("\n" + name);
  if (at == std::string::npos) return "";
  const size_t end = summary.find('\n', at + 1);
  return summary.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
}

class WinPlayer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder = FilesFolder();
    player = BuildFolder() + "\\player\\KivoPlay.exe";
    movie = folder + "\\stripes.kiv";
    if (GetFileAttributesA(movie.c_str()) != INVALID_FILE_ATTRIBUTES) DeleteFileA(movie.c_str());
    const std::string video = folder + "\\stripes.y4m", sound = folder + "\\tone.wav";
    if (!WriteStripesY4m(video, 160, 120, kMovieFrames) || !WriteToneWav(sound, 22050, 2000)) return;
    const std::string encoder = BuildFolder() + "\\tools\\kivenc.exe";
    RunToEnd(encoder, Quoted(video) + " --audio 1:" + Quoted(sound) + " --quiet -o " + Quoted(movie), 120000);
  }

  void SetUp() override {
    if (!HaveDisplay()) GTEST_SKIP() << "no display for the player's window";
    ASSERT_NE(GetFileAttributesA(player.c_str()), INVALID_FILE_ATTRIBUTES) << player;
    ASSERT_NE(GetFileAttributesA(movie.c_str()), INVALID_FILE_ATTRIBUTES) << "kivenc made no movie";
    // Checked today already: no question comes between the tests and the movie.
    SetLastVersionCheck("9999-12-31");
  }

  // Waits for the box, reads it and presses `button`; "" when none came.
  static std::string AnswerBox(const ChildProcess& run, const char* caption, int button, uint32_t ms) {
    void* box = FindProcessWindow(run, caption, "#32770", ms);
    if (!box) return "";
    Sleep(100);  // its controls are filled in once it is shown
    const std::string text = BoxText(box);
    PressBoxButton(box, button);
    return text;
  }

  static std::string folder, player, movie;
};

std::string WinPlayer::folder, WinPlayer::player, WinPlayer::movie;

TEST_F(WinPlayer, PlaysAnEncodedMovieToItsEndAndShowsTheSummary) {
  const std::vector<Picture> frames = DecodedFrames(movie);
  ASSERT_EQ(frames.size(), size_t(kMovieFrames));
  ChildProcess run;
  ASSERT_TRUE(run.Start(player, Quoted(movie) + " /S /X0 /Y0"));
  void* window = FindProcessWindow(run, "Kivo Video Player", kPlayerClass, 10000);
  ASSERT_NE(window, nullptr);
  Sleep(1000);
  Picture screen;
  int x = 0, y = 0;
  const bool captured = ClientOrigin(window, &x, &y) && CaptureScreen(&screen);

  const std::string summary = AnswerBox(run, kSummaryCaption, IDOK, 15000);
  ASSERT_FALSE(summary.empty()) << "no summary box";
  EXPECT_EQ(run.Wait(10000), 0);
  EXPECT_EQ(summary.rfind("Video: 160 x 120 at 25.0 frames/sec\nTotal frames: 50\n\nTotal frames played: 50\n"
                          "Frame rate played: 25.0 frames/sec\n",
                          0),
            0u)
      << summary;
  EXPECT_EQ(SummaryLine(summary, "Sound skips:"), "Sound skips: 0") << summary;
  EXPECT_NE(SummaryLine(summary, "Total playback time:").find("second"), std::string::npos) << summary;
  const std::string style = SummaryLine(summary, "Blitting style:");
  ASSERT_FALSE(style.empty()) << summary;

  // The memory buffer never reaches the screen: there is no picture to check.
  if (style == "Blitting style: Memory buffer") GTEST_SKIP() << "no display style in this build";
  ASSERT_TRUE(captured);
  const int shown = FrameOnScreen(screen, frames, x, y);
  EXPECT_GT(shown, 0) << "no frame of the movie at the window's client area (" << style << ")";
  EXPECT_LT(shown, kMovieFrames - 1);
}

TEST_F(WinPlayer, HelpTextForAnEmptyListOrALeftOverSwitch) {
  for (const char* arguments : {"", "/Px"}) {
    ChildProcess run;
    ASSERT_TRUE(run.Start(player, arguments));
    const std::string help = AnswerBox(run, "Kivo Video Player Help", IDOK, 10000);
    EXPECT_EQ(help.rfind("KivoPlay  V 1.5a", 0), 0u) << arguments << ": " << help;
    EXPECT_NE(help.find("\n  SYNTAX: KivoPlay <Kivo1 Kivo2 ...> [/Switches]:\n"), std::string::npos) << help;
    EXPECT_NE(help.find("    /P  \t- Preload the entire Kivo video into memory.\n"), std::string::npos) << help;
    EXPECT_EQ(FindProcessWindow(run, "Kivo Video Player", kPlayerClass, 0), nullptr) << "a window before the help";
    EXPECT_EQ(run.Wait(10000), 1) << arguments;
  }
}

TEST_F(WinPlayer, OpenFailuresShowTheirTextAndEndWithCodeOne) {
  struct Case {
    std::string arguments, text;
  };
  const std::string notMovie = folder + "\\not_a_movie.kiv";
  std::ofstream(notMovie, std::ios::binary) << "This is no movie at all, only some text in a file.";
  const Case cases[] = {
      {Quoted(folder + "\\no_such_file|0"), "Error opening file."},
      {":0", "Not a Kivo file."},  // the program file itself holds no movie at its start
      {Quoted(notMovie), "Not a Kivo file."},
      {Quoted(folder + "\\no_such_movie"), "Error opening file."},
  };
  for (const Case& c : cases) {
    ChildProcess run;
    ASSERT_TRUE(run.Start(player, c.arguments));
    EXPECT_EQ(AnswerBox(run, kErrorCaption, IDOK, 10000), c.text) << c.arguments;
    EXPECT_EQ(run.Wait(10000), 1) << c.arguments;
  }
}

TEST_F(WinPlayer, AProgramFileThatCannotBeNamedIsAnExeError) {
  // The player takes its own path at its first 255 characters: a copy run
  // from a deeper place cannot open itself to read a movie stored inside.
  std::string deep = folder;
  const std::string step = "\\deep_folder_for_a_long_path";
  while (deep.size() + step.size() < 236) {
    deep += step;
    CreateDirectoryA(deep.c_str(), nullptr);
  }
  ASSERT_LT(deep.size(), 240u);
  const std::string copy = deep + "\\" + std::string(257 - deep.size() - 5, 'k') + ".exe";
  ASSERT_EQ(copy.size(), 257u);
  ASSERT_LT(copy.size(), size_t(MAX_PATH));
  ASSERT_TRUE(CopyFileA(player.c_str(), copy.c_str(), FALSE)) << copy;
  ChildProcess run;
  ASSERT_TRUE(run.Start(copy, ":1000"));
  EXPECT_EQ(AnswerBox(run, kErrorCaption, IDOK, 10000), "Error opening EXE file.");
  EXPECT_EQ(run.Wait(10000), 1);
}

TEST_F(WinPlayer, KeysSkipQuitAndAreDisabledByTheSwitch) {
  {
    // Two movies looping forever: '.' goes on to the next one, Esc ends it all.
    ChildProcess run;
    ASSERT_TRUE(run.Start(player, Quoted(movie) + " " + Quoted(movie) + " /L"));
    HWND window = static_cast<HWND>(FindProcessWindow(run, "Kivo Video Player", kPlayerClass, 10000));
    ASSERT_NE(window, nullptr);
    Sleep(500);
    PostMessageA(window, WM_CHAR, '.', 0);
    Sleep(1500);
    EXPECT_TRUE(run.Running()) << "the skip key ended the list";
    PostMessageA(window, WM_CHAR, 27, 0);
    EXPECT_EQ(run.Wait(8000), 0) << "Esc did not lead through the logo to the end";
  }
  {
    // With quit and skip disabled the keys do nothing; closing the window
    // from the system menu still ends the program.
    ChildProcess run;
    ASSERT_TRUE(run.Start(player, Quoted(movie) + " /L /U6"));
    HWND window = static_cast<HWND>(FindProcessWindow(run, "Kivo Video Player", kPlayerClass, 10000));
    ASSERT_NE(window, nullptr);
    Sleep(500);
    PostMessageA(window, WM_CHAR, 27, 0);
    PostMessageA(window, WM_CHAR, '.', 0);
    Sleep(3500);  // longer than the logo would be shown
    EXPECT_TRUE(run.Running()) << "a disabled key ended the movie";
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(run.Wait(8000), 0);
  }
}

TEST_F(WinPlayer, SpacePausesSoFewFramesArePlayed) {
  ChildProcess run;
  ASSERT_TRUE(run.Start(player, Quoted(movie) + " /L /S"));
  HWND window = static_cast<HWND>(FindProcessWindow(run, "Kivo Video Player", kPlayerClass, 10000));
  ASSERT_TRUE(WaitShown(window, 10000));
  Sleep(300);  // a few frames: a summary needs frames played
  PostMessageA(window, WM_CHAR, ' ', 0);
  Sleep(2500);  // 62 frames' time
  PostMessageA(window, WM_CHAR, 27, 0);
  const std::string summary = AnswerBox(run, kSummaryCaption, IDOK, 10000);
  EXPECT_EQ(run.Wait(8000), 0);
  const std::string played = SummaryLine(summary, "Total frames played:");
  ASSERT_FALSE(played.empty()) << summary;
  int count = -1;
  sscanf(played.c_str(), "Total frames played: %d", &count);
  EXPECT_GE(count, 1);
  EXPECT_LT(count, 40) << "the movie went on playing while paused";
}

TEST_F(WinPlayer, TheVersionCheckAsksWritesTheProfileAndGoesOnAfterNo) {
  SetLastVersionCheck("2000-01-01");
  ChildProcess run;
  ASSERT_TRUE(run.Start(player, Quoted(movie) + " /S"));
  void* box = FindProcessWindow(run, kVersionCheckCaption, "#32770", 10000);
  ASSERT_NE(box, nullptr);
  Sleep(100);
  EXPECT_EQ(BoxText(box), kVersionCheckQuestion);
  // Written before the question is asked.
  EXPECT_EQ(LastVersionCheck(), TodayText());
  PressBoxButton(box, IDNO);
  EXPECT_FALSE(AnswerBox(run, kSummaryCaption, IDOK, 15000).empty()) << "the movie was not played after No";
  EXPECT_EQ(run.Wait(10000), 0);

  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, sizeof windows);
  std::ifstream ini(std::string(windows) + "\\win.ini");
  std::stringstream text;
  text << ini.rdbuf();
  EXPECT_NE(text.str().find("[Orlo Video Tools]"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("LastVersionCheckDate=" + TodayText()), std::string::npos) << text.str();
}

TEST_F(WinPlayer, ASelfPlayingCopyPlaysTheMovieStoredInItself) {
  const std::string copy = folder + "\\self_playing.exe";
  DeleteFileA(copy.c_str());
  const std::string bundler = BuildFolder() + "\\tools\\kivbundle.exe";
  ASSERT_EQ(RunToEnd(bundler, Quoted(player) + " " + Quoted(movie) + " --switches /S -o " + Quoted(copy), 60000), 0);
  // The movie is found from the copy's own file, wherever the movie file is.
  const std::string moved = folder + "\\stripes_moved.kiv";
  ASSERT_TRUE(MoveFileExA(movie.c_str(), moved.c_str(), MOVEFILE_REPLACE_EXISTING));
  ChildProcess run;
  const bool started = run.Start(copy, "");
  const std::string summary = started ? AnswerBox(run, kSummaryCaption, IDOK, 15000) : "";
  const int code = started ? run.Wait(10000) : -2;
  MoveFileExA(moved.c_str(), movie.c_str(), MOVEFILE_REPLACE_EXISTING);
  ASSERT_TRUE(started);
  EXPECT_EQ(summary.rfind("Video: 160 x 120 at 25.0 frames/sec\nTotal frames: 50\n\nTotal frames played: 50\n", 0), 0u)
      << summary;
  EXPECT_EQ(code, 0);
}

}  // namespace
}  // namespace kivo::wintest
