// SPDX-License-Identifier: BSD-2-Clause
// Builds the conversion tables: one read-only set per format code and
// red/blue arrangement, each on first use.
#include "convert/conversion_tables.h"

#include <cstring>
#include <mutex>

#include "convert/tick_counter.h"

namespace kivo {
namespace {

// One table set per 16-bit format code (their layouts differ), one for every
// other code, each in both red/blue arrangements: built once on first use
// and read-only afterwards, so conversions run on any threads at once.
// Sets never used stay untouched zero pages.
constexpr int32_t kCodeSlots = 7;  // slot 0: no 16-bit layout; 1 to 6: codes 7 to 12
ConversionTables sets[2][kCodeSlots];
std::once_flag setOnce[2][kCodeSlots];

// The thread's own choice for Tables(): the code last prepared (-1 = none
// yet) and whether the exchange is in force.
thread_local int32_t lastPrepared = -1;
thread_local int32_t exchangedNow = 0;

// Division rounding toward zero, as every table formula is written.
int32_t Trunc(int32_t numerator, int32_t denominator) { return numerator / denominator; }

int32_t Lanes(int32_t v) {
  uint32_t low = static_cast<uint32_t>(v) & 0xFFFFu;
  return static_cast<int32_t>(low | (low << 16));
}

void BuildColour(ConversionTables& tables) {
  for (int32_t i = 0; i < 256; ++i) {
    int32_t y = i - 16;
    y = y < 0 ? 0 : y > 219 ? 219 : y;
    tables.luma[i] = Trunc(y * 38154, 32768);
    tables.saved[kCrToR][i] = Trunc(i * 52299 - 6694272, 32768);
    tables.saved[kCrToG][i] = Trunc((128 - i) * 26639, 32768);
    tables.saved[kCbToG][i] = Trunc(1643136 - i * 12837, 32768);
    tables.saved[kCbToB][i] = Trunc(i * 66101 - 8460928, 32768);
    for (int t = 0; t < 4; ++t) tables.savedLanes[t][i] = Lanes(tables.saved[t][i]);
    uint32_t g = static_cast<uint32_t>(GrayLevel(i));
    tables.gray24[i] = g * 0x010101u;
  }
  for (int32_t i = 0; i < kClampSize; ++i) {
    int32_t v = i - kClampBias;
    tables.clamp[i] = v < 0 ? 0 : v > 255 ? 255 : v;
  }
  for (int32_t i = 0; i < 256; ++i) tables.lumaPointer[i] = &tables.clamp[kClampBias + tables.luma[i]];
  std::memcpy(tables.chroma, tables.saved, sizeof tables.chroma);
  std::memcpy(tables.lanes, tables.savedLanes, sizeof tables.lanes);
  tables.exchanged = 0;
  tables.pack.code = -1;
}

// Puts the exchanged chroma terms in force: the red term from the Cb->B
// table and so on; with the chroma planes swapped too this writes red where
// blue was.
void Exchange(ConversionTables& tables) {
  static constexpr int kFrom[4] = {kCbToB, kCbToG, kCrToG, kCrToR};
  for (int t = 0; t < 4; ++t) {
    std::memcpy(tables.chroma[t], tables.saved[kFrom[t]], sizeof tables.chroma[t]);
    std::memcpy(tables.lanes[t], tables.savedLanes[kFrom[t]], sizeof tables.lanes[t]);
  }
  tables.exchanged = 1;
}

// (i >> (8 - w)) << s over 0..255, 0 below, the whole field above.
void BuildField(uint32_t* plain, uint32_t* twice, uint32_t width, uint32_t shift) {
  for (int32_t i = 0; i < kClampSize; ++i) {
    int32_t v = i - kClampBias;
    uint32_t entry = 0;
    if (width != 0) {
      uint32_t c = v < 0 ? 0u : v > 255 ? 255u : static_cast<uint32_t>(v);
      entry = (c >> (8 - width)) << shift;
    }
    plain[i] = entry;
    twice[i] = entry | (entry << 16);
  }
}

void BuildPack(PackTables& p, int32_t code) {
  p.code = code;
  p.layout = PackLayoutOf(code);
  const PackLayout& l = p.layout;
  BuildField(p.red, p.redTwice, l.redWidth, l.redShift);
  BuildField(p.green, p.greenTwice, l.greenWidth, l.greenShift);
  BuildField(p.blue, p.blueTwice, l.blueWidth, l.blueShift);
  for (int32_t i = 0; i < 256; ++i) {
    p.alpha4[i] = (static_cast<uint32_t>(i) & 0xF0u) << 8;
    int32_t g = kClampBias + GrayLevel(i);
    p.gray[i] = p.red[g] | p.green[g] | p.blue[g];
    p.grayTwice[i] = p.gray[i] | (p.gray[i] << 16);
  }
}

}  // namespace

PackLayout PackLayoutOf(int32_t code) {
  switch (code) {
    case 7: return {4, 8, 4, 4, 4, 0, 0x0111, 0x12A1, 0x7FF0};
    case 8:
    case 9: return {5, 10, 5, 5, 5, 0, 0x0421, 0x2542, 0x7FE0};
    case 10: return {5, 11, 6, 5, 5, 0, 0x0841, 0x2542, 0x7FE0};
    case 11: return {5, 11, 5, 6, 6, 0, 0x0842, 0x2542, 0x7FE0};
    case 12: return {4, 12, 6, 6, 6, 0, 0x1104, 0x12A1, 0x7FF0};
    default: return {};
  }
}

const ConversionTables& TablesFor(int32_t code, int32_t exchanged) {
  const int32_t x = exchanged ? 1 : 0;
  const int32_t slot = code >= 7 && code <= 12 ? code - 6 : 0;
  std::call_once(setOnce[x][slot], [x, slot] {
    TickCounterAvailable();  // the guarded probe runs on the first preparation
    ConversionTables& t = sets[x][slot];
    BuildColour(t);
    if (x) Exchange(t);
    if (slot) BuildPack(t.pack, slot + 6);
  });
  return sets[x][slot];
}

const ConversionTables& PrepareConversionTables(int32_t code) {
  if (code != -1) lastPrepared = code;
  return TablesFor(lastPrepared, exchangedNow);
}

const ConversionTables& Tables() { return TablesFor(lastPrepared, exchangedNow); }

void ExchangeChromaTables(int32_t exchange) { exchangedNow = exchange ? 1 : 0; }

}  // namespace kivo
