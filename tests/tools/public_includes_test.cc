// SPDX-License-Identifier: BSD-2-Clause
// The player, the tools and the examples reach the movie library through its
// public headers only: every include line of their sources is scanned, and
// any that names a header of the library's inside fails. Inside the library
// each module includes only the modules beneath it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace kivo {
namespace {

namespace fs = std::filesystem;

// The source tree the build came from, unless a tree to check is named (to
// try the rule on another checkout).
fs::path SourceRoot() {
  if (const char* root = getenv("KIVO_INCLUDE_SCAN_ROOT")) return root;
  return KIVO_SOURCE_ROOT;
}

// Library folders whose headers are internal (src/<folder>/...).
const std::set<std::string> kInternal = {"api", "audio", "base",     "convert", "display", "encode",
                                         "io",  "movie", "platform", "sound",   "video"};

// The few files allowed inside, for what the public API does not offer
// ("*": any header).
struct Allowed {
  const char* file;  // relative to the root
  const char* header;
};
const Allowed kInside[] = {
    // --stats counts the bitstream's block types, which the public API does not show.
    {"tools/kivdump/stats.cc", "*"},
    // --compare reads its YUV4MPEG2 source with the encoder's reader.
    {"tools/kivdump/compare.cc", "encode/input_y4m.h"},
    // Outputs that never clobber: the tools' one writer, beside the movie
    // writer that uses it too.
    {"tools/kivdump/main.cc", "encode/output_file.h"},
    {"tools/kivdump/decode.cc", "encode/output_file.h"},
    {"tools/kivdump/png_file.cc", "encode/output_file.h"},
    {"tools/kivbundle/main.cc", "encode/output_file.h"},
};

struct Include {
  std::string header;
  bool quoted;
  int line;
};

std::vector<Include> IncludesOf(const fs::path& file) {
  std::vector<Include> found;
  std::ifstream in(file);
  std::string text;
  for (int line = 1; std::getline(in, text); ++line) {
    size_t at = text.find_first_not_of(" \t");
    if (at == std::string::npos || text[at] != '#') continue;
    at = text.find_first_not_of(" \t", at + 1);
    if (at == std::string::npos || text.compare(at, 7, "include") != 0) continue;
    at = text.find_first_of("\"<", at + 7);
    if (at == std::string::npos) continue;
    const size_t end = text.find(text[at] == '"' ? '"' : '>', at + 1);
    if (end == std::string::npos) continue;
    found.push_back({text.substr(at + 1, end - at - 1), text[at] == '"', line});
  }
  return found;
}

bool AllowedInside(const std::string& file, const std::string& header) {
  for (const Allowed& a : kInside)
    if (file == a.file && (std::string(a.header) == "*" || header == a.header)) return true;
  return false;
}

// Empty when the include of `file` keeps to the public API; else why not.
// Only the player may use its own folder's paths and the platform seam.
std::string Check(const fs::path& root, bool player, const std::string& file, const Include& inc) {
  const std::string& h = inc.header;
  const std::string first = h.substr(0, h.find('/'));
  if (AllowedInside(file, h)) return "";
  if (first == "kivo") return "";
  if (!inc.quoted) return kInternal.count(first) ? "a library header through the include path" : "";
  if (player && (first == "player" || h == "platform/platform.h")) return "";
  // A header of the file's own folder, named without a folder.
  if (h.find('/') == std::string::npos && fs::exists(root / fs::path(file).parent_path() / h)) return "";
  return "not a public header";
}

TEST(PublicIncludes, PlayerToolsAndExamplesIncludeOnlyThePublicHeaders) {
  const fs::path root = SourceRoot();
  ASSERT_TRUE(fs::exists(root / "include/kivo/kivo.h")) << root << " is not the source tree";
  std::vector<std::string> bad;
  std::set<std::string> scanned;
  for (const char* area : {"player", "tools/kivdump", "tools/kivbundle", "examples"}) {
    const fs::path dir = root / area;
    ASSERT_TRUE(fs::is_directory(dir)) << dir;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir)) {
      const std::string ext = e.path().extension().string();
      if (!e.is_regular_file() || (ext != ".cc" && ext != ".h")) continue;
      const std::string file = fs::relative(e.path(), root).generic_string();
      scanned.insert(file);
      for (const Include& inc : IncludesOf(e.path())) {
        const std::string why = Check(root, std::string(area) == "player", file, inc);
        if (!why.empty()) bad.push_back(file + ":" + std::to_string(inc.line) + ": " + inc.header + ": " + why);
      }
    }
  }
  // The scan saw the files that matter, so an empty list means something.
  for (const char* must : {"tools/kivdump/decode.cc", "tools/kivdump/info.cc", "tools/kivbundle/main.cc",
                           "examples/headless.cc", "player/player_loop.cc", "player/sdl/sdl_shell.cc"})
    EXPECT_TRUE(scanned.count(must)) << must << " was not scanned";
  std::string list;
  for (const std::string& b : bad) list += "\n  " + b;
  EXPECT_TRUE(bad.empty()) << bad.size() << " includes of the library's inside:" << list;
}


// The library's modules from the bottom up: each may include its own
// headers and those of the modules before it, never one after it.
const char* const kLayers[] = {"platform", "base",  "io",    "video", "audio", "convert",
                               "display",  "sound", "movie", "api",   "encode"};

// Includes that still reach up, each with the reason.
const Allowed kUpward[] = {
    // The two driver algorithms work out the movie's whole sound from its
    // rate and length, through the Movie the public open function hands them.
    {"src/sound/buffer_queue_driver.cc", "movie/movie.h"},
    {"src/sound/looping_buffer_driver.cc", "movie/movie.h"},
};

int LayerOf(const std::string& module) {
  for (size_t i = 0; i < std::size(kLayers); ++i)
    if (module == kLayers[i]) return static_cast<int>(i);
  return -1;
}

TEST(PublicIncludes, LibraryModulesIncludeOnlyTheModulesBeneathThem) {
  const fs::path root = SourceRoot();
  ASSERT_TRUE(fs::exists(root / "src/base")) << root << " is not the source tree";
  std::vector<std::string> bad;
  std::set<std::string> modulesSeen;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(root / "src")) {
    const std::string ext = e.path().extension().string();
    if (!e.is_regular_file() || (ext != ".cc" && ext != ".h")) continue;
    const std::string file = fs::relative(e.path(), root).generic_string();
    const std::string module = file.substr(4, file.find('/', 4) - 4);
    const int layer = LayerOf(module);
    // A new module takes its place in the order first.
    if (layer < 0) {
      bad.push_back(file + ": module " + module + " is not in the order of modules");
      continue;
    }
    modulesSeen.insert(module);
    for (const Include& inc : IncludesOf(e.path())) {
      const std::string& h = inc.header;
      const int included = LayerOf(h.substr(0, h.find('/')));
      if (!inc.quoted || included <= layer) continue;
      bool allowed = false;
      for (const Allowed& a : kUpward) allowed = allowed || (file == a.file && h == a.header);
      if (!allowed) bad.push_back(file + ":" + std::to_string(inc.line) + ": " + h + ": a module above " + module);
    }
  }
  EXPECT_EQ(modulesSeen.size(), std::size(kLayers)) << "a module of the order has no sources";
  std::string list;
  for (const std::string& b : bad) list += "\n  " + b;
  EXPECT_TRUE(bad.empty()) << bad.size() << " includes reach up:" << list;
}

}  // namespace
}  // namespace kivo
