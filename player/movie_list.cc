// SPDX-License-Identifier: BSD-2-Clause
// Taking movies off the front of the movie list and telling what each entry
// names.
#include "player/movie_list.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kivo {
namespace {

bool IsBlank(char c) { return c != 0 && static_cast<unsigned char>(c) <= 0x20; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A whole text of decimal digits as an offset a file can be seeked to.
bool ReadOffset(const char* text, uint64_t* offset) {
  if (!*text) return false;
  uint64_t v = 0;
  for (; *text; ++text) {
    if (!IsDigit(*text)) return false;
    uint64_t digit = static_cast<uint64_t>(*text - '0');
    if (v > (0x7FFFFFFFFFFFFFFFull - digit) / 10) return false;
    v = v * 10 + digit;
  }
  *offset = v;
  return true;
}

// Copies at most `count` characters of `from` into the entry's name.
void SetName(MovieEntry* entry, const char* from, uint32_t count) {
  uint32_t limit = sizeof entry->name - 5;  // room for ".kiv"
  if (count > limit) count = limit;
  memcpy(entry->name, from, count);
  entry->name[count] = 0;
}

bool IsDirectoryEnd(char c, MovieNameStyle style) {
  return style == kPosixNames ? c == '/' : (c == ':' || c == '\\');
}

}  // namespace

void ClassifyMovieEntry(const char* text, MovieEntry* entry, MovieNameStyle style) {
  entry->kind = kEntryFile;
  entry->offset = 0;
  entry->name[0] = 0;
  entry->dropped = 0;
  if (text[0] == ':' && ReadOffset(text + 1, &entry->offset)) {
    entry->kind = kEntryOwnProgram;
    return;
  }
  const char* bar = strrchr(text, '|');
  if (bar && bar != text && ReadOffset(bar + 1, &entry->offset)) {
    entry->kind = kEntryFileAtOffset;
    SetName(entry, text, static_cast<uint32_t>(bar - text));
    return;
  }
  entry->offset = 0;
  SetName(entry, text, static_cast<uint32_t>(strlen(text)));
  // No '.' after the last directory end: the name has no extension.
  bool hasExtension = false;
  for (const char* c = entry->name; *c; ++c) {
    if (IsDirectoryEnd(*c, style)) hasExtension = false;
    if (*c == '.') hasExtension = true;
  }
  if (!hasExtension) strcat(entry->name, ".kiv");
}

void ClassifyNamedMovie(const char* name, MovieEntry* entry) {
  struct stat st;
  if (stat(name, &st) != 0 || strlen(name) >= sizeof entry->name) {
    ClassifyMovieEntry(name, entry, kNativeNameStyle);
    return;
  }
  entry->kind = kEntryFile;
  entry->offset = 0;
  entry->dropped = 0;
  memcpy(entry->name, name, strlen(name) + 1);
}

void DescribeOpenFailure(const char* fileName, const char* openText, char* out, size_t size) {
  if (!out || size == 0) return;
  if (!fileName) {
    snprintf(out, size, "cannot name the player's own program file");
    return;
  }
  // Asked again here: the open's own reason is gone by now.
  const char* reason = nullptr;
  struct stat st;
  if (stat(fileName, &st) != 0) {
    reason = strerror(errno);
  } else if (S_ISDIR(st.st_mode)) {
    reason = strerror(EISDIR);
  } else if (FILE* f = fopen(fileName, "rb")) {
    fclose(f);
  } else {
    reason = strerror(errno);
  }
  if (reason)
    snprintf(out, size, "%s: %s", fileName, reason);
  else
    snprintf(out, size, "%s: %s", fileName, openText && openText[0] ? openText : "unknown error");
}

bool TakeMovieEntry(char* list, MovieEntry* entry, MovieNameStyle style) {
  uint32_t p = 0;
  while (IsBlank(list[p])) ++p;
  if (!list[p]) {
    list[0] = 0;
    return false;
  }
  uint32_t start, end, rest;
  if (list[p] == '"' && strchr(list + p + 1, '"')) {
    start = p + 1;
    end = static_cast<uint32_t>(strchr(list + p + 1, '"') - list);
    rest = end + 1;
  } else if (list[p] == '"') {  // unclosed: the whole rest, quote included
    start = p;
    end = rest = static_cast<uint32_t>(strlen(list));
  } else {
    start = end = p;
    while (list[end] && !IsBlank(list[end])) ++end;
    rest = end;
  }
  // The separator: blanks and one ',' after them. A quoted entry is followed
  // by one the same way, so "a b", c names two movies.
  while (IsBlank(list[rest])) ++rest;
  if (list[rest] == ',') ++rest;

  while (start < end && IsBlank(list[start])) ++start;
  while (end > start && IsBlank(list[end - 1])) --end;
  char text[kCommandLineSize];
  uint32_t n = end - start < kCommandLineSize - 1 ? end - start : kCommandLineSize - 1;
  memcpy(text, list + start, n);
  text[n] = 0;
  ClassifyMovieEntry(text, entry, style);

  // The remaining list, stripped at both ends, moves to the front.
  while (IsBlank(list[rest])) ++rest;
  uint32_t left = static_cast<uint32_t>(strlen(list + rest));
  while (left > 0 && IsBlank(list[rest + left - 1])) --left;
  memmove(list, list + rest, left);
  list[left] = 0;
  return true;
}

}  // namespace kivo
