// SPDX-License-Identifier: BSD-2-Clause
// The encoder's forward audio transforms: the exact inverses of the decoder's
// RealInverseTransform and InverseCosineTransform, so that running the
// decoder's transform on what these give returns the input (to float
// accuracy). Both are built on one complex FFT of half the length, in double
// precision.
#pragma once

#include <cstdint>
#include <vector>

namespace kivo::encode {

struct ForwardTransformPlan {
  uint32_t n = 0;                      // real length, a power of two from 8 up
  std::vector<uint32_t> reversed;      // bit-reversal order of the n/2 complex values
  std::vector<double> twiddleRe, twiddleIm;  // e^(-2 pi i m / (n/2)), m < n/4
  std::vector<double> splitRe, splitIm;      // e^(-2 pi i k / n), k <= n/2
  std::vector<double> rotateRe, rotateIm;    // e^(-i pi j / (2n)), j < n (cosine transform)
  std::vector<double> re, im;                // work: the n/2 complex values
  std::vector<double> binRe, binIm;          // work: spectrum bins 0 .. n/2
  std::vector<double> shuffled;              // work: the cosine transform's reordered input
};

// Sizes the plan for length n (a power of two, 8 to 65536); false otherwise.
bool PrepareForwardTransform(ForwardTransformPlan& plan, uint32_t n);

// k gets the decoder's real-transform layout: k[0] the value at frequency 0,
// k[1] the value at n/2, k[2j], k[2j+1] the cosine and sine parts of bin j.
void ForwardRealTransform(ForwardTransformPlan& plan, const float* x, float* k);

// k[j] such that sum_j k[j] cos(pi j (m + 1/2) / n) = x[m] for every m.
void ForwardCosineTransform(ForwardTransformPlan& plan, const float* x, float* k);

}  // namespace kivo::encode
