// SPDX-License-Identifier: BSD-2-Clause
// RGB to YUV against a plain model of the player's forward arithmetic.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

#include "encode/colour_convert.h"

namespace kivo::encode {
namespace {

// The forward arithmetic written out per pixel: luma scaled from 16..235,
// four chroma terms truncated toward zero, each channel clamped.
struct Model {
  int r, g, b;
};
int Div(int a) { return a / 32768; }  // C++ division truncates toward zero, as the tables do
Model Forward(int y, int u, int v) {
  const int l = std::min(std::max(y - 16, 0), 219) * 38154 / 32768;
  auto clamp = [](int c) { return std::min(std::max(c, 0), 255); };
  return {clamp(l + Div(v * 52299 - 6694272)), clamp(l + Div((128 - v) * 26639) + Div(1643136 - u * 12837)),
          clamp(l + Div(u * 66101 - 8460928))};
}

int Err(const Model& m, const uint8_t* rgb) {
  return std::max({std::abs(m.r - rgb[0]), std::abs(m.g - rgb[1]), std::abs(m.b - rgb[2])});
}

TEST(Colour, PlayerRgbIsTheForwardArithmetic) {
  for (int y = 0; y < 256; y += 3)
    for (int u = 0; u < 256; ++u)
      for (int v = 0; v < 256; ++v) {
        const Rgb c = PlayerRgb(uint8_t(y), uint8_t(u), uint8_t(v));
        const Model m = Forward(y, u, v);
        ASSERT_EQ(c.r, m.r) << y << " " << u << " " << v;
        ASSERT_EQ(c.g, m.g) << y << " " << u << " " << v;
        ASSERT_EQ(c.b, m.b) << y << " " << u << " " << v;
      }
  EXPECT_EQ(PlayerRgb(16, 128, 128).r, 0);
  EXPECT_EQ(PlayerRgb(235, 128, 128).g, 254);
}

// Pictures made of flat 2x2 squares: each square shares one chroma pair, so
// the player can give every colour back within its rounding.
std::vector<uint8_t> FlatSquares(uint32_t w, uint32_t h, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> rgb(size_t(w) * h * 3);
  for (uint32_t cy = 0; cy < h; cy += 2)
    for (uint32_t cx = 0; cx < w; cx += 2) {
      const uint8_t c[3] = {uint8_t(random()), uint8_t(random()), uint8_t(random())};
      for (uint32_t y = cy; y < std::min(cy + 2, h); ++y)
        for (uint32_t x = cx; x < std::min(cx + 2, w); ++x) std::copy(c, c + 3, &rgb[(size_t(y) * w + x) * 3]);
    }
  return rgb;
}

TEST(Colour, RoundTripKeepsEveryColourWithinRounding) {
  const uint32_t w = 64, h = 64;
  const std::vector<uint8_t> rgb = FlatSquares(w, h, 7);
  std::vector<uint8_t> y(w * h), cr(w * h / 4), cb(w * h / 4);
  RgbToYuv(rgb.data(), w * 3, 3, w, h, false, false, y.data(), cr.data(), cb.data());
  int worst = 0, twos = 0;
  double sum = 0;
  for (uint32_t i = 0; i < w * h; ++i) {
    const uint32_t c = (i / w / 2) * (w / 2) + (i % w) / 2;
    const int e = Err(Forward(y[i], cb[c], cr[c]), &rgb[i * 3]);
    worst = std::max(worst, e);
    twos += e >= 2;
    sum += e;
  }
  // One step of V moves red by 1.6, one of U blue by 2.0: three channels
  // from three steps land within 1 almost always, within 2 always.
  EXPECT_LE(worst, 2);
  EXPECT_LT(twos, int(w * h / 100));
  EXPECT_LT(sum / (w * h), 0.9);
}

TEST(Colour, ColoursThePlayerCanShowComeBackExactly) {
  std::mt19937 random(3);
  for (int n = 0; n < 2000; ++n) {
    const int yv = 16 + int(random() % 220), uv = 16 + int(random() % 225), vv = 16 + int(random() % 225);
    const Model m = Forward(yv, uv, vv);
    uint8_t rgb[12];
    for (int p = 0; p < 4; ++p) rgb[p * 3] = uint8_t(m.r), rgb[p * 3 + 1] = uint8_t(m.g), rgb[p * 3 + 2] = uint8_t(m.b);
    uint8_t y[4], cr, cb;
    RgbToYuv(rgb, 6, 3, 2, 2, false, false, y, &cr, &cb);
    // Exact, except where a channel clips: there the search may settle one
    // step away.
    const bool clips = std::min({m.r, m.g, m.b}) == 0 || std::max({m.r, m.g, m.b}) >= 254;
    for (int p = 0; p < 4; ++p)
      ASSERT_LE(Err(Forward(y[p], cb, cr), rgb), clips ? 1 : 0) << yv << " " << uv << " " << vv;
  }
}

TEST(Colour, OddEdgesAlphaStrideAndRedBlueExchange) {
  // 3 x 3 RGBA with padding at the end of each row: the right column and the
  // bottom row have chroma samples of their own, covering cut squares.
  const uint32_t w = 3, h = 3, stride = 16;
  std::vector<uint8_t> rgba(stride * h, 0xEE);
  const uint8_t colours[3][3] = {{200, 30, 40}, {20, 180, 60}, {30, 60, 220}};
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      const uint8_t* c = colours[(y == 2) ? 2 : (x == 2) ? 1 : 0];
      std::copy(c, c + 3, &rgba[y * stride + x * 4]);
      rgba[y * stride + x * 4 + 3] = 9;
    }
  uint8_t luma[9], cr[4], cb[4];
  for (bool swap : {false, true}) {
    RgbToYuv(rgba.data(), stride, 4, w, h, swap, false, luma, cr, cb);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        const uint32_t c = (y / 2) * 2 + x / 2;
        const Model m = Forward(luma[y * w + x], cb[c], cr[c]);
        const uint8_t* want = &rgba[y * stride + x * 4];
        const uint8_t seen[3] = {uint8_t(swap ? m.b : m.r), uint8_t(m.g), uint8_t(swap ? m.r : m.b)};
        EXPECT_LE(std::max({std::abs(seen[0] - want[0]), std::abs(seen[1] - want[1]), std::abs(seen[2] - want[2])}),
                  1)
            << "pixel " << x << "," << y << " swap " << swap;
      }
  }
}

TEST(Colour, RepeatedSquaresConvertAsTheyDoAlone) {
  // Squares that repeat (and many that differ, crowding the memory of
  // recent squares) convert exactly as each square does on its own.
  const uint32_t w = 256, h = 16;
  std::vector<uint8_t> rgb = FlatSquares(w, h, 11);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      if ((x / 2) % 5 == 0) {
        uint8_t* p = &rgb[(size_t(y) * w + x) * 3];
        p[0] = uint8_t(90 + x % 2), p[1] = 20, p[2] = uint8_t(200 + y % 2);  // one square, over and over
      }
  std::vector<uint8_t> y(w * h), cr(w * h / 4), cb(w * h / 4);
  RgbToYuv(rgb.data(), w * 3, 3, w, h, false, false, y.data(), cr.data(), cb.data());
  for (uint32_t cy = 0; cy < h / 2; ++cy)
    for (uint32_t cx = 0; cx < w / 2; ++cx) {
      uint8_t alone[12], ay[4], acr, acb;
      for (uint32_t i = 0; i < 4; ++i)
        std::copy_n(&rgb[((2 * cy + i / 2) * w + 2 * cx + i % 2) * 3], 3, &alone[i * 3]);
      RgbToYuv(alone, 6, 3, 2, 2, false, false, ay, &acr, &acb);
      ASSERT_EQ(cr[cy * (w / 2) + cx], acr) << cx << "," << cy;
      ASSERT_EQ(cb[cy * (w / 2) + cx], acb) << cx << "," << cy;
      for (uint32_t i = 0; i < 4; ++i) ASSERT_EQ(y[(2 * cy + i / 2) * w + 2 * cx + i % 2], ay[i]) << cx << "," << cy;
    }
}

TEST(Colour, GreyKeepsTheBrightness) {
  const uint8_t rgb[] = {0, 0, 0, 255, 255, 255, 128, 128, 128, 255, 0, 0, 0, 255, 0, 0, 0, 255};
  uint8_t luma[6];
  RgbToYuv(rgb, 18, 3, 6, 1, false, true, luma, nullptr, nullptr);
  const int want[6] = {0, 255, 128, 76, 150, 29};  // 0.299, 0.587, 0.114 of full scale
  for (int i = 0; i < 6; ++i) EXPECT_LE(std::abs(int(PlayerGrey(luma[i])) - want[i]), 1) << i;
}

}  // namespace
}  // namespace kivo::encode
