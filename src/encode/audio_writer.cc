// SPDX-License-Identifier: BSD-2-Clause
// The audio block writer.
#include "encode/audio_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kivo::encode {

uint32_t PackFloat(float x) {
  if (std::isnan(x)) return 0;
  const bool negative = std::signbit(x);
  const double magnitude = std::fabs(static_cast<double>(x));
  for (uint32_t e = 0; e <= 23; ++e) {
    const double m = std::nearbyint(std::ldexp(magnitude, 23 - static_cast<int>(e)));
    if (m < 8388608.0) return PackedFloatFields(e, static_cast<uint32_t>(m), negative);
  }
  return PackedFloatFields(23, 0x7FFFFF, negative);
}

uint32_t QuantiserCode(float step) {
  for (uint32_t q = 0; q < 256; ++q)
    if (QuantiserValue(q) >= step) return q;
  return 255;
}

uint32_t ValueWidth(int32_t v) {
  uint32_t a = static_cast<uint32_t>(v < 0 ? -int64_t(v) : int64_t(v));
  uint32_t w = 0;
  while (a) {
    ++w;
    a >>= 1;
  }
  return w;
}

namespace {

// Coefficients a run starting at j covers before the cut at n.
uint32_t RunEnd(uint32_t j, int32_t code, uint32_t n) {
  const uint32_t end = code < 0 ? j + 8 : j + 8 * kCoefficientRunLengths[code];
  return end > n ? n : end;
}

}  // namespace

std::vector<AudioRun> PlanRuns(const std::vector<int32_t>& values) {
  const uint32_t n = static_cast<uint32_t>(values.size());
  if (n <= 2) return {};
  // Runs start at 2 + 8g; group g holds coefficients 2 + 8g .. 2 + 8g + 7.
  const uint32_t groups = (n - 2 + 7) / 8;
  std::vector<uint32_t> width(groups, 0), nonzero(groups + 1, 0), size(groups + 1, 0);
  for (uint32_t g = 0; g < groups; ++g) {
    uint32_t nz = 0;
    const uint32_t from = 2 + 8 * g, to = std::min(from + 8, n);
    for (uint32_t i = from; i < to; ++i) {
      width[g] = std::max(width[g], ValueWidth(values[i]));
      nz += values[i] != 0;
    }
    nonzero[g + 1] = nonzero[g] + nz;
    size[g + 1] = size[g] + (to - from);
  }
  std::vector<uint64_t> best(groups + 1, 0);
  std::vector<AudioRun> choice(groups);
  for (uint32_t g = groups; g-- > 0;) {
    best[g] = UINT64_MAX;
    // Run lengths only grow with the code, so the width of the groups
    // covered so far carries over from one code to the next.
    uint32_t w = 0, covered = g;
    for (int32_t code = -1; code < 16; ++code) {
      const uint32_t length = code < 0 ? 1 : kCoefficientRunLengths[code];
      const uint32_t last = std::min(g + length, groups);
      for (; covered < last; ++covered) w = std::max(w, width[covered]);
      if (w > 15) break;
      uint64_t bits = (code < 0 ? 1 : 5) + 4;
      if (w) bits += uint64_t(w) * (size[last] - size[g]) + (nonzero[last] - nonzero[g]);
      bits += best[last];
      if (bits < best[g]) {
        best[g] = bits;
        choice[g] = {code, w};
      }
    }
  }
  std::vector<AudioRun> runs;
  for (uint32_t g = 0; g < groups;) {
    runs.push_back(choice[g]);
    g += choice[g].code < 0 ? 1 : kCoefficientRunLengths[choice[g].code];
  }
  return runs;
}

uint64_t RunBits(const std::vector<int32_t>& values, const std::vector<AudioRun>& runs) {
  const uint32_t n = static_cast<uint32_t>(values.size());
  uint64_t bits = 0;
  uint32_t j = 2;
  for (const AudioRun& run : runs) {
    if (j >= n || run.width > 15 || run.code > 15) return 0;
    const uint32_t end = RunEnd(j, run.code, n);
    bits += (run.code < 0 ? 1 : 5) + 4;
    for (uint32_t i = j; i < end; ++i) {
      if (ValueWidth(values[i]) > run.width) return 0;
      if (run.width) bits += run.width + (values[i] != 0);
    }
    j = end;
  }
  return j == n || n <= 2 ? bits : 0;
}

void QuantiseChannel(const AudioLayout& layout, const float* k, AudioChannelCode* code) {
  const uint32_t n = layout.blockSize;
  code->values.assign(n, 0);
  code->k0 = PackFloat(k[0]);
  code->k1 = PackFloat(k[1]);
  uint32_t band = 0;
  for (uint32_t i = 2; i < n; ++i) {
    while (band + 1 < layout.bandCount && i >= 2 * layout.bandEdges[band + 1]) ++band;
    if (layout.bandCount == 0) break;
    const double q = QuantiserValue(code->bands[band]);
    const double v = std::nearbyint(k[i] / q);
    code->values[i] = static_cast<int32_t>(std::fmax(-32767.0, std::fmin(32767.0, v)));
  }
}

bool PutAudioChannel(BitWriter& writer, const AudioLayout& layout, const AudioChannelCode& code,
                     const std::vector<AudioRun>& runs) {
  const uint32_t n = layout.blockSize;
  if (code.values.size() != n) return false;
  const std::vector<AudioRun> planned = runs.empty() ? PlanRuns(code.values) : runs;
  if (RunBits(code.values, planned) == 0) return false;
  PutBits(writer, code.k0, kPackedFloatBits);
  PutBits(writer, code.k1, kPackedFloatBits);
  for (uint32_t b = 0; b < layout.bandCount; ++b) PutBits(writer, code.bands[b], 8);
  uint32_t j = 2;
  for (const AudioRun& run : planned) {
    if (run.code < 0) {
      PutBit(writer, 0);
    } else {
      PutBit(writer, 1);
      PutBits(writer, static_cast<uint32_t>(run.code), 4);
    }
    PutBits(writer, run.width, 4);
    const uint32_t end = RunEnd(j, run.code, n);
    if (run.width) {
      for (uint32_t i = j; i < end; ++i) {
        const int32_t v = code.values[i];
        PutBits(writer, static_cast<uint32_t>(std::abs(v)), run.width);
        if (v) PutBit(writer, v < 0);
      }
    }
    j = end;
  }
  return true;
}

std::vector<uint8_t> WriteAudioBlock(const AudioLayout& layout, const AudioChannelCode* channels, uint32_t leadBits,
                                     const std::vector<AudioRun>* runs) {
  BitWriter writer;
  if (layout.dct) PutBits(writer, leadBits, 2);
  for (uint32_t c = 0; c < layout.codedChannels; ++c) {
    if (!PutAudioChannel(writer, layout, channels[c], runs ? runs[c] : std::vector<AudioRun>{})) return {};
  }
  return WriterBytes(writer);
}

std::vector<uint8_t> BuildAudioChunk(uint32_t pcmBytes, const std::vector<std::vector<uint8_t>>& blocks) {
  std::vector<uint8_t> out = {uint8_t(pcmBytes), uint8_t(pcmBytes >> 8), uint8_t(pcmBytes >> 16),
                              uint8_t(pcmBytes >> 24)};
  for (const std::vector<uint8_t>& b : blocks) out.insert(out.end(), b.begin(), b.end());
  return out;
}

}  // namespace kivo::encode
