// SPDX-License-Identifier: BSD-2-Clause
// Destination pixel formats as the display buffer sees them: the format code
// a surface needs (from its channel masks), the bytes per pixel of each code,
// and clearing a picture to black in any of them.
#pragma once

#include <cstdint>

namespace kivo {

// Destination format codes (the low four bits of the copy flags).
enum DestinationCode : int32_t {
  kDestUnknown = -1,
  kDestPalette8 = 0,   // nothing is converted
  kDestBgr24 = 1,      // bytes B, G, R
  kDestRgb24 = 2,      // bytes R, G, B
  kDestBgrx32 = 3,     // bytes B, G, R, 0
  kDestRgbx32 = 4,     // bytes R, G, B, 0
  kDestBgra32 = 5,     // bytes B, G, R, A
  kDestRgba32 = 6,     // bytes R, G, B, A
  kDestArgb4444 = 7,   // 16-bit words from here to 12
  kDestArgb1555 = 8,
  kDestXrgb1555 = 9,
  kDestRgb565 = 10,
  kDestRgb556 = 11,    // red 15..11, green 10..6, blue 5..0
  kDestRgb466 = 12,    // red 15..12, green 11..6, blue 5..0
  kDestYuy2 = 13,      // Y0, U, Y1, V
  kDestUyvy = 14,      // U, Y0, V, Y1
  kDestYv12 = 15,      // luma plane, then V, then U, each half size
};

// Bytes of one pixel (of the luma plane for YV12); 0 for codes out of range.
uint32_t DestinationBytesPerPixel(int32_t code);

// The code for a surface with `bits` per pixel and these channel masks (in a
// little-endian pixel word; a 24-bit surface's masks as if read as one
// 24-bit word). kDestUnknown when no converter writes that layout.
int32_t DestinationCodeFromMasks(uint32_t bits, uint32_t red, uint32_t green, uint32_t blue,
                                 uint32_t alpha);

// FourCC surfaces.
int32_t DestinationCodeFromFourCc(uint32_t fourCc);
constexpr uint32_t MakeFourCc(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
         uint32_t(uint8_t(d)) << 24;
}

// Clears a picture of width x height at `picture` (rows `pitch` bytes apart)
// to black in the layout of `code`: RGB zero bytes, YUY2 words 0x8000, UYVY
// words 0x0080, YV12 luma 16 and chroma 128 (the chroma planes follow the
// luma plane at pitch x height, half pitch, half size, V then U).
void ClearPicture(uint8_t* picture, int32_t pitch, uint32_t width, uint32_t height, int32_t code);

// Bytes a YV12 picture of `height` rows with luma pitch `pitch` spans: the
// luma plane and both chroma planes, with a last chroma row for an odd height.
uint32_t Yv12PictureBytes(uint32_t pitch, uint32_t height);

}  // namespace kivo
