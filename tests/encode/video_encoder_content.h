// SPDX-License-Identifier: BSD-2-Clause
// Synthetic moving pictures for the video encoder tests and benchmark:
// pans over texture, fades, noise, flat areas and text-like edges.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "encode/input_picture.h"

namespace kivo::encode::testing {

enum class Scene { kPan, kFade, kNoise, kFlat, kText, kMixed };

inline uint32_t Hash(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

// A smooth textured landscape with some fine detail, sampled at (x, y).
inline uint8_t Texture(int x, int y) {
  const double v = 128 + 60 * std::sin(x * 0.045) * std::cos(y * 0.031) + 30 * std::sin((x + 2 * y) * 0.13) +
                   double(Hash(uint32_t(x * 7919 + y * 104729)) % 9) - 4;
  return uint8_t(std::clamp(v, 0.0, 255.0));
}

inline uint8_t TextAt(int x, int y) {
  // Glyph-like strokes: 6x9 cells with a few on-strokes each.
  const int cx = x / 6, cy = y / 11, lx = x % 6, ly = y % 11;
  if (ly >= 9 || lx >= 5) return 235;
  const uint32_t h = Hash(uint32_t(cx * 31 + cy * 977));
  const bool stroke = (lx == 0 && (h & 1)) || (lx == 4 && (h & 2)) || (ly == 0 && (h & 4)) ||
                      (ly == 4 && (h & 8)) || (ly == 8 && (h & 16));
  return stroke ? 16 : 235;
}

inline SourcePicture MakePicture(Scene scene, uint32_t w, uint32_t h, uint32_t t, bool alpha = false) {
  SourcePicture p;
  p.width = w;
  p.height = h;
  const uint32_t cw = SourceChromaWidth(w), ch = SourceChromaHeight(h);
  p.luma.resize(size_t(w) * h);
  p.cr.resize(size_t(cw) * ch);
  p.cb.resize(size_t(cw) * ch);
  if (alpha) p.alpha.resize(size_t(w) * h);
  auto luma = [&](int x, int y) -> uint8_t {
    switch (scene) {
      case Scene::kPan: return Texture(x + int(3 * t), y + int(t));
      case Scene::kFade: return uint8_t(std::clamp(int(Texture(x, y)) * int(20 - std::min(t, 19u)) / 20, 0, 255));
      case Scene::kNoise: return uint8_t(Hash(uint32_t(x + y * 4096) ^ (t * 0x9e3779b9U)));
      case Scene::kFlat: return x < int(w / 2) ? 40 : (y < int(h / 2) ? 200 : uint8_t(100 + t));
      case Scene::kText: return TextAt(x + int(t), y);
      case Scene::kMixed:
        if (y < int(h / 3)) return TextAt(x, y + int(t));
        if (y < int(2 * h / 3)) return Texture(x - int(2 * t), y);
        return x < int(w / 2) ? 90 : uint8_t(Hash(uint32_t(x + y * 4096) ^ t));
    }
    return 0;
  };
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      p.luma[size_t(y) * w + x] = luma(int(x), int(y));
      if (alpha) {
        const int dx = int(x) - int(w / 2 + t), dy = int(y) - int(h / 2);
        const int d = int(std::sqrt(double(dx * dx + dy * dy)));
        p.alpha[size_t(y) * w + x] = uint8_t(std::clamp(255 - 8 * (d - int(h / 4)), 0, 255));
      }
    }
  for (uint32_t y = 0; y < ch; ++y)
    for (uint32_t x = 0; x < cw; ++x) {
      const uint8_t l = p.luma[size_t(std::min(2 * y, h - 1)) * w + std::min(2 * x, w - 1)];
      p.cr[size_t(y) * cw + x] = uint8_t(128 + (int(l) - 128) / 4 + int(x % 64) / 8);
      p.cb[size_t(y) * cw + x] = uint8_t(128 - (int(l) - 128) / 5 + int(y % 32) / 8);
    }
  return p;
}

}  // namespace kivo::encode::testing
