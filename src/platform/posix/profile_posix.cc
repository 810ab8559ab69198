// SPDX-License-Identifier: BSD-2-Clause
// The user profile on POSIX systems: $XDG_CONFIG_HOME/kivo/profile.ini
// (default ~/.config), rewritten atomically; and the default command line,
// a patchable buffer inside the program file.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/profile_text.h"

namespace kivo::os {
namespace {

std::string ProfileDirectory() {
  const char* xdg = getenv("XDG_CONFIG_HOME");
  std::string base;
  if (xdg && *xdg) {
    base = xdg;
  } else {
    const char* home = getenv("HOME");
    base = std::string(home && *home ? home : ".") + "/.config";
  }
  return base + "/kivo";
}

std::string ReadWholeFile(const std::string& path) {
  std::string text;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return text;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
  fclose(f);
  return text;
}

}  // namespace

// The marker lets a self-playing copy's maker find the buffer in the binary;
// the 511 bytes after it are the default command line padded with '~'.
extern "C" {
#define KIVO_DEFAULT_LINE_ROOM \
    "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~" \
    "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~" \
    "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~" \
    "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~" \
    "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~"
static_assert(sizeof(KIVO_DEFAULT_LINE_ROOM) == 512, "511 characters of room and the terminator");
__attribute__((used)) volatile char kivoDefaultCommandLine[24 + 512] = "KIVO-DEFAULT-CMDLINE-v1:" KIVO_DEFAULT_LINE_ROOM;
}

uint32_t LoadDefaultCommandLine(char* out, uint32_t size) {
  if (!out || size == 0) return 0;
  uint32_t limit = size < 512 ? size : 512;
  uint32_t n = 0;
  for (; n + 1 < limit; ++n) {
    char c = kivoDefaultCommandLine[24 + n];
    if (c == 0 || c == '~') break;
    out[n] = c;
  }
  out[n] = 0;
  return n;
}

uint32_t ReadProfileText(const char* section, const char* key, const char* fallback, char* out, uint32_t size) {
  if (!out || size == 0) return 0;
  std::string value;
  if (!FindProfileValue(ReadWholeFile(ProfileDirectory() + "/profile.ini"), section, key, &value))
    value = fallback ? fallback : "";
  uint32_t n = static_cast<uint32_t>(value.size()) < size - 1 ? static_cast<uint32_t>(value.size()) : size - 1;
  memcpy(out, value.data(), n);
  out[n] = 0;
  return n;
}

bool WriteProfileText(const char* section, const char* key, const char* value) {
  std::string dir = ProfileDirectory();
  std::string parent = dir.substr(0, dir.rfind('/'));
  mkdir(parent.c_str(), 0755);
  mkdir(dir.c_str(), 0755);
  std::string path = dir + "/profile.ini";
  std::string text = SetProfileValue(ReadWholeFile(path), section, key, value);
  return WriteFileAtomically(path.c_str(), text.data(), static_cast<uint32_t>(text.size()));
}

}  // namespace kivo::os
