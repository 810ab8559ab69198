// SPDX-License-Identifier: BSD-2-Clause
// The shared shape of every converter: the walking state its routines
// advance, the three kinds of routine, and the per-format descriptor that
// lists them for the row-walking driver.
#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/conversion_tables.h"
#include "convert/lane_kernels.h"

namespace kivo {

// The pointers a row pair is converted through. Row 0 and row 1 are two
// luma rows sharing the chroma row; a single row uses row 0 only. Every
// routine advances what it reads and writes.
struct WalkState {
  RowPointers at;      // the chroma pointers are at the samples of the pixel at x
  uint32_t x;          // source x of the next pixel; chroma advances as it turns even
  ptrdiff_t below;     // 2x-height pixel and row routines also write this far down
  int32_t exchanged;   // red/blue exchange in force (the fast routines apply it themselves)
  const ConversionTables* tables;
  const LaneKernels* kernels;  // the fast routines' family
  const LaneKernels* narrow;   // the family for stretches shorter than 32 pixels
};

// n pixels of the row pair; n pixels of a single row; n groups of the row
// pair (2^granularity pixels each).
using PixelRoutine = void (*)(WalkState* s, uint32_t pixels);
using RowRoutine = void (*)(WalkState* s, uint32_t pixels);
using GroupRoutine = void (*)(WalkState* s, uint32_t groups);

struct GroupSlot {
  uint32_t granularity;  // log2 of the pixels of one group
  GroupRoutine routine;
};

struct RowPixelPair {
  RowRoutine row;
  PixelRoutine pixel;
};

// Group slots: six plain-integer ones, then the same six fast ones.
enum GroupSlotIndex : int32_t {
  kGroupColourEven = 0,
  kGroupColourOdd = 1,
  kGroupGray = 2,
  kGroupWideColourEven = 3,
  kGroupWideColourOdd = 4,
  kGroupWideGray = 5,
  kGroupFastBase = 6,
};

// Row/pixel slots: colour then gray for normal, 2x-width, 2x-height and
// 2x-width-and-height.
enum RowSlotIndex : int32_t {
  kRowsNormal = 0,
  kRowsWide = 2,
  kRowsTall = 4,
  kRowsWideTall = 6,
};

// One tuning word per routine set: (fast * 4 + width/height variant) * 2 + gray.
constexpr int32_t kRoutineSets = 16;

struct FormatDescriptor {
  uint32_t bytesPerPixel;
  int32_t laneKind;  // what the fast routines' kernels write
  GroupSlot groups[12];
  RowPixelPair rows[8];
  uint32_t leadTuning[kRoutineSets];    // which leading count a row pair starts with
  uint32_t doubleTuning[kRoutineSets];  // which row-doubling method (options 1 and 4)
};

}  // namespace kivo
