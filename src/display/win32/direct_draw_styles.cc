// SPDX-License-Identifier: BSD-2-Clause
// The DirectDraw styles: 1 the primary surface written in place, 3 to 5 YUV
// overlays shown by the card over a colour key, 6 to 8 YUV off-screen
// surfaces and 9/10 RGB off-screen surfaces (video or system memory) blitted
// to the primary with stretching through the window's clipper.
#include <windows.h>
#include <ddraw.h>

#include <cstddef>
#include <cstring>

#include "display/blit_geometry.h"
#include "display/blit_style.h"
#include "display/pixel_layout.h"
#include "display/win32/win32_display.h"

namespace kivo::win32 {

namespace {

const char kVideoModeText[] = "Video mode not supported.";

IDirectDrawSurface* SurfaceOf(const BlitRecord* b) { return static_cast<IDirectDrawSurface*>(b->surface); }

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

// ---- Shared by every DirectDraw style -------------------------------------------

void AttachClipper(BlitRecord* b) {
  IDirectDrawClipper* clipper = nullptr;
  if (DirectDraw().object->CreateClipper(0, &clipper, nullptr) != DD_OK || !clipper) return;
  if (clipper->SetHWnd(0, WindowOf(b)) != DD_OK) {
    clipper->Release();
    return;
  }
  b->clipper = clipper;
}

void DetachClipper(BlitRecord* b) {
  auto* clipper = static_cast<IDirectDrawClipper*>(b->clipper);
  if (!clipper) return;
  IDirectDrawSurface* primary = DirectDraw().primary;
  IDirectDrawClipper* attached = nullptr;
  if (primary && primary->GetClipper(&attached) == DD_OK && attached) {
    if (attached == clipper) primary->SetClipper(nullptr);
    attached->Release();
  }
  clipper->Release();
  b->clipper = nullptr;
}

// The client area's screen position, followed when the window has moved: the
// picture is then somewhere new and must be written whole.
void FollowWindow(BlitRecord* b) {
  POINT origin;
  if (!ClientOrigin(WindowOf(b), &origin)) return;
  const int32_t x = origin.x + b->destinationX, y = origin.y + b->destinationY;
  if (x != b->clientX || y != b->clientY) {
    b->clientX = x;
    b->clientY = y;
    b->flags |= kBlitFullCopy;
  }
}

uint32_t NoStretch(const BlitStyle*, const BlitRecord*) { return 0; }
uint32_t OverlayCaps(const BlitStyle*, const BlitRecord*) { return DirectDraw().overlayCaps; }
uint32_t BlitCaps(const BlitStyle*, const BlitRecord*) { return DirectDraw().blitCaps; }

// ---- Style 1: the primary surface ------------------------------------------------

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

// ---- Styles 3 to 10: a surface of the buffer's own ---------------------------------

struct SurfaceKind {
  uint32_t fourCc;                     // 0: the display's RGB format
  DWORD caps;
};

const SurfaceKind kYv12OverlayKind = {MakeFourCc('Y', 'V', '1', '2'), DDSCAPS_OVERLAY | DDSCAPS_VIDEOMEMORY};
const SurfaceKind kYuy2OverlayKind = {MakeFourCc('Y', 'U', 'Y', '2'), DDSCAPS_OVERLAY | DDSCAPS_VIDEOMEMORY};
const SurfaceKind kUyvyOverlayKind = {MakeFourCc('U', 'Y', 'V', 'Y'), DDSCAPS_OVERLAY | DDSCAPS_VIDEOMEMORY};
const SurfaceKind kYv12OffscreenKind = {MakeFourCc('Y', 'V', '1', '2'), DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY};
const SurfaceKind kYuy2OffscreenKind = {MakeFourCc('Y', 'U', 'Y', '2'), DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY};
const SurfaceKind kUyvyOffscreenKind = {MakeFourCc('U', 'Y', 'V', 'Y'), DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY};
const SurfaceKind kRgbVideoKind = {0, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY};
const SurfaceKind kRgbSystemKind = {0, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY};


void ReleaseSurface(BlitRecord* b) {
  IDirectDrawSurface* surface = SurfaceOf(b);
  if (surface) {
    if (b->isOverlay && DirectDraw().primary) surface->UpdateOverlay(nullptr, DirectDraw().primary, nullptr, DDOVER_HIDE, nullptr);
    surface->Release();
  }
  b->surface = nullptr;
}

int32_t SurfaceOpen(BlitRecord* b, uint32_t) {
  if (!b->ops->kind || !DirectDraw().object || !DirectDraw().primary) return 0;
  const SurfaceKind& kind = *static_cast<const SurfaceKind*>(b->ops->kind);
  // A driver without overlay support may still make an overlay surface, one
  // that is never shown.
  if ((kind.caps & DDSCAPS_OVERLAY) && !DirectDraw().overlays) return 0;
  // A YV12 picture of odd height has a last chroma row the surface may not hold.
  if (kind.fourCc == MakeFourCc('Y', 'V', '1', '2') && (b->height % 2 || b->width % 2)) return 0;
  DDSURFACEDESC desc;
  memset(&desc, 0, sizeof desc);
  desc.dwSize = sizeof desc;
  desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
  desc.dwWidth = b->width;
  desc.dwHeight = b->height;
  desc.ddsCaps.dwCaps = kind.caps;
  if (kind.fourCc) {
    desc.dwFlags |= DDSD_PIXELFORMAT;
    desc.ddpfPixelFormat.dwSize = sizeof(DDPIXELFORMAT);
    desc.ddpfPixelFormat.dwFlags = DDPF_FOURCC;
    desc.ddpfPixelFormat.dwFourCC = kind.fourCc;
  }
  IDirectDrawSurface* surface = nullptr;
  if (DirectDraw().object->CreateSurface(&desc, &surface, nullptr) != DD_OK || !surface) return 0;
  b->surface = surface;
  b->isOverlay = (kind.caps & DDSCAPS_OVERLAY) ? 1 : 0;
  b->isOffscreen = b->isOverlay ? 0 : 1;

  DDSURFACEDESC locked;
  bool lost = false;
  if (LockSurface(surface, &locked, &lost) != DD_OK || !locked.lpSurface) {
    ReleaseSurface(b);
    return 0;
  }
  const int32_t code = SurfaceCode(locked.ddpfPixelFormat);
  const bool usable = code > kDestPalette8 && (kind.fourCc ? code >= kDestYuy2 : code <= kDestRgb466) &&
                      locked.dwWidth >= b->width && locked.dwHeight >= b->height;
  if (usable) ClearPicture(static_cast<uint8_t*>(locked.lpSurface), locked.lPitch, b->width, b->height, code);
  surface->Unlock(locked.lpSurface);
  if (!usable) {
    if (!kind.fourCc && code != kDestPalette8) SetBlitBufferError(kVideoModeText);
    ReleaseSurface(b);
    return 0;
  }
  b->flags = (b->flags & ~kBlitCodeMask) | uint32_t(code) | (b->isOverlay ? kBlitNoBlits : 0);
  b->overlayShown = b->isOverlay;
  AttachClipper(b);
  return 1;
}

void SurfaceClose(BlitRecord* b) {
  ReleaseSurface(b);
  DetachClipper(b);
}

int32_t SurfaceLock(BlitRecord* b) {
  IDirectDrawSurface* surface = SurfaceOf(b);
  if (!surface) return 0;
  DDSURFACEDESC desc;
  bool lost = false;
  if (LockSurface(surface, &desc, &lost) != DD_OK || !desc.lpSurface) {
    b->flags |= kBlitFullCopy;
    return 0;
  }
  if (lost) b->flags |= kBlitFullCopy;
  b->lockedSurfaceMemory = desc.lpSurface;
  b->lockedPointer = static_cast<uint8_t*>(desc.lpSurface);
  b->lockedPitch = desc.lPitch;
  return 1;
}

void OverlayPlace(BlitRecord* b, int32_t mode);

void SurfaceUnlock(BlitRecord* b) {
  IDirectDrawSurface* surface = SurfaceOf(b);
  if (surface) surface->Unlock(b->lockedSurfaceMemory);
  b->lockedSurfaceMemory = nullptr;
  if (b->isOverlay) OverlayPlace(b, 0);
}

// Blits to the primary, restoring it once when it was lost.
void BlitToPrimary(RECT* to, IDirectDrawSurface* from, RECT* source, DWORD flags, DDBLTFX* fx) {
  IDirectDrawSurface* primary = DirectDraw().primary;
  if (primary->Blt(to, from, source, flags, fx) == DDERR_SURFACELOST && primary->Restore() == DD_OK)
    primary->Blt(to, from, source, flags, fx);
}

void SurfaceBlit(BlitRecord* b, const MovieRect* rects, int32_t count) {
  IDirectDrawSurface* surface = SurfaceOf(b);
  IDirectDrawSurface* primary = DirectDraw().primary;
  if (!surface || !primary) return;
  FollowWindow(b);
  const MovieRect whole{0, 0, int32_t(b->width), int32_t(b->height)};
  if (!rects) rects = &whole, count = 1;
  primary->SetClipper(static_cast<IDirectDrawClipper*>(b->clipper));
  if (b->isOverlay) {
    // The overlay shows the picture; the primary only needs the key colour.
    DDBLTFX fx;
    memset(&fx, 0, sizeof fx);
    fx.dwSize = sizeof fx;
    fx.dwFillColor = DirectDraw().colourKey;
    for (int32_t i = 0; i < count; ++i) {
      const BlitRectangle s = ScaleRectangle(BlitRectangle{rects[i].x, rects[i].y, rects[i].width, rects[i].height},
                                             b->width, b->height, b->blitWidth, b->blitHeight);
      RECT to{b->clientX + s.x, b->clientY + s.y, b->clientX + s.x + s.width, b->clientY + s.y + s.height};
      BlitToPrimary(&to, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
    }
    return;
  }
  for (int32_t i = 0; i < count; ++i) {
    const MovieRect& r = rects[i];
    const BlitRectangle s = ScaleRectangle(BlitRectangle{r.x, r.y, r.width, r.height}, b->width, b->height,
                                           b->blitWidth, b->blitHeight);
    if (s.width <= 0 || s.height <= 0) continue;
    RECT source{r.x, r.y, r.x + r.width, r.y + r.height};
    RECT to{b->clientX + s.x, b->clientY + s.y, b->clientX + s.x + s.width, b->clientY + s.y + s.height};
    BlitToPrimary(&to, surface, &source, DDBLT_WAIT, nullptr);
  }
}

// Keeps the overlay over the picture's place on the screen: the part of it
// on the screen is shown (or hidden as asked), nothing shown otherwise.
void OverlayPlace(BlitRecord* b, int32_t mode) {
  IDirectDrawSurface* surface = SurfaceOf(b);
  IDirectDrawSurface* primary = DirectDraw().primary;
  if (!b->isOverlay || !surface || !primary) return;
  if (mode == 1) b->overlayShown = 0;
  if (mode == 2) b->overlayShown = 1;
  const int64_t sw = b->screenWidth, sh = b->screenHeight;
  int64_t x0 = b->clientX, y0 = b->clientY, x1 = x0 + b->blitWidth, y1 = y0 + b->blitHeight;
  const int64_t cutLeft = x0 < 0 ? -x0 : 0, cutTop = y0 < 0 ? -y0 : 0;
  const int64_t cutRight = x1 > sw ? x1 - sw : 0, cutBottom = y1 > sh ? y1 - sh : 0;
  x0 += cutLeft, y0 += cutTop, x1 -= cutRight, y1 -= cutBottom;
  if (!IsWindowVisible(WindowOf(b)) || x1 <= x0 || y1 <= y0 || !b->blitWidth || !b->blitHeight) {
    surface->UpdateOverlay(nullptr, primary, nullptr, DDOVER_HIDE, nullptr);
    return;
  }
  // The parts cut off, from destination pixels back into picture pixels.
  auto toPicture = [](int64_t v, uint32_t picture, uint32_t shown) { return LONG(v * picture / shown); };
  RECT source{toPicture(cutLeft, b->width, b->blitWidth), toPicture(cutTop, b->height, b->blitHeight),
              LONG(b->width) - toPicture(cutRight, b->width, b->blitWidth),
              LONG(b->height) - toPicture(cutBottom, b->height, b->blitHeight)};
  RECT to{LONG(x0), LONG(y0), LONG(x1), LONG(y1)};
  if (source.right <= source.left || source.bottom <= source.top) {
    surface->UpdateOverlay(nullptr, primary, nullptr, DDOVER_HIDE, nullptr);
    return;
  }
  DDOVERLAYFX fx;
  memset(&fx, 0, sizeof fx);
  fx.dwSize = sizeof fx;
  fx.dckDestColorkey.dwColorSpaceLowValue = DirectDraw().colourKey;
  fx.dckDestColorkey.dwColorSpaceHighValue = DirectDraw().colourKey;
  const DWORD show = b->overlayShown ? DDOVER_SHOW : DDOVER_HIDE;
  surface->UpdateOverlay(&source, primary, &to, show | DDOVER_KEYDESTOVERRIDE | DDOVER_DDFX, &fx);
}

// An overlay or off-screen style: the surface operations over its own kind,
// stretched by the hardware as far as `stretch` finds it can.
constexpr BlitStyle SurfaceStyle(const char* name, const char* id, int32_t number, const SurfaceKind* kind,
                                 uint32_t (*stretch)(const BlitStyle*, const BlitRecord*),
                                 void (*place)(BlitRecord*, int32_t)) {
  return {.name = name,
          .id = id,
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

}  // namespace

extern const BlitStyle kPrimaryStyle = {
    .name = "DirectDraw primary surface",
    .id = "primary",
    .number = kBlitStylePrimary,
    .capabilities = kBlitStyleWrittenInPlace | kBlitStyleFallsToLastResort,
    .stretch = NoStretch,
    .open = PrimaryOpen,
    .close = PrimaryClose,
    .lock = PrimaryLock,
    .unlock = PrimaryUnlock,
    .blit = PrimaryBlit,
};

extern const BlitStyle kYv12OverlayStyle =
    SurfaceStyle("DirectDraw YV12 overlay", "yv12-overlay", 3, &kYv12OverlayKind, OverlayCaps, OverlayPlace);

extern const BlitStyle kYuy2OverlayStyle =
    SurfaceStyle("DirectDraw YUY2 overlay", "yuy2-overlay", 4, &kYuy2OverlayKind, OverlayCaps, OverlayPlace);

extern const BlitStyle kUyvyOverlayStyle =
    SurfaceStyle("DirectDraw UYVY overlay", "uyvy-overlay", 5, &kUyvyOverlayKind, OverlayCaps, OverlayPlace);

extern const BlitStyle kYv12OffscreenStyle =
    SurfaceStyle("DirectDraw YV12 off-screen surface", "yv12-offscreen", 6, &kYv12OffscreenKind, BlitCaps, nullptr);

extern const BlitStyle kYuy2OffscreenStyle =
    SurfaceStyle("DirectDraw YUY2 off-screen surface", "yuy2-offscreen", 7, &kYuy2OffscreenKind, BlitCaps, nullptr);

extern const BlitStyle kUyvyOffscreenStyle =
    SurfaceStyle("DirectDraw UYVY off-screen surface", "uyvy-offscreen", 8, &kUyvyOffscreenKind, BlitCaps, nullptr);

extern const BlitStyle kRgbVideoStyle =
    SurfaceStyle("DirectDraw RGB off-screen video surface", "rgb-video", 9, &kRgbVideoKind, BlitCaps, nullptr);

extern const BlitStyle kRgbSystemStyle =
    SurfaceStyle("DirectDraw RGB off-screen system surface", "rgb-system", 10, &kRgbSystemKind, BlitCaps, nullptr);

}  // namespace kivo::win32
