// SPDX-License-Identifier: BSD-2-Clause
// Straightforward models of what the converters write: every pixel worked
// out from the colour formulas directly (the table arithmetic and the lane
// arithmetic), placed where the display option puts it, routed through a
// group or a single-pixel routine by the walk's rules.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace kivo::test {

// A decoded picture laid out as the movie holds it.
struct Planes {
  uint32_t width = 0, height = 0;  // picture size
  uint32_t pitch = 0, rows = 0;    // padded to 16
  std::vector<uint8_t> block;      // luma, first chroma, second chroma
  std::vector<uint8_t> alpha;      // empty: no alpha plane
  uint8_t* luma() { return block.data(); }
  uint8_t* chroma1() { return block.data() + size_t(pitch) * rows; }
  uint8_t* chroma2() { return chroma1() + size_t(pitch / 2) * (rows / 2); }
  const uint8_t* luma() const { return block.data(); }
  const uint8_t* chroma1() const { return block.data() + size_t(pitch) * rows; }
  const uint8_t* chroma2() const { return chroma1() + size_t(pitch / 2) * (rows / 2); }
};

// Random samples (luma up to maxY) in a picture of this size.
Planes RandomPlanes(std::mt19937& rng, uint32_t width, uint32_t height, bool alpha, uint32_t maxY = 255);
// Every sample of a plane set to one value.
Planes FlatPlanes(uint32_t width, uint32_t height, uint8_t y, uint8_t u, uint8_t v, bool alpha, uint8_t a = 0);

// Which arithmetic a pixel gets.
enum class Family { Table, Lane };

struct Rgb {
  int r, g, b;
};
Rgb TableColour(int y, int u, int v);
Rgb LaneColour(int y, int u, int v);
int TableGray(int y);
int LaneGray(int y);            // 32- and 24-bit fast gray
uint32_t LaneGray16(int code, int y);  // 16-bit fast gray word, before alpha

// The bytes of one destination pixel (2x width: of its two destination
// pixels) for a format code; `parity` is the source x parity.
std::vector<uint8_t> PixelBytes(int code, Family family, bool gray, bool wide, bool hasAlpha, bool exchange, int y,
                                int u, int v, int a, int parity);

// A whole conversion as CopyToBuffer's converters do it.
struct Job {
  int code = 3;
  uint32_t option = 0;
  bool gray = false;
  bool exchange = false;
  bool fast = false;          // the fast family (pixels of groups take the lane arithmetic)
  uint32_t fastGranularity = 2;  // log2 pixels per fast group
  bool hasAlpha = false;
  const uint8_t* map = nullptr;  // changed-cell map; null = full copy
  uint32_t mapRow = 0;
  uint32_t sx = 0, sy = 0;    // full copy: first source pixel and row (of the whole width x height)
  uint32_t width = 0, height = 0;  // full copy: the area; 0 = the picture
  uint32_t x = 0, y = 0;      // destination position
  uintptr_t address = 0;      // destination address (its alignment moves the leading count)
  int32_t pitch = 0;
};

// Applies the job to `dest` (a copy of the destination buffer as it was),
// pixel by pixel, where `dest` points at the buffer's byte 0 and rows are
// counted from the top of the picture.
void ApplyModel(const Job& job, const Planes& p, std::vector<uint8_t>& dest, size_t originOffset);

uint32_t BytesPerPixel(int code);
// The fast group granularity of a code.
uint32_t FastGranularity(int code, bool gray);

}  // namespace kivo::test
