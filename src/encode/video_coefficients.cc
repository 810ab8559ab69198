// SPDX-License-Identifier: BSD-2-Clause
// Coefficient and residue coding on the writer side. Both walk the same
// list of coefficient groups the decoder walks, in the same order, and write
// for every look at an entry the bit the decoder will read there.
#include "encode/video_coefficients.h"

#include <algorithm>
#include <bit>

namespace kivo::encode {
namespace {

// Coded index -> natural index (pairs of horizontal neighbours).
const uint8_t kScan[64] = {
    0,  1,  8,  9,  2,  3,  10, 11, 4,  5,  12, 13, 6,  7,  14, 15,
    20, 21, 28, 29, 22, 23, 30, 31, 16, 17, 24, 25, 32, 33, 40, 41,
    34, 35, 42, 43, 48, 49, 56, 57, 50, 51, 58, 59, 18, 19, 26, 27,
    36, 37, 44, 45, 38, 39, 46, 47, 52, 53, 60, 61, 54, 55, 62, 63,
};

enum : uint8_t { kGroup = 0, kQuads = 1, kQuad = 2, kSingle = 3 };

struct Entry {
  uint8_t index;
  uint8_t mode;
  bool finished;
};

// The list grows at the front (one push per coded index at most) and at the
// back (three per opened group of quads); 64 + 6 + 9 entries fit either way.
struct GroupList {
  Entry entries[2 * 80];
  int front = 80, back = 80;
  void Append(uint8_t index, uint8_t mode) { entries[back++] = {index, mode, false}; }
  void Push(uint8_t index, uint8_t mode) { entries[--front] = {index, mode, false}; }
};

int TopBit(uint32_t magnitude) {
  int b = -1;
  while (magnitude) {
    ++b;
    magnitude >>= 1;
  }
  return b;
}

uint32_t Magnitude(int32_t v) { return uint32_t(v < 0 ? -v : v); }

// Span of coded indices an entry stands for.
int Span(uint8_t mode) { return mode == kGroup ? 20 : mode == kQuads ? 16 : mode == kQuad ? 4 : 1; }

// The walk both coders share. `top[j]` is the bit plane at which coded index
// j becomes known (-1: never). `coded[j]` says it already is. At plane b a
// look at an entry answers whether some not-yet-coded index in its span has
// top >= b. `Code(j, b)` writes a newly found index and returns false when
// decoding ends there.
template <typename CodeFn>
bool WalkList(BitWriter& w, GroupList& list, const int top[64], bool coded[64], int b,
              CodeFn code) {
  auto found = [&](int k, int span) {
    for (int j = k; j < k + span && j < 64; ++j)
      if (!coded[j] && top[j] >= b) return true;
    return false;
  };
  auto quad = [&](int k) {
    for (int j = k; j < k + 4; ++j) {
      if (!coded[j] && top[j] >= b) {
        PutBit(w, 0);
        coded[j] = true;
        if (!code(j, b)) return false;
      } else {
        PutBit(w, 1);
        list.Push(uint8_t(j), kSingle);
      }
    }
    return true;
  };
  for (int pos = list.front; pos < list.back;) {
    Entry& e = list.entries[pos];
    if (e.finished) {
      ++pos;
      continue;
    }
    bool bit = found(e.index, Span(e.mode));
    PutBit(w, bit);
    if (!bit) {
      ++pos;
      continue;
    }
    switch (e.mode) {
      case kGroup: {
        int k = e.index;
        e.index = uint8_t(k + 4);
        e.mode = kQuads;
        if (!quad(k)) return false;
        break;  // look at the same entry again
      }
      case kQuads:
        e.mode = kQuad;
        list.Append(uint8_t(e.index + 4), kQuad);
        list.Append(uint8_t(e.index + 8), kQuad);
        list.Append(uint8_t(e.index + 12), kQuad);
        break;  // look at the same entry again
      case kQuad:
        e.finished = true;
        if (!quad(e.index)) return false;
        ++pos;
        break;
      default:
        e.finished = true;
        coded[e.index] = true;
        if (!code(e.index, b)) return false;
        ++pos;
        break;
    }
  }
  return true;
}

}  // namespace

int CoefficientPlanes(const int16_t block[64]) {
  int planes = 0;
  for (int i = 1; i < 64; ++i) {
    if (block[i] == -32768) return -1;
    planes = std::max(planes, TopBit(Magnitude(block[i])) + 1);
  }
  return planes;
}

bool WriteCoefficients(BitWriter& w, const int16_t block[64], int planes) {
  int needed = CoefficientPlanes(block);
  if (needed < 0) return false;
  if (planes < 0) planes = needed;
  if (planes > 15 || planes < needed) return false;
  PutBits(w, uint32_t(planes), 4);
  if (planes == 0) return true;

  int top[64];
  bool coded[64] = {};
  coded[0] = true;  // the DC travels in its bundle
  for (int j = 0; j < 64; ++j) top[j] = j == 0 ? -1 : TopBit(Magnitude(block[kScan[j]]));

  GroupList list;
  list.Append(4, kGroup);
  list.Append(24, kGroup);
  list.Append(44, kGroup);
  list.Append(1, kSingle);
  list.Append(2, kSingle);
  list.Append(3, kSingle);
  auto value = [&](int j, int b) {
    int32_t v = block[kScan[j]];
    if (b > 0) PutBits(w, Magnitude(v) & ((1u << b) - 1), uint32_t(b));
    PutBit(w, v < 0);
    return true;
  };
  for (int b = planes - 1; b >= 0; --b) WalkList(w, list, top, coded, b, value);
  return true;
}

uint32_t ResidueOperations(const int8_t residue[64]) {
  uint32_t ops = 0;
  for (int i = 0; i < 64; ++i) {
    uint32_t m = Magnitude(residue[i]);
    if (m == 0) continue;
    uint32_t below = m & ~(1u << TopBit(m));
    ops += 1 + uint32_t(std::popcount(below));
  }
  return ops;
}

int ResidueTopBit(const int8_t residue[64]) {
  int top = 0;
  for (int i = 0; i < 64; ++i) top = std::max(top, TopBit(Magnitude(residue[i])));
  return top;
}

bool WriteResidue(BitWriter& w, const int8_t residue[64], ResidueCode rc, int8_t* decoded) {
  int needTop = ResidueTopBit(residue);
  int topBit = rc.topBit < 0 ? needTop : rc.topBit;
  if (topBit > 7 || topBit < needTop) return false;
  int limit = rc.limit;
  if (limit < 0) {
    uint32_t ops = ResidueOperations(residue);
    limit = ops == 0 ? 0 : int(std::min<uint32_t>(ops - 1, 127));
  }
  if (limit > 127) return false;
  PutBits(w, uint32_t(limit), 7);
  PutBits(w, uint32_t(topBit), 3);

  int top[64];
  bool coded[64] = {};
  uint8_t value[64] = {};  // what the decoder holds, coded order
  uint32_t magnitude[64];
  for (int j = 0; j < 64; ++j) {
    magnitude[j] = Magnitude(residue[kScan[j]]);
    top[j] = TopBit(magnitude[j]);
  }
  uint8_t nonzero[64];
  int nonzeroCount = 0;
  int done = 0;
  bool going = true;

  GroupList list;
  list.Append(4, kGroup);
  list.Append(24, kGroup);
  list.Append(44, kGroup);
  list.Append(0, kQuad);
  for (int p = topBit; p >= 0 && going; --p) {
    uint8_t mask = uint8_t(1u << p);
    int already = nonzeroCount;
    for (int i = 0; i < already && going; ++i) {
      int j = nonzero[i];
      uint32_t bit = (magnitude[j] >> p) & 1;
      PutBit(w, bit);
      if (!bit) continue;
      value[j] = uint8_t(value[j] & 0x80 ? value[j] - mask : value[j] + mask);
      going = ++done <= limit;
    }
    if (!going) break;
    auto newValue = [&](int j, int) {
      nonzero[nonzeroCount++] = uint8_t(j);
      bool negative = residue[kScan[j]] < 0;
      PutBit(w, negative);
      value[j] = uint8_t(negative ? -int(mask) : int(mask));
      return going = ++done <= limit;
    };
    WalkList(w, list, top, coded, p, newValue);
  }
  if (decoded) {
    for (int j = 0; j < 64; ++j) decoded[kScan[j]] = int8_t(value[j]);
  }
  return true;
}

}  // namespace kivo::encode
