// SPDX-License-Identifier: BSD-2-Clause
// The DirectDraw surface styles' operations, and the clipper and window
// following that every DirectDraw style shares.
#include "display/win32/direct_draw_surface.h"

#include <cstring>

#include "display/blit_geometry.h"
#include "display/pixel_layout.h"
#include "display/win32/win32_display.h"

namespace kivo::win32 {

namespace {

const char kVideoModeText[] = "Video mode not supported.";

IDirectDrawSurface* SurfaceOf(const BlitRecord* b) { return static_cast<IDirectDrawSurface*>(b->surface); }

void ReleaseSurface(BlitRecord* b) {
  IDirectDrawSurface* surface = SurfaceOf(b);
  if (surface) {
    if (b->isOverlay && DirectDraw().primary) surface->UpdateOverlay(nullptr, DirectDraw().primary, nullptr, DDOVER_HIDE, nullptr);
    surface->Release();
  }
  b->surface = nullptr;
}





// Blits to the primary, restoring it once when it was lost.
void BlitToPrimary(RECT* to, IDirectDrawSurface* from, RECT* source, DWORD flags, DDBLTFX* fx) {
  IDirectDrawSurface* primary = DirectDraw().primary;
  if (primary->Blt(to, from, source, flags, fx) == DDERR_SURFACELOST && primary->Restore() == DD_OK)
    primary->Blt(to, from, source, flags, fx);
}

}  // namespace

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

uint32_t OverlayCaps(const BlitStyle*, const BlitRecord*) { return DirectDraw().overlayCaps; }
uint32_t BlitCaps(const BlitStyle*, const BlitRecord*) { return DirectDraw().blitCaps; }

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

void SurfaceUnlock(BlitRecord* b) {
  IDirectDrawSurface* surface = SurfaceOf(b);
  if (surface) surface->Unlock(b->lockedSurfaceMemory);
  b->lockedSurfaceMemory = nullptr;
  if (b->isOverlay) OverlayPlace(b, 0);
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

}  // namespace kivo::win32
