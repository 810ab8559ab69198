// SPDX-License-Identifier: BSD-2-Clause
// What the audio decoder and the audio writer agree on: the band edges, the
// run lengths, the block layout derived from a track's rate, channels and
// coding, the band quantiser values and the packed float.
#pragma once

#include <cstdint>

namespace kivo {

constexpr uint32_t kMaxAudioBands = 25;
constexpr uint32_t kAudioScratchFloats = 4096;  // largest N x coded channels

// Lower edge of each band in Hz.
constexpr uint32_t kBandEdgeHz[kMaxAudioBands] = {0,    100,  200,  300,  400,  510,  630,  770,  920,
                                                  1080, 1270, 1480, 1720, 2000, 2320, 2700, 3150, 3700,
                                                  4400, 5300, 6400, 7700, 9500, 12000, 15500};

// Lengths of the long coefficient runs, in units of 8 coefficients.
constexpr uint32_t kCoefficientRunLengths[16] = {2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15, 16, 32, 64};

// The shape of a track's blocks.
struct AudioLayout {
  uint32_t blockSize;      // N: coefficients per coded channel and transform length
  uint32_t codedChannels;  // 1, or 2 in DCT stereo
  uint32_t blockBytes;     // PCM bytes a block rebuilds, tail included
  uint32_t overlapBytes;   // bytes held back to blend into the next block
  uint32_t bandCount;      // 0 only for a rate below 1 Hz
  uint32_t bandEdges[kMaxAudioBands + 1];  // in frequency bins; entry bandCount = N / 2
  int32_t dct;             // 1: DCT mode (channels coded apart), 0: RDFT mode
};

// Works out the layout for `channels` (1 or 2) at `sampleRate` Hz; 0 when
// the channel count is neither.
int32_t ComputeAudioLayout(uint32_t sampleRate, uint32_t channels, int32_t dct, AudioLayout* layout);

// Band quantiser for the 8-bit code q: 10^(q x 0.0664), the factor held as a
// float, the power taken in double precision and rounded to float.
float QuantiserValue(uint32_t q);

// Packed float of 29 bits: exponent e in bits 0-4, 23-bit mantissa m in bits
// 5-27 (no hidden bit), sign in bit 28; the value is m x 2^(e - 23). Stored
// streams use e up to 23; exponents 24 to 31 continue the same powers
// (2^1 .. 2^8), so every code gives a finite float, exactly.
constexpr uint32_t kPackedFloatBits = 29;
float PackedFloatValue(uint32_t bits);

}  // namespace kivo
