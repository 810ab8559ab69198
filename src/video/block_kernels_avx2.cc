// SPDX-License-Identifier: BSD-2-Clause
// The Runs block mapping with AVX2 byte shuffles: each quarter of the scan is
// shuffled into every output position by the low four bits of its scan
// index, and bits 4 and 5 of the index pick the quarter. Built with AVX2
// enabled for this file alone and entered only where the processor has it.
#include "video/block_kernels.h"

#if defined(__i386__) || defined(__x86_64__)

#include <immintrin.h>

// Spilled wide registers need a 32-byte aligned stack, which the 32-bit ABI
// does not promise.
#if defined(__i386__)
#define KIVO_BLOCK_AVX2_ENTRY __attribute__((force_align_arg_pointer))
#else
#define KIVO_BLOCK_AVX2_ENTRY
#endif

namespace kivo {

KIVO_BLOCK_AVX2_ENTRY void RunMapAvx2(const uint8_t* scan, const uint8_t inverse[64], uint8_t* dst, uint32_t pitch) {
  __m256i quarter[4];
  for (int q = 0; q < 4; ++q)
    quarter[q] = _mm256_broadcastsi128_si256(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(scan + 16 * q)));
  for (int half = 0; half < 2; ++half) {
    __m256i index = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(inverse + 32 * half));
    // Bit 4 (then bit 5) of each index moved to bit 7, where the blend looks.
    __m256i pick4 = _mm256_slli_epi16(index, 3), pick5 = _mm256_slli_epi16(index, 2);
    __m256i low = _mm256_blendv_epi8(_mm256_shuffle_epi8(quarter[0], index),
                                     _mm256_shuffle_epi8(quarter[1], index), pick4);
    __m256i high = _mm256_blendv_epi8(_mm256_shuffle_epi8(quarter[2], index),
                                      _mm256_shuffle_epi8(quarter[3], index), pick4);
    __m256i rows = _mm256_blendv_epi8(low, high, pick5);
    __m128i r01 = _mm256_castsi256_si128(rows), r23 = _mm256_extracti128_si256(rows, 1);
    uint8_t* at = dst + size_t(4 * half) * pitch;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at), r01);
    _mm_storeh_pd(reinterpret_cast<double*>(at + pitch), _mm_castsi128_pd(r01));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at + 2 * pitch), r23);
    _mm_storeh_pd(reinterpret_cast<double*>(at + 3 * pitch), _mm_castsi128_pd(r23));
  }
}

}  // namespace kivo

#endif
