// SPDX-License-Identifier: BSD-2-Clause
// Helpers of the hardening tests: header fields patched into test movies,
// the frame cycle driven whole (decode, copy into memory, rectangles), and a
// movie with sound written to a file for reading ahead.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "movie/movie.h"

namespace kivo::test {

// Byte offsets of the header's words.
enum HeaderField : uint32_t {
  kFieldDataSize = 4,
  kFieldFrameCount = 8,
  kFieldLargestFrame = 12,
  kFieldIndexLast = 16,
  kFieldWidth = 20,
  kFieldHeight = 24,
  kFieldRateNum = 28,
  kFieldRateDen = 32,
  kFieldVideoFlags = 36,
  kFieldTrackCount = 40,
};
uint32_t Word(const std::vector<uint8_t>& bytes, uint32_t at);
void SetWord(std::vector<uint8_t>& bytes, uint32_t at, uint32_t value);
// Offset of frame index entry `k` (0 = the first frame's start).
uint32_t IndexEntryOffset(const std::vector<uint8_t>& bytes, uint32_t k);

// A 32-bit picture as large as any the tests play, for CopyToBuffer.
struct PictureMemory {
  std::vector<uint8_t> pixels;
  int32_t pitch = 0;
  uint32_t rows = 0;
  explicit PictureMemory(uint32_t width = 1024, uint32_t height = 768);
};

// One turn of the cycle without waiting: decode, copy, rectangles, next.
// Returns what DoFrame returned.
int32_t CycleOnce(Movie* movie, PictureMemory& picture);

// True when KIVO_LONG_TESTS asks for the long versions.
bool LongTests();

}  // namespace kivo::test
