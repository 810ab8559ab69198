// SPDX-License-Identifier: BSD-2-Clause
// The Windows blitting styles in the order automatic choice and fall-back
// try them. A new style is one file defining its BlitStyle and one line here.
#include "display/win32/win32_display.h"

namespace kivo::win32 {

extern const BlitStyle kPrimaryStyle;
extern const BlitStyle kDibStyle;
extern const BlitStyle kYv12OverlayStyle;
extern const BlitStyle kYuy2OverlayStyle;
extern const BlitStyle kUyvyOverlayStyle;
extern const BlitStyle kYv12OffscreenStyle;
extern const BlitStyle kYuy2OffscreenStyle;
extern const BlitStyle kUyvyOffscreenStyle;
extern const BlitStyle kRgbVideoStyle;
extern const BlitStyle kRgbSystemStyle;

namespace {

const BlitStyle* const kWin32Styles[] = {
    &kPrimaryStyle,        // 1: written in place, else the last resort
    &kDibStyle,            // 2: the last resort
    &kYv12OverlayStyle,    // 3 to 10: each falls to the next
    &kYuy2OverlayStyle,
    &kUyvyOverlayStyle,
    &kYv12OffscreenStyle,
    &kYuy2OffscreenStyle,
    &kUyvyOffscreenStyle,
    &kRgbVideoStyle,
    &kRgbSystemStyle,
};

}  // namespace

const BlitStyle* const* Win32Styles(uint32_t* count) {
  *count = sizeof kWin32Styles / sizeof kWin32Styles[0];
  return kWin32Styles;
}

}  // namespace kivo::win32
