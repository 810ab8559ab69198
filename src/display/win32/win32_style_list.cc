// SPDX-License-Identifier: BSD-2-Clause
// The Windows blitting styles.
// The order is the fall-back order, and the numbers (the /B values) follow
// it. Automatic choice tries the head, style 1, written in place; it and any
// style that cannot be had falls to the last resort, style 2, which only a
// fall or /B2 reaches. From style 3 on a style that cannot be had (or cannot
// stretch as asked) falls to the next entry; past the last the open fails.
// A new style is one file defining its BlitStyle and one line here, at the
// end with the next number. style_choice_test pins this order.
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
