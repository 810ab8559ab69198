// SPDX-License-Identifier: BSD-2-Clause
// The SDL2 blitting styles in the order automatic choice and fall-back try
// them. A new style is one file defining its BlitStyle and one line here.
#include "display/sdl/sdl_style_list.h"

namespace kivo {

extern const BlitStyle kSdlSurfaceStyle;
extern const BlitStyle kSdlRgbStyle;
extern const BlitStyle kSdlYv12AcceleratedStyle;
extern const BlitStyle kSdlYuy2AcceleratedStyle;
extern const BlitStyle kSdlUyvyAcceleratedStyle;
extern const BlitStyle kSdlYv12SoftwareStyle;
extern const BlitStyle kSdlYuy2SoftwareStyle;
extern const BlitStyle kSdlUyvySoftwareStyle;
extern const BlitStyle kSdlRgbAcceleratedStyle;
extern const BlitStyle kSdlRgbSoftwareStyle;

namespace {

const BlitStyle* const kSdlStyles[] = {
    &kSdlSurfaceStyle,          // 1: written in place, else the last resort
    &kSdlRgbStyle,              // 2: the last resort
    &kSdlYv12AcceleratedStyle,  // 3 to 10: each falls to the next
    &kSdlYuy2AcceleratedStyle,
    &kSdlUyvyAcceleratedStyle,
    &kSdlYv12SoftwareStyle,
    &kSdlYuy2SoftwareStyle,
    &kSdlUyvySoftwareStyle,
    &kSdlRgbAcceleratedStyle,
    &kSdlRgbSoftwareStyle,
};

}  // namespace

const BlitStyle* const* SdlStyles(uint32_t* count) {
  *count = sizeof kSdlStyles / sizeof kSdlStyles[0];
  return kSdlStyles;
}

}  // namespace kivo
