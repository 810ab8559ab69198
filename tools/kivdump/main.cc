// SPDX-License-Identifier: BSD-2-Clause
// kivdump: reads a Kivo movie and writes what it holds in ordinary formats.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "decode.h"
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
    "  --help        show this text\n"
    "  --version     the version of kivdump and of the library\n";

}  // namespace

int main(int argc, char** argv) {
  const char* movie = nullptr;
  bool info = false;
  bool stats = false;
  uint64_t offset = 0;
  kivo::tools::DumpRequest dump;
  kivo::tools::ThumbnailRequest thumbnail;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      fputs(kUsage, stdout);
      return 0;
    } else if (a == "--version") {
      printf("kivdump %s (Kivo library %s, ABI %u)\n", KIVO_VERSION_TEXT, kivo::GetLibraryVersionText(),
             unsigned(KIVO_ABI_VERSION));
      return 0;
    } else if (a == "--info") {
      info = true;
    } else if (a == "--stats") {
      stats = true;
    } else if ((a == "--y4m" || a == "--alpha") && i + 1 < argc) {
      (a == "--y4m" ? dump.y4m : dump.alpha) = argv[++i];
    } else if (a == "--compare" && i + 1 < argc) {
      dump.compare = argv[++i];
    } else if (a == "--png" && i + 1 < argc) {
      dump.pngFolder = argv[++i];
    } else if ((a == "--pcm" || a == "--wav") && i + 2 < argc) {
      char* end = nullptr;
      unsigned long id = strtoul(argv[i + 1], &end, 0);
      if (!end || *end) {
        fprintf(stderr, "kivdump: bad track id '%s'\n", argv[i + 1]);
        return 1;
      }
      dump.tracks.push_back({static_cast<uint32_t>(id), argv[i + 2], a == "--wav"});
      i += 2;
    } else if (a == "--thumbnail" && i + 2 < argc) {
      char* end = nullptr;
      const unsigned long size = strtoul(argv[i + 1], &end, 10);
      if (!isdigit(static_cast<unsigned char>(argv[i + 1][0])) || *end || size < 1 ||
          size > kivo::tools::kMaxThumbnailSize) {
        fprintf(stderr, "kivdump: the thumbnail size must be 1 to %u, not '%s'\n", kivo::tools::kMaxThumbnailSize,
                argv[i + 1]);
        return 1;
      }
      thumbnail.size = static_cast<uint32_t>(size);
      thumbnail.out = argv[i + 2];
      i += 2;
    } else if (a == "--quiet") {
      dump.progress = false;
    } else if (a == "--flags" && i + 1 < argc) {
      char* end = nullptr;
      unsigned long v = strtoul(argv[++i], &end, 16);
      if (!end || *end) {
        fprintf(stderr, "kivdump: bad flags '%s'\n", argv[i]);
        return 1;
      }
      dump.extraFlags = static_cast<uint32_t>(v);
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
  const bool decode = !dump.y4m.empty() || !dump.alpha.empty() || !dump.pngFolder.empty() || !dump.tracks.empty() ||
                      !dump.compare.empty();
  if (!movie || (!info && !stats && !decode && thumbnail.out.empty())) {
    fputs(kUsage, stderr);
    return 1;
  }
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
    fprintf(stderr, "kivdump: %s: %s\n", movie, error.c_str());
    return 1;
  }
  return 0;
}
