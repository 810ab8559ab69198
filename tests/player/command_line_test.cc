// SPDX-License-Identifier: BSD-2-Clause
// The player's command line: the joined working line, cancellations and the
// profile switch, the three switch kinds, every switch's effect, the /D
// tables, over-long lines, and the help text.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "display/blit_style.h"
#include "player/command_line.h"

namespace kivo {
namespace {

struct Profile {
  const char* value;
  int reads;
};

uint32_t ReadProfile(void* context, char* out, uint32_t size) {
  auto* p = static_cast<Profile*>(context);
  ++p->reads;
  strncpy(out, p->value, size - 1);
  out[size - 1] = 0;
  return static_cast<uint32_t>(strlen(out));
}

struct Parsed : ParsedCommandLine {
  int profileReads = 0;
  std::string list() const { return movieList; }
};

Parsed Parse(const char* defaultLine, const char* realLine, const char* profile = "") {
  Profile p{profile, 0};
  CommandLineSources sources{defaultLine, realLine, ReadProfile, &p, 1024, 768};
  Parsed out;
  int32_t play = ParseCommandLine(sources, &out);
  EXPECT_EQ(play, out.showHelp ? 0 : 1);
  out.profileReads = p.reads;
  return out;
}

TEST(CommandLine, DefaultAndRealPartsJoinWithoutSeparator) {
  // The default /d8 runs on into a real line beginning with a digit: /d81
  // lies outside the resolution table and brings up the help text.
  Parsed a = Parse("/d8~~~~", "1.kiv");
  EXPECT_EQ(a.showHelp, 1);
  EXPECT_EQ(a.list(), ".kiv");
  Parsed b = Parse("/d2", "08.kiv");
  EXPECT_EQ(b.showHelp, 0);
  EXPECT_EQ(b.settings.modeDepth, 32);
  EXPECT_EQ(b.list(), ".kiv");
  // The stored part stops at its first '~'.
  Parsed c = Parse(":126976 :24988672 /d8~/L3~~~", "");
  EXPECT_EQ(c.settings.loopCount, 1);
  EXPECT_EQ(c.settings.modeWidth, 640);
  EXPECT_EQ(c.list(), ":126976 :24988672 ");
}

TEST(CommandLine, CancellationsRemoveEarlierSwitchesOnly) {
  Parsed a = Parse("/d8", " /-d x.kiv");
  EXPECT_EQ(a.showHelp, 0);
  EXPECT_EQ(a.settings.modeWidth, 0);
  EXPECT_EQ(a.settings.bufferFlags, 0u);
  EXPECT_EQ(a.settings.screenWidth, 1024);
  EXPECT_EQ(a.list(), "  x.kiv");
  // Every earlier /L in either case goes, with its argument; a later one stays.
  Parsed b = Parse("/L2 /l3x", " /-L /L4 m");
  EXPECT_EQ(b.settings.loopCount, 4);
  EXPECT_EQ(b.list(), "    m");
  // A quoted argument goes through its closing quote; a bare /- at the end goes.
  Parsed c = Parse("/T\"5 6\"m", " n/-t/-");
  EXPECT_EQ(c.settings.soundTrack, 0);
  EXPECT_EQ(c.list(), "m n");
}

TEST(CommandLine, ProfileSwitchAppendsQuickPlayValueUncancelled) {
  Parsed a = Parse("", "m /-s /!", "/S/L2");
  EXPECT_EQ(a.profileReads, 1);
  EXPECT_EQ(a.showHelp, 0);
  EXPECT_EQ(a.settings.showSummary, 1);
  EXPECT_EQ(a.settings.loopCount, 2);
  // Not read without a /! that stands alone; /!x is left over.
  Parsed b = Parse("", "m /!x", "/S");
  EXPECT_EQ(b.profileReads, 0);
  EXPECT_EQ(b.showHelp, 1);
  // Only the first standing /! is replaced.
  EXPECT_EQ(Parse("", "m /! /!", "").showHelp, 1);
}

TEST(CommandLine, NumberFractionAndFlagKinds) {
  EXPECT_EQ(Parse("", "m").settings.loopCount, 1);
  EXPECT_EQ(Parse("", "m /L").settings.loopCount, 0);
  EXPECT_EQ(Parse("", "m /L3").settings.loopCount, 3);
  EXPECT_EQ(Parse("", "m /l-3").settings.loopCount, -3);
  // A number switch without a number lets the search go on to the next '/'.
  Parsed n = Parse("", "m /Lx /L7");
  EXPECT_EQ(n.settings.loopCount, 7);
  EXPECT_EQ(n.showHelp, 1);

  struct Rate { const char* line; int32_t num, den; bool set; } rates[] = {
      {"m /F12.5", 25, 2, true},       {"m /F30000;1001", 30000, 1001, true},
      {"m /F29.97", 2997, 100, true},  {"m /F", 0, 0, true},
      {"m /F1;2.5", 2, 5, true},       {"m /F-12.5", -25, 2, true},
      {"m /F1;0", 1, 1, true},         {"m /F-1", -1, -1, false},
      {"m /F-1.0", -1, -1, false},
  };
  for (const Rate& r : rates) {
    Parsed p = Parse("", r.line);
    EXPECT_EQ(p.showHelp, 0) << r.line;
    EXPECT_EQ(p.settings.rateNum, r.num) << r.line;
    EXPECT_EQ(p.settings.rateDen, r.den) << r.line;
    EXPECT_EQ((p.settings.openFlags & 0x1000u) != 0, r.set) << r.line;
  }
  // Reading stops where the fraction does; the rest is list.
  EXPECT_EQ(Parse("", "m /F12.;3").list(), "m .;3");

  EXPECT_EQ(Parse("", "m /P").settings.openFlags, 0x2000u);
  EXPECT_EQ(Parse("", "m /P,").settings.openFlags, 0x2000u);
  Parsed px = Parse("", "m /Px");
  EXPECT_EQ(px.showHelp, 1);
  EXPECT_EQ(px.settings.openFlags, 0u);
  // Each switch is taken once; a second one is left over.
  EXPECT_EQ(Parse("", "m /S /S").showHelp, 1);
  EXPECT_EQ(Parse("", "m /T").showHelp, 1);
  EXPECT_EQ(Parse("", "m /V").showHelp, 1);
  EXPECT_EQ(Parse("", "  /S ").showHelp, 1);
  EXPECT_EQ(Parse("", "").showHelp, 1);
}

TEST(CommandLine, SwitchEffects) {
  PlayerSettings s = Parse("", "/t5 /m9000 /e65536 /u7 /#77 /x-10 /y20 /z/s/q/j/c/n/g/k /b2 m").settings;
  EXPECT_EQ(s.soundTrack, 5);
  EXPECT_EQ(s.readSpeed, 9000);
  EXPECT_EQ(s.readBufferSize, 65536);
  EXPECT_EQ(s.disableControls, 7);
  EXPECT_EQ(s.parentWindow, 77);
  EXPECT_EQ(s.posX, -10);
  EXPECT_EQ(s.posY, 20);
  EXPECT_EQ(s.useWaveOut + s.showSummary + s.showStats + s.ignoreFocus + s.hideCursor, 5);
  EXPECT_EQ(s.openFlags, 0x4000u | 0x400000u | 0x1000000u | 0x80000u | 0x200000u | 0x8000000u);
  EXPECT_EQ(s.bufferFlags, 2u);
  // Values that leave their open flag off.
  EXPECT_EQ(Parse("", "/T0 /M0 /E-1 m").settings.openFlags, 0u);
  EXPECT_EQ(Parse("", "m").settings.readBufferSize, -1);

  PlayerSettings i = Parse("", "/i101 m").settings;
  EXPECT_EQ(i.topMost, 1);
  EXPECT_EQ(i.windowStyle, 1);
  PlayerSettings r = Parse("", "/r /i0 m").settings;
  EXPECT_EQ(r.fillScreen, 1);
  EXPECT_EQ(r.windowStyle, 2);

  EXPECT_EQ(Parse("", "/A105 m").settings.openFlags, 0x20000u | 0x50000000u);
  EXPECT_EQ(Parse("", "/A9 m").settings.openFlags, 0x70000000u);
  EXPECT_EQ(Parse("", "/A200 m").settings.openFlags, 0u);
}

TEST(CommandLine, DisplayModeTables) {
  struct Mode { const char* line; int32_t w, h, depth; } modes[] = {
      {"/d8 m", 640, 480, 16},  {"/d208 m", 640, 480, 32},   {"/D101 m", 320, 200, 24},
      {"/d313 m", 1280, 1024, 8}, {"/d409 m", 800, 600, 1}, {"/d611 m", 1024, 768, 3},
  };
  for (const Mode& m : modes) {
    PlayerSettings s = Parse("", m.line).settings;
    EXPECT_EQ(s.modeWidth, m.w) << m.line;
    EXPECT_EQ(s.modeHeight, m.h) << m.line;
    EXPECT_EQ(s.modeDepth, m.depth) << m.line;
    EXPECT_EQ(s.screenWidth, m.w) << m.line;
    EXPECT_EQ(s.screenHeight, m.h) << m.line;
    EXPECT_EQ(s.bufferFlags, 0x800000u) << m.line;
  }
  PlayerSettings none = Parse("", "/D0 /B1 m").settings;
  EXPECT_EQ(none.bufferFlags, 1u);
  EXPECT_EQ(none.screenWidth, 1024);
  // Outside the tables: the help text, and nothing requested.
  for (const char* line : {"/D14 m", "/D100 m", "/D708 m", "/D-8 m"}) {
    Parsed p = Parse("", line);
    EXPECT_EQ(p.showHelp, 1) << line;
    EXPECT_EQ(p.settings.modeWidth, 0) << line;
    EXPECT_EQ(p.settings.bufferFlags, 0u) << line;
  }
}

TEST(CommandLine, StretchRule) {
  struct Case { const char* line; uint32_t w, h; uint32_t flags; } cases[] = {
      {"/w-2 m", 1280, 480, 0x80000000u},
      {"/w-1 m", 1024, 480, 0x40000000u},             // the screen width
      {"/w320 m", 320, 480, 0x20000000u},
      {"/w500 m", 500, 480, 0x10000000u},
      {"/W1280 /H960 m", 1280, 960, 0x88000000u},
      {"/h-1.5 m", 640, 720, 0x04000000u},
      {"/h120 m", 640, 120, 0x02000000u},
      {"/h400 m", 640, 400, 0x01000000u},
      {"/w640 /h-1;2 m", 640, 240, 0x02000000u},      // same size: no bit
      {"m", 640, 480, 0u},
      {"/w0.4 m", 640, 480, 0u},                      // a target of nothing: none
  };
  for (const Case& c : cases) {
    PlayerSettings s = Parse("", c.line).settings;
    uint32_t w = 0, h = 0;
    StretchTargets(&s, 640, 480, &w, &h);
    EXPECT_EQ(w, c.w) << c.line;
    EXPECT_EQ(h, c.h) << c.line;
    EXPECT_EQ(s.bufferFlags, c.flags) << c.line;
  }
  // A scale too large for 32 bits stops at the largest size.
  uint32_t flags = 0;
  EXPECT_EQ(StretchSize(-2147483647, 1, 640, 0, kPlayerStretchWidthBit, &flags), 0xFFFFFFFFu);
  EXPECT_EQ(flags, 0x40000000u);
}

TEST(CommandLine, OverLongLinesAreCutAtAWholeEntry) {
  std::string real;
  for (int i = 0; real.size() < 3000; ++i) real += " movie" + std::to_string(i);
  std::string profile = "/L2" + std::string(100, 'x');
  Parsed p = Parse(std::string(500, ' ').append("/S /!").c_str(), real.c_str(), profile.c_str());
  std::string list = p.list();
  EXPECT_LE(list.size(), kCommandLineSize - 1);
  EXPECT_GT(list.size(), 1000u);
  EXPECT_EQ(p.settings.showSummary, 1);
  // The last entry kept is a whole one of the real line, and the profile
  // value, too long for what room is left, was left out.
  std::string lastEntry = list.substr(list.find_last_of(' '));
  ASSERT_NE(real.find(lastEntry + " "), std::string::npos);
  EXPECT_EQ(p.profileReads, 1);
  EXPECT_EQ(list.find('x'), std::string::npos);
  EXPECT_EQ(p.settings.loopCount, 1);
  // Nothing goes silently: what was left out is said, whole names only.
  EXPECT_EQ(std::string(p.leftOut), real.substr(real.find(lastEntry + " ") + lastEntry.size() + 1) + " " + profile);
  // A single word longer than the room is left out: nothing to play.
  EXPECT_EQ(Parse("", std::string(1100, 'a').c_str()).showHelp, 1);
}

// A file system of a few names, for the rules that ask what exists.
struct FakeFiles {
  std::set<std::string> files, folders;
  FileFacts Facts() {
    return FileFacts{[](void* c, const char* p) { return static_cast<FakeFiles*>(c)->files.count(p) > 0; },
                     [](void* c, const char* p) { return static_cast<FakeFiles*>(c)->folders.count(p) > 0; }, this};
  }
};

TEST(CommandLine, ProgramArgumentsSplitIntoSwitchesAndMovies) {
  FakeFiles fs;
  fs.files = {"/home/me/my movie", "/movie.kiv", "-odd.kiv"};
  fs.folders = {"/home/me", "/home", "/films", "/tmp"};
  struct Case {
    std::vector<const char*> args;
    int32_t action;
    const char* line;  // the switches, or the bad option
    std::vector<std::string> movies;
  } cases[] = {
      // Movies byte for byte, whatever they hold; switches as they are.
      {{"/L2", "/home/me/my movie", "dir/a\\b \"c\".kiv", "/-d", "", "/F30000;1001", "/S/J"},
       kActionPlay,
       "/L2 /-d /F30000;1001 /S/J",
       {"/home/me/my movie", "dir/a\\b \"c\".kiv"}},
      // Missing movies are movies (and reported by name): in a top folder
      // that exists, or ending in ".kiv"; other top-level names are switches.
      {{"/tmp/missing/movie.kiv", "/home/gone", "/gone.kiv", "/nowhere/x", "/V"}, kActionPlay, "/nowhere/x /V",
       {"/tmp/missing/movie.kiv", "/home/gone", "/gone.kiv"}},
      // "--" ends the options; a file named like an option is a movie.
      {{"--", "/S", "-h", "--"}, kActionPlay, "", {"/S", "-h", "--"}},
      {{"-odd.kiv"}, kActionPlay, "", {"-odd.kiv"}},
      // GNU options answer at once, wherever they stand.
      {{"movie.kiv", "-h"}, kActionHelp, "", {}},
      {{"/S", "--version"}, kActionVersion, "", {}},
      {{"movie.kiv", "-x", "--help"}, kActionBadOption, "-x", {}},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv{"kivoplay"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    char out[128];
    std::vector<std::string> movies;
    const ProgramArguments r =
        JoinProgramArguments(int(argv.size()), argv.data(), fs.Facts(), out, sizeof out, &movies);
    EXPECT_EQ(r.action, c.action) << c.args[0];
    if (r.action == kActionBadOption) {
      EXPECT_STREQ(r.badOption, c.line);
    }
    if (r.action != kActionPlay) continue;
    EXPECT_STREQ(out, c.line) << c.args[0];
    EXPECT_EQ(r.length, strlen(out));
    EXPECT_EQ(movies, c.movies) << c.args[0];
  }
  // Forty long names, far beyond the working line, all reach the list.
  std::vector<std::string> names;
  std::vector<const char*> argv{"kivoplay", "/S"};
  for (int i = 0; i < 40; ++i) names.push_back("films/" + std::string(200, 'a' + i % 26) + std::to_string(i) + ".kiv");
  for (const std::string& n : names) argv.push_back(n.c_str());
  char out[kCommandLineSize];
  std::vector<std::string> movies;
  JoinProgramArguments(int(argv.size()), argv.data(), fs.Facts(), out, sizeof out, &movies);
  EXPECT_EQ(movies, names);

  // Through the parser: the switch no rule took is named.
  const auto leftover = [](const char* line) {
    static ParsedCommandLine parsed;
    ParseCommandLine(CommandLineSources{"", line, nullptr, nullptr, 800, 600}, &parsed);
    return std::string(parsed.leftover);
  };
  EXPECT_EQ(leftover("/S /V /Px"), "/V");
  EXPECT_EQ(leftover("/D99 /S"), "/D99");
  EXPECT_EQ(leftover("/S m"), "");
}

TEST(CommandLine, HelpTextLines) {
  struct Line { const char* column; const char* text; } lines[] = {
      {"/P  ", "Preload the entire Kivo video into memory."},
      {"/L##", "Loop the animation (just/L for infinite)."},
      {"/F#.#", "Use this frame rate (just /F for fast)."},
      {"/T##", "Play the specified sound track."},
      {"/Z  ", "Use waveOut instead of DirectSound for audio output."},
      {"/S  ", "Show the playback summary when finished."},
      {"/X##", "Specifies the X coordinate of the playback."},
      {"/Y##", "Specifies the Y coordinate of the playback."},
      {"/W#.#", "Stretch to this width in pixels (can be slow). Use negative numbers for"},
      {nullptr, "    scaling (i.e. for 2x, use '/w-2').  For full screen, use -1 ('/w-1')."},
      {"/H#.#", "Stretch to this height in pixels (can be slow)."},
      {"/R   ", "Fill the screen with a black background."},
      {"/C   ", "Hide the cursor when in the Kivo window."},
      {"/M##", "Simulate this read speed (in bytes/second)."},
      {"/E##", "Specified the amount of memory for read buffering."},
      {"/G  ", "Don't load the read buffer when opening the Kivo (faster opening)."},
      {"/K  ", "Do not use multi-threaded device reading."},
      {"/U##", "Disable controls: 1=pause, 2=skip, 4=quit."},
      {"/N  ", "Never skip frames when falling behind."},
      {"/Q  ", "Show run-time playback statistics."},
      {"/J  ", "Don't pause the video when the focus is lost."},
      {"/I# ", "Window style: 0=normal, 1=no caption, 2=nothing.  Add 100 for always-on-top."},
      {"/A##", "Display options: 1=2x height doubled, 2=2x height interlaced, 3=2x width doubled,"},
      {nullptr, "    4=2x width and height doubled, 5=2x width doubled and height interlaced,"},
      {nullptr, "    6=1x height interlaced, 7=force none. Add 100 for grayscale."},
      {"/D##", "Display resolution: 1=320x200, 2=320x240, 3=320x400, 4=400x300, 5=480x360,"},
      {nullptr, "    6=512x384, 7=640x400, 8=640x480, 9=800x600, 10=960x720, 11=1024x768,"},
      {nullptr, "    12=1152x864, 13=1280x1024. To set the color depth, add: 0 for 16-bit,"},
      {nullptr, "    100 for 24-bit, 200 for 32-bit, 300 for 8-bit, 400 for at least"},
      {nullptr, "    high-color (16, 32, then 24), 500 to try true-color (32, 24, then 16),"},
      {nullptr, "    and 600 for true-color only (32, then 24)."},
      {"/B##", "Blitting style: 0=Automatic, 1=DirectDraw primary display (best quality,"},
      {nullptr, "    very fast), 2=DIBSection (best quality, most compatible), 3=YV12 overlay,"},
      {nullptr, "    4=YUY2 overlay, 5=UYVY overlay, 6=YV12 off-screen, 7=YUY2 off-screen,"},
      {nullptr, "    8=UYVY off-screen, 9=DirectDraw RGB video memory off-screen,"},
      {nullptr, "    10=DirectDraw RGB system memory off-screen."},
  };
  std::string help = WindowsHelpText();
  ASSERT_EQ(help.rfind("KivoPlay  V 1.5a", 0), 0u);
  std::string expected = help.substr(0, help.find('\n') + 1);
  expected += "  SYNTAX: KivoPlay <Kivo1 Kivo2 ...> [/Switches]:\n";
  size_t width = 0;
  for (const Line& l : lines) {
    if (l.column) {
      width = 4 + strlen(l.column);
      expected += std::string("    ") + l.column + "\t- " + l.text + "\n";
    } else {
      expected += std::string(width, ' ') + "\t" + l.text + "\n";
    }
  }
  EXPECT_STREQ(kHelpCaption, "Kivo Video Player Help");
#if defined(_WIN32)
  // Built from the Windows styles: the text the program has always shown.
  EXPECT_EQ(help, expected);
  EXPECT_EQ(HelpText(), help);
#else
  // The switch lines are the Windows program's; the styles are this build's.
  const size_t styles = expected.find("    /B##");
  EXPECT_EQ(help.substr(0, styles), expected.substr(0, styles));
  EXPECT_EQ(HelpText(), LinuxHelpText());
#endif
#if defined(KIVO_HAVE_SDL) && !defined(_WIN32)
  // The Linux program's text, byte for byte: the GNU options, the same
  // switches, the SDL sound driver and window style, and the SDL styles.
  EXPECT_EQ(std::string(LinuxHelpText()),
      "kivoplay  V 1.5a  -  plays Kivo movies\n"
      "Usage: kivoplay [OPTION]... MOVIE... [/SWITCHES]\n"
      "  -h, --help\tshow this help and exit\n"
      "  --version\tshow the version and exit\n"
      "  --\t\tend of the options: every later argument is a movie\n"
      "  An argument naming an existing file is a movie, whatever slashes it holds;\n"
      "  other arguments beginning with '/' are switches, glued ones too (/S/J).\n"
      "  SYNTAX: kivoplay <Kivo1 Kivo2 ...> [/Switches]:\n"
      "    /P  \t- Preload the entire Kivo video into memory.\n"
      "    /L##\t- Loop the animation (just/L for infinite).\n"
      "    /F#.#\t- Use this frame rate (just /F for fast).\n"
      "    /T##\t- Play the specified sound track.\n"
      "    /Z  \t- Play sound through the SDL audio buffer queue instead of the SDL audio\n"
      "        \t    looping buffer.\n"
      "    /S  \t- Show the playback summary when finished.\n"
      "    /X##\t- Specifies the X coordinate of the playback.\n"
      "    /Y##\t- Specifies the Y coordinate of the playback.\n"
      "    /W#.#\t- Stretch to this width in pixels (can be slow). Use negative numbers for\n"
      "         \t    scaling (i.e. for 2x, use '/w-2').  For full screen, use -1 ('/w-1').\n"
      "    /H#.#\t- Stretch to this height in pixels (can be slow).\n"
      "    /R   \t- Fill the screen with a black background.\n"
      "    /C   \t- Hide the cursor when in the Kivo window.\n"
      "    /M##\t- Simulate this read speed (in bytes/second).\n"
      "    /E##\t- Specified the amount of memory for read buffering.\n"
      "    /G  \t- Don't load the read buffer when opening the Kivo (faster opening).\n"
      "    /K  \t- Do not use multi-threaded device reading.\n"
      "    /U##\t- Disable controls: 1=pause, 2=skip, 4=quit.\n"
      "    /N  \t- Never skip frames when falling behind.\n"
      "    /Q  \t- Show run-time playback statistics.\n"
      "    /J  \t- Don't pause the video when the focus is lost.\n"
      "    /I# \t- Window style: 0=normal, 1=framed (SDL cannot drop the caption alone),\n"
      "        \t    2=nothing.  Add 100 for always-on-top.\n"
      "    /A##\t- Display options: 1=2x height doubled, 2=2x height interlaced, 3=2x width doubled,\n"
      "        \t    4=2x width and height doubled, 5=2x width doubled and height interlaced,\n"
      "        \t    6=1x height interlaced, 7=force none. Add 100 for grayscale.\n"
      "    /D##\t- Display resolution: 1=320x200, 2=320x240, 3=320x400, 4=400x300, 5=480x360,\n"
      "        \t    6=512x384, 7=640x400, 8=640x480, 9=800x600, 10=960x720, 11=1024x768,\n"
      "        \t    12=1152x864, 13=1280x1024. To set the color depth, add: 0 for 16-bit,\n"
      "        \t    100 for 24-bit, 200 for 32-bit, 300 for 8-bit, 400 for at least\n"
      "        \t    high-color (16, 32, then 24), 500 to try true-color (32, 24, then 16),\n"
      "        \t    and 600 for true-color only (32, then 24).\n"
      "    /B##\t- Blitting style: 0=Automatic (1, then 2); 1=SDL window surface; 2=SDL RGB\n"
      "        \t    texture; 3=SDL YV12 texture, accelerated renderer; 4=SDL YUY2 texture,\n"
      "        \t    accelerated renderer; 5=SDL UYVY texture, accelerated renderer; 6=SDL YV12\n"
      "        \t    texture, software renderer; 7=SDL YUY2 texture, software renderer; 8=SDL\n"
      "        \t    UYVY texture, software renderer; 9=SDL RGB texture, accelerated renderer;\n"
      "        \t    10=SDL RGB texture, software renderer.\n");
#endif
}

}  // namespace
}  // namespace kivo
