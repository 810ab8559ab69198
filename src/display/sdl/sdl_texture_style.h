// SPDX-License-Identifier: BSD-2-Clause
// What every texture style shares: the picture kept in memory of the
// buffer's own and uploaded into a streaming texture at each blit, drawn by
// the window's renderer at the blit size. A texture style is a TextureKind
// (renderer and format) and an entry made with TextureStyle.
#pragma once

#include <SDL.h>

#include <cstdint>

#include "display/blit_style.h"

namespace kivo {

// A renderer and a texture format; `native`: the renderer itself must take
// the format (else SDL may convert it on the way).
struct TextureKind {
  Uint32 renderer;                     // 0 any, else SDL_RENDERER_ACCELERATED or _SOFTWARE
  Uint32 format;                       // 0: the window's own RGB format
  bool native;                         // the renderer itself must take the format
};

uint32_t TextureStretch(const BlitStyle* style, const BlitRecord* buffer);
int32_t TextureOpen(BlitRecord* buffer, uint32_t openFlags);
void TextureClose(BlitRecord* buffer);
int32_t TextureLock(BlitRecord* buffer);
void TextureUnlock(BlitRecord* buffer);
void TextureBlit(BlitRecord* buffer, const MovieRect* rects, int32_t count);

// A texture style: the texture operations over its own kind; every one
// draws the whole window and stretches any way.
constexpr BlitStyle TextureStyle(const char* name, const char* id, int32_t number, uint32_t capabilities,
                                 const TextureKind* kind) {
  return {.name = name,
          .id = id,
          .number = number,
          .capabilities = kBlitStyleDrawsWindow | capabilities,
          .kind = kind,
          .stretch = TextureStretch,
          .open = TextureOpen,
          .close = TextureClose,
          .lock = TextureLock,
          .unlock = TextureUnlock,
          .blit = TextureBlit,
          .place = nullptr};
}

}  // namespace kivo
