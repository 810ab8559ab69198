// SPDX-License-Identifier: BSD-2-Clause
// Bundle set-up, tree headers and the refill procedure of each bundle. Every
// refill checks its count against the buffer and stores exactly that many
// values: a run code or fill reaching past the count is cut at the count
// (the values past it could never be taken anyway).
#include "video/bundles.h"

#include "video/video_decoder.h"

namespace kivo {
namespace {

uint32_t BitLength(uint32_t v) {
  uint32_t n = 0;
  while (v) {
    ++n;
    v >>= 1;
  }
  return n;
}

uint32_t CountBits(uint32_t value) {
  uint32_t n = BitLength(value);
  return n > 15 ? 15 : n;
}

// Fixed tree 0 with its symbols in slot order, as every tree 0 read from a
// stream is: each symbol is its own 4-bit code.
bool IsIdentityTree0(const CodeTree* tree) {
  static const uint8_t kSlots[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  return tree->table == FixedTreeTable(0) && memcmp(tree->symbols, kSlots, 16) == 0;
}

// The refill's count, or false when the bundle is finished (count 0) or the
// count does not fit its buffer (the plane stops).
bool StartRefill(PlaneState* state, Bundle* b, BitReader* r, uint32_t* count) {
  uint32_t n = ReadBits(r, b->countBits);
  if (n == 0) {
    b->readPos = 1;  // never equal to end again: finished for the plane
    b->end = 0;
    return false;
  }
  if (n > b->capacity) {
    state->faults |= kPlaneStopped;
    b->readPos = 1;
    b->end = 0;
    return false;
  }
  b->readPos = 0;
  b->end = n;
  *count = n;
  return true;
}

inline uint32_t Signed(BitReader* r, uint32_t v) {
  return (v != 0 && ReadBit(r)) ? 0u - v : v;
}

// The value loops take their output and trees as restrict pointers and work
// on a copy of the reader, so that the byte stores cannot force the reader
// and tables back to memory (the caller's reader has its address taken).
bool StoreTypes(BitReader* __restrict reader, const CodeTree* __restrict tree,
                uint8_t* __restrict out, uint32_t count) {
  static const uint32_t kRun[4] = {4, 8, 12, 32};
  BitReader local = *reader;
  BitReader* r = &local;
  bool cut = false;
  uint32_t last = 0;
  // Eight codes from a fill of 56 bits, four from one of 32 near the end of
  // the data.
  for (uint32_t i = 0; i < count;) {
    FillBitsFull(r);
    uint32_t codes = r->count >= 56 ? 8 : 4;
    for (uint32_t k = 0; k < codes && i < count; ++k) {
      uint32_t s = TakeSymbol(r, tree);
      if (s < 12) {
        out[i++] = uint8_t(s);
        last = s;
        continue;
      }
      uint32_t run = kRun[s - 12];
      if (run > count - i) {
        run = count - i;
        cut = true;
      }
      memset(out + i, int(last), run);
      i += run;
    }
  }
  *reader = local;
  return cut;
}

void RefillTypes(PlaneState* state, Bundle* b, BitReader* r) {
  uint32_t count;
  if (!StartRefill(state, b, r, &count)) return;
  if (ReadBit(r)) {
    memset(b->buffer, int(ReadBits(r, 4)), count);
    return;
  }
  if (StoreTypes(r, &b->tree, b->buffer, count)) state->faults |= kPlaneRepaired;
}

inline uint32_t ReadColour(BitReader* __restrict r, const CodeTree* __restrict high,
                           const CodeTree* __restrict low, uint32_t* context, bool remap) {
  uint32_t hi = ReadSymbol(r, &high[*context]);
  *context = hi;
  uint32_t v = hi << 4 | ReadSymbol(r, low);
  if (remap) {
    uint32_t mag = v & 0x7F;
    v = (v & 0x80) ? (128 - mag) & 0xFF : 128 + mag;
  }
  return v;
}

// A colour's two codes take at most 14 bits: four colours from a fill of 56
// bits, two from one of 32 near the end of the data.
uint32_t StoreColours(BitReader* __restrict reader, const CodeTree* __restrict high,
                      const CodeTree* __restrict low, uint32_t context, bool remap,
                      uint8_t* __restrict out, uint32_t count) {
  BitReader local = *reader;
  BitReader* r = &local;
  auto take = [&](uint32_t at) {
    uint32_t hi = TakeSymbol(r, &high[context]);
    context = hi;
    uint32_t v = hi << 4 | TakeSymbol(r, low);
    if (remap) {
      uint32_t mag = v & 0x7F;
      v = (v & 0x80) ? (128 - mag) & 0xFF : 128 + mag;
    }
    out[at] = uint8_t(v);
  };
  uint32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    FillBitsFull(r);
    if (r->count < 56) break;
    for (uint32_t k = 0; k < 4; ++k) take(i + k);
  }
  for (; i + 2 <= count; i += 2) {
    FillBits(r);
    for (uint32_t k = 0; k < 2; ++k) take(i + k);
  }
  for (; i < count; ++i) out[i] = uint8_t(ReadColour(r, high, low, &context, remap));
  *reader = local;
  return context;
}

// The high-nibble lookups for a low tree whose codes all take 4 bits: entry
// = high code length << 12 | high nibble << 8 | both codes' length. The high
// nibble << 8 is also the byte offset of the next colour's context row, so
// that one lookup and one mask lie between one colour's code and the next;
// the low nibble comes from the 4 bits after the high code, off that chain.
void BuildFlatColours(const CodeTree* high, uint16_t (*out)[1 << kLookupBits]) {
  for (uint32_t c = 0; c < 16; ++c)
    for (uint32_t i = 0; i < (1u << kLookupBits); ++i) {
      uint32_t e = high[c].lookup[i], length = e & kEntryLengthMask;
      out[c][i] = uint16_t(length << 12 | (e & 0xF00) | (length + 4));
    }
}

template <bool kRemap>
uint32_t StoreFlatColours(BitReader* __restrict reader,
                          const uint16_t (*__restrict flat)[1 << kLookupBits],
                          const uint8_t* __restrict lowSymbols, uint32_t context,
                          uint8_t* __restrict out, uint32_t count) {
  BitReader local = *reader;
  BitReader* r = &local;
  const uint8_t* rows = reinterpret_cast<const uint8_t*>(flat);
  const uint16_t* row = flat[context];
  auto take = [&](uint32_t at) {
    uint64_t bits = r->cache;
    uint32_t e = row[uint32_t(bits) & ((1u << kLookupBits) - 1)];
    SkipBits(r, e & kEntryLengthMask);
    uint32_t high = e & 0xF00u;
    // flat[high >> 8], whose rows are 256 bytes long.
    row = reinterpret_cast<const uint16_t*>(rows + high);
    // Opaque to the compiler, which would otherwise fold the row into the
    // index and put an add between the cache and the next lookup.
    asm("" : "+r"(row));
    uint32_t v = high >> 4 | lowSymbols[uint32_t(bits >> (e >> 12)) & 15];
    if (kRemap) {
      uint32_t mag = v & 0x7F;
      v = (v & 0x80) ? (128 - mag) & 0xFF : 128 + mag;
    }
    out[at] = uint8_t(v);
  };
  // At most 11 bits a colour: five from a fill of 56 bits, one from one of
  // 32 near the end of the data.
  uint32_t i = 0;
  for (; i + 5 <= count; i += 5) {
    FillBitsFull(r);
    if (r->count < 56) break;
    for (uint32_t k = 0; k < 5; ++k) take(i + k);
  }
  for (; i < count; ++i) {
    FillBits(r);
    take(i);
  }
  *reader = local;
  return uint32_t(row - flat[0]) >> kLookupBits;
}

void RefillColours(PlaneState* state, Bundle* b, BitReader* r) {
  uint32_t count;
  if (!StartRefill(state, b, r, &count)) return;
  uint32_t context = state->colourContext;
  if (ReadBit(r)) {
    memset(b->buffer, int(ReadColour(r, state->colourHigh, &b->tree, &context,
                                     state->remapColours)),
           count);
  } else if (b->tree.table == FixedTreeTable(0)) {
    if (!state->flatColoursBuilt) {
      BuildFlatColours(state->colourHigh, state->flatColours);
      state->flatColoursBuilt = true;
    }
    context = state->remapColours
                  ? StoreFlatColours<true>(r, state->flatColours, b->tree.symbols, context,
                                           b->buffer, count)
                  : StoreFlatColours<false>(r, state->flatColours, b->tree.symbols, context,
                                            b->buffer, count);
  } else {
    context = StoreColours(r, state->colourHigh, &b->tree, context, state->remapColours,
                           b->buffer, count);
  }
  state->colourContext = context;
}

// The loops below fill the cache once for as many codes as 32 bits hold
// rather than before every code: four single codes of at most 7 bits, or
// three pairs of at most kPairBits. A pair that does not fit its lookup is
// read code by code (each read filling the cache as needed, which leaves
// enough bits for the pairs after it).
void StorePatterns(BitReader* __restrict reader, const CodeTree* __restrict tree,
                   const uint16_t* __restrict pairs, uint8_t* __restrict out, uint32_t count) {
  BitReader local = *reader;
  BitReader* r = &local;
  uint32_t i = 0;
  for (; i + 3 <= count; i += 3) {
    FillBits(r);
    for (uint32_t k = 0; k < 3; ++k) {
      uint32_t e = pairs[uint32_t(r->cache) & ((1u << kPairBits) - 1)];
      if (e) {
        SkipBits(r, e & kEntryLengthMask);
        out[i + k] = uint8_t(e >> 6);
      } else {
        uint32_t lo = ReadSymbol(r, tree);
        uint32_t hi = ReadSymbol(r, tree);
        out[i + k] = uint8_t(lo | hi << 4);
      }
    }
  }
  for (; i < count; ++i) {
    uint32_t lo = ReadSymbol(r, tree);
    uint32_t hi = ReadSymbol(r, tree);
    out[i] = uint8_t(lo | hi << 4);
  }
  *reader = local;
}

// Pattern bytes under fixed tree 0, which has no symbol list: every nibble
// is its own 4-bit code, so the bytes are the stream's next bits as they
// stand, seven to a fill of 56 bits.
void CopyPatterns(BitReader* __restrict reader, uint8_t* __restrict out, uint32_t count) {
  BitReader local = *reader;
  BitReader* r = &local;
  uint32_t i = 0;
  for (; i + 8 <= count; i += 7) {
    FillBitsFull(r);
    if (r->count < 56) break;
    uint64_t bytes = r->cache;
    memcpy(out + i, &bytes, 8);  // the eighth byte is rewritten next
    SkipBits(r, 56);
  }
  for (; i < count; ++i) out[i] = uint8_t(ReadBits(r, 8));
  *reader = local;
}

void RefillPatterns(PlaneState* state, Bundle* b, BitReader* r) {
  uint32_t count;
  if (!StartRefill(state, b, r, &count)) return;
  if (IsIdentityTree0(&b->tree)) {
    CopyPatterns(r, b->buffer, count);
    return;
  }
  if (!state->patternPairsBuilt) {
    BuildPairLookup(&b->tree, &b->tree, kPairBits, state->patternPairs);
    state->patternPairsBuilt = true;
  }
  StorePatterns(r, &b->tree, state->patternPairs, b->buffer, count);
}

// An offset's code and its sign bit (none for 0) in one lookup: entry =
// offset << 8 | bits taken, indexed by the 7 bits of the longest code and
// the sign bit after it.
void BuildSignedMotion(const CodeTree* tree, uint16_t* out) {
  for (uint32_t i = 0; i < (1u << (kLookupBits + 1)); ++i) {
    uint32_t e = tree->lookup[i & ((1u << kLookupBits) - 1)];
    uint32_t length = e & kEntryLengthMask, v = e >> 8;
    uint32_t nonzero = v != 0;
    uint32_t value = (i >> length) & nonzero ? 0u - v : v;
    out[i] = uint16_t(uint8_t(value) << 8 | (length + nonzero));
  }
}

// Seven offsets from a fill of 56 bits, four from one of 32 near the end of
// the data.
void StoreMotion(BitReader* __restrict reader, const uint16_t* __restrict table,
                 uint8_t* __restrict out, uint32_t count) {
  BitReader local = *reader;
  BitReader* r = &local;
  auto take = [&](uint32_t at) {
    uint32_t e = table[uint32_t(r->cache) & ((1u << (kLookupBits + 1)) - 1)];
    SkipBits(r, e & kEntryLengthMask);
    out[at] = uint8_t(e >> 8);
  };
  uint32_t i = 0;
  for (; i + 7 <= count; i += 7) {
    FillBitsFull(r);
    if (r->count < 56) break;
    for (uint32_t k = 0; k < 7; ++k) take(i + k);
  }
  for (uint32_t k = 0; i < count; ++i, ++k) {
    if (!(k & 3)) FillBits(r);
    take(i);
  }
  *reader = local;
}

void RefillMotion(PlaneState* state, Bundle* b, BitReader* r, uint32_t axis) {
  uint32_t count;
  if (!StartRefill(state, b, r, &count)) return;
  uint8_t* out = b->buffer;
  if (ReadBit(r)) {
    memset(out, int(uint8_t(Signed(r, ReadBits(r, 4)))), count);
    return;
  }
  if (!state->signedMotionBuilt[axis]) {
    BuildSignedMotion(&b->tree, state->signedMotion[axis]);
    state->signedMotionBuilt[axis] = true;
  }
  StoreMotion(r, state->signedMotion[axis], out, count);
}

// The values after the first: groups of eight deltas, each group opened by
// the width of its deltas. Two deltas (at most 15 bits and a sign each) from
// one fill and no branch per delta: a zero delta, or a width of 0, consumes
// no sign bit.
void StoreDcDeltas(BitReader* __restrict reader, uint32_t v, uint8_t* __restrict out,
                   uint32_t count) {
  BitReader local = *reader;
  BitReader* r = &local;
  for (uint32_t i = 1; i < count;) {
    uint32_t group = count - i < 8 ? count - i : 8;
    uint32_t len = ReadBits(r, 4);
    uint32_t mask = (1u << len) - 1;
    for (uint32_t g = 0; g < group; ++g, ++i) {
      if (!(g & 1)) FillBits(r);
      uint32_t delta = uint32_t(r->cache) & mask;
      uint32_t nonzero = delta != 0;
      uint32_t negate = 0u - (uint32_t(r->cache >> len) & nonzero);
      SkipBits(r, len + nonzero);
      v += (delta ^ negate) - negate;
      uint16_t stored = uint16_t(v);
      memcpy(out + 2 * i, &stored, 2);
    }
  }
  *reader = local;
}

void RefillDc(PlaneState* state, Bundle* b, BitReader* r) {
  uint32_t count;
  if (!StartRefill(state, b, r, &count)) return;
  uint8_t* out = b->buffer;
  uint32_t v = b->signedStart ? Signed(r, ReadBits(r, b->valueBits - 1))
                              : ReadBits(r, b->valueBits);
  uint16_t stored = uint16_t(v);
  memcpy(out, &stored, 2);
  StoreDcDeltas(r, v, out, count);
}

void StoreRuns(BitReader* __restrict reader, const CodeTree* __restrict tree,
               const uint16_t* __restrict pairs, uint8_t* __restrict out, uint32_t count) {
  BitReader local = *reader;
  BitReader* r = &local;
  uint32_t i = 0;
  for (; i + 6 <= count; i += 6) {
    FillBits(r);
    for (uint32_t k = 0; k < 6; k += 2) {
      uint32_t e = pairs[uint32_t(r->cache) & ((1u << kPairBits) - 1)];
      if (e) {
        SkipBits(r, e & kEntryLengthMask);
        out[i + k] = uint8_t(e >> 6 & 15);
        out[i + k + 1] = uint8_t(e >> 10);
      } else {
        out[i + k] = uint8_t(ReadSymbol(r, tree));
        out[i + k + 1] = uint8_t(ReadSymbol(r, tree));
      }
    }
  }
  for (; i < count; ++i) out[i] = uint8_t(ReadSymbol(r, tree));
  *reader = local;
}

void RefillRuns(PlaneState* state, Bundle* b, BitReader* r) {
  uint32_t count;
  if (!StartRefill(state, b, r, &count)) return;
  uint8_t* out = b->buffer;
  if (ReadBit(r)) {
    memset(out, int(ReadBits(r, 4)), count);
    return;
  }
  if (!state->runPairsBuilt) {
    BuildPairLookup(&b->tree, &b->tree, kPairBits, state->runPairs);
    state->runPairsBuilt = true;
  }
  StoreRuns(r, &b->tree, state->runPairs, out, count);
}

}  // namespace

void ComputeBundleSizes(uint32_t pitch, uint32_t sizes[kBundleCount]) {
  uint32_t n = pitch / 8;
  sizes[kBlockTypes] = (n + 515) & ~3u;
  sizes[kDoubledTypes] = (pitch / 16 + 515) & ~3u;
  sizes[kColours] = 64 * n + 512;
  sizes[kPatternBytes] = 8 * n + 512;
  sizes[kMotionX] = (n + 515) & ~3u;
  sizes[kMotionY] = (n + 515) & ~3u;
  sizes[kDcIntra] = (2 * n + 1027) & ~3u;
  sizes[kDcInter] = (2 * n + 1027) & ~3u;
  sizes[kRunLengths] = 48 * n + 512;
}

void SetUpBundles(PlaneState* state, uint8_t* const buffers[kBundleCount],
                  const uint32_t sizes[kBundleCount], uint32_t width) {
  static const uint32_t kMultiplier[kBundleCount] = {1, 0, 64, 8, 1, 1, 1, 1, 48};
  for (int id = 0; id < kBundleCount; ++id) {
    Bundle* b = &state->bundles[id];
    b->buffer = buffers[id];
    b->readPos = b->end = 0;
    bool dc = id == kDcIntra || id == kDcInter;
    b->capacity = dc ? sizes[id] / 2 : sizes[id];
    b->countBits = CountBits(id == kDoubledTypes ? 511 + (width / 2) / 8
                                                 : 511 + kMultiplier[id] * (width / 8));
    b->valueBits = dc ? 11 : 0;
    b->signedStart = id == kDcInter ? 1024 : 0;
  }
  state->patternPairsBuilt = state->runPairsBuilt = false;
  state->flatColoursBuilt = false;
  state->signedMotionBuilt[0] = state->signedMotionBuilt[1] = false;
}

void ReadPlaneTrees(PlaneState* state) {
  BitReader* r = &state->reader;
  bool clean = ReadTree(r, &state->bundles[kBlockTypes].tree);
  clean &= ReadTree(r, &state->bundles[kDoubledTypes].tree);
  for (CodeTree& high : state->colourHigh) clean &= ReadTree(r, &high);
  clean &= ReadTree(r, &state->bundles[kColours].tree);
  clean &= ReadTree(r, &state->bundles[kPatternBytes].tree);
  clean &= ReadTree(r, &state->bundles[kMotionX].tree);
  clean &= ReadTree(r, &state->bundles[kMotionY].tree);
  clean &= ReadTree(r, &state->bundles[kRunLengths].tree);
  if (!clean) state->faults |= kPlaneRepaired;
  state->colourContext = 0;
  state->patternPairsBuilt = state->runPairsBuilt = false;
  state->flatColoursBuilt = false;
  state->signedMotionBuilt[0] = state->signedMotionBuilt[1] = false;
}

void RefillBundle(PlaneState* state, int id) {
  Bundle* b = &state->bundles[id];
  if (b->readPos != b->end) return;
  // The reader lives in a local while values are stored, so that the byte
  // stores cannot force it back to memory.
  BitReader r = state->reader;
  switch (id) {
    case kBlockTypes:
    case kDoubledTypes:
      RefillTypes(state, b, &r);
      break;
    case kColours:
      RefillColours(state, b, &r);
      break;
    case kPatternBytes:
      RefillPatterns(state, b, &r);
      break;
    case kMotionX:
    case kMotionY:
      RefillMotion(state, b, &r, uint32_t(id - kMotionX));
      break;
    case kDcIntra:
    case kDcInter:
      RefillDc(state, b, &r);
      break;
    case kRunLengths:
      RefillRuns(state, b, &r);
      break;
    default:
      break;
  }
  state->reader = r;
}

}  // namespace kivo
