// Motion search and the forward transform of the video encoder.
#include "encode/video_search.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kivo::encode {
namespace {

// The inverse transform's one-dimensional butterfly in real arithmetic; its
// outputs for unit inputs are the (orthogonal, unnormalised) basis.
void Butterfly(const double e[8], double o[8]) {
  auto m = [](double c, double x) { return x * c / 2048.0; };
  double a0 = e[0] + e[4], a1 = e[0] - e[4];
  double a2 = e[2] + e[6];
  double t = m(2896, e[2] - e[6]) - a2;
  double a4 = e[5] + e[3], a5 = e[5] - e[3];
  double a6 = e[1] + e[7], a7 = e[1] - e[7];
  double b0 = a4 + a6;
  double b1 = m(3784, a5 + a7);
  double b2 = m(-5352, a5) - b0 + b1;
  double b3 = m(2896, a6 - a4) - b2;
  double b4 = m(2217, a7) - b1 + b3;
  o[0] = a0 + a2 + b0;
  o[7] = a0 + a2 - b0;
  o[1] = a1 + t + b2;
  o[6] = a1 + t - b2;
  o[2] = a1 - t + b3;
  o[5] = a1 - t - b3;
  o[3] = a0 - a2 - b4;
  o[4] = a0 - a2 + b4;
}

// analysis[u][x]: basis vector u divided by its squared length, times 16 so
// that the two passes together carry the inverse's final division by 256.
struct Analysis {
  float analysis[8][8];
  Analysis() {
    for (int u = 0; u < 8; ++u) {
      double e[8] = {}, o[8];
      e[u] = 1.0;
      Butterfly(e, o);
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
    uint32_t s = BlockSad(want, ref, x + dx, y + dy);
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

void Quantise(const float transformed[64], const int32_t* table, float deadZone, int32_t dcMin,
              int32_t dcMax, int16_t block[64]) {
  const float dc = std::nearbyint(transformed[0] * 2048.0f / float(table[0]));
  block[0] = int16_t(std::clamp<float>(dc, float(dcMin), float(dcMax)));
  for (int i = 1; i < 64; ++i) {
    const float x = transformed[i] * 2048.0f / float(table[i]);
    const float m = std::min(std::floor(std::fabs(x) + 0.5f - deadZone), 16383.0f);
    block[i] = int16_t(m <= 0 ? 0 : x < 0 ? -int(m) : int(m));
  }
}

}  // namespace kivo::encode
