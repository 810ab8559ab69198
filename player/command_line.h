// SPDX-License-Identifier: BSD-2-Clause
// The player's command line: putting the working line together from the
// stored default line, the real line and the profile's quick-play switches,
// parsing every switch into PlayerSettings, leaving the movie list, and
// deciding on the help text; the Linux program's split arguments turned into
// a real line, and the help text of each build. Also the stretch-size rule
// and the /D tables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "player/settings.h"

namespace kivo {

// The working buffer, terminator included; it later holds the movie list.
constexpr uint32_t kCommandLineSize = 1024;
// The stored default part and the profile part, without terminators.
constexpr uint32_t kDefaultLineLimit = 510;
constexpr uint32_t kProfileLineLimit = 255;

constexpr char kHelpCaption[] = "Kivo Video Player Help";
constexpr char kProfileSection[] = "Orlo Video Tools";
constexpr char kQuickPlayKey[] = "KivoQuickPlay";

struct CommandLineSources {
  const char* defaultLine;  // the stored default line (cut at '~' here too)
  const char* realLine;
  // Fills `out` with the quick-play switches (at most size - 1 characters);
  // asked only when the line holds a /! that calls for them. May be null.
  uint32_t (*readQuickPlay)(void* context, char* out, uint32_t size);
  void* context;
  int32_t screenWidth;  // the screen size before any /D
  int32_t screenHeight;
};

struct ParsedCommandLine {
  PlayerSettings settings;
  // What is left once every switch is gone: the movie list.
  char movieList[kCommandLineSize];
  // 1 when the help text is to be shown (caption kHelpCaption, exit code 1).
  int32_t showHelp;
  // What made the line unplayable besides an empty list: the first switch
  // no rule took ("/V", "/Px"), or a /D outside its tables ("/D99"); empty
  // when the list was merely empty.
  char leftover[64];
  // What did not fit in the working line and is not played (whole names
  // and switches, cut short only past this buffer); empty when all fit.
  char leftOut[4096];
};

// Returns 1 to play the movie list, 0 to show the help text.
int32_t ParseCommandLine(const CommandLineSources& sources, ParsedCommandLine* out);

// The same with the default line and the profile taken from the platform.
int32_t ParseProgramCommandLine(const char* realLine, int32_t screenWidth, int32_t screenHeight,
                                ParsedCommandLine* out);

// What the program is to do with its split arguments (argv, where the system
// hands them over that way).
enum ProgramAction : int32_t {
  kActionPlay = 0,        // the real command line is ready
  kActionHelp = 1,        // -h or --help: the help text, exit code 0
  kActionVersion = 2,     // --version
  kActionBadOption = 3,   // an option that is neither a file nor known
};

struct ProgramArguments {
  int32_t action;
  uint32_t length;        // of the real command line
  const char* badOption;  // the argument of kActionBadOption
};

// Whether a name is an existing file (not a directory), and whether it is an
// existing directory; given so that tests need no file system.
struct FileFacts {
  bool (*isFile)(void* context, const char* path);
  bool (*isDirectory)(void* context, const char* path);
  void* context;
};
// The real file system.
FileFacts SystemFileFacts();

// Splits argv into the switches, joined into a real command line, and the
// movies, each kept byte for byte however long or odd its name (blanks,
// quotes, backslashes) and however many there are. An argument is a movie
// unless it begins with '/' or '-': then it is one only when it names an
// existing file or folder, ends in ".kiv", or lies in an existing top folder
// ("/tmp/gone/x.kiv", reported missing by name rather than taken for a
// switch). Other arguments beginning with '/' are switches, several glued
// together included (/S/J); "--" ends the options, everything after it is a
// movie; -h, --help and --version answer at once; any other argument
// beginning with '-' is a bad option. Switches that do not fit in `size`
// are left out whole (they cannot: switches are short).
ProgramArguments JoinProgramArguments(int argc, const char* const* argv, const FileFacts& facts, char* out,
                                      uint32_t size, std::vector<std::string>* movies);

// The help text of this build: the Windows text there, the Linux text here.
const char* HelpText();
// The Windows program's help text, the message-box body.
const char* WindowsHelpText();
// The Linux program's: the same switches, each blitting style and sound
// driver named as this build has it, and the GNU options.
const char* LinuxHelpText();

// /D resolution index 1-13 -> size; false outside the table.
bool DisplayResolution(uint32_t index, int32_t* width, int32_t* height);
// /D value / 100 (0-6) -> the depth code passed on; false outside the table.
bool DisplayDepthCode(uint32_t part, int32_t* depthCode);

// The target size of one direction of the stretch: (num, den) as /W or /H
// left them, the movie's and the screen's size in that direction, and the
// direction's base bit; the kind-of-stretch bit goes into *bufferFlags.
uint32_t StretchSize(int32_t num, int32_t den, uint32_t movieSize, uint32_t screenSize, uint32_t baseBit,
                     uint32_t* bufferFlags);

// Both directions for a movie of the given size, with settings->bufferFlags
// collecting the bits.
void StretchTargets(PlayerSettings* settings, uint32_t movieWidth, uint32_t movieHeight, uint32_t* targetWidth,
                    uint32_t* targetHeight);

}  // namespace kivo
