// SPDX-License-Identifier: BSD-2-Clause
// Destination codes from surface masks, clearing by code, and the geometry
// of stretching, scaled rectangles and aligned window positions.
#include <gtest/gtest.h>

#include <vector>

#include "display/blit_buffer.h"
#include "display/blit_geometry.h"
#include "display/pixel_layout.h"

namespace kivo {
namespace {

TEST(DestinationCode, FromChannelMasks) {
  EXPECT_EQ(DestinationCodeFromMasks(8, 0, 0, 0, 0), kDestPalette8);
  EXPECT_EQ(DestinationCodeFromMasks(24, 0xFF0000, 0xFF00, 0xFF, 0), kDestBgr24);
  EXPECT_EQ(DestinationCodeFromMasks(24, 0xFF, 0xFF00, 0xFF0000, 0), kDestRgb24);
  EXPECT_EQ(DestinationCodeFromMasks(32, 0xFF0000, 0xFF00, 0xFF, 0), kDestBgrx32);
  EXPECT_EQ(DestinationCodeFromMasks(32, 0xFF, 0xFF00, 0xFF0000, 0), kDestRgbx32);
  EXPECT_EQ(DestinationCodeFromMasks(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000), kDestBgra32);
  EXPECT_EQ(DestinationCodeFromMasks(32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000), kDestRgba32);
  EXPECT_EQ(DestinationCodeFromMasks(16, 0xF800, 0x07E0, 0x001F, 0), kDestRgb565);
  EXPECT_EQ(DestinationCodeFromMasks(16, 0x7C00, 0x03E0, 0x001F, 0x8000), kDestArgb1555);
  EXPECT_EQ(DestinationCodeFromMasks(16, 0x7C00, 0x03E0, 0x001F, 0), kDestXrgb1555);
  EXPECT_EQ(DestinationCodeFromMasks(16, 0x0F00, 0x00F0, 0x000F, 0xF000), kDestArgb4444);
  EXPECT_EQ(DestinationCodeFromMasks(16, 0xF800, 0x07C0, 0x003F, 0), kDestRgb556);
  EXPECT_EQ(DestinationCodeFromMasks(16, 0xF000, 0x0FC0, 0x003F, 0), kDestRgb466);
  // Layouts no converter writes: a 6-bit red at the top, 32-bit words with
  // red in the top byte, 4-4-4 without alpha, odd depths.
  EXPECT_EQ(DestinationCodeFromMasks(16, 0xFC00, 0x03E0, 0x001F, 0), kDestUnknown);
  EXPECT_EQ(DestinationCodeFromMasks(16, 0xFC00, 0x03F0, 0x000F, 0), kDestUnknown);
  EXPECT_EQ(DestinationCodeFromMasks(32, 0xFF000000, 0xFF0000, 0xFF00, 0), kDestUnknown);
  EXPECT_EQ(DestinationCodeFromMasks(16, 0x0F00, 0x00F0, 0x000F, 0), kDestUnknown);
  EXPECT_EQ(DestinationCodeFromMasks(12, 0x0F00, 0x00F0, 0x000F, 0), kDestUnknown);

  EXPECT_EQ(DestinationCodeFromFourCc(MakeFourCc('Y', 'U', 'Y', '2')), kDestYuy2);
  EXPECT_EQ(DestinationCodeFromFourCc(MakeFourCc('U', 'Y', 'V', 'Y')), kDestUyvy);
  EXPECT_EQ(DestinationCodeFromFourCc(MakeFourCc('Y', 'V', '1', '2')), kDestYv12);
  EXPECT_EQ(DestinationCodeFromFourCc(MakeFourCc('I', '4', '2', '0')), kDestUnknown);
}

// A picture inside a larger, marked buffer, so that writes outside it show.
struct Canvas {
  Canvas(uint32_t w, uint32_t h, int32_t p, uint32_t bytes) : width(w), height(h), pitch(p),
      memory(bytes + 64, 0xEE) {}
  uint8_t* picture() { return memory.data() + 32; }
  uint8_t at(size_t offset) const { return memory[32 + offset]; }
  uint32_t width, height;
  int32_t pitch;
  std::vector<uint8_t> memory;
};

TEST(ClearPicture, EachCodeItsOwnBlack) {
  const uint32_t w = 5, h = 3;
  const int32_t pitch = 24;
  for (int32_t code = 0; code <= 12; ++code) {
    Canvas c(w, h, pitch, pitch * h);
    ClearPicture(c.picture(), pitch, w, h, code);
    const uint32_t row = w * DestinationBytesPerPixel(code);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < uint32_t(pitch); ++x)
        ASSERT_EQ(c.at(y * pitch + x), x < row ? 0x00 : 0xEE) << "code " << code << " at " << x;
    EXPECT_EQ(c.memory.front(), 0xEE);
    EXPECT_EQ(c.memory.back(), 0xEE);
  }
  Canvas yuy2(w, h, pitch, pitch * h);
  ClearPicture(yuy2.picture(), pitch, w, h, kDestYuy2);
  Canvas uyvy(w, h, pitch, pitch * h);
  ClearPicture(uyvy.picture(), pitch, w, h, kDestUyvy);
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      const size_t at = y * pitch + 2 * x;
      EXPECT_EQ(yuy2.at(at) | yuy2.at(at + 1) << 8, 0x8000);
      EXPECT_EQ(uyvy.at(at) | uyvy.at(at + 1) << 8, 0x0080);
    }
    EXPECT_EQ(yuy2.at(y * pitch + 2 * w), 0xEE);
  }
}

TEST(ClearPicture, Yv12PlanesFollowTheLumaPlane) {
  const uint32_t w = 6, h = 4;
  const int32_t pitch = 8;
  Canvas c(w, h, pitch, pitch * h * 3 / 2);
  ClearPicture(c.picture(), pitch, w, h, kDestYv12);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < uint32_t(pitch); ++x)
      EXPECT_EQ(c.at(y * pitch + x), x < w ? 16 : 0xEE);
  // V then U, each 2 rows of 4 bytes of which the first 3 are the picture.
  for (uint32_t plane = 0; plane < 2; ++plane)
    for (uint32_t y = 0; y < h / 2; ++y)
      for (uint32_t x = 0; x < 4; ++x)
        EXPECT_EQ(c.at(pitch * h + plane * 8 + y * 4 + x), x < w / 2 ? 128 : 0xEE);
  EXPECT_EQ(c.memory.back(), 0xEE);
  EXPECT_EQ(Yv12PictureBytes(8, 4), 48u);
  EXPECT_EQ(Yv12PictureBytes(8, 5), 40u + 24u);
}

TEST(BlitGeometry, StretchClasses) {
  EXPECT_EQ(StretchClassX(320, 320), 0u);
  EXPECT_EQ(StretchClassX(640, 320), kStretchEnlargeXInteger);
  EXPECT_EQ(StretchClassX(960, 320), kStretchEnlargeXInteger);
  EXPECT_EQ(StretchClassX(480, 320), kStretchEnlargeX);
  EXPECT_EQ(StretchClassX(160, 320), kStretchShrinkXInteger);
  EXPECT_EQ(StretchClassX(200, 320), kStretchShrinkX);
  EXPECT_EQ(StretchClassY(720, 240), kStretchEnlargeYInteger);
  EXPECT_EQ(StretchClassY(100, 240), kStretchShrinkY);
  EXPECT_EQ(StretchClassY(80, 240), kStretchShrinkYInteger);
  EXPECT_TRUE(StretchWithin(0, 0));
  EXPECT_TRUE(StretchWithin(kStretchEnlargeXInteger, 0xC0000000));
  EXPECT_FALSE(StretchWithin(kStretchEnlargeX, kStretchEnlargeXInteger));
}

TEST(BlitGeometry, ScaledAndClippedRectangles) {
  // Edges are scaled, not sizes: neighbouring rectangles stay seamless.
  BlitRectangle a = ScaleRectangle({0, 0, 16, 16}, 48, 48, 100, 64);
  BlitRectangle b = ScaleRectangle({16, 16, 16, 16}, 48, 48, 100, 64);
  EXPECT_EQ(a.x, 0);
  EXPECT_EQ(a.width, 33);
  EXPECT_EQ(b.x, 33);
  EXPECT_EQ(b.width, 66 - 33);
  EXPECT_EQ(b.y, 21);
  EXPECT_EQ(b.height, 42 - 21);
  // Large pictures and sizes need 64-bit products.
  BlitRectangle big = ScaleRectangle({60000, 0, 5000, 1}, 65000, 1, 65000 * 2, 1);
  EXPECT_EQ(big.x, 120000);
  EXPECT_EQ(big.width, 10000);

  BlitRectangle r{-5, 10, 20, 100};
  ASSERT_TRUE(ClipRectangle(&r, 64, 48));
  EXPECT_EQ(r.x, 0);
  EXPECT_EQ(r.width, 15);
  EXPECT_EQ(r.height, 38);
  BlitRectangle outside{64, 0, 8, 8};
  EXPECT_FALSE(ClipRectangle(&outside, 64, 48));
  BlitRectangle empty{3, 3, 0, 5};
  EXPECT_FALSE(ClipRectangle(&empty, 64, 48));
  BlitRectangle huge{INT32_MAX - 1, 0, INT32_MAX, 4};
  EXPECT_FALSE(ClipRectangle(&huge, 64, 48));
}

TEST(BlitGeometry, ClientAreaAlignment) {
  EXPECT_EQ(AlignClientX(7, 2), 8);
  EXPECT_EQ(AlignClientX(8, 2), 8);
  EXPECT_EQ(AlignClientX(7, 4), 8);
  EXPECT_EQ(AlignClientX(5, 4), 6);
  EXPECT_EQ(AlignClientX(1, 3), 8);
  EXPECT_EQ(AlignClientX(9, 1), 12);
  EXPECT_EQ(AlignClientX(-3, 2), 0);
  EXPECT_EQ(AlignClientX(-5, 2), -4);
  EXPECT_EQ(AlignClientX(-9, 3), -8);

  WindowPlacement p{4, 20, 64, 48, 640, 480, 2, false};
  int32_t x = 3, y = 7;
  AdjustWindowPlacement(p, &x, &y);
  EXPECT_EQ(x + 4, 8);
  EXPECT_EQ(y, 7);
  p.keepOnScreen = true;
  x = 600, y = 470;
  AdjustWindowPlacement(p, &x, &y);
  EXPECT_EQ(x, 640 - 64 - 4);
  EXPECT_EQ(y, 480 - 48 - 20);
  // A picture wider than the screen starts at its left edge.
  p.pictureWidth = 700;
  x = 10;
  AdjustWindowPlacement(p, &x, &y);
  EXPECT_EQ(x, -4);
  x = INT32_MAX, y = INT32_MIN;
  p.keepOnScreen = false;
  AdjustWindowPlacement(p, &x, &y);   // no overflow on extreme requests
  EXPECT_GT(x, INT32_MAX - 16);
  EXPECT_EQ((int64_t(x) + 4) % 4, 0);
  EXPECT_EQ(y, INT32_MIN);
}

}  // namespace
}  // namespace kivo
