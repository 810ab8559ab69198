// SPDX-License-Identifier: BSD-2-Clause
// Helpers of the hardening tests.
#include "hardening_support.h"

#include <cstdlib>

#include "kivo/convert.h"
#include "movie/container.h"
#include "movie/movie_api.h"

namespace kivo::test {

uint32_t Word(const std::vector<uint8_t>& bytes, uint32_t at) { return ReadLe32(bytes.data() + at); }

void SetWord(std::vector<uint8_t>& bytes, uint32_t at, uint32_t value) { WriteLe32(bytes.data() + at, value); }

uint32_t IndexEntryOffset(const std::vector<uint8_t>& bytes, uint32_t k) {
  return kHeaderSize + 12 * Word(bytes, kFieldTrackCount) + 4 * k;
}

PictureMemory::PictureMemory(uint32_t width, uint32_t height)
    : pixels(size_t(width) * 4 * height), pitch(static_cast<int32_t>(width * 4)), rows(height) {}

int32_t CycleOnce(Movie* movie, PictureMemory& picture) {
  int32_t result = DoFrame(movie);
  if (movie->width * 4 <= uint32_t(picture.pitch) && movie->height <= picture.rows)
    CopyToBuffer(movie, picture.pixels.data(), picture.pitch, movie->height, 0, 0, kFormatBgrx32);
  GetRects(movie, kFormatBgrx32);
  NextFrame(movie);
  return result;
}

bool LongTests() {
  const char* v = getenv("KIVO_LONG_TESTS");
  return v && *v && *v != '0';
}

}  // namespace kivo::test
