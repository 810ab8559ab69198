// SPDX-License-Identifier: BSD-2-Clause
// The DirectDraw surface styles: 3 to 5 YUV overlays, 6 to 8 YUV off-screen
// surfaces in video memory, 9 and 10 RGB off-screen surfaces in the
// display's format (video or system memory).
#include "display/win32/direct_draw_surface.h"

#include "display/pixel_layout.h"

namespace kivo::win32 {

namespace {

const SurfaceKind kYv12OverlayKind = {MakeFourCc('Y', 'V', '1', '2'), DDSCAPS_OVERLAY | DDSCAPS_VIDEOMEMORY};
const SurfaceKind kYuy2OverlayKind = {MakeFourCc('Y', 'U', 'Y', '2'), DDSCAPS_OVERLAY | DDSCAPS_VIDEOMEMORY};
const SurfaceKind kUyvyOverlayKind = {MakeFourCc('U', 'Y', 'V', 'Y'), DDSCAPS_OVERLAY | DDSCAPS_VIDEOMEMORY};
const SurfaceKind kYv12OffscreenKind = {MakeFourCc('Y', 'V', '1', '2'), DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY};
const SurfaceKind kYuy2OffscreenKind = {MakeFourCc('Y', 'U', 'Y', '2'), DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY};
const SurfaceKind kUyvyOffscreenKind = {MakeFourCc('U', 'Y', 'V', 'Y'), DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY};
const SurfaceKind kRgbVideoKind = {0, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY};
const SurfaceKind kRgbSystemKind = {0, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY};

}  // namespace

extern const BlitStyle kYv12OverlayStyle =
    SurfaceStyle("DirectDraw YV12 overlay", "yv12-overlay",
                 "YV12 overlay", 3, &kYv12OverlayKind, OverlayCaps, OverlayPlace);

extern const BlitStyle kYuy2OverlayStyle =
    SurfaceStyle("DirectDraw YUY2 overlay", "yuy2-overlay",
                 "YUY2 overlay", 4, &kYuy2OverlayKind, OverlayCaps, OverlayPlace);

extern const BlitStyle kUyvyOverlayStyle =
    SurfaceStyle("DirectDraw UYVY overlay", "uyvy-overlay",
                 "UYVY overlay", 5, &kUyvyOverlayKind, OverlayCaps, OverlayPlace);

extern const BlitStyle kYv12OffscreenStyle =
    SurfaceStyle("DirectDraw YV12 off-screen surface", "yv12-offscreen",
                 "YV12 off-screen", 6, &kYv12OffscreenKind, BlitCaps, nullptr);

extern const BlitStyle kYuy2OffscreenStyle =
    SurfaceStyle("DirectDraw YUY2 off-screen surface", "yuy2-offscreen",
                 "YUY2 off-screen", 7, &kYuy2OffscreenKind, BlitCaps, nullptr);

extern const BlitStyle kUyvyOffscreenStyle =
    SurfaceStyle("DirectDraw UYVY off-screen surface", "uyvy-offscreen",
                 "UYVY off-screen", 8, &kUyvyOffscreenKind, BlitCaps, nullptr);

extern const BlitStyle kRgbVideoStyle =
    SurfaceStyle("DirectDraw RGB off-screen video surface", "rgb-video",
                 "DirectDraw RGB video memory off-screen", 9, &kRgbVideoKind, BlitCaps, nullptr);

extern const BlitStyle kRgbSystemStyle =
    SurfaceStyle("DirectDraw RGB off-screen system surface", "rgb-system",
                 "DirectDraw RGB system memory off-screen", 10, &kRgbSystemKind, BlitCaps, nullptr);

}  // namespace kivo::win32
