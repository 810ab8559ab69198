// SPDX-License-Identifier: BSD-2-Clause
// Forward real DFT and DCT for the audio encoder, by a radix-2 complex FFT
// of half the length and a split pass (the cosine transform reorders its
// input first so that one real DFT of the same length gives it).
#include "encode/audio_encoder_transform.h"

#include <cmath>
#include <numbers>

namespace kivo::encode {
namespace {

// In-place forward FFT of the plan's n/2 complex values in re/im.
void ComplexTransform(ForwardTransformPlan& p) {
  const uint32_t h = p.n / 2;
  double* re = p.re.data();
  double* im = p.im.data();
  for (uint32_t i = 0; i < h; ++i) {
    const uint32_t j = p.reversed[i];
    if (j > i) {
      std::swap(re[i], re[j]);
      std::swap(im[i], im[j]);
    }
  }
  for (uint32_t len = 2; len <= h; len <<= 1) {
    const uint32_t half = len / 2, step = h / len;
    for (uint32_t i = 0; i < h; i += len) {
      for (uint32_t j = 0; j < half; ++j) {
        const double wr = p.twiddleRe[j * step], wi = p.twiddleIm[j * step];
        const uint32_t a = i + j, b = a + half;
        const double vr = re[b] * wr - im[b] * wi, vi = re[b] * wi + im[b] * wr;
        re[b] = re[a] - vr;
        im[b] = im[a] - vi;
        re[a] += vr;
        im[a] += vi;
      }
    }
  }
}

// Bins 0 .. n/2 of the DFT X_k = sum_m x[m] e^(-2 pi i k m / n) of n reals,
// into binRe/binIm: the even and odd samples ride as one complex sequence.
void RealSpectrum(ForwardTransformPlan& p, const double* x) {
  const uint32_t h = p.n / 2;
  for (uint32_t m = 0; m < h; ++m) {
    p.re[m] = x[2 * m];
    p.im[m] = x[2 * m + 1];
  }
  ComplexTransform(p);
  for (uint32_t k = 0; k <= h; ++k) {
    const uint32_t a = k % h, b = (h - k) % h;
    // E = (Z_k + conj Z_(h-k)) / 2, O = (Z_k - conj Z_(h-k)) / 2i.
    const double er = 0.5 * (p.re[a] + p.re[b]), ei = 0.5 * (p.im[a] - p.im[b]);
    const double orr = 0.5 * (p.im[a] + p.im[b]), oi = -0.5 * (p.re[a] - p.re[b]);
    p.binRe[k] = er + p.splitRe[k] * orr - p.splitIm[k] * oi;
    p.binIm[k] = ei + p.splitRe[k] * oi + p.splitIm[k] * orr;
  }
}

}  // namespace

bool PrepareForwardTransform(ForwardTransformPlan& p, uint32_t n) {
  if (n < 8 || n > 65536 || (n & (n - 1))) return false;
  if (p.n == n) return true;
  p.n = n;
  const uint32_t h = n / 2;
  uint32_t bits = 0;
  while ((1u << bits) < h) ++bits;
  p.reversed.resize(h);
  for (uint32_t i = 0; i < h; ++i) {
    uint32_t r = 0;
    for (uint32_t b = 0; b < bits; ++b) r |= ((i >> b) & 1) << (bits - 1 - b);
    p.reversed[i] = r;
  }
  const double pi = std::numbers::pi;
  p.twiddleRe.resize(h / 2);
  p.twiddleIm.resize(h / 2);
  for (uint32_t m = 0; m < h / 2; ++m) {
    p.twiddleRe[m] = std::cos(2 * pi * m / h);
    p.twiddleIm[m] = -std::sin(2 * pi * m / h);
  }
  p.splitRe.resize(h + 1);
  p.splitIm.resize(h + 1);
  for (uint32_t k = 0; k <= h; ++k) {
    p.splitRe[k] = std::cos(2 * pi * k / n);
    p.splitIm[k] = -std::sin(2 * pi * k / n);
  }
  p.rotateRe.resize(n);
  p.rotateIm.resize(n);
  for (uint32_t j = 0; j < n; ++j) {
    p.rotateRe[j] = std::cos(pi * j / (2.0 * n));
    p.rotateIm[j] = std::sin(pi * j / (2.0 * n));
  }
  p.re.resize(h);
  p.im.resize(h);
  p.binRe.resize(h + 1);
  p.binIm.resize(h + 1);
  p.shuffled.resize(n);
  return true;
}

void ForwardRealTransform(ForwardTransformPlan& p, const float* x, float* k) {
  const uint32_t n = p.n, h = n / 2;
  for (uint32_t m = 0; m < n; ++m) p.shuffled[m] = x[m];
  RealSpectrum(p, p.shuffled.data());
  // The inverse weighs bins 1 .. n/2-1 fully and the two real ends by half.
  const double scale = 2.0 / n;
  k[0] = static_cast<float>(scale * p.binRe[0]);
  k[1] = static_cast<float>(scale * p.binRe[h]);
  for (uint32_t j = 1; j < h; ++j) {
    k[2 * j] = static_cast<float>(scale * p.binRe[j]);
    k[2 * j + 1] = static_cast<float>(-scale * p.binIm[j]);
  }
}

void ForwardCosineTransform(ForwardTransformPlan& p, const float* x, float* k) {
  const uint32_t n = p.n, h = n / 2;
  // Even samples in order, then the odd ones backwards: one real DFT of that
  // gives every sum of x[m] cos(pi j (2m + 1) / 2n) after a rotation.
  for (uint32_t m = 0; m < h; ++m) {
    p.shuffled[m] = x[2 * m];
    p.shuffled[n - 1 - m] = x[2 * m + 1];
  }
  RealSpectrum(p, p.shuffled.data());
  for (uint32_t j = 0; j < n; ++j) {
    // Bins above n/2 are the conjugates of those below.
    const double vr = j <= h ? p.binRe[j] : p.binRe[n - j];
    const double vi = j <= h ? p.binIm[j] : -p.binIm[n - j];
    const double y = p.rotateRe[j] * vr + p.rotateIm[j] * vi;
    k[j] = static_cast<float>(y * (j ? 2.0 / n : 1.0 / n));
  }
}

}  // namespace kivo::encode
