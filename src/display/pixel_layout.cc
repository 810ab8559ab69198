// SPDX-License-Identifier: BSD-2-Clause
// Destination format codes from surface descriptions, and clearing to black.
#include "display/pixel_layout.h"

#include <cstddef>
#include <cstring>

namespace kivo {

uint32_t DestinationBytesPerPixel(int32_t code) {
  static const uint8_t kBytes[16] = {1, 3, 3, 4, 4, 4, 4, 2, 2, 2, 2, 2, 2, 2, 2, 1};
  return code >= 0 && code < 16 ? kBytes[code] : 0;
}

int32_t DestinationCodeFromMasks(uint32_t bits, uint32_t red, uint32_t green, uint32_t blue,
                                 uint32_t alpha) {
  const bool bgr = red == 0xFF0000 && green == 0xFF00 && blue == 0xFF;
  const bool rgb = red == 0xFF && green == 0xFF00 && blue == 0xFF0000;
  switch (bits) {
    case 8:
      return kDestPalette8;
    case 24:
      return bgr ? kDestBgr24 : rgb ? kDestRgb24 : kDestUnknown;
    case 32:
      // Only the byte orders the converters write; anything else would come
      // out with its channels in the wrong places.
      if (alpha == 0) return bgr ? kDestBgrx32 : rgb ? kDestRgbx32 : kDestUnknown;
      if (alpha == 0xFF000000) return bgr ? kDestBgra32 : rgb ? kDestRgba32 : kDestUnknown;
      return kDestUnknown;
    case 16:
      if (red == 0xF800 && green == 0x07E0 && blue == 0x001F && alpha == 0) return kDestRgb565;
      if (red == 0x7C00 && green == 0x03E0 && blue == 0x001F)
        return alpha == 0x8000 ? kDestArgb1555 : alpha == 0 ? kDestXrgb1555 : kDestUnknown;
      if (red == 0x0F00 && green == 0x00F0 && blue == 0x000F && alpha == 0xF000)
        return kDestArgb4444;
      // Codes 11 and 12 only for surfaces laid out as their converters write.
      if (red == 0xF800 && green == 0x07C0 && blue == 0x003F && alpha == 0) return kDestRgb556;
      if (red == 0xF000 && green == 0x0FC0 && blue == 0x003F && alpha == 0) return kDestRgb466;
      return kDestUnknown;
    default:
      return kDestUnknown;
  }
}

int32_t DestinationCodeFromFourCc(uint32_t fourCc) {
  if (fourCc == MakeFourCc('Y', 'U', 'Y', '2')) return kDestYuy2;
  if (fourCc == MakeFourCc('U', 'Y', 'V', 'Y')) return kDestUyvy;
  if (fourCc == MakeFourCc('Y', 'V', '1', '2')) return kDestYv12;
  return kDestUnknown;
}

namespace {

void FillWords(uint8_t* row, uint32_t count, uint8_t first, uint8_t second) {
  for (uint32_t i = 0; i < count; ++i) {
    row[2 * i] = first;
    row[2 * i + 1] = second;
  }
}

void FillPlane(uint8_t* plane, int32_t pitch, uint32_t width, uint32_t rows, uint8_t value) {
  for (uint32_t y = 0; y < rows; ++y) memset(plane + ptrdiff_t(y) * pitch, value, width);
}

}  // namespace

void ClearPicture(uint8_t* picture, int32_t pitch, uint32_t width, uint32_t height, int32_t code) {
  if (!picture || code < 0 || code > 15) return;
  if (code == kDestYv12) {
    FillPlane(picture, pitch, width, height, 16);
    // The converter's layout: V at pitch x height, U right after it.
    const int32_t chromaPitch = pitch / 2;
    uint8_t* v = picture + ptrdiff_t(pitch) * height;
    uint8_t* u = v + ptrdiff_t(chromaPitch) * (height / 2);
    FillPlane(v, chromaPitch, width / 2, height / 2, 128);
    FillPlane(u, chromaPitch, width / 2, height / 2, 128);
    return;
  }
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* row = picture + ptrdiff_t(y) * pitch;
    if (code == kDestYuy2) {
      FillWords(row, width, 0x00, 0x80);   // the word 0x8000: luma 0, chroma 128
    } else if (code == kDestUyvy) {
      FillWords(row, width, 0x80, 0x00);   // the word 0x0080
    } else {
      memset(row, 0, size_t(width) * DestinationBytesPerPixel(code));
    }
  }
}

uint32_t Yv12PictureBytes(uint32_t pitch, uint32_t height) {
  return pitch * height + 2 * (pitch / 2) * ((height + 1) / 2);
}

}  // namespace kivo
