// SPDX-License-Identifier: BSD-2-Clause
// The SDL2 blitting styles.
// The order is the fall-back order, and the numbers (the /B values) follow
// it. Automatic choice tries the head, style 1, written in place; it and any
// style that cannot be had falls to the last resort, style 2, which only a
// fall or /B2 reaches. From style 3 on a style that cannot be had (or cannot
// stretch as asked) falls to the next entry; past the last the open fails.
// A new style is one file defining its BlitStyle and one line here, at the
// end with the next number. style_choice_test pins this order.
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
