// SPDX-License-Identifier: BSD-2-Clause
// The models of the converters' output.
#include "convert/model.h"

#include <algorithm>
#include <cstddef>

namespace kivo::test {
namespace {

int Clamp(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }
// C++ division rounds toward zero, as the formulas ask.
int CrR(int v) { return (v * 52299 - 6694272) / 32768; }
int CrG(int v) { return (128 - v) * 26639 / 32768; }
int CbG(int u) { return (1643136 - u * 12837) / 32768; }
int CbB(int u) { return (u * 66101 - 8460928) / 32768; }

int TableLuma(int y) { return std::clamp(y - 16, 0, 219) * 38154 / 32768; }
int LaneLuma(int y) { return ((std::max(y - 16, 0) * 4) * 0x4A85) >> 16; }

struct Layout16 {
  int rw, rs, gw, gs, bw, bs;
  uint32_t multiplier, factor, saturate;
};

Layout16 LayoutOf(int code) {
  switch (code) {
    case 7: return {4, 8, 4, 4, 4, 0, 0x0111, 0x12A1, 0x7FF0};
    case 8:
    case 9: return {5, 10, 5, 5, 5, 0, 0x0421, 0x2542, 0x7FE0};
    case 10: return {5, 11, 6, 5, 5, 0, 0x0841, 0x2542, 0x7FE0};
    case 11: return {5, 11, 5, 6, 6, 0, 0x0842, 0x2542, 0x7FE0};
    default: return {4, 12, 6, 6, 6, 0, 0x1104, 0x12A1, 0x7FF0};
  }
}

uint32_t Pack16(int code, Rgb c) {
  Layout16 l = LayoutOf(code);
  return uint32_t(c.r >> (8 - l.rw)) << l.rs | uint32_t(c.g >> (8 - l.gw)) << l.gs | uint32_t(c.b >> (8 - l.bw)) << l.bs;
}

uint32_t Alpha16(int code, bool hasAlpha, int a) {
  if (!hasAlpha) return 0;
  if (code == 7) return uint32_t(a >> 4) << 12;
  if (code == 8) return uint32_t(a >> 7) << 15;
  return 0;
}

}  // namespace

Rgb TableColour(int y, int u, int v) {
  int l = TableLuma(y);
  return {Clamp(l + CrR(v)), Clamp(l + CrG(v) + CbG(u)), Clamp(l + CbB(u))};
}

Rgb LaneColour(int y, int u, int v) {
  int l = LaneLuma(y);
  return {Clamp(l + CrR(v)), Clamp(l + CrG(v) + CbG(u)), Clamp(l + CbB(u))};
}

int TableGray(int y) { return y <= 16 ? 0 : y >= 235 ? 255 : 255 * (y - 16) / 219; }
int LaneGray(int y) { return Clamp(LaneLuma(y)); }

uint32_t LaneGray16(int code, int y) {
  Layout16 l = LayoutOf(code);
  uint32_t v = (uint32_t(std::max(y - 16, 0)) * l.factor) >> 16;
  v = std::min(v, 0x7FFFu - l.saturate);
  return (v * l.multiplier) & 0xFFFF;
}

uint32_t BytesPerPixel(int code) {
  if (code == 1 || code == 2) return 3;
  if (code >= 3 && code <= 6) return 4;
  return code == 15 ? 1 : 2;
}

uint32_t FastGranularity(int code, bool gray) { return gray || code == 13 || code == 14 ? 3 : 2; }

std::vector<uint8_t> PixelBytes(int code, Family family, bool gray, bool wide, bool hasAlpha, bool exchange, int y,
                                int u, int v, int a, int parity) {
  std::vector<uint8_t> out;
  auto word = [&](uint32_t w, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(w >> (8 * i)));
  };
  if (code == 13 || code == 14) {
    if (exchange) std::swap(u, v);
    if (gray) u = v = 128;
    auto pairBytes = [&](int c) { return code == 13 ? uint32_t(y) | uint32_t(c) << 8 : uint32_t(c) | uint32_t(y) << 8; };
    if (wide)
      word(pairBytes(u) | pairBytes(v) << 16, 4);
    else
      word(pairBytes(parity ? v : u), 2);
    return out;
  }
  Rgb c;
  if (gray) {
    int g = family == Family::Table ? TableGray(y) : LaneGray(y);
    c = {g, g, g};
  } else {
    c = family == Family::Table ? TableColour(y, u, v) : LaneColour(y, u, v);
    if (exchange) std::swap(c.r, c.b);
  }
  int alpha = hasAlpha ? a : 0;
  switch (code) {
    case 1: out = {uint8_t(c.b), uint8_t(c.g), uint8_t(c.r)}; break;
    case 2: out = {uint8_t(c.r), uint8_t(c.g), uint8_t(c.b)}; break;
    case 3: out = {uint8_t(c.b), uint8_t(c.g), uint8_t(c.r), 0}; break;
    case 4: out = {uint8_t(c.r), uint8_t(c.g), uint8_t(c.b), 0}; break;
    case 5: out = {uint8_t(c.b), uint8_t(c.g), uint8_t(c.r), uint8_t(alpha)}; break;
    case 6: out = {uint8_t(c.r), uint8_t(c.g), uint8_t(c.b), uint8_t(alpha)}; break;
    default: {
      uint32_t w = gray && family == Family::Lane ? LaneGray16(code, y) : Pack16(code, c);
      word(w | Alpha16(code, hasAlpha, a), 2);
    }
  }
  if (wide) out.insert(out.end(), out.begin(), out.end());
  return out;
}

Planes RandomPlanes(std::mt19937& rng, uint32_t width, uint32_t height, bool alpha, uint32_t maxY) {
  Planes p;
  p.width = width;
  p.height = height;
  p.pitch = 2 * ((((width + 1) >> 1) + 7) & ~7u);
  p.rows = 2 * ((((height + 1) >> 1) + 7) & ~7u);
  p.block.resize(size_t(p.pitch) * p.rows + 2 * size_t(p.pitch / 2) * (p.rows / 2));
  std::uniform_int_distribution<int> byte(0, 255), luma(0, int(maxY));
  for (size_t i = 0; i < size_t(p.pitch) * p.rows; ++i) p.block[i] = uint8_t(luma(rng));
  for (size_t i = size_t(p.pitch) * p.rows; i < p.block.size(); ++i) p.block[i] = uint8_t(byte(rng));
  if (alpha) {
    p.alpha.resize(size_t(p.pitch) * p.rows);
    for (auto& s : p.alpha) s = uint8_t(byte(rng));
  }
  return p;
}

Planes FlatPlanes(uint32_t width, uint32_t height, uint8_t y, uint8_t u, uint8_t v, bool alpha, uint8_t a) {
  std::mt19937 rng(1);
  Planes p = RandomPlanes(rng, width, height, alpha);
  std::fill(p.block.begin(), p.block.begin() + size_t(p.pitch) * p.rows, y);
  std::fill(p.chroma1(), p.chroma2(), v);
  std::fill(p.chroma2(), p.block.data() + p.block.size(), u);
  std::fill(p.alpha.begin(), p.alpha.end(), a);
  return p;
}

namespace {

struct Rect {
  uint32_t x, y, w, h;
};

// The areas a conversion walks, in the rows the option converts. Changed
// cells go in pairs while a stretch's start would move the fast routines'
// groups (`anyWay` false); else bands with at least half their cells
// changed (fast) or all of them (plain) whole, the others in stretches of changed cells with gaps of up to
// three (packed YUV, fast) or no (the rest) unchanged ones.
std::vector<Rect> Areas(const Job& job, uint32_t sy0, uint32_t w, uint32_t h, bool anyWay) {
  if (!job.map) return {{job.sx, sy0, w, h}};
  std::vector<Rect> out;
  bool half = job.option == 6;
  uint32_t cells = w / 16;
  uint32_t join = job.fast && (job.code == 13 || job.code == 14) ? 3 : 0;
  for (uint32_t band = 0; band < h / 16; ++band) {
    auto changed = [&](uint32_t i) {
      uint32_t row = half ? 2 * band : band;
      return job.map[row * job.mapRow + i] != 0 || (half && job.map[(row + 1) * job.mapRow + i] != 0);
    };
    if (!anyWay) {
      for (uint32_t c = 0; c < cells; c += 2) {
        bool left = changed(c), right = c + 1 < cells && changed(c + 1);
        if (left && right)
          out.push_back({16 * c, 16 * band, 32, 16});
        else if (left)
          out.push_back({16 * c, 16 * band, 16, 16});
        else if (right)
          out.push_back({16 * c + 16, 16 * band, 16, 16});
      }
      continue;
    }
    uint32_t count = 0;
    for (uint32_t i = 0; i < cells; ++i) count += changed(i) ? 1 : 0;
    if (count > 0 && (job.fast ? 2 * count >= cells : count == cells)) {
      out.push_back({0, 16 * band, 16 * cells, 16});
      continue;
    }
    for (uint32_t c = 0; c < cells;) {
      if (!changed(c)) {
        ++c;
        continue;
      }
      uint32_t end = c + 1;
      for (uint32_t i = end; i < cells && i - end <= join; ++i)
        if (changed(i)) end = i + 1;
      out.push_back({16 * c, 16 * band, 16 * (end - c), 16});
      c = end;
    }
  }
  if (cells * 16 < w) out.push_back({cells * 16, 0, w - cells * 16, h});
  if ((h / 16) * 16 < h) out.push_back({0, (h / 16) * 16, w, h - (h / 16) * 16});
  return out;
}

}  // namespace

void ApplyModel(const Job& job, const Planes& p, std::vector<uint8_t>& dest, size_t originOffset) {
  if (job.code == 0 || job.code > 14) return;
  uint32_t o = job.option;
  bool wide = o == 3 || o == 4 || o == 5;
  bool tall = o == 1 || o == 4;
  bool half = o == 6;
  uint32_t rowStep = (o == 1 || o == 2 || o == 4 || o == 5 || o == 6) ? 2 : 1;
  uint32_t bpp = BytesPerPixel(job.code);
  uint32_t wx = wide ? 2 : 1;
  bool alphaMember = job.hasAlpha && job.code >= 5 && job.code <= 8;
  uint32_t w = job.map || !job.width ? p.width : job.width;
  uint32_t h = job.map || !job.height ? p.height : job.height;
  if (half) h /= 2;
  uint32_t sx0 = job.map ? 0 : job.sx;
  uint32_t sy0 = job.map ? 0 : half ? job.sy / 2 : job.sy;
  // Where a leading count of (-x) & 3 pixels starts: from a 4-byte
  // aligned address, counting 2- and 3-byte pixels.
  uint32_t misalign = job.address & 3, back = 0;
  if (bpp == 2 && misalign == 2) back = 1;
  if (bpp == 3 && misalign) back = 4 - misalign;
  uint32_t groupSize = 1u << job.fastGranularity;
  bool anyWay = !job.fast || ((job.x + back) & 3) == 0;
  for (const Rect& r : Areas(job, sy0, w, h, anyWay)) {
    uint32_t lead = std::min((0u - (job.x + back + (r.x - sx0) * wx)) & 3, r.w);
    uint32_t groups = (r.w - lead) / groupSize;
    for (uint32_t row = r.y; row < r.y + r.h; ++row) {
      // A row converts alone when it is odd and first, or left over at the end.
      bool alone = ((row & 1) && row == r.y) || ((row - r.y - ((r.y & 1) ? 1 : 0)) % 2 == 0 && row + 1 == r.y + r.h);
      uint32_t lumaRow = half ? 2 * row : row;
      uint32_t chromaRow = half ? 2 * (row >> 1) : row >> 1;
      for (uint32_t col = r.x; col < r.x + r.w; ++col) {
        bool inGroup = !alone && col >= r.x + lead && col < r.x + lead + groups * groupSize;
        Family f = job.fast && inGroup ? Family::Lane : Family::Table;
        int y = p.luma()[size_t(lumaRow) * p.pitch + col];
        int v = p.chroma1()[size_t(chromaRow) * (p.pitch / 2) + col / 2];
        int u = p.chroma2()[size_t(chromaRow) * (p.pitch / 2) + col / 2];
        int a = alphaMember ? p.alpha[size_t(lumaRow) * p.pitch + col] : 0;
        std::vector<uint8_t> bytes = PixelBytes(job.code, f, job.gray, wide, alphaMember, job.exchange, y, u, v, a, col & 1);
        for (uint32_t copy = 0; copy < (tall ? 2u : 1u); ++copy) {
          ptrdiff_t at = ptrdiff_t(originOffset) + (ptrdiff_t(row - sy0) * rowStep + copy) * job.pitch +
                         ptrdiff_t(job.y) * job.pitch + ptrdiff_t(job.x + (col - sx0) * wx) * bpp;
          std::copy(bytes.begin(), bytes.end(), dest.begin() + at);
        }
      }
    }
  }
}

}  // namespace kivo::test
