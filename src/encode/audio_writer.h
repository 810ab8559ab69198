// SPDX-License-Identifier: BSD-2-Clause
// The writer side of the audio blocks: packed floats, band quantiser codes,
// coefficient runs with their widths, whole blocks and chunks, exactly as
// the audio decoder reads them. The encoder's analysis builds on this.
#pragma once

#include <cstdint>
#include <vector>

#include "audio/audio_format.h"
#include "encode/bit_writer.h"

namespace kivo::encode {

// Packed float from its fields: exponent e (0..31), 23-bit mantissa m.
constexpr uint32_t PackedFloatFields(uint32_t e, uint32_t m, bool negative) {
  return (e & 31) | (m & 0x7FFFFF) << 5 | (negative ? 1u << 28 : 0u);
}
// The packed float nearest to x with an exponent of at most 23 (ties to an
// even mantissa); magnitudes beyond the largest, 2^23 - 1, give the largest.
uint32_t PackFloat(float x);

// The smallest band code whose quantiser is at least `step`; 255 when none is.
uint32_t QuantiserCode(float step);

// A coded channel as integers: the packed floats of k[0] and k[1], a band
// code per band, and N quantised coefficients (entries 0 and 1 unused), each
// within -32767 .. 32767.
struct AudioChannelCode {
  uint32_t k0 = 0, k1 = 0;
  uint8_t bands[kMaxAudioBands] = {};
  std::vector<int32_t> values;
};

// One run: `code` -1 for the short run of 8 coefficients, else 0..15 for
// 8 x kCoefficientRunLengths[code]; the last run is cut at N. Width 0 to 15.
struct AudioRun {
  int32_t code;
  uint32_t width;
};

// Bits that hold |v|: 0 for 0, 15 for 32767.
uint32_t ValueWidth(int32_t v);
// The runs over coefficients 2 .. N-1 (N = values.size()) that take the
// fewest bits, each with the smallest width that holds its values.
std::vector<AudioRun> PlanRuns(const std::vector<int32_t>& values);
// The bits the runs take, headers included; 0 when they do not fit the values
// (a value wider than its run, or runs that do not end exactly at N).
uint64_t RunBits(const std::vector<int32_t>& values, const std::vector<AudioRun>& runs);

// Quantises coefficients 2 .. N-1 of k by the band codes already in `code`
// (value = k / quantiser rounded to nearest, clamped to 32767 in size) and
// packs k[0] and k[1]. N is the layout's block size.
void QuantiseChannel(const AudioLayout& layout, const float* k, AudioChannelCode* code);

// Writes one coded channel with the given runs (none: PlanRuns). False, and
// nothing written, when the runs do not fit the values.
bool PutAudioChannel(BitWriter& writer, const AudioLayout& layout, const AudioChannelCode& code,
                     const std::vector<AudioRun>& runs = {});

// One whole block (layout.codedChannels channels), padded to whole words. In
// DCT mode `leadBits` fills the two bits the decoder skips. Empty when a
// channel does not fit its runs.
std::vector<uint8_t> WriteAudioBlock(const AudioLayout& layout, const AudioChannelCode* channels,
                                     uint32_t leadBits = 0, const std::vector<AudioRun>* runs = nullptr);

// A chunk as a frame packet holds it after its size field: the count of PCM
// bytes it yields, then the blocks (the container writer adds the size).
std::vector<uint8_t> BuildAudioChunk(uint32_t pcmBytes, const std::vector<std::vector<uint8_t>>& blocks);

}  // namespace kivo::encode
