// SPDX-License-Identifier: BSD-2-Clause
// The inverse DCT with AVX2: a whole row of eight 32-bit lanes per register,
// so each pass is one eight-point transform over all columns (then all rows)
// at once, with wrapping 32-bit products from one multiply. Gives exactly
// the plain transform's results. Built with AVX2 enabled for this file alone
// (see the kernel rules in CMakeLists.txt) and entered only where the
// processor has it.
#include "video/idct.h"

#if defined(__i386__) || defined(__x86_64__)

#include <immintrin.h>

// The 32-bit ABI does not promise the 32-byte stack alignment that spilled
// wide registers need: the entry realigns it and takes the helpers inline.
#if defined(__i386__)
#define KIVO_IDCT_AVX2_ENTRY __attribute__((force_align_arg_pointer, flatten))
#else
#define KIVO_IDCT_AVX2_ENTRY __attribute__((flatten))
#endif

namespace kivo {
namespace {

// The lane operations of the shared flow graph.
struct Avx2 {
  using V = __m256i;
  static inline __attribute__((always_inline)) V Add(V a, V b) { return _mm256_add_epi32(a, b); }
  static inline __attribute__((always_inline)) V Sub(V a, V b) { return _mm256_sub_epi32(a, b); }
  static inline __attribute__((always_inline)) V M(int32_t c, V x) {
    return _mm256_srai_epi32(_mm256_mullo_epi32(x, _mm256_set1_epi32(c)), 11);
  }
};

#include "video/idct_flow.h"

inline __attribute__((always_inline)) void Transpose8(__m256i r[8]) {
  __m256i t[8], u[8];
  for (int i = 0; i < 8; i += 2) {
    t[i] = _mm256_unpacklo_epi32(r[i], r[i + 1]);
    t[i + 1] = _mm256_unpackhi_epi32(r[i], r[i + 1]);
  }
  for (int i = 0; i < 8; i += 4) {
    u[i] = _mm256_unpacklo_epi64(t[i], t[i + 2]);
    u[i + 1] = _mm256_unpackhi_epi64(t[i], t[i + 2]);
    u[i + 2] = _mm256_unpacklo_epi64(t[i + 1], t[i + 3]);
    u[i + 3] = _mm256_unpackhi_epi64(t[i + 1], t[i + 3]);
  }
  for (int i = 0; i < 4; ++i) {
    r[i] = _mm256_permute2x128_si256(u[i], u[i + 4], 0x20);
    r[i + 4] = _mm256_permute2x128_si256(u[i], u[i + 4], 0x31);
  }
}

// A block with coefficients in its first row only: every column pass gives
// e_0 to all rows, so the eight rows are one row's transform. That row is
// taken across the lanes: register c holds input c in every lane, and
// output c is then picked from lane c of register c. Gives the rounded row.
inline __attribute__((always_inline)) __m256i FirstRowOnly(const int16_t block[64],
                                                           const int32_t quantiser[64]) {
  __m256i coefficients =
      _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block)));
  __m256i q = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(quantiser));
  __m256i row = _mm256_srai_epi32(_mm256_mullo_epi32(coefficients, q), 11);
  __m256i e[8];
  for (int c = 0; c < 8; ++c) e[c] = _mm256_permutevar8x32_epi32(row, _mm256_set1_epi32(c));
  Transform8<Avx2>(e, e);
  __m256i x = e[0];
  x = _mm256_blend_epi32(x, e[1], 0x02);
  x = _mm256_blend_epi32(x, e[2], 0x04);
  x = _mm256_blend_epi32(x, e[3], 0x08);
  x = _mm256_blend_epi32(x, e[4], 0x10);
  x = _mm256_blend_epi32(x, e[5], 0x20);
  x = _mm256_blend_epi32(x, e[6], 0x40);
  x = _mm256_blend_epi32(x, e[7], 0x80);
  return _mm256_srai_epi32(_mm256_add_epi32(x, _mm256_set1_epi32(127)), 8);
}

// The transform up to its rounded results, handed to `sink` either as one
// row that every row repeats (SameRows, lane c = column c) or as columns
// (Columns, o[c] lane r = row r of column c).
template <typename Sink>
inline __attribute__((always_inline)) void Transform(const int16_t block[64],
                                                     const int32_t quantiser[64], Sink& sink) {
  // rows[r]: row r, column c in lane c. The column pass works on all eight
  // columns at once.
  __m256i rows[8];
  // Blocks whose coefficients lie in the first two rows (most smooth ones)
  // skip the dequantising and the terms of the zero rows; those with a
  // first row only need one row pass.
  __m256i later = _mm256_setzero_si256();
  for (int r = 2; r < 8; r += 2)
    later = _mm256_or_si256(later,
                            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 8 * r)));
  const bool firstTwo = _mm256_testz_si256(later, later) != 0;
  if (firstTwo) {
    __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8));
    if (_mm_testz_si128(second, second)) {
      sink.SameRows(FirstRowOnly(block, quantiser));
      return;
    }
  }
  const int count = firstTwo ? 2 : 8;
  for (int r = 0; r < count; ++r) {
    __m256i coefficients =
        _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * r)));
    __m256i q = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(quantiser + 8 * r));
    rows[r] = _mm256_srai_epi32(_mm256_mullo_epi32(coefficients, q), 11);
  }
  if (firstTwo)
    Transform8FirstTwo<Avx2>(rows);
  else
    Transform8<Avx2>(rows, rows);
  // Columns into lanes: register c holds column c of every row.
  Transpose8(rows);
  __m256i o[8];
  Transform8<Avx2>(rows, o);
  const __m256i round = _mm256_set1_epi32(127);
  for (int c = 0; c < 8; ++c) o[c] = _mm256_srai_epi32(_mm256_add_epi32(o[c], round), 8);
  sink.Columns(o);
}

struct Results {
  int32_t* out;
  inline __attribute__((always_inline)) void SameRows(__m256i x) {
    for (int r = 0; r < 8; ++r) _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 8 * r), x);
  }
  inline __attribute__((always_inline)) void Columns(__m256i o[8]) {
    Transpose8(o);
    for (int r = 0; r < 8; ++r) _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 8 * r), o[r]);
  }
};

// The low bytes, row-major.
struct LowBytes {
  uint8_t* out;
  inline __attribute__((always_inline)) void SameRows(__m256i x) {
    // Byte 0 of each lane to the first 4 bytes of its half, then both
    // halves' words side by side in every 64-bit lane.
    const __m256i pick = _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                          0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    __m256i row = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(x, pick),
                                              _mm256_setr_epi32(0, 4, 0, 4, 0, 4, 0, 4));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), row);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), row);
  }
  inline __attribute__((always_inline)) void Columns(__m256i o[8]) {
    // Lane r of x: the low bytes of columns 0-3 of row r; of y: columns 4-7.
    const __m256i low = _mm256_set1_epi32(0xFF);
    __m256i half[2];
    for (int h = 0; h < 2; ++h) {
      const __m256i* c = o + 4 * h;
      __m256i b0 = _mm256_and_si256(c[0], low);
      __m256i b1 = _mm256_srli_epi32(_mm256_slli_epi32(c[1], 24), 16);
      __m256i b2 = _mm256_srli_epi32(_mm256_slli_epi32(c[2], 24), 8);
      __m256i b3 = _mm256_slli_epi32(c[3], 24);
      half[h] = _mm256_or_si256(_mm256_or_si256(b0, b1), _mm256_or_si256(b2, b3));
    }
    // Rows 0, 1 | 4, 5 and rows 2, 3 | 6, 7, then in order.
    __m256i lo = _mm256_unpacklo_epi32(half[0], half[1]);
    __m256i hi = _mm256_unpackhi_epi32(half[0], half[1]);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permute2x128_si256(lo, hi, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32),
                        _mm256_permute2x128_si256(lo, hi, 0x31));
  }
};

}  // namespace

KIVO_IDCT_AVX2_ENTRY void IdctAvx2(const int16_t block[64], const int32_t quantiser[64],
                                   int32_t out[64]) {
  Results sink{out};
  Transform(block, quantiser, sink);
}

KIVO_IDCT_AVX2_ENTRY void IdctAvx2LowBytes(const int16_t block[64], const int32_t quantiser[64],
                                           uint8_t out[64]) {
  LowBytes sink{out};
  Transform(block, quantiser, sink);
}

}  // namespace kivo

#endif
