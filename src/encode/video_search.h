// SPDX-License-Identifier: BSD-2-Clause
// Per-block searches of the video encoder: motion vectors by block matching
// against the reference picture, and the forward transform with the
// quantisers' dead-zone rounding that turns wanted samples into DCT
// coefficients for intra and inter blocks.
#pragma once

#include <climits>
#include <cstdint>

namespace kivo::encode {

// A reference picture as the motion search sees it: the decoded area only,
// `stride` bytes per line.
struct SearchPlane {
  const uint8_t* samples = nullptr;
  uint32_t width = 0, height = 0, stride = 0;
};

// Sum of absolute differences between the 8x8 block `want` (8 bytes per row)
// and the reference block at (x, y).
uint32_t BlockSad(const uint8_t want[64], const SearchPlane& ref, int x, int y);
// Copies the 8x8 reference block at (x, y).
void ReferenceBlock(const SearchPlane& ref, int x, int y, uint8_t out[64]);

struct MotionVector {
  int8_t dx = 0, dy = 0;
};

// Best offset (-15 to 15 on each axis, keeping the block inside the
// reference) for the block at (x, y): starts from the zero vector and the
// `predictors`, then refines by shrinking diamonds. `exhaustive` tries every
// offset instead. *sad receives the best match's SAD.
MotionVector SearchMotion(const uint8_t want[64], const SearchPlane& ref, int x, int y,
                          const MotionVector* predictors, int predictorCount, bool exhaustive,
                          uint32_t* sad);

// Forward transform of an 8x8 block of signed sample differences (or
// levels) into the unquantised coefficient scale of the inverse transform
// before its table: value k is what coefficient k times its table entry,
// shifted right by 11, should be.
void ForwardTransform(const int16_t samples[64], float out[64]);

// Quantises transform output with `reciprocal` (2048 divided by each entry
// of a quantiser row, natural order): AC values rounded towards zero by
// `deadZone` (0 to 0.5) and kept within 14 bits; the DC rounded to nearest
// and held in dcMin..dcMax. Returns the number of nonzero AC values.
int Quantise(const float transformed[64], const float* reciprocal, float deadZone, int32_t dcMin,
             int32_t dcMax, int16_t block[64]);

// Exact size in bits of what WriteCoefficients writes for `block` (natural
// order, [0] ignored) with as few planes as it needs, counted on bit masks
// without writing; -1 when the block cannot be written. Counting may stop
// at the end of a bit plane once the bits reach `limit` (the result is then
// at least `limit`).
int CoefficientCodeBits(const int16_t block[64], int limit = INT_MAX);

// Bits of the runs the writer's run fit gives `pixels` in run pattern
// `pattern`: a flag and a length per run, and a colour per fill run or per
// sample of a single-colour run, at the given costs. Counting stops once
// the bits reach `limit`.
double RunsBits(const uint8_t pixels[64], uint32_t pattern, double runBits, double colourBits,
                double limit);

}  // namespace kivo::encode
