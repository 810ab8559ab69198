// SPDX-License-Identifier: BSD-2-Clause
// The fast routines in plain C++: the lane arithmetic one pixel at a time,
// from the lane-repeated chroma tables. For processors without the vector
// units the other families need, and the reference those families meet.
#include <cstring>
#include <utility>

#include "convert/lane_kernels.h"

namespace kivo {
namespace {

int32_t LaneLuma(uint8_t y) {
  uint32_t s = y > 16 ? y - 16u : 0u;  // unsigned saturating subtract
  return static_cast<int32_t>(((s * 4) * 0x4A85u) >> 16);
}

// Signed saturating add of 0x7F00, then unsigned saturating subtract of
// it: holds a 16-bit lane to 0..255.
uint32_t Saturate(int32_t lane) {
  int32_t up = lane + 0x7F00;
  if (up > 0x7FFF) up = 0x7FFF;
  if (up < -0x8000) up = -0x8000;
  uint32_t u = static_cast<uint16_t>(up);
  return u > 0x7F00 ? u - 0x7F00 : 0;
}

int32_t LaneTerm(const ConversionTables& t, int table, uint8_t i) {
  return static_cast<int16_t>(static_cast<uint32_t>(t.lanes[table][i]) & 0xFFFFu);
}

uint32_t Field(uint32_t c, uint32_t width, uint32_t shift) { return width ? (c >> (8 - width)) << shift : 0; }

struct Channels {
  uint32_t r, g, b;
};

Channels Colour(const ConversionTables& t, uint8_t y, uint8_t cr, uint8_t cb) {
  int32_t l = LaneLuma(y);
  return {Saturate(l + LaneTerm(t, kCrToR, cr)),
          Saturate(l + LaneTerm(t, kCrToG, cr) + LaneTerm(t, kCbToG, cb)),
          Saturate(l + LaneTerm(t, kCbToB, cb))};
}

uint32_t Gray16(const PackLayout& l, uint8_t y) {
  uint32_t s = y > 16 ? y - 16u : 0u;
  uint32_t v = (s * l.grayFactor) >> 16;
  uint32_t top = 0x7FFFu - l.graySaturate;
  if (v > top) v = top;
  return (v * l.grayMultiplier) & 0xFFFFu;
}

uint32_t AlphaBits(int32_t kind, uint8_t a) {
  if (kind == kLane16Alpha4) return (a & 0xF0u) << 8;
  if (kind == kLane16Alpha1) return (a & 0x80u) << 8;
  return 0;
}

// One pixel; `odd` is its source x parity (the YUV layouts take V at odd x).
uint32_t Pixel(int32_t kind, bool gray, bool wide, const ConversionTables& t, uint8_t y, uint8_t cr, uint8_t cb,
               uint8_t a, uint32_t odd) {
  if (LaneIsYuv(kind)) {
    if (gray) cr = cb = 128;
    if (kind == kLaneYuy2)
      return wide ? y | cb << 8 | y << 16 | uint32_t(cr) << 24 : y | (odd ? cr : cb) << 8;
    return wide ? cb | y << 8 | cr << 16 | uint32_t(y) << 24 : (odd ? cr : cb) | y << 8;
  }
  Channels c;
  if (gray) {
    if (kind >= kLane16) return Gray16(t.pack.layout, y) | AlphaBits(kind, a);
    uint32_t g = Saturate(LaneLuma(y));
    c = {g, g, g};
  } else {
    c = Colour(t, y, cr, cb);
  }
  switch (kind) {
    case kLaneBgrx32: return c.r << 16 | c.g << 8 | c.b;
    case kLaneRgbx32: return c.b << 16 | c.g << 8 | c.r;
    case kLaneBgra32: return uint32_t(a) << 24 | c.r << 16 | c.g << 8 | c.b;
    case kLaneRgba32: return uint32_t(a) << 24 | c.b << 16 | c.g << 8 | c.r;
    case kLaneBgr24: return c.r << 16 | c.g << 8 | c.b;
    case kLaneRgb24: return c.b << 16 | c.g << 8 | c.r;
    default: {
      const PackLayout& l = t.pack.layout;
      return Field(c.r, l.redWidth, l.redShift) | Field(c.g, l.greenWidth, l.greenShift) |
             Field(c.b, l.blueWidth, l.blueShift) | AlphaBits(kind, a);
    }
  }
}

void StoreLittle(uint8_t* d, uint32_t v, uint32_t bytes) {
  for (uint32_t i = 0; i < bytes; ++i) d[i] = static_cast<uint8_t>(v >> (8 * i));
}

template <int32_t kKind, bool kGray, bool kWide>
void Kernel(const LaneJob& job) {
  constexpr uint32_t kBytes = LaneBytesPerPixel(kKind);
  const ConversionTables& t = *job.tables;
  for (int row = 0; row < 2; ++row) {
    const uint8_t* y = job.at->luma[row];
    const uint8_t* a = job.at->alpha[row];
    uint8_t* d = job.at->dest[row];
    for (uint32_t i = 0; i < job.pixels; ++i) {
      uint32_t c = (job.phase + i) >> 1;
      uint32_t v = Pixel(kKind, kGray, kWide, t, y[i], job.at->cr[c], job.at->cb[c], a ? a[i] : 0, (job.phase + i) & 1);
      if (kWide && LaneIsYuv(kKind)) {
        StoreLittle(d, v, 4);
        d += 4;
      } else {
        StoreLittle(d, v, kBytes);
        d += kBytes;
        if (kWide) {
          StoreLittle(d, v, kBytes);
          d += kBytes;
        }
      }
    }
  }
}

// A stretch of cells as the row-pair kernel converts it, pair by pair.
template <int32_t kKind, bool kGray>
void Stretch(const StretchJob& job) {
  for (uint32_t k = 0; k < job.pairs; ++k) {
    const ptrdiff_t row = 2 * ptrdiff_t(k);
    RowPointers at = {{job.luma + row * job.lumaPitch, job.luma + (row + 1) * job.lumaPitch},
                      job.cr + ptrdiff_t(k) * job.chromaPitch,
                      job.cb + ptrdiff_t(k) * job.chromaPitch,
                      {nullptr, nullptr},
                      {job.dest + row * job.destPitch, job.dest + (row + 1) * job.destPitch}};
    Kernel<kKind, kGray, false>({&at, job.pixels, 0, 0, &Tables()});
  }
}

template <int32_t kKind>
void FillKind(LaneKernels* k) {
  k->run[kKind][0][0] = Kernel<kKind, false, false>;
  k->run[kKind][0][1] = Kernel<kKind, false, true>;
  k->run[kKind][1][0] = Kernel<kKind, true, false>;
  k->run[kKind][1][1] = Kernel<kKind, true, true>;
}

template <int32_t... kKinds>
void FillKinds(LaneKernels* k, std::integer_sequence<int32_t, kKinds...>) {
  (FillKind<kKinds>(k), ...);
}

}  // namespace

void FillPlainLaneKernels(LaneKernels* k) {
  FillKinds(k, std::make_integer_sequence<int32_t, kLaneKinds>{});
  k->stretch[0][0] = Stretch<kLaneYuy2, false>;
  k->stretch[0][1] = Stretch<kLaneYuy2, true>;
  k->stretch[1][0] = Stretch<kLaneUyvy, false>;
  k->stretch[1][1] = Stretch<kLaneUyvy, true>;
}

}  // namespace kivo
