// SPDX-License-Identifier: BSD-2-Clause
// The coefficient list scheme shared by DCT coefficients and residues. The
// list is a byte array growing at both ends; entries are coded index << 2 |
// mode. Every quad is opened at most once, so at most 64 entries are pushed
// at the front and nine appended at the back, whatever the stream holds: a
// list never holds more than 77 entries.
#include "video/coefficients.h"

#include <cstring>

namespace kivo {

const uint8_t kCoefficientScan[64] = {
    0,  1,  8,  9,  2,  3,  10, 11, 4,  5,  12, 13, 6,  7,  14, 15,
    20, 21, 28, 29, 22, 23, 30, 31, 16, 17, 24, 25, 32, 33, 40, 41,
    34, 35, 42, 43, 48, 49, 56, 57, 50, 51, 58, 59, 18, 19, 26, 27,
    36, 37, 44, 45, 38, 39, 46, 47, 52, 53, 60, 61, 54, 55, 62, 63,
};

namespace {

enum : uint8_t { kGroup = 0, kOpenedGroup = 1, kQuad = 2, kSingle = 3 };

// Each pass reads the list from one array and writes what stays on it into
// the other: entries pushed at the front go below kListStart, kept ones from
// kListStart up, so the next pass reads them in the same order as a list
// edited in place.
constexpr uint32_t kListStart = 72;                    // below: up to 64 pushes
constexpr uint32_t kListSize = kListStart + 77 + 16;  // and slack for 8-byte moves

struct CoefficientList {
  uint8_t entries[2][kListSize];
  uint32_t front, back;  // of the list in entries[current]
  uint32_t current;
};

constexpr uint8_t Entry(uint32_t k, uint32_t mode) { return uint8_t(k << 2 | mode); }

inline void StartList(CoefficientList* list, const uint8_t* initial, uint32_t count) {
  list->current = 0;
  list->front = kListStart;
  list->back = kListStart + count;
  memcpy(list->entries[0] + kListStart, initial, count);
}

inline uint64_t Load8(const uint8_t* p) {
  uint64_t v;
  memcpy(&v, p, 8);
  return v;
}
inline void Store8(uint8_t* p, uint64_t v) { memcpy(p, &v, 8); }

// What a pass does with the values it meets. Coefficients store a value and
// never stop; a quad's indices are then taken without a branch on their
// flags (a pushed index stores 0 where its value will go, which still holds
// 0). Residues count operations and may stop.
struct CoefficientValues {
  static constexpr bool kBranchFree = true;
  static constexpr bool kWholeQuads = false;
  bool WholeQuad(BitReader*, uint32_t, uint8_t*, uint32_t*) { return false; }
  int16_t* block;
  uint32_t top;  // 1 << b: the implied top bit; the sign sits there in `bits`
  uint32_t b;
  // Sign and the choice below by masks: a compiler may turn a select into a
  // branch, and these bits are as good as random.
  inline int32_t Value(uint32_t bits) const {
    int32_t m = int32_t((bits & (top - 1)) | top);
    int32_t negative = -int32_t(bits >> b & 1);
    return (m ^ negative) - negative;
  }
  inline bool New(uint32_t j, uint32_t bits) {
    block[kCoefficientScan[j]] = int16_t(Value(bits));
    return true;
  }
  inline bool Quad(uint32_t j, uint32_t bits, uint32_t pushed) {
    block[kCoefficientScan[j]] = int16_t(Value(bits) & (int32_t(pushed) - 1));
    return true;
  }
  inline void Single(uint32_t j, uint32_t bits, uint32_t due) {
    block[kCoefficientScan[j]] = int16_t(Value(bits) & -int32_t(due));
  }
};

// Blocks with this many bit planes or more take the entry-by-entry walk;
// the other walk relies on values of at most 7 bits.
constexpr uint32_t kManyPlanes = 8;

// One pass over the list. A new value takes `valueBits` bits (read at once,
// first-read bit lowest); values.New(j, bits) is called for each coded index
// that receives its value in this pass and returns false to end the
// decoding. Finished entries are dropped, the live ones keep their order;
// entries pushed at the front wait for the next pass. Every fill leaves at
// least 32 bits, enough for a flag and a value. kPerEntry walks entry by
// entry, taking singles without a branch: faster once most of the list is
// singles with unpredictable bits (blocks of many bit planes); otherwise a
// run of 0 bits is passed over at once.
template <bool kPerEntry, typename Values>
bool WalkList(BitReader* reader, CoefficientList* list, uint32_t valueBits, Values& values) {
  const uint32_t valueMask = (1u << valueBits) - 1;
  uint8_t* in = list->entries[list->current];
  uint8_t* out = list->entries[list->current ^ 1];
  uint32_t back = list->back, outFront = kListStart, outBack = kListStart;
  for (uint32_t i = list->front; i < back;) {
    FillBitsFull(reader);
    uint64_t ahead = reader->cache;
    uint32_t entry;
    if constexpr (kPerEntry) {
      // A single is taken or kept without a branch on its bit (one not yet
      // due stores the 0 its coefficient still holds).
      entry = in[i++];
      uint32_t due = uint32_t(ahead) & 1;
      if ((entry & 3) == kSingle) {
        values.Single(entry >> 2, uint32_t(ahead >> 1) & valueMask, due);
        SkipBits(reader, 1 + ((0u - due) & valueBits));
        out[outBack] = uint8_t(entry);
        outBack += 1 - due;
        continue;
      }
      SkipBits(reader, 1);
      if (!due) {
        out[outBack++] = uint8_t(entry);
        continue;
      }
    } else {
      // A run of 0 bits keeps as many entries at once; the 1 bit that ends
      // it is taken here too unless the cache or the list ran out first.
      uint32_t zeros = ahead ? uint32_t(__builtin_ctzll(ahead)) : 64;
      uint32_t room = reader->count < back - i ? reader->count : back - i;
      if (zeros >= room) zeros = room;
      SkipBits(reader, zeros);
      // Whole 8-byte moves: what lands past the kept entries is overwritten
      // by the next ones written.
      for (uint32_t k = 0; k < zeros + 1; k += 8) Store8(out + outBack + k, Load8(in + i + k));
      outBack += zeros;
      i += zeros;
      if (zeros == room) continue;
      SkipBits(reader, 1);
      entry = in[i++];
    }
    // Opening a group turns the entry into the next mode, which is looked at
    // again with a bit of its own.
    for (;;) {
      uint32_t k = entry >> 2;
      uint32_t mode = entry & 3;
      if (mode == kSingle) {
        FillBitsFull(reader);
        uint32_t bits = uint32_t(reader->cache) & valueMask;
        SkipBits(reader, valueBits);
        if (!values.New(k, bits)) return false;
        break;
      }
      if (mode == kOpenedGroup) {
        entry = Entry(k, kQuad);
        in[back++] = Entry(k + 4, kQuad);
        in[back++] = Entry(k + 8, kQuad);
        in[back++] = Entry(k + 12, kQuad);
      } else {
        // Each index of the quad: a 1 bit pushes it as a single, a 0 bit is
        // followed by its value. The run-skipping walk takes values of at
        // most 7 bits (blocks of fewer than kManyPlanes planes, residues):
        // the whole quad fits in the 32 bits one fill leaves.
        constexpr bool oneFill = !kPerEntry;
        if (oneFill) FillBitsFull(reader);
        bool whole = false;
        if constexpr (Values::kWholeQuads) whole = values.WholeQuad(reader, k, out, &outFront);
        for (uint32_t j = k; !whole && j < k + 4; ++j) {
          if (!oneFill) FillBitsFull(reader);
          uint32_t bits = uint32_t(reader->cache);
          uint32_t pushed = bits & 1;
          if constexpr (Values::kBranchFree) {
            SkipBits(reader, 1 + ((pushed - 1) & valueBits));
            out[outFront - 1] = Entry(j, kSingle);
            outFront -= pushed;
            if (!values.Quad(j, (bits >> 1) & valueMask, pushed)) return false;
          } else if (pushed) {
            SkipBits(reader, 1);
            out[--outFront] = Entry(j, kSingle);
          } else {
            SkipBits(reader, valueBits + 1);
            if (!values.New(j, (bits >> 1) & valueMask)) return false;
          }
        }
        if (mode == kQuad) break;
        entry = Entry(k + 4, kOpenedGroup);
      }
      if (!ReadBit(reader)) {
        out[outBack++] = uint8_t(entry);
        break;
      }
    }
  }
  list->current ^= 1;
  list->front = outFront;
  list->back = outBack;
  return true;
}

}  // namespace


namespace {

constexpr uint8_t kFirstList[6] = {Entry(4, kGroup), Entry(24, kGroup), Entry(44, kGroup),
                                   Entry(1, kSingle), Entry(2, kSingle), Entry(3, kSingle)};

// Every pass of a block of n bit planes. Each walk has a function of its
// own, so that neither one's registers are allocated around the other's;
// the reader is local to it, since the list's byte stores could otherwise
// alias it.
template <bool kPerEntry>
__attribute__((noinline)) void WalkPlanes(BitReader* stream, uint32_t n, int16_t block[64]) {
  BitReader local = *stream;
  CoefficientList list;
  StartList(&list, kFirstList, 6);
  for (uint32_t b = n; b-- > 0;) {
    // A value of b bits: b magnitude bits under an implied top bit, then
    // the sign (1 = negative); with b = 0 the sign alone gives +-1.
    CoefficientValues values{block, 1u << b, b};
    WalkList<kPerEntry>(&local, &list, b + 1, values);
  }
  *stream = local;
}

// The value of b magnitude bits and a sign for every 7-bit window of the
// stream (only its low b + 1 bits count): one load instead of the masks.
struct ValueTables {
  int16_t v[kManyPlanes - 1][128];
};
constexpr ValueTables MakeValueTables() {
  ValueTables t{};
  for (uint32_t b = 0; b + 1 < kManyPlanes; ++b)
    for (uint32_t x = 0; x < 128; ++x) {
      int32_t m = int32_t((x & ((1u << b) - 1)) | 1u << b);
      t.v[b][x] = int16_t(x >> b & 1 ? -m : m);
    }
  return t;
}
constexpr ValueTables kValueTables = MakeValueTables();

// A quad of residue indices takes at most 8 bits: per index a 1 bit (pushed)
// or a 0 bit and the sign. kQuadTables.bits maps those 8 bits to the pushed
// indices (low nibble), the negative ones (next nibble) and the bits used,
// so that only one lookup lies on the reader's chain; .shapes gives for a
// pushed nibble the count taken, the taken offsets packed from the lowest
// byte and the pushed ones as single entries packed from the highest byte
// down (the order of pushes at the front).
struct QuadShape {
  uint32_t taken, takenOffsets, pushedEntries;
};
struct QuadTables {
  uint16_t bits[256];
  QuadShape shapes[16];
  uint32_t bytes[16];  // byte i 0xFF when bit i of the index is set
};
constexpr QuadTables MakeQuadTables() {
  QuadTables t{};
  for (uint32_t v = 0; v < 256; ++v) {
    uint32_t at = 0, pushed = 0, negative = 0;
    for (uint32_t i = 0; i < 4; ++i) {
      if (v >> at & 1) {
        pushed |= 1u << i;
        at += 1;
      } else {
        negative |= (v >> (at + 1) & 1) << i;
        at += 2;
      }
    }
    t.bits[v] = uint16_t(pushed | negative << 4 | at << 8);
  }
  for (uint32_t p = 0; p < 16; ++p) {
    uint32_t taken = 0, pushedCount = 0, takenOffsets = 0, pushedEntries = 0;
    for (uint32_t i = 0; i < 4; ++i) {
      if (p >> i & 1)
        pushedEntries |= uint32_t(Entry(i, kSingle)) << (24 - 8 * pushedCount++);
      else
        takenOffsets |= i << (8 * taken++);
    }
    t.shapes[p] = QuadShape{taken, takenOffsets, pushedEntries};
    uint32_t bytes = 0;
    for (uint32_t i = 0; i < 4; ++i)
      if (p >> i & 1) bytes |= 0xFFu << (8 * i);
    t.bytes[p] = bytes;
  }
  return t;
}
constexpr QuadTables kQuadTables = MakeQuadTables();

inline void Store4(uint8_t* p, uint32_t v) { memcpy(p, &v, 4); }

// A reader in three registers for a block known to end far enough before
// the end of its data that no fill needs a check: FillBitsFull's fast case.
struct UncheckedBits {
  const uint8_t* next;
  uint64_t cache;
  uint32_t count;
  void Fill() {
    cache |= Load8(next) << count;
    next += (63 - count) >> 3;
    count |= 56;
  }
  void Skip(uint32_t bits) {
    cache >>= bits;
    count -= bits;
  }
};
inline UncheckedBits StartUnchecked(const BitReader* r) {
  return {r->data + r->pos, r->cache, r->count};
}
inline void EndUnchecked(const UncheckedBits& u, BitReader* r) {
  r->pos = uint32_t(u.next - r->data);
  r->cache = u.cache;
  r->count = u.count;
}

// The two lists swap by pointer.
struct UncheckedList {
  uint8_t* in;
  uint8_t* out;
  uint32_t front, back;
};

// One pass of WalkList<false> with the unchecked reader: each look at the
// list fills the cache, and so does each value or quad, which take at most
// 32 bits; a group's two flags after its quad come from what is left.
// values.Single(r, k) and values.Quad(r, k, out, outFront) take a single's
// value or a quad's bits (pushing its pushed indices) and return false to
// end the decoding. kLast: no pass follows, so kept entries are not moved.
template <bool kLast, typename Values>
__attribute__((always_inline)) inline bool UncheckedPass(UncheckedBits& r, UncheckedList& list,
                                                         Values& values) {
  uint8_t* in = list.in;
  uint8_t* out = list.out;
  uint32_t back = list.back, outFront = kListStart, outBack = kListStart;
  for (uint32_t i = list.front; i < back;) {
    r.Fill();
    // A 1 bit at `room` ends the run at the list's end or at count.
    uint32_t room = r.count < back - i ? r.count : back - i;
    uint32_t zeros = uint32_t(__builtin_ctzll(r.cache | 1ull << room));
    r.Skip(zeros);
    if (!kLast) {
      for (uint32_t k = 0; k < zeros + 1; k += 8) Store8(out + outBack + k, Load8(in + i + k));
      outBack += zeros;
    }
    i += zeros;
    if (zeros == room) continue;
    r.Skip(1);
    uint32_t entry = in[i++];
    uint32_t k = entry >> 2;
    uint32_t mode = entry & 3;
    r.Fill();
    if (mode == kSingle) {
      if (!values.Single(r, k)) return false;
      continue;
    }
    if (mode == kOpenedGroup) goto opened;
    for (;;) {
      if (!values.Quad(r, k, out, outFront)) return false;
      if (mode == kQuad) break;
      // The group's other four quads.
      k += 4;
      if (!(r.cache & 1)) {
        r.Skip(1);
        out[outBack++] = Entry(k, kOpenedGroup);
        break;
      }
      r.Skip(1);
    opened:
      in[back] = Entry(k + 4, kQuad);
      in[back + 1] = Entry(k + 8, kQuad);
      in[back + 2] = Entry(k + 12, kQuad);
      back += 3;
      mode = kQuad;
      uint32_t open = uint32_t(r.cache) & 1;
      r.Skip(1);
      if (!open) {
        out[outBack++] = Entry(k, kQuad);
        break;
      }
      r.Fill();
    }
  }
  list.in = out;
  list.out = in;
  list.front = outFront;
  list.back = outBack;
  return true;
}

// What a block of fewer than kManyPlanes planes can read: each pass looks
// at most 75 entries (every entry a list ever holds) and a group costs at
// most two looks more, each quad's 4 flags and each value's at most 7 bits
// come once: 7 * 75 + 6 + 60 + 63 * 7 = 1032 bits. With 63 bits held and an
// 8-byte load, every load stays below 129 + 8 + 8 bytes past the position
// the block starts at.
constexpr uint32_t kFewPlanesBytes = 160;

// Coefficient values of b + 1 bits (b = width - 1), from the value table.
struct UncheckedCoefficients {
  int16_t* block;
  const int16_t* values;
  uint32_t width;
  bool Single(UncheckedBits& r, uint32_t k) {
    block[kCoefficientScan[k]] = values[r.cache & 127];
    r.Skip(width);
    return true;
  }
  // A 1 bit pushes the index as a single, a 0 bit is followed by its
  // value; a pushed index stores the 0 it holds. The pushes are one 4-byte
  // store as in TakeWholeQuad.
  bool Quad(UncheckedBits& r, uint32_t k, uint8_t* out, uint32_t& outFront) {
    uint32_t pushed = 0;
    for (uint32_t j = k; j < k + 4; ++j) {
      uint32_t flag = uint32_t(r.cache) & 1;
      uint32_t taken = flag - 1;
      block[kCoefficientScan[j]] = int16_t(values[r.cache >> 1 & 127] & taken);
      pushed |= flag << (j - k);
      r.Skip(1 + (taken & width));
    }
    const QuadShape& shape = kQuadTables.shapes[pushed];
    Store4(out + outFront - 4, shape.pushedEntries + (k << 2) * 0x01010101u);
    outFront -= 4 - shape.taken;
    return true;
  }
};

// The run-skipping walk of WalkPlanes<false> for blocks that start at
// least kFewPlanesBytes from the end of the data.
__attribute__((noinline)) void WalkFewPlanes(BitReader* stream, uint32_t n,
                                             int16_t* __restrict block) {
  uint8_t lists[2][kListSize];
  UncheckedList list{lists[0], lists[1], kListStart, kListStart + 6};
  memcpy(list.in + kListStart, kFirstList, 6);
  UncheckedBits r = StartUnchecked(stream);
  for (uint32_t b = n; --b > 0;) {
    UncheckedCoefficients values{block, kValueTables.v[b], b + 1};
    UncheckedPass<false>(r, list, values);
  }
  UncheckedCoefficients last{block, kValueTables.v[0], 1};
  UncheckedPass<true>(r, list, last);
  EndUnchecked(r, stream);
}

}  // namespace

uint32_t DecodeCoefficients(BitReader* stream, int16_t block[64]) {
  uint32_t n = ReadBits(stream, 4);
  if (n >= kManyPlanes)
    WalkPlanes<true>(stream, n, block);
  else if (n > 0 && stream->pos <= stream->size && stream->size - stream->pos >= kFewPlanesBytes)
    WalkFewPlanes(stream, n, block);
  else if (n > 0)
    WalkPlanes<false>(stream, n, block);
  return n;
}

uint32_t DecodeCoefficientsPlain(BitReader* stream, int16_t block[64]) {
  uint32_t n = ReadBits(stream, 4);
  if (n >= kManyPlanes)
    WalkPlanes<true>(stream, n, block);
  else if (n > 0)
    WalkPlanes<false>(stream, n, block);
  return n;
}

namespace {


// A residue quad at k in one step from the 8 bits ahead (`cache`), unless
// its operations would take `done` past `limit`: then nothing is taken and
// 0 returned (the caller goes index by index to stop at the right one);
// else the bits it used. The quad's indices are new: their residue bytes
// are 0 and none is in `nonzero` yet, so 4 bytes fit there.
inline uint32_t TakeWholeQuad(uint64_t cache, uint32_t k, uint32_t mask, uint32_t limit,
                              uint8_t* residue, uint8_t* nonzero, uint32_t& nonzeroCount,
                              uint32_t& done, uint8_t* out, uint32_t& outFront) {
  uint32_t t = kQuadTables.bits[cache & 255];
  uint32_t pushed = t & 15, negative = t >> 4 & 15;
  const QuadShape& shape = kQuadTables.shapes[pushed];
  if (done + shape.taken > limit) return 0;
  uint32_t negativeBytes = kQuadTables.bytes[negative];
  uint32_t positiveBytes = kQuadTables.bytes[~pushed & 15] & ~negativeBytes;
  Store4(residue + k, (positiveBytes & (mask * 0x01010101u)) |
                          (negativeBytes & (uint8_t(0u - mask) * 0x01010101u)));
  Store4(nonzero + nonzeroCount, shape.takenOffsets + k * 0x01010101u);
  nonzeroCount += shape.taken;
  Store4(out + outFront - 4, shape.pushedEntries + (k << 2) * 0x01010101u);
  outFront -= 4 - shape.taken;
  done += shape.taken;
  return t >> 8;
}

// A new residue value is +-mask by its sign bit; each is an operation.
struct ResidueValues {
  static constexpr bool kBranchFree = true;
  static constexpr bool kWholeQuads = true;
  uint8_t* residue;
  uint8_t* nonzero;
  uint32_t* nonzeroCount;
  uint32_t* done;
  uint32_t limit, mask;
  inline bool New(uint32_t j, uint32_t sign) {
    nonzero[(*nonzeroCount)++] = uint8_t(j);
    residue[j] = uint8_t(sign ? 0u - mask : mask);
    return ++*done <= limit;
  }
  // The quad at k from a filled cache in one step (TakeWholeQuad).
  inline bool WholeQuad(BitReader* reader, uint32_t k, uint8_t* out, uint32_t* outFront) {
    uint32_t used = TakeWholeQuad(reader->cache, k, mask, limit, residue, nonzero,
                                  *nonzeroCount, *done, out, *outFront);
    SkipBits(reader, used);
    return used != 0;
  }
  // A pushed index stores the 0 it holds and counts nothing.
  inline bool Quad(uint32_t j, uint32_t sign, uint32_t pushed) {
    uint32_t taken = 1 - pushed;
    nonzero[*nonzeroCount] = uint8_t(j);
    *nonzeroCount += taken;
    uint32_t negative = 0u - sign;
    residue[j] = uint8_t(((mask ^ negative) - negative) & (0u - taken));
    *done += taken;
    return *done <= limit;
  }
};

// Restrict: the byte stores must not force the reader back to memory.
uint32_t ReadResidue(BitReader* __restrict reader, uint32_t limit, uint8_t* __restrict residue,
                     uint8_t* __restrict nonzero) {
  memset(residue, 0, 64);
  uint32_t e = ReadBits(reader, 3);
  static const uint8_t kInitial[4] = {Entry(4, kGroup), Entry(24, kGroup), Entry(44, kGroup),
                                      Entry(0, kQuad)};
  CoefficientList list;
  StartList(&list, kInitial, 4);
  uint32_t nonzeroCount = 0;
  uint32_t done = 0;
  for (uint32_t mask = 1u << e; mask; mask >>= 1) {
    uint32_t known = nonzeroCount;
    // Without a branch on the bit: a 0 adds nothing and counts nothing.
    for (uint32_t i = 0; i < known; ++i) {
      uint32_t bit = ReadBit(reader);
      uint8_t& v = residue[nonzero[i]];
      uint32_t away = (v & 0x80) ? 0u - mask : mask;
      v = uint8_t(v + (away & (0u - bit)));
      done += bit;
      if (done > limit) return nonzeroCount;
    }
    ResidueValues values{residue, nonzero, &nonzeroCount, &done, limit, mask};
    bool more = WalkList<false>(reader, &list, 1, values);
    if (!more) return nonzeroCount;
  }
  return nonzeroCount;
}

// What a residue can read: 8 passes, each looking at most 77 entries and
// refining at most 64 values, a group at most two looks more, each quad's 4
// flags and each value's sign once: 8 * (77 + 64) + 6 + 64 + 64 = 1262 bits
// after the 3-bit exponent. Every load then stays below 158 + 8 + 8 bytes
// past the position the residue starts at.
constexpr uint32_t kResidueBytes = 192;

// New residue values, +-mask by their sign bit; each is an operation.
struct UncheckedResidue {
  uint8_t* residue;
  uint8_t* nonzero;
  uint32_t nonzeroCount, done, limit, mask;
  bool Single(UncheckedBits& r, uint32_t k) {
    uint32_t negative = 0u - (uint32_t(r.cache) & 1);
    r.Skip(1);
    nonzero[nonzeroCount++] = uint8_t(k);
    residue[k] = uint8_t((mask ^ negative) - negative);
    return ++done <= limit;
  }
  // In one step unless the quad's operations would pass the limit; then
  // index by index, to stop at the right one.
  bool Quad(UncheckedBits& r, uint32_t k, uint8_t* out, uint32_t& outFront) {
    uint32_t used = TakeWholeQuad(r.cache, k, mask, limit, residue, nonzero, nonzeroCount, done,
                                  out, outFront);
    if (used) {
      r.Skip(used);
      return true;
    }
    for (uint32_t j = k; j < k + 4; ++j) {
      uint32_t bits = uint32_t(r.cache);
      uint32_t isPushed = bits & 1, taken = 1 - isPushed;
      r.Skip(1 + taken);
      out[outFront - 1] = Entry(j, kSingle);
      outFront -= isPushed;
      nonzero[nonzeroCount] = uint8_t(j);
      nonzeroCount += taken;
      uint32_t sign = 0u - (bits >> 1 & 1);
      residue[j] = uint8_t(((mask ^ sign) - sign) & (0u - taken));
      done += taken;
      if (done > limit) return false;
    }
    return true;
  }
};

// ReadResidue for residues that start at least kResidueBytes from the end
// of the data. The refinement bits of a pass are taken up to 32 from one
// fill, their operations counted at once; only the chunk in which the limit
// falls is cut at the bit that reaches it.
__attribute__((noinline)) uint32_t ReadResidueUnchecked(BitReader* stream, uint32_t limit,
                                                        uint8_t* __restrict residue,
                                                        uint8_t* __restrict nonzero) {
  memset(residue, 0, 64);
  static const uint8_t kFirst[4] = {Entry(4, kGroup), Entry(24, kGroup), Entry(44, kGroup),
                                    Entry(0, kQuad)};
  uint8_t lists[2][kListSize];
  UncheckedList list{lists[0], lists[1], kListStart, kListStart + 4};
  memcpy(list.in + kListStart, kFirst, 4);
  UncheckedBits r = StartUnchecked(stream);
  r.Fill();
  uint32_t e = uint32_t(r.cache) & 7;
  r.Skip(3);
  UncheckedResidue values{residue, nonzero, 0, 0, limit, 0};
  for (uint32_t mask = 1u << e; mask; mask >>= 1) {
    values.mask = mask;
    uint32_t known = values.nonzeroCount;
    for (uint32_t first = 0; first < known; first += 32) {
      r.Fill();
      uint32_t take = known - first < 32 ? known - first : 32;
      uint64_t bits = r.cache & ((1ull << take) - 1);
      uint32_t ones = uint32_t(__builtin_popcountll(bits));
      bool last = values.done + ones > limit;
      if (last) {
        // Keep the bits up to the one that makes operation limit + 1.
        uint64_t rest = bits;
        for (uint32_t op = values.done + 1; op <= limit; ++op) rest &= rest - 1;
        take = uint32_t(__builtin_ctzll(rest)) + 1;
        bits &= (2ull << (take - 1)) - 1;
      }
      r.Skip(take);
      values.done += ones;
      for (uint32_t i = 0; i < take; ++i) {
        uint8_t& v = residue[nonzero[first + i]];
        uint32_t away = (v & 0x80) ? 0u - mask : mask;
        v = uint8_t(v + (away & (0u - uint32_t(bits >> i & 1))));
      }
      if (last) {
        EndUnchecked(r, stream);
        return values.nonzeroCount;
      }
    }
    if (!(mask > 1 ? UncheckedPass<false>(r, list, values) : UncheckedPass<true>(r, list, values)))
      break;
  }
  EndUnchecked(r, stream);
  return values.nonzeroCount;
}

}  // namespace

uint32_t DecodeResidue(BitReader* stream, uint32_t limit, uint8_t residue[64],
                       uint8_t nonzero[64]) {
  if (stream->pos <= stream->size && stream->size - stream->pos >= kResidueBytes)
    return ReadResidueUnchecked(stream, limit, residue, nonzero);
  BitReader local = *stream;
  uint32_t count = ReadResidue(&local, limit, residue, nonzero);
  *stream = local;
  return count;
}

uint32_t DecodeResiduePlain(BitReader* stream, uint32_t limit, uint8_t residue[64],
                            uint8_t nonzero[64]) {
  BitReader local = *stream;
  uint32_t count = ReadResidue(&local, limit, residue, nonzero);
  *stream = local;
  return count;
}

}  // namespace kivo
