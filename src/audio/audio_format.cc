// SPDX-License-Identifier: BSD-2-Clause
// Block layouts, band quantisers and packed floats of the audio format.
#include "audio/audio_format.h"

#include <cmath>

namespace kivo {

int32_t ComputeAudioLayout(uint32_t sampleRate, uint32_t channels, int32_t dct, AudioLayout* layout) {
  if (channels != 1 && channels != 2) return 0;
  const uint32_t base = sampleRate >= 44100 ? 2048 : sampleRate >= 22050 ? 1024 : 512;
  AudioLayout l{};
  l.dct = dct ? 1 : 0;
  l.blockBytes = 2 * base * channels;
  l.overlapBytes = l.blockBytes / 16;
  l.blockSize = dct ? base : base * channels;
  l.codedChannels = dct ? channels : 1;
  const uint64_t effectiveRate = dct ? uint64_t(sampleRate) : uint64_t(sampleRate) * channels;
  const uint64_t nyquist = (effectiveRate + 1) / 2;
  const uint32_t half = l.blockSize / 2;
  uint32_t count = 0;
  while (count < kMaxAudioBands && kBandEdgeHz[count] < nyquist) ++count;
  l.bandCount = count;
  // A band count above 0 means nyquist > 0, so the division is safe.
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t edge = static_cast<uint32_t>(uint64_t(kBandEdgeHz[i]) * half / nyquist);
    l.bandEdges[i] = edge ? edge : 1;
  }
  l.bandEdges[count] = half;
  *layout = l;
  return 1;
}

namespace {

struct QuantiserTable {
  float values[256];
  QuantiserTable() {
    const double factor = static_cast<double>(0.0664f);
    for (uint32_t q = 0; q < 256; ++q) values[q] = static_cast<float>(std::pow(10.0, q * factor));
  }
};

struct PackedScales {
  float values[32];
  PackedScales() {
    for (int e = 0; e < 32; ++e) values[e] = std::ldexp(1.0f, e - 23);
  }
};

}  // namespace

float QuantiserValue(uint32_t q) {
  static const QuantiserTable table;
  return table.values[q & 255];
}

float PackedFloatValue(uint32_t bits) {
  static const PackedScales scales;
  const float magnitude = static_cast<float>((bits >> 5) & 0x7FFFFF) * scales.values[bits & 31];
  return (bits >> 28) & 1 ? -magnitude : magnitude;
}

}  // namespace kivo
