// SPDX-License-Identifier: BSD-2-Clause
// Fuzz target: the player's command line. The input is split at the first two
// 0xFF bytes into the stored default line, the real line and the profile's
// quick-play value; the parsed settings then go through the stretch rule and
// the movie list is taken apart entry by entry, in both name styles. The real
// line is also split into program arguments and joined again by the Linux
// rules (files, switches, "--", the GNU options), then parsed.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "player/command_line.h"
#include "player/movie_list.h"

namespace {

struct Profile {
  const uint8_t* data;
  size_t size;
  uint32_t asked;
};

uint32_t ReadQuickPlay(void* context, char* out, uint32_t size) {
  Profile* p = static_cast<Profile*>(context);
  ++p->asked;
  // The value may be longer than the room and may hold any byte, nul included.
  uint32_t n = p->size < size - 1 ? static_cast<uint32_t>(p->size) : size - 1;
  memcpy(out, p->data, n);
  out[n] = 0;
  return n;
}

void TakeAll(const char* list, kivo::MovieNameStyle style) {
  char copy[kivo::kCommandLineSize];
  memcpy(copy, list, sizeof copy);
  copy[sizeof copy - 1] = 0;
  kivo::MovieEntry entry;
  // Each entry takes at least one character off the list.
  for (uint32_t taken = 0; kivo::TakeMovieEntry(copy, &entry, style); ++taken) {
    if (taken > kivo::kCommandLineSize) __builtin_trap();
    if (!memchr(entry.name, 0, sizeof entry.name)) __builtin_trap();
  }
}

// Decides which names exist, the same way for the same name within one run.
uint32_t NameHash(const char* p) {
  uint32_t h = 2166136261u;
  for (; *p; ++p) h = (h ^ uint8_t(*p)) * 16777619u;
  return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  std::vector<std::string> parts(3);
  size_t part = 0;
  const uint8_t* profileStart = data + size;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0xFF && part < 2) {
      ++part;
      if (part == 2) profileStart = data + i + 1;
      continue;
    }
    if (part == 2) break;
    if (data[i]) parts[part] += static_cast<char>(data[i]);
  }
  Profile profile{profileStart, size_t(data + size - profileStart), 0};
  // The screen size comes from the last bytes so that the stretch rule sees
  // odd and zero sizes too.
  int32_t screenW = size >= 2 ? data[size - 1] * 16 : 640, screenH = size >= 2 ? data[size - 2] * 12 : 480;
  kivo::CommandLineSources sources{parts[0].c_str(), parts[1].c_str(), ReadQuickPlay, &profile, screenW, screenH};
  static kivo::ParsedCommandLine parsed;
  memset(&parsed, 0, sizeof parsed);
  int32_t play = kivo::ParseCommandLine(sources, &parsed);
  if (!memchr(parsed.movieList, 0, sizeof parsed.movieList)) __builtin_trap();
  if (play != 0 && play != 1) __builtin_trap();
  if (play) {
    uint32_t w = 0, h = 0;
    kivo::PlayerSettings settings = parsed.settings;
    kivo::StretchTargets(&settings, size ? data[0] * 5u + 1 : 64, size > 1 ? data[1] * 3u + 1 : 48, &w, &h);
    TakeAll(parsed.movieList, kivo::kWindowsNames);
    TakeAll(parsed.movieList, kivo::kPosixNames);
  }

  // The real line as split arguments (split at blanks, and at 0x01 so that
  // arguments may hold blanks), joined into a small and a full buffer. What
  // exists is decided by the bytes of each name, so every rule is reached:
  // files, folders, names in existing top folders, switches, "--", the GNU
  // options and bad options.
  std::vector<std::string> args{"player"};
  std::string word;
  for (char ch : parts[1] + ' ') {
    if (ch == ' ' || ch == '\x01') {
      if (!word.empty()) args.push_back(word);
      word.clear();
    } else {
      word += ch;
    }
  }
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  uint32_t seed = size ? data[size / 2] : 0;
  kivo::FileFacts facts{[](void* c, const char* p) { return ((NameHash(p) ^ *static_cast<uint32_t*>(c)) & 3) == 0; },
                        [](void* c, const char* p) { return ((NameHash(p) ^ *static_cast<uint32_t*>(c)) & 3) == 1; },
                        &seed};
  for (uint32_t room : {16u, kivo::kCommandLineSize}) {
    std::vector<char> out(room, '\x7f');
    std::vector<std::string> movies;
    const kivo::ProgramArguments r =
        kivo::JoinProgramArguments(static_cast<int>(argv.size()), argv.data(), facts, out.data(), room, &movies);
    if (r.action < kivo::kActionPlay || r.action > kivo::kActionBadOption) __builtin_trap();
    if (r.action == kivo::kActionBadOption) {
      bool found = false;
      for (const char* a : argv) found = found || a == r.badOption;
      if (!found || r.badOption[0] != '-') __builtin_trap();
    }
    if (r.action != kivo::kActionPlay) continue;
    if (r.length >= room || out[r.length] != 0 || strlen(out.data()) != r.length) __builtin_trap();
    // What was joined parses like any real line.
    static kivo::ParsedCommandLine joined;
    kivo::CommandLineSources again{parts[0].c_str(), out.data(), nullptr, nullptr, screenW, screenH};
    if (kivo::ParseCommandLine(again, &joined) == 1) TakeAll(joined.movieList, kivo::kPosixNames);
  }
  return 0;
}
