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
// '/' does too.
enum MovieNameStyle : int32_t { kWindowsNames = 0, kPosixNames = 1 };
#if defined(_WIN32)
constexpr MovieNameStyle kNativeNameStyle = kWindowsNames;
#else
constexpr MovieNameStyle kNativeNameStyle = kPosixNames;
#endif

// The longest name a system opens, with room for ".kiv".
constexpr uint32_t kMovieNameSize = 4096 + 8;

struct MovieEntry {
  int32_t kind;
  uint64_t offset;  // for the two stored kinds
  // The file to open (empty for kEntryOwnProgram); a plain name gets ".kiv"
  // when it has no extension.
  char name[kMovieNameSize];
  int32_t dropped;  // dropped on the window: a failure to open it is not the end
};

// Takes the first entry off `list` (a text of the working buffer, changed in
// place and left stripped of blanks at both ends). False when it holds none.
bool TakeMovieEntry(char* list, MovieEntry* entry, MovieNameStyle style = kNativeNameStyle);

// The line that names an entry that could not be played, and why: the
// system's reason when the file cannot be opened ("x.kiv: No such file or
// directory"), else the open's own text ("x.kiv: Not a Kivo file.").
// `fileName` null: the player's own program file could not be named.
void DescribeOpenFailure(const char* fileName, const char* openText, char* out, size_t size);

// What one entry's text names.
void ClassifyMovieEntry(const char* text, MovieEntry* entry, MovieNameStyle style = kNativeNameStyle);

// A movie named on its own (an argument, a dropped file): an existing file
// or folder is that very name, byte for byte; anything else is read as a
// list entry would be (".kiv" added, "name|offset", ":offset").
void ClassifyNamedMovie(const char* name, MovieEntry* entry);

}  // namespace kivo
