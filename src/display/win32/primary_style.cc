// SPDX-License-Identifier: BSD-2-Clause
// DirectDraw style 1: the primary surface, written in place where the
// window's client area lies on the screen, with the cursor hidden around a
// lock when it is drawn into the screen memory.
#include <windows.h>
#include <ddraw.h>

#include <cstring>

#include "display/blit_style.h"
#include "display/pixel_layout.h"
#include "display/win32/win32_display.h"

namespace kivo::win32 {

namespace {

const char kVideoModeText[] = "Video mode not supported.";

// ---- Cursor hiding around a lock of the primary -------------------------------

bool CursorOverPicture(const BlitRecord* b) {
  POINT at;
  if (!GetCursorPos(&at)) return false;
  const int64_t cw = GetSystemMetrics(SM_CXCURSOR), ch = GetSystemMetrics(SM_CYCURSOR);
  const int64_t x = b->clientX, y = b->clientY;
  return at.x < x + b->width && at.x + cw > x && at.y < y + b->height && at.y + ch > y;
}

void HideCursorOverPicture(BlitRecord* b) {
  b->hiddenCursorCount = 0;
  if (!b->hideCursor || !CursorOverPicture(b)) return;
  // A bounded loop: a count already far below zero needs no more calls.
  for (int i = 0; i < 64; ++i) {
    ++b->hiddenCursorCount;
    if (ShowCursor(FALSE) < 0) break;
  }
}

void ShowHiddenCursor(BlitRecord* b) {
  for (; b->hiddenCursorCount > 0; --b->hiddenCursorCount) ShowCursor(TRUE);
}

uint32_t NoStretch(const BlitStyle*, const BlitRecord*) { return 0; }

// The screen's size as the primary surface has it now; false when unknown.
bool PrimarySize(IDirectDrawSurface* primary, int64_t* width, int64_t* height) {
  DDSURFACEDESC screen;
  memset(&screen, 0, sizeof screen);
  screen.dwSize = sizeof screen;
  if (primary->GetSurfaceDesc(&screen) != DD_OK) return false;
  *width = screen.dwWidth;
  *height = screen.dwHeight;
  return true;
}

int32_t PrimaryOpen(BlitRecord* b, uint32_t) {
  IDirectDrawSurface* primary = DirectDraw().primary;
  if (!primary) return 0;
  // A picture larger than the screen can never lie wholly on it, and every
  // lock would refuse it: the style is refused now, so that the next one is
  // taken instead of a window that stays blank.
  int64_t screenWidth = 0, screenHeight = 0;
  if (!PrimarySize(primary, &screenWidth, &screenHeight) || b->width > screenWidth || b->height > screenHeight)
    return 0;
  DDSURFACEDESC desc;
  bool lost = false;
  if (LockSurface(primary, &desc, &lost) != DD_OK) return 0;
  primary->Unlock(desc.lpSurface);
  const int32_t code = SurfaceCode(desc.ddpfPixelFormat);
  if (code == kDestPalette8) return 0;
  if (code < 0 || code > kDestRgb466) {
    SetBlitBufferError(kVideoModeText);
    return 0;
  }
  b->surface = primary;
  b->usesPrimary = 1;
  b->flags = (b->flags & ~kBlitCodeMask) | uint32_t(code) | kBlitNoBlits;
  AttachClipper(b);
  b->hideCursor = ProbeSoftwareCursor(b);
  return 1;
}

void PrimaryClose(BlitRecord* b) {
  DetachClipper(b);
  b->surface = nullptr;
}

int32_t PrimaryLock(BlitRecord* b) {
  IDirectDrawSurface* primary = DirectDraw().primary;
  if (!primary) return 0;
  FollowWindow(b);
  // The copy writes the whole picture: it must lie on the screen's memory.
  int64_t screenWidth = 0, screenHeight = 0;
  if (!PrimarySize(primary, &screenWidth, &screenHeight) || b->clientX < 0 || b->clientY < 0 ||
      int64_t(b->clientX) + b->width > screenWidth || int64_t(b->clientY) + b->height > screenHeight) {
    b->flags |= kBlitFullCopy;
    return 0;
  }
  HideCursorOverPicture(b);
  // Only the picture's rectangle is locked: a system that keeps the screen
  // apart from the surface (a windowed emulation) then reads it back and
  // writes it out again for that rectangle alone, not the whole screen on
  // every frame, and leaves what other windows draw elsewhere alone.
  RECT area{b->clientX, b->clientY, LONG(b->clientX + b->width), LONG(b->clientY + b->height)};
  DDSURFACEDESC desc;
  bool lost = false;
  if (LockSurface(primary, &desc, &lost, &area) != DD_OK || !desc.lpSurface) {
    ShowHiddenCursor(b);
    b->flags |= kBlitFullCopy;
    return 0;
  }
  if (lost) b->flags |= kBlitFullCopy;
  if (desc.ddpfPixelFormat.dwRGBBitCount / 8 == 0) {
    primary->Unlock(desc.lpSurface);
    ShowHiddenCursor(b);
    b->flags |= kBlitFullCopy;
    return 0;
  }
  // The lock hands back the rectangle's first pixel.
  b->lockedSurfaceMemory = desc.lpSurface;
  b->lockedPointer = static_cast<uint8_t*>(desc.lpSurface);
  b->lockedPitch = desc.lPitch;
  return 1;
}

void PrimaryUnlock(BlitRecord* b) {
  if (DirectDraw().primary) DirectDraw().primary->Unlock(b->lockedSurfaceMemory);
  b->lockedSurfaceMemory = nullptr;
  ShowHiddenCursor(b);
}

// Written in place: nothing to show.
void PrimaryBlit(BlitRecord*, const MovieRect*, int32_t) {}

}  // namespace

extern const BlitStyle kPrimaryStyle = {
    .name = "DirectDraw primary surface",
    .id = "primary",
    .help = "DirectDraw primary display (best quality, very fast)",
    .number = kBlitStylePrimary,
    .capabilities = kBlitStyleWrittenInPlace | kBlitStyleFallsToLastResort,
    .stretch = NoStretch,
    .open = PrimaryOpen,
    .close = PrimaryClose,
    .lock = PrimaryLock,
    .unlock = PrimaryUnlock,
    .blit = PrimaryBlit,
};

}  // namespace kivo::win32
