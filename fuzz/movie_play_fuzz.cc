// SPDX-License-Identifier: BSD-2-Clause
// Fuzzes the whole reading path: any bytes opened as a movie file and, when
// the open accepts them, every frame played through the frame cycle.
#include <cstdint>
#include <cstdio>
#include <string>

#include <unistd.h>

#include "movie/movie_api.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Large pictures only make runs slow; the open's own limits are tested elsewhere.
  if (size >= 28) {
    uint32_t w = data[20] | data[21] << 8 | data[22] << 16 | uint32_t(data[23]) << 24;
    uint32_t h = data[24] | data[25] << 8 | data[26] << 16 | uint32_t(data[27]) << 24;
    if (uint64_t(w) * h > 1024 * 1024) return 0;
  }
  static const std::string path = "/dev/shm/kivo-fuzz-" + std::to_string(getpid()) + ".kiv";
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return 0;
  fwrite(data, 1, size, f);
  fclose(f);
  // Alternate the reading modes by the first byte of the movie's video flags.
  uint32_t flags = size > 36 ? (uint32_t(data[36]) & 3) : 0;
  using namespace kivo;
  uint32_t open = (flags & 1 ? kOpenPreload : 0) | (flags & 2 ? kOpenNoReader : 0) | kOpenAlpha;
  kivo::Movie* movie = kivo::OpenMovie(path.c_str(), open);
  if (movie) {
    uint32_t frames = movie->frameCount < 300 ? movie->frameCount : 300;
    // Looping, so that the next pass's sound is prepared before the wrap too.
    kivo::SetMovieLooping(movie, 1);
    for (uint32_t i = 0; i < frames + 2; ++i) {
      kivo::DoFrame(movie);
      kivo::GetRects(movie, 0);
      kivo::NextFrame(movie);
    }
    kivo::CloseMovie(movie);
  }
  return 0;
}
