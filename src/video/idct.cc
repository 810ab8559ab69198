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

void IdctPlain(const int16_t block[64], const int32_t quantiser[64], int32_t out[64]) {
  uint32_t scratch[64];
  for (int c = 0; c < 8; ++c) {
    uint32_t e[8], o[8];
    bool acZero = true;
    for (int r = 0; r < 8; ++r) {
      e[r] = Dequantise(block[8 * r + c], quantiser[8 * r + c]);
      if (r && block[8 * r + c]) acZero = false;
    }
    if (acZero) {
      for (int r = 0; r < 8; ++r) scratch[8 * r + c] = e[0];
      continue;
    }
    Transform8(e, o);
    for (int r = 0; r < 8; ++r) scratch[8 * r + c] = o[r];
  }
  for (int r = 0; r < 8; ++r) {
    const uint32_t* in = scratch + 8 * r;
    // As for the columns: with inputs 1 to 7 zero every output is input 0.
    if ((in[1] | in[2] | in[3] | in[4] | in[5] | in[6] | in[7]) == 0) {
      int32_t v = int32_t(in[0] + 127) >> 8;
      for (int c = 0; c < 8; ++c) out[8 * r + c] = v;
      continue;
    }
    uint32_t o[8];
    Transform8(in, o);
    for (int c = 0; c < 8; ++c) out[8 * r + c] = int32_t(o[c] + 127) >> 8;
  }
}

// The byte loops take dst (and prediction) as restrict, so that the
// compiler may do a row at a time.
void IdctPut(uint8_t* __restrict dst, uint32_t pitch, const int16_t block[64],
             const int32_t quantiser[64], IdctTransform transform) {
  int32_t out[64];
  transform(block, quantiser, out);
  for (int r = 0; r < 8; ++r) {
    uint8_t* __restrict row = dst + size_t(r) * pitch;
    for (int c = 0; c < 8; ++c) row[c] = uint8_t(out[8 * r + c]);
  }
}

void IdctPutDoubled(uint8_t* dst, uint32_t pitch, const int16_t block[64],
                    const int32_t quantiser[64], IdctTransform transform) {
  int32_t out[64];
  transform(block, quantiser, out);
  for (int r = 0; r < 8; ++r) {
    uint8_t line[16];
    for (int c = 0; c < 8; ++c) line[2 * c] = line[2 * c + 1] = uint8_t(out[8 * r + c]);
    memcpy(dst + (2 * r) * pitch, line, 16);
    memcpy(dst + (2 * r + 1) * pitch, line, 16);
  }
}

void IdctAdd(uint8_t* __restrict dst, uint32_t pitch, const int16_t block[64],
             const int32_t quantiser[64], const uint8_t* __restrict prediction,
             IdctTransform transform) {
  int32_t out[64];
  transform(block, quantiser, out);
  for (int r = 0; r < 8; ++r) {
    uint8_t* __restrict row = dst + size_t(r) * pitch;
    for (int c = 0; c < 8; ++c)
      row[c] = uint8_t(uint32_t(prediction[8 * r + c]) + uint32_t(out[8 * r + c]));
  }
}

IdctTransform IdctFor(uint32_t features) {
#if defined(__i386__) || defined(__x86_64__)
  if (features & kCpuAvx2) return IdctAvx2;
  if (features & kCpuSse2) return IdctSse2;
#endif
  return IdctPlain;
}

}  // namespace kivo
