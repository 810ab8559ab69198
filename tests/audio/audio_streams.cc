// SPDX-License-Identifier: BSD-2-Clause
// Helpers of the audio tests.
#include "audio/audio_streams.h"

#include <cmath>
#include <cstring>

#include "audio/audio_decoder.h"

namespace kivo::test {

AudioLayout Layout(uint32_t rate, uint32_t channels, bool dct) {
  AudioLayout layout{};
  ComputeAudioLayout(rate, channels, dct, &layout);
  return layout;
}

encode::AudioChannelCode ZeroChannel(const AudioLayout& layout, float k0, float k1, uint8_t q) {
  encode::AudioChannelCode code;
  code.k0 = encode::PackFloat(k0);
  code.k1 = encode::PackFloat(k1);
  for (uint8_t& b : code.bands) b = q;
  code.values.assign(layout.blockSize, 0);
  return code;
}

encode::AudioChannelCode RandomChannel(const AudioLayout& layout, std::mt19937& gen, uint32_t width) {
  std::uniform_real_distribution<float> k(-2000.0f, 2000.0f);
  encode::AudioChannelCode code = ZeroChannel(layout, k(gen), k(gen));
  for (uint8_t& b : code.bands) b = static_cast<uint8_t>(gen() % 120);
  const int32_t limit = (1 << width) - 1;
  for (uint32_t i = 2; i < layout.blockSize; ++i) {
    if (gen() % 3 == 0) continue;
    code.values[i] = static_cast<int32_t>(gen() % (2 * limit + 1)) - limit;
  }
  return code;
}

float BandQuantiser(const AudioLayout& layout, const encode::AudioChannelCode& code, uint32_t i) {
  // Band b covers coefficients 2 * edge[b] .. 2 * edge[b + 1] - 1.
  for (uint32_t b = 0; b < layout.bandCount; ++b)
    if (i >= 2 * layout.bandEdges[b] && i < 2 * layout.bandEdges[b + 1]) return QuantiserValue(code.bands[b]);
  return 0.0f;
}

std::vector<int16_t> ReferencePcm(const AudioLayout& layout, const encode::AudioChannelCode* channels) {
  const uint32_t n = layout.blockSize;
  std::vector<std::vector<float>> k(layout.codedChannels, std::vector<float>(n));
  for (uint32_t c = 0; c < layout.codedChannels; ++c) {
    k[c][0] = PackedFloatValue(channels[c].k0);
    k[c][1] = PackedFloatValue(channels[c].k1);
    for (uint32_t i = 2; i < n; ++i)
      k[c][i] = static_cast<float>(channels[c].values[i]) * BandQuantiser(layout, channels[c], i);
    std::vector<int32_t> work(TransformWorkEntries(n), 0);
    std::vector<float> table(TransformTableFloats(n, layout.dct));
    if (layout.dct)
      InverseCosineTransform(n, k[c].data(), work.data(), table.data());
    else
      RealInverseTransform(n, k[c].data(), work.data(), table.data());
  }
  const double scale = static_cast<float>(2.0 / std::sqrt(double(n)));
  std::vector<int16_t> out;
  for (uint32_t i = 0; i < n; ++i) {
    for (uint32_t c = 0; c < layout.codedChannels; ++c) {
      const double p = std::nearbyint(k[c][i] * scale);
      out.push_back(static_cast<int16_t>(p > 32767 ? 32767 : p < -32768 ? -32768 : p));
    }
  }
  return out;
}

void CollectPcm(void* context, const int16_t* samples, uint32_t bytes) {
  CollectedPcm* c = static_cast<CollectedPcm*>(context);
  c->calls.push_back(bytes);
  const uint8_t* p = reinterpret_cast<const uint8_t*>(samples);
  c->bytes.insert(c->bytes.end(), p, p + bytes);
  c->samples.assign(c->bytes.size() / 2, 0);
  memcpy(c->samples.data(), c->bytes.data(), c->samples.size() * 2);
}

}  // namespace kivo::test
