// SPDX-License-Identifier: BSD-2-Clause
// What the Windows styles share: the process-wide DirectDraw object with its
// primary surface and capabilities, the buffer's window, and the cursor
// handling around a lock of the primary surface.
#pragma once

#include <windows.h>
#include <ddraw.h>

#include <cstdint>

#include "display/blit_buffer.h"
#include "display/blit_style.h"

namespace kivo::win32 {

struct DirectDrawState {
  IDirectDraw* object;
  IDirectDrawSurface* primary;
  int32_t users;                       // buffers holding a reference
  uint32_t overlayCaps, blitCaps;      // stretch capability bits
  uint32_t colourKey;                  // the overlay's destination colour key
  bool overlays;                       // the card shows overlay surfaces at all
  uint32_t primaryBits;
  bool modeSet;                        // SetDisplayMode changed the display
  bool exclusive;                      // cooperative level exclusive, full screen
};

DirectDrawState& DirectDraw();

using DirectDrawCreateFunction = HRESULT(WINAPI*)(GUID*, LPDIRECTDRAW*, IUnknown*);
// The shared object is made with `create` instead of the system's
// DirectDrawCreate from the next first buffer on (tests: a card with other
// capabilities); null puts the system's back.
void SetDirectDrawCreate(DirectDrawCreateFunction create);

inline HWND WindowOf(const BlitRecord* b) { return static_cast<HWND>(b->window); }

// The destination code of a surface's pixel format.
int32_t SurfaceCode(const DDPIXELFORMAT& format);

// Locks a surface (only `area` of it when given) with the wait flag,
// restoring it once when it was lost (then *lost is set). DD_OK or the error
// of the last attempt.
HRESULT LockSurface(IDirectDrawSurface* surface, DDSURFACEDESC* desc, bool* lost, RECT* area = nullptr);

// The client area's top-left on the screen now; false when it cannot be had.
bool ClientOrigin(HWND window, POINT* origin);

// A clipper for the buffer's window (none when the object makes none), and
// its release (detached from the primary first). direct_draw_surface.cc.
void AttachClipper(BlitRecord* b);
void DetachClipper(BlitRecord* b);
// Follows the client area to where it is on the screen now; a move asks for
// a full copy, the picture being somewhere new.
void FollowWindow(BlitRecord* b);

// 1 when the cursor must be hidden while the primary surface is written
// (it is drawn by software into the screen memory).
int32_t ProbeSoftwareCursor(BlitRecord* b);

// The Windows styles in the order they are tried (win32_style_list.cc).
const BlitStyle* const* Win32Styles(uint32_t* count);

}  // namespace kivo::win32
