// SPDX-License-Identifier: BSD-2-Clause
// The plain inverse DCT: dequantising column pass into 32-bit scratch, row
// pass with rounding, then the put, doubled-put and add stores.
#include "video/idct.h"

#include <cstddef>
#include <cstring>

#include "base/processor.h"

namespace kivo {
namespace {

// (x * c) >> 11 on the wrapped 32-bit product, the shift sign-propagating.
inline uint32_t M(int32_t c, uint32_t x) { return uint32_t(int32_t(x * uint32_t(c)) >> 11); }

// Unsigned arithmetic keeps every sum and product wrapping at 32 bits.
inline void Transform8(const uint32_t e[8], uint32_t o[8]) {
  uint32_t a0 = e[0] + e[4], a1 = e[0] - e[4];
  uint32_t a2 = e[2] + e[6];
  uint32_t t = M(2896, e[2] - e[6]) - a2;
  uint32_t a4 = e[5] + e[3], a5 = e[5] - e[3];
  uint32_t a6 = e[1] + e[7], a7 = e[1] - e[7];
  uint32_t b0 = a4 + a6;
  uint32_t b1 = M(3784, a5 + a7);
  uint32_t b2 = M(-5352, a5) - b0 + b1;
  uint32_t b3 = M(2896, a6 - a4) - b2;
  uint32_t b4 = M(2217, a7) - b1 + b3;
  o[0] = a0 + a2 + b0;
  o[7] = a0 + a2 - b0;
  o[1] = a1 + t + b2;
  o[6] = a1 + t - b2;
  o[2] = a1 - t + b3;
  o[5] = a1 - t - b3;
  o[3] = a0 - a2 - b4;
  o[4] = a0 - a2 + b4;
}

inline uint32_t Dequantise(int16_t coefficient, int32_t q) {
  return uint32_t(int32_t(uint32_t(int32_t(coefficient)) * uint32_t(q)) >> 11);
}

}  // namespace

// The column pass works on rows of eight columns, the same steps for every
// column with no branch between them, so that the compiler may take several
// columns per instruction. A column whose AC coefficients are zero gets
// e_0 from the transform as well, so no column needs a shortcut; blocks
// whose coefficients lie in the first two rows leave out the zero rows'
// dequantising and terms, and those with only a first row (every column
// pass giving e_0 to all rows) take one row pass for all eight rows.
void IdctPlain(const int16_t block[64], const int32_t quantiser[64], int32_t out[64]) {
  uint32_t rows[8][8];
  int16_t later = 0, second = 0;
  for (int i = 16; i < 64; ++i) later |= block[i];
  for (int i = 8; i < 16; ++i) second |= block[i];
  if ((later | second) == 0) {
    uint32_t e[8], o[8];
    for (int c = 0; c < 8; ++c) e[c] = Dequantise(block[c], quantiser[c]);
    Transform8(e, o);
    for (int c = 0; c < 8; ++c) out[c] = int32_t(o[c] + 127) >> 8;
    for (int r = 1; r < 8; ++r) memcpy(out + 8 * r, out, 8 * sizeof(int32_t));
    return;
  }
  const int count = later ? 8 : 2;
  for (int r = 0; r < count; ++r)
    for (int c = 0; c < 8; ++c) rows[r][c] = Dequantise(block[8 * r + c], quantiser[8 * r + c]);
  if (later) {
    for (int c = 0; c < 8; ++c) {
      uint32_t e[8], o[8];
      for (int r = 0; r < 8; ++r) e[r] = rows[r][c];
      Transform8(e, o);
      for (int r = 0; r < 8; ++r) rows[r][c] = o[r];
    }
  } else {
    // Transform8 with inputs 2 to 7 zero, the terms they would add left out.
    for (int c = 0; c < 8; ++c) {
      uint32_t e0 = rows[0][c], e1 = rows[1][c];
      uint32_t b1 = M(3784, e1);
      uint32_t b2 = b1 - e1;
      uint32_t b3 = M(2896, e1) - b2;
      uint32_t b4 = M(2217, e1) - b1 + b3;
      rows[0][c] = e0 + e1;
      rows[7][c] = e0 - e1;
      rows[1][c] = e0 + b2;
      rows[6][c] = e0 - b2;
      rows[2][c] = e0 + b3;
      rows[5][c] = e0 - b3;
      rows[3][c] = e0 - b4;
      rows[4][c] = e0 + b4;
    }
  }
  // The row pass likewise: every row the same steps (a row whose inputs 1
  // to 7 are zero gets input 0 everywhere from the transform too).
  for (int r = 0; r < 8; ++r) {
    uint32_t o[8];
    Transform8(rows[r], o);
    for (int c = 0; c < 8; ++c) out[8 * r + c] = int32_t(o[c] + 127) >> 8;
  }
}

uint8_t IdctDcOnly(int16_t dc, const int32_t quantiser[64]) {
  return uint8_t(int32_t(Dequantise(dc, quantiser[0]) + 127) >> 8);
}

namespace {

// The stores, from the int32 results or from their low bytes alike. The
// byte loops take dst (and prediction) as restrict, so that the compiler
// may do a row at a time.
template <typename T>
inline void Put(uint8_t* __restrict dst, uint32_t pitch, const T* results) {
  for (int r = 0; r < 8; ++r) {
    uint8_t* __restrict row = dst + size_t(r) * pitch;
    for (int c = 0; c < 8; ++c) row[c] = uint8_t(results[8 * r + c]);
  }
}

template <typename T>
inline void Narrow(uint8_t* __restrict out, const T* results) {
  for (int i = 0; i < 64; ++i) out[i] = uint8_t(results[i]);
}

template <typename T>
inline void PutDoubled(uint8_t* dst, uint32_t pitch, const T* results) {
  for (int r = 0; r < 8; ++r) {
    uint8_t line[16];
    for (int c = 0; c < 8; ++c) line[2 * c] = line[2 * c + 1] = uint8_t(results[8 * r + c]);
    memcpy(dst + (2 * r) * pitch, line, 16);
    memcpy(dst + (2 * r + 1) * pitch, line, 16);
  }
}

template <typename T>
inline void Add(uint8_t* __restrict dst, uint32_t pitch, const uint8_t* __restrict prediction,
                const T* results) {
  for (int r = 0; r < 8; ++r) {
    uint8_t* __restrict row = dst + size_t(r) * pitch;
    for (int c = 0; c < 8; ++c)
      row[c] = uint8_t(uint32_t(prediction[8 * r + c]) + uint32_t(results[8 * r + c]));
  }
}

// Calls store with the low bytes where the transform has a form that gives
// them at once (AVX2), else with its int32 results: a pass that only
// narrows them would cost more than the store's own narrowing.
template <typename Store>
inline void Results(const int16_t block[64], const int32_t quantiser[64], IdctTransform transform,
                    Store store) {
#if defined(__i386__) || defined(__x86_64__)
  if (transform == IdctAvx2) {
    uint8_t bytes[64];
    IdctAvx2LowBytes(block, quantiser, bytes);
    store(bytes);
    return;
  }
#endif
  int32_t results[64];
  transform(block, quantiser, results);
  store(results);
}

}  // namespace

void IdctLowBytes(const int16_t block[64], const int32_t quantiser[64], uint8_t out[64],
                  IdctTransform transform) {
  Results(block, quantiser, transform, [out](const auto* results) { Narrow(out, results); });
}

void IdctPut(uint8_t* dst, uint32_t pitch, const int16_t block[64], const int32_t quantiser[64],
             IdctTransform transform) {
  Results(block, quantiser, transform, [&](const auto* results) { Put(dst, pitch, results); });
}

void IdctPutDoubled(uint8_t* dst, uint32_t pitch, const int16_t block[64],
                    const int32_t quantiser[64], IdctTransform transform) {
  Results(block, quantiser, transform,
          [&](const auto* results) { PutDoubled(dst, pitch, results); });
}

void IdctAdd(uint8_t* dst, uint32_t pitch, const int16_t block[64], const int32_t quantiser[64],
             const uint8_t* prediction, IdctTransform transform) {
  Results(block, quantiser, transform,
          [&](const auto* results) { Add(dst, pitch, prediction, results); });
}

IdctTransform IdctFor(uint32_t features) {
#if defined(__i386__) || defined(__x86_64__)
  if (features & kCpuAvx2) return IdctAvx2;
  if (features & kCpuSse2) return IdctSse2;
#endif
  return IdctPlain;
}

}  // namespace kivo
