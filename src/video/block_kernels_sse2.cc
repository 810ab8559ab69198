// SPDX-License-Identifier: BSD-2-Clause
// The TwoColour block with SSE2: two rows per register, each pattern byte
// spread over its row's eight bytes and compared against the column bits.
// Built with SSE2 enabled for this file alone and entered only where the
// processor has it.
#include "video/block_kernels.h"

#if defined(__i386__) || defined(__x86_64__)

#include <emmintrin.h>

// Entered through a pointer from code that may keep the stack 4-byte aligned.
#if defined(__i386__)
#define KIVO_BLOCK_SSE2_ENTRY __attribute__((force_align_arg_pointer))
#else
#define KIVO_BLOCK_SSE2_ENTRY
#endif

namespace kivo {

KIVO_BLOCK_SSE2_ENTRY void TwoColourSse2(uint32_t c0, uint32_t c1, const uint8_t bits[8], uint8_t* dst, uint32_t pitch) {
  const __m128i column = _mm_set_epi8(-128, 64, 32, 16, 8, 4, 2, 1, -128, 64, 32, 16, 8, 4, 2, 1);
  const __m128i zero = _mm_set1_epi8(char(c0)), one = _mm_set1_epi8(char(c1));
  __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bits));
  b = _mm_unpacklo_epi8(b, b);  // each byte twice, then four and eight times
  __m128i quads[2] = {_mm_unpacklo_epi16(b, b), _mm_unpackhi_epi16(b, b)};
  for (int half = 0; half < 2; ++half) {
    __m128i pairs[2] = {_mm_unpacklo_epi32(quads[half], quads[half]),
                        _mm_unpackhi_epi32(quads[half], quads[half])};
    for (int k = 0; k < 2; ++k) {
      __m128i set = _mm_cmpeq_epi8(_mm_and_si128(pairs[k], column), column);
      __m128i rows = _mm_or_si128(_mm_and_si128(set, one), _mm_andnot_si128(set, zero));
      uint8_t* at = dst + size_t(4 * half + 2 * k) * pitch;
      _mm_storel_epi64(reinterpret_cast<__m128i*>(at), rows);
      _mm_storeh_pd(reinterpret_cast<double*>(at + pitch), _mm_castsi128_pd(rows));
    }
  }
}

}  // namespace kivo

#endif
