// SPDX-License-Identifier: BSD-2-Clause
// The nine per-plane value streams (bundles) of the video stream: their
// buffers and count widths, the reading of their trees at the start of a
// plane and their refills at the start of each block row, and the checked
// taking of values by the block decoder.
#pragma once

#include <cstdint>
#include <cstring>

#include "video/bit_reader.h"
#include "video/code_trees.h"
#include "video/idct.h"
#include "video/plane_set.h"

namespace kivo {

enum BundleId : int {
  kBlockTypes = 0,
  kDoubledTypes = 1,
  kColours = 2,
  kPatternBytes = 3,
  kMotionX = 4,
  kMotionY = 5,
  kDcIntra = 6,
  kDcInter = 7,
  kRunLengths = 8,
};

struct Bundle {
  uint8_t* buffer;
  uint32_t readPos, end;  // value positions; exhausted when equal
  uint32_t capacity;      // values the buffer can hold
  uint32_t countBits;     // width of the count read at each refill
  uint32_t valueBits;     // DC bundles: width of the first value
  uint32_t signedStart;   // DC bundles: 1 << (valueBits - 1) when the first value has a sign
  CodeTree tree;          // unused by the DC bundles; the low-nibble tree of Colours
};

// Ways a plane's stream can be malformed. kPlaneStopped ends the plane at
// the block where it happened; kPlaneRepaired notes a fault that was worked
// around without losing the stream's position.
enum : uint32_t {
  kPlaneStopped = 1,
  kPlaneRepaired = 2,
};

// Index width of the two-code lookups (BuildPairLookup) of pattern nibbles
// and run lengths.
constexpr uint32_t kPairBits = 10;

// Everything one plane's decoding needs besides its geometry; lives on the
// stack of the plane decoder.
struct PlaneState {
  BitReader reader;
  Bundle bundles[kBundleCount];
  CodeTree colourHigh[16];   // high-nibble trees by the previous high nibble
  uint32_t colourContext;
  // Two-code lookups, built from the trees when a refill first needs them
  // (SetUpBundles and ReadPlaneTrees mark them unbuilt).
  bool patternPairsBuilt, runPairsBuilt;
  uint16_t patternPairs[1 << kPairBits];
  uint16_t runPairs[1 << kPairBits];
  // Colours when the low-nibble tree is fixed tree 0 (every code 4 bits):
  // by context, the high-nibble lookup with the low code's 4 bits added to
  // the length (BuildFlatColours). Built when a refill first needs it.
  bool flatColoursBuilt;
  uint16_t flatColours[16][1 << kLookupBits];
  // Each axis's offsets with their sign bits (BuildSignedMotion), built
  // when a refill first needs them, like the pairs.
  bool signedMotionBuilt[2];
  uint16_t signedMotion[2][1 << (kLookupBits + 1)];
  bool remapColours;         // revisions before 'i' store colours offset by 128
  IdctTransform transform;   // plain or fast, same results
  uint32_t faults;
};

// Sets up the nine bundles for a plane `width` samples wide over buffers of
// the given sizes (ComputeBundleSizes of the luma pitch); all exhausted.
void SetUpBundles(PlaneState* state, uint8_t* const buffers[kBundleCount],
                  const uint32_t sizes[kBundleCount], uint32_t width);

// Reads the plane's tree headers in stream order and resets the colour context.
void ReadPlaneTrees(PlaneState* state);

// Refills bundle `id` if it is exhausted (a finished bundle never is).
void RefillBundle(PlaneState* state, int id);

// Refills every exhausted bundle in bundle order, as at each block row.
inline void RefillBundles(PlaneState* state) {
  for (int id = 0; id < kBundleCount; ++id)
    if (state->bundles[id].readPos == state->bundles[id].end) RefillBundle(state, id);
}

// ---- Taking values -------------------------------------------------------
// Taking more than the latest refill decoded stops the plane and yields 0.

inline uint32_t NextByte(PlaneState* state, int id) {
  Bundle* b = &state->bundles[id];
  if (b->readPos >= b->end) {
    state->faults |= kPlaneStopped;
    return 0;
  }
  return b->buffer[b->readPos++];
}

inline int32_t NextSignedByte(PlaneState* state, int id) {
  return int32_t(int8_t(uint8_t(NextByte(state, id))));
}

inline int16_t NextDc(PlaneState* state, int id) {
  Bundle* b = &state->bundles[id];
  if (b->readPos >= b->end) {
    state->faults |= kPlaneStopped;
    return 0;
  }
  int16_t v;
  memcpy(&v, b->buffer + 2 * b->readPos++, 2);
  return v;
}

// n consecutive bytes (n <= 64), or zeros when fewer are left.
inline const uint8_t* NextBytes(PlaneState* state, int id, uint32_t n) {
  static const uint8_t kZeros[64] = {};
  Bundle* b = &state->bundles[id];
  if (b->readPos >= b->end || b->end - b->readPos < n) {
    state->faults |= kPlaneStopped;
    return kZeros;
  }
  const uint8_t* p = b->buffer + b->readPos;
  b->readPos += n;
  return p;
}

}  // namespace kivo
