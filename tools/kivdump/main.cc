// SPDX-License-Identifier: BSD-2-Clause
// kivdump: reads a Kivo movie and writes what it holds in ordinary formats.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "decode.h"
#include "encode/output_file.h"
#include "info.h"
#include "kivo/version.h"
#include "stats.h"
#include "thumbnail.h"

namespace {

const char* kUsage =
    "usage: kivdump MOVIE [--info] [--stats] [--y4m OUT] [--alpha OUT] [--png DIR] [--pcm ID OUT] [--wav ID OUT]\n"
    "               [--thumbnail SIZE OUT] [--flags HEX] [--offset N]\n"
    "               [--compare SOURCE.y4m]\n"
    "  --info        print the header, tracks and frame index as JSON\n"
    "  --stats       per frame its size, key bit, and bytes and block types per plane, then totals\n"
    "  --y4m OUT     decode every frame into a YUV4MPEG2 file (4:2:0, visible area; - = stdout)\n"
    "  --alpha OUT   the alpha plane of every frame as raw bytes, width x height each\n"
    "  --png DIR     every frame as DIR/frameNNNNN.png, in the player's colours (RGBA with alpha)\n"
    "  --pcm ID OUT  the decoded audio of the track with that id as raw signed 16-bit PCM\n"
    "  --wav ID OUT  the same as a WAV file\n"
    "  --thumbnail SIZE OUT  a PNG of a representative picture, its longer side SIZE pixels (1 to 4096)\n"
    "  --compare SRC luma and chroma PSNR and luma SSIM of the decoded pictures against their source\n"
    "  --flags HEX   open flags ORed in (0x20000 grey, 0x40000 no processor extensions)\n"
    "  --offset N    the movie starts at byte N of the file\n"
    "  --quiet       no progress line\n"
    "  --            the next argument is the movie, even if it begins with '-'\n"
    "  --help        show this text\n"
    "  --version     the version of kivdump and of the library\n";

// A usage error: one line and a pointer to the help, exit code 2.
int Usage(const std::string& text) {
  fprintf(stderr, "kivdump: %s\nTry 'kivdump --help' for more information.\n", text.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const char* movie = nullptr;
  bool info = false;
  bool stats = false;
  bool optionsEnded = false;
  uint64_t offset = 0;
  kivo::tools::DumpRequest dump;
  kivo::tools::ThumbnailRequest thumbnail;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    // The values an option takes, or a usage error naming what is missing.
    const auto values = [&](int count, const char* what) {
      if (i + count < argc) return true;
      Usage(a + " needs " + what);
      return false;
    };
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      if (movie) return Usage(std::string("more than one movie given ('") + movie + "', '" + a + "')");
      movie = argv[i];
    } else if (a == "--") {
      optionsEnded = true;
    } else if (a == "--help" || a == "-h") {
      fputs(kUsage, stdout);
      return kivo::tools::StandardOutputWritten("kivdump") ? 0 : 1;
    } else if (a == "--version") {
      printf("kivdump %s (Kivo library %s, ABI %u)\n", KIVO_VERSION_TEXT, kivo::GetLibraryVersionText(),
             unsigned(KIVO_ABI_VERSION));
      return kivo::tools::StandardOutputWritten("kivdump") ? 0 : 1;
    } else if (a == "--info") {
      info = true;
    } else if (a == "--stats") {
      stats = true;
    } else if (a == "--y4m" || a == "--alpha") {
      if (!values(1, "a file name (OUT)")) return 2;
      (a == "--y4m" ? dump.y4m : dump.alpha) = argv[++i];
    } else if (a == "--compare") {
      if (!values(1, "the source (SOURCE.y4m)")) return 2;
      dump.compare = argv[++i];
    } else if (a == "--png") {
      if (!values(1, "a folder (DIR)")) return 2;
      dump.pngFolder = argv[++i];
    } else if (a == "--pcm" || a == "--wav") {
      if (!values(2, "a track id and a file name (ID OUT)")) return 2;
      char* end = nullptr;
      unsigned long id = strtoul(argv[i + 1], &end, 0);
      if (!argv[i + 1][0] || !end || *end) return Usage(a + ": bad track id '" + argv[i + 1] + "'");
      dump.tracks.push_back({static_cast<uint32_t>(id), argv[i + 2], a == "--wav"});
      i += 2;
    } else if (a == "--thumbnail") {
      if (!values(2, "a size and a file name (SIZE OUT)")) return 2;
      char* end = nullptr;
      const unsigned long size = strtoul(argv[i + 1], &end, 10);
      if (!isdigit(static_cast<unsigned char>(argv[i + 1][0])) || *end || size < 1 ||
          size > kivo::tools::kMaxThumbnailSize)
        return Usage("--thumbnail: the size must be 1 to " + std::to_string(kivo::tools::kMaxThumbnailSize) +
                     ", not '" + argv[i + 1] + "'");
      thumbnail.size = static_cast<uint32_t>(size);
      thumbnail.out = argv[i + 2];
      i += 2;
    } else if (a == "--quiet") {
      dump.progress = false;
    } else if (a == "--flags") {
      if (!values(1, "a hexadecimal number (HEX)")) return 2;
      char* end = nullptr;
      unsigned long v = strtoul(argv[++i], &end, 16);
      if (!argv[i][0] || !end || *end) return Usage(std::string("--flags: bad flags '") + argv[i] + "'");
      dump.extraFlags = static_cast<uint32_t>(v);
    } else if (a == "--offset") {
      if (!values(1, "a byte offset (N)")) return 2;
      char* end = nullptr;
      offset = strtoull(argv[++i], &end, 0);
      if (!argv[i][0] || !end || *end) return Usage(std::string("--offset: bad offset '") + argv[i] + "'");
    } else {
      return Usage("unknown option '" + a + "'");
    }
  }
  const bool decode = !dump.y4m.empty() || !dump.alpha.empty() || !dump.pngFolder.empty() || !dump.tracks.empty() ||
                      !dump.compare.empty();
  if (!movie) return Usage("no movie given");
  if (!info && !stats && !decode && thumbnail.out.empty())
    return Usage("nothing to do: give --info, --stats, --y4m, --png, --thumbnail or another action");
  std::string error;
  if (info) error = kivo::tools::WriteMovieInfo(movie, offset, stdout);
  if (error.empty() && stats) error = kivo::tools::WriteMovieStats(movie, offset, stdout);
  if (error.empty() && decode) {
    dump.movie = movie;
    dump.offset = offset;
    error = kivo::tools::DumpMovie(dump);
  }
  if (error.empty() && !thumbnail.out.empty()) {
    thumbnail.movie = movie;
    thumbnail.offset = offset;
    kivo::tools::Thumbnail made;
    error = kivo::tools::WriteThumbnail(thumbnail, &made);
    if (error.empty() && dump.progress)
      fprintf(stderr, "kivdump: thumbnail of frame %u, %ux%u\n", made.frame, made.width, made.height);
  }
  if (!error.empty()) {
    // An output's error names the output; any other is the movie's.
    std::vector<std::string> outputs{dump.y4m, dump.alpha, dump.pngFolder, thumbnail.out};
    for (const auto& t : dump.tracks) outputs.push_back(t.path);
    bool named = false;
    for (const std::string& o : outputs) named = named || (!o.empty() && error.compare(0, o.size() + 2, o + ": ") == 0);
    fprintf(stderr, "kivdump: %s%s%s\n", named ? "" : movie, named ? "" : ": ", error.c_str());
    return 1;
  }
  return kivo::tools::StandardOutputWritten("kivdump") ? 0 : 1;
}
