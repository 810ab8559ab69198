// SPDX-License-Identifier: BSD-2-Clause
// RGB to the player's YUV: the inverse of its colour arithmetic (table-based
// luma scale and four chroma terms, 4:2:0 chroma), chosen so that what the
// player converts back lies as near the source colours as 8 bits allow.
#pragma once

#include <cstdint>

namespace kivo::encode {

// The player's RGB for one sample triple (v is the red-difference sample,
// u the blue-difference one), exactly as its conversion tables give it.
struct Rgb {
  uint8_t r, g, b;
};
Rgb PlayerRgb(uint8_t y, uint8_t u, uint8_t v);
// The player's grey level of a luma sample (grey display).
uint8_t PlayerGrey(uint8_t y);

// Converts packed RGB or RGBA rows (`channels` 3 or 4, `stride` bytes per
// row) of width x height pixels into a luma plane (width x height) and, when
// cr and cb are not null, chroma planes of ((width + 1) / 2) x
// ((height + 1) / 2). Each chroma sample serves a 2x2 square (cut at odd
// edges). swapRedBlue exchanges red and blue on the way in, for streams whose
// player exchanges them on the way out. grey: luma only, from the grey
// display's levels.
void RgbToYuv(const uint8_t* rgb, uint32_t stride, uint32_t channels, uint32_t width, uint32_t height,
              bool swapRedBlue, bool grey, uint8_t* luma, uint8_t* cr, uint8_t* cb);

}  // namespace kivo::encode
