// SPDX-License-Identifier: BSD-2-Clause
// The plain inner loops of the audio decoder: the split-radix FFT over the
// decoder's twiddle section, the real split, the cosine transform's passes
// and the conversion to 16 bits. The AVX table repeats these operations
// lane by lane; change one and the other together.
#include <bit>
#include <cmath>
#include <utility>

#include "audio/audio_kernels.h"
#include "audio/audio_twiddles.h"

namespace kivo {
namespace {

// z *= (c - i s) backward, z *= (c + i s) forward.
template <bool kForward>
inline void Rotate(float* z, float c, float s) {
  const float re = z[0], im = z[1];
  if (kForward) {
    z[0] = re * c - im * s;
    z[1] = im * c + re * s;
  } else {
    z[0] = re * c + im * s;
    z[1] = im * c - re * s;
  }
}

// u = t1 - i t2 and v = t1 + i t2 backward; the other way round forward.
template <bool kForward>
inline void QuarterTurns(const float* t1, const float* t2, float* u, float* v) {
  float* minus = kForward ? v : u;
  float* plus = kForward ? u : v;
  minus[0] = t1[0] + t2[1];
  minus[1] = t1[1] - t2[0];
  plus[0] = t1[0] - t2[1];
  plus[1] = t1[1] + t2[0];
}

// A 4-point DFT of four complex values, in order.
template <bool kForward>
inline void Dft4(float (*p)[2]) {
  const float s[2] = {p[0][0] + p[2][0], p[0][1] + p[2][1]};
  const float e[2] = {p[1][0] + p[3][0], p[1][1] + p[3][1]};
  const float t1[2] = {p[0][0] - p[2][0], p[0][1] - p[2][1]};
  const float t2[2] = {p[1][0] - p[3][0], p[1][1] - p[3][1]};
  p[0][0] = s[0] + e[0];
  p[0][1] = s[1] + e[1];
  p[2][0] = s[0] - e[0];
  p[2][1] = s[1] - e[1];
  QuarterTurns<kForward>(t1, t2, p[1], p[3]);
}

constexpr uint32_t kReverse2[4] = {0, 2, 1, 3};

// The fixed twiddles of the 16- and 8-point leaves, (cos, sin) of
// 2 pi k m / 16 for m = 1, 2, 3 and of 2 pi k / 8.
struct LeafTwiddles {
  float w16[3][4][2];
  float w8[4][2];
};

LeafTwiddles MakeLeafTwiddles(const float* w, uint32_t nw) {
  const float r = w[1];
  const float c = w[nw - 16 + 4], s = w[nw - 16 + 5];  // 22.5 degrees
  return {{{{1, 0}, {c, s}, {r, r}, {s, c}},
           {{1, 0}, {r, r}, {0, 1}, {-r, r}},
           {{1, 0}, {s, c}, {-r, r}, {-c, -s}}},
          {{1, 0}, {r, r}, {0, 1}, {-r, r}}};
}

// 16 points: a radix-4 step with twiddles, then four 4-point DFTs; the
// outputs land in bit-reversed order like those of the split-radix steps.
template <bool kForward>
void Leaf16(float* x, const LeafTwiddles& t) {
  float y[4][4][2];
  for (uint32_t k = 0; k < 4; ++k) {
    float p[4][2];
    for (uint32_t q = 0; q < 4; ++q) {
      p[q][0] = x[2 * (k + 4 * q)];
      p[q][1] = x[2 * (k + 4 * q) + 1];
    }
    Dft4<kForward>(p);
    for (uint32_t m = 0; m < 4; ++m) {
      y[m][k][0] = p[m][0];
      y[m][k][1] = p[m][1];
      if (k && m) Rotate<kForward>(y[m][k], t.w16[m - 1][k][0], t.w16[m - 1][k][1]);
    }
  }
  for (uint32_t m = 0; m < 4; ++m) {
    Dft4<kForward>(y[m]);
    for (uint32_t k = 0; k < 4; ++k) {
      float* out = x + 2 * (4 * kReverse2[m] + kReverse2[k]);
      out[0] = y[m][k][0];
      out[1] = y[m][k][1];
    }
  }
}

// 8 points: a radix-2 step with twiddles, then two 4-point DFTs.
template <bool kForward>
void Leaf8(float* x, const LeafTwiddles& t) {
  float y[2][4][2];
  for (uint32_t k = 0; k < 4; ++k) {
    const float* a = x + 2 * k;
    const float* b = x + 2 * (k + 4);
    y[0][k][0] = a[0] + b[0];
    y[0][k][1] = a[1] + b[1];
    y[1][k][0] = a[0] - b[0];
    y[1][k][1] = a[1] - b[1];
    if (k) Rotate<kForward>(y[1][k], t.w8[k][0], t.w8[k][1]);
  }
  for (uint32_t m = 0; m < 2; ++m) {
    Dft4<kForward>(y[m]);
    for (uint32_t k = 0; k < 4; ++k) {
      float* out = x + 2 * (4 * m + kReverse2[k]);
      out[0] = y[m][k][0];
      out[1] = y[m][k][1];
    }
  }
}

// One split-radix step at index k of a stage with quarter length L.
template <bool kForward>
inline void SplitButterfly(float* x, uint32_t quarter, uint32_t k, const Twiddle* t) {
  float* a = x + 2 * k;
  float* b = a + 2 * quarter;
  float* c = a + 4 * quarter;
  float* d = a + 6 * quarter;
  const float t1[2] = {a[0] - c[0], a[1] - c[1]};
  const float t2[2] = {b[0] - d[0], b[1] - d[1]};
  a[0] = a[0] + c[0];
  a[1] = a[1] + c[1];
  b[0] = b[0] + d[0];
  b[1] = b[1] + d[1];
  QuarterTurns<kForward>(t1, t2, c, d);
  if (t) {
    Rotate<kForward>(c, t->c1, t->s1);
    Rotate<kForward>(d, t->c3, t->s3);
  }
}

template <bool kForward>
struct SplitRadix {
  const float* w;
  uint32_t nw;
  uint32_t points;
  LeafTwiddles leaves;

  void Transform(float* x, uint32_t p) const {
    if (p == 16) return Leaf16<kForward>(x, leaves);
    if (p == 8) return Leaf8<kForward>(x, leaves);
    const uint32_t quarter = p / 4;
    const float r = w[1];
    if (p == points) {
      const float* top = w + nw - p / 2;  // the table of every other angle
      SplitButterfly<kForward>(x, quarter, 0, nullptr);
      for (uint32_t k = 1; k < quarter; ++k) {
        const Twiddle t = TopTwiddle(top, p, k, r, top[2], top[3]);
        SplitButterfly<kForward>(x, quarter, k, &t);
      }
    } else {
      const float* table = w + nw - p;
      SplitButterfly<kForward>(x, quarter, 0, nullptr);
      for (uint32_t k = 1; k < quarter; ++k) {
        const Twiddle t = DirectTwiddle(table, p, k, r);
        SplitButterfly<kForward>(x, quarter, k, &t);
      }
    }
    Transform(x, p / 2);
    Transform(x + p, p / 4);
    Transform(x + 3 * p / 2, p / 4);
  }
};

void BitReverse(float* a, uint32_t points) {
  const uint32_t bits = static_cast<uint32_t>(std::countr_zero(points));
  for (uint32_t i = 1; i < points; ++i) {
    const uint32_t j = ReverseBits(i, bits);
    if (i < j) {
      std::swap(a[2 * i], a[2 * j]);
      std::swap(a[2 * i + 1], a[2 * j + 1]);
    }
  }
}

template <bool kForward>
void PlainFft(uint32_t n, float* a, const float* w, uint32_t nw) {
  const SplitRadix<kForward> fft{w, nw, n / 2, MakeLeafTwiddles(w, nw)};
  fft.Transform(a, n / 2);
  BitReverse(a, n / 2);
}

void PlainRealSplit(uint32_t n, float* a, const float* c, uint32_t nc, int32_t forward) {
  const uint32_t m = n / 2;
  const uint32_t step = 2 * nc / m;
  uint32_t kk = 0;
  for (uint32_t j = 2; j < m; j += 2) {
    const uint32_t k = n - j;
    kk += step;
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

void PlainCosineRotation(uint32_t n, float* a, const float* c, uint32_t nc) {
  const uint32_t m = n / 2;
  const uint32_t step = nc / n;
  uint32_t kk = 0;
  for (uint32_t j = 1; j < m; ++j) {
    const uint32_t k = n - j;
    kk += step;
    const float wr = c[kk] - c[nc - kk];
    const float wi = c[kk] + c[nc - kk];
    const float x = wi * a[j] - wr * a[k];
    a[j] = wr * a[j] + wi * a[k];
    a[k] = x;
  }
  a[m] *= c[0];
}

void PlainCosineFinish(uint32_t n, float* a) {
  const float x = a[0] - a[1];
  a[0] += a[1];
  for (uint32_t j = 2; j < n; j += 2) {
    a[j - 1] = a[j] - a[j + 1];
    a[j] += a[j + 1];
  }
  a[n - 1] = x;
}

inline int16_t ToSample(float x, float scale) {
  const double p = static_cast<double>(x) * static_cast<double>(scale);
  if (!(p >= -32768.0)) return -32768;
  if (p > 32767.0) return 32767;
  // lrint rounds as nearbyint does (the current mode: to nearest, ties to
  // even) without saving the floating-point environment, which the 32-bit
  // Windows runtime does for nearbyint at some 60 ns a sample.
  return static_cast<int16_t>(std::lrint(p));
}

void PlainToPcm(const float* left, const float* right, uint32_t count, float scale, int16_t* out) {
  if (!right) {
    for (uint32_t i = 0; i < count; ++i) out[i] = ToSample(left[i], scale);
    return;
  }
  for (uint32_t i = 0; i < count; ++i) {
    out[2 * i] = ToSample(left[i], scale);
    out[2 * i + 1] = ToSample(right[i], scale);
  }
}

}  // namespace

const AudioKernels plainAudioKernels = {
    "plain", PlainFft<false>, PlainFft<true>, PlainRealSplit, PlainCosineRotation, PlainCosineFinish, PlainToPcm,
};

}  // namespace kivo
