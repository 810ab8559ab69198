// SPDX-License-Identifier: BSD-2-Clause
// The YUV-to-RGB tables every converter reads: luma scaling, the four chroma
// terms (plain and repeated into both 16-bit halves), the clamp table, the
// gray levels, and the per-layout pack tables of the 16-bit formats.
#pragma once

#include <cstdint>

namespace kivo {

// Clamp and pack tables cover sums from -512 to 767. A luma entry plus a
// chroma term reaches -258 (Y 16, U 0 in the blue term), so a range that
// starts at -256 would be read two entries before its start.
constexpr int32_t kClampBias = 512;
constexpr int32_t kClampSize = 1280;

// Field widths and shifts of one 16-bit layout, and the constants of its
// fast gray routine (each a 16-bit lane value).
struct PackLayout {
  uint32_t redWidth, redShift;
  uint32_t greenWidth, greenShift;
  uint32_t blueWidth, blueShift;
  uint16_t grayMultiplier;  // places a gray value of the narrowest field into all three
  uint16_t grayFactor;      // luma scale for that narrow gray value
  uint16_t graySaturate;    // paddsw/psubusw constant holding it to its field
};

// The 16-bit tables of one format code.
struct PackTables {
  int32_t code;  // the code they were built for, -1 = none yet
  PackLayout layout;
  uint32_t red[kClampSize], green[kClampSize], blue[kClampSize];
  // The same entries repeated in both 16-bit halves: one store writes a
  // pixel twice side by side.
  uint32_t redTwice[kClampSize], greenTwice[kClampSize], blueTwice[kClampSize];
  uint32_t alpha4[256];     // (a AND 0xF0) << 8
  uint32_t gray[256];       // gray level packed into all three fields
  uint32_t grayTwice[256];
};

// The chroma tables in the order they are saved and exchanged.
enum ChromaTable : int32_t { kCrToR = 0, kCrToG = 1, kCbToG = 2, kCbToB = 3 };

struct ConversionTables {
  int32_t luma[256];       // trunc(clamp(i - 16, 0, 219) * 38154 / 32768): 0..254
  int32_t chroma[4][256];  // the active Cr->R, Cr->G, Cb->G, Cb->B terms
  int32_t lanes[4][256];   // the same, low 16 bits repeated in both halves
  int32_t saved[4][256];   // as built, for the exchange and its undoing
  int32_t savedLanes[4][256];
  int32_t clamp[kClampSize];          // 0 below 0, i for 0..255, 255 above
  const int32_t* lumaPointer[256];    // &clamp[kClampBias + luma[i]]
  uint32_t gray24[256];    // gray level g as the three bytes g, g, g
  int32_t exchanged;       // the red/blue exchange is in force
  PackTables pack;
};

// The tables for format `code` (its 16-bit tables; -1 or a code without
// them gives none, with pack.code -1) with the chroma terms built (`exchanged` 0) or exchanged
// (Cb->B as the red term, and so on). Each set is built once, on first use,
// and never changes after: any thread may convert at any time.
const ConversionTables& TablesFor(int32_t code, int32_t exchanged);

// The calling thread's choice of set, for code that keeps one in force:
// PrepareConversionTables makes `code` the thread's (-1 keeps the last one)
// and ExchangeChromaTables its arrangement; Tables gives that set.
const ConversionTables& PrepareConversionTables(int32_t code);
const ConversionTables& Tables();
void ExchangeChromaTables(int32_t exchange);

// The layout of a 16-bit code (all zero for codes outside 7 to 12).
PackLayout PackLayoutOf(int32_t code);

// The gray level of the table arithmetic: trunc(255 * (y - 16) / 219),
// 0 at or below 16, 255 from 235 up. Static: see LaneBytesPerPixel.
static constexpr int32_t GrayLevel(int32_t y) {
  return y <= 16 ? 0 : y >= 235 ? 255 : 255 * (y - 16) / 219;
}

}  // namespace kivo
