// SPDX-License-Identifier: BSD-2-Clause
// The inverse DCT with SSE2: four columns (then four rows) per register in
// 32-bit lanes, the wrapping 32-bit products built from two unsigned 32x32
// multiplies. Gives exactly the plain transform's results. Built with SSE2
// enabled for this file alone (see the kernel rules in CMakeLists.txt).
#include "video/idct.h"

#if defined(__i386__) || defined(__x86_64__)

#include <emmintrin.h>

namespace kivo {
namespace {

// Low 32 bits of each lane's product: what wrapping multiplication gives.
inline __m128i MulLow(__m128i a, __m128i b) {
  __m128i even = _mm_mul_epu32(a, b);
  __m128i odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), _mm_srli_epi64(b, 32));
  return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                            _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
}

// The lane operations of the shared flow graph.
struct Sse2 {
  using V = __m128i;
  static inline V Add(V a, V b) { return _mm_add_epi32(a, b); }
  static inline V Sub(V a, V b) { return _mm_sub_epi32(a, b); }
  static inline V M(int32_t c, V x) { return _mm_srai_epi32(MulLow(x, _mm_set1_epi32(c)), 11); }
};

#include "video/idct_flow.h"

inline void Transpose4(__m128i& r0, __m128i& r1, __m128i& r2, __m128i& r3) {
  __m128i t0 = _mm_unpacklo_epi32(r0, r1), t1 = _mm_unpacklo_epi32(r2, r3);
  __m128i t2 = _mm_unpackhi_epi32(r0, r1), t3 = _mm_unpackhi_epi32(r2, r3);
  r0 = _mm_unpacklo_epi64(t0, t1);
  r1 = _mm_unpackhi_epi64(t0, t1);
  r2 = _mm_unpacklo_epi64(t2, t3);
  r3 = _mm_unpackhi_epi64(t2, t3);
}

// A block with coefficients in its first row only: every column pass gives
// e_0 to all rows, so the eight rows are one row's transform. That row is
// taken across the lanes: register c holds input c in every lane, and
// output c is then gathered from lane 0 of register c.
inline void FirstRowOnly(const int16_t block[64], const int32_t quantiser[64], int32_t out[64]) {
  __m128i coefficients = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
  __m128i sign = _mm_srai_epi16(coefficients, 15);
  __m128i lo = _mm_unpacklo_epi16(coefficients, sign), hi = _mm_unpackhi_epi16(coefficients, sign);
  const __m128i* q = reinterpret_cast<const __m128i*>(quantiser);
  lo = _mm_srai_epi32(MulLow(lo, _mm_loadu_si128(q)), 11);
  hi = _mm_srai_epi32(MulLow(hi, _mm_loadu_si128(q + 1)), 11);
  __m128i e[8] = {_mm_shuffle_epi32(lo, 0x00), _mm_shuffle_epi32(lo, 0x55),
                  _mm_shuffle_epi32(lo, 0xAA), _mm_shuffle_epi32(lo, 0xFF),
                  _mm_shuffle_epi32(hi, 0x00), _mm_shuffle_epi32(hi, 0x55),
                  _mm_shuffle_epi32(hi, 0xAA), _mm_shuffle_epi32(hi, 0xFF)};
  Transform8<Sse2>(e, e);
  const __m128i round = _mm_set1_epi32(127);
  __m128i x0 = _mm_unpacklo_epi64(_mm_unpacklo_epi32(e[0], e[1]), _mm_unpacklo_epi32(e[2], e[3]));
  __m128i x1 = _mm_unpacklo_epi64(_mm_unpacklo_epi32(e[4], e[5]), _mm_unpacklo_epi32(e[6], e[7]));
  x0 = _mm_srai_epi32(_mm_add_epi32(x0, round), 8);
  x1 = _mm_srai_epi32(_mm_add_epi32(x1, round), 8);
  for (int r = 0; r < 8; ++r) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * r), x0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * r + 4), x1);
  }
}

}  // namespace

void IdctSse2(const int16_t block[64], const int32_t quantiser[64], int32_t out[64]) {
  // half[h][r]: row r of the column results for columns 4h .. 4h + 3.
  __m128i half[2][8];
  // Blocks whose coefficients lie in the first two rows (most smooth ones)
  // skip the dequantising and the terms of the zero rows; those with a
  // first row only need one row pass.
  __m128i later = _mm_setzero_si128();
  for (int r = 2; r < 8; ++r)
    later = _mm_or_si128(later, _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * r)));
  __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8));
  if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(later, second), _mm_setzero_si128())) == 0xFFFF) {
    FirstRowOnly(block, quantiser, out);
    return;
  }
  const bool firstTwo =
      _mm_movemask_epi8(_mm_cmpeq_epi8(later, _mm_setzero_si128())) == 0xFFFF;
  const int rows = firstTwo ? 2 : 8;
  for (int r = 0; r < rows; ++r) {
    __m128i coefficients = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * r));
    __m128i sign = _mm_srai_epi16(coefficients, 15);
    __m128i lo = _mm_unpacklo_epi16(coefficients, sign), hi = _mm_unpackhi_epi16(coefficients, sign);
    const __m128i* q = reinterpret_cast<const __m128i*>(quantiser + 8 * r);
    half[0][r] = _mm_srai_epi32(MulLow(lo, _mm_loadu_si128(q)), 11);
    half[1][r] = _mm_srai_epi32(MulLow(hi, _mm_loadu_si128(q + 1)), 11);
  }
  if (firstTwo) {
    Transform8FirstTwo<Sse2>(half[0]);
    Transform8FirstTwo<Sse2>(half[1]);
  } else {
    Transform8<Sse2>(half[0], half[0]);
    Transform8<Sse2>(half[1], half[1]);
  }
  // Transpose so that each register holds one column for four rows:
  // cols[h][c] = column c for rows 4h .. 4h + 3.
  __m128i cols[2][8];
  for (int h = 0; h < 2; ++h) {
    for (int b = 0; b < 2; ++b) {
      __m128i r0 = half[b][4 * h], r1 = half[b][4 * h + 1];
      __m128i r2 = half[b][4 * h + 2], r3 = half[b][4 * h + 3];
      Transpose4(r0, r1, r2, r3);
      cols[h][4 * b] = r0;
      cols[h][4 * b + 1] = r1;
      cols[h][4 * b + 2] = r2;
      cols[h][4 * b + 3] = r3;
    }
  }
  const __m128i round = _mm_set1_epi32(127);
  for (int h = 0; h < 2; ++h) {
    __m128i o[8];
    Transform8<Sse2>(cols[h], o);
    for (int c = 0; c < 8; ++c) o[c] = _mm_srai_epi32(_mm_add_epi32(o[c], round), 8);
    // Back to rows: out row 4h + k, columns 0-3 and 4-7.
    for (int b = 0; b < 2; ++b) {
      __m128i r0 = o[4 * b], r1 = o[4 * b + 1], r2 = o[4 * b + 2], r3 = o[4 * b + 3];
      Transpose4(r0, r1, r2, r3);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * (4 * h) + 4 * b), r0);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * (4 * h + 1) + 4 * b), r1);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * (4 * h + 2) + 4 * b), r2);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * (4 * h + 3) + 4 * b), r3);
    }
  }
}

}  // namespace kivo

#endif
