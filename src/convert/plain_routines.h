// SPDX-License-Identifier: BSD-2-Clause
// The plain-integer routines of the converter family: one pixel packer per
// layout (table lookups and ORs only) and the pixel, row and group routines
// built on it for every width and height variant.
#pragma once

#include <cstdint>
#include <cstring>

#include "convert/conversion_tables.h"
#include "convert/walk.h"

namespace kivo::plain {

// The three chroma terms of one chroma sample: every pixel of its 2x2
// block adds them to its own luma.
struct RgbTerms {
  int32_t r = 0, g = 0, b = 0;
};

inline RgbTerms TermsOf(const ConversionTables& t, uint8_t cr, uint8_t cb) {
  return {t.chroma[kCrToR][cr], t.chroma[kCrToG][cr] + t.chroma[kCbToG][cb], t.chroma[kCbToB][cb]};
}

struct RawChroma {
  uint8_t cr = 128, cb = 128;
};

inline void StoreBytes(uint8_t* d, uint32_t v, uint32_t bytes) {
  if (bytes == 4) {
    std::memcpy(d, &v, 4);  // the pixel words are little-endian on every target
  } else if (bytes == 2) {
    uint16_t w = static_cast<uint16_t>(v);
    std::memcpy(d, &w, 2);
  } else {
    d[0] = static_cast<uint8_t>(v);
    d[1] = static_cast<uint8_t>(v >> 8);
    d[2] = static_cast<uint8_t>(v >> 16);
  }
}

// Packers: Colour and Gray give one pixel; the Twice forms give what a 2x
// width routine stores for it (the same pixel twice), stored by StoreTwice.

template <bool kRgbOrder, bool kAlpha>
struct Pack32 {
  static constexpr uint32_t kBytes = 4;
  static constexpr bool kHasAlpha = kAlpha;
  using Chroma = RgbTerms;
  static Chroma ChromaOf(const ConversionTables& t, uint8_t cr, uint8_t cb) { return TermsOf(t, cr, cb); }
  static uint32_t Colour(const ConversionTables& t, uint8_t y, const Chroma& c, uint8_t a, uint32_t) {
    const int32_t* lp = t.lumaPointer[y];
    uint32_t r = static_cast<uint32_t>(lp[c.r]), g = static_cast<uint32_t>(lp[c.g]), b = static_cast<uint32_t>(lp[c.b]);
    uint32_t v = kRgbOrder ? b << 16 | g << 8 | r : r << 16 | g << 8 | b;
    return kAlpha ? v | uint32_t(a) << 24 : v;
  }
  static uint32_t Gray(const ConversionTables& t, uint8_t y, uint8_t a, uint32_t) {
    return kAlpha ? t.gray24[y] | uint32_t(a) << 24 : t.gray24[y];
  }
  static uint32_t ColourTwice(const ConversionTables& t, uint8_t y, const Chroma& c, uint8_t a) {
    return Colour(t, y, c, a, 0);
  }
  static uint32_t GrayTwice(const ConversionTables& t, uint8_t y, uint8_t a) { return Gray(t, y, a, 0); }
  static void Store(uint8_t* d, uint32_t v) { StoreBytes(d, v, 4); }
  static void StoreTwice(uint8_t* d, uint32_t v) {
    StoreBytes(d, v, 4);
    StoreBytes(d + 4, v, 4);
  }
};

template <bool kRgbOrder>
struct Pack24 {
  static constexpr uint32_t kBytes = 3;
  static constexpr bool kHasAlpha = false;
  using Chroma = RgbTerms;
  static Chroma ChromaOf(const ConversionTables& t, uint8_t cr, uint8_t cb) { return TermsOf(t, cr, cb); }
  static uint32_t Colour(const ConversionTables& t, uint8_t y, const Chroma& c, uint8_t, uint32_t) {
    const int32_t* lp = t.lumaPointer[y];
    uint32_t r = static_cast<uint32_t>(lp[c.r]), g = static_cast<uint32_t>(lp[c.g]), b = static_cast<uint32_t>(lp[c.b]);
    return kRgbOrder ? b << 16 | g << 8 | r : r << 16 | g << 8 | b;
  }
  static uint32_t Gray(const ConversionTables& t, uint8_t y, uint8_t, uint32_t) { return t.gray24[y]; }
  static uint32_t ColourTwice(const ConversionTables& t, uint8_t y, const Chroma& c, uint8_t a) {
    return Colour(t, y, c, a, 0);
  }
  static uint32_t GrayTwice(const ConversionTables& t, uint8_t y, uint8_t a) { return Gray(t, y, a, 0); }
  static void Store(uint8_t* d, uint32_t v) { StoreBytes(d, v, 3); }
  static void StoreTwice(uint8_t* d, uint32_t v) {
    StoreBytes(d, v, 3);
    StoreBytes(d + 3, v, 3);
  }
};

// Alpha in a 16-bit word: none, four bits (15..12) or one (bit 15).
enum Alpha16 { kNoAlpha16, kAlpha4, kAlpha1 };

template <Alpha16 kAlphaKind>
struct Pack16 {
  static constexpr uint32_t kBytes = 2;
  static constexpr bool kHasAlpha = kAlphaKind != kNoAlpha16;
  using Chroma = RgbTerms;
  static Chroma ChromaOf(const ConversionTables& t, uint8_t cr, uint8_t cb) { return TermsOf(t, cr, cb); }
  static uint32_t AlphaBits(const PackTables& p, uint8_t a) {
    if (kAlphaKind == kAlpha4) return p.alpha4[a];
    if (kAlphaKind == kAlpha1) return (a & 0x80u) << 8;
    return 0;
  }
  static uint32_t Colour(const ConversionTables& t, uint8_t y, const Chroma& c, uint8_t a, uint32_t) {
    const PackTables& p = t.pack;
    int32_t l = kClampBias + t.luma[y];
    return p.red[l + c.r] | p.green[l + c.g] | p.blue[l + c.b] | AlphaBits(p, a);
  }
  static uint32_t Gray(const ConversionTables& t, uint8_t y, uint8_t a, uint32_t) {
    return t.pack.gray[y] | AlphaBits(t.pack, a);
  }
  static uint32_t ColourTwice(const ConversionTables& t, uint8_t y, const Chroma& c, uint8_t a) {
    const PackTables& p = t.pack;
    int32_t l = kClampBias + t.luma[y];
    return p.redTwice[l + c.r] | p.greenTwice[l + c.g] | p.blueTwice[l + c.b] | AlphaBits(p, a) * 0x10001u;
  }
  static uint32_t GrayTwice(const ConversionTables& t, uint8_t y, uint8_t a) {
    return t.pack.grayTwice[y] | AlphaBits(t.pack, a) * 0x10001u;
  }
  static void Store(uint8_t* d, uint32_t v) { StoreBytes(d, v, 2); }
  static void StoreTwice(uint8_t* d, uint32_t v) { StoreBytes(d, v, 4); }
};

// Packed YUV: samples as decoded. A pixel at even source x carries U, at
// odd x V; written twice, a pixel is a whole pair with its own U and V.
template <bool kUyvy>
struct PackYuv {
  static constexpr uint32_t kBytes = 2;
  static constexpr bool kHasAlpha = false;
  using Chroma = RawChroma;
  static Chroma ChromaOf(const ConversionTables&, uint8_t cr, uint8_t cb) { return {cr, cb}; }
  static uint32_t Pair(uint8_t y, uint8_t c) { return kUyvy ? c | uint32_t(y) << 8 : y | uint32_t(c) << 8; }
  static uint32_t Colour(const ConversionTables&, uint8_t y, const Chroma& c, uint8_t, uint32_t odd) {
    return Pair(y, odd ? c.cr : c.cb);
  }
  static uint32_t Gray(const ConversionTables&, uint8_t y, uint8_t, uint32_t) { return Pair(y, 128); }
  static uint32_t ColourTwice(const ConversionTables&, uint8_t y, const Chroma& c, uint8_t) {
    return Pair(y, c.cb) | Pair(y, c.cr) << 16;
  }
  static uint32_t GrayTwice(const ConversionTables&, uint8_t y, uint8_t) { return Pair(y, 128) * 0x10001u; }
  static void Store(uint8_t* d, uint32_t v) { StoreBytes(d, v, 2); }
  static void StoreTwice(uint8_t* d, uint32_t v) { StoreBytes(d, v, 4); }
};

// One pixel of a routine: the packer's value, once or twice side by side,
// into its row and (2x height) into the row below as well.
template <class P, bool kGray, bool kWide, bool kTall>
inline void Put(uint8_t* d, ptrdiff_t below, const ConversionTables& t, uint8_t y, const typename P::Chroma& c,
                uint8_t a, uint32_t odd) {
  uint32_t v;
  if constexpr (kWide) {
    v = kGray ? P::GrayTwice(t, y, a) : P::ColourTwice(t, y, c, a);
    P::StoreTwice(d, v);
    if (kTall) P::StoreTwice(d + below, v);
  } else {
    v = kGray ? P::Gray(t, y, a, odd) : P::Colour(t, y, c, a, odd);
    P::Store(d, v);
    if (kTall) P::Store(d + below, v);
  }
}

template <class P, bool kWide>
constexpr uint32_t kStep = P::kBytes * (kWide ? 2 : 1);

template <class P, bool kGray>
inline typename P::Chroma ChromaAt(const ConversionTables& t, const uint8_t* cr, const uint8_t* cb, uint32_t i) {
  if constexpr (kGray) return {};
  return P::ChromaOf(t, cr[i], cb[i]);
}

template <class P, bool kGray, bool kWide, bool kTall>
void PixelRoutine(WalkState* s, uint32_t n) {
  const ConversionTables& t = *s->tables;
  for (; n; --n) {
    typename P::Chroma c = ChromaAt<P, kGray>(t, s->at.cr, s->at.cb, 0);
    uint32_t odd = s->x & 1;
    for (int row = 0; row < 2; ++row) {
      uint8_t a = 0;
      if constexpr (P::kHasAlpha) a = *s->at.alpha[row]++;
      Put<P, kGray, kWide, kTall>(s->at.dest[row], s->below, t, *s->at.luma[row]++, c, a, odd);
      s->at.dest[row] += kStep<P, kWide>;
    }
    if ((++s->x & 1) == 0) {
      ++s->at.cr;
      ++s->at.cb;
    }
  }
}

template <class P, bool kGray, bool kWide, bool kTall>
void RowRoutine(WalkState* s, uint32_t n) {
  const ConversionTables& t = *s->tables;
  for (; n; --n) {
    typename P::Chroma c = ChromaAt<P, kGray>(t, s->at.cr, s->at.cb, 0);
    uint8_t a = 0;
    if constexpr (P::kHasAlpha) a = *s->at.alpha[0]++;
    Put<P, kGray, kWide, kTall>(s->at.dest[0], s->below, t, *s->at.luma[0]++, c, a, s->x & 1);
    s->at.dest[0] += kStep<P, kWide>;
    if ((++s->x & 1) == 0) {
      ++s->at.cr;
      ++s->at.cb;
    }
  }
}

// Four pixels of both rows per group. Even phase: samples 0 and 1 serve two
// pixels each; odd phase: the first pixel ends the pair before the group, the
// last starts the pair after it. Either way the group moves two samples on.
template <class P, bool kGray, bool kWide, bool kOdd>
void GroupRoutine(WalkState* s, uint32_t groups) {
  const ConversionTables& t = *s->tables;
  const uint8_t* y0 = s->at.luma[0];
  const uint8_t* y1 = s->at.luma[1];
  const uint8_t* a0 = s->at.alpha[0];
  const uint8_t* a1 = s->at.alpha[1];
  uint8_t* d0 = s->at.dest[0];
  uint8_t* d1 = s->at.dest[1];
  constexpr uint32_t kOut = kStep<P, kWide>;
  for (uint32_t g = 0; g < groups; ++g) {
    typename P::Chroma c[3] = {ChromaAt<P, kGray>(t, s->at.cr, s->at.cb, 0), ChromaAt<P, kGray>(t, s->at.cr, s->at.cb, 1),
                               ChromaAt<P, kGray>(t, s->at.cr, s->at.cb, kOdd ? 2 : 1)};
    for (uint32_t i = 0; i < 4; ++i) {
      const typename P::Chroma& ci = c[kOdd ? (i + 1) >> 1 : i >> 1];
      uint32_t odd = kOdd ? (i & 1) ^ 1 : i & 1;
      uint8_t alpha0 = 0, alpha1 = 0;
      if constexpr (P::kHasAlpha) {
        alpha0 = a0[i];
        alpha1 = a1[i];
      }
      Put<P, kGray, kWide, false>(d0 + i * kOut, 0, t, y0[i], ci, alpha0, odd);
      Put<P, kGray, kWide, false>(d1 + i * kOut, 0, t, y1[i], ci, alpha1, odd);
    }
    y0 += 4;
    y1 += 4;
    if constexpr (P::kHasAlpha) {
      a0 += 4;
      a1 += 4;
    }
    d0 += 4 * kOut;
    d1 += 4 * kOut;
    s->at.cr += 2;
    s->at.cb += 2;
  }
  s->at.luma[0] = y0;
  s->at.luma[1] = y1;
  s->at.alpha[0] = a0;
  s->at.alpha[1] = a1;
  s->at.dest[0] = d0;
  s->at.dest[1] = d1;
  s->x += 4 * groups;
}

}  // namespace kivo::plain
