// SPDX-License-Identifier: BSD-2-Clause
// The display buffer: the surface a decoded picture is copied into and shown
// from in a window. One record hides every blitting style; opening picks the
// first style that works here for the size and stretching asked, and
// records the destination pixel format the copy must produce.
//
// Per frame: LockBlitBuffer, CopyToBuffer(movie, lockedPointer, lockedPitch,
// height, 0, 0, copy flags | flags), UnlockBlitBuffer, GetRects with the
// same flags, BlitRects(buffer, GetRectList(movie), count).
//
// Threads: a buffer is used on the thread that owns its window.
#pragma once

#include <cstdint>

#include "kivo/export.h"
#include "kivo/movie.h"

namespace kivo {

// The buffer's flags word (OR-ed into the copy flags by the caller).
constexpr uint32_t kBlitCodeMask = 0x0000000F;    // destination format code
constexpr uint32_t kBlitNoBlits = kRectsNone;     // the picture reaches the screen without per-frame blits
constexpr uint32_t kBlitStretched = kRectsWhole;  // stretching was asked at open
constexpr uint32_t kBlitFullCopy = 0x80000000;    // the next copy must be a full one

// OpenBlitBuffer flags.
constexpr uint32_t kBlitOpenStyleMask = 0x0000001F;   // 0 = automatic
constexpr uint32_t kBlitOpenChangeMode = 0x00800000;  // apply the pending display-mode request
constexpr uint32_t kBlitOpenStretchMask = 0xFF000000; // the stretching the caller will ask for

// Stretch capability bits, in the open flags and in a style's capabilities.
constexpr uint32_t kStretchEnlargeXInteger = 0x80000000;
constexpr uint32_t kStretchEnlargeX = 0x40000000;
constexpr uint32_t kStretchShrinkXInteger = 0x20000000;
constexpr uint32_t kStretchShrinkX = 0x10000000;
constexpr uint32_t kStretchEnlargeYInteger = 0x08000000;
constexpr uint32_t kStretchEnlargeY = 0x04000000;
constexpr uint32_t kStretchShrinkYInteger = 0x02000000;
constexpr uint32_t kStretchShrinkY = 0x01000000;
constexpr uint32_t kStretchAny = 0xFF000000;

// Blitting style numbers (the player's /B values). Which others a build
// offers, and in what order they are tried, GetBlitStyleListEntry says.
constexpr int32_t kBlitStyleAuto = 0;
constexpr int32_t kBlitStylePrimary = 1;   // written in place, no stretching
constexpr int32_t kBlitStyleDib = 2;       // the most compatible, any stretch

// What a blitting style is (GetBlitStyleCapabilities).
// Draws the whole window at every blit, over anything drawn on it: a band
// over the picture must be handed to ShowWindowBand.
constexpr uint32_t kBlitStyleDrawsWindow = 0x01;
// Writes the picture into the screen's own memory; never stretches.
constexpr uint32_t kBlitStyleWrittenInPlace = 0x02;
// The display device stretches the picture (else the processor does, or nothing).
constexpr uint32_t kBlitStyleHardwareStretch = 0x04;

// A caller reads lockedPointer and lockedPitch after every lock and the
// window and screen measurements after every open and resize, all of them
// plain values the library keeps up to date in place. Read-only for the
// caller; the library's own record goes on beyond these fields, so a
// program never allocates or copies one.
struct BlitBuffer {
  uint32_t width, height;              // the picture held
  uint32_t windowWidth, windowHeight;  // outer window size at the current blit size
  uint32_t flags;
  uint8_t* lockedPointer;              // first pixel of the picture while locked
  int32_t lockedPitch;
  int32_t clientOffsetX, clientOffsetY;  // client area relative to the window's corner
  uint32_t screenWidth, screenHeight, screenBits;
  uint32_t frameWidth, frameHeight;    // window size minus client size
  uint32_t stretchCapabilities;
  uint32_t blitWidth, blitHeight;      // the size the picture is shown at
  int32_t clientX, clientY;            // the picture's top-left on the screen
  int32_t destinationX, destinationY;  // the picture's position inside the client area
  void* window;
  int32_t style;                       // the /B number; 0 for a memory buffer
};

// `window` is the platform's window (an HWND on Windows, an SDL_Window* with
// SDL). Null on failure, with the reason in GetBlitBufferError; width or
// height 0 gives null. A null window gives a memory buffer of 32-bit
// pixels, so a program can run with no display.
KIVO_API BlitBuffer* OpenBlitBuffer(void* window, uint32_t width, uint32_t height, uint32_t flags);
KIVO_API void CloseBlitBuffer(BlitBuffer* buffer);
// 1 with lockedPointer and lockedPitch set, or 0.
KIVO_API int32_t LockBlitBuffer(BlitBuffer* buffer);
KIVO_API int32_t UnlockBlitBuffer(BlitBuffer* buffer);
// Shows the listed rectangles (picture coordinates), or the whole picture
// when `rects` is null; a count of 0 shows nothing.
KIVO_API void BlitRects(BlitBuffer* buffer, const MovieRect* rects, int32_t count);
// 1 when both dimensions were accepted; 0 means the screen's size.
KIVO_API int32_t SetBlitSize(BlitBuffer* buffer, uint32_t width, uint32_t height);
KIVO_API const char* GetBlitStyleName(const BlitBuffer* buffer);
// The name style `style` has in this build, as GetBlitStyleName gives it;
// "" for a style the build does not offer.
KIVO_API const char* GetBlitStyleNameByNumber(int32_t style);
// The styles this build offers, in the order automatic choice and fall-back
// try them: the /B number of the one at `index` (0 up), its name and its
// kBlitStyle... bits through the pointers (each may be null); -1 past the end.
KIVO_API int32_t GetBlitStyleListEntry(int32_t index, const char** name, uint32_t* capabilities);
// The words the player's help has for style `style`: a short description
// where the build has one, else its name; "" for a style it does not offer.
KIVO_API const char* GetBlitStyleHelpText(int32_t style);
// The /B number of the style with this short name ("dib", "surface"...) or
// full name; -1 when the build has none.
KIVO_API int32_t FindBlitStyle(const char* name);
// The kBlitStyle... bits of the buffer's style; 0 for none.
KIVO_API uint32_t GetBlitStyleCapabilities(const BlitBuffer* buffer);
// The pointer moved over the window or left it: a buffer that hides the
// cursor while the pointer is over its picture shows it again once the
// pointer is off (and hides it when it comes back). Nothing for the others.
KIVO_API void TrackBlitCursor(BlitBuffer* buffer);
KIVO_API const char* GetBlitBufferError();
KIVO_API void SetBlitPosition(BlitBuffer* buffer, int32_t x, int32_t y);
KIVO_API void AdjustWindowPosition(BlitBuffer* buffer, int32_t* windowX, int32_t* windowY);
KIVO_API int32_t ClearBlitBuffer(BlitBuffer* buffer);

// ---- A band over the picture -----------------------------------------------
// Some buffers (the SDL renderer styles) draw the whole window at every
// blit, which paints over whatever a program drew on the window itself.
// ShowWindowBand hands such a window a band of 32-bit ARGB pixels (`pitch`
// in bytes, (x, y) in window coordinates): it is shown at once and drawn
// over the picture at every blit after, also by the next buffer opened on
// the window. 0 when no buffer of `window` draws it whole: draw the band on
// the window yourself then. EraseWindowBand paints over an area: a band it
// touches is no longer drawn. Call both from the thread that blits.
KIVO_API int32_t ShowWindowBand(void* window, const void* pixels, int32_t pitch, int32_t x, int32_t y,
                                int32_t width, int32_t height);
KIVO_API void EraseWindowBand(void* window, int32_t x, int32_t y, int32_t width, int32_t height);

// A buffer of plain memory in any destination format (codes 0 to 15), for
// tools and tests; its style name is "Memory buffer".
KIVO_API BlitBuffer* OpenMemoryBlitBuffer(uint32_t width, uint32_t height, int32_t destinationCode);

// ---- Display-mode change ---------------------------------------------------
// Depth codes: 8, 16, 24, 32 exactly that depth; 1 at least high colour
// (16, 32, 24); 2 true colour preferred (32, 24, 16); 3 true colour only (32, 24).
constexpr uint32_t kDepthHighColourAtLeast = 1;
constexpr uint32_t kDepthTrueColourFirst = 2;
constexpr uint32_t kDepthTrueColourOnly = 3;

// The mode the next OpenBlitBuffer with kBlitOpenChangeMode switches the
// display to; the last buffer to close restores the user's mode.
KIVO_API void SetDisplayModeRequest(uint32_t width, uint32_t height, uint32_t depthCode);

}  // namespace kivo
