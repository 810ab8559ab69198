// SPDX-License-Identifier: BSD-2-Clause
// DCT model of the writer: quantiser tables from their rule, the decoder's
// fixed-point inverse transform with 32-bit wrapping arithmetic, and a
// least-squares forward fit through the same transform run in floating point.
#include "encode/video_dct.h"

#include <algorithm>
#include <cmath>

namespace kivo::encode {
namespace {

const uint8_t kIntraBase[64] = {
    16, 16, 16, 19, 16, 19, 22, 22, 22, 22, 26, 24, 26, 22, 22, 27,
    27, 27, 26, 26, 26, 29, 29, 29, 27, 27, 27, 26, 34, 34, 34, 29,
    29, 29, 27, 27, 37, 34, 34, 32, 32, 29, 29, 38, 37, 35, 35, 34,
    35, 40, 40, 40, 38, 38, 48, 48, 46, 46, 58, 56, 56, 69, 69, 83,
};
const uint8_t kInterBase[64] = {
    16, 17, 17, 18, 18, 18, 19, 19, 19, 19, 20, 20, 20, 20, 20, 21,
    21, 21, 21, 21, 21, 22, 22, 22, 22, 22, 22, 22, 23, 23, 23, 23,
    23, 23, 23, 23, 24, 24, 24, 25, 24, 24, 24, 25, 26, 26, 26, 26,
    25, 27, 27, 27, 27, 27, 28, 28, 28, 28, 30, 30, 30, 31, 31, 33,
};

struct QuantiserTables {
  int32_t intra[16][64];
  int32_t inter[16][64];
  QuantiserTables() {
    const double pi = std::acos(-1.0);
    const double scale[16] = {1.0,       4.0 / 3.0, 5.0 / 3.0, 2.0, 8.0 / 3.0, 7.0 / 2.0,
                              4.0,       5.0,       6.0,       8.0, 12.0,      17.0,
                              22.0,      28.0,      34.0,      44.0};
    double a[8];
    a[0] = 1.0;
    for (int k = 1; k < 8; ++k) a[k] = std::sqrt(2.0) * std::cos(k * pi / 16.0);
    for (int q = 0; q < 16; ++q) {
      for (int r = 0; r < 8; ++r) {
        for (int c = 0; c < 8; ++c) {
          auto entry = [&](uint8_t base) {
            double x = base * a[r] * a[c] * scale[q] * 4096.0 + 0.5;
            return int32_t(float(x));
          };
          intra[q][r * 8 + c] = entry(kIntraBase[r * 8 + c]);
          inter[q][r * 8 + c] = entry(kInterBase[r * 8 + c]);
        }
      }
    }
    // The stored table differs from its rule in these two entries.
    intra[15][10] -= 1;
    intra[15][17] -= 1;
  }
};

const QuantiserTables& Tables() {
  static const QuantiserTables tables;
  return tables;
}

// (x * c) >> 11 with the product wrapping at 32 bits.
inline uint32_t Mul(int32_t c, uint32_t x) { return uint32_t(int32_t(x * uint32_t(c)) >> 11); }

// The inverse transform's 1-D flow graph, over the decoder's wrapping
// integers or over reals; `mul(c, x)` scales by c / 2048.
template <typename T, typename Mul>
void Butterfly(const T e[8], T o[8], Mul mul) {
  T a0 = e[0] + e[4], a1 = e[0] - e[4];
  T a2 = e[2] + e[6];
  T t = mul(2896, e[2] - e[6]) - a2;
  T a4 = e[5] + e[3], a5 = e[5] - e[3];
  T a6 = e[1] + e[7], a7 = e[1] - e[7];
  T b0 = a4 + a6;
  T b1 = mul(3784, a5 + a7);
  T b2 = mul(-5352, a5) - b0 + b1;
  T b3 = mul(2896, a6 - a4) - b2;
  T b4 = mul(2217, a7) - b1 + b3;
  o[0] = a0 + a2 + b0;
  o[7] = a0 + a2 - b0;
  o[1] = a1 + t + b2;
  o[6] = a1 + t - b2;
  o[2] = a1 - t + b3;
  o[5] = a1 - t - b3;
  o[3] = a0 - a2 - b4;
  o[4] = a0 - a2 + b4;
}

// One 1-D pass; all sums wrap at 32 bits (held unsigned), shifts are
// arithmetic on the signed view.
void Transform1D(const uint32_t e[8], uint32_t o[8]) { Butterfly(e, o, Mul); }

struct Basis {
  double column[8][8];  // column[u][x]
  double norm[8];       // squared length of column u
  Basis() {
    for (int u = 0; u < 8; ++u) {
      double e[8] = {};
      e[u] = 1.0;
      InverseButterflyReal(e, column[u]);
      norm[u] = 0;
      for (int x = 0; x < 8; ++x) norm[u] += column[u][x] * column[u][x];
    }
  }
};

const Basis& TheBasis() {
  static const Basis basis;
  return basis;
}

uint32_t SquaredError(const uint8_t a[64], const uint8_t b[64]) {
  uint32_t sum = 0;
  for (int i = 0; i < 64; ++i) {
    int d = int(a[i]) - int(b[i]);
    sum += uint32_t(d * d);
  }
  return sum;
}

// Coefficients that bring the transform of `table` near `target` (samples
// as signed differences or levels).
void Fit(const double target[64], const int32_t* table, int32_t dcMin, int32_t dcMax,
         int16_t block[64]) {
  const Basis& basis = TheBasis();
  // Rows of the output come from the second pass; the result is divided by 256.
  for (int u = 0; u < 8; ++u) {
    for (int v = 0; v < 8; ++v) {
      double dot = 0;
      for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) dot += basis.column[u][r] * basis.column[v][c] * target[r * 8 + c];
      double e = dot * 256.0 / (basis.norm[u] * basis.norm[v]);
      double coefficient = std::nearbyint(e * 2048.0 / table[u * 8 + v]);
      int32_t lo = u == 0 && v == 0 ? dcMin : -32767;
      int32_t hi = u == 0 && v == 0 ? dcMax : 32767;
      block[u * 8 + v] = int16_t(std::clamp<double>(coefficient, lo, hi));
    }
  }
}

}  // namespace

// The same flow graph without shifts or wrapping: the linear map the fit
// inverts. Column u of kBasis is the 1-D output of a unit input at u.
void InverseButterflyReal(const double e[8], double o[8]) {
  Butterfly(e, o, [](double c, double x) { return x * c / 2048.0; });
}

int32_t IntraQuantiser(uint32_t q, uint32_t position) { return Tables().intra[q & 15][position & 63]; }
int32_t InterQuantiser(uint32_t q, uint32_t position) { return Tables().inter[q & 15][position & 63]; }

void InverseTransform(const int16_t block[64], const int32_t* table, int32_t out[64]) {
  uint32_t scratch[64];
  for (int c = 0; c < 8; ++c) {
    uint32_t e[8], o[8];
    for (int r = 0; r < 8; ++r)
      e[r] = uint32_t(int32_t(uint32_t(int32_t(block[r * 8 + c])) * uint32_t(table[r * 8 + c])) >> 11);
    Transform1D(e, o);
    for (int r = 0; r < 8; ++r) scratch[r * 8 + c] = o[r];
  }
  for (int r = 0; r < 8; ++r) {
    uint32_t o[8];
    Transform1D(scratch + r * 8, o);
    for (int c = 0; c < 8; ++c) out[r * 8 + c] = int32_t(o[c] + 127) >> 8;
  }
}

void ReconstructIntra(const int16_t block[64], uint32_t q, uint8_t out[64]) {
  int32_t result[64];
  InverseTransform(block, Tables().intra[q & 15], result);
  for (int i = 0; i < 64; ++i) out[i] = uint8_t(result[i]);
}

void ReconstructInter(const int16_t block[64], uint32_t q, const uint8_t prediction[64],
                      uint8_t out[64]) {
  int32_t result[64];
  InverseTransform(block, Tables().inter[q & 15], result);
  for (int i = 0; i < 64; ++i) out[i] = uint8_t(uint32_t(prediction[i]) + uint32_t(result[i]));
}

// Fits, then pulls the target in wherever a rounded result would leave 0 to
// 255 (the decoder stores the low 8 bits, so an overshoot would wrap), and
// fits again.
static uint32_t FitStored(const uint8_t pixels[64], const uint8_t* prediction, const int32_t* table,
                          int32_t dcMin, int32_t dcMax, int16_t block[64]) {
  // Samples at the ends of the range are aimed a little inside, since the
  // rounding of the coefficients moves every result by a few levels.
  double target[64];
  for (int i = 0; i < 64; ++i)
    target[i] = std::clamp<double>(pixels[i], 3, 252) - (prediction ? prediction[i] : 0);
  for (int round = 0; round < 8; ++round) {
    Fit(target, table, dcMin, dcMax, block);
    int32_t result[64];
    InverseTransform(block, table, result);
    bool inside = true;
    for (int i = 0; i < 64; ++i) {
      int32_t level = result[i] + (prediction ? prediction[i] : 0);
      if (level > 255) target[i] -= level - 253, inside = false;
      if (level < 0) target[i] += 2 - level, inside = false;
    }
    if (inside) break;
  }
  uint8_t got[64];
  int32_t result[64];
  InverseTransform(block, table, result);
  for (int i = 0; i < 64; ++i) got[i] = uint8_t(uint32_t(result[i]) + (prediction ? prediction[i] : 0));
  return SquaredError(got, pixels);
}

uint32_t FitIntra(const uint8_t pixels[64], uint32_t q, int16_t block[64]) {
  return FitStored(pixels, nullptr, Tables().intra[q & 15], 0, 2047, block);
}

uint32_t FitInter(const uint8_t pixels[64], const uint8_t prediction[64], uint32_t q,
                  int16_t block[64]) {
  return FitStored(pixels, prediction, Tables().inter[q & 15], -1023, 1023, block);
}

}  // namespace kivo::encode
