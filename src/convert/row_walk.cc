// SPDX-License-Identifier: BSD-2-Clause
// The row-walking driver: conversion setup (table exchange, routine choice,
// pitches of the display option), the row-pair walk with its leading
// pixels, groups and tail, the two row-doubling methods, the tuning that
// picks between choices, and the changed-cell walk.
#include "convert/row_walk.h"

#include <bit>
#include <cstring>

#include "base/memory.h"
#include "base/processor.h"
#include "convert/copy_flags.h"
#include "convert/lane_kernels.h"
#include "convert/tick_counter.h"
#include "convert/tuning.h"

namespace kivo {
namespace {

// The rows of the copy method, kept between calls; each converting thread
// has its own.
struct Scratch {
  uint8_t* rows = nullptr;
  uint32_t size = 0;
  ~Scratch() { MemFree(rows); }
};
thread_local Scratch scratchRows;

// Grows the scratch rows when a call needs more; false when memory ran out.
bool EnsureScratch(uint32_t size) {
  Scratch& s = scratchRows;
  if (size <= s.size) return true;
  void* grown = MemAlloc(size);
  if (!grown) return false;
  MemFree(s.rows);
  s.rows = static_cast<uint8_t*>(grown);
  s.size = size;
  return true;
}

struct Plan {
  FormatDescriptor* d;
  RowPixelPair rows;
  GroupRoutine even, odd;
  uint32_t granularity;
  uint32_t* leadWord;
  uint32_t* doubleWord;
  bool tall;           // rows written twice (options 1 and 4)
  bool fast;           // the group routines are the lane kernels
  bool gray, wide;
  bool ticks;          // the tick counter can be read
  uint32_t bpp;
  uint32_t wideness;   // destination pixels per source pixel
  uint32_t scratchRow; // bytes of one scratch row, 0 = convert twice only
  // Source, after the option's changes.
  const uint8_t* luma;
  const uint8_t* alpha;
  const uint8_t* cr;
  const uint8_t* cb;
  ptrdiff_t lumaPitch, chromaPitch;
  uint32_t width, height;  // rows to convert
  uint32_t sx0, sy0;       // the source position that lands at the origin
  // Destination.
  uint8_t* origin;
  ptrdiff_t walkPitch, below;
  uint32_t alignedX;       // destination x of the origin counted from a 4-byte aligned base
  int32_t exchanged;
  const ConversionTables* tables;
  const LaneKernels* kernels;
  const LaneKernels* narrow;
};

uint32_t Min(uint32_t a, uint32_t b) { return a < b ? a : b; }

static_assert(kCopyNoSimd == kNoProcessorExtensions, "the copy's flag is the open flag");

Plan Setup(FormatDescriptor* d, const ConvertTarget& to, const ConvertSource& from, uint32_t sx, uint32_t sy,
           uint32_t flags) {
  Plan p = {};
  p.d = d;
  // The table exchange, undone again by the first call without the flag.
  p.exchanged = (flags & kCopyExchangeRedBlue) ? 1 : 0;
  p.tables = &TablesFor(static_cast<int32_t>(flags & kCopyFormatMask), p.exchanged);
  const uint32_t features = CpuFeaturesFor(flags);
  bool fast = (features & kCpuMmx) != 0;
  int32_t tier = LaneTierFor(features);
  p.kernels = &LaneKernelsFor(tier);
  p.narrow = &LaneKernelsFor(tier < kLaneSse2 ? tier : kLaneSse2);
  bool gray = (flags & kCopyGray) != 0;
  uint32_t option = CopyOption(flags);
  bool wide = option == kOptionWide || option == kOptionWideTall || option == kOptionWideInterlaced;
  p.tall = option == kOptionTallDoubled || option == kOptionWideTall;
  uint32_t variant = (wide ? 1u : 0u) + (p.tall ? 2u : 0u);
  p.rows = d->rows[variant * 2 + (gray ? 1 : 0)];
  p.fast = fast;
  p.gray = gray;
  p.wide = wide;
  const GroupSlot* g = d->groups + (fast ? kGroupFastBase : 0);
  if (gray) {
    const GroupSlot& slot = g[wide ? kGroupWideGray : kGroupGray];
    p.even = p.odd = slot.routine;
    p.granularity = slot.granularity;
  } else {
    const GroupSlot& e = g[wide ? kGroupWideColourEven : kGroupColourEven];
    const GroupSlot& o = g[wide ? kGroupWideColourOdd : kGroupColourOdd];
    p.even = e.routine;
    p.odd = o.routine;
    p.granularity = e.granularity > o.granularity ? e.granularity : o.granularity;
  }
  uint32_t set = ((fast ? 4u : 0u) + variant) * 2 + (gray ? 1 : 0);
  p.leadWord = &d->leadTuning[set];
  p.doubleWord = &d->doubleTuning[set];
  p.ticks = TickCounterAvailable() != 0;
  p.bpp = d->bytesPerPixel;
  p.wideness = wide ? 2 : 1;

  // Source planes; half the rows for option 6 by doubling every pitch.
  const uint8_t* chroma1 = from.planes + size_t(from.planePitch) * from.planeHeight;
  const uint8_t* chroma2 = chroma1 + size_t(from.planePitch / 2) * (from.planeHeight / 2);
  p.cr = p.exchanged ? chroma2 : chroma1;
  p.cb = p.exchanged ? chroma1 : chroma2;
  p.luma = from.planes;
  p.alpha = from.alpha;
  p.lumaPitch = from.planePitch;
  p.chromaPitch = from.planePitch / 2;
  p.width = from.width;
  p.height = from.height;
  p.sx0 = sx;
  p.sy0 = sy;
  ptrdiff_t pitch = to.pitch;
  p.walkPitch = pitch;
  if (option == kOptionHalfRows) {
    p.height /= 2;
    p.sy0 /= 2;
    p.lumaPitch *= 2;
    p.chromaPitch *= 2;
    p.walkPitch *= 2;
  }
  if (option == kOptionTallInterlaced || option == kOptionWideInterlaced || p.tall) p.walkPitch = 2 * pitch;
  p.below = p.tall ? pitch : 0;

  // Leading pixels count from a 4-byte aligned base: 2-byte pixels at an
  // address 2 modulo 4 start one pixel in, 3-byte ones up to three.
  uint32_t misalign = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(to.pixels) & 3);
  uint32_t back = 0;
  if (p.bpp == 2) back = misalign == 2 ? 1 : 0;
  if (p.bpp == 3) back = misalign == 0 ? 0 : 4 - misalign;
  p.alignedX = static_cast<uint32_t>(to.x) + back;
  p.origin = to.pixels + ptrdiff_t(to.y) * pitch + ptrdiff_t(to.x) * p.bpp;

  if (p.tall) {
    uint32_t row = (from.width * p.bpp * p.wideness + 31) & ~31u;
    p.scratchRow = EnsureScratch(2 * row) ? row : 0;
  }
  return p;
}

// Whether this call times the row-doubling methods (the leading-count
// tuning waits meanwhile).
bool TimingDouble(const Plan& p) { return p.tall && p.ticks && !WordDecided(*p.doubleWord); }

void GroupStep(const Plan& p, WalkState& s, uint32_t groups) {
  GroupRoutine g = (s.x & 1) ? p.odd : p.even;
  if (!p.tall) {
    g(&s, groups);
    return;
  }
  bool timing = TimingDouble(p);
  bool twice = p.scratchRow == 0 || (p.ticks && DoubleConvertsTwice(*p.doubleWord));
  uint32_t start = timing ? ReadTicks() : 0;
  uint32_t bytes = (groups << p.granularity) * p.bpp * p.wideness;
  uint8_t* rows[2] = {s.at.dest[0], s.at.dest[1]};
  if (twice) {
    WalkState first = s;
    g(&s, groups);
    uint8_t* after[2] = {s.at.dest[0], s.at.dest[1]};
    s = first;
    s.at.dest[0] = rows[0] + p.below;
    s.at.dest[1] = rows[1] + p.below;
    g(&s, groups);
    s.at.dest[0] = after[0];
    s.at.dest[1] = after[1];
  } else {
    uint8_t* scratch = scratchRows.rows;
    s.at.dest[0] = scratch;
    s.at.dest[1] = scratch + p.scratchRow;
    g(&s, groups);
    for (int r = 0; r < 2; ++r) {
      const uint8_t* from = scratch + r * p.scratchRow;
      std::memcpy(rows[r], from, bytes);
      std::memcpy(rows[r] + p.below, from, bytes);
      s.at.dest[r] = rows[r] + bytes;
    }
  }
  if (timing) *p.doubleWord = LearnDouble(*p.doubleWord, ReadTicks() - start);
}

// One row pair of w pixels from source x sx; xd is its destination x from
// the aligned base.
void ConvertPair(const Plan& p, WalkState& s, uint32_t w, uint32_t sx, uint32_t xd) {
  uint32_t toDest = Min((0u - xd) & 3, w);
  uint32_t toSource = Min(sx & 1, w);
  uint32_t lead = toDest;
  bool timing = false;
  if (toDest != toSource && p.ticks) {
    lead = LeadUsesSourceCount(*p.leadWord) ? toSource : toDest;
    timing = !WordDecided(*p.leadWord) && !TimingDouble(p);
  }
  uint32_t start = timing ? ReadTicks() : 0;
  if (lead) p.rows.pixel(&s, lead);
  uint32_t groups = (w - lead) >> p.granularity;
  if (groups) GroupStep(p, s, groups);
  uint32_t tail = w - lead - (groups << p.granularity);
  if (tail) p.rows.pixel(&s, tail);
  if (timing) *p.leadWord = LearnLead(*p.leadWord, ReadTicks() - start);
}

// Converts the w x h area at source (sx, sy) (rows counted as the option
// walks them).
void ConvertRect(const Plan& p, uint32_t sx, uint32_t sy, uint32_t w, uint32_t h) {
  if (w == 0 || h == 0) return;
  *p.leadWord = AgeLeadWord(*p.leadWord, h);
  if (p.tall) *p.doubleWord = AgeDoubleWord(*p.doubleWord, h);
  uint32_t colBytes = (sx - p.sx0) * p.bpp * p.wideness;
  uint32_t xd = p.alignedX + (sx - p.sx0) * p.wideness;
  WalkState s = {};
  s.below = p.below;
  s.exchanged = p.exchanged;
  s.tables = p.tables;
  s.kernels = p.kernels;
  s.narrow = p.narrow;
  auto place = [&](uint32_t row, int slot) {
    s.at.luma[slot] = p.luma + ptrdiff_t(row) * p.lumaPitch + sx;
    s.at.alpha[slot] = p.alpha ? p.alpha + ptrdiff_t(row) * p.lumaPitch + sx : nullptr;
    s.at.dest[slot] = p.origin + (ptrdiff_t(row) - ptrdiff_t(p.sy0)) * p.walkPitch + colBytes;
  };
  auto chroma = [&](uint32_t row) {
    s.at.cr = p.cr + ptrdiff_t(row >> 1) * p.chromaPitch + (sx >> 1);
    s.at.cb = p.cb + ptrdiff_t(row >> 1) * p.chromaPitch + (sx >> 1);
    s.x = sx;
  };
  uint32_t row = sy, end = sy + h;
  if (row & 1) {
    place(row, 0);
    chroma(row);
    p.rows.row(&s, w);
    ++row;
  }
  for (; row + 1 < end; row += 2) {
    place(row, 0);
    place(row + 1, 1);
    chroma(row);
    ConvertPair(p, s, w, sx, xd);
  }
  if (row < end) {
    place(row, 0);
    chroma(row);
    p.rows.row(&s, w);
  }
}

}  // namespace

void ConvertFull(FormatDescriptor* d, const ConvertTarget& to, const ConvertSource& from, uint32_t sx, uint32_t sy,
                 uint32_t flags) {
  if (!d || !to.pixels || !from.planes) return;
  Plan p = Setup(d, to, from, sx, sy, flags);
  ConvertRect(p, p.sx0, p.sy0, p.width, p.height);
}

namespace {

// Cells of a band converted as one stretch: a gap of up to this many
// unchanged cells between changed ones is converted with them. Packed YUV
// on the fast path moves bytes at about the speed of a copy, so a short
// gap costs less than another stretch; the other formats spend their time
// on arithmetic, which the gap's cells would only add.
uint32_t JoinCells(const Plan& p) { return p.fast && LaneIsYuv(p.d->laneKind) ? 3 : 0; }

// Whether the pixels of a cell come out the same however the cells of a
// band are gathered into stretches. The plain routines give the same pixel
// wherever it falls; the fast ones only convert the groups, so every
// stretch must start on a destination column that needs no leading pixels.
bool StretchesAnyWay(const Plan& p) { return !p.fast || (p.alignedX & 3) == 0; }

// The kernel that converts a whole stretch of cells in one call, where the
// format has one (packed YUV at single width on the fast path), else null.
StretchKernel StretchKernelOf(const Plan& p) {
  if (!p.fast || p.tall || p.wide || !LaneIsYuv(p.d->laneKind)) return nullptr;
  return p.kernels->stretch[p.d->laneKind - kLaneYuy2][p.gray];
}

// The w x 16 stretch of a band at source (sx, sy). Where the walk would
// start every row pair with its groups and need no tail (the destination
// column aligned, w a whole number of groups), the group routine (on the
// fast path its lane kernel) is called straight away: that is all the walk
// would do, at a fraction of the cost for a single cell. Returns whether it
// was (the caller then ages the leading-count word for its rows).
bool ConvertStretch(const Plan& p, StretchKernel whole, uint32_t sx, uint32_t sy, uint32_t w) {
  uint32_t xd = p.alignedX + (sx - p.sx0) * p.wideness;
  if (p.tall || (xd & 3) || (sx & 1) || (w & ((1u << p.granularity) - 1)) || (sy & 1)) {
    ConvertRect(p, sx, sy, w, 16);
    return false;
  }
  uint32_t colBytes = (sx - p.sx0) * p.bpp * p.wideness;
  if (whole) {
    StretchJob job = {p.luma + ptrdiff_t(sy) * p.lumaPitch + sx,
                      p.cr + ptrdiff_t(sy >> 1) * p.chromaPitch + (sx >> 1),
                      p.cb + ptrdiff_t(sy >> 1) * p.chromaPitch + (sx >> 1),
                      p.origin + (ptrdiff_t(sy) - ptrdiff_t(p.sy0)) * p.walkPitch + colBytes,
                      p.lumaPitch,
                      p.chromaPitch,
                      p.walkPitch,
                      w,
                      8};
    whole(job);
    return true;
  }
  if (p.fast) {
    // What the fast group routine would hand over, row pair by row pair.
    LaneKernel kernel = (w < 32 ? p.narrow : p.kernels)->run[p.d->laneKind][p.gray][p.wide];
    RowPointers at;
    LaneJob job = {&at, w, 0, p.exchanged, p.tables};
    for (uint32_t row = sy; row < sy + 16; row += 2) {
      for (int slot = 0; slot < 2; ++slot) {
        at.luma[slot] = p.luma + ptrdiff_t(row + slot) * p.lumaPitch + sx;
        at.alpha[slot] = p.alpha ? p.alpha + ptrdiff_t(row + slot) * p.lumaPitch + sx : nullptr;
        at.dest[slot] = p.origin + (ptrdiff_t(row + slot) - ptrdiff_t(p.sy0)) * p.walkPitch + colBytes;
      }
      at.cr = p.cr + ptrdiff_t(row >> 1) * p.chromaPitch + (sx >> 1);
      at.cb = p.cb + ptrdiff_t(row >> 1) * p.chromaPitch + (sx >> 1);
      kernel(job);
    }
    return true;
  }
  WalkState s = {};
  s.exchanged = p.exchanged;
  s.tables = p.tables;
  s.kernels = p.kernels;
  s.narrow = p.narrow;
  uint32_t groups = w >> p.granularity;
  for (uint32_t row = sy; row < sy + 16; row += 2) {
    for (int slot = 0; slot < 2; ++slot) {
      s.at.luma[slot] = p.luma + ptrdiff_t(row + slot) * p.lumaPitch + sx;
      s.at.alpha[slot] = p.alpha ? p.alpha + ptrdiff_t(row + slot) * p.lumaPitch + sx : nullptr;
      s.at.dest[slot] = p.origin + (ptrdiff_t(row + slot) - ptrdiff_t(p.sy0)) * p.walkPitch + colBytes;
    }
    s.at.cr = p.cr + ptrdiff_t(row >> 1) * p.chromaPitch + (sx >> 1);
    s.at.cb = p.cb + ptrdiff_t(row >> 1) * p.chromaPitch + (sx >> 1);
    s.x = sx;
    p.even(&s, groups);
  }
  return true;
}

// The changed cells of a band, read 64 at a time as bits (bit i of a chunk
// is cell first + i): scanning bits costs a branch per stretch where testing
// bytes costs one per cell, mostly mispredicted on a scattered map.
struct BandScan {
  const uint8_t* m0;
  const uint8_t* m1;  // the second map row of a band (option 6), else null
  uint32_t cells;
  uint32_t chunk = ~0u;  // first cell of the chunk in `bits`
  uint64_t bits = 0;
};

// One bit per byte of w (little-endian): set where the byte is nonzero.
uint64_t NonzeroBytes(uint64_t w) {
  const uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
  uint64_t top = (((w & low7) + low7) | w) & ~low7;  // bit 7 of each nonzero byte
  return ((top >> 7) * 0x0102040810204080ull) >> 56;  // gathered into the top byte
}

uint64_t ChunkBits(const BandScan& b, uint32_t first) {
  uint32_t n = Min(64, b.cells - first);
  uint64_t bits = 0;
  uint32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, b.m0 + first + i, 8);
    if (b.m1) {
      uint64_t w1;
      std::memcpy(&w1, b.m1 + first + i, 8);
      w |= w1;
    }
    bits |= NonzeroBytes(w) << i;
  }
  for (; i < n; ++i) bits |= uint64_t(b.m0[first + i] != 0 || (b.m1 && b.m1[first + i] != 0)) << i;
  return bits;
}

// Set bits of a word, without the library call the compiler makes of
// std::popcount where the processor's instruction is not assumed.
uint32_t BitCount(uint64_t v) {
  v -= (v >> 1) & 0x5555555555555555ull;
  v = (v & 0x3333333333333333ull) + ((v >> 2) & 0x3333333333333333ull);
  v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Full;
  return static_cast<uint32_t>((v * 0x0101010101010101ull) >> 56);
}

uint32_t ChangedCount(BandScan& b) {
  uint32_t count = 0;
  for (uint32_t first = 0; first < b.cells; first += 64) {
    b.chunk = first;
    b.bits = ChunkBits(b, first);
    count += BitCount(b.bits);
  }
  return count;
}

// The first changed cell from c on, or the cell count when none is.
uint32_t NextChanged(BandScan& b, uint32_t c) {
  while (c < b.cells) {
    uint32_t first = c & ~63u;
    if (first != b.chunk) {
      b.chunk = first;
      b.bits = ChunkBits(b, first);
    }
    uint64_t rest = b.bits >> (c - first);
    if (rest) return c + static_cast<uint32_t>(std::countr_zero(rest));
    c = first + 64;
  }
  return b.cells;
}

}  // namespace

void ConvertChanged(FormatDescriptor* d, const ConvertTarget& to, const ConvertSource& from, const uint8_t* map,
                    uint32_t rowLength, uint32_t flags) {
  if (!d || !to.pixels || !from.planes) return;
  // A map too short for the picture cannot say what changed.
  if (!map || rowLength < (from.width + 15) / 16) {
    ConvertFull(d, to, from, 0, 0, flags);
    return;
  }
  Plan p = Setup(d, to, from, 0, 0, flags);
  bool halfRows = CopyOption(flags) == kOptionHalfRows;
  uint32_t w = p.width, h = p.height;
  uint32_t cells = w / 16, bands = h / 16;
  uint32_t x0 = cells * 16, y0 = bands * 16;
  if (!StretchesAnyWay(p)) {
    // Cells in pairs, as they always were converted.
    for (uint32_t band = 0; band < bands; ++band) {
      const uint8_t* m0 = map + size_t(halfRows ? 2 * band : band) * rowLength;
      const uint8_t* m1 = halfRows ? m0 + rowLength : nullptr;
      auto changed = [&](uint32_t i) { return m0[i] != 0 || (m1 && m1[i] != 0); };
      uint32_t y = band * 16;
      for (uint32_t pair = 0; pair < cells / 2; ++pair) {
        bool left = changed(2 * pair), right = changed(2 * pair + 1);
        if (left && right)
          ConvertRect(p, 32 * pair, y, 32, 16);
        else if (left)
          ConvertRect(p, 32 * pair, y, 16, 16);
        else if (right)
          ConvertRect(p, 32 * pair + 16, y, 16, 16);
      }
      if ((cells & 1) && changed(cells - 1)) ConvertRect(p, 16 * (cells - 1), y, 16, 16);
    }
    if (x0 < w) ConvertRect(p, x0, 0, w - x0, h);
    if (y0 < h) ConvertRect(p, 0, y0, w, h - y0);
    return;
  }
  uint32_t join = JoinCells(p);
  StretchKernel stretchKernel = StretchKernelOf(p);
  uint32_t stretchRows = 0;  // rows of the stretches converted straight away
  // Bands changed over their whole width are gathered and converted as one
  // area, as the full conversion would.
  uint32_t wholeFrom = 0, wholeBands = 0;
  auto flushWhole = [&] {
    if (wholeBands) ConvertRect(p, 0, wholeFrom * 16, cells * 16, wholeBands * 16);
    wholeBands = 0;
  };
  for (uint32_t band = 0; band < bands; ++band) {
    const uint8_t* m0 = map + size_t(halfRows ? 2 * band : band) * rowLength;
    BandScan scan = {m0, halfRows ? m0 + rowLength : nullptr, cells};
    uint32_t y = band * 16;
    // A band with at least half its cells changed is converted whole on
    // the fast path (the plain routines take long enough per pixel that only
    // a band changed throughout is); else its stretches: changed cells with
    // the short gaps between.
    uint32_t count = ChangedCount(scan);
    bool whole = count > 0 && (p.fast ? 2 * count >= cells : count == cells);
    uint32_t c = whole ? cells : NextChanged(scan, 0);
    while (c < cells) {
      uint32_t start = c, end = c + 1;
      for (;;) {
        c = NextChanged(scan, end);
        if (c >= cells || c > end + join) break;
        end = c + 1;
      }
      if (start == 0 && end == cells) {
        whole = true;
        break;
      }
      flushWhole();
      if (ConvertStretch(p, stretchKernel, 16 * start, y, 16 * (end - start))) stretchRows += 16;
    }
    if (!whole) {
      flushWhole();
    } else {
      if (wholeBands == 0) wholeFrom = band;
      ++wholeBands;
    }
  }
  flushWhole();
  if (stretchRows) *p.leadWord = AgeLeadWord(*p.leadWord, stretchRows);
  if (x0 < w) ConvertRect(p, x0, 0, w - x0, h);
  if (y0 < h) ConvertRect(p, 0, y0, w, h - y0);
}

void CopyYv12(const ConvertTarget& to, uint32_t destHeight, const ConvertSource& from, uint32_t sx, uint32_t sy,
              uint32_t flags) {
  // The chroma planes are found below the luma plane: that needs rows that
  // run downward and a position inside the buffer.
  if (!to.pixels || !from.planes || to.pitch <= 0 || to.x < 0 || to.y < 0) return;
  uint32_t x = static_cast<uint32_t>(to.x), y = static_cast<uint32_t>(to.y);
  uint32_t w = from.width, h = from.height;
  if ((x | sx) & 1) w = w ? w - 1 : 0;
  if ((y | sy) & 1) h = h ? h - 1 : 0;
  x = (x + 1) & ~1u;
  y = (y + 1) & ~1u;
  sx = (sx + 1) & ~1u;
  sy = (sy + 1) & ~1u;
  w &= ~1u;
  h &= ~1u;
  uint32_t pitch = static_cast<uint32_t>(to.pitch);
  for (uint32_t r = 0; r < h; ++r)
    std::memcpy(to.pixels + size_t(y + r) * pitch + x, from.planes + size_t(sy + r) * from.planePitch + sx, w);
  const uint8_t* chroma1 = from.planes + size_t(from.planePitch) * from.planeHeight;
  const uint8_t* chroma2 = chroma1 + size_t(from.planePitch / 2) * (from.planeHeight / 2);
  const uint8_t* v = (flags & kCopyExchangeRedBlue) ? chroma2 : chroma1;
  const uint8_t* u = (flags & kCopyExchangeRedBlue) ? chroma1 : chroma2;
  uint32_t half = pitch / 2;
  uint8_t* vDest = to.pixels + size_t(pitch) * destHeight;
  uint8_t* uDest = vDest + size_t(half) * (destHeight / 2);
  bool gray = (flags & kCopyGray) != 0;
  uint32_t sourceHalf = from.planePitch / 2;
  for (uint32_t r = 0; r < h / 2; ++r) {
    uint8_t* vRow = vDest + size_t(y / 2 + r) * half + x / 2;
    uint8_t* uRow = uDest + size_t(y / 2 + r) * half + x / 2;
    if (gray) {
      std::memset(vRow, 128, w / 2);
      std::memset(uRow, 128, w / 2);
    } else {
      std::memcpy(vRow, v + size_t(sy / 2 + r) * sourceHalf + sx / 2, w / 2);
      std::memcpy(uRow, u + size_t(sy / 2 + r) * sourceHalf + sx / 2, w / 2);
    }
  }
}

uint32_t RowScratchSize() { return scratchRows.size; }

}  // namespace kivo
