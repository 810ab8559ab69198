// kivdump: reads a Kivo movie and writes what it holds in ordinary formats.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "info.h"

namespace {

const char* kUsage =
    "usage: kivdump MOVIE [--info] [--offset N]\n"
    "  --info       print the header, tracks and frame index as JSON\n"
    "  --offset N   the movie starts at byte N of the file\n"
    "  --help       show this text\n";

}  // namespace

int main(int argc, char** argv) {
  const char* movie = nullptr;
  bool info = false;
  uint64_t offset = 0;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      fputs(kUsage, stdout);
      return 0;
    } else if (a == "--info") {
      info = true;
    } else if (a == "--offset" && i + 1 < argc) {
      char* end = nullptr;
      offset = strtoull(argv[++i], &end, 0);
      if (!end || *end) {
        fprintf(stderr, "kivdump: bad offset '%s'\n", argv[i]);
        return 1;
      }
    } else if (a.size() > 1 && a[0] == '-') {
      fprintf(stderr, "kivdump: unknown option '%s'\n%s", argv[i], kUsage);
      return 1;
    } else if (!movie) {
      movie = argv[i];
    } else {
      fprintf(stderr, "kivdump: more than one movie given\n%s", kUsage);
      return 1;
    }
  }
  if (!movie || !info) {
    fputs(kUsage, stderr);
    return 1;
  }
  std::string error = kivo::tools::WriteMovieInfo(movie, offset, stdout);
  if (!error.empty()) {
    fprintf(stderr, "kivdump: %s: %s\n", movie, error.c_str());
    return 1;
  }
  return 0;
}
