// SPDX-License-Identifier: BSD-2-Clause
// The tables a platform fills in to offer blitting styles: one table of
// operations per style, and one per system (the shared display device, the
// window and screen measurements, the display-mode change). The choice of
// style, the fall-back order and the bookkeeping around them are portable
// (blit_buffer.cc); only these operations touch the operating system.
#pragma once

#include <cstdint>

#include "display/blit_buffer.h"

namespace kivo {

// A style's entry: its names, what it is (the kBlitStyle... capability bits
// of kivo/display.h, plus the two below for the choice) and its operations.
// A platform lists its styles in the order automatic choice and fall-back
// try them (BlitSystem::styles).

// The style in /B2's place, tried only by falling to it: never by walking
// the list, and it ends every fall-back that reaches it.
constexpr uint32_t kBlitStyleLastResort = 0x40000000;
// A failure (or a stretch it cannot give) goes straight to the last resort.
constexpr uint32_t kBlitStyleFallsToLastResort = 0x80000000;

struct BlitStyle {
  const char* name;                    // as GetBlitStyleName gives it
  const char* id;                      // short name to choose it by (FindBlitStyle)
  const char* help;                    // the words the /B help has for it; null: the name
  int32_t number;                      // /B value; 0 for the memory buffer
  uint32_t capabilities;
  // The platform's own parameters of the style (a texture or surface kind),
  // read by its operations through b->ops->kind; may be null.
  const void* kind;
  // The stretch capability bits of this style on this machine (called once
  // the system's device is held, before the style is opened).
  uint32_t (*stretch)(const BlitStyle* style, const BlitRecord* buffer);
  // Creates the surface and sets the destination code in flags (which holds
  // code 3, 32-bit B,G,R,0, on entry: the memory style keeps what it finds),
  // plus usesPrimary, isOverlay, isOffscreen, hideCursor as they apply. 0 when the
  // style cannot be had; a text the user must see goes to SetBlitBufferError.
  int32_t (*open)(BlitRecord* buffer, uint32_t openFlags);
  void (*close)(BlitRecord* buffer);
  // Sets lockedPointer and lockedPitch; may set kBlitFullCopy (a lost surface).
  int32_t (*lock)(BlitRecord* buffer);
  void (*unlock)(BlitRecord* buffer);
  // Rectangles in picture coordinates, already clipped; null = the whole picture.
  void (*blit)(BlitRecord* buffer, const MovieRect* rects, int32_t count);
  // Keeps a surface in step with the window: 0 keep, 1 hide, 2 show. May be null.
  void (*place)(BlitRecord* buffer, int32_t mode);
};

struct BlitSystem {
  // Shown when a device style is asked for and the device cannot be had.
  const char* unavailableText;
  // Takes this buffer's reference on the shared device (and may change the
  // display mode its own way, or through ApplyDisplayModeChange); 0 when the
  // device is not available. Null: there is no device.
  int32_t (*acquireDevice)(BlitRecord* buffer, uint32_t openFlags);
  void (*releaseDevice)(BlitRecord* buffer);
  // The styles offered here, in the order they are tried; sets *count.
  const BlitStyle* const* (*styles)(uint32_t* count);
  // Client offset, frame size and the client area's screen origin.
  void (*measureWindow)(BlitRecord* buffer, int32_t* originX, int32_t* originY);
  // The screen's size and bits per pixel into the buffer.
  void (*measureScreen)(BlitRecord* buffer);
  // Display-mode change: set width x height at `bits` (0 = at any depth);
  // the bits per pixel the display now has; back to the user's own mode.
  int32_t (*setMode)(BlitRecord* buffer, uint32_t width, uint32_t height, uint32_t bits);
  uint32_t (*displayBits)(BlitRecord* buffer);
  void (*restoreMode)(BlitRecord* buffer);
  // 1 when another buffer's device owns the display mode (the device's own
  // way applies). May be null.
  int32_t (*modeHeldByDevice)(const BlitRecord* buffer);
  // A band of pixels kept over a window that a renderer draws whole at every
  // blit (ShowWindowBand, EraseWindowBand). Null: buffers of this system
  // leave what is drawn on the window alone.
  int32_t (*showBand)(void* window, const void* pixels, int32_t pitch, int32_t x, int32_t y, int32_t width,
                      int32_t height);
  void (*eraseBand)(void* window, int32_t x, int32_t y, int32_t width, int32_t height);
};

// The system OpenBlitBuffer uses; the build's own one unless replaced (tests).
const BlitSystem* CurrentBlitSystem();
void SetBlitSystem(const BlitSystem* system);  // null = the build's own
const BlitSystem* DefaultBlitSystem();

void SetBlitBufferError(const char* text);

// The style of `system` with /B number `number` (2: its last resort), or
// null; the one mapping from numbers to styles.
const BlitStyle* BlitStyleByNumber(const BlitSystem* system, int32_t number);

// Adds a style at the end of the build's own list (a style of a test's
// own): taken up by automatic choice and fall-back, the numbers and the
// names as the list's own are. 0 when its number is taken or out of range.
int32_t AddBlitStyle(const BlitStyle* style);

// The memory style and a system with nothing but it (no device, no modes).
const BlitStyle* MemoryBlitStyle();
const BlitSystem* MemoryBlitSystem();

}  // namespace kivo
