// SPDX-License-Identifier: BSD-2-Clause
// The display tests' known picture.
#include "display/sdl/picture_pattern.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "display/blit_buffer.h"
#include "display/pixel_layout.h"

namespace kivo::testing {

namespace {

// Colour bars as limited-range Y, U, V.
const uint8_t kBars[8][3] = {{16, 128, 128}, {235, 128, 128}, {81, 90, 240}, {145, 54, 34},
                             {41, 240, 110}, {210, 16, 146}, {170, 166, 16}, {106, 202, 222}};

const uint8_t* BarAt(uint32_t x, uint32_t y) { return kBars[(x / 8 + 3 * (y / 8)) % 8]; }

Rgb RgbAt(uint32_t x, uint32_t y) {
  return Rgb{int((x * 37 + y * 11) & 255), int((x * 5 + y * 29 + 64) & 255), int((x * y + 128) & 255)};
}

int Clamp(double v) { return int(std::lround(std::min(255.0, std::max(0.0, v)))); }

Rgb FromYuv(const uint8_t* yuv) {
  const double y = 1.164383 * (yuv[0] - 16), u = yuv[1] - 128.0, v = yuv[2] - 128.0;
  return Rgb{Clamp(y + 1.596027 * v), Clamp(y - 0.391762 * u - 0.812968 * v), Clamp(y + 2.017232 * u)};
}

struct Fields {
  int width[3], shift[3];
};

bool Fields16(int32_t code, Fields* f) {
  switch (code) {
    case kDestArgb4444: *f = Fields{{4, 4, 4}, {8, 4, 0}}; return true;
    case kDestArgb1555:
    case kDestXrgb1555: *f = Fields{{5, 5, 5}, {10, 5, 0}}; return true;
    case kDestRgb565: *f = Fields{{5, 6, 5}, {11, 5, 0}}; return true;
    case kDestRgb556: *f = Fields{{5, 5, 6}, {11, 6, 0}}; return true;
    case kDestRgb466: *f = Fields{{4, 6, 6}, {12, 6, 0}}; return true;
    default: return false;
  }
}

}  // namespace

bool WritePattern(BlitBuffer* b) {
  if (!LockBlitBuffer(b)) return false;
  const int32_t code = int32_t(b->flags & kBlitCodeMask);
  uint8_t* base = b->lockedPointer;
  const int32_t pitch = b->lockedPitch;
  for (uint32_t y = 0; y < b->height; ++y) {
    uint8_t* row = base + ptrdiff_t(y) * pitch;
    for (uint32_t x = 0; x < b->width; ++x) {
      const Rgb c = RgbAt(x, y);
      const uint8_t* yuv = BarAt(x, y);
      Fields f;
      switch (code) {
        case kDestBgr24: row[3 * x] = uint8_t(c.b), row[3 * x + 1] = uint8_t(c.g), row[3 * x + 2] = uint8_t(c.r); break;
        case kDestRgb24: row[3 * x] = uint8_t(c.r), row[3 * x + 1] = uint8_t(c.g), row[3 * x + 2] = uint8_t(c.b); break;
        case kDestBgrx32:
        case kDestBgra32:
          row[4 * x] = uint8_t(c.b), row[4 * x + 1] = uint8_t(c.g), row[4 * x + 2] = uint8_t(c.r);
          row[4 * x + 3] = code == kDestBgra32 ? 255 : 0;
          break;
        case kDestRgbx32:
        case kDestRgba32:
          row[4 * x] = uint8_t(c.r), row[4 * x + 1] = uint8_t(c.g), row[4 * x + 2] = uint8_t(c.b);
          row[4 * x + 3] = code == kDestRgba32 ? 255 : 0;
          break;
        case kDestYuy2:
        case kDestUyvy: {
          const bool yuy2 = code == kDestYuy2;
          row[2 * x + (yuy2 ? 0 : 1)] = yuv[0];
          row[2 * x + (yuy2 ? 1 : 0)] = x % 2 == 0 ? yuv[1] : yuv[2];
          break;
        }
        case kDestYv12: {
          row[x] = yuv[0];
          if (x % 2 == 0 && y % 2 == 0 && y + 1 < b->height && x + 1 < b->width) {
            uint8_t* v = base + ptrdiff_t(pitch) * b->height;
            uint8_t* u = v + ptrdiff_t(pitch / 2) * (b->height / 2);
            const ptrdiff_t at = ptrdiff_t(y / 2) * (pitch / 2) + x / 2;
            u[at] = yuv[1];
            v[at] = yuv[2];
          }
          break;
        }
        default:
          if (Fields16(code, &f)) {
            const int ch[3] = {c.r, c.g, c.b};
            uint32_t word = code == kDestArgb4444 ? 0xF000 : code == kDestArgb1555 ? 0x8000 : 0;
            for (int i = 0; i < 3; ++i) word |= uint32_t(ch[i] >> (8 - f.width[i])) << f.shift[i];
            row[2 * x] = uint8_t(word), row[2 * x + 1] = uint8_t(word >> 8);
          }
          break;
      }
    }
  }
  UnlockBlitBuffer(b);
  return true;
}

Rgb PatternColour(int32_t code, uint32_t x, uint32_t y) {
  if (code >= kDestYuy2) return FromYuv(BarAt(x, y));
  return RgbAt(x, y);
}

int PatternTolerance(int32_t code) {
  if (code >= kDestYuy2) return 6;
  if (code >= kDestArgb4444) return code == kDestArgb4444 || code == kDestRgb466 ? 17 : 8;
  return 0;
}

bool PatternComparable(int32_t code, uint32_t x, uint32_t y, uint32_t width, uint32_t height) {
  // The last column of an odd width (and for YV12 the last row of an odd
  // height) has no chroma pair of its own in the pattern.
  if (code >= kDestYuy2 && width % 2 == 1 && x == width - 1) return false;
  if (code == kDestYv12 && height % 2 == 1 && y == height - 1) return false;
  return true;
}

}  // namespace kivo::testing
