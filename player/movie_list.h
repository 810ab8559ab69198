// SPDX-License-Identifier: BSD-2-Clause
// Taking movies off the front of the movie list the command line leaves:
// quoted names, the blank-and-comma separators, and what an entry names (a
// file, a stretch of a file at an offset, or a stretch of the player's own
// program file).
#pragma once

#include <cstddef>
#include <cstdint>

#include "player/command_line.h"

namespace kivo {

enum MovieEntryKind : int32_t {
  kEntryFile = 0,         // a movie file of that name
  kEntryOwnProgram = 1,   // ":offset": inside the player's own program file
  kEntryFileAtOffset = 2  // "name|offset": inside the named file
};

// How names are written: on Windows ':' and '\' end directories; on POSIX
// '/' does too, and '\' stands for '/' (see JoinProgramArguments).
enum MovieNameStyle : int32_t { kWindowsNames = 0, kPosixNames = 1 };
#if defined(_WIN32)
constexpr MovieNameStyle kNativeNameStyle = kWindowsNames;
#else
constexpr MovieNameStyle kNativeNameStyle = kPosixNames;
#endif

struct MovieEntry {
  int32_t kind;
  uint64_t offset;  // for the two stored kinds
  // The file to open (empty for kEntryOwnProgram); a plain name gets ".kiv"
  // when it has no extension.
  char name[kCommandLineSize + 8];
};

// Takes the first entry off `list` (a text of the working buffer, changed in
// place and left stripped of blanks at both ends). False when it holds none.
bool TakeMovieEntry(char* list, MovieEntry* entry, MovieNameStyle style = kNativeNameStyle);

// The line that names an entry that could not be played, and why: the
// system's reason when the file cannot be opened ("cannot open 'x.kiv': No
// such file or directory"), else the open's own text ("cannot play 'x.kiv':
// Not a Kivo file."). `fileName` null: the player's own program file could
// not be named.
void DescribeOpenFailure(const char* fileName, const char* openText, char* out, size_t size);

// What one entry's text names.
void ClassifyMovieEntry(const char* text, MovieEntry* entry, MovieNameStyle style = kNativeNameStyle);

}  // namespace kivo
