// SPDX-License-Identifier: BSD-2-Clause
// The bitmap font: glyph placement and scale, and text that runs off the
// picture never written outside it.
#include <gtest/gtest.h>

#include <vector>

#include "player/text_font.h"

namespace kivo {
namespace {

TEST(TextFont, GlyphsLandInTheirCellsAtTheirScale) {
  int32_t w = 0, h = 0;
  MeasureBitmapText(3, 2, &w, &h);
  EXPECT_EQ(w, 3 * kCellWidth * 2);
  EXPECT_EQ(h, kCellHeight * 2);
  // "|" is the middle column of every row: at scale 2, a 2-wide bar in the
  // second cell from row 2 (one blank glyph row above) for 14 rows.
  std::vector<uint32_t> p(size_t(w) * h, 0);
  DrawBitmapText(p.data(), w, w, h, 0, 0, " |", 2, 2, 7);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const bool ink = x >= kCellWidth * 2 + 4 && x < kCellWidth * 2 + 6 && y >= 2 && y < 16;
      ASSERT_EQ(p[size_t(y) * w + x], ink ? 7u : 0u) << x << "," << y;
    }
  EXPECT_EQ(GlyphRows('\x7f'), GlyphRows('?'));
}

TEST(TextFont, TextOffThePictureIsCut) {
  // A 20 x 6 picture inside a larger block whose edges must stay untouched.
  const int32_t pitch = 40, width = 20, height = 6;
  std::vector<uint32_t> block(size_t(pitch) * 20, 0xABCDu);
  uint32_t* picture = block.data() + 5 * pitch + 10;
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) picture[y * pitch + x] = 0;
  DrawBitmapText(picture, pitch, width, height, -10, -3, "WWWWWWWW", 8, 3, 1);
  size_t ink = 0;
  for (int32_t y = 0; y < 20; ++y)
    for (int32_t x = 0; x < pitch; ++x) {
      const bool inside = y >= 5 && y < 5 + height && x >= 10 && x < 10 + width;
      const uint32_t v = block[size_t(y) * pitch + x];
      if (!inside) {
        ASSERT_EQ(v, 0xABCDu) << x << "," << y;
      }
      ink += inside && v == 1;
    }
  EXPECT_GT(ink, 20u);
}

}  // namespace
}  // namespace kivo
