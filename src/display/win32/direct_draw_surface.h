// SPDX-License-Identifier: BSD-2-Clause
// What the DirectDraw surface styles share: a surface of the buffer's own
// (an overlay shown by the card over a colour key, or an off-screen surface
// blitted to the primary through the window's clipper), made from a
// SurfaceKind. A surface style is a SurfaceKind and an entry made with
// SurfaceStyle.
#pragma once

#include <windows.h>
#include <ddraw.h>

#include <cstdint>

#include "display/blit_style.h"

namespace kivo::win32 {

struct SurfaceKind {
  uint32_t fourCc;                     // 0: the display's RGB format
  DWORD caps;
};

// The stretch capability bits of the card's overlays and of its blits.
uint32_t OverlayCaps(const BlitStyle* style, const BlitRecord* buffer);
uint32_t BlitCaps(const BlitStyle* style, const BlitRecord* buffer);

int32_t SurfaceOpen(BlitRecord* buffer, uint32_t openFlags);
void SurfaceClose(BlitRecord* buffer);
int32_t SurfaceLock(BlitRecord* buffer);
void SurfaceUnlock(BlitRecord* buffer);
void SurfaceBlit(BlitRecord* buffer, const MovieRect* rects, int32_t count);
// Keeps an overlay over the picture's place on the screen.
void OverlayPlace(BlitRecord* buffer, int32_t mode);

// An overlay or off-screen style: the surface operations over its own kind,
// stretched by the hardware as far as `stretch` finds it can.
constexpr BlitStyle SurfaceStyle(const char* name, const char* id, const char* help, int32_t number,
                                 const SurfaceKind* kind,
                                 uint32_t (*stretch)(const BlitStyle*, const BlitRecord*),
                                 void (*place)(BlitRecord*, int32_t)) {
  return {.name = name,
          .id = id,
          .help = help,
          .number = number,
          .capabilities = kBlitStyleHardwareStretch,
          .kind = kind,
          .stretch = stretch,
          .open = SurfaceOpen,
          .close = SurfaceClose,
          .lock = SurfaceLock,
          .unlock = SurfaceUnlock,
          .blit = SurfaceBlit,
          .place = place};
}

}  // namespace kivo::win32
