// SPDX-License-Identifier: BSD-2-Clause
// Block emission on the writer side: what every block type puts into the
// bundles and writes into the stream, the run segmentation of run blocks, the
// 8x8 picture a block stands for, and parameter fits from wanted pixels.
#include "encode/video_blocks.h"

#include "encode/encode_error.h"

#include <algorithm>
#include <cstring>

#include "encode/video_dct.h"

namespace kivo::encode {
namespace {

// Entry i of a run pattern gives the natural position (row * 8 + column).
const uint8_t kRunPatterns[16][64] = {
    {0, 8, 16, 24, 32, 40, 48, 56, 57, 49, 41, 33, 25, 17, 9, 1, 2, 10, 18, 26, 34, 42, 50, 58, 59, 51, 43, 35, 27, 19, 11, 3, 4, 12, 20, 28, 36, 44, 52, 60, 61, 53, 45, 37, 29, 21, 13, 5, 6, 14, 22, 30, 38, 46, 54, 62, 63, 55, 47, 39, 31, 23, 15, 7},
    {59, 58, 57, 56, 48, 49, 50, 51, 43, 42, 41, 40, 32, 33, 34, 35, 27, 26, 25, 24, 16, 17, 18, 19, 11, 10, 9, 8, 0, 1, 2, 3, 4, 5, 6, 7, 15, 14, 13, 12, 20, 21, 22, 23, 31, 30, 29, 28, 36, 37, 38, 39, 47, 46, 45, 44, 52, 53, 54, 55, 63, 62, 61, 60},
    {25, 17, 18, 26, 27, 19, 11, 3, 2, 10, 9, 1, 0, 8, 16, 24, 32, 40, 48, 56, 57, 49, 41, 42, 50, 58, 59, 51, 43, 35, 34, 33, 29, 21, 22, 30, 31, 23, 15, 7, 6, 14, 13, 5, 4, 12, 20, 28, 36, 44, 52, 60, 61, 53, 45, 46, 54, 62, 63, 55, 47, 39, 38, 37},
    {3, 11, 2, 10, 1, 9, 0, 8, 16, 24, 17, 25, 18, 26, 19, 27, 35, 43, 34, 42, 33, 41, 32, 40, 48, 56, 49, 57, 50, 58, 51, 59, 60, 52, 61, 53, 62, 54, 63, 55, 47, 39, 46, 38, 45, 37, 44, 36, 28, 20, 29, 21, 30, 22, 31, 23, 15, 7, 14, 6, 13, 5, 12, 4},
    {24, 25, 16, 17, 8, 9, 0, 1, 2, 3, 10, 11, 18, 19, 26, 27, 28, 29, 20, 21, 12, 13, 4, 5, 6, 7, 14, 15, 22, 23, 30, 31, 39, 38, 47, 46, 55, 54, 63, 62, 61, 60, 53, 52, 45, 44, 37, 36, 35, 34, 43, 42, 51, 50, 59, 58, 57, 56, 49, 48, 41, 40, 33, 32},
    {0, 1, 2, 3, 8, 9, 10, 11, 16, 17, 18, 19, 24, 25, 26, 27, 32, 33, 34, 35, 40, 41, 42, 43, 48, 49, 50, 51, 56, 57, 58, 59, 4, 5, 6, 7, 12, 13, 14, 15, 20, 21, 22, 23, 28, 29, 30, 31, 36, 37, 38, 39, 44, 45, 46, 47, 52, 53, 54, 55, 60, 61, 62, 63},
    {6, 7, 15, 14, 13, 5, 12, 4, 3, 11, 2, 10, 9, 1, 0, 8, 16, 24, 17, 25, 18, 26, 19, 27, 20, 28, 21, 29, 22, 30, 23, 31, 39, 47, 38, 46, 37, 45, 36, 44, 35, 43, 34, 42, 33, 41, 32, 40, 49, 48, 56, 57, 58, 50, 59, 51, 60, 52, 61, 53, 54, 55, 63, 62},
    {0, 1, 2, 3, 4, 5, 6, 7, 15, 14, 13, 12, 11, 10, 9, 8, 16, 17, 18, 19, 20, 21, 22, 23, 31, 30, 29, 28, 27, 26, 25, 24, 32, 33, 34, 35, 36, 37, 38, 39, 47, 46, 45, 44, 43, 42, 41, 40, 48, 49, 50, 51, 52, 53, 54, 55, 63, 62, 61, 60, 59, 58, 57, 56},
    {0, 8, 9, 1, 2, 3, 11, 10, 18, 19, 27, 26, 25, 17, 16, 24, 32, 40, 41, 33, 34, 35, 43, 42, 50, 49, 48, 56, 57, 58, 59, 51, 52, 60, 61, 62, 63, 55, 54, 53, 45, 44, 36, 37, 38, 46, 47, 39, 31, 23, 22, 30, 29, 28, 20, 21, 13, 12, 4, 5, 6, 14, 15, 7},
    {24, 25, 16, 17, 8, 9, 0, 1, 2, 3, 10, 11, 18, 19, 26, 27, 28, 29, 20, 21, 12, 13, 4, 5, 6, 7, 14, 15, 22, 23, 30, 31, 38, 39, 46, 47, 54, 55, 62, 63, 60, 61, 52, 53, 44, 45, 36, 37, 34, 35, 42, 43, 50, 51, 58, 59, 56, 57, 48, 49, 40, 41, 32, 33},
    {0, 8, 1, 9, 2, 10, 3, 11, 19, 27, 18, 26, 17, 25, 16, 24, 32, 40, 33, 41, 34, 42, 35, 43, 51, 59, 50, 58, 49, 57, 48, 56, 60, 52, 61, 53, 62, 54, 63, 55, 47, 39, 46, 38, 45, 37, 44, 36, 31, 23, 30, 22, 29, 21, 28, 20, 12, 4, 13, 5, 14, 6, 15, 7},
    {0, 8, 16, 24, 25, 26, 27, 19, 11, 3, 2, 1, 9, 17, 18, 10, 4, 12, 20, 28, 29, 30, 31, 23, 15, 7, 6, 5, 13, 21, 22, 14, 36, 44, 52, 60, 61, 62, 63, 55, 47, 39, 38, 37, 45, 53, 54, 46, 32, 40, 48, 56, 57, 58, 59, 51, 43, 35, 34, 33, 41, 49, 50, 42},
    {0, 8, 9, 1, 2, 3, 11, 10, 19, 27, 26, 18, 17, 16, 24, 25, 33, 32, 40, 41, 42, 34, 35, 43, 51, 59, 58, 50, 49, 57, 56, 48, 52, 60, 61, 53, 54, 62, 63, 55, 47, 39, 38, 46, 45, 44, 36, 37, 29, 28, 20, 21, 22, 30, 31, 23, 14, 15, 7, 6, 5, 13, 12, 4},
    {24, 16, 8, 0, 1, 2, 3, 11, 19, 27, 26, 25, 17, 10, 9, 18, 28, 20, 12, 4, 5, 6, 7, 15, 23, 31, 30, 29, 21, 14, 13, 22, 60, 52, 44, 36, 37, 38, 39, 47, 55, 63, 62, 61, 53, 46, 45, 54, 56, 48, 40, 32, 33, 34, 35, 43, 51, 59, 58, 57, 49, 42, 41, 50},
    {0, 8, 9, 1, 2, 10, 18, 17, 16, 24, 25, 26, 27, 19, 11, 3, 7, 6, 14, 15, 23, 22, 21, 13, 5, 4, 12, 20, 28, 29, 30, 31, 63, 62, 54, 55, 47, 46, 45, 53, 61, 60, 52, 44, 36, 37, 38, 39, 56, 48, 49, 57, 58, 50, 42, 41, 40, 32, 33, 34, 35, 43, 51, 59},
    {0, 1, 8, 9, 16, 17, 24, 25, 32, 33, 40, 41, 48, 49, 56, 57, 58, 59, 50, 51, 42, 43, 34, 35, 26, 27, 18, 19, 10, 11, 2, 3, 4, 5, 12, 13, 20, 21, 28, 29, 36, 37, 44, 45, 52, 53, 60, 61, 62, 63, 54, 55, 46, 47, 38, 39, 30, 31, 22, 23, 14, 15, 6, 7},
};

bool PushColour(RowValues& row, uint8_t sample, bool oldColours, std::string* error) {
  int stored = StoredColour(sample, oldColours);
  if (stored < 0) return Fail(error, "colour 0 cannot be stored before revision 'i'");
  row.values[kColoursBundle].push_back(stored);
  return true;
}

bool EmitMotion(const BlockSpec& b, RowValues& row, std::string* error) {
  if (b.dx < -15 || b.dx > 15 || b.dy < -15 || b.dy > 15)
    return Fail(error, "motion offset outside -15..15");
  row.values[kMotionXBundle].push_back(b.dx);
  row.values[kMotionYBundle].push_back(b.dy);
  return true;
}

bool EmitRuns(const BlockSpec& b, bool oldColours, RowValues& row, BitWriter& bits,
              std::string* error) {
  if (b.pattern > 15) return Fail(error, "run pattern above 15");
  RunSpec runs[64];
  int count = 0;
  if (!BlockRuns(b, runs, &count, error)) return false;
  PutBits(bits, b.pattern, 4);
  const uint8_t* order = kRunPatterns[b.pattern];
  // Positions past the last entry (an overrunning final run) take colour 0.
  auto sample = [&](int i) -> uint8_t { return i < 64 ? b.pixels[order[i]] : 0; };
  int i = 0;
  for (int r = 0; r < count; ++r) {
    PutBit(bits, runs[r].fill);
    row.values[kRunLengthsBundle].push_back(runs[r].length - 1);
    if (runs[r].fill) {
      if (!PushColour(row, sample(i), oldColours, error)) return false;
    } else {
      for (int k = 0; k < runs[r].length; ++k)
        if (!PushColour(row, sample(i + k), oldColours, error)) return false;
    }
    i += runs[r].length;
  }
  if (i == 63 && !PushColour(row, sample(63), oldColours, error)) return false;
  return true;
}

bool EmitTwoColour(const BlockSpec& b, bool oldColours, RowValues& row, std::string* error) {
  if (!PushColour(row, b.pixels[0], oldColours, error) ||
      !PushColour(row, b.pixels[1], oldColours, error))
    return false;
  for (int r = 0; r < 8; ++r) row.values[kPatternBytesBundle].push_back(b.mask[r]);
  return true;
}

bool EmitRaw(const BlockSpec& b, bool oldColours, RowValues& row, std::string* error) {
  for (int i = 0; i < 64; ++i)
    if (!PushColour(row, b.pixels[i], oldColours, error)) return false;
  return true;
}

bool EmitCoefficients(const BlockSpec& b, BitWriter& bits, std::string* error) {
  if (b.quantiser > 15) return Fail(error, "quantiser index above 15");
  int needed = CoefficientPlanes(b.coefficients);
  if (needed < 0) return Fail(error, "coefficient -32768 cannot be coded");
  if (b.planes > 15 || (b.planes >= 0 && b.planes < needed))
    return Fail(error, "coefficient bit planes do not fit the values");
  WriteCoefficients(bits, b.coefficients, b.planes);
  PutBits(bits, b.quantiser, 4);
  return true;
}

void Mix(uint8_t out[64], const uint8_t c0, const uint8_t c1, const uint8_t mask[8]) {
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) out[r * 8 + c] = (mask[r] >> c) & 1 ? c1 : c0;
}

}  // namespace

uint8_t RunPatternPosition(uint32_t pattern, uint32_t i) { return kRunPatterns[pattern & 15][i & 63]; }

int StoredColour(uint8_t sample, bool oldColours) {
  if (!oldColours) return sample;
  // Old streams store 128 + m as m and 128 - m as 0x80 | m (m up to 127).
  if (sample >= 128) return sample - 128;
  if (sample == 0) return -1;
  return 0x80 | (128 - sample);
}

bool BlockRuns(const BlockSpec& b, RunSpec runs[64], int* count, std::string* error) {
  if (b.runCount == 0) {
    BlockSpec fitted = b;
    FitRuns(b.pixels, b.pattern, fitted);
    std::copy(fitted.runs, fitted.runs + fitted.runCount, runs);
    *count = fitted.runCount;
    return true;
  }
  if (b.runCount > 64) return Fail(error, "more than 64 runs");
  int i = 0;
  for (int r = 0; r < b.runCount; ++r) {
    if (i >= 63) return Fail(error, "runs continue after the block is full");
    if (b.runs[r].length < 1 || b.runs[r].length > 16) return Fail(error, "run length outside 1..16");
    runs[r] = b.runs[r];
    i += b.runs[r].length;
  }
  if (i < 63) return Fail(error, "runs end before the block is full");
  *count = b.runCount;
  return true;
}

bool BlockPicture(const BlockSpec& b, uint32_t type, const uint8_t* prediction, uint8_t out[64]) {
  switch (type) {
    case kRuns: {
      RunSpec runs[64];
      int count = 0;
      if (b.pattern > 15 || !BlockRuns(b, runs, &count, nullptr)) return false;
      const uint8_t* order = kRunPatterns[b.pattern];
      int i = 0;
      for (int r = 0; r < count; ++r) {
        if (i + runs[r].length > 64) return false;  // overrun: not a picture
        for (int k = 0; k < runs[r].length; ++k)
          out[order[i + k]] = b.pixels[order[runs[r].fill ? i : i + k]];
        i += runs[r].length;
      }
      if (i == 63) out[order[63]] = b.pixels[order[63]];
      return true;
    }
    case kIntra:
      if (b.quantiser > 15 || CoefficientPlanes(b.coefficients) < 0) return false;
      ReconstructIntra(b.coefficients, b.quantiser, out);
      return true;
    case kFill:
      std::memset(out, b.pixels[0], 64);
      return true;
    case kTwoColour:
      Mix(out, b.pixels[0], b.pixels[1], b.mask);
      return true;
    case kRaw:
      std::memcpy(out, b.pixels, 64);
      return true;
    case kInter:
      if (!prediction || b.quantiser > 15 || CoefficientPlanes(b.coefficients) < 0) return false;
      ReconstructInter(b.coefficients, b.quantiser, prediction, out);
      return true;
    case kMovedResidue: {
      if (!prediction) return false;
      BitWriter scratch;
      int8_t decoded[64];
      if (!WriteResidue(scratch, b.residue, b.residueCode, decoded)) return false;
      for (int i = 0; i < 64; ++i) out[i] = uint8_t(prediction[i] + uint8_t(decoded[i]));
      return true;
    }
    default:
      return false;
  }
}

bool EmitBlock(const BlockSpec& b, bool evenRow, bool oldColours, RowValues& row, BitWriter& bits,
               std::string* error) {
  if (b.type > 15) return Fail(error, "block type above 15");
  row.values[kBlockTypesBundle].push_back(b.type);
  switch (b.type) {
    case kUnchanged:
      return true;
    case kMoved:
      return EmitMotion(b, row, error);
    case kRuns:
      return EmitRuns(b, oldColours, row, bits, error);
    case kMovedResidue: {
      if (!EmitMotion(b, row, error)) return false;
      if (!WriteResidue(bits, b.residue, b.residueCode))
        return Fail(error, "residue code does not fit the residue");
      return true;
    }
    case kIntra:
      row.values[kDcIntraBundle].push_back(b.coefficients[0]);
      return EmitCoefficients(b, bits, error);
    case kFill:
      return PushColour(row, b.pixels[0], oldColours, error);
    case kInter:
      if (!EmitMotion(b, row, error)) return false;
      row.values[kDcInterBundle].push_back(b.coefficients[0]);
      return EmitCoefficients(b, bits, error);
    case kTwoColour:
      return EmitTwoColour(b, oldColours, row, error);
    case kRaw:
      return EmitRaw(b, oldColours, row, error);
    case kDoubled:
      if (!evenRow) return true;  // the marker below a doubled block
      if (b.doubledType > 15) return Fail(error, "doubled block type above 15");
      row.values[kDoubledTypesBundle].push_back(b.doubledType);
      switch (b.doubledType) {
        case kRuns:
          return EmitRuns(b, oldColours, row, bits, error);
        case kIntra:
          row.values[kDcIntraBundle].push_back(b.coefficients[0]);
          return EmitCoefficients(b, bits, error);
        case kFill:
          return PushColour(row, b.pixels[0], oldColours, error);
        case kTwoColour:
          return EmitTwoColour(b, oldColours, row, error);
        case kRaw:
          return EmitRaw(b, oldColours, row, error);
        default:
          return true;  // draws nothing
      }
    default:
      return true;  // 10 to 15 only take a position
  }
}

void FitTwoColour(const uint8_t pixels[64], BlockSpec& block) {
  // Two-means on the sample values, started from the extremes.
  int lo = *std::min_element(pixels, pixels + 64), hi = *std::max_element(pixels, pixels + 64);
  for (int iteration = 0; iteration < 8 && lo != hi; ++iteration) {
    int sum[2] = {0, 0}, n[2] = {0, 0};
    for (int i = 0; i < 64; ++i) {
      int side = 2 * pixels[i] > lo + hi;
      sum[side] += pixels[i];
      ++n[side];
    }
    int newLo = n[0] ? (sum[0] + n[0] / 2) / n[0] : lo;
    int newHi = n[1] ? (sum[1] + n[1] / 2) / n[1] : hi;
    if (newLo == lo && newHi == hi) break;
    lo = newLo;
    hi = newHi;
  }
  block.pixels[0] = uint8_t(lo);
  block.pixels[1] = uint8_t(hi);
  for (int r = 0; r < 8; ++r) {
    uint8_t m = 0;
    for (int c = 0; c < 8; ++c) {
      int p = pixels[r * 8 + c];
      if (std::abs(p - hi) < std::abs(p - lo)) m |= uint8_t(1u << c);
    }
    block.mask[r] = m;
  }
}

void FitResidue(const uint8_t pixels[64], const uint8_t prediction[64], BlockSpec& block) {
  for (int i = 0; i < 64; ++i) block.residue[i] = int8_t(uint8_t(pixels[i] - prediction[i]));
  block.residueCode = {};
}

void FitRuns(const uint8_t pixels[64], uint32_t pattern, BlockSpec& block) {
  const uint8_t* order = kRunPatterns[pattern & 15];
  std::memcpy(block.pixels, pixels, 64);
  block.pattern = uint8_t(pattern & 15);
  auto at = [&](int i) { return pixels[order[i]]; };
  int i = 0, n = 0;
  while (i < 63) {
    int same = 1;
    while (i + same < 64 && same < 16 && at(i + same) == at(i)) ++same;
    if (same >= 2) {
      block.runs[n++] = {uint8_t(same), true};
      i += same;
      continue;
    }
    // Single colours up to where a repeat starts.
    int length = 1;
    while (i + length < 64 && length < 16 &&
           !(i + length + 1 < 64 && at(i + length) == at(i + length + 1)))
      ++length;
    block.runs[n++] = {uint8_t(length), false};
    i += length;
  }
  block.runCount = uint8_t(n);
}

}  // namespace kivo::encode
