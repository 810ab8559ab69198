// SPDX-License-Identifier: BSD-2-Clause
// The SDL texture styles: RGB in the window's own format (the last resort,
// and on either renderer), and YV12, YUY2 and UYVY for the renderer to
// convert, on the accelerated or the software renderer.
#include "display/sdl/sdl_texture_style.h"

namespace kivo {

namespace {

constexpr TextureKind kRgbKind = {0, 0, false};
constexpr TextureKind kYv12AcceleratedKind = {SDL_RENDERER_ACCELERATED, SDL_PIXELFORMAT_YV12, true};
constexpr TextureKind kYuy2AcceleratedKind = {SDL_RENDERER_ACCELERATED, SDL_PIXELFORMAT_YUY2, true};
constexpr TextureKind kUyvyAcceleratedKind = {SDL_RENDERER_ACCELERATED, SDL_PIXELFORMAT_UYVY, true};
constexpr TextureKind kYv12SoftwareKind = {SDL_RENDERER_SOFTWARE, SDL_PIXELFORMAT_YV12, false};
constexpr TextureKind kYuy2SoftwareKind = {SDL_RENDERER_SOFTWARE, SDL_PIXELFORMAT_YUY2, false};
constexpr TextureKind kUyvySoftwareKind = {SDL_RENDERER_SOFTWARE, SDL_PIXELFORMAT_UYVY, false};
constexpr TextureKind kRgbAcceleratedKind = {SDL_RENDERER_ACCELERATED, 0, false};
constexpr TextureKind kRgbSoftwareKind = {SDL_RENDERER_SOFTWARE, 0, false};

}  // namespace

extern const BlitStyle kSdlRgbStyle =
    TextureStyle("SDL RGB texture", "texture", 2, kBlitStyleLastResort, &kRgbKind);

extern const BlitStyle kSdlYv12AcceleratedStyle =
    TextureStyle("SDL YV12 texture, accelerated renderer", "yv12-accelerated", 3,
                 kBlitStyleHardwareStretch, &kYv12AcceleratedKind);

extern const BlitStyle kSdlYuy2AcceleratedStyle =
    TextureStyle("SDL YUY2 texture, accelerated renderer", "yuy2-accelerated", 4,
                 kBlitStyleHardwareStretch, &kYuy2AcceleratedKind);

extern const BlitStyle kSdlUyvyAcceleratedStyle =
    TextureStyle("SDL UYVY texture, accelerated renderer", "uyvy-accelerated", 5,
                 kBlitStyleHardwareStretch, &kUyvyAcceleratedKind);

extern const BlitStyle kSdlYv12SoftwareStyle =
    TextureStyle("SDL YV12 texture, software renderer", "yv12-software", 6, 0, &kYv12SoftwareKind);

extern const BlitStyle kSdlYuy2SoftwareStyle =
    TextureStyle("SDL YUY2 texture, software renderer", "yuy2-software", 7, 0, &kYuy2SoftwareKind);

extern const BlitStyle kSdlUyvySoftwareStyle =
    TextureStyle("SDL UYVY texture, software renderer", "uyvy-software", 8, 0, &kUyvySoftwareKind);

extern const BlitStyle kSdlRgbAcceleratedStyle =
    TextureStyle("SDL RGB texture, accelerated renderer", "rgb-accelerated", 9,
                 kBlitStyleHardwareStretch, &kRgbAcceleratedKind);

extern const BlitStyle kSdlRgbSoftwareStyle =
    TextureStyle("SDL RGB texture, software renderer", "rgb-software", 10, 0, &kRgbSoftwareKind);

}  // namespace kivo
