// SPDX-License-Identifier: BSD-2-Clause
// The two inverse transforms of the audio decoder, the tables they build in
// the decoder on first use, and the choice of the kernel table they run on.
#include <bit>
#include <cmath>

#include "audio/audio_decoder.h"
#include "audio/audio_kernels.h"

namespace kivo {

void BuildTwiddleSection(uint32_t nw, int32_t* work, float* w) {
  work[0] = static_cast<int32_t>(nw);
  work[1] = 1;
  if (nw <= 2) return;
  uint32_t h = nw / 2;
  const float delta = static_cast<float>(std::atan(1.0) / h);
  const double d = delta;
  const float r = static_cast<float>(std::cos(h * d));
  w[0] = 1.0f;
  w[1] = r;
  if (h >= 4) {
    w[2] = static_cast<float>(0.5 / std::cos(2 * d));
    w[3] = static_cast<float>(0.5 / std::cos(6 * d));
  }
  for (uint32_t j = 4; j < h; j += 4) {
    w[j] = static_cast<float>(std::cos(j * d));
    w[j + 1] = static_cast<float>(std::sin(j * d));
    w[j + 2] = static_cast<float>(std::cos(3.0 * j * d));
    w[j + 3] = static_cast<float>(std::sin(3.0 * j * d));
  }
  // Each following table serves a stage of half the points: every other
  // group of the one before, with half-angle constants of its own.
  uint32_t s0 = 0;
  while (h > 2) {
    const uint32_t s1 = s0 + h;
    h /= 2;
    w[s1] = 1.0f;
    w[s1 + 1] = r;
    if (h >= 4) {
      w[s1 + 2] = static_cast<float>(0.5 / static_cast<double>(w[s0 + 4]));
      w[s1 + 3] = static_cast<float>(0.5 / static_cast<double>(w[s0 + 6]));
    }
    for (uint32_t j = 4; j < h; j += 4) {
      for (uint32_t i = 0; i < 4; ++i) w[s1 + j + i] = w[s0 + 2 * j + i];
    }
    s0 = s1;
  }
}

void BuildCosineSection(uint32_t nc, int32_t* work, float* c) {
  work[1] = static_cast<int32_t>(nc);
  if (nc <= 1) return;
  const uint32_t h = nc / 2;
  const float delta = static_cast<float>(std::atan(1.0) / h);
  const double d = delta;
  c[0] = static_cast<float>(std::cos(h * d));
  c[h] = static_cast<float>(0.5 * std::cos(h * d));
  for (uint32_t j = 1; j < h; ++j) {
    c[j] = static_cast<float>(0.5 * std::cos(j * d));
    c[nc - j] = static_cast<float>(0.5 * std::sin(j * d));
  }
}

uint32_t TransformWorkEntries(uint32_t n) { return static_cast<uint32_t>(std::lround(std::sqrt(n / 2.0))) + 2; }

namespace {

bool ValidLength(uint32_t n) { return n >= 64 && n <= 8192 && std::has_single_bit(n); }

// Brings the twiddle section up to n/4 and the cosine section up to `nc`.
void PrepareTables(uint32_t n, uint32_t nc, int32_t* work, float* table) {
  uint32_t nw = static_cast<uint32_t>(work[0]);
  if (n > 4 * nw) {
    nw = n / 4;
    BuildTwiddleSection(nw, work, table);
  }
  if (nc > static_cast<uint32_t>(work[1])) BuildCosineSection(nc, work, table + nw);
}

}  // namespace

const AudioKernels& AudioKernelsFor(uint32_t features) {
  return (features & kCpuAvx) && avxAudioKernels ? *avxAudioKernels : plainAudioKernels;
}

void RealInverseTransform(uint32_t n, float* a, int32_t* work, float* table, uint32_t features) {
  if (!ValidLength(n)) return;
  PrepareTables(n, n / 4, work, table);
  const uint32_t nw = static_cast<uint32_t>(work[0]);
  const uint32_t nc = static_cast<uint32_t>(work[1]);
  const AudioKernels* k = &AudioKernelsFor(features);
  a[1] = 0.5f * (a[0] - a[1]);
  a[0] -= a[1];
  k->realSplit(n, a, table + nw, nc, 0);
  k->fftBackward(n, a, table, nw);
}

void InverseCosineTransform(uint32_t n, float* a, int32_t* work, float* table, uint32_t features) {
  if (!ValidLength(n)) return;
  PrepareTables(n, n, work, table);
  const uint32_t nw = static_cast<uint32_t>(work[0]);
  const uint32_t nc = static_cast<uint32_t>(work[1]);
  const AudioKernels* k = &AudioKernelsFor(features);
  const float* c = table + nw;
  k->cosineRotation(n, a, c, nc);
  k->fftForward(n, a, table, nw);
  k->realSplit(n, a, c, nc, 1);
  k->cosineFinish(n, a);
}

}  // namespace kivo
