// SPDX-License-Identifier: BSD-2-Clause
// The player: plays the movies of its list one after another in one window,
// answers the keys, shows the built-in logo at the end and the summary if
// asked. Portable; a shell (player_shell.h) supplies the window and events.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kivo/movie.h"
#include "platform/platform.h"
#include "player/command_line.h"
#include "player/player_shell.h"
#include "player/summary_text.h"
#include "player/version_check.h"

namespace kivo {

struct Movie;
struct BlitBuffer;

constexpr char kErrorCaption[] = "Kivo Error";
constexpr char kWindowErrorCaption[] = "Windows";
constexpr char kWindowErrorText[] = "Error creating window.";
constexpr char kProgramFileErrorText[] = "Error opening EXE file.";
constexpr char kFileErrorText[] = "Error opening file.";
// Before what did not fit in the working line (the Windows program's).
constexpr char kLeftOutText[] = "The command line is too long; these are not played:";
// The page a click on the logo opens (the build setting KIVO_LOGO_URL);
// empty: the logo is not a link.
#ifndef KIVO_LOGO_URL
#define KIVO_LOGO_URL ""
#endif
constexpr char kLogoPageAddress[] = KIVO_LOGO_URL;
constexpr uint32_t kLogoMs = 2250;

// userPaused is 0 or all ones, toggled by the space bar.
constexpr int32_t kUserPaused = -1;

// A movie named on its own, after the list: an argument of the Linux
// program, or a file dropped on the window.
struct NamedMovie {
  std::string name;  // byte for byte
  int32_t dropped;
};

enum PlayerEndState : int32_t {
  kEndNone = 0,
  kEndQuit = 1,        // Esc while a movie plays
  kEndQuitLogo = 2,    // Esc while the logo is shown
};

struct Player {
  const PlayerShell* shell;
  void* window;
  int32_t windowDestroyed;
  PlayerSettings settings;       // as parsed; positions and a few flags change as movies play
  char list[kCommandLineSize];   // the movies still to come
  char savedList[kCommandLineSize];
  std::vector<NamedMovie> names;  // played after the list, in order
  std::vector<NamedMovie> savedNames;
  std::string message;           // why the last dropped movie could not play

  Movie* movie;
  BlitBuffer* buffer;
  BlitBuffer* oldBuffer;
  os::FileHandle file;           // opened here for an entry that gives an offset

  uint32_t loopCounter;          // plays of the current movie still to come
  uint32_t listRepeat;           // plays of the whole list still to come
  int32_t userPaused;
  int32_t hasFocus;
  int32_t endFlag;               // the current movie ends now
  int32_t endState;              // PlayerEndState
  int32_t logoMode;
  const char* logoPageAddress = kLogoPageAddress;
  uint32_t logoEnd;              // core clock
  int32_t skipBlackFill;
  uint32_t forceFull;            // bit 31: the next copy copies everything
  int32_t idle;                  // millisecond balance of the sleeps
  int32_t quitPending;           // the window is gone: exit at the next turn

  uint32_t targetWidth, targetHeight;  // the picture's shown size
  int32_t pictureX, pictureY;    // the picture's offset inside the window
  PlayerBand band;               // the statistics line's rectangle
  MovieSummary summary;
  RealtimeStats realtime;
  char statsText[kStatsTextSize];
  char summaryText[kSummaryTextSize];

  VersionCheckServices versionCheck;
  const void* logoMovie;         // a whole movie in memory
  int32_t exitCode;
};

// Everything RunPlayer takes besides the shell and the parsed command line.
struct PlayerOptions {
  // Null members are filled from the system (and from the shell for the
  // question and the page).
  VersionCheckServices versionCheck;
  const void* logoMovie;         // null = the built-in logo
  std::vector<std::string> movies;  // named one by one, played after the list
};

// Plays the parsed list (a command line that asked for the help text has been
// answered by the caller) and returns the exit code: 0 after a normal end, 1
// after an error or an accepted version check.
int32_t RunPlayer(Player* player, const PlayerShell& shell, const ParsedCommandLine& parsed,
                  const PlayerOptions& options);

// The whole program on a shell: the command line, the help text or the
// playback. realLine is the command line after the program's name.
int32_t RunPlayerProgram(Player* player, const PlayerShell& shell, const char* realLine, int32_t screenWidth,
                         int32_t screenHeight);

// ---- Steps kept apart for their arithmetic -------------------------------
// Decoder doubling in place of a stretch of exactly twice: the display mode
// (1 height, 3 width, 4 both) for these targets, or 0.
uint32_t BuiltInDoublingMode(uint32_t width, uint32_t height, uint32_t targetWidth, uint32_t targetHeight);
// A centred window position along one side: off the screen's left edge by
// the client offset when the window is wider than the screen; else centred,
// rounded down to a multiple of 4 when asked.
int32_t CentredPosition(uint32_t screenSize, uint32_t windowSize, int32_t clientOffset, bool roundTo4);

}  // namespace kivo
