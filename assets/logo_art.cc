// SPDX-License-Identifier: BSD-2-Clause
// The logo: a framed play sign over the name, in flat colours so that most
// blocks are fills; the demo: the same name with a ball that crosses the
// picture, a frame counter and a progress bar, so that only a few blocks
// change from frame to frame.
#include "assets/logo_art.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "encode/container_writer.h"
#include "encode/video_writer.h"
#include "player/text_font.h"

namespace kivo::logo {

namespace {

constexpr uint32_t kNight = 0x141C46;   // background
constexpr uint32_t kScreen = 0x283C82;  // inside the frame
constexpr uint32_t kGold = 0xFAC828;
constexpr uint32_t kWhite = 0xF0F0F0;
constexpr uint32_t kRed = 0xE03C28;

Picture Blank(uint32_t width, uint32_t height, uint32_t colour) {
  Picture p;
  p.width = width;
  p.height = height;
  p.pixels.assign(size_t(width) * height, colour);
  return p;
}

void FillRect(Picture& p, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t colour) {
  for (int32_t y = y0; y < y1; ++y)
    for (int32_t x = x0; x < x1; ++x)
      if (x >= 0 && y >= 0 && uint32_t(x) < p.width && uint32_t(y) < p.height) p.pixels[size_t(y) * p.width + x] = colour;
}

// A rectangle with corners cut round to `radius`.
void FillRoundRect(Picture& p, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t radius, uint32_t colour) {
  for (int32_t y = y0; y < y1; ++y) {
    for (int32_t x = x0; x < x1; ++x) {
      const int32_t cx = x < x0 + radius ? x0 + radius : (x >= x1 - radius ? x1 - radius - 1 : x);
      const int32_t cy = y < y0 + radius ? y0 + radius : (y >= y1 - radius ? y1 - radius - 1 : y);
      const int32_t dx = x - cx, dy = y - cy;
      if (dx * dx + dy * dy > radius * radius) continue;
      if (x >= 0 && y >= 0 && uint32_t(x) < p.width && uint32_t(y) < p.height) p.pixels[size_t(y) * p.width + x] = colour;
    }
  }
}

void FillDisc(Picture& p, int32_t cx, int32_t cy, int32_t r, uint32_t colour) {
  FillRoundRect(p, cx - r, cy - r, cx + r + 1, cy + r + 1, r, colour);
}

// A play sign: a triangle pointing right, its left edge at x0.
void FillPlaySign(Picture& p, int32_t x0, int32_t cy, int32_t halfHeight, uint32_t colour) {
  for (int32_t dy = -halfHeight; dy <= halfHeight; ++dy) {
    const int32_t len = (halfHeight - (dy < 0 ? -dy : dy)) * 7 / 4;
    FillRect(p, x0, cy + dy, x0 + len + 1, cy + dy + 1, colour);
  }
}

void Text(Picture& p, const char* text, int32_t y, int32_t scale, uint32_t colour) {
  const uint32_t n = uint32_t(strlen(text));
  int32_t w = 0, h = 0;
  MeasureBitmapText(n, scale, &w, &h);
  w -= scale;  // no blank column after the last glyph
  DrawBitmapText(p.pixels.data(), int32_t(p.width), int32_t(p.width), int32_t(p.height),
                 (int32_t(p.width) - w) / 2, y, text, n, scale, colour);
}

// ---- Encoding -----------------------------------------------------------------

struct Planes {
  uint32_t lumaWidth, lumaHeight, chromaWidth, chromaHeight;
  std::vector<uint8_t> y, u, v;
};

uint8_t Clamp(int32_t v) { return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v)); }

Planes ToPlanes(const Picture& p) {
  Planes out;
  out.lumaWidth = encode::LumaAreaWidth(p.width);
  out.lumaHeight = encode::LumaAreaHeight(p.height);
  out.chromaWidth = encode::ChromaAreaWidth(p.width);
  out.chromaHeight = encode::ChromaAreaHeight(p.height);
  out.y.assign(size_t(out.lumaWidth) * out.lumaHeight, 16);
  out.u.assign(size_t(out.chromaWidth) * out.chromaHeight, 128);
  out.v.assign(size_t(out.chromaWidth) * out.chromaHeight, 128);
  // Samples beyond the picture repeat its last column and row.
  auto at = [&](uint32_t x, uint32_t y) {
    if (x >= p.width) x = p.width - 1;
    if (y >= p.height) y = p.height - 1;
    return p.pixels[size_t(y) * p.width + x];
  };
  for (uint32_t y = 0; y < out.lumaHeight; ++y)
    for (uint32_t x = 0; x < out.lumaWidth; ++x) {
      uint8_t l, u, v;
      RgbToYuv(at(x, y), &l, &u, &v);
      out.y[size_t(y) * out.lumaWidth + x] = l;
    }
  for (uint32_t y = 0; y < out.chromaHeight; ++y)
    for (uint32_t x = 0; x < out.chromaWidth; ++x) {
      int32_t su = 0, sv = 0;
      for (uint32_t k = 0; k < 4; ++k) {
        uint8_t l, u, v;
        RgbToYuv(at(2 * x + (k & 1), 2 * y + (k >> 1)), &l, &u, &v);
        su += u;
        sv += v;
      }
      out.u[size_t(y) * out.chromaWidth + x] = uint8_t((su + 2) / 4);
      out.v[size_t(y) * out.chromaWidth + x] = uint8_t((sv + 2) / 4);
    }
  return out;
}

// One plane as block descriptions; `previous` (or null for a key frame)
// lets equal blocks stay unchanged.
void DescribePlane(encode::PlaneSpec& plane, const std::vector<uint8_t>& samples, const std::vector<uint8_t>* previous,
                   uint32_t width, uint32_t height) {
  encode::InitPlane(plane, width, height);
  for (uint32_t row = 0; row < height / 8; ++row) {
    for (uint32_t column = 0; column < width / 8; ++column) {
      uint8_t block[64];
      bool same = previous != nullptr;
      for (uint32_t r = 0; r < 8; ++r)
        for (uint32_t c = 0; c < 8; ++c) {
          const size_t at = size_t(row * 8 + r) * width + column * 8 + c;
          block[r * 8 + c] = samples[at];
          if (previous && (*previous)[at] != samples[at]) same = false;
        }
      encode::BlockSpec& b = encode::BlockAt(plane, column, row);
      if (same) {
        b.type = encode::kUnchanged;
        continue;
      }
      int distinct = 1;
      uint8_t second = block[0];
      for (int i = 1; i < 64 && distinct < 3; ++i) {
        if (block[i] == block[0] || (distinct == 2 && block[i] == second)) continue;
        if (distinct == 1) second = block[i];
        ++distinct;
      }
      if (distinct == 1) {
        b.type = encode::kFill;
        b.pixels[0] = block[0];
      } else if (distinct == 2) {
        b.type = encode::kTwoColour;
        encode::FitTwoColour(block, b);
      } else {
        b.type = encode::kRaw;
        memcpy(b.pixels, block, 64);
      }
    }
  }
}

}  // namespace

void RgbToYuv(uint32_t rgb, uint8_t* y, uint8_t* u, uint8_t* v) {
  const int32_t r = int32_t((rgb >> 16) & 255), g = int32_t((rgb >> 8) & 255), b = int32_t(rgb & 255);
  *y = Clamp(16 + ((66 * r + 129 * g + 25 * b + 128) >> 8));
  *u = Clamp(128 + ((-38 * r - 74 * g + 112 * b + 128) >> 8));
  *v = Clamp(128 + ((112 * r - 94 * g - 18 * b + 128) >> 8));
}

Picture DrawLogo() {
  Picture p = Blank(kLogoWidth, kLogoHeight, kNight);
  FillRoundRect(p, 32, 20, 192, 132, 12, kGold);
  FillRoundRect(p, 38, 26, 186, 126, 8, kScreen);
  FillPlaySign(p, 92, 76, 30, kGold);
  Text(p, "KIVO", 146, 6, kWhite);
  Text(p, "PLAYER", 212, 2, kGold);
  Text(p, "V 1.5a", 236, 1, kWhite);
  return p;
}

Picture DrawDemoFrame(uint32_t index) {
  Picture p = Blank(kDemoWidth, kDemoHeight, kNight);
  FillRoundRect(p, 40, 40, 280, 150, 12, kGold);
  FillRoundRect(p, 46, 46, 274, 144, 8, kScreen);
  Text(p, "KIVO", 66, 6, kWhite);
  // The ball goes across and back once over the movie.
  const uint32_t half = kDemoFrames / 2;
  const uint32_t step = index < half ? index : kDemoFrames - 1 - index;
  const int32_t x = 24 + int32_t(step * (kDemoWidth - 48) / (half - 1));
  FillDisc(p, x, 176, 12, kRed);
  char counter[16];
  snprintf(counter, sizeof counter, "FRAME %u", index + 1);
  Text(p, counter, 196, 2, kWhite);
  FillRect(p, 0, 228, int32_t((index + 1) * kDemoWidth / kDemoFrames), 240, kGold);
  return p;
}

std::vector<uint8_t> EncodeMovie(const std::vector<Picture>& frames, uint32_t rateNum, uint32_t rateDen) {
  if (frames.empty()) throw std::runtime_error("a movie needs a frame");
  encode::MovieLayout layout;
  layout.revision = 'i';
  layout.width = frames[0].width;
  layout.height = frames[0].height;
  layout.rateNum = rateNum;
  layout.rateDen = rateDen;
  std::vector<encode::FramePacket> packets(frames.size());
  Planes previous;
  for (size_t i = 0; i < frames.size(); ++i) {
    const Planes planes = ToPlanes(frames[i]);
    const bool key = i == 0;
    encode::PlaneSpec luma, v, u;
    DescribePlane(luma, planes.y, key ? nullptr : &previous.y, planes.lumaWidth, planes.lumaHeight);
    DescribePlane(v, planes.v, key ? nullptr : &previous.v, planes.chromaWidth, planes.chromaHeight);
    DescribePlane(u, planes.u, key ? nullptr : &previous.u, planes.chromaWidth, planes.chromaHeight);
    encode::FrameSpec frame;
    frame.revision = layout.revision;
    frame.luma = &luma;
    frame.chroma[0] = &v;  // the red difference comes first in the stream
    frame.chroma[1] = &u;
    std::string error;
    packets[i].key = key;
    if (!encode::WriteVideoFrame(frame, packets[i].video, &error))
      throw std::runtime_error("frame " + std::to_string(i + 1) + ": " + error);
    previous = planes;
  }
  return encode::BuildMovie(layout, packets);
}

std::vector<uint8_t> BuildLogoMovie() { return EncodeMovie({DrawLogo()}, kLogoRate, 1); }

std::vector<uint8_t> BuildDemoMovie() {
  std::vector<Picture> frames;
  for (uint32_t i = 0; i < kDemoFrames; ++i) frames.push_back(DrawDemoFrame(i));
  return EncodeMovie(frames, kDemoRate, 1);
}

}  // namespace kivo::logo
