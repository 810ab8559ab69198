// SPDX-License-Identifier: BSD-2-Clause
// The texture styles' operations: the picture in memory of the buffer's own
// (the copy of changed blocks needs the previous picture, which a streaming
// texture does not keep), uploaded by rectangle and presented whole.
#include "display/sdl/sdl_texture_style.h"

#include <cstddef>
#include <cstring>

#include "base/memory.h"
#include "display/pixel_layout.h"
#include "display/sdl/sdl_renderer.h"
#include "display/sdl/sdl_system.h"

namespace kivo {

namespace {

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

}  // namespace

uint32_t TextureStretch(const BlitStyle*, const BlitRecord*) { return kStretchAny; }

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

}  // namespace kivo
