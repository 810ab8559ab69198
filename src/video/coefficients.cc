// The coefficient list scheme shared by DCT coefficients and residues. The
// list is a byte array growing at both ends; entries are coded index << 2 |
// mode. Every quad is opened at most once, so at most 64 entries are pushed
// at the front and nine appended at the back, whatever the stream holds.
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

constexpr uint32_t kListSize = 160;
constexpr uint32_t kListStart = 72;  // room for 64 pushes in front, 6 + 9 behind

struct CoefficientList {
  uint8_t entries[kListSize];
  uint32_t front, back;
};

inline uint8_t Entry(uint32_t k, uint32_t mode) { return uint8_t(k << 2 | mode); }

inline void StartList(CoefficientList* list, const uint8_t* initial, uint32_t count) {
  list->front = kListStart;
  list->back = kListStart + count;
  memcpy(list->entries + kListStart, initial, count);
}

// One pass over the list. A new value takes `valueBits` bits (read at once,
// first-read bit lowest); newValue(j, bits) is called for each coded index
// that receives its value in this pass and returns false to end the
// decoding. Finished entries are dropped as the walk goes (the live ones
// keep their order), so no pass looks at an entry twice once it is done;
// entries pushed at the front lie before the pass's start and wait for the
// next. Every fill leaves at least 32 bits, enough for a flag and a value.
template <typename NewValue>
bool WalkList(BitReader* reader, CoefficientList* list, uint32_t valueBits, NewValue&& newValue) {
  const uint32_t valueMask = (1u << valueBits) - 1;
  uint8_t* e = list->entries;
  uint32_t front = list->front, back = list->back, out = front;
  for (uint32_t i = front; i < back;) {
    // A run of 0 bits passes over as many entries at once.
    FillBits(reader);
    uint64_t ahead = reader->cache;
    uint32_t zeros = ahead ? uint32_t(__builtin_ctzll(ahead)) : 64;
    if (zeros > reader->count) zeros = reader->count;
    if (zeros > back - i) zeros = back - i;
    if (zeros) {
      SkipBits(reader, zeros);
      if (out != i)
        for (uint32_t k = 0; k < zeros; ++k) e[out + k] = e[i + k];
      out += zeros;
      i += zeros;
      continue;
    }
    SkipBits(reader, 1);
    uint32_t entry = e[i++];
    // Opening a group turns the entry into the next mode, which is looked at
    // again with a bit of its own.
    for (;;) {
      uint32_t k = entry >> 2;
      uint32_t mode = entry & 3;
      if (mode == kOpenedGroup) {
        entry = Entry(k, kQuad);
        e[back++] = Entry(k + 4, kQuad);
        e[back++] = Entry(k + 8, kQuad);
        e[back++] = Entry(k + 12, kQuad);
      } else if (mode == kSingle) {
        FillBits(reader);
        uint32_t bits = uint32_t(reader->cache) & valueMask;
        SkipBits(reader, valueBits);
        if (!newValue(k, bits)) return false;
        break;
      } else {
        // Each index of the quad: a 1 bit pushes it as a single, a 0 bit is
        // followed by its value.
        for (uint32_t j = k; j < k + 4; ++j) {
          FillBits(reader);
          uint32_t bits = uint32_t(reader->cache);
          if (bits & 1) {
            SkipBits(reader, 1);
            e[--front] = Entry(j, kSingle);
          } else {
            SkipBits(reader, valueBits + 1);
            if (!newValue(j, (bits >> 1) & valueMask)) return false;
          }
        }
        if (mode == kQuad) break;
        entry = Entry(k + 4, kOpenedGroup);
      }
      if (!ReadBit(reader)) {
        e[out++] = uint8_t(entry);
        break;
      }
    }
  }
  list->front = front;
  list->back = out;
  return true;
}

}  // namespace

void DecodeCoefficients(BitReader* stream, int16_t block[64]) {
  // A local reader: the list's byte stores could otherwise alias it.
  BitReader local = *stream;
  BitReader* reader = &local;
  uint32_t n = ReadBits(reader, 4);
  if (n == 0) {
    *stream = local;
    return;
  }
  static const uint8_t kInitial[6] = {Entry(4, kGroup), Entry(24, kGroup), Entry(44, kGroup),
                                      Entry(1, kSingle), Entry(2, kSingle), Entry(3, kSingle)};
  CoefficientList list;
  StartList(&list, kInitial, 6);
  for (uint32_t b = n; b-- > 0;) {
    // A value of b bits: b magnitude bits under an implied top bit, then
    // the sign (1 = negative); with b = 0 the sign alone gives +-1.
    const uint32_t top = 1u << b;
    WalkList(reader, &list, b + 1, [&](uint32_t j, uint32_t bits) {
      int32_t m = int32_t((bits & (top - 1)) | top);
      block[kCoefficientScan[j]] = int16_t((bits & top) ? -m : m);
      return true;
    });
  }
  *stream = local;
}

namespace {

void ReadResidue(BitReader* reader, uint32_t limit, uint8_t residue[64]) {
  memset(residue, 0, 64);
  uint32_t e = ReadBits(reader, 3);
  static const uint8_t kInitial[4] = {Entry(4, kGroup), Entry(24, kGroup), Entry(44, kGroup),
                                      Entry(0, kQuad)};
  CoefficientList list;
  StartList(&list, kInitial, 4);
  uint8_t nonzero[64];
  uint32_t nonzeroCount = 0;
  uint32_t done = 0;
  for (uint32_t mask = 1u << e; mask; mask >>= 1) {
    uint32_t known = nonzeroCount;
    for (uint32_t i = 0; i < known; ++i) {
      if (!ReadBit(reader)) continue;
      uint8_t& v = residue[nonzero[i]];
      v = uint8_t((v & 0x80) ? v - mask : v + mask);
      if (++done > limit) return;
    }
    bool more = WalkList(reader, &list, 1, [&](uint32_t j, uint32_t sign) {
      nonzero[nonzeroCount++] = uint8_t(j);
      residue[j] = uint8_t(sign ? 0u - mask : mask);
      return ++done <= limit;
    });
    if (!more) return;
  }
}

}  // namespace

void DecodeResidue(BitReader* stream, uint32_t limit, uint8_t residue[64]) {
  BitReader local = *stream;
  ReadResidue(&local, limit, residue);
  *stream = local;
}

}  // namespace kivo
