// SPDX-License-Identifier: BSD-2-Clause
// Builds the exact video data of a frame from a description of every 8x8
// block: the block types and their parameters, the per-plane code trees and
// the way the nine bundles are refilled. Also the reference of what a correct
// decoder draws for such a plane, and helpers that pick block parameters from
// wanted pixels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "encode/bit_writer.h"
#include "encode/video_coefficients.h"
#include "encode/video_trees.h"

namespace kivo::encode {

enum BlockTypeValue : uint8_t {
  kUnchanged = 0,
  kDoubled = 1,
  kMoved = 2,
  kRuns = 3,
  kMovedResidue = 4,
  kIntra = 5,
  kFill = 6,
  kInter = 7,
  kTwoColour = 8,
  kRaw = 9,
};

enum BundleIndex : uint8_t {
  kBlockTypesBundle = 0,
  kDoubledTypesBundle = 1,
  kColoursBundle = 2,
  kPatternBytesBundle = 3,
  kMotionXBundle = 4,
  kMotionYBundle = 5,
  kDcIntraBundle = 6,
  kDcInterBundle = 7,
  kRunLengthsBundle = 8,
  kBundleTotal = 9,
};

// One run of a Runs block, in pattern order: `length` positions (1 to 16)
// that share one colour (fill) or take one colour each.
struct RunSpec {
  uint8_t length;
  bool fill;
};

// One block position. Which fields count depends on `type`:
//   Moved, MovedResidue, Inter: dx, dy (-15 to 15).
//   Fill: pixels[0]. TwoColour: pixels[0] = c0, pixels[1] = c1, mask (bit c
//     of mask[r] = column c of row r is c1).
//   Raw: pixels (row-major). Runs: pattern, pixels (row-major); the runs are
//     taken from `runs` when runCount > 0, else chosen from the pixels.
//   Intra, Inter: coefficients (natural order, [0] the DC), quantiser,
//     planes (-1: as few as the values need).
//   MovedResidue: residue (natural order), residueCode.
//   Doubled on an even block row: doubledType (3, 5, 6, 8, 9 draw; others
//     draw nothing) and that type's fields, describing the 8x8 picture that
//     is drawn twice as large. On an odd block row it is only the marker
//     below a doubled block and carries nothing.
//   Types 10 to 15: nothing.
struct BlockSpec {
  uint8_t type = kUnchanged;  // 0 to 15
  uint8_t doubledType = kFill;
  int8_t dx = 0, dy = 0;
  uint8_t pattern = 0;
  uint8_t quantiser = 0;
  int8_t planes = -1;
  uint8_t runCount = 0;
  RunSpec runs[64] = {};
  uint8_t mask[8] = {};
  uint8_t pixels[64] = {};
  int16_t coefficients[64] = {};
  int8_t residue[64] = {};
  ResidueCode residueCode = {};
};

// How refills group values. A refill always covers whole block rows (the
// decoder refills only at a row start), at most `refillRows` of them, never
// more values than the count field and the decoder's buffer hold; an
// exhausted bundle whose rows take nothing is refilled with the next rows
// that do, and finished (count 0) when no later row does.
struct PlaneCoding {
  uint32_t refillRows = 6;
  bool allowFill[kBundleTotal] = {true, true, true, true, true, true, true, true, true};
  bool blockTypeRuns = true;  // use the run codes 12 to 15 in block-type refills
  bool autoTrees = true;      // choose every tree from this plane's statistics
  // Used when autoTrees is false.
  TreeChoice blockTypes, doubledTypes, colourHigh[16], colourLow, patternBytes, motionX,
      motionY, runLengths;
};

// A plane of (width / 8) x (height / 8) block positions, row-major. The walk
// of a row takes blocks[row * columns + c] and moves on one position, two
// after a Doubled block; positions stepped over are not looked at.
struct PlaneSpec {
  uint32_t width = 0, height = 0;  // decoded area, multiples of 8
  std::vector<BlockSpec> blocks;
  PlaneCoding coding;
};

// Sets up a plane of Unchanged blocks.
void InitPlane(PlaneSpec& plane, uint32_t width, uint32_t height);
BlockSpec& BlockAt(PlaneSpec& plane, uint32_t column, uint32_t row);
// Puts a doubled block at an even row (its 16x16 area starting at column,
// row) and the marker on the row below, when that row exists.
void SetDoubled(PlaneSpec& plane, uint32_t column, uint32_t row, const BlockSpec& inner);

// Writes one plane's bit stream (whole 32-bit words) after what `writer`
// holds. oldColours: revision before 'i', whose colours are stored remapped
// (the block fields hold the samples the decoder gives; sample 0 cannot be
// stored then). False, with *error set, for a block the stream cannot carry.
bool WritePlane(BitWriter& writer, const PlaneSpec& plane, bool oldColours, std::string* error);

// What a correct decoder draws: dst and ref hold the plane (pitch bytes per
// line); the reference is read before any of the block's samples is written.
// Blocks the stream cannot carry, or that reach outside the plane, are left
// undrawn.
void DrawPlane(const PlaneSpec& plane, const uint8_t* ref, uint8_t* dst, uint32_t pitch);

// Frame video data: the alpha plane with its size word (when present), the
// luma size word for revision 'i', luma, then the chroma planes (none for a
// grey stream) in stream order.
struct FrameSpec {
  char revision = 'i';  // 'f' to 'i'
  const PlaneSpec* alpha = nullptr;
  const PlaneSpec* luma = nullptr;
  const PlaneSpec* chroma[2] = {nullptr, nullptr};
};
bool WriteVideoFrame(const FrameSpec& frame, std::vector<uint8_t>& out, std::string* error);

// The planes of a frame in stream order. Each plane is a stream of its own
// ending on a word, so they can be written apart (each by WritePlane into an
// empty writer, in any order or at once) and joined afterwards.
struct FrameLayout {
  const PlaneSpec* planes[4] = {};
  bool sized[4] = {};  // the plane is preceded by its size word
  uint32_t count = 0;
  bool oldColours = false;  // WritePlane's argument for every plane
};
// False, with *error set, for a frame that cannot be written.
bool LayOutVideoFrame(const FrameSpec& frame, FrameLayout& layout, std::string* error);
// Appends the frame's video data to `out`, from written[i] holding plane i
// of the layout as WritePlane wrote it into an empty writer.
void AssembleVideoFrame(const FrameLayout& layout, const BitWriter* const written[], std::vector<uint8_t>& out);

// Plane areas of a movie of this size: luma and alpha, and chroma.
uint32_t LumaAreaWidth(uint32_t width);
uint32_t LumaAreaHeight(uint32_t height);
uint32_t ChromaAreaWidth(uint32_t width);
uint32_t ChromaAreaHeight(uint32_t height);

// Picking parameters from wanted pixels (8 bytes per row):
// The two colours and mask that come nearest (exact for two-valued blocks).
void FitTwoColour(const uint8_t pixels[64], BlockSpec& block);
// The residue over a prediction that gives the pixels exactly, and its code.
void FitResidue(const uint8_t pixels[64], const uint8_t prediction[64], BlockSpec& block);
// A run segmentation of the pixels in `pattern` order (fills for repeats).
void FitRuns(const uint8_t pixels[64], uint32_t pattern, BlockSpec& block);
// Natural position of entry i of a run pattern.
uint8_t RunPatternPosition(uint32_t pattern, uint32_t i);

}  // namespace kivo::encode
