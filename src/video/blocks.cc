// SPDX-License-Identifier: BSD-2-Clause
// The ten block types. Motion whose 8x8 source would leave the reference
// plane falls back to the co-located block; runs past the 64th position are
// cut there (their colours still taken); doubled blocks reaching past the
// decoded area are drawn only where they overlap it. Each of those notes a
// repaired fault and keeps the stream in step.
#include "video/blocks.h"

#include <cstring>

#include "video/coefficients.h"
#include "video/idct.h"
#include "video/quantiser.h"

namespace kivo {

constexpr uint8_t kRunPatterns[16][64] = {
    {0, 8, 16, 24, 32, 40, 48, 56, 57, 49, 41, 33, 25, 17, 9, 1, 2, 10, 18, 26, 34, 42, 50, 58, 59, 51, 43, 35, 27, 19, 11, 3,
     4, 12, 20, 28, 36, 44, 52, 60, 61, 53, 45, 37, 29, 21, 13, 5, 6, 14, 22, 30, 38, 46, 54, 62, 63, 55, 47, 39, 31, 23, 15, 7},
    {59, 58, 57, 56, 48, 49, 50, 51, 43, 42, 41, 40, 32, 33, 34, 35, 27, 26, 25, 24, 16, 17, 18, 19, 11, 10, 9, 8, 0, 1, 2, 3,
     4, 5, 6, 7, 15, 14, 13, 12, 20, 21, 22, 23, 31, 30, 29, 28, 36, 37, 38, 39, 47, 46, 45, 44, 52, 53, 54, 55, 63, 62, 61, 60},
    {25, 17, 18, 26, 27, 19, 11, 3, 2, 10, 9, 1, 0, 8, 16, 24, 32, 40, 48, 56, 57, 49, 41, 42, 50, 58, 59, 51, 43, 35, 34, 33,
     29, 21, 22, 30, 31, 23, 15, 7, 6, 14, 13, 5, 4, 12, 20, 28, 36, 44, 52, 60, 61, 53, 45, 46, 54, 62, 63, 55, 47, 39, 38, 37},
    {3, 11, 2, 10, 1, 9, 0, 8, 16, 24, 17, 25, 18, 26, 19, 27, 35, 43, 34, 42, 33, 41, 32, 40, 48, 56, 49, 57, 50, 58, 51, 59,
     60, 52, 61, 53, 62, 54, 63, 55, 47, 39, 46, 38, 45, 37, 44, 36, 28, 20, 29, 21, 30, 22, 31, 23, 15, 7, 14, 6, 13, 5, 12, 4},
    {24, 25, 16, 17, 8, 9, 0, 1, 2, 3, 10, 11, 18, 19, 26, 27, 28, 29, 20, 21, 12, 13, 4, 5, 6, 7, 14, 15, 22, 23, 30, 31,
     39, 38, 47, 46, 55, 54, 63, 62, 61, 60, 53, 52, 45, 44, 37, 36, 35, 34, 43, 42, 51, 50, 59, 58, 57, 56, 49, 48, 41, 40, 33, 32},
    {0, 1, 2, 3, 8, 9, 10, 11, 16, 17, 18, 19, 24, 25, 26, 27, 32, 33, 34, 35, 40, 41, 42, 43, 48, 49, 50, 51, 56, 57, 58, 59,
     4, 5, 6, 7, 12, 13, 14, 15, 20, 21, 22, 23, 28, 29, 30, 31, 36, 37, 38, 39, 44, 45, 46, 47, 52, 53, 54, 55, 60, 61, 62, 63},
    {6, 7, 15, 14, 13, 5, 12, 4, 3, 11, 2, 10, 9, 1, 0, 8, 16, 24, 17, 25, 18, 26, 19, 27, 20, 28, 21, 29, 22, 30, 23, 31,
     39, 47, 38, 46, 37, 45, 36, 44, 35, 43, 34, 42, 33, 41, 32, 40, 49, 48, 56, 57, 58, 50, 59, 51, 60, 52, 61, 53, 54, 55, 63, 62},
    {0, 1, 2, 3, 4, 5, 6, 7, 15, 14, 13, 12, 11, 10, 9, 8, 16, 17, 18, 19, 20, 21, 22, 23, 31, 30, 29, 28, 27, 26, 25, 24,
     32, 33, 34, 35, 36, 37, 38, 39, 47, 46, 45, 44, 43, 42, 41, 40, 48, 49, 50, 51, 52, 53, 54, 55, 63, 62, 61, 60, 59, 58, 57, 56},
    {0, 8, 9, 1, 2, 3, 11, 10, 18, 19, 27, 26, 25, 17, 16, 24, 32, 40, 41, 33, 34, 35, 43, 42, 50, 49, 48, 56, 57, 58, 59, 51,
     52, 60, 61, 62, 63, 55, 54, 53, 45, 44, 36, 37, 38, 46, 47, 39, 31, 23, 22, 30, 29, 28, 20, 21, 13, 12, 4, 5, 6, 14, 15, 7},
    {24, 25, 16, 17, 8, 9, 0, 1, 2, 3, 10, 11, 18, 19, 26, 27, 28, 29, 20, 21, 12, 13, 4, 5, 6, 7, 14, 15, 22, 23, 30, 31,
     38, 39, 46, 47, 54, 55, 62, 63, 60, 61, 52, 53, 44, 45, 36, 37, 34, 35, 42, 43, 50, 51, 58, 59, 56, 57, 48, 49, 40, 41, 32, 33},
    {0, 8, 1, 9, 2, 10, 3, 11, 19, 27, 18, 26, 17, 25, 16, 24, 32, 40, 33, 41, 34, 42, 35, 43, 51, 59, 50, 58, 49, 57, 48, 56,
     60, 52, 61, 53, 62, 54, 63, 55, 47, 39, 46, 38, 45, 37, 44, 36, 31, 23, 30, 22, 29, 21, 28, 20, 12, 4, 13, 5, 14, 6, 15, 7},
    {0, 8, 16, 24, 25, 26, 27, 19, 11, 3, 2, 1, 9, 17, 18, 10, 4, 12, 20, 28, 29, 30, 31, 23, 15, 7, 6, 5, 13, 21, 22, 14,
     36, 44, 52, 60, 61, 62, 63, 55, 47, 39, 38, 37, 45, 53, 54, 46, 32, 40, 48, 56, 57, 58, 59, 51, 43, 35, 34, 33, 41, 49, 50, 42},
    {0, 8, 9, 1, 2, 3, 11, 10, 19, 27, 26, 18, 17, 16, 24, 25, 33, 32, 40, 41, 42, 34, 35, 43, 51, 59, 58, 50, 49, 57, 56, 48,
     52, 60, 61, 53, 54, 62, 63, 55, 47, 39, 38, 46, 45, 44, 36, 37, 29, 28, 20, 21, 22, 30, 31, 23, 14, 15, 7, 6, 5, 13, 12, 4},
    {24, 16, 8, 0, 1, 2, 3, 11, 19, 27, 26, 25, 17, 10, 9, 18, 28, 20, 12, 4, 5, 6, 7, 15, 23, 31, 30, 29, 21, 14, 13, 22,
     60, 52, 44, 36, 37, 38, 39, 47, 55, 63, 62, 61, 53, 46, 45, 54, 56, 48, 40, 32, 33, 34, 35, 43, 51, 59, 58, 57, 49, 42, 41, 50},
    {0, 8, 9, 1, 2, 10, 18, 17, 16, 24, 25, 26, 27, 19, 11, 3, 7, 6, 14, 15, 23, 22, 21, 13, 5, 4, 12, 20, 28, 29, 30, 31,
     63, 62, 54, 55, 47, 46, 45, 53, 61, 60, 52, 44, 36, 37, 38, 39, 56, 48, 49, 57, 58, 50, 42, 41, 40, 32, 33, 34, 35, 43, 51, 59},
    {0, 1, 8, 9, 16, 17, 24, 25, 32, 33, 40, 41, 48, 49, 56, 57, 58, 59, 50, 51, 42, 43, 34, 35, 26, 27, 18, 19, 10, 11, 2, 3,
     4, 5, 12, 13, 20, 21, 28, 29, 36, 37, 44, 45, 52, 53, 60, 61, 62, 63, 54, 55, 46, 47, 38, 39, 30, 31, 22, 23, 14, 15, 6, 7},
};

namespace {

inline uint64_t Load8(const uint8_t* p) {
  uint64_t v;
  memcpy(&v, p, 8);
  return v;
}
inline void Store8(uint8_t* p, uint64_t v) { memcpy(p, &v, 8); }

inline void CopyBlock(uint8_t* dst, uint32_t dstPitch, const uint8_t* src, uint32_t srcPitch) {
  for (int r = 0; r < 8; ++r) Store8(dst + r * dstPitch, Load8(src + r * srcPitch));
}

// The source of a motion-compensated block: the reference at the block's
// place moved by the next offsets, or the block's own place when the moved
// 8x8 source would reach outside the reference plane.
inline __attribute__((always_inline)) const uint8_t* MotionSource(BlockPlane* p, uint32_t x,
                                                                  uint32_t y) {
  int32_t dx = NextSignedByte(p->state, kMotionX);
  int32_t dy = NextSignedByte(p->state, kMotionY);
  int64_t at = int64_t(y) * p->pitch + x;
  int64_t moved = at + int64_t(dy) * p->pitch + dx;
  if (moved < 0 || moved + 7 * int64_t(p->pitch) + 8 > int64_t(p->refBytes)) {
    p->state->faults |= kPlaneRepaired;
    moved = at;
  }
  return p->ref + moved;
}

// Inverse of each run order: the scan entry that lands on each position.
struct RunInverse {
  uint8_t at[16][64];
};
constexpr RunInverse InvertRunPatterns() {
  RunInverse inv{};
  for (int p = 0; p < 16; ++p)
    for (int i = 0; i < 64; ++i) inv.at[p][kRunPatterns[p][i]] = uint8_t(i);
  return inv;
}
constexpr RunInverse kRunInverse = InvertRunPatterns();

// The run procedure with every value checked against its bundle, into a
// local 8x8 block. Reader and bundle cursors are worked on in locals (the
// byte stores could alias them) and put back after.
void BuildRunsChecked(PlaneState* s, BitReader* reader, const uint8_t* order, uint8_t* dst,
                      uint32_t pitch) {
  uint8_t out[64];
  BitReader r = *reader;
  Bundle& lengths = s->bundles[kRunLengths];
  Bundle& colours = s->bundles[kColours];
  uint32_t lengthAt = lengths.readPos, colourAt = colours.readPos;
  const uint32_t lengthEnd = lengths.end, colourEnd = colours.end;
  const uint8_t* lengthValues = lengths.buffer;
  const uint8_t* colourValues = colours.buffer;
  bool dry = false, overrun = false;
  auto colour = [&]() -> uint8_t {
    if (colourAt >= colourEnd) {
      dry = true;
      return 0;
    }
    return colourValues[colourAt++];
  };
  uint32_t i = 0;
  while (i < 63) {
    uint32_t fill = ReadBit(&r);
    uint32_t n = 1;
    if (lengthAt < lengthEnd)
      n += lengthValues[lengthAt++];
    else
      dry = true;
    uint32_t stop = i + n, limit = stop;
    if (stop > 64) {
      overrun = true;
      limit = 64;
    }
    if (fill) {
      uint8_t c = colour();
      for (; i < limit; ++i) out[order[i]] = c;
    } else if (colourAt <= colourEnd && colourEnd - colourAt >= n) {
      const uint8_t* c = colourValues + colourAt;
      colourAt += n;
      for (; i < limit; ++i) out[order[i]] = *c++;
    } else {
      for (uint32_t k = 0; k < n; ++k, ++i) {
        uint8_t c = colour();
        if (i < 64) out[order[i]] = c;
      }
    }
    i = stop;
  }
  if (i == 63) out[order[63]] = colour();
  for (int line = 0; line < 8; ++line) memcpy(dst + line * pitch, out + 8 * line, 8);
  *reader = r;
  lengths.readPos = lengthAt;
  colours.readPos = colourAt;
  if (dry) s->faults |= kPlaneStopped;
  if (overrun) s->faults |= kPlaneRepaired;
}

// The run procedure, drawn at dst. While both buffers have room
// for what any block could read (64 runs, 80 colours and 16 bytes of slack)
// the runs are laid out in scan order without a branch per run: each writes
// 16 bytes (a repeated colour or the next colours), the next run overwriting
// what lies past its end; the scan is then mapped to positions in one pass.
// The runs' fill bits are the next bits of the stream, one per run, so they
// are taken from one fill of the cache and skipped together after. A block
// that took more values than its refills decoded, or more fill bits than
// that fill held, is done again by the checked procedure from the same
// start, as is one near the buffers' ends: whatever the stream holds, the
// result is the checked one.
void BuildRuns(const BlockPlane* p, uint8_t* dst, uint32_t pitch) {
  PlaneState* s = p->state;
  BitReader* reader = &s->reader;
  const uint32_t pattern = ReadBits(reader, 4);
  Bundle& lengths = s->bundles[kRunLengths];
  Bundle& colours = s->bundles[kColours];
  uint32_t lengthAt = lengths.readPos, colourAt = colours.readPos;
  if (lengthAt > lengths.end || lengths.capacity - lengthAt < 64 || colourAt > colours.end ||
      colours.capacity - colourAt < 96) {
    BuildRunsChecked(s, reader, kRunPatterns[pattern], dst, pitch);
    return;
  }
  FillBitsFull(reader);
  uint64_t fills = reader->cache;
  const uint8_t* __restrict lengthNext = lengths.buffer + lengthAt;
  const uint8_t* __restrict colourNext = colours.buffer + colourAt;
  uint8_t scan[64 + 16];
  uint32_t i = 0;
  while (i < 63) {
    uint32_t n = 1 + *lengthNext++;
    uint64_t same = uint64_t(colourNext[0]) * 0x0101010101010101ull;
    uint64_t keep = (fills & 1) - 1;  // all ones for a list of colours
    fills >>= 1;
    uint64_t w0 = (Load8(colourNext) & keep) | (same & ~keep);
    uint64_t w1 = (Load8(colourNext + 8) & keep) | (same & ~keep);
    Store8(scan + i, w0);
    Store8(scan + i + 8, w1);
    // A mask, not a select: the compiler makes a branch of the select, on
    // a bit as good as random.
    colourNext += 1 + (uint32_t(keep) & (n - 1));
    i += n;
  }
  if (i == 63) scan[63] = *colourNext++;
  uint32_t runs = uint32_t(lengthNext - lengths.buffer) - lengthAt;
  lengthAt += runs;
  colourAt = uint32_t(colourNext - colours.buffer);
  if (runs > reader->count || lengthAt > lengths.end || colourAt > colours.end) {
    BuildRunsChecked(s, reader, kRunPatterns[pattern], dst, pitch);
    return;
  }
  if (i > 64) s->faults |= kPlaneRepaired;
  SkipBits(reader, runs);
  lengths.readPos = lengthAt;
  colours.readPos = colourAt;
  p->kernels.mapRuns(scan, kRunInverse.at[pattern], dst, pitch);
}

void BuildTwoColour(const BlockPlane* p, uint8_t* out, uint32_t outPitch) {
  PlaneState* s = p->state;
  uint32_t c0 = NextByte(s, kColours);
  uint32_t c1 = NextByte(s, kColours);
  p->kernels.drawTwoColour(c0, c1, NextBytes(s, kPatternBytes, 8), out, outPitch);
}

void BuildRaw(PlaneState* s, uint8_t* out, uint32_t outPitch) {
  const uint8_t* colours = NextBytes(s, kColours, 64);
  for (int r = 0; r < 8; ++r) memcpy(out + r * outPitch, colours + 8 * r, 8);
}

// Coefficients of a DCT block after its DC, and the quantiser row after
// them. *acFree is set when every AC coefficient is 0: the block is then
// the one value IdctDcOnly gives, without a transform.
const int32_t* ReadCoefficients(PlaneState* s, int id, int16_t coefficients[64],
                                const int32_t (*table)[64], bool* acFree) {
  // Copied from zeros rather than a memset, which the compiler makes a
  // string instruction that is slow to start for these 128 bytes.
  static const int16_t kZeros[64] = {};
  memcpy(coefficients, kZeros, sizeof kZeros);
  coefficients[0] = NextDc(s, id);
  *acFree = DecodeCoefficients(&s->reader, coefficients) == 0;
  return table[ReadBits(&s->reader, 4)];
}

}  // namespace

namespace {

// The types with local blocks of their own each have a function, so that
// the dispatch keeps a small frame for the cheap ones.
__attribute__((noinline)) void DrawMovedResidue(BlockPlane* p, uint8_t* dst, uint32_t x,
                                                uint32_t y) {
  // Only the listed indices can hold a nonzero residue byte.
  PlaneState* s = p->state;
  uint8_t out[64], residue[64], nonzero[64];
  CopyBlock(out, 8, MotionSource(p, x, y), p->pitch);
  uint32_t count = DecodeResidue(&s->reader, ReadBits(&s->reader, 7), residue, nonzero);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t j = nonzero[i];
    out[kCoefficientScan[j]] = uint8_t(out[kCoefficientScan[j]] + residue[j]);
  }
  CopyBlock(dst, p->pitch, out, 8);
}

__attribute__((noinline)) void DrawIntra(BlockPlane* p, uint8_t* dst) {
  PlaneState* s = p->state;
  uint32_t pitch = p->pitch;
  int16_t coefficients[64];
  bool acFree;
  const int32_t* q = ReadCoefficients(s, kDcIntra, coefficients, kIntraQuantiser, &acFree);
  if (acFree) {
    uint64_t c = IdctDcOnly(coefficients[0], q) * 0x0101010101010101ull;
    for (int r = 0; r < 8; ++r) Store8(dst + r * pitch, c);
  } else {
    IdctPut(dst, pitch, coefficients, q, s->transform);
  }
}

__attribute__((noinline)) void DrawInter(BlockPlane* p, uint8_t* dst, uint32_t x, uint32_t y) {
  PlaneState* s = p->state;
  uint32_t pitch = p->pitch;
  uint8_t prediction[64];
  CopyBlock(prediction, 8, MotionSource(p, x, y), pitch);
  int16_t coefficients[64];
  bool acFree;
  const int32_t* q = ReadCoefficients(s, kDcInter, coefficients, kInterQuantiser, &acFree);
  if (acFree) {
    // The same value added to every byte, wrapping within each.
    uint64_t c = IdctDcOnly(coefficients[0], q) * 0x0101010101010101ull;
    const uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    for (int r = 0; r < 8; ++r) {
      uint64_t v = Load8(prediction + 8 * r);
      Store8(dst + r * pitch, ((v & kLow7) + (c & kLow7)) ^ ((v ^ c) & ~kLow7));
    }
  } else {
    IdctAdd(dst, pitch, coefficients, q, prediction, s->transform);
  }
}

__attribute__((noinline)) void DrawMoved(BlockPlane* p, uint8_t* dst, uint32_t x, uint32_t y) {
  const uint8_t* src = MotionSource(p, x, y);
  if (p->shared) {
    // One buffer for reference and result: take the whole source first.
    uint8_t local[64];
    CopyBlock(local, 8, src, p->pitch);
    CopyBlock(dst, p->pitch, local, 8);
  } else {
    CopyBlock(dst, p->pitch, src, p->pitch);
  }
}

}  // namespace

void DrawBlock(BlockPlane* p, uint32_t type, uint32_t x, uint32_t y) {
  PlaneState* s = p->state;
  uint8_t* dst = p->dst + y * p->pitch + x;
  uint32_t pitch = p->pitch;
  switch (type) {
    case kMoved:
      DrawMoved(p, dst, x, y);
      break;
    case kRuns:
      BuildRuns(p, dst, pitch);
      break;
    case kMovedResidue:
      DrawMovedResidue(p, dst, x, y);
      break;
    case kIntra:
      DrawIntra(p, dst);
      break;
    case kFill: {
      uint64_t c = NextByte(s, kColours) * 0x0101010101010101ull;
      for (int r = 0; r < 8; ++r) Store8(dst + r * pitch, c);
      break;
    }
    case kInter:
      DrawInter(p, dst, x, y);
      break;
    case kTwoColour:
      BuildTwoColour(p, dst, pitch);
      break;
    case kRaw:
      BuildRaw(s, dst, pitch);
      break;
    default:
      break;
  }
}

void DrawDoubled(BlockPlane* p, uint32_t x, uint32_t y) {
  PlaneState* s = p->state;
  uint8_t local[64];
  switch (NextByte(s, kDoubledTypes)) {
    case kRuns:
      BuildRuns(p, local, 8);
      break;
    case kIntra: {
      int16_t coefficients[64];
      bool acFree;
      const int32_t* q = ReadCoefficients(s, kDcIntra, coefficients, kIntraQuantiser, &acFree);
      if (acFree) {
        memset(local, IdctDcOnly(coefficients[0], q), 64);
        break;
      }
      IdctLowBytes(coefficients, q, local, s->transform);
      break;
    }
    case kFill:
      memset(local, int(NextByte(s, kColours)), 64);
      break;
    case kTwoColour:
      BuildTwoColour(p, local, 8);
      break;
    case kRaw:
      BuildRaw(s, local, 8);
      break;
    default:
      return;  // draws nothing: the area keeps what the buffer held
  }
  uint32_t width = p->areaWidth - x < 16 ? p->areaWidth - x : 16;
  uint32_t height = p->areaHeight - y < 16 ? p->areaHeight - y : 16;
  if (width < 16 || height < 16) s->faults |= kPlaneRepaired;
  uint8_t* dst = p->dst + y * p->pitch + x;
  for (uint32_t r = 0; r < height; ++r) {
    const uint8_t* in = local + 8 * (r >> 1);
    uint8_t line[16];
    for (int c = 0; c < 8; ++c) line[2 * c] = line[2 * c + 1] = in[c];
    memcpy(dst + r * p->pitch, line, width);
  }
}

void CopyFromReference(BlockPlane* p, uint32_t x0, uint32_t x1, uint32_t y, uint32_t rows) {
  if (p->shared || x1 <= x0) return;
  for (uint32_t r = 0; r < rows; ++r) {
    uint32_t at = (y + r) * p->pitch + x0;
    memcpy(p->dst + at, p->ref + at, x1 - x0);
  }
}

}  // namespace kivo
