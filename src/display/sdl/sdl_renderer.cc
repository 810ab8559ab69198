// SPDX-License-Identifier: BSD-2-Clause
// The renderers shared per window, and the band of text drawn over them.
#include "display/sdl/sdl_renderer.h"

namespace kivo {

namespace {

SharedRenderer sharedRenderers[8];

SharedRenderer* SlotOfWindow(const void* w) {
  for (SharedRenderer& s : sharedRenderers)
    if (s.users > 0 && s.window == w && WindowAlive(s.windowId, w)) return &s;
  return nullptr;
}

bool RendererFits(SDL_Renderer* r, Uint32 need) {
  SDL_RendererInfo info;
  if (SDL_GetRendererInfo(r, &info) != 0) return false;
  return need == 0 || (info.flags & need) != 0;
}

void TakeSlot(SharedRenderer* slot, SDL_Renderer* r, SDL_Window* w, bool ours) {
  *slot = SharedRenderer{};
  slot->renderer = r;
  slot->window = w;
  slot->windowId = SDL_GetWindowID(w);
  slot->users = 1;
  slot->ours = ours;
}

}  // namespace

bool WindowAlive(Uint32 id, const void* window) {
  return id != 0 && SDL_GetWindowFromID(id) == window;
}

SharedRenderer* SlotOfRenderer(SDL_Renderer* r, Uint32 windowId) {
  for (SharedRenderer& s : sharedRenderers)
    if (s.users > 0 && s.renderer == r && s.windowId == windowId) return &s;
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

bool RendererOffers(SDL_Renderer* r, Uint32 format) {
  SDL_RendererInfo info;
  if (SDL_GetRendererInfo(r, &info) != 0) return false;
  for (Uint32 i = 0; i < info.num_texture_formats; ++i)
    if (info.texture_formats[i] == format) return true;
  return false;
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
