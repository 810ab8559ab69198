// SPDX-License-Identifier: BSD-2-Clause
// RGB to YUV by search around the linear inverse of the player's arithmetic.
#include "encode/colour_convert.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace kivo::encode {
namespace {

struct Tables {
  int32_t luma[256], crR[256], crG[256], cbG[256], cbB[256];
  Tables() {
    for (int32_t i = 0; i < 256; ++i) {
      luma[i] = std::clamp(i - 16, 0, 219) * 38154 / 32768;
      crR[i] = (i * 52299 - 6694272) / 32768;
      crG[i] = (128 - i) * 26639 / 32768;
      cbG[i] = (1643136 - i * 12837) / 32768;
      cbB[i] = (i * 66101 - 8460928) / 32768;
    }
  }
};

const Tables& T() {
  static const Tables tables;
  return tables;
}

uint8_t Clamp8(int32_t v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }
int32_t ClampSample(double v) { return std::clamp(static_cast<int32_t>(std::lround(v)), 0, 255); }

// The factors of the tables as real numbers.
constexpr int32_t kReach = 1;
constexpr double kY = 38154.0 / 32768, kR = 52299.0 / 32768, kGv = 26639.0 / 32768, kGu = 12837.0 / 32768,
                 kB = 66101.0 / 32768;

struct Target {
  int32_t r, g, b;
};

// Best luma for one pixel under fixed chroma; returns its squared error.
int32_t FitLuma(const Tables& k, const Target& t, int32_t u, int32_t v, uint8_t* y) {
  const int32_t cr = k.crR[v], cg = k.crG[v] + k.cbG[u], cb = k.cbB[u];
  // The luma term that is nearest all three channels, then the few samples
  // around its inverse (clamping makes the error curve flat at the ends).
  const double l = ((t.r - cr) + (t.g - cg) + (t.b - cb)) / 3.0;
  const int32_t centre = std::clamp(static_cast<int32_t>(l * (1 / kY) + 16.5), 0, 255);
  auto error = [&](int32_t c) {
    const int32_t lv = k.luma[c];
    const int32_t dr = Clamp8(lv + cr) - t.r, dg = Clamp8(lv + cg) - t.g, db = Clamp8(lv + cb) - t.b;
    return dr * dr + dg * dg + db * db;
  };
  int32_t best = INT32_MAX, pick = centre;
  for (int32_t c = std::max(centre - 1, 0); c <= std::min(centre + 1, 255); ++c) {
    const int32_t e = error(c);
    if (e < best) best = e, pick = c;
  }
  // Rounding or a clipped channel can pull the estimate off: walk on while
  // it gets better.
  const int32_t dir = pick == centre - 1 ? -1 : pick == centre + 1 ? 1 : 0;
  while (dir && pick + dir >= 0 && pick + dir <= 255) {
    const int32_t e = error(pick + dir);
    if (e >= best) break;
    best = e;
    pick += dir;
  }
  *y = static_cast<uint8_t>(pick);
  return best;
}

Target Read(const uint8_t* p, bool swap) { return swap ? Target{p[2], p[1], p[0]} : Target{p[0], p[1], p[2]}; }

}  // namespace

Rgb PlayerRgb(uint8_t y, uint8_t u, uint8_t v) {
  const Tables& k = T();
  const int32_t l = k.luma[y];
  return {Clamp8(l + k.crR[v]), Clamp8(l + k.crG[v] + k.cbG[u]), Clamp8(l + k.cbB[u])};
}

// The grey display shows the luma term alone.
uint8_t PlayerGrey(uint8_t y) { return static_cast<uint8_t>(T().luma[y]); }

void RgbToYuv(const uint8_t* rgb, uint32_t stride, uint32_t channels, uint32_t width, uint32_t height,
              bool swapRedBlue, bool grey, uint8_t* luma, uint8_t* cr, uint8_t* cb) {
  const Tables& k = T();
  if (grey || !cr || !cb) {
    for (uint32_t y = 0; y < height; ++y) {
      const uint8_t* row = rgb + size_t(y) * stride;
      for (uint32_t x = 0; x < width; ++x) {
        const Target t = Read(row + x * channels, swapRedBlue);
        const double level = 0.299 * t.r + 0.587 * t.g + 0.114 * t.b;
        const int32_t centre = ClampSample(level / kY + 16);
        int32_t best = INT32_MAX, pick = centre;
        for (int32_t c = std::max(centre - 2, 0); c <= std::min(centre + 2, 255); ++c) {
          const int32_t e = std::abs(k.luma[c] - static_cast<int32_t>(std::lround(level)));
          if (e < best) best = e, pick = c;
        }
        luma[size_t(y) * width + x] = static_cast<uint8_t>(pick);
      }
    }
    return;
  }
  const uint32_t chromaWidth = (width + 1) / 2;
  const double a = kGv / kR, b = kGu / kB;
  // Pictures repeat their squares (flat areas, unchanged parts): the search
  // result of a recent square of the same four colours is taken again.
  struct Remembered {
    uint8_t key[12];
    bool valid;
    uint8_t y[4], u, v;
  };
  std::vector<Remembered> recent(4096, Remembered{});
  for (uint32_t cy = 0; cy < (height + 1) / 2; ++cy) {
    for (uint32_t cx = 0; cx < chromaWidth; ++cx) {
      // The pixels of this chroma sample's square, cut at the edges.
      Target px[4];
      uint32_t at[4], n = 0;
      for (uint32_t dy = 0; dy < 2; ++dy)
        for (uint32_t dx = 0; dx < 2; ++dx) {
          const uint32_t x = 2 * cx + dx, y = 2 * cy + dy;
          if (x >= width || y >= height) continue;
          px[n] = Read(rgb + size_t(y) * stride + size_t(x) * channels, swapRedBlue);
          at[n++] = y * width + x;
        }
      uint8_t key[12] = {};
      Remembered* slot = nullptr;
      if (n == 4) {
        uint32_t hash = 2166136261u;
        for (uint32_t i = 0; i < 4; ++i) {
          key[3 * i] = uint8_t(px[i].r), key[3 * i + 1] = uint8_t(px[i].g), key[3 * i + 2] = uint8_t(px[i].b);
          for (uint32_t c = 0; c < 3; ++c) hash = (hash ^ key[3 * i + c]) * 16777619u;
        }
        slot = &recent[hash & 4095];
        if (slot->valid && memcmp(slot->key, key, 12) == 0) {
          for (uint32_t i = 0; i < 4; ++i) luma[at[i]] = slot->y[i];
          cr[size_t(cy) * chromaWidth + cx] = slot->v;
          cb[size_t(cy) * chromaWidth + cx] = slot->u;
          continue;
        }
      }
      // Linear inverse, averaged over the square.
      double su = 0, sv = 0;
      for (uint32_t i = 0; i < n; ++i) {
        const double l = (px[i].g + a * px[i].r + b * px[i].b) / (1 + a + b);
        sv += (px[i].r - l) / kR;
        su += (px[i].b - l) / kB;
      }
      int32_t uc = ClampSample(su / n + 128), vc = ClampSample(sv / n + 128);
      // The integer tables round toward zero, so the best pair may sit a step
      // or two away from the linear estimate; where a channel clips (colours
      // beyond what the player can show), further: the window then follows
      // the best pair while it lands on the window's edge.
      int64_t best = INT64_MAX;
      uint8_t bestY[4] = {}, bestU = uint8_t(uc), bestV = uint8_t(vc);
      // Pairs already tried: a moved window shares most of them.
      uint16_t tried[64];
      uint32_t triedCount = 0;
      for (int step = 0; step < 16; ++step) {
        bool edge = false;
        for (int32_t u = std::max(uc - kReach, 0); u <= std::min(uc + kReach, 255); ++u)
          for (int32_t v = std::max(vc - kReach, 0); v <= std::min(vc + kReach, 255); ++v) {
            const uint16_t pair = uint16_t(u << 8 | v);
            if (std::find(tried, tried + triedCount, pair) != tried + triedCount) continue;
            if (triedCount < 64) tried[triedCount++] = pair;
            uint8_t ys[4] = {};
            int64_t e = 0;
            for (uint32_t i = 0; i < n; ++i) e += FitLuma(k, px[i], u, v, &ys[i]);
            if (e < best) {
              best = e;
              bestU = uint8_t(u);
              bestV = uint8_t(v);
              std::copy(ys, ys + 4, bestY);
              edge = std::abs(u - uc) == kReach || std::abs(v - vc) == kReach;
            }
          }
        if (!edge || best == 0) break;
        uc = bestU;
        vc = bestV;
      }
      for (uint32_t i = 0; i < n; ++i) luma[at[i]] = bestY[i];
      if (slot) {
        memcpy(slot->key, key, 12);
        slot->valid = true;
        std::copy(bestY, bestY + 4, slot->y);
        slot->u = bestU;
        slot->v = bestV;
      }
      cr[size_t(cy) * chromaWidth + cx] = bestV;
      cb[size_t(cy) * chromaWidth + cx] = bestU;
    }
  }
}

}  // namespace kivo::encode
