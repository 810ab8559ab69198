// SPDX-License-Identifier: BSD-2-Clause
// SDL video for a test: a chosen driver for the life of the object, and a
// window on it.
#pragma once

#include <SDL.h>

#include <vector>

#include "display/sdl/picture_pattern.h"

namespace kivo::testing {

// While one lives, allocations of this thread are left out of the leak check
// of sanitizer builds: the GL drivers SDL loads keep memory to the end of the
// process and are unloaded before the check can name them.
class DriverAllocationsIgnored {
 public:
  DriverAllocationsIgnored();
  ~DriverAllocationsIgnored();
};

class SdlVideo {
 public:
  explicit SdlVideo(const char* driver);
  ~SdlVideo();
  bool ok() const { return ok_; }
 private:
  bool ok_ = false;
};

// Reads back what a renderer or a window surface shows, in window pixels.
struct Shown {
  std::vector<uint32_t> pixels;   // 0x00RRGGBB
  int width = 0, height = 0;
  Rgb at(int x, int y) const { return FromXrgb(pixels[size_t(y) * width + x]); }
};
bool ReadRenderer(SDL_Window* window, Shown* out);
bool ReadWindowSurface(SDL_Window* window, Shown* out);

// Compares a shown picture at (x0, y0) with the pattern for `code`; the
// number of compared pixels that differ by more than the tolerance.
int PatternMismatches(const Shown& shown, int x0, int y0, int32_t code, uint32_t width,
                      uint32_t height, int scale = 1);

}  // namespace kivo::testing
