// SPDX-License-Identifier: BSD-2-Clause
// The fast routines in AVX2 for the 32-bit and 16-bit layouts and packed
// YUV at single width: 32 pixels of a row pair per block. The chroma terms are worked out once per sample and
// spread over the two pixels of each pair, in the lane order the luma
// widening gives, so that the saturating pack returns the channels in
// pixel order. Other layouts keep their SSE2 kernels.
//
// Built with AVX2 enabled for this file alone (see the kernel rules in
// CMakeLists.txt) and entered only where the processor has it.
#include "convert/lane_kernels.h"

#if defined(__i386__) || defined(__x86_64__)

#include <immintrin.h>

#include <utility>

#if defined(__i386__)
#define KIVO_AVX2_ENTRY __attribute__((force_align_arg_pointer, flatten))
#else
#define KIVO_AVX2_ENTRY __attribute__((flatten))
#endif

namespace kivo {
namespace {

// Not std::swap: an instantiation of it here could be shared with other files.
template <class V>
inline void Swap(V& a, V& b) {
  V t = a;
  a = b;
  b = t;
}

// Lane orders: "natural" is pixels 0..15 (or 0..31 for bytes) in order; the
// widened halves W0 and W1 hold pixels [0-7 | 16-23] and [8-15 | 24-31],
// which is what unpacking 32 natural bytes gives and what packing two word
// vectors turns back into natural bytes.

inline __m256i ApplySign(__m256i v, __m256i sign) {
  return _mm256_sub_epi16(_mm256_xor_si256(v, sign), sign);
}

// The 32-bit layouts take their pixels in a "spread" order instead: four
// pixels per dword, dwords 0, 2, 4, 6 in the low lane and 1, 3, 5, 7 in the
// high one. Widened, packed and interleaved lane by lane, the pixels then
// come out in memory order without a final cross-lane move.
inline __m256i Spread(__m256i v) {
  return _mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7));
}

struct Terms {
  __m256i r[2], g[2], b[2];  // W0 and W1
};

// The three terms of 16 samples (or pixels) d = c - 128: sign(d) times the
// high half of 2|d| * K, exact for |d| <= 128; K = 66101 is 65536 + 565.
inline void TermsOf(__m256i v, __m256i u, __m256i* r, __m256i* g, __m256i* b) {
  const __m256i zero = _mm256_setzero_si256();
  __m256i sv = _mm256_srai_epi16(v, 15), su = _mm256_srai_epi16(u, 15);
  __m256i av = _mm256_slli_epi16(ApplySign(v, sv), 1), au = _mm256_slli_epi16(ApplySign(u, su), 1);
  *r = ApplySign(_mm256_mulhi_epu16(av, _mm256_set1_epi16(static_cast<short>(52299))), sv);
  __m256i gv = ApplySign(_mm256_mulhi_epu16(av, _mm256_set1_epi16(26639)), sv);
  __m256i gu = ApplySign(_mm256_mulhi_epu16(au, _mm256_set1_epi16(12837)), su);
  *g = _mm256_sub_epi16(_mm256_sub_epi16(zero, gv), gu);
  *b = ApplySign(_mm256_add_epi16(_mm256_mulhi_epu16(au, _mm256_set1_epi16(565)), au), su);
}

inline __m128i Load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// Per-pixel chroma bytes of 32 pixels at odd phase, widened the way the
// luma is (W0 and W1, natural or spread).
template <bool kSpread>
inline void OddPixels(const uint8_t* c, __m256i* w0, __m256i* w1) {
  __m128i s = Load16(c);
  __m128i lo = _mm_unpacklo_epi8(s, s), hi = _mm_unpackhi_epi8(s, s);
  lo = _mm_or_si128(_mm_srli_si128(lo, 1), _mm_slli_si128(hi, 15));
  hi = _mm_or_si128(_mm_srli_si128(hi, 1), _mm_slli_si128(_mm_cvtsi32_si128(c[16]), 15));
  __m256i bytes = _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
  if (kSpread) bytes = Spread(bytes);
  *w0 = _mm256_unpacklo_epi8(bytes, _mm256_setzero_si256());
  *w1 = _mm256_unpackhi_epi8(bytes, _mm256_setzero_si256());
}

template <bool kSpread>
inline Terms ChromaTerms(const uint8_t* vp, const uint8_t* up, uint32_t phase) {
  const __m256i k128 = _mm256_set1_epi16(128);
  Terms t;
  if (!phase) {
    // One term per sample (samples 0..15 in order); unpacking a vector with
    // itself gives each sample to both pixels of its pair in W0/W1 order.
    // Spread, each sample pair's dword moves with the pixels it serves.
    __m256i v = _mm256_sub_epi16(_mm256_cvtepu8_epi16(Load16(vp)), k128);
    __m256i u = _mm256_sub_epi16(_mm256_cvtepu8_epi16(Load16(up)), k128);
    if (kSpread) {
      v = Spread(v);
      u = Spread(u);
    }
    __m256i r, g, b;
    TermsOf(v, u, &r, &g, &b);
    t.r[0] = _mm256_unpacklo_epi16(r, r);
    t.r[1] = _mm256_unpackhi_epi16(r, r);
    t.g[0] = _mm256_unpacklo_epi16(g, g);
    t.g[1] = _mm256_unpackhi_epi16(g, g);
    t.b[0] = _mm256_unpacklo_epi16(b, b);
    t.b[1] = _mm256_unpackhi_epi16(b, b);
  } else {
    __m256i v0, v1, u0, u1;
    OddPixels<kSpread>(vp, &v0, &v1);
    OddPixels<kSpread>(up, &u0, &u1);
    TermsOf(_mm256_sub_epi16(v0, k128), _mm256_sub_epi16(u0, k128), &t.r[0], &t.g[0], &t.b[0]);
    TermsOf(_mm256_sub_epi16(v1, k128), _mm256_sub_epi16(u1, k128), &t.r[1], &t.g[1], &t.b[1]);
  }
  return t;
}

inline __m256i Load32(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
inline void Put(uint8_t* d, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), v); }

// Lane luma of 32 pixels as W0 and W1.
inline void Luma(__m256i y, __m256i* l0, __m256i* l1) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i factor = _mm256_set1_epi16(0x4A85);
  __m256i s = _mm256_subs_epu8(y, _mm256_set1_epi8(16));
  *l0 = _mm256_mulhi_epu16(_mm256_slli_epi16(_mm256_unpacklo_epi8(s, zero), 2), factor);
  *l1 = _mm256_mulhi_epu16(_mm256_slli_epi16(_mm256_unpackhi_epi8(s, zero), 2), factor);
}

// 32 spread pixels from their channel bytes (first byte, G, third byte,
// A): each lane's interleave holds consecutive pixels.
template <bool kWide>
inline void Put32(uint8_t* d, __m256i first, __m256i g, __m256i third, __m256i a) {
  __m256i lowPairs = _mm256_unpacklo_epi8(first, g), highPairs = _mm256_unpackhi_epi8(first, g);
  __m256i lowTop = _mm256_unpacklo_epi8(third, a), highTop = _mm256_unpackhi_epi8(third, a);
  __m256i q[4] = {_mm256_unpacklo_epi16(lowPairs, lowTop), _mm256_unpackhi_epi16(lowPairs, lowTop),
                  _mm256_unpacklo_epi16(highPairs, highTop), _mm256_unpackhi_epi16(highPairs, highTop)};
  for (int i = 0; i < 4; ++i) {
    if (kWide) {
      // Pixels 8i..8i+7, each twice: four lanes of four dwords.
      __m256i lo = _mm256_unpacklo_epi32(q[i], q[i]), hi = _mm256_unpackhi_epi32(q[i], q[i]);
      Put(d + 64 * i, _mm256_permute2x128_si256(lo, hi, 0x20));
      Put(d + 64 * i + 32, _mm256_permute2x128_si256(lo, hi, 0x31));
    } else {
      Put(d + 32 * i, q[i]);  // pixels 8i..8i+7
    }
  }
}

// 32 pixel words given as W0 and W1.
template <bool kWide>
inline void PutWords(uint8_t* d, __m256i w0, __m256i w1) {
  if (kWide) {
    __m256i a = _mm256_unpacklo_epi16(w0, w0), b = _mm256_unpackhi_epi16(w0, w0);
    __m256i c = _mm256_unpacklo_epi16(w1, w1), e = _mm256_unpackhi_epi16(w1, w1);
    Put(d, _mm256_permute2x128_si256(a, b, 0x20));
    Put(d + 32, _mm256_permute2x128_si256(c, e, 0x20));
    Put(d + 64, _mm256_permute2x128_si256(a, b, 0x31));
    Put(d + 96, _mm256_permute2x128_si256(c, e, 0x31));
  } else {
    Put(d, _mm256_permute2x128_si256(w0, w1, 0x20));
    Put(d + 32, _mm256_permute2x128_si256(w0, w1, 0x31));
  }
}

template <int32_t kKind>
inline __m256i AlphaBits(__m256i a) {
  if (kKind == kLane16Alpha4) return _mm256_slli_epi16(_mm256_and_si256(a, _mm256_set1_epi16(0xF0)), 8);
  if (kKind == kLane16Alpha1) return _mm256_slli_epi16(_mm256_and_si256(a, _mm256_set1_epi16(0x80)), 8);
  return _mm256_setzero_si256();
}

inline __m256i Field(__m256i c, uint32_t width, uint32_t shift) {
  return _mm256_sll_epi16(_mm256_srl_epi16(c, _mm_cvtsi32_si128(static_cast<int>(8 - width))),
                          _mm_cvtsi32_si128(static_cast<int>(shift)));
}

// Packed YUV of 32 pixels of one row: the chroma byte of each pixel (U at
// even source x, V at odd) interleaved with the luma. A whole row is written
// before the next (the chroma is read twice): two rows at a time would keep
// more streams going than the stores keep up with.
template <int32_t kKind, bool kGray>
inline void YuvRow(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* d, uint32_t blocks,
                             uint32_t phase) {
  for (uint32_t i = 0; i < blocks; ++i, y += 32, cb += 16, cr += 16, d += 64) {
    __m128i lo = _mm_set1_epi8(static_cast<char>(128)), hi = lo;  // pixels 0-15 and 16-31
    if (!kGray) {
      __m128i u = Load16(cb), v = Load16(cr);
      lo = _mm_unpacklo_epi8(u, v);
      hi = _mm_unpackhi_epi8(u, v);
      if (phase) {  // from an odd x the first pixel takes V of its sample
        lo = _mm_or_si128(_mm_srli_si128(lo, 1), _mm_slli_si128(hi, 15));
        hi = _mm_or_si128(_mm_srli_si128(hi, 1), _mm_slli_si128(_mm_cvtsi32_si128(cb[16]), 15));
      }
    }
    const __m256i c = _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
    const __m256i luma = Load32(y);
    __m256i first = kKind == kLaneYuy2 ? _mm256_unpacklo_epi8(luma, c) : _mm256_unpacklo_epi8(c, luma);
    __m256i second = kKind == kLaneYuy2 ? _mm256_unpackhi_epi8(luma, c) : _mm256_unpackhi_epi8(c, luma);
    Put(d, _mm256_permute2x128_si256(first, second, 0x20));
    Put(d + 32, _mm256_permute2x128_si256(first, second, 0x31));
  }
}

template <int32_t kKind, bool kGray>
KIVO_AVX2_ENTRY void YuvKernel(const LaneJob& job) {
  const RowPointers& at = *job.at;
  const uint32_t blocks = job.pixels / 32, whole = blocks * 32;
  for (int row = 0; row < 2; ++row)
    YuvRow<kKind, kGray>(at.luma[row], at.cb, at.cr, at.dest[row], blocks, job.phase);
  if (whole == job.pixels) return;
  RowPointers rest = at;
  for (int r = 0; r < 2; ++r) {
    rest.luma[r] += whole;
    rest.dest[r] += whole * 2;
  }
  rest.cr += whole / 2;
  rest.cb += whole / 2;
  LaneJob part = {&rest, job.pixels - whole, job.phase, job.exchanged, job.tables};
  LaneKernelsFor(kLaneSse2).run[kKind][kGray][0](part);
}

// The chroma bytes of 16 pixels from an even x: U, V of eight samples.
template <bool kGray>
inline __m128i CellChroma(const uint8_t* cb, const uint8_t* cr) {
  if (kGray) return _mm_set1_epi8(static_cast<char>(128));
  return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb)),
                           _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr)));
}

// 16 pixels of one row: its luma interleaved with the chroma bytes.
template <int32_t kKind>
inline void CellRow(const uint8_t* y, __m128i c, uint8_t* d) {
  const __m128i luma = Load16(y);
  __m128i first = kKind == kLaneYuy2 ? _mm_unpacklo_epi8(luma, c) : _mm_unpacklo_epi8(c, luma);
  __m128i second = kKind == kLaneYuy2 ? _mm_unpackhi_epi8(luma, c) : _mm_unpackhi_epi8(c, luma);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), first);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), second);
}

// A stretch of cells. A single cell (the most common stretch of a
// scattered map) has a loop of its own; wider ones go a row at a time in
// blocks of 32 pixels and a last 16.
template <int32_t kKind, bool kGray>
KIVO_AVX2_ENTRY void YuvStretch(const StretchJob& job) {
  const uint8_t* y = job.luma;
  const uint8_t* cb = job.cb;
  const uint8_t* cr = job.cr;
  uint8_t* d = job.dest;
  const ptrdiff_t lumaPitch = job.lumaPitch, chromaPitch = job.chromaPitch, destPitch = job.destPitch;
  const uint32_t pairs = job.pairs;
  if (job.pixels == 16) {
    for (uint32_t k = 0; k < pairs; ++k) {
      const __m128i c = CellChroma<kGray>(cb, cr);
      CellRow<kKind>(y, c, d);
      CellRow<kKind>(y + lumaPitch, c, d + destPitch);
      y += 2 * lumaPitch;
      d += 2 * destPitch;
      cb += chromaPitch;
      cr += chromaPitch;
    }
    return;
  }
  const uint32_t blocks = job.pixels / 32, whole = blocks * 32;
  const bool cell = whole != job.pixels;
  for (uint32_t k = 0; k < 2 * pairs; ++k) {
    YuvRow<kKind, kGray>(y, cb, cr, d, blocks, 0);
    if (cell) CellRow<kKind>(y + whole, CellChroma<kGray>(cb + whole / 2, cr + whole / 2), d + 2 * whole);
    y += lumaPitch;
    d += destPitch;
    if (k & 1) {
      cb += chromaPitch;
      cr += chromaPitch;
    }
  }
}

template <int32_t kKind, bool kGray, bool kWide>
void Block(const LaneBlock& b, const LaneJob& job) {
  const uint8_t* const ys[2] = {b.y0, b.y1};
  const uint8_t* const as[2] = {b.a0, b.a1};
  uint8_t* const ds[2] = {b.d0, b.d1};
  const __m256i zero = _mm256_setzero_si256();
  constexpr bool k16 = kKind >= kLane16;
  Terms t;
  if (!kGray) {
    // With the exchange the planes come the other way round: terms from the
    // true planes, red and blue swapped after.
    t = ChromaTerms<!k16>(job.exchanged ? b.cb : b.cr, job.exchanged ? b.cr : b.cb, job.phase);
  }
  const PackLayout& l = job.tables->pack.layout;
  for (int row = 0; row < 2; ++row) {
    __m256i y = Load32(ys[row]);
    __m256i a = LaneHasAlpha(kKind) ? Load32(as[row]) : zero;
    if constexpr (k16) {
      __m256i a0 = _mm256_unpacklo_epi8(a, zero), a1 = _mm256_unpackhi_epi8(a, zero);
      __m256i w[2];
      if (kGray) {
        // A gray value of the narrowest field, held to it, spread to all three.
        const __m256i factor = _mm256_set1_epi16(static_cast<short>(l.grayFactor));
        const __m256i top = _mm256_set1_epi16(static_cast<short>(l.graySaturate));
        const __m256i spread = _mm256_set1_epi16(static_cast<short>(l.grayMultiplier));
        __m256i s = _mm256_subs_epu8(y, _mm256_set1_epi8(16));
        for (int h = 0; h < 2; ++h) {
          __m256i v = _mm256_mulhi_epu16(h ? _mm256_unpackhi_epi8(s, zero) : _mm256_unpacklo_epi8(s, zero), factor);
          v = _mm256_subs_epu16(_mm256_adds_epi16(v, top), top);
          w[h] = _mm256_or_si256(_mm256_mullo_epi16(v, spread), AlphaBits<kKind>(h ? a1 : a0));
        }
      } else {
        __m256i l0, l1;
        Luma(y, &l0, &l1);
        const __m256i max = _mm256_set1_epi16(255);
        for (int h = 0; h < 2; ++h) {
          __m256i lh = h ? l1 : l0;
          __m256i r = _mm256_min_epi16(_mm256_max_epi16(_mm256_add_epi16(lh, t.r[h]), zero), max);
          __m256i g = _mm256_min_epi16(_mm256_max_epi16(_mm256_add_epi16(lh, t.g[h]), zero), max);
          __m256i bl = _mm256_min_epi16(_mm256_max_epi16(_mm256_add_epi16(lh, t.b[h]), zero), max);
          if (job.exchanged) Swap(r, bl);
          __m256i v = _mm256_or_si256(Field(r, l.redWidth, l.redShift), Field(g, l.greenWidth, l.greenShift));
          v = _mm256_or_si256(v, Field(bl, l.blueWidth, l.blueShift));
          w[h] = _mm256_or_si256(v, AlphaBits<kKind>(h ? a1 : a0));
        }
      }
      PutWords<kWide>(ds[row], w[0], w[1]);
    } else {
      y = Spread(y);
      if (LaneHasAlpha(kKind)) a = Spread(a);
      __m256i l0, l1;
      Luma(y, &l0, &l1);
      __m256i r, g, bl;
      if (kGray) {
        r = g = bl = _mm256_packus_epi16(l0, l1);
      } else {
        // The saturating pack holds each channel to 0..255 and puts the
        // W0/W1 halves back into pixel order.
        r = _mm256_packus_epi16(_mm256_add_epi16(l0, t.r[0]), _mm256_add_epi16(l1, t.r[1]));
        g = _mm256_packus_epi16(_mm256_add_epi16(l0, t.g[0]), _mm256_add_epi16(l1, t.g[1]));
        bl = _mm256_packus_epi16(_mm256_add_epi16(l0, t.b[0]), _mm256_add_epi16(l1, t.b[1]));
        if (job.exchanged) Swap(r, bl);
      }
      bool blueFirst = kKind == kLaneBgrx32 || kKind == kLaneBgra32;
      Put32<kWide>(ds[row], blueFirst ? bl : r, g, blueFirst ? r : bl, a);
    }
  }
}

// Whole blocks of 32 here; a shorter rest (a 16-pixel cell, say) goes to
// the SSE2 kernel, which gives the same pixels, rather than through padded
// copies of a whole block.
template <int32_t kKind, bool kGray, bool kWide>
KIVO_AVX2_ENTRY void Kernel(const LaneJob& job) {
  constexpr uint32_t kOut = LaneBytesPerPixel(kKind) * (kWide ? 2 : 1);
  uint32_t whole = job.pixels & ~31u;
  const LaneKernels& narrower = LaneKernelsFor(kLaneSse2);
  if (whole == 0) {  // a single cell, say: all of it to SSE2, nothing copied
    narrower.run[kKind][kGray][kWide](job);
    return;
  }
  RunInBlocks<32, kOut>(job, whole, Block<kKind, kGray, kWide>);
  if (whole == job.pixels) return;
  RowPointers rest = *job.at;
  for (int r = 0; r < 2; ++r) {
    rest.luma[r] += whole;
    if (rest.alpha[r]) rest.alpha[r] += whole;
    rest.dest[r] += whole * kOut;
  }
  rest.cr += whole / 2;
  rest.cb += whole / 2;
  LaneJob part = {&rest, job.pixels - whole, job.phase, job.exchanged, job.tables};
  narrower.run[kKind][kGray][kWide](part);
}

template <int32_t kKind>
void FillKind(LaneKernels* k) {
  k->run[kKind][0][0] = Kernel<kKind, false, false>;
  k->run[kKind][0][1] = Kernel<kKind, false, true>;
  k->run[kKind][1][0] = Kernel<kKind, true, false>;
  k->run[kKind][1][1] = Kernel<kKind, true, true>;
}

}  // namespace

void FillAvx2Kernels(LaneKernels* k) {
  FillKind<kLaneBgrx32>(k);
  FillKind<kLaneRgbx32>(k);
  FillKind<kLaneBgra32>(k);
  FillKind<kLaneRgba32>(k);
  FillKind<kLane16>(k);
  FillKind<kLane16Alpha4>(k);
  FillKind<kLane16Alpha1>(k);
  // Packed YUV at single width; doubled, the SSE2 kernels stay.
  for (int gray = 0; gray < 2; ++gray) {
    k->run[kLaneYuy2][gray][0] = gray ? YuvKernel<kLaneYuy2, true> : YuvKernel<kLaneYuy2, false>;
    k->run[kLaneUyvy][gray][0] = gray ? YuvKernel<kLaneUyvy, true> : YuvKernel<kLaneUyvy, false>;
    k->stretch[0][gray] = gray ? YuvStretch<kLaneYuy2, true> : YuvStretch<kLaneYuy2, false>;
    k->stretch[1][gray] = gray ? YuvStretch<kLaneUyvy, true> : YuvStretch<kLaneUyvy, false>;
  }
}

}  // namespace kivo

#else

namespace kivo {
void FillAvx2Kernels(LaneKernels*) {}
}  // namespace kivo

#endif
