// SPDX-License-Identifier: BSD-2-Clause
// The inner loops of the audio decoder as a table of operations: the plain
// routines and, where the processor has it, an AVX version that performs
// the same float operations in the same order (so the results agree with the
// plain ones, up to the sign of zeros). Each decoder takes the table its
// processor feature mask (base/processor.h) allows.
#pragma once

#include <cstdint>

namespace kivo {

struct AudioKernels {
  const char* name;
  // Complex FFT over n floats (n/2 points, re/im interleaved), in place, result
  // in natural order. Backward: X[k] = sum x[j] e^(-2 pi i jk/(n/2)); forward:
  // the same with e^(+...). `w` is the twiddle section of nw >= n/4 floats.
  void (*fftBackward)(uint32_t n, float* a, const float* w, uint32_t nw);
  void (*fftForward)(uint32_t n, float* a, const float* w, uint32_t nw);
  // The pass that turns a real spectrum of n floats into half-length complex
  // data and back (`forward` 0: before the backward FFT of the real inverse;
  // 1: after the forward FFT of the cosine transform). `c` is the cosine
  // section of nc floats.
  void (*realSplit)(uint32_t n, float* a, const float* c, uint32_t nc, int32_t forward);
  // The cosine transform's rotation before its FFT (cosine section of nc >= n
  // floats) and its closing pass after the split.
  void (*cosineRotation)(uint32_t n, float* a, const float* c, uint32_t nc);
  void (*cosineFinish)(uint32_t n, float* a);
  // 16-bit samples: round(x * scale) in double precision, ties to even,
  // clamped. With `right` the two channels are interleaved (count frames).
  void (*toPcm)(const float* left, const float* right, uint32_t count, float scale, int16_t* out);
};

extern const AudioKernels plainAudioKernels;
// Null when this build has no AVX version.
extern const AudioKernels* const avxAudioKernels;

// The fastest table a feature mask allows.
const AudioKernels& AudioKernelsFor(uint32_t features);

// Twiddle and cosine sections as the decoder's tables hold them.
void BuildTwiddleSection(uint32_t nw, int32_t* work, float* w);
void BuildCosineSection(uint32_t nc, int32_t* work, float* c);

// i reversed in its low `bits` bits (bits from 0 to 16). Static: the AVX
// file uses it too, and the linker could otherwise keep its AVX copy for all.
static inline uint32_t ReverseBits(uint32_t i, uint32_t bits) {
  i = ((i & 0x5555u) << 1) | ((i >> 1) & 0x5555u);
  i = ((i & 0x3333u) << 2) | ((i >> 2) & 0x3333u);
  i = ((i & 0x0F0Fu) << 4) | ((i >> 4) & 0x0F0Fu);
  i = ((i & 0x00FFu) << 8) | ((i >> 8) & 0x00FFu);
  return (i & 0xFFFFu) >> (16 - bits);
}

}  // namespace kivo
