// SPDX-License-Identifier: BSD-2-Clause
// KivoPlay.exe itself under Wine: a movie made by kivenc played to its end
// with the summary box read and dismissed, the picture on the screen
// mid-movie, the help text and the error boxes, the keys posted to the
// window, the version check and its profile key, a self-playing copy made by
// kivbundle, and a picture larger than the screen. Skipped without a display.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kivo/display.h"
#include "player/command_line.h"
#include "player/version_check.h"
#include "winplayer/player_process.h"

#include <windows.h>
#include <ddraw.h>

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

int ScreenBits() {
  HDC screen = GetDC(nullptr);
  const int bits = GetDeviceCaps(screen, BITSPIXEL);
  ReleaseDC(nullptr, screen);
  return bits;
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
    RunToEnd(encoder, Quoted(video) + " --audio 0:" + Quoted(sound) + " --quiet -o " + Quoted(movie), 120000);
  }

  void SetUp() override {
    if (!HaveDisplay()) GTEST_SKIP() << "no display for the player's window";
    ASSERT_NE(GetFileAttributesA(player.c_str()), INVALID_FILE_ATTRIBUTES) << player;
    ASSERT_NE(GetFileAttributesA(movie.c_str()), INVALID_FILE_ATTRIBUTES) << "kivenc made no movie";
    // Checked today already: no question comes between the tests and the movie.
    SetLastVersionCheck("9999-12-31");
  }

  // The player shows nothing on a screen of 256 colours or fewer.
  bool ColourScreen() const { return ScreenBits() >= 16; }

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
  if (!ColourScreen()) GTEST_SKIP() << "a screen of 256 colours: nothing can be played";
  ChildProcess run;
  ASSERT_TRUE(run.Start(player, Quoted(movie) + " /S"));
  void* box = FindProcessWindow(run, kSummaryCaption, "#32770", 15000);
  ASSERT_NE(box, nullptr) << "no summary box";
  // The box waits for its answer, and the program for the box.
  Sleep(1500);
  EXPECT_TRUE(IsWindow(static_cast<HWND>(box))) << "the summary box ended by itself";
  EXPECT_TRUE(run.Running());
  const std::string summary = BoxText(box);
  PressBoxButton(box, IDOK);
  ASSERT_FALSE(summary.empty()) << "the summary box ended before it was read";
  EXPECT_EQ(run.Wait(10000), 0);
  EXPECT_EQ(summary.rfind("Video: 160 x 120 at 25.0 frames/sec\nTotal frames: 50\n\nTotal frames played: 50\n"
                          "Frame rate played: 25.0 frames/sec\n",
                          0),
            0u)
      << summary;
  EXPECT_EQ(SummaryLine(summary, "Skipped frames:"), "Skipped frames: 0") << summary;
  EXPECT_EQ(SummaryLine(summary, "Sound skips:"), "Sound skips: 0") << summary;
  EXPECT_NE(SummaryLine(summary, "Total playback time:").find("second"), std::string::npos) << summary;
  if (SummaryLine(summary, "Blitting style:") == "Blitting style: Memory buffer") return;  // no screen measured
  char mode[64];
  snprintf(mode, sizeof mode, "Video mode: %d x %d at %d bits", GetSystemMetrics(SM_CXSCREEN),
           GetSystemMetrics(SM_CYSCREEN), ScreenBits());
  EXPECT_EQ(SummaryLine(summary, "Video mode:"), mode) << summary;
}

// The primary surface written in place with the picture centred and the
// cursor over it (hidden around every lock): each run must reach its summary
// with every frame played, within a bound far past the movie's two seconds
// (runs that stalled in the lock or took several times that were seen).
TEST_F(WinPlayer, ThePrimarySurfaceCentredUnderTheCursorPlaysEveryFrame) {
  if (!ColourScreen()) GTEST_SKIP() << "a screen of 256 colours: nothing can be played";
  SetCursorPos(GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2);
  for (int attempt = 0; attempt < 3; ++attempt) {
    ChildProcess run;
    ASSERT_TRUE(run.Start(player, Quoted(movie) + " /S /B1"));
    const std::string summary = AnswerBox(run, kSummaryCaption, IDOK, 15000);
    ASSERT_FALSE(summary.empty()) << "run " << attempt << ": no summary within 15 s";
    EXPECT_EQ(run.Wait(10000), 0) << attempt;
    if (SummaryLine(summary, "Blitting style:") != "Blitting style: DirectDraw primary surface")
      GTEST_SKIP() << "no primary surface here: " << summary;
    EXPECT_EQ(SummaryLine(summary, "Total frames played:"), "Total frames played: 50") << attempt << summary;
    EXPECT_EQ(SummaryLine(summary, "Skipped frames:"), "Skipped frames: 0") << attempt << summary;
  }
}

TEST_F(WinPlayer, BothSoundDriversPlayTheTrackWithoutASkip) {
  if (!ColourScreen()) GTEST_SKIP() << "a screen of 256 colours: nothing can be played";
  for (const char* driver : {"/Z", ""}) {
    ChildProcess run;
    ASSERT_TRUE(run.Start(player, Quoted(movie) + " /S " + driver));
    const std::string summary = AnswerBox(run, kSummaryCaption, IDOK, 15000);
    EXPECT_EQ(run.Wait(10000), 0) << driver;
    EXPECT_EQ(SummaryLine(summary, "Total frames played:"), "Total frames played: 50") << driver << summary;
    EXPECT_EQ(SummaryLine(summary, "Sound skips:"), "Sound skips: 0") << driver << summary;
  }
}

TEST_F(WinPlayer, AStalledMainLoopRunsTheSoundDryAndCountsASkip) {
  if (!ColourScreen()) GTEST_SKIP() << "a screen of 256 colours: nothing can be played";
  for (const char* driver : {"/Z", ""}) {
    ChildProcess run;
    ASSERT_TRUE(run.Start(player, Quoted(movie) + " /S /L2 " + driver));
    HWND window = static_cast<HWND>(FindProcessWindow(run, "Kivo Video Player", kPlayerClass, 10000));
    ASSERT_TRUE(WaitShown(window, 8000));
    Sleep(800);
    // Longer than the decoded sound lasts (the ring holds the largest chunk,
    // under 0.8 s here, the device about 1 s): it plays it out and starves.
    run.SuspendMain(true);
    Sleep(3500);
    run.SuspendMain(false);
    const std::string summary = AnswerBox(run, kSummaryCaption, IDOK, 20000);
    EXPECT_EQ(run.Wait(10000), 0) << driver;
    int skips = -1;
    sscanf(SummaryLine(summary, "Sound skips:").c_str(), "Sound skips: %d", &skips);
    EXPECT_GE(skips, 1) << driver << ": " << summary;
    EXPECT_EQ(SummaryLine(summary, "Total frames played:"), "Total frames played: 100") << driver << summary;
  }
}

// Plays the movie with a blitting style and takes a picture mid-movie;
// two Esc then end it at once, with the summary naming the style.
struct StyleRun {
  int code = -1;
  std::string style, error;
  // Three pictures a little apart: one may catch the window mid-update.
  std::vector<Picture> screens;
  int x = 0, y = 0;
};

StyleRun PlayWithStyle(const std::string& player, const std::string& movie, const std::string& switches) {
  StyleRun r;
  ChildProcess run;
  if (!run.Start(player, Quoted(movie) + " /S /L /X0 /Y0 " + switches)) return r;
  HWND window = static_cast<HWND>(FindProcessWindow(run, "Kivo Video Player", kPlayerClass, 10000));
  if (WaitShown(window, 8000)) {
    Sleep(600);
    if (ClientOrigin(window, &r.x, &r.y))
      for (int i = 0; i < 3; ++i) {
        Picture screen;
        if (CaptureScreen(&screen)) r.screens.push_back(std::move(screen));
        Sleep(150);
      }
    PostMessageA(window, WM_CHAR, 27, 0);
    Sleep(300);
    PostMessageA(window, WM_CHAR, 27, 0);
  }
  for (int waited = 0; waited < 10000 && r.style.empty() && r.error.empty(); waited += 100) {
    if (void* box = FindProcessWindow(run, kSummaryCaption, "#32770", 0)) {
      Sleep(100);
      r.style = SummaryLine(BoxText(box), "Blitting style:");
      PressBoxButton(box, IDOK);
    } else if (void* failure = FindProcessWindow(run, kErrorCaption, "#32770", 0)) {
      Sleep(100);
      r.error = BoxText(failure);
      PressBoxButton(failure, IDOK);
    } else {
      Sleep(100);
    }
  }
  if (r.style.size() > 16) r.style = r.style.substr(16);  // after "Blitting style: "
  r.code = run.Wait(10000);
  return r;
}

// Whether the display driver says it has overlays at all.
bool SystemHasOverlays() {
  using Create = HRESULT(WINAPI*)(GUID*, LPDIRECTDRAW*, IUnknown*);
  HMODULE module = LoadLibraryA("ddraw.dll");
  auto create = module ? reinterpret_cast<Create>(reinterpret_cast<void*>(GetProcAddress(module, "DirectDrawCreate")))
                       : nullptr;
  LPDIRECTDRAW object = nullptr;
  bool overlays = false;
  if (create && SUCCEEDED(create(nullptr, &object, nullptr)) && object) {
    DDCAPS caps{};
    caps.dwSize = sizeof caps;
    overlays = SUCCEEDED(object->GetCaps(&caps, nullptr)) && (caps.dwCaps & DDCAPS_OVERLAY);
    object->Release();
  }
  if (module) FreeLibrary(module);
  return overlays;
}

int StyleNumber(const std::string& name) {
  static const char* const names[] = {
      "",
      "DirectDraw primary surface",
      "DIB Section",
      "DirectDraw YV12 overlay",
      "DirectDraw YUY2 overlay",
      "DirectDraw UYVY overlay",
      "DirectDraw YV12 off-screen surface",
      "DirectDraw YUY2 off-screen surface",
      "DirectDraw UYVY off-screen surface",
      "DirectDraw RGB off-screen video surface",
      "DirectDraw RGB off-screen system surface",
  };
  for (int i = 1; i <= 10; ++i)
    if (name == names[i]) return i;
  return -1;
}

TEST_F(WinPlayer, EachBlittingStyleShowsTheFrameOrFallsOverInOrder) {
  if (!ColourScreen()) GTEST_SKIP() << "a screen of 256 colours: nothing can be played";
  const std::vector<Picture> frames = DecodedFrames(movie);
  ASSERT_EQ(frames.size(), size_t(kMovieFrames));
  const bool overlays = SystemHasOverlays();
  std::string table = overlays ? "overlays offered\n" : "no overlays offered\n";
  // Automatic, then every style of the build's list.
  for (int32_t at = -1, asked = 0; asked >= 0; asked = GetBlitStyleListEntry(++at, nullptr, nullptr)) {
    const StyleRun r = PlayWithStyle(player, movie, "/B" + std::to_string(asked));
    if (r.style == "Memory buffer") GTEST_SKIP() << "no display styles in this build";
    const int got = StyleNumber(r.style);
    table += "/B" + std::to_string(asked) + " -> " + (got > 0 ? r.style : "(" + r.error + ")");
    EXPECT_EQ(r.code, 0) << "/B" << asked << ": " << r.error;
    EXPECT_GT(got, 0) << "/B" << asked << ": " << r.style << r.error;
    if (got <= 0) {
      table += "\n";
      continue;
    }
    // Automatic starts at the primary surface, which falls back to the DIB
    // section; from the overlays on, a style that fails gives way to the next.
    if (asked <= 1) {
      EXPECT_TRUE(got == 1 || got == 2) << "/B" << asked << ": " << r.style;
    } else if (asked == 2) {
      EXPECT_EQ(got, 2);
    } else {
      EXPECT_GE(got, asked) << r.style;
    }
    // RGB styles show the converted pixels exactly; YUV surfaces are turned
    // into RGB by the system with a conversion of its own (up to 19 apart
    // from ours under Wine; swapped or misplaced chroma is off by far more).
    const int tolerance = got >= 3 && got <= 8 ? 24 : 0;
    int difference = 256, closest = -1;
    for (const Picture& screen : r.screens) {
      int d = 256;
      const int i = ClosestFrame(screen, frames, r.x, r.y, &d);
      if (i >= 0 && d < difference) {
        closest = i;
        difference = d;
      }
    }
    const int shown = closest >= 0 && difference <= tolerance ? closest : -1;
    table += ", closest frame " + std::to_string(closest + 1) + " off by " + std::to_string(difference) + "\n";
    if (!overlays) {
      EXPECT_FALSE(got >= 3 && got <= 5) << "an overlay on a driver that has none";
    }
    EXPECT_GE(shown, 0) << "/B" << asked << " (" << r.style << "): the screen shows no frame of the movie";
  }
  printf("%s", table.c_str());
  RecordProperty("styles", table);
}

TEST_F(WinPlayer, WithoutDirectDrawTheDibSectionServesAndDirectDrawStylesFail) {
  if (!ColourScreen()) GTEST_SKIP() << "a screen of 256 colours: nothing can be played";
  if (!GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version"))
    GTEST_SKIP() << "DirectDraw is switched off by a Wine setting";
  // Wine's per-program setting, for a copy of the player of its own name.
  const std::string copy = folder + "\\KivoPlayNoDirectDraw.exe";
  ASSERT_TRUE(CopyFileA(player.c_str(), copy.c_str(), FALSE));
  const char key[] = "Software\\Wine\\AppDefaults\\KivoPlayNoDirectDraw.exe\\DllOverrides";
  HKEY overrides = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &overrides, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(overrides, "ddraw", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
  RegCloseKey(overrides);
  const StyleRun automatic = PlayWithStyle(copy, movie, "/B0");
  const StyleRun overlay = PlayWithStyle(copy, movie, "/B3");
  RegDeleteKeyA(HKEY_CURRENT_USER, key);
  if (automatic.style == "Memory buffer") GTEST_SKIP() << "no display styles in this build";
  EXPECT_EQ(automatic.style, "DIB Section") << automatic.error;
  EXPECT_EQ(automatic.code, 0);
  EXPECT_EQ(overlay.error, "DirectDraw is not available") << overlay.style;
  EXPECT_EQ(overlay.code, 1);
}

// A movie that /A4 doubles to more than the screen: the primary surface,
// whose locks would refuse such a picture and leave the window blank, is
// passed over for the DIB section, and the picture is seen.
TEST_F(WinPlayer, APictureLargerThanTheScreenIsShownThroughTheDibSection) {
  if (!ColourScreen()) GTEST_SKIP() << "a screen of 256 colours: nothing can be played";
  const int width = (GetSystemMetrics(SM_CXSCREEN) / 2 + 16) & ~15;
  const int height = (GetSystemMetrics(SM_CYSCREEN) / 2 + 16) & ~15;
  const std::string large = folder + "\\larger_than_half_the_screen.kiv";
  const std::string video = folder + "\\larger_than_half_the_screen.y4m";
  DeleteFileA(large.c_str());
  ASSERT_TRUE(WriteStripesY4m(video, width, height, 10));
  ASSERT_EQ(RunToEnd(BuildFolder() + "\\tools\\kivenc.exe", Quoted(video) + " --quiet -o " + Quoted(large), 120000), 0);
  const StyleRun r = PlayWithStyle(player, large, "/A4");
  if (r.style == "Memory buffer") GTEST_SKIP() << "no display styles in this build";
  EXPECT_EQ(r.style, "DIB Section") << r.error;
  EXPECT_EQ(r.code, 0);
  ASSERT_FALSE(r.screens.empty());
  // Half of each stripe pair is bright: a window that shows the picture is
  // far from black over the part of it on the screen.
  const Picture& screen = r.screens.back();
  int lit = 0, all = 0;
  for (int y = std::max(r.y, 0); y < screen.height; y += 4)
    for (int x = std::max(r.x, 0); x < screen.width; x += 4, ++all)
      if ((screen.At(x, y) >> 16 & 255) + (screen.At(x, y) >> 8 & 255) + (screen.At(x, y) & 255) > 96) ++lit;
  EXPECT_GT(lit, all / 4) << lit << " of " << all << " pixels lit";
}

TEST_F(WinPlayer, HelpTextForAnEmptyListOrALeftOverSwitch) {
  for (const char* arguments : {"", "/Px"}) {
    ChildProcess run;
    ASSERT_TRUE(run.Start(player, arguments));
    const std::string help = AnswerBox(run, "Kivo Video Player Help", IDOK, 10000);
    // The text command_line_test pins, byte for byte.
    EXPECT_EQ(help, WindowsHelpText()) << arguments;
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

TEST_F(WinPlayer, TheWindowStyleFollowsTheSwitches) {
  if (!ColourScreen()) GTEST_SKIP() << "a screen of 256 colours: nothing can be played";
  struct Case {
    const char* switches;
    bool caption, dialogFrame, topMost;
  };
  const Case cases[] = {
      {"", true, true, false},
      {"/I101", false, true, true},  // no caption, always on top
      {"/I2", false, false, false},  // nothing around the picture
  };
  const DWORD base = WS_POPUP | WS_CLIPCHILDREN | WS_SYSMENU | WS_MINIMIZEBOX;
  for (const Case& c : cases) {
    ChildProcess run;
    ASSERT_TRUE(run.Start(player, Quoted(movie) + " /L " + c.switches));
    HWND window = static_cast<HWND>(FindProcessWindow(run, "Kivo Video Player", kPlayerClass, 10000));
    ASSERT_TRUE(WaitShown(window, 8000)) << c.switches;
    const DWORD style = DWORD(GetWindowLongA(window, GWL_STYLE));
    const DWORD extended = DWORD(GetWindowLongA(window, GWL_EXSTYLE));
    EXPECT_EQ(style & base, base) << c.switches;
    EXPECT_EQ((style & WS_CAPTION) == WS_CAPTION, c.caption) << c.switches;
    EXPECT_EQ((extended & WS_EX_DLGMODALFRAME) != 0, c.dialogFrame) << c.switches;
    EXPECT_EQ((extended & WS_EX_TOPMOST) != 0, c.topMost) << c.switches;
    // The picture fills the client area: the movie's size.
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right - client.left, 160) << c.switches;
    EXPECT_EQ(client.bottom - client.top, 120) << c.switches;
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(run.Wait(8000), 0) << c.switches;
  }
}

TEST_F(WinPlayer, KeysSkipQuitAndAreDisabledByTheSwitch) {
  if (!ColourScreen()) GTEST_SKIP() << "a screen of 256 colours: nothing can be played";
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
  if (!ColourScreen()) GTEST_SKIP() << "a screen of 256 colours: nothing can be played";
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
  if (!ColourScreen()) GTEST_SKIP() << "a screen of 256 colours: nothing can be played";
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
  if (!ColourScreen()) GTEST_SKIP() << "a screen of 256 colours: nothing can be played";
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
