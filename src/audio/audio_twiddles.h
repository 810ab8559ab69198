// SPDX-License-Identifier: BSD-2-Clause
// How the FFT reads its twiddles out of the decoder's twiddle section. The
// section holds, for a stage of P points, the groups (cos t, sin t, cos 3t,
// sin 3t) of t = 2 pi g / P for 0 < g < P/8, at float nw - P; the other
// twiddles of the stage follow by symmetry. The first stage over all M
// points uses the section's first table, which holds only every other
// angle: the ones between come from the half-angle constants at floats 2
// and 3 (0.5 / cos of one and of three steps).
#pragma once

#include <cstdint>

namespace kivo {

struct Twiddle {
  float c1, s1, c3, s3;
};

// Group g (0 <= g <= eighth) of a table whose last group is `eighth`: the
// ends are fixed (angles 0 and 45 degrees) and not stored.
inline Twiddle TwiddleGroup(const float* table, uint32_t g, uint32_t eighth, float r) {
  if (g == 0) return {1.0f, 0.0f, 1.0f, 0.0f};
  if (g == eighth) return {r, r, -r, r};
  const float* p = table + 4 * g;
  return {p[0], p[1], p[2], p[3]};
}

// Angles past 45 degrees: the group of the complement, cosines and sines swapped.
inline Twiddle MirrorTwiddle(const Twiddle& t) { return {t.s1, t.c1, -t.s3, -t.c3}; }

// Twiddles of index k (0 <= k < P/4) of a stage of P points read directly.
inline Twiddle DirectTwiddle(const float* table, uint32_t points, uint32_t k, float r) {
  const uint32_t eighth = points / 8;
  if (k <= eighth) return TwiddleGroup(table, k, eighth, r);
  return MirrorTwiddle(TwiddleGroup(table, points / 4 - k, eighth, r));
}

// Twiddles of index k of the first stage over all M points.
inline Twiddle TopTwiddle(const float* table, uint32_t points, uint32_t k, float r, float half1, float half3) {
  const uint32_t eighth = points / 8;
  const uint32_t last = points / 16;
  const uint32_t kk = k <= eighth ? k : points / 4 - k;
  Twiddle t;
  if ((kk & 1) == 0) {
    t = TwiddleGroup(table, kk / 2, last, r);
  } else {
    const Twiddle a = TwiddleGroup(table, kk / 2, last, r);
    const Twiddle b = TwiddleGroup(table, kk / 2 + 1, last, r);
    t = {(a.c1 + b.c1) * half1, (a.s1 + b.s1) * half1, (a.c3 + b.c3) * half3, (a.s3 + b.s3) * half3};
  }
  return k <= eighth ? t : MirrorTwiddle(t);
}

}  // namespace kivo
