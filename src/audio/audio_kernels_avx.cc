// SPDX-License-Identifier: BSD-2-Clause
// AVX versions of the audio decoder's inner loops (x86 builds only, chosen
// at run time). Each one performs the float operations of its plain twin in
// audio_kernels_plain.cc lane by lane and in the same order, without fused
// multiply-adds, so both give the same numbers; vectors hold four complex
// values (re, im, re, im, ...) or eight reals.
#include "audio/audio_kernels.h"

#if defined(__i386__) || defined(__x86_64__)

// Built with AVX enabled for this file alone (see the kernel rules in
// CMakeLists.txt), and on 32-bit x86 with SSE scalar arithmetic too: x87
// registers would carry more precision than the 64-bit build, whose numbers
// both builds must give.
#define KIVO_AVX_INLINE __attribute__((always_inline)) inline

#include <immintrin.h>

namespace kivo {
namespace {

typedef __m256 V;

KIVO_AVX_INLINE V Load(const float* p) { return _mm256_loadu_ps(p); }
KIVO_AVX_INLINE void Store(float* p, V v) { _mm256_storeu_ps(p, v); }
// (re, im) -> (im, re) in every pair.
KIVO_AVX_INLINE V SwapPairs(V v) { return _mm256_permute_ps(v, 0xB1); }
// Negates the odd lanes.
KIVO_AVX_INLINE V NegateOdd(V v) { return _mm256_xor_ps(v, _mm256_setr_ps(0, -0.0f, 0, -0.0f, 0, -0.0f, 0, -0.0f)); }
KIVO_AVX_INLINE V Negate(V v) { return _mm256_xor_ps(v, _mm256_set1_ps(-0.0f)); }
// All eight floats in reverse order; on complex data, the pairs reversed and
// each pair swapped.
KIVO_AVX_INLINE V Reverse(V v) { return _mm256_permute_ps(_mm256_permute2f128_ps(v, v, 1), 0x1B); }
// The four pairs in reverse order, each pair kept.
KIVO_AVX_INLINE V ReversePairs(V v) { return _mm256_permute_ps(_mm256_permute2f128_ps(v, v, 1), 0x4E); }
KIVO_AVX_INLINE V PairsLo(V a, V b) {
  return _mm256_castpd_ps(_mm256_unpacklo_pd(_mm256_castps_pd(a), _mm256_castps_pd(b)));
}
KIVO_AVX_INLINE V PairsHi(V a, V b) {
  return _mm256_castpd_ps(_mm256_unpackhi_pd(_mm256_castps_pd(a), _mm256_castps_pd(b)));
}

// z *= (c - i s) backward, (c + i s) forward; w holds (c, s) pairs.
template <bool kForward>
KIVO_AVX_INLINE V Rotate(V z, V w) {
  const V p1 = _mm256_mul_ps(z, _mm256_moveldup_ps(w));
  const V p2 = _mm256_mul_ps(SwapPairs(z), _mm256_movehdup_ps(w));
  return kForward ? _mm256_addsub_ps(p1, p2) : _mm256_add_ps(p1, NegateOdd(p2));
}

template <bool kForward>
KIVO_AVX_INLINE void QuarterTurns(V t1, V t2, V* u, V* v) {
  const V s = SwapPairs(t2);
  const V minus = _mm256_add_ps(t1, NegateOdd(s));  // t1 - i t2
  const V plus = _mm256_addsub_ps(t1, s);           // t1 + i t2
  *u = kForward ? plus : minus;
  *v = kForward ? minus : plus;
}

template <bool kForward>
KIVO_AVX_INLINE void Dft4(V& p0, V& p1, V& p2, V& p3) {
  const V s = _mm256_add_ps(p0, p2);
  const V e = _mm256_add_ps(p1, p3);
  const V t1 = _mm256_sub_ps(p0, p2);
  const V t2 = _mm256_sub_ps(p1, p3);
  p0 = _mm256_add_ps(s, e);
  p2 = _mm256_sub_ps(s, e);
  QuarterTurns<kForward>(t1, t2, &p1, &p3);
}

// 4 x 4 complex transpose: r_i[j] becomes r_j[i].
KIVO_AVX_INLINE void Transpose(V& r0, V& r1, V& r2, V& r3) {
  const V t0 = PairsLo(r0, r1), t1 = PairsHi(r0, r1);
  const V t2 = PairsLo(r2, r3), t3 = PairsHi(r2, r3);
  r0 = _mm256_permute2f128_ps(t0, t2, 0x20);
  r1 = _mm256_permute2f128_ps(t1, t3, 0x20);
  r2 = _mm256_permute2f128_ps(t0, t2, 0x31);
  r3 = _mm256_permute2f128_ps(t1, t3, 0x31);
}

// (c1, s1) and (c3, s3) pairs of four consecutive twiddle groups.
KIVO_AVX_INLINE void GroupPairs(const float* g, V* w1, V* w3) {
  const V x = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(g)), _mm_loadu_ps(g + 8), 1);
  const V y = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(g + 4)), _mm_loadu_ps(g + 12), 1);
  *w1 = PairsLo(x, y);
  *w3 = PairsHi(x, y);
}

// Twiddles of the complements P/4 - k, from those of k (k ascending in the
// input, P/4 - k ascending in the output).
KIVO_AVX_INLINE V Mirror1(V w1) { return Reverse(w1); }
KIVO_AVX_INLINE V Mirror3(V w3) { return Negate(Reverse(w3)); }

template <bool kForward>
KIVO_AVX_INLINE void Butterfly(float* x, uint32_t quarter, uint32_t k, V w1, V w3) {
  float* a = x + 2 * k;
  float* b = a + 2 * quarter;
  float* c = a + 4 * quarter;
  float* d = a + 6 * quarter;
  const V va = Load(a), vb = Load(b), vc = Load(c), vd = Load(d);
  const V t1 = _mm256_sub_ps(va, vc), t2 = _mm256_sub_ps(vb, vd);
  Store(a, _mm256_add_ps(va, vc));
  Store(b, _mm256_add_ps(vb, vd));
  V u, v;
  QuarterTurns<kForward>(t1, t2, &u, &v);
  Store(c, Rotate<kForward>(u, w1));
  Store(d, Rotate<kForward>(v, w3));
}

void CopyFloats(float* to, const float* from, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) to[i] = from[i];
}
void SetGroup(float* g, float c1, float s1, float c3, float s3) {
  g[0] = c1;
  g[1] = s1;
  g[2] = c3;
  g[3] = s3;
}

// A split-radix stage of p >= 32 points whose groups are stored directly:
// block t takes k = 4t .. 4t+3 and their complements.
template <bool kForward>
void DirectStage(float* x, uint32_t p, const float* table, float r) {
  const uint32_t quarter = p / 4, blocks = p / 32;
  float edge[20];
  for (uint32_t t = 0; t < blocks; ++t) {
    const float* g = table + 16 * t;
    if (t == 0 || t == blocks - 1) {
      CopyFloats(edge + 4, g + 4, 12);
      if (t == 0)
        SetGroup(edge, 1, 0, 1, 0);
      else
        CopyFloats(edge, g, 4);
      if (t == blocks - 1)
        SetGroup(edge + 16, r, r, -r, r);
      else
        CopyFloats(edge + 16, g + 16, 4);
      g = edge;
    }
    V w1, w3;
    GroupPairs(g, &w1, &w3);
    Butterfly<kForward>(x, quarter, 4 * t, w1, w3);
    GroupPairs(g + 4, &w1, &w3);
    Butterfly<kForward>(x, quarter, quarter - 4 * t - 4, Mirror1(w1), Mirror3(w3));
  }
}

// The first stage over all p points: groups hold every other angle; the odd
// ones are the half-angle sums.
template <bool kForward>
void TopStage(float* x, uint32_t p, const float* top, float r) {
  const uint32_t quarter = p / 4, blocks = p / 32;
  const V half = _mm256_setr_ps(top[2], top[2], top[3], top[3], top[2], top[2], top[3], top[3]);
  float edge[12];
  for (uint32_t t = 0; t < blocks; ++t) {
    const float* g = top + 8 * t;
    if (t == 0 || t == blocks - 1) {
      CopyFloats(edge + 4, g + 4, 4);
      if (t == 0)
        SetGroup(edge, 1, 0, 1, 0);
      else
        CopyFloats(edge, g, 4);
      if (t == blocks - 1)
        SetGroup(edge + 8, r, r, -r, r);
      else
        CopyFloats(edge + 8, g + 8, 4);
      g = edge;
    }
    const V a = Load(g), b = Load(g + 4);
    const V odd = _mm256_mul_ps(_mm256_add_ps(a, b), half);
    Butterfly<kForward>(x, quarter, 4 * t, PairsLo(a, odd), PairsHi(a, odd));
    Butterfly<kForward>(x, quarter, quarter - 4 * t - 4, Mirror1(PairsLo(odd, b)), Mirror3(PairsHi(odd, b)));
  }
}

struct LeafVectors {
  V w16[3];
  V w8;
};

// Outputs Z_0..Z_3 (lanes m) stored as registers of bit-reversed positions.
KIVO_AVX_INLINE void StoreReversed(float* x, V z0, V z1, V z2, V z3, bool reverseRows) {
  Transpose(z0, z2, z1, z3);
  Store(x, z0);
  Store(x + (reverseRows ? 16 : 8), z2);
  Store(x + (reverseRows ? 8 : 16), z1);
  Store(x + 24, z3);
}

template <bool kForward>
KIVO_AVX_INLINE void Leaf16(float* x, const LeafVectors& lv) {
  V p0 = Load(x), p1 = Load(x + 8), p2 = Load(x + 16), p3 = Load(x + 24);
  Dft4<kForward>(p0, p1, p2, p3);
  p1 = Rotate<kForward>(p1, lv.w16[0]);
  p2 = Rotate<kForward>(p2, lv.w16[1]);
  p3 = Rotate<kForward>(p3, lv.w16[2]);
  Transpose(p0, p1, p2, p3);
  Dft4<kForward>(p0, p1, p2, p3);
  StoreReversed(x, p0, p1, p2, p3, true);
}

// Two adjacent 8-point leaves.
template <bool kForward>
KIVO_AVX_INLINE void Leaf8Pair(float* x, const LeafVectors& lv) {
  const V r0 = Load(x), r1 = Load(x + 8), r2 = Load(x + 16), r3 = Load(x + 24);
  V y0 = _mm256_add_ps(r0, r1);
  V y1 = Rotate<kForward>(_mm256_sub_ps(r0, r1), lv.w8);
  V y2 = _mm256_add_ps(r2, r3);
  V y3 = Rotate<kForward>(_mm256_sub_ps(r2, r3), lv.w8);
  Transpose(y0, y1, y2, y3);
  Dft4<kForward>(y0, y1, y2, y3);
  StoreReversed(x, y0, y1, y2, y3, false);
}

template <bool kForward>
struct SplitRadix {
  const float* w;
  uint32_t nw;
  uint32_t points;
  LeafVectors leaves;

  void Transform(float* x, uint32_t p) const {
    if (p == 16) return Leaf16<kForward>(x, leaves);
    if (p == points)
      TopStage<kForward>(x, p, w + nw - p / 2, w[1]);
    else
      DirectStage<kForward>(x, p, w + nw - p, w[1]);
    if (p == 32) {
      Leaf16<kForward>(x, leaves);
      Leaf8Pair<kForward>(x + 32, leaves);
      return;
    }
    Transform(x, p / 2);
    Transform(x + p, p / 4);
    Transform(x + 3 * p / 2, p / 4);
  }
};

// Index a * M/4 + 4b + c goes to rev(c) * M/4 + rev(b) * 4 + rev(a): a 4 x 4
// block of rows a and lanes c, transposed with both orders reversed.
void BitReverse(float* a, uint32_t points) {
  const uint32_t bits = static_cast<uint32_t>(__builtin_ctz(points));
  const uint32_t middle = bits - 4;
  const uint32_t row = points / 2;  // floats between rows a
  for (uint32_t b = 0; b < (1u << middle); ++b) {
    const uint32_t rb = ReverseBits(b, middle);
    if (rb < b) continue;
    float* pb = a + 8 * b;
    float* prb = a + 8 * rb;
    V x0 = Load(pb), x1 = Load(pb + row), x2 = Load(pb + 2 * row), x3 = Load(pb + 3 * row);
    Transpose(x0, x2, x1, x3);
    if (rb != b) {
      V y0 = Load(prb), y1 = Load(prb + row), y2 = Load(prb + 2 * row), y3 = Load(prb + 3 * row);
      Transpose(y0, y2, y1, y3);
      Store(pb, y0);
      Store(pb + 2 * row, y2);
      Store(pb + row, y1);
      Store(pb + 3 * row, y3);
    }
    // Transpose(x0, x2, x1, x3) left lane c in x0, x2, x1, x3 for c = 0..3;
    // lane c goes to row rev(c).
    Store(prb, x0);
    Store(prb + 2 * row, x2);
    Store(prb + row, x1);
    Store(prb + 3 * row, x3);
  }
}

template <bool kForward>
void AvxFft(uint32_t n, float* a, const float* w, uint32_t nw) {
  const float r = w[1];
  const float c = w[nw - 16 + 4], s = w[nw - 16 + 5];
  const SplitRadix<kForward> fft{w,
                                 nw,
                                 n / 2,
                                 {{_mm256_setr_ps(1, 0, c, s, r, r, s, c), _mm256_setr_ps(1, 0, r, r, 0, 1, -r, r),
                                   _mm256_setr_ps(1, 0, s, c, -r, r, -c, -s)},
                                  _mm256_setr_ps(1, 0, r, r, 0, 1, -r, r)}};
  fft.Transform(a, n / 2);
  BitReverse(a, n / 2);
}

void AvxRealSplit(uint32_t n, float* a, const float* c, uint32_t nc, int32_t forward) {
  const uint32_t m = n / 2;
  const uint32_t step = 2 * nc / m;
  const __m128 half = _mm_set1_ps(0.5f);
  uint32_t j = 2;
  for (; j + 6 < m; j += 8) {
    const uint32_t kk = step * j / 2;
    __m128 wi, cr;
    if (step == 1) {
      wi = _mm_loadu_ps(c + kk);
      cr = _mm_loadu_ps(c + nc - kk - 3);
      cr = _mm_shuffle_ps(cr, cr, 0x1B);
    } else {
      wi = _mm_setr_ps(c[kk], c[kk + step], c[kk + 2 * step], c[kk + 3 * step]);
      cr = _mm_setr_ps(c[nc - kk], c[nc - kk - step], c[nc - kk - 2 * step], c[nc - kk - 3 * step]);
    }
    const __m128 wr = _mm_sub_ps(half, cr);
    const V wrd = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_unpacklo_ps(wr, wr)), _mm_unpackhi_ps(wr, wr), 1);
    const V wid = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_unpacklo_ps(wi, wi)), _mm_unpackhi_ps(wi, wi), 1);
    float* pj = a + j;
    float* pk = a + n - j - 6;
    const V vj = Load(pj);
    const V vk = ReversePairs(Load(pk));
    const V xv = _mm256_addsub_ps(vj, vk);
    const V p1 = _mm256_mul_ps(xv, wrd);
    const V p2 = _mm256_mul_ps(SwapPairs(xv), wid);
    const V y = forward ? _mm256_addsub_ps(p1, p2) : _mm256_add_ps(p1, NegateOdd(p2));
    Store(pj, _mm256_sub_ps(vj, y));
    Store(pk, ReversePairs(_mm256_add_ps(vk, NegateOdd(y))));
  }
  for (; j < m; j += 2) {
    const uint32_t k = n - j;
    const uint32_t kk = step * j / 2;
    const float wr = 0.5f - c[nc - kk];
    const float wi = c[kk];
    const float xr = a[j] - a[k];
    const float xi = a[j + 1] + a[k + 1];
    float yr, yi;
    if (forward) {
      yr = wr * xr - wi * xi;
      yi = wr * xi + wi * xr;
    } else {
      yr = wr * xr + wi * xi;
      yi = wr * xi - wi * xr;
    }
    a[j] -= yr;
    a[j + 1] -= yi;
    a[k] += yr;
    a[k + 1] -= yi;
  }
}

void AvxCosineRotation(uint32_t n, float* a, const float* c, uint32_t nc) {
  const uint32_t m = n / 2;
  const uint32_t step = nc / n;
  uint32_t j = 1;
  for (; j + 7 < m; j += 8) {
    const uint32_t kk = step * j;
    V cj, cn;
    if (step == 1) {
      cj = Load(c + kk);
      cn = Reverse(Load(c + nc - kk - 7));
    } else {
      float f[8], g[8];
      for (uint32_t i = 0; i < 8; ++i) {
        f[i] = c[kk + i * step];
        g[i] = c[nc - kk - i * step];
      }
      cj = Load(f);
      cn = Load(g);
    }
    const V wr = _mm256_sub_ps(cj, cn);
    const V wi = _mm256_add_ps(cj, cn);
    float* pk = a + n - j - 7;
    const V aj = Load(a + j);
    const V ak = Reverse(Load(pk));
    const V x = _mm256_sub_ps(_mm256_mul_ps(wi, aj), _mm256_mul_ps(wr, ak));
    Store(a + j, _mm256_add_ps(_mm256_mul_ps(wr, aj), _mm256_mul_ps(wi, ak)));
    Store(pk, Reverse(x));
  }
  for (; j < m; ++j) {
    const uint32_t k = n - j;
    const uint32_t kk = step * j;
    const float wr = c[kk] - c[nc - kk];
    const float wi = c[kk] + c[nc - kk];
    const float x = wi * a[j] - wr * a[k];
    a[j] = wr * a[j] + wi * a[k];
    a[k] = x;
  }
  a[m] *= c[0];
}

void AvxCosineFinish(uint32_t n, float* a) {
  const float x = a[0] - a[1];
  a[0] += a[1];
  uint32_t j = 2;
  for (; j + 7 < n; j += 8) {
    const V v = Load(a + j);
    const V s = SwapPairs(v);
    Store(a + j - 1, _mm256_blend_ps(_mm256_sub_ps(v, s), _mm256_add_ps(v, s), 0xAA));
  }
  for (; j < n; j += 2) {
    a[j - 1] = a[j] - a[j + 1];
    a[j] += a[j + 1];
  }
  a[n - 1] = x;
}

KIVO_AVX_INLINE __m128i ToSamples(__m128 x, __m256d scale) {
  __m256d p = _mm256_mul_pd(_mm256_cvtps_pd(x), scale);
  p = _mm256_min_pd(_mm256_max_pd(p, _mm256_set1_pd(-32768.0)), _mm256_set1_pd(32767.0));
  return _mm256_cvtpd_epi32(p);
}

void AvxToPcm(const float* left, const float* right, uint32_t count, float scale, int16_t* out) {
  const __m256d s = _mm256_set1_pd(scale);
  uint32_t i = 0;
  if (!right) {
    for (; i + 8 <= count; i += 8) {
      const __m128i lo = ToSamples(_mm_loadu_ps(left + i), s);
      const __m128i hi = ToSamples(_mm_loadu_ps(left + i + 4), s);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(lo, hi));
    }
  } else {
    for (; i + 4 <= count; i += 4) {
      const __m128i l = ToSamples(_mm_loadu_ps(left + i), s);
      const __m128i r = ToSamples(_mm_loadu_ps(right + i), s);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i),
                       _mm_unpacklo_epi16(_mm_packs_epi32(l, l), _mm_packs_epi32(r, r)));
    }
  }
  if (i < count) {
    const uint32_t step = right ? 2 : 1;
    plainAudioKernels.toPcm(left + i, right ? right + i : nullptr, count - i, scale, out + step * i);
  }
}

const AudioKernels avxTable = {
    "avx", AvxFft<false>, AvxFft<true>, AvxRealSplit, AvxCosineRotation, AvxCosineFinish, AvxToPcm,
};

}  // namespace

const AudioKernels* const avxAudioKernels = &avxTable;

}  // namespace kivo

#else

namespace kivo {
const AudioKernels* const avxAudioKernels = nullptr;
}  // namespace kivo

#endif
