// SPDX-License-Identifier: BSD-2-Clause
// SDL style 1: the window's own surface, written in place (no stretching),
// with the cursor hidden while it is over the picture.
#include <SDL.h>

#include <cstddef>

#include "base/memory.h"
#include "display/blit_style.h"
#include "display/pixel_layout.h"
#include "display/sdl/sdl_renderer.h"
#include "display/sdl/sdl_system.h"

namespace kivo {

namespace {

struct SurfaceState {
  Uint32 windowId;
  int32_t code;
};

uint32_t NoStretch(const BlitStyle*, const BlitRecord*) { return 0; }

bool CursorOverPicture(const BlitRecord* b) {
  int mx = 0, my = 0, wx = 0, wy = 0;
  SDL_GetGlobalMouseState(&mx, &my);
  SDL_GetWindowPosition(WindowOf(b), &wx, &wy);
  const int64_t px = int64_t(wx) + b->destinationX, py = int64_t(wy) + b->destinationY;
  const int kCursorSize = 32;
  return mx < px + b->width && mx + kCursorSize > px && my < py + b->height &&
         my + kCursorSize > py;
}

void ShowHiddenCursor(BlitRecord* b) {
  for (; b->hiddenCursorCount > 0; --b->hiddenCursorCount) SDL_ShowCursor(SDL_ENABLE);
}

// The cursor is hidden once while the pointer is over the picture written in
// place and shown again when it leaves, not around every lock (which makes
// it flicker). Left alone when something else hid it.
void TrackCursor(BlitRecord* b) {
  const bool over = b->hideCursor && CursorOverPicture(b);
  if (over && b->hiddenCursorCount == 0 && SDL_ShowCursor(SDL_QUERY) == SDL_ENABLE) {
    SDL_ShowCursor(SDL_DISABLE);
    b->hiddenCursorCount = 1;
  } else if (!over) {
    ShowHiddenCursor(b);
  }
}

int32_t SurfaceOpen(BlitRecord* b, uint32_t) {
  SDL_Window* w = WindowOf(b);
  // A renderer already draws this window; the surface and it cannot share.
  if (SDL_GetRenderer(w)) return 0;
  // The window's own framebuffer, not one SDL would draw through a renderer.
  if (!SDL_GetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION))
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  SDL_Surface* s = SDL_GetWindowSurface(w);
  if (!s) return 0;
  if (SDL_MUSTLOCK(s)) {
    if (SDL_LockSurface(s) != 0) return 0;
    SDL_UnlockSurface(s);
  }
  const int32_t code = DestinationCodeFromSdlFormat(s->format->format);
  if (code == kDestPalette8) return 0;
  if (code < 0 || code > kDestRgb466) {
    SetBlitBufferError("Video mode not supported.");
    return 0;
  }
  auto* state = static_cast<SurfaceState*>(MemAlloc(sizeof(SurfaceState)));
  if (!state) return 0;
  *state = SurfaceState{SDL_GetWindowID(w), code};
  b->styleState = state;
  b->surface = s;
  b->usesPrimary = 1;
  b->hideCursor = 1;
  b->flags = (b->flags & ~kBlitCodeMask) | uint32_t(code);
  return 1;
}

void SurfaceClose(BlitRecord* b) {
  if (b->hiddenCursorCount > 0) ShowHiddenCursor(b);
  MemFree(b->styleState);
  b->styleState = nullptr;
  b->surface = nullptr;
}

// A lock that fails asks for a full copy at the next one: the picture on the
// surface is not known to be the last one copied.
int32_t SurfaceLockFailed(BlitRecord* b) {
  b->flags |= kBlitFullCopy;
  return 0;
}

int32_t SurfaceLock(BlitRecord* b) {
  auto* state = static_cast<SurfaceState*>(b->styleState);
  SDL_Window* w = WindowOf(b);
  if (!state || !WindowAlive(state->windowId, w)) return SurfaceLockFailed(b);
  // A resized window has a new surface, whose contents are new too.
  SDL_Surface* s = SDL_GetWindowSurface(w);
  if (!s || DestinationCodeFromSdlFormat(s->format->format) != state->code) return SurfaceLockFailed(b);
  if (s != b->surface) {
    b->surface = s;
    b->flags |= kBlitFullCopy;
  }
  // The whole picture must lie on the surface: the copy writes all of it.
  if (b->destinationX < 0 || b->destinationY < 0 ||
      int64_t(b->destinationX) + b->width > s->w || int64_t(b->destinationY) + b->height > s->h)
    return SurfaceLockFailed(b);
  TrackCursor(b);
  if (SDL_MUSTLOCK(s) && SDL_LockSurface(s) != 0) return SurfaceLockFailed(b);
  b->lockedSurfaceMemory = s->pixels;
  b->lockedPointer = static_cast<uint8_t*>(s->pixels) + ptrdiff_t(b->destinationY) * s->pitch +
                     ptrdiff_t(b->destinationX) * s->format->BytesPerPixel;
  b->lockedPitch = s->pitch;
  return 1;
}

void SurfaceUnlock(BlitRecord* b) {
  auto* s = static_cast<SDL_Surface*>(b->surface);
  if (s && SDL_MUSTLOCK(s)) SDL_UnlockSurface(s);
  b->lockedSurfaceMemory = nullptr;
}

// Kept in step with the window: the cursor follows the pointer on or off the
// picture (called after a move or resize, and when the pointer moves).
void SurfacePlace(BlitRecord* b, int32_t) {
  auto* state = static_cast<SurfaceState*>(b->styleState);
  if (state && WindowAlive(state->windowId, b->window)) TrackCursor(b);
}

void SurfaceBlit(BlitRecord* b, const MovieRect* rects, int32_t count) {
  auto* state = static_cast<SurfaceState*>(b->styleState);
  SDL_Window* w = WindowOf(b);
  if (!state || !WindowAlive(state->windowId, w)) return;
  SDL_Surface* s = SDL_GetWindowSurface(w);
  if (!s) return;
  SDL_Rect out[16];
  int n = 0;
  const MovieRect whole{0, 0, int32_t(b->width), int32_t(b->height)};
  if (!rects) rects = &whole, count = 1;
  for (int32_t i = 0; i < count && n < 16; ++i) {
    // Into window coordinates, cut to the surface.
    int64_t x0 = int64_t(rects[i].x) + b->destinationX, y0 = int64_t(rects[i].y) + b->destinationY;
    int64_t x1 = x0 + rects[i].width, y1 = y0 + rects[i].height;
    if (x0 < 0) x0 = 0;
    if (y0 < 0) y0 = 0;
    if (x1 > s->w) x1 = s->w;
    if (y1 > s->h) y1 = s->h;
    if (x1 <= x0 || y1 <= y0) continue;
    out[n++] = SDL_Rect{int(x0), int(y0), int(x1 - x0), int(y1 - y0)};
  }
  if (n > 0) SDL_UpdateWindowSurfaceRects(w, out, n);
}

}  // namespace

extern const BlitStyle kSdlSurfaceStyle = {
    .name = "SDL window surface",
    .id = "surface",
    .number = kBlitStylePrimary,
    .capabilities = kBlitStyleWrittenInPlace | kBlitStyleFallsToLastResort,
    .stretch = NoStretch,
    .open = SurfaceOpen,
    .close = SurfaceClose,
    .lock = SurfaceLock,
    .unlock = SurfaceUnlock,
    .blit = SurfaceBlit,
    .place = SurfacePlace,
};

}  // namespace kivo
