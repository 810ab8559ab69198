// SPDX-License-Identifier: BSD-2-Clause
// The renderer a window's texture styles draw with: at most one per window,
// shared by the buffers on it (the player opens a new buffer on the window
// before it closes the old one), and what every present draws, a band of
// text over the picture included.
#pragma once

#include <SDL.h>

#include <cstdint>

#include "display/blit_buffer.h"

namespace kivo {

inline SDL_Window* WindowOf(const BlitRecord* b) { return static_cast<SDL_Window*>(b->window); }

// The window is gone when its id no longer finds it; nothing SDL made for it
// may be touched then.
bool WindowAlive(Uint32 id, const void* window);

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

// The slot of a renderer in use, by window id too: a renderer made after a
// window went may have the address of one that went with it.
SharedRenderer* SlotOfRenderer(SDL_Renderer* r, Uint32 windowId);
// The window's renderer with the flags `need` (0: any), made when it has
// none; null when its renderer has other flags or none can be made.
SDL_Renderer* AcquireRenderer(SDL_Window* w, Uint32 need);
void ReleaseRenderer(SDL_Renderer* r, Uint32 windowId);
// Whether the renderer itself takes textures of `format`.
bool RendererOffers(SDL_Renderer* r, Uint32 format);
// Draws the picture of the last blit and the band, and shows them.
void Present(SharedRenderer& s);

// A band of 32-bit ARGB pixels (the statistics line) over a window that a
// renderer draws whole at every blit: kept with the window's renderer, drawn
// after the picture at every present, and shown at once. `pitch` in bytes;
// (x, y) in window coordinates. 0 when no renderer draws the window: the
// caller draws on the window's own surface then.
int32_t ShowSdlWindowBand(void* window, const void* pixels, int32_t pitch, int32_t x, int32_t y, int32_t width,
                          int32_t height);
// Paint over an area of the window: a band it touches is no longer drawn.
void EraseSdlWindowBand(void* window, int32_t x, int32_t y, int32_t width, int32_t height);

}  // namespace kivo
