// SPDX-License-Identifier: BSD-2-Clause
// The SDL2 system: the video subsystem as the shared device, window and
// screen measurements, and display modes as exclusive full screen.
#include <SDL.h>

#include "display/blit_style.h"
#include "display/display_mode.h"
#include "display/pixel_layout.h"
#include "display/sdl/sdl_renderer.h"
#include "display/sdl/sdl_style_list.h"
#include "display/sdl/sdl_system.h"

namespace kivo {

namespace {

// The window whose full-screen mode is the changed display mode, by id so
// that a window destroyed meanwhile is never touched.
Uint32 changedWindowId = 0;

int32_t SdlAcquire(BlitRecord* b, uint32_t openFlags) {
  if (!SDL_GetCurrentVideoDriver() || SDL_GetWindowID(WindowOf(b)) == 0) return 0;
  ApplyDisplayModeChange(b, openFlags);
  return 1;
}

void SdlRelease(BlitRecord*) {}

void SdlMeasureWindow(BlitRecord* b, int32_t* originX, int32_t* originY) {
  SDL_Window* w = WindowOf(b);
  int top = 0, left = 0, bottom = 0, right = 0;
  if (SDL_GetWindowBordersSize(w, &top, &left, &bottom, &right) != 0) top = left = bottom = right = 0;
  b->clientOffsetX = left;
  b->clientOffsetY = top;
  b->frameWidth = uint32_t(left + right);
  b->frameHeight = uint32_t(top + bottom);
  int x = 0, y = 0;
  SDL_GetWindowPosition(w, &x, &y);   // SDL gives the client area's position
  *originX = x;
  *originY = y;
}

int DisplayOf(const BlitRecord* b) {
  const int display = SDL_GetWindowDisplayIndex(WindowOf(b));
  return display < 0 ? 0 : display;
}

void SdlMeasureScreen(BlitRecord* b) {
  SDL_DisplayMode mode;
  if (SDL_GetCurrentDisplayMode(DisplayOf(b), &mode) != 0) return;
  b->screenWidth = mode.w > 0 ? uint32_t(mode.w) : 0;
  b->screenHeight = mode.h > 0 ? uint32_t(mode.h) : 0;
  b->screenBits = SdlFormatBits(mode.format);
}

int32_t SdlSetMode(BlitRecord* b, uint32_t width, uint32_t height, uint32_t bits) {
  SDL_Window* w = WindowOf(b);
  const int display = DisplayOf(b);
  const int count = SDL_GetNumDisplayModes(display);
  for (int i = 0; i < count; ++i) {
    SDL_DisplayMode mode;
    if (SDL_GetDisplayMode(display, i, &mode) != 0) continue;
    if (uint32_t(mode.w) != width || uint32_t(mode.h) != height) continue;
    if (bits != 0 && SdlFormatBits(mode.format) != bits) continue;
    if (SDL_SetWindowDisplayMode(w, &mode) != 0) return 0;
    if (SDL_SetWindowFullscreen(w, SDL_WINDOW_FULLSCREEN) != 0) return 0;
    changedWindowId = SDL_GetWindowID(w);
    return 1;
  }
  return 0;
}

uint32_t SdlDisplayBits(BlitRecord* b) {
  SDL_DisplayMode mode;
  if (SDL_GetCurrentDisplayMode(DisplayOf(b), &mode) != 0) return 0;
  return SdlFormatBits(mode.format);
}

void SdlRestoreMode(BlitRecord*) {
  SDL_Window* w = changedWindowId ? SDL_GetWindowFromID(changedWindowId) : nullptr;
  if (w) SDL_SetWindowFullscreen(w, 0);
  changedWindowId = 0;
}

const BlitSystem kSdlSystem = {
    .unavailableText = "SDL video is not available",
    .acquireDevice = SdlAcquire,
    .releaseDevice = SdlRelease,
    .styles = SdlStyles,
    .measureWindow = SdlMeasureWindow,
    .measureScreen = SdlMeasureScreen,
    .setMode = SdlSetMode,
    .displayBits = SdlDisplayBits,
    .restoreMode = SdlRestoreMode,
    .showBand = ShowSdlWindowBand,
    .eraseBand = EraseSdlWindowBand,
};

}  // namespace

const BlitSystem* SdlBlitSystem() { return &kSdlSystem; }

int32_t DestinationCodeFromSdlFormat(uint32_t format) {
  switch (format) {
    case SDL_PIXELFORMAT_YV12: return kDestYv12;
    case SDL_PIXELFORMAT_YUY2: return kDestYuy2;
    case SDL_PIXELFORMAT_UYVY: return kDestUyvy;
    default: break;
  }
  if (format == SDL_PIXELFORMAT_UNKNOWN || SDL_ISPIXELFORMAT_FOURCC(format)) return kDestUnknown;
  if (SDL_ISPIXELFORMAT_INDEXED(format)) return SdlFormatBits(format) == 8 ? kDestPalette8 : kDestUnknown;
  int bpp = 0;
  Uint32 r = 0, g = 0, bl = 0, a = 0;
  if (!SDL_PixelFormatEnumToMasks(format, &bpp, &r, &g, &bl, &a)) return kDestUnknown;
  return DestinationCodeFromMasks(SdlFormatBits(format), r, g, bl, a);
}

uint32_t SdlFormatBits(uint32_t format) {
  if (format == SDL_PIXELFORMAT_UNKNOWN || SDL_ISPIXELFORMAT_FOURCC(format)) return 0;
  return uint32_t(SDL_BYTESPERPIXEL(format)) * 8;
}

void SetWindowCursorHidden(bool hidden) { SDL_ShowCursor(hidden ? SDL_DISABLE : SDL_ENABLE); }

}  // namespace kivo
