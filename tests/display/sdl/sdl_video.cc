// SPDX-License-Identifier: BSD-2-Clause
// SDL video set-up and read-back for the display tests.
#include "display/sdl/sdl_video.h"

#include <cstdlib>
#include <cstring>

extern "C" void __lsan_disable() __attribute__((weak));
extern "C" void __lsan_enable() __attribute__((weak));

namespace kivo::testing {

DriverAllocationsIgnored::DriverAllocationsIgnored() {
  if (__lsan_disable) __lsan_disable();
}

DriverAllocationsIgnored::~DriverAllocationsIgnored() {
  if (__lsan_enable) __lsan_enable();
}

SdlVideo::SdlVideo(const char* driver) {
  // The dummy driver is only taken when asked for by name in the environment.
  setenv("SDL_VIDEODRIVER", driver, 1);
  setenv("SDL_VIDEO_DRIVER", driver, 1);
  ok_ = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
  if (ok_ && strcmp(SDL_GetCurrentVideoDriver(), driver) != 0) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    ok_ = false;
  }
}

SdlVideo::~SdlVideo() {
  if (ok_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

bool ReadRenderer(SDL_Window* window, Shown* out) {
  SDL_Renderer* r = SDL_GetRenderer(window);
  if (!r || SDL_GetRendererOutputSize(r, &out->width, &out->height) != 0) return false;
  out->pixels.assign(size_t(out->width) * out->height, 0);
  return SDL_RenderReadPixels(r, nullptr, SDL_PIXELFORMAT_RGB888, out->pixels.data(),
                              out->width * 4) == 0;
}

bool ReadWindowSurface(SDL_Window* window, Shown* out) {
  SDL_Surface* s = SDL_GetWindowSurface(window);
  if (!s) return false;
  SDL_Surface* copy = SDL_ConvertSurfaceFormat(s, SDL_PIXELFORMAT_RGB888, 0);
  if (!copy) return false;
  out->width = copy->w;
  out->height = copy->h;
  out->pixels.assign(size_t(out->width) * out->height, 0);
  for (int y = 0; y < copy->h; ++y)
    memcpy(&out->pixels[size_t(y) * out->width], static_cast<uint8_t*>(copy->pixels) + y * copy->pitch,
           size_t(out->width) * 4);
  SDL_FreeSurface(copy);
  return true;
}

int PatternMismatches(const Shown& shown, int x0, int y0, int32_t code, uint32_t width,
                      uint32_t height, int scale) {
  int bad = 0;
  const int tolerance = PatternTolerance(code);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      if (!PatternComparable(code, x, y, width, height)) continue;
      for (int sy = 0; sy < scale; ++sy) {
        for (int sx = 0; sx < scale; ++sx) {
          const int px = x0 + int(x) * scale + sx, py = y0 + int(y) * scale + sy;
          if (px < 0 || py < 0 || px >= shown.width || py >= shown.height) {
            ++bad;
            continue;
          }
          const Rgb want = PatternColour(code, x, y), got = shown.at(px, py);
          if (abs(want.r - got.r) > tolerance || abs(want.g - got.g) > tolerance ||
              abs(want.b - got.b) > tolerance)
            ++bad;
        }
      }
    }
  }
  return bad;
}

}  // namespace kivo::testing
