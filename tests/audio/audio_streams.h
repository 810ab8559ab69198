// SPDX-License-Identifier: BSD-2-Clause
// Helpers of the audio tests: coded channels built from chosen values, the
// PCM a first block must give worked out independently of the decoder's
// reader, and a sink that collects what the chunk loop hands over.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "audio/audio_format.h"
#include "encode/audio_writer.h"

namespace kivo::test {

// A channel of N coefficients: k0 and k1 as given, band codes all `q`, values 0.
encode::AudioChannelCode ZeroChannel(const AudioLayout& layout, float k0 = 0, float k1 = 0, uint8_t q = 0);
// Random values up to `width` bits (about a third of them 0), random band codes
// below 120, k0 and k1 in -2000 .. 2000.
encode::AudioChannelCode RandomChannel(const AudioLayout& layout, std::mt19937& gen, uint32_t width);

// The unblended 16-bit output of a block made of these channels: coefficients
// from the codes by the band edges, the transform, then the scaling, rounding
// and clamping, channels interleaved. All blockBytes / 2 values.
std::vector<int16_t> ReferencePcm(const AudioLayout& layout, const encode::AudioChannelCode* channels);

// The quantiser a coefficient index falls under, from the band edges.
float BandQuantiser(const AudioLayout& layout, const encode::AudioChannelCode& code, uint32_t i);

struct CollectedPcm {
  std::vector<int16_t> samples;
  std::vector<uint32_t> calls;  // byte count of each hand-over
  std::vector<uint8_t> bytes;
};
void CollectPcm(void* context, const int16_t* samples, uint32_t bytes);

AudioLayout Layout(uint32_t rate, uint32_t channels, bool dct);

}  // namespace kivo::test
