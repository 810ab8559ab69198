// SPDX-License-Identifier: BSD-2-Clause
// The SDL2 blitting styles. Style 1 writes the window's own surface in place
// (no stretching); the others keep the picture in memory of their own and
// upload the blitted rectangles into a streaming texture that the renderer
// draws at the blit size: RGB in the window's format, or YV12, YUY2 and UYVY
// for the renderer to convert, on the accelerated or the software renderer.
#include <SDL.h>

#include <cstddef>
#include <cstring>

#include "base/memory.h"
#include "display/display_mode.h"
#include "display/pixel_layout.h"
#include "display/sdl/sdl_blit.h"
#include "display/sdl/sdl_styles.h"

namespace kivo {

namespace {

SDL_Window* WindowOf(const BlitRecord* b) { return static_cast<SDL_Window*>(b->window); }

// The window is gone when its id no longer finds it; nothing SDL made for it
// may be touched then.
bool WindowAlive(Uint32 id, const void* window) {
  return id != 0 && SDL_GetWindowFromID(id) == window;
}

// ---- Renderers, shared per window -----------------------------------------
// A window has at most one renderer, and the player opens a new buffer on
// the same window before it closes the old one, so buffers share it.

struct SharedRenderer {
  SDL_Renderer* renderer;
  void* window;
  Uint32 windowId;
  int32_t users;
  bool ours;                           // made here, so destroyed here
  // What each present draws, since the renderer keeps nothing between
  // presents: the picture of the last blit, and a band of text over the
  // window (the statistics line) drawn after it.
  SDL_Texture* picture;
  SDL_Rect pictureAt;
  SDL_Texture* band;
  int bandWidth, bandHeight;           // the band texture's size
  SDL_Rect bandAt;
  bool bandShown;
};

SharedRenderer sharedRenderers[8];

// By window id too: a renderer made after a window went may have the address
// of one that went with it.
SharedRenderer* SlotOfRenderer(SDL_Renderer* r, Uint32 windowId) {
  for (SharedRenderer& s : sharedRenderers)
    if (s.users > 0 && s.renderer == r && s.windowId == windowId) return &s;
  return nullptr;
}

SharedRenderer* SlotOfWindow(const void* w) {
  for (SharedRenderer& s : sharedRenderers)
    if (s.users > 0 && s.window == w && WindowAlive(s.windowId, w)) return &s;
  return nullptr;
}

void Present(SharedRenderer& s) {
  SDL_SetRenderDrawColor(s.renderer, 0, 0, 0, 255);
  SDL_RenderClear(s.renderer);
  if (s.picture) SDL_RenderCopy(s.renderer, s.picture, nullptr, &s.pictureAt);
  if (s.band && s.bandShown) {
    const SDL_Rect from{0, 0, s.bandAt.w, s.bandAt.h};
    SDL_RenderCopy(s.renderer, s.band, &from, &s.bandAt);
  }
  SDL_RenderPresent(s.renderer);
}

bool RendererFits(SDL_Renderer* r, Uint32 need) {
  SDL_RendererInfo info;
  if (SDL_GetRendererInfo(r, &info) != 0) return false;
  return need == 0 || (info.flags & need) != 0;
}

bool RendererOffers(SDL_Renderer* r, Uint32 format) {
  SDL_RendererInfo info;
  if (SDL_GetRendererInfo(r, &info) != 0) return false;
  for (Uint32 i = 0; i < info.num_texture_formats; ++i)
    if (info.texture_formats[i] == format) return true;
  return false;
}

void TakeSlot(SharedRenderer* slot, SDL_Renderer* r, SDL_Window* w, bool ours) {
  *slot = SharedRenderer{};
  slot->renderer = r;
  slot->window = w;
  slot->windowId = SDL_GetWindowID(w);
  slot->users = 1;
  slot->ours = ours;
}

SDL_Renderer* AcquireRenderer(SDL_Window* w, Uint32 need) {
  SharedRenderer* slot = nullptr;
  for (SharedRenderer& s : sharedRenderers) {
    if (s.users > 0 && !WindowAlive(s.windowId, s.window)) s = SharedRenderer{};
    if (!slot && s.users == 0) slot = &s;
  }
  SDL_Renderer* existing = SDL_GetRenderer(w);
  if (existing) {
    if (!RendererFits(existing, need)) return nullptr;
    if (SharedRenderer* shared = SlotOfRenderer(existing, SDL_GetWindowID(w))) {
      ++shared->users;
      return existing;
    }
    if (!slot) return nullptr;
    TakeSlot(slot, existing, w, false);
    return existing;
  }
  if (!slot) return nullptr;
  SDL_Renderer* r = SDL_CreateRenderer(w, -1, need);
  if (!r) return nullptr;
  if (!RendererFits(r, need)) {
    SDL_DestroyRenderer(r);
    return nullptr;
  }
  TakeSlot(slot, r, w, true);
  return r;
}

void ReleaseRenderer(SDL_Renderer* r, Uint32 windowId) {
  SharedRenderer* s = SlotOfRenderer(r, windowId);
  if (!s || --s->users > 0) return;
  if (WindowAlive(s->windowId, s->window)) {
    if (s->band) SDL_DestroyTexture(s->band);
    if (s->ours) SDL_DestroyRenderer(r);
  }
  *s = SharedRenderer{};
}

// ---- Style 1: the window's own surface --------------------------------------

struct SurfaceState {
  Uint32 windowId;
  int32_t code;
};

uint32_t NoStretch(const BlitStyle*, const BlitRecord*) { return 0; }
uint32_t AnyStretch(const BlitStyle*, const BlitRecord*) { return kStretchAny; }

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

// ---- Styles 2 to 10: streaming textures --------------------------------------

struct TextureKind {
  Uint32 renderer;                     // 0 any, else SDL_RENDERER_ACCELERATED or _SOFTWARE
  Uint32 format;                       // 0: the window's own RGB format
  bool native;                         // the renderer itself must take the format
};


struct TextureState {
  SDL_Renderer* renderer;
  SDL_Texture* texture;
  Uint32 windowId;
  int32_t code;
};

void FreeTextureState(BlitRecord* b) {
  auto* state = static_cast<TextureState*>(b->styleState);
  if (state) {
    SharedRenderer* shared = state->renderer ? SlotOfRenderer(state->renderer, state->windowId) : nullptr;
    if (shared && shared->picture == state->texture) shared->picture = nullptr;
    if (state->texture && WindowAlive(state->windowId, b->window)) SDL_DestroyTexture(state->texture);
    if (state->renderer) ReleaseRenderer(state->renderer, state->windowId);
    MemFree(state);
  }
  MemFree(b->pixels);
  b->styleState = nullptr;
  b->pixels = nullptr;
  b->surface = nullptr;
}

// Our own picture memory: the texture's contents are not kept between locks,
// but the copy of changed blocks needs the previous picture.
bool AllocatePicture(BlitRecord* b, int32_t code) {
  const uint64_t bytes = DestinationBytesPerPixel(code);
  uint64_t pitch, size, lumaSize;
  if (code == kDestYv12) {
    pitch = (uint64_t(b->width) + 63) & ~uint64_t(63);
    lumaSize = pitch * b->height;
    size = lumaSize + 2 * (pitch / 2) * ((uint64_t(b->height) + 1) / 2);
  } else {
    pitch = (uint64_t(b->width) * bytes + 31) & ~uint64_t(31);
    size = lumaSize = pitch * b->height;
  }
  if (size == 0 || size > (uint64_t(1) << 30)) return false;
  b->pixels = static_cast<uint8_t*>(MemAlloc(uint32_t(size)));
  if (!b->pixels) return false;
  memset(b->pixels, 0, size_t(lumaSize));
  if (size > lumaSize) memset(b->pixels + lumaSize, 128, size_t(size - lumaSize));
  b->pixelsPitch = int32_t(pitch);
  b->pixelsSize = uint32_t(size);
  ClearPicture(b->pixels, b->pixelsPitch, b->width, b->height, code);
  return true;
}

void Upload(const BlitRecord* b, const TextureState* state, MovieRect r) {
  const uint8_t* pixels = b->pixels;
  const int32_t pitch = b->pixelsPitch;
  if (state->code >= kDestYuy2) {
    // Chroma is shared by pixel pairs (and row pairs in YV12): even edges.
    const int32_t x1 = r.x + r.width, y1 = r.y + r.height;
    r.x &= ~1;
    r.y &= ~1;
    r.width = ((x1 + 1) & ~1) - r.x;
    r.height = ((y1 + 1) & ~1) - r.y;
    if (r.x + r.width > int32_t(b->width)) r.width = int32_t(b->width) - r.x;
    if (r.y + r.height > int32_t(b->height)) r.height = int32_t(b->height) - r.y;
  }
  const SDL_Rect rect{r.x, r.y, r.width, r.height};
  if (state->code == kDestYv12) {
    const int32_t chromaPitch = pitch / 2;
    const uint8_t* v = pixels + ptrdiff_t(pitch) * b->height;
    const uint8_t* u = v + ptrdiff_t(chromaPitch) * (b->height / 2);
    const ptrdiff_t chromaAt = ptrdiff_t(r.y / 2) * chromaPitch + r.x / 2;
    SDL_UpdateYUVTexture(state->texture, &rect, pixels + ptrdiff_t(r.y) * pitch + r.x, pitch,
                         u + chromaAt, chromaPitch, v + chromaAt, chromaPitch);
  } else {
    const ptrdiff_t at = ptrdiff_t(r.y) * pitch + ptrdiff_t(r.x) * DestinationBytesPerPixel(state->code);
    SDL_UpdateTexture(state->texture, &rect, pixels + at, pitch);
  }
}

int32_t TextureOpen(BlitRecord* b, uint32_t) {
  if (!b->ops->kind) return 0;
  const TextureKind& kind = *static_cast<const TextureKind*>(b->ops->kind);
  SDL_Window* w = WindowOf(b);
  if (!SDL_GetCurrentVideoDriver() || SDL_GetWindowID(w) == 0) {
    SetBlitBufferError("SDL video is not available");
    return 0;
  }
  Uint32 format = kind.format;
  if (format == 0) {
    format = SDL_GetWindowPixelFormat(w);
    const int32_t code = DestinationCodeFromSdlFormat(format);
    if (code == kDestPalette8) {
      SetBlitBufferError("256 color mode not supported.");
      return 0;
    }
    if (code < 0 || code > kDestRgb466) {
      SetBlitBufferError("Video mode not supported.");
      return 0;
    }
  }
  const int32_t code = DestinationCodeFromSdlFormat(format);
  auto* state = static_cast<TextureState*>(MemAlloc(sizeof(TextureState)));
  if (!state) return 0;
  *state = TextureState{nullptr, nullptr, SDL_GetWindowID(w), code};
  b->styleState = state;
  state->renderer = AcquireRenderer(w, kind.renderer);
  if (state->renderer && (!kind.native || RendererOffers(state->renderer, format)))
    state->texture = SDL_CreateTexture(state->renderer, format, SDL_TEXTUREACCESS_STREAMING,
                                       int(b->width), int(b->height));
  if (!state->texture || !AllocatePicture(b, code)) {
    if (b->ops->capabilities & kBlitStyleLastResort) SetBlitBufferError("Unable to create an SDL texture.");
    FreeTextureState(b);
    return 0;
  }
  Upload(b, state, MovieRect{0, 0, int32_t(b->width), int32_t(b->height)});
  b->surface = state->texture;
  b->isOffscreen = 1;
  b->flags = (b->flags & ~kBlitCodeMask) | uint32_t(code);
  return 1;
}

void TextureClose(BlitRecord* b) { FreeTextureState(b); }

int32_t TextureLock(BlitRecord* b) {
  if (!b->pixels) return 0;
  b->lockedPointer = b->pixels;
  b->lockedPitch = b->pixelsPitch;
  return 1;
}

void TextureUnlock(BlitRecord*) {}

void TextureBlit(BlitRecord* b, const MovieRect* rects, int32_t count) {
  auto* state = static_cast<TextureState*>(b->styleState);
  if (!state || !state->texture || !WindowAlive(state->windowId, b->window)) return;
  if (!rects) {
    Upload(b, state, MovieRect{0, 0, int32_t(b->width), int32_t(b->height)});
  } else {
    for (int32_t i = 0; i < count; ++i) Upload(b, state, rects[i]);
  }
  SharedRenderer* shared = SlotOfRenderer(state->renderer, state->windowId);
  if (!shared) return;
  // What was presented before is gone: the whole window is drawn again.
  shared->picture = state->texture;
  shared->pictureAt = SDL_Rect{b->destinationX, b->destinationY, int(b->blitWidth), int(b->blitHeight)};
  Present(*shared);
}

// Each texture style is a renderer and a texture format (0: the window's
// own RGB format); `native`: the renderer itself must take the format.
constexpr TextureKind kRgbKind = {0, 0, false};
constexpr TextureKind kYv12AcceleratedKind = {SDL_RENDERER_ACCELERATED, SDL_PIXELFORMAT_YV12, true};
constexpr TextureKind kYuy2AcceleratedKind = {SDL_RENDERER_ACCELERATED, SDL_PIXELFORMAT_YUY2, true};
constexpr TextureKind kUyvyAcceleratedKind = {SDL_RENDERER_ACCELERATED, SDL_PIXELFORMAT_UYVY, true};
constexpr TextureKind kYv12SoftwareKind = {SDL_RENDERER_SOFTWARE, SDL_PIXELFORMAT_YV12, false};
constexpr TextureKind kYuy2SoftwareKind = {SDL_RENDERER_SOFTWARE, SDL_PIXELFORMAT_YUY2, false};
constexpr TextureKind kUyvySoftwareKind = {SDL_RENDERER_SOFTWARE, SDL_PIXELFORMAT_UYVY, false};
constexpr TextureKind kRgbAcceleratedKind = {SDL_RENDERER_ACCELERATED, 0, false};
constexpr TextureKind kRgbSoftwareKind = {SDL_RENDERER_SOFTWARE, 0, false};

// A texture style: the texture operations over its own renderer and format;
// every one draws the whole window.
constexpr BlitStyle TextureStyle(const char* name, const char* id, int32_t number, uint32_t capabilities,
                                 const TextureKind* kind) {
  return {.name = name,
          .id = id,
          .number = number,
          .capabilities = kBlitStyleDrawsWindow | capabilities,
          .kind = kind,
          .stretch = AnyStretch,
          .open = TextureOpen,
          .close = TextureClose,
          .lock = TextureLock,
          .unlock = TextureUnlock,
          .blit = TextureBlit,
          .place = nullptr};
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

extern const BlitStyle kSdlRgbStyle =
    TextureStyle("SDL RGB texture", "texture", 2, kBlitStyleLastResort, &kRgbKind);

extern const BlitStyle kSdlYv12AcceleratedStyle =
    TextureStyle("SDL YV12 texture, accelerated renderer", "yv12-accelerated", 3,
                 kBlitStyleHardwareStretch, &kYv12AcceleratedKind);

extern const BlitStyle kSdlYuy2AcceleratedStyle =
    TextureStyle("SDL YUY2 texture, accelerated renderer", "yuy2-accelerated", 4,
                 kBlitStyleHardwareStretch, &kYuy2AcceleratedKind);

extern const BlitStyle kSdlUyvyAcceleratedStyle =
    TextureStyle("SDL UYVY texture, accelerated renderer", "uyvy-accelerated", 5,
                 kBlitStyleHardwareStretch, &kUyvyAcceleratedKind);

extern const BlitStyle kSdlYv12SoftwareStyle =
    TextureStyle("SDL YV12 texture, software renderer", "yv12-software", 6, 0, &kYv12SoftwareKind);

extern const BlitStyle kSdlYuy2SoftwareStyle =
    TextureStyle("SDL YUY2 texture, software renderer", "yuy2-software", 7, 0, &kYuy2SoftwareKind);

extern const BlitStyle kSdlUyvySoftwareStyle =
    TextureStyle("SDL UYVY texture, software renderer", "uyvy-software", 8, 0, &kUyvySoftwareKind);

extern const BlitStyle kSdlRgbAcceleratedStyle =
    TextureStyle("SDL RGB texture, accelerated renderer", "rgb-accelerated", 9,
                 kBlitStyleHardwareStretch, &kRgbAcceleratedKind);

extern const BlitStyle kSdlRgbSoftwareStyle =
    TextureStyle("SDL RGB texture, software renderer", "rgb-software", 10, 0, &kRgbSoftwareKind);

int32_t ShowSdlWindowBand(void* window, const void* pixels, int32_t pitch, int32_t x, int32_t y, int32_t width,
                          int32_t height) {
  SharedRenderer* s = SlotOfWindow(window);
  if (!s) return 0;
  if (!pixels || width <= 0 || height <= 0) return 1;
  if (!s->band || s->bandWidth < width || s->bandHeight < height) {
    // Made once per band size (a movie's band keeps its size).
    if (s->band) SDL_DestroyTexture(s->band);
    s->band = SDL_CreateTexture(s->renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, width, height);
    s->bandWidth = s->band ? width : 0;
    s->bandHeight = s->band ? height : 0;
    if (!s->band) return 1;
    SDL_SetTextureBlendMode(s->band, SDL_BLENDMODE_NONE);
  }
  const SDL_Rect area{0, 0, width, height};
  if (SDL_UpdateTexture(s->band, &area, pixels, pitch) != 0) return 1;
  s->bandAt = SDL_Rect{x, y, width, height};
  s->bandShown = true;
  Present(*s);
  return 1;
}

void EraseSdlWindowBand(void* window, int32_t x, int32_t y, int32_t width, int32_t height) {
  SharedRenderer* s = SlotOfWindow(window);
  if (!s || !s->bandShown) return;
  const SDL_Rect& r = s->bandAt;
  const int64_t x1 = int64_t(x) + width, y1 = int64_t(y) + height;
  if (x < int64_t(r.x) + r.w && x1 > r.x && y < int64_t(r.y) + r.h && y1 > r.y) s->bandShown = false;
}

}  // namespace kivo
