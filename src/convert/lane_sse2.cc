// SPDX-License-Identifier: BSD-2-Clause
// The fast routines in SSE2: sixteen pixels of a row pair per block, the
// chroma terms worked out in the lanes (no table lookups), channels held to
// 0..255 by the saturating pack. Built with SSE2 enabled for this file
// alone (see the kernel rules in CMakeLists.txt) and entered only where the
// processor has it.
#include "convert/lane_kernels.h"

#if defined(__i386__) || defined(__x86_64__)

#include <emmintrin.h>

#include <utility>

#if defined(__i386__)
// Entered through a pointer from code that may keep the stack 4-byte aligned.
#define KIVO_SSE2_ENTRY __attribute__((force_align_arg_pointer, flatten))
#else
#define KIVO_SSE2_ENTRY __attribute__((flatten))
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

// The chroma sample of each of 16 pixels from source x parity `phase`.
inline __m128i ChromaPixels(const uint8_t* c, uint32_t phase) {
  __m128i samples = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(c));
  __m128i pixels = _mm_unpacklo_epi8(samples, samples);
  if (phase) pixels = _mm_or_si128(_mm_srli_si128(pixels, 1), _mm_slli_si128(_mm_cvtsi32_si128(c[8]), 15));
  return pixels;
}

inline __m128i ApplySign(__m128i v, __m128i sign) { return _mm_sub_epi16(_mm_xor_si128(v, sign), sign); }

struct Terms {
  __m128i r[2], g[2], b[2];  // pixels 0-7 and 8-15
};

// trunc(d * K / 32768) for d = sample - 128 is sign(d) * floor(2|d| * K / 65536):
// the high half of an unsigned product, exact for |d| <= 128. K = 66101
// is 65536 + 565.
inline Terms ChromaTerms(__m128i vPixels, __m128i uPixels) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i k128 = _mm_set1_epi16(128);
  Terms t;
  for (int h = 0; h < 2; ++h) {
    __m128i v = h ? _mm_unpackhi_epi8(vPixels, zero) : _mm_unpacklo_epi8(vPixels, zero);
    __m128i u = h ? _mm_unpackhi_epi8(uPixels, zero) : _mm_unpacklo_epi8(uPixels, zero);
    v = _mm_sub_epi16(v, k128);
    u = _mm_sub_epi16(u, k128);
    __m128i sv = _mm_srai_epi16(v, 15), su = _mm_srai_epi16(u, 15);
    __m128i av = _mm_slli_epi16(ApplySign(v, sv), 1), au = _mm_slli_epi16(ApplySign(u, su), 1);
    t.r[h] = ApplySign(_mm_mulhi_epu16(av, _mm_set1_epi16(static_cast<short>(52299))), sv);
    __m128i gv = ApplySign(_mm_mulhi_epu16(av, _mm_set1_epi16(26639)), sv);
    __m128i gu = ApplySign(_mm_mulhi_epu16(au, _mm_set1_epi16(12837)), su);
    t.g[h] = _mm_sub_epi16(_mm_sub_epi16(zero, gv), gu);
    t.b[h] = ApplySign(_mm_add_epi16(_mm_mulhi_epu16(au, _mm_set1_epi16(565)), au), su);
  }
  return t;
}

// ((saturate(Y - 16) * 4) * 0x4A85) >> 16 in 16-bit lanes.
inline void Luma(__m128i y, __m128i* low, __m128i* high) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i factor = _mm_set1_epi16(0x4A85);
  __m128i s = _mm_subs_epu8(y, _mm_set1_epi8(16));
  *low = _mm_mulhi_epu16(_mm_slli_epi16(_mm_unpacklo_epi8(s, zero), 2), factor);
  *high = _mm_mulhi_epu16(_mm_slli_epi16(_mm_unpackhi_epi8(s, zero), 2), factor);
}

inline __m128i Channel(__m128i l0, __m128i l1, const __m128i* term) {
  return _mm_packus_epi16(_mm_add_epi16(l0, term[0]), _mm_add_epi16(l1, term[1]));
}

// Four registers of four 32-bit pixels: bytes first, G, third, A.
inline void Dwords(__m128i first, __m128i g, __m128i third, __m128i a, __m128i p[4]) {
  __m128i lowPairs = _mm_unpacklo_epi8(first, g), highPairs = _mm_unpackhi_epi8(first, g);
  __m128i lowTop = _mm_unpacklo_epi8(third, a), highTop = _mm_unpackhi_epi8(third, a);
  p[0] = _mm_unpacklo_epi16(lowPairs, lowTop);
  p[1] = _mm_unpackhi_epi16(lowPairs, lowTop);
  p[2] = _mm_unpacklo_epi16(highPairs, highTop);
  p[3] = _mm_unpackhi_epi16(highPairs, highTop);
}

inline void Put(uint8_t* d, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(d), v); }

template <bool kWide>
inline void PutDwords(uint8_t* d, const __m128i p[4]) {
  for (int i = 0; i < 4; ++i) {
    if (kWide) {
      Put(d + 32 * i, _mm_unpacklo_epi32(p[i], p[i]));
      Put(d + 32 * i + 16, _mm_unpackhi_epi32(p[i], p[i]));
    } else {
      Put(d + 16 * i, p[i]);
    }
  }
}

// 24-bit pixels go through a small array: each pixel's low three bytes.
template <bool kWide>
inline void PutTriples(uint8_t* d, const __m128i p[4]) {
  alignas(16) uint32_t px[16];
  for (int i = 0; i < 4; ++i) _mm_store_si128(reinterpret_cast<__m128i*>(px + 4 * i), p[i]);
  constexpr int kCount = kWide ? 32 : 16;
  for (int i = 0; i < kCount - 1; ++i) std::memcpy(d + 3 * i, &px[kWide ? i / 2 : i], 4);  // the 4th byte is overwritten next
  std::memcpy(d + 3 * (kCount - 1), &px[15], 3);
}

template <int32_t kKind>
inline __m128i AlphaBits(__m128i a) {
  if (kKind == kLane16Alpha4) return _mm_slli_epi16(_mm_and_si128(a, _mm_set1_epi16(0xF0)), 8);
  if (kKind == kLane16Alpha1) return _mm_slli_epi16(_mm_and_si128(a, _mm_set1_epi16(0x80)), 8);
  return _mm_setzero_si128();
}

template <bool kWide>
inline void PutWords(uint8_t* d, __m128i w0, __m128i w1) {
  if (kWide) {
    Put(d, _mm_unpacklo_epi16(w0, w0));
    Put(d + 16, _mm_unpackhi_epi16(w0, w0));
    Put(d + 32, _mm_unpacklo_epi16(w1, w1));
    Put(d + 48, _mm_unpackhi_epi16(w1, w1));
  } else {
    Put(d, w0);
    Put(d + 16, w1);
  }
}

template <int32_t kKind, bool kWide>
inline void Put16(uint8_t* d, __m128i r, __m128i g, __m128i b, __m128i a, const PackLayout& l) {
  const __m128i zero = _mm_setzero_si128();
  __m128i w[2];
  for (int h = 0; h < 2; ++h) {
    __m128i rw = h ? _mm_unpackhi_epi8(r, zero) : _mm_unpacklo_epi8(r, zero);
    __m128i gw = h ? _mm_unpackhi_epi8(g, zero) : _mm_unpacklo_epi8(g, zero);
    __m128i bw = h ? _mm_unpackhi_epi8(b, zero) : _mm_unpacklo_epi8(b, zero);
    __m128i aw = h ? _mm_unpackhi_epi8(a, zero) : _mm_unpacklo_epi8(a, zero);
    __m128i v = _mm_sll_epi16(_mm_srl_epi16(rw, _mm_cvtsi32_si128(8 - l.redWidth)), _mm_cvtsi32_si128(l.redShift));
    v = _mm_or_si128(v, _mm_sll_epi16(_mm_srl_epi16(gw, _mm_cvtsi32_si128(8 - l.greenWidth)),
                                      _mm_cvtsi32_si128(l.greenShift)));
    v = _mm_or_si128(v, _mm_sll_epi16(_mm_srl_epi16(bw, _mm_cvtsi32_si128(8 - l.blueWidth)),
                                      _mm_cvtsi32_si128(l.blueShift)));
    w[h] = _mm_or_si128(v, AlphaBits<kKind>(aw));
  }
  PutWords<kWide>(d, w[0], w[1]);
}

// Gray in a 16-bit layout: a gray value of the narrowest field, held to that
// field by the saturation constant, multiplied into all three fields.
template <int32_t kKind, bool kWide>
inline void Put16Gray(uint8_t* d, __m128i y, __m128i a, const PackLayout& l) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i factor = _mm_set1_epi16(static_cast<short>(l.grayFactor));
  const __m128i top = _mm_set1_epi16(static_cast<short>(l.graySaturate));
  const __m128i spread = _mm_set1_epi16(static_cast<short>(l.grayMultiplier));
  __m128i s = _mm_subs_epu8(y, _mm_set1_epi8(16));
  __m128i w[2];
  for (int h = 0; h < 2; ++h) {
    __m128i sw = h ? _mm_unpackhi_epi8(s, zero) : _mm_unpacklo_epi8(s, zero);
    __m128i aw = h ? _mm_unpackhi_epi8(a, zero) : _mm_unpacklo_epi8(a, zero);
    __m128i v = _mm_mulhi_epu16(sw, factor);
    v = _mm_subs_epu16(_mm_adds_epi16(v, top), top);
    w[h] = _mm_or_si128(_mm_mullo_epi16(v, spread), AlphaBits<kKind>(aw));
  }
  PutWords<kWide>(d, w[0], w[1]);
}

template <int32_t kKind, bool kWide>
inline void PutYuv(uint8_t* d, __m128i y, __m128i u, __m128i v, uint32_t phase) {
  const bool yuy2 = kKind == kLaneYuy2;
  if (kWide) {
    __m128i lowU = yuy2 ? _mm_unpacklo_epi8(y, u) : _mm_unpacklo_epi8(u, y);
    __m128i lowV = yuy2 ? _mm_unpacklo_epi8(y, v) : _mm_unpacklo_epi8(v, y);
    __m128i highU = yuy2 ? _mm_unpackhi_epi8(y, u) : _mm_unpackhi_epi8(u, y);
    __m128i highV = yuy2 ? _mm_unpackhi_epi8(y, v) : _mm_unpackhi_epi8(v, y);
    Put(d, _mm_unpacklo_epi16(lowU, lowV));
    Put(d + 16, _mm_unpackhi_epi16(lowU, lowV));
    Put(d + 32, _mm_unpacklo_epi16(highU, highV));
    Put(d + 48, _mm_unpackhi_epi16(highU, highV));
    return;
  }
  // V at odd source x, U at even.
  const __m128i oddAt = phase ? _mm_set1_epi16(0x00FF) : _mm_set1_epi16(static_cast<short>(0xFF00));
  __m128i c = _mm_or_si128(_mm_andnot_si128(oddAt, u), _mm_and_si128(oddAt, v));
  Put(d, yuy2 ? _mm_unpacklo_epi8(y, c) : _mm_unpacklo_epi8(c, y));
  Put(d + 16, yuy2 ? _mm_unpackhi_epi8(y, c) : _mm_unpackhi_epi8(c, y));
}

inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

template <int32_t kKind, bool kGray, bool kWide>
void Block(const LaneBlock& b, const LaneJob& job) {
  const uint8_t* const ys[2] = {b.y0, b.y1};
  const uint8_t* const as[2] = {b.a0, b.a1};
  uint8_t* const ds[2] = {b.d0, b.d1};
  const __m128i zero = _mm_setzero_si128();
  if constexpr (LaneIsYuv(kKind)) {
    __m128i u = _mm_set1_epi8(static_cast<char>(128)), v = u;
    if (!kGray) {
      u = ChromaPixels(b.cb, job.phase);
      v = ChromaPixels(b.cr, job.phase);
    }
    for (int row = 0; row < 2; ++row) PutYuv<kKind, kWide>(ds[row], Load(ys[row]), u, v, job.phase);
    return;
  } else {
    Terms t;
    if (!kGray) {
      // With the exchange the planes come the other way round; the terms are
      // worked out from the true ones and red and blue swapped after.
      const uint8_t* vp = job.exchanged ? b.cb : b.cr;
      const uint8_t* up = job.exchanged ? b.cr : b.cb;
      t = ChromaTerms(ChromaPixels(vp, job.phase), ChromaPixels(up, job.phase));
    }
    const PackLayout& l = job.tables->pack.layout;
    for (int row = 0; row < 2; ++row) {
      __m128i y = Load(ys[row]);
      __m128i a = LaneHasAlpha(kKind) ? Load(as[row]) : zero;
      if (kGray && kKind >= kLane16) {
        Put16Gray<kKind, kWide>(ds[row], y, a, l);
        continue;
      }
      __m128i l0, l1;
      Luma(y, &l0, &l1);
      __m128i r, g, bl;
      if (kGray) {
        r = g = bl = _mm_packus_epi16(l0, l1);
      } else {
        r = Channel(l0, l1, t.r);
        g = Channel(l0, l1, t.g);
        bl = Channel(l0, l1, t.b);
        if (job.exchanged) Swap(r, bl);
      }
      if (kKind >= kLane16) {
        Put16<kKind, kWide>(ds[row], r, g, bl, a, l);
      } else {
        // Little-endian pixel words: code 3 order puts blue first.
        bool blueFirst = kKind == kLaneBgrx32 || kKind == kLaneBgra32 || kKind == kLaneBgr24;
        __m128i p[4];
        Dwords(blueFirst ? bl : r, g, blueFirst ? r : bl, a, p);
        if (kKind <= kLaneRgba32)
          PutDwords<kWide>(ds[row], p);
        else
          PutTriples<kWide>(ds[row], p);
      }
    }
  }
}

template <int32_t kKind, bool kGray, bool kWide>
KIVO_SSE2_ENTRY void Kernel(const LaneJob& job) {
  constexpr uint32_t kOut = LaneBytesPerPixel(kKind) * (kWide ? 2 : 1);
  RunInBlocks<16, kOut>(job, job.pixels, Block<kKind, kGray, kWide>);
}

// 16 pixels of a stretch row pair: the chroma bytes U, V of the eight
// samples, interleaved with each row's luma.
template <int32_t kKind, bool kGray>
inline void StretchBlock(const uint8_t* y0, const uint8_t* y1, const uint8_t* cb, const uint8_t* cr, uint8_t* d0,
                         uint8_t* d1) {
  __m128i c = _mm_set1_epi8(static_cast<char>(128));
  if (!kGray)
    c = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb)),
                          _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr)));
  const __m128i a = Load(y0), b = Load(y1);
  if (kKind == kLaneYuy2) {
    Put(d0, _mm_unpacklo_epi8(a, c));
    Put(d0 + 16, _mm_unpackhi_epi8(a, c));
    Put(d1, _mm_unpacklo_epi8(b, c));
    Put(d1 + 16, _mm_unpackhi_epi8(b, c));
  } else {
    Put(d0, _mm_unpacklo_epi8(c, a));
    Put(d0 + 16, _mm_unpackhi_epi8(c, a));
    Put(d1, _mm_unpacklo_epi8(c, b));
    Put(d1 + 16, _mm_unpackhi_epi8(c, b));
  }
}

template <int32_t kKind, bool kGray>
KIVO_SSE2_ENTRY void Stretch(const StretchJob& job) {
  const uint8_t* y = job.luma;
  const uint8_t* cb = job.cb;
  const uint8_t* cr = job.cr;
  uint8_t* d = job.dest;
  for (uint32_t k = 0; k < job.pairs; ++k) {
    for (uint32_t x = 0; x < job.pixels; x += 16)
      StretchBlock<kKind, kGray>(y + x, y + job.lumaPitch + x, cb + x / 2, cr + x / 2, d + 2 * x,
                                 d + job.destPitch + 2 * x);
    y += 2 * job.lumaPitch;
    cb += job.chromaPitch;
    cr += job.chromaPitch;
    d += 2 * job.destPitch;
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

void FillSse2Kernels(LaneKernels* k) {
  FillKinds(k, std::make_integer_sequence<int32_t, kLaneKinds>{});
  k->stretch[0][0] = Stretch<kLaneYuy2, false>;
  k->stretch[0][1] = Stretch<kLaneYuy2, true>;
  k->stretch[1][0] = Stretch<kLaneUyvy, false>;
  k->stretch[1][1] = Stretch<kLaneUyvy, true>;
}

}  // namespace kivo

#else

namespace kivo {
void FillSse2Kernels(LaneKernels*) {}
}  // namespace kivo

#endif
