// SPDX-License-Identifier: BSD-2-Clause
// Motion search and the forward transform of the video encoder.
#include "encode/video_search.h"

#include "encode/video_writer.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>

#include "encode/video_dct.h"

namespace kivo::encode {
namespace {

// analysis[u][x]: basis vector u divided by its squared length, times 16 so
// that the two passes together carry the inverse's final division by 256.
struct Analysis {
  float analysis[8][8];
  Analysis() {
    for (int u = 0; u < 8; ++u) {
      double e[8] = {}, o[8];
      e[u] = 1.0;
      InverseButterflyReal(e, o);
      double norm = 0;
      for (double v : o) norm += v * v;
      for (int x = 0; x < 8; ++x) analysis[u][x] = float(16.0 * o[x] / norm);
    }
  }
};

const Analysis& TheAnalysis() {
  static const Analysis analysis;
  return analysis;
}

// The SAD, given up (returning at least `bound`) once a row takes it to
// `bound`: the search only wants sums below the best so far.
uint32_t BoundedSad(const uint8_t want[64], const SearchPlane& ref, int x, int y, uint32_t bound) {
  const uint8_t* r = ref.samples + size_t(y) * ref.stride + size_t(x);
  uint32_t sum = 0;
  for (int row = 0; row < 8 && sum < bound; ++row, r += ref.stride, want += 8) {
    uint32_t line = 0;
    for (int c = 0; c < 8; ++c) line += uint32_t(std::abs(int(want[c]) - int(r[c])));
    sum += line;
  }
  return sum;
}

bool Inside(const SearchPlane& ref, int x, int y) {
  return x >= 0 && y >= 0 && x + 8 <= int(ref.width) && y + 8 <= int(ref.height);
}

}  // namespace

uint32_t BlockSad(const uint8_t want[64], const SearchPlane& ref, int x, int y) {
  const uint8_t* r = ref.samples + size_t(y) * ref.stride + size_t(x);
  uint32_t sum = 0;
  for (int row = 0; row < 8; ++row, r += ref.stride, want += 8)
    for (int c = 0; c < 8; ++c) sum += uint32_t(std::abs(int(want[c]) - int(r[c])));
  return sum;
}

void ReferenceBlock(const SearchPlane& ref, int x, int y, uint8_t out[64]) {
  const uint8_t* r = ref.samples + size_t(y) * ref.stride + size_t(x);
  for (int row = 0; row < 8; ++row, r += ref.stride)
    for (int c = 0; c < 8; ++c) out[row * 8 + c] = r[c];
}

MotionVector SearchMotion(const uint8_t want[64], const SearchPlane& ref, int x, int y,
                          const MotionVector* predictors, int predictorCount, bool exhaustive,
                          uint32_t* sad) {
  MotionVector best;
  uint32_t bestSad = BlockSad(want, ref, x, y);
  auto consider = [&](int dx, int dy) {
    if (dx < -15 || dx > 15 || dy < -15 || dy > 15 || !Inside(ref, x + dx, y + dy)) return false;
    if (bestSad == 0) return false;
    uint32_t s = BoundedSad(want, ref, x + dx, y + dy, bestSad);
    // Ties keep the earlier (shorter, cheaper to code) vector.
    if (s >= bestSad) return false;
    bestSad = s;
    best.dx = int8_t(dx);
    best.dy = int8_t(dy);
    return true;
  };
  if (exhaustive) {
    for (int dy = -15; dy <= 15; ++dy)
      for (int dx = -15; dx <= 15; ++dx) consider(dx, dy);
  } else {
    for (int i = 0; i < predictorCount; ++i) consider(predictors[i].dx, predictors[i].dy);
    static const int kDiamond[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
    for (int step : {8, 4, 2, 1}) {
      for (int round = 0; round < 16 && bestSad > 0; ++round) {
        const MotionVector centre = best;
        bool moved = false;
        for (const auto& d : kDiamond) moved |= consider(centre.dx + d[0] * step, centre.dy + d[1] * step);
        if (!moved) break;
      }
    }
    // The diagonal neighbours, which the diamond never visits directly.
    const MotionVector centre = best;
    for (int dy = -1; dy <= 1; dy += 2)
      for (int dx = -1; dx <= 1; dx += 2) consider(centre.dx + dx, centre.dy + dy);
  }
  if (sad) *sad = bestSad;
  return best;
}

void ForwardTransform(const int16_t samples[64], float out[64]) {
  const Analysis& a = TheAnalysis();
  float rows[64];
  for (int r = 0; r < 8; ++r)
    for (int v = 0; v < 8; ++v) {
      float sum = 0;
      for (int c = 0; c < 8; ++c) sum += a.analysis[v][c] * float(samples[r * 8 + c]);
      rows[r * 8 + v] = sum;
    }
  for (int u = 0; u < 8; ++u)
    for (int v = 0; v < 8; ++v) {
      float sum = 0;
      for (int r = 0; r < 8; ++r) sum += a.analysis[u][r] * rows[r * 8 + v];
      out[u * 8 + v] = sum;
    }
}

int Quantise(const float transformed[64], const float* reciprocal, float deadZone, int32_t dcMin,
             int32_t dcMax, int16_t block[64]) {
  const float dc = std::nearbyint(transformed[0] * reciprocal[0]);
  block[0] = int16_t(std::clamp<float>(dc, float(dcMin), float(dcMax)));
  int nonzero = 0;
  const float bias = 0.5f - deadZone;
  for (int i = 1; i < 64; ++i) {
    const float x = transformed[i] * reciprocal[i];
    const int m = int(std::min(std::fabs(x) + bias, 16383.0f));
    block[i] = int16_t(x < 0 ? -m : m);
    nonzero += m != 0;
  }
  return nonzero;
}

int CoefficientCodeBits(const int16_t block[64], int limit) {
  // Coded index -> natural index.
  static const uint8_t kScan[64] = {
      0,  1,  8,  9,  2,  3,  10, 11, 4,  5,  12, 13, 6,  7,  14, 15, 20, 21, 28, 29, 22, 23,
      30, 31, 16, 17, 24, 25, 32, 33, 40, 41, 34, 35, 42, 43, 48, 49, 56, 57, 50, 51, 58, 59,
      18, 19, 26, 27, 36, 37, 44, 45, 38, 39, 46, 47, 52, 53, 60, 61, 54, 55, 62, 63,
  };
  // atLeast[b]: the coded indices whose magnitude reaches bit plane b.
  uint64_t atLeast[17] = {};
  int planes = 0;
  // Every nonzero value costs at least its width and one flag.
  int lowest = 4;
  for (int j = 1; j < 64; ++j) {
    const int v = block[kScan[j]];
    if (v == -32768) return -1;
    const uint32_t m = uint32_t(v < 0 ? -v : v);
    const int width = int(std::bit_width(m));
    if (width > 15) return -1;
    atLeast[width] |= uint64_t(width != 0) << j;
    planes = std::max(planes, width);
    lowest += width + (width != 0);
  }
  if (lowest >= limit) return lowest;
  for (int b = 15; b >= 1; --b) atLeast[b - 1] |= atLeast[b];
  int bits = 4;
  if (planes == 0) return bits;
  // The same list walk as the coder: modes 0 group of five quads, 1 four
  // quads, 2 one quad, 3 a single index; pushes at the front, appends at
  // the back.
  struct Entry {
    uint8_t index, mode;
    bool finished;
  };
  Entry entries[160];
  int front = 80, back = 80;
  auto append = [&](int index, int mode) { entries[back++] = {uint8_t(index), uint8_t(mode), false}; };
  append(4, 0);
  append(24, 0);
  append(44, 0);
  append(1, 3);
  append(2, 3);
  append(3, 3);
  uint64_t coded = 1;  // the DC travels in its bundle
  for (int b = planes - 1; b >= 0 && bits < limit; --b) {
    const uint64_t atPlane = atLeast[b + 1];
    auto live = [&](int k, int span) {
      const uint64_t spanMask = ((uint64_t(1) << span) - 1) << k;
      return (atPlane & ~coded & spanMask) != 0;
    };
    auto quad = [&](int k) {
      for (int j = k; j < k + 4; ++j) {
        ++bits;
        if (live(j, 1)) {
          coded |= uint64_t(1) << j;
          bits += b + 1;
        } else {
          entries[--front] = {uint8_t(j), 3, false};
        }
      }
    };
    for (int pos = front; pos < back;) {
      Entry& e = entries[pos];
      if (e.finished) {
        ++pos;
        continue;
      }
      const int span = e.mode == 0 ? 20 : e.mode == 1 ? 16 : e.mode == 2 ? 4 : 1;
      ++bits;
      if (!live(e.index, span)) {
        ++pos;
        continue;
      }
      const int k = e.index;
      switch (e.mode) {
        case 0:
          e.index = uint8_t(k + 4);
          e.mode = 1;
          quad(k);
          break;
        case 1:
          e.mode = 2;
          append(k + 4, 2);
          append(k + 8, 2);
          append(k + 12, 2);
          break;
        case 2:
          e.finished = true;
          quad(k);
          ++pos;
          break;
        default:
          e.finished = true;
          coded |= uint64_t(1) << k;
          bits += b + 1;
          ++pos;
          break;
      }
    }
  }
  return bits;
}

double RunsBits(const uint8_t pixels[64], uint32_t pattern, double runBits, double colourBits,
                double limit) {
  static const struct Orders {
    uint8_t order[16][64];
    Orders() {
      for (uint32_t p = 0; p < 16; ++p)
        for (uint32_t i = 0; i < 64; ++i) order[p][i] = RunPatternPosition(p, i);
    }
  } orders;
  uint8_t v[65];
  for (int i = 0; i < 64; ++i) v[i] = pixels[orders.order[pattern & 15][i]];
  // The same greedy segmentation as the writer's: repeats become fill runs,
  // stretches without repeats single-colour runs, both at most 16 long.
  double bits = 0;
  int i = 0;
  while (i < 63 && bits < limit) {
    int same = 1;
    while (i + same < 64 && same < 16 && v[i + same] == v[i]) ++same;
    if (same >= 2) {
      bits += runBits + colourBits;
      i += same;
      continue;
    }
    int length = 1;
    while (i + length < 64 && length < 16 && !(i + length + 1 < 64 && v[i + length] == v[i + length + 1]))
      ++length;
    bits += runBits + length * colourBits;
    i += length;
  }
  return i == 63 ? bits + colourBits : i < 63 ? std::max(bits, limit) : bits;
}

}  // namespace kivo::encode
