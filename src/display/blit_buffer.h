// SPDX-License-Identifier: BSD-2-Clause
// The display buffer: the surface a decoded picture is copied into and shown
// from in the player's window. The public record and its operations are in
// kivo/display.h; the library's own record goes on beyond it here, and the
// styles' tables behind it are in blit_style.h.
#pragma once

#include "kivo/display.h"

namespace kivo {

struct BlitStyle;
struct BlitSystem;

// The public fields first, then what the styles keep for themselves (the
// DirectDraw surface and clipper, the DIB section's GDI objects, ...).
struct BlitRecord : BlitBuffer {
  void* surface;
  void* clipper;
  int32_t isOverlay, isOffscreen;
  int32_t overlayShown;
  int32_t hideCursor;                  // hide the cursor while written in place
  int32_t hiddenCursorCount;
  void* lockedSurfaceMemory;
  int32_t usesPrimary;
  int32_t holdsDevice;                 // holds a reference on the shared display device
  int32_t countedInDisplayMode;
  void* dibSection;
  void* dibBits;
  int32_t dibPitch;
  void* dibHeader;
  void* memoryDc;
  void* previousBitmap;
  // The chosen style's operations, the system it came from, and memory the
  // style keeps for itself.
  const BlitStyle* ops;
  const BlitSystem* system;
  void* styleState;
  uint8_t* pixels;                     // the picture memory a style owns, if any
  int32_t pixelsPitch;
  uint32_t pixelsSize;
};

// Every BlitBuffer the library hands out is a BlitRecord.
inline BlitRecord* RecordOf(BlitBuffer* b) { return static_cast<BlitRecord*>(b); }
inline const BlitRecord* RecordOf(const BlitBuffer* b) { return static_cast<const BlitRecord*>(b); }

}  // namespace kivo
