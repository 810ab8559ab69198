// SPDX-License-Identifier: BSD-2-Clause
// Plane and frame writer: gathers every block row's bundle values and own
// bits, plans the refills (whole rows, within count field and buffer), picks
// the code trees from the statistics, and writes trees, refills and rows in
// the order the decoder reads them. Also the reference drawing of a plane.
#include "encode/video_writer.h"

#include "encode/encode_error.h"

#include <algorithm>
#include <cstring>

#include "encode/video_blocks.h"

namespace kivo::encode {
namespace {

// Code trees in the order their headers are written: block types, doubled
// types, sixteen colour high-nibble contexts, colour low nibble, pattern
// bytes, motion x, motion y, run lengths.
enum : int {
  kTreeBlockTypes = 0,
  kTreeDoubledTypes = 1,
  kTreeColourHigh = 2,
  kTreeColourLow = 18,
  kTreePatternBytes = 19,
  kTreeMotionX = 20,
  kTreeMotionY = 21,
  kTreeRunLengths = 22,
  kTreeTotal = 23,
};

uint32_t BitLength(uint32_t v) {
  uint32_t n = 0;
  while (v) {
    ++n;
    v >>= 1;
  }
  return n;
}

const uint32_t kCountMultiplier[kBundleTotal] = {1, 1, 64, 8, 1, 1, 1, 1, 48};

uint32_t CountBits(uint32_t bundle, uint32_t width) {
  uint32_t most = bundle == kDoubledTypesBundle ? 511 + (width / 2) / 8
                                                : 511 + kCountMultiplier[bundle] * (width / 8);
  return std::min<uint32_t>(BitLength(most), 15);
}

// Values one refill may carry: what the count field holds and what the
// decoder's scratch buffer holds (sized from the luma pitch, which is at least
// this plane's width rounded up to 16), less a word for whole-word stores.
uint32_t RefillCapacity(uint32_t bundle, uint32_t width) {
  uint32_t pitch = (width + 15) & ~15u;
  uint32_t n = pitch / 8;
  uint32_t bytes = 0;
  switch (bundle) {
    case kBlockTypesBundle:
    case kMotionXBundle:
    case kMotionYBundle: bytes = (n + 515) & ~3u; break;
    case kDoubledTypesBundle: bytes = (pitch / 16 + 515) & ~3u; break;
    case kColoursBundle: bytes = 64 * n + 512; break;
    case kPatternBytesBundle: bytes = 8 * n + 512; break;
    case kDcIntraBundle:
    case kDcInterBundle: bytes = (2 * n + 1027) & ~3u; break;
    default: bytes = 48 * n + 512; break;
  }
  uint32_t values = bundle == kDcIntraBundle || bundle == kDcInterBundle ? (bytes - 4) / 2 : bytes - 4;
  return std::min(values, (1u << CountBits(bundle, width)) - 1);
}

bool HasFillMode(uint32_t bundle) {
  return bundle != kPatternBytesBundle && bundle != kDcIntraBundle && bundle != kDcInterBundle;
}

struct Refill {
  uint32_t bundle;
  uint32_t first, count;  // values [first, first + count) of the plane's sequence
  bool fill;
};

// Writes refills, or only counts the symbols they would use (writer null).
struct Coder {
  BitWriter* writer = nullptr;
  uint32_t counts[kTreeTotal][16] = {};
  TreeChoice trees[kTreeTotal];
  uint32_t context = 0;  // high nibble of the last colour

  void Bits(uint32_t value, uint32_t n) {
    if (writer) PutBits(*writer, value, n);
  }
  void Symbol(int tree, uint32_t symbol) {
    if (writer) WriteSymbol(*writer, trees[tree], symbol);
    else ++counts[tree][symbol & 15];
  }
  void Colour(uint32_t v) {
    uint32_t hi = (v >> 4) & 15;
    Symbol(kTreeColourHigh + int(context), hi);
    context = hi;
    Symbol(kTreeColourLow, v & 15);
  }
  void Signed(int tree, int32_t v) {
    uint32_t magnitude = uint32_t(v < 0 ? -v : v);
    Symbol(tree, magnitude);
    if (magnitude) Bits(v < 0, 1);
  }
};

bool WriteRefill(Coder& coder, const Refill& refill, const int32_t* v, uint32_t countBits,
                 bool runCodes, std::string* error) {
  uint32_t n = refill.count;
  coder.Bits(n, countBits);
  if (n == 0) return true;
  switch (refill.bundle) {
    case kBlockTypesBundle:
    case kDoubledTypesBundle: {
      int tree = int(refill.bundle);  // the first two trees are these bundles'
      coder.Bits(refill.fill, 1);
      if (refill.fill) {
        coder.Bits(uint32_t(v[0]), 4);
        return true;
      }
      int32_t last = 0;
      for (uint32_t i = 0; i < n;) {
        if (runCodes && v[i] == last) {
          uint32_t length = 1;
          while (i + length < n && v[i + length] == last) ++length;
          if (length >= 4) {
            uint32_t run = length >= 32 ? 32 : length >= 12 ? 12 : length >= 8 ? 8 : 4;
            coder.Symbol(tree, run == 32 ? 15 : run == 12 ? 14 : run == 8 ? 13 : 12);
            i += run;
            continue;
          }
        }
        if (v[i] >= 12) return Fail(error, "block types 12 to 15 need a fill refill");
        coder.Symbol(tree, uint32_t(v[i]));
        last = v[i];
        ++i;
      }
      return true;
    }
    case kColoursBundle:
      coder.Bits(refill.fill, 1);
      if (refill.fill) {
        coder.Colour(uint32_t(v[0]));
      } else {
        for (uint32_t i = 0; i < n; ++i) coder.Colour(uint32_t(v[i]));
      }
      return true;
    case kPatternBytesBundle:
      for (uint32_t i = 0; i < n; ++i) {
        coder.Symbol(kTreePatternBytes, uint32_t(v[i]) & 15);
        coder.Symbol(kTreePatternBytes, (uint32_t(v[i]) >> 4) & 15);
      }
      return true;
    case kMotionXBundle:
    case kMotionYBundle: {
      int tree = refill.bundle == kMotionXBundle ? kTreeMotionX : kTreeMotionY;
      coder.Bits(refill.fill, 1);
      if (refill.fill) {
        uint32_t magnitude = uint32_t(v[0] < 0 ? -v[0] : v[0]);
        coder.Bits(magnitude, 4);
        if (magnitude) coder.Bits(v[0] < 0, 1);
      } else {
        for (uint32_t i = 0; i < n; ++i) coder.Signed(tree, v[i]);
      }
      return true;
    }
    case kDcIntraBundle:
    case kDcInterBundle: {
      if (refill.bundle == kDcIntraBundle) {
        if (v[0] < 0 || v[0] > 2047)
          return Fail(error, "first intra DC of a refill outside 0..2047");
        coder.Bits(uint32_t(v[0]), 11);
      } else {
        if (v[0] < -1023 || v[0] > 1023)
          return Fail(error, "first inter DC of a refill outside -1023..1023");
        coder.Bits(uint32_t(v[0] < 0 ? -v[0] : v[0]), 10);
        if (v[0]) coder.Bits(v[0] < 0, 1);
      }
      // The rest in groups of up to eight differences, each group with the
      // width of its largest difference; values wrap at 16 bits.
      for (uint32_t g = 1; g < n; g += 8) {
        uint32_t end = std::min(n, g + 8);
        int32_t delta[8];
        uint32_t width = 0;
        for (uint32_t i = g; i < end; ++i) {
          int32_t d = int16_t(uint16_t(uint32_t(v[i]) - uint32_t(v[i - 1])));
          if (d == -32768) return Fail(error, "DC difference of 32768 cannot be coded");
          delta[i - g] = d;
          width = std::max(width, BitLength(uint32_t(d < 0 ? -d : d)));
        }
        coder.Bits(width, 4);
        if (width == 0) continue;
        for (uint32_t i = 0; i < end - g; ++i) {
          uint32_t magnitude = uint32_t(delta[i] < 0 ? -delta[i] : delta[i]);
          coder.Bits(magnitude, width);
          if (magnitude) coder.Bits(delta[i] < 0, 1);
        }
      }
      return true;
    }
    default:
      coder.Bits(refill.fill, 1);
      if (refill.fill) {
        coder.Bits(uint32_t(v[0]), 4);
      } else {
        for (uint32_t i = 0; i < n; ++i) coder.Symbol(kTreeRunLengths, uint32_t(v[i]));
      }
      return true;
  }
}

void CopyBlock(const uint8_t* src, uint32_t srcPitch, uint8_t* dst, uint32_t dstPitch) {
  for (int r = 0; r < 8; ++r) std::memcpy(dst + r * dstPitch, src + r * srcPitch, 8);
}

}  // namespace

uint32_t LumaAreaWidth(uint32_t width) { return (width + 7) & ~7u; }
uint32_t LumaAreaHeight(uint32_t height) { return (height + 7) & ~7u; }
uint32_t ChromaAreaWidth(uint32_t width) { return (((width + 1) >> 1) + 7) & ~7u; }
uint32_t ChromaAreaHeight(uint32_t height) { return (((height + 1) >> 1) + 7) & ~7u; }

void InitPlane(PlaneSpec& plane, uint32_t width, uint32_t height) {
  plane.width = width;
  plane.height = height;
  plane.blocks.assign(size_t(width / 8) * (height / 8), BlockSpec{});
}

BlockSpec& BlockAt(PlaneSpec& plane, uint32_t column, uint32_t row) {
  return plane.blocks[size_t(row) * (plane.width / 8) + column];
}

void SetDoubled(PlaneSpec& plane, uint32_t column, uint32_t row, const BlockSpec& inner) {
  BlockSpec& top = BlockAt(plane, column, row);
  top = inner;
  top.type = kDoubled;
  if (row + 1 < plane.height / 8) {
    BlockSpec marker;
    marker.type = kDoubled;
    BlockAt(plane, column, row + 1) = marker;
  }
}

bool WritePlane(BitWriter& writer, const PlaneSpec& plane, bool oldColours, std::string* error) {
  const uint32_t columns = plane.width / 8, rows = plane.height / 8;
  if (plane.width == 0 || plane.height == 0 || plane.width % 8 || plane.height % 8)
    return Fail(error, "plane area must be a positive multiple of 8");
  if (plane.blocks.size() != size_t(columns) * rows)
    return Fail(error, "plane needs one block per 8x8 position");
  const PlaneCoding& coding = plane.coding;

  // Every row's bundle values (concatenated per bundle) and own bits.
  std::vector<int32_t> sequence[kBundleTotal];
  std::vector<uint32_t> rowStart[kBundleTotal];
  std::vector<BitWriter> rowBits(rows);
  for (uint32_t r = 0; r < rows; ++r) {
    RowValues values;
    for (uint32_t c = 0; c < columns;) {
      const BlockSpec& block = plane.blocks[size_t(r) * columns + c];
      if (!EmitBlock(block, (r & 1) == 0, oldColours, values, rowBits[r], error)) return false;
      c += block.type == kDoubled ? 2 : 1;
    }
    for (int b = 0; b < kBundleTotal; ++b) {
      rowStart[b].push_back(uint32_t(sequence[b].size()));
      sequence[b].insert(sequence[b].end(), values.values[b].begin(), values.values[b].end());
    }
  }
  for (int b = 0; b < kBundleTotal; ++b) rowStart[b].push_back(uint32_t(sequence[b].size()));
  auto rowSize = [&](int b, uint32_t r) { return rowStart[b][r + 1] - rowStart[b][r]; };

  // Refill plan: simulate the decoder's exhausted / finished states.
  std::vector<std::vector<Refill>> refills(rows);
  uint32_t available[kBundleTotal] = {};
  bool finished[kBundleTotal] = {};
  const uint32_t rowsPerRefill = std::max<uint32_t>(coding.refillRows, 1);
  for (uint32_t r = 0; r < rows; ++r) {
    for (int b = 0; b < kBundleTotal; ++b) {
      if (finished[b] || available[b] > 0) continue;
      uint32_t first = r;
      while (first < rows && rowSize(b, first) == 0) ++first;
      if (first == rows) {
        refills[r].push_back({uint32_t(b), 0, 0, false});
        finished[b] = true;
        continue;
      }
      const uint32_t capacity = RefillCapacity(uint32_t(b), plane.width);
      uint32_t total = rowSize(b, first);
      if (total > capacity)
        return Fail(error, "a block row takes more values of bundle " + std::to_string(b) +
                               " than one refill holds");
      const int32_t* v = sequence[b].data() + rowStart[b][r];
      // Block types 12 to 15 can only be sent by a fill, so a refill holding
      // them stays uniform.
      auto sendable = [&](uint32_t n) {
        if (b != kBlockTypesBundle && b != kDoubledTypesBundle) return true;
        bool high = std::any_of(v, v + n, [](int32_t x) { return x >= 12; });
        return !high || (coding.allowFill[b] && std::all_of(v, v + n, [&](int32_t x) { return x == v[0]; }));
      };
      for (uint32_t x = first + 1; x < rows && x - first < rowsPerRefill; ++x) {
        if (total + rowSize(b, x) > capacity || !sendable(total + rowSize(b, x))) break;
        total += rowSize(b, x);
      }
      bool same = std::all_of(v, v + total, [&](int32_t x) { return x == v[0]; });
      bool fill = same && HasFillMode(uint32_t(b)) && coding.allowFill[b];
      refills[r].push_back({uint32_t(b), rowStart[b][r], total, fill});
      available[b] = total;
    }
    for (int b = 0; b < kBundleTotal; ++b) available[b] -= std::min(available[b], rowSize(b, r));
  }

  // Count the symbols, choose trees, then write for real.
  uint32_t countBits[kBundleTotal];
  for (int b = 0; b < kBundleTotal; ++b) countBits[b] = CountBits(uint32_t(b), plane.width);
  Coder coder;
  for (uint32_t r = 0; r < rows; ++r)
    for (const Refill& refill : refills[r])
      if (!WriteRefill(coder, refill, sequence[refill.bundle].data() + refill.first,
                       countBits[refill.bundle], coding.blockTypeRuns, error))
        return false;
  if (coding.autoTrees) {
    for (int t = 0; t < kTreeTotal; ++t) coder.trees[t] = ChooseTree(coder.counts[t]);
  } else {
    coder.trees[kTreeBlockTypes] = coding.blockTypes;
    coder.trees[kTreeDoubledTypes] = coding.doubledTypes;
    for (int i = 0; i < 16; ++i) coder.trees[kTreeColourHigh + i] = coding.colourHigh[i];
    coder.trees[kTreeColourLow] = coding.colourLow;
    coder.trees[kTreePatternBytes] = coding.patternBytes;
    coder.trees[kTreeMotionX] = coding.motionX;
    coder.trees[kTreeMotionY] = coding.motionY;
    coder.trees[kTreeRunLengths] = coding.runLengths;
    for (int t = 0; t < kTreeTotal; ++t)
      if (!CanWriteTreeHeader(coder.trees[t]))
        return Fail(error, "tree header " + std::to_string(t) + " cannot be written");
  }

  FlushWord(writer);
  for (int t = 0; t < kTreeTotal; ++t) WriteTreeHeader(writer, coder.trees[t]);
  coder.writer = &writer;
  coder.context = 0;
  for (uint32_t r = 0; r < rows; ++r) {
    for (const Refill& refill : refills[r])
      WriteRefill(coder, refill, sequence[refill.bundle].data() + refill.first,
                  countBits[refill.bundle], coding.blockTypeRuns, nullptr);
    AppendBits(writer, rowBits[r]);
  }
  FlushWord(writer);
  return true;
}

void DrawPlane(const PlaneSpec& plane, const uint8_t* ref, uint8_t* dst, uint32_t pitch) {
  const uint32_t columns = plane.width / 8, rows = plane.height / 8;
  if (plane.blocks.size() != size_t(columns) * rows) return;
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < columns;) {
      const BlockSpec& b = plane.blocks[size_t(r) * columns + c];
      const int x = int(c * 8), y = int(r * 8);
      uint8_t* d = dst + size_t(y) * pitch + size_t(x);
      c += b.type == kDoubled ? 2 : 1;
      // The 8x8 source of a motion block, read whole before anything is written.
      uint8_t prediction[64];
      bool motion = b.type == kUnchanged || b.type == kMoved || b.type == kMovedResidue ||
                    b.type == kInter;
      if (motion) {
        int sx = x, sy = y;
        if (b.type != kUnchanged) sx += b.dx, sy += b.dy;
        if (sx < 0 || sy < 0 || sx + 8 > int(plane.width) || sy + 8 > int(plane.height)) continue;
        CopyBlock(ref + size_t(sy) * pitch + size_t(sx), pitch, prediction, 8);
      }
      uint8_t picture[64];
      switch (b.type) {
        case kUnchanged:
        case kMoved:
          CopyBlock(prediction, 8, d, pitch);
          break;
        case kDoubled:
          if ((r & 1) || c > columns || r + 1 >= rows) break;
          // Only these sub-types draw; the rest leave the area as it was.
          if (b.doubledType != kRuns && b.doubledType != kIntra && b.doubledType != kFill &&
              b.doubledType != kTwoColour && b.doubledType != kRaw)
            break;
          if (!BlockPicture(b, b.doubledType, nullptr, picture)) break;
          for (int i = 0; i < 16; ++i)
            for (int j = 0; j < 16; ++j) d[size_t(i) * pitch + size_t(j)] = picture[(i / 2) * 8 + j / 2];
          break;
        default:
          if (BlockPicture(b, b.type, prediction, picture)) CopyBlock(picture, 8, d, pitch);
          break;
      }
    }
  }
}

bool LayOutVideoFrame(const FrameSpec& frame, FrameLayout& layout, std::string* error) {
  if (frame.revision < 'f' || frame.revision > 'i') return Fail(error, "revision must be 'f' to 'i'");
  if (!frame.luma) return Fail(error, "a frame needs its luma plane");
  if (!frame.chroma[0] != !frame.chroma[1]) return Fail(error, "give both chroma planes or none");
  layout = FrameLayout{};
  layout.oldColours = frame.revision < 'i';
  auto add = [&](const PlaneSpec* plane, bool sized) {
    layout.planes[layout.count] = plane;
    layout.sized[layout.count++] = sized;
  };
  if (frame.alpha) add(frame.alpha, true);
  add(frame.luma, frame.revision == 'i');
  for (const PlaneSpec* chroma : frame.chroma)
    if (chroma) add(chroma, false);
  return true;
}

void AssembleVideoFrame(const FrameLayout& layout, const BitWriter* const written[], std::vector<uint8_t>& out) {
  auto put = [&](uint32_t word) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(word >> (8 * i)));
  };
  for (uint32_t i = 0; i < layout.count; ++i) {
    const BitWriter& plane = *written[i];
    // A size word counts from its own first byte to the end of its plane.
    if (layout.sized[i]) put(uint32_t((plane.words.size() + 1) * 4));
    for (uint32_t word : plane.words) put(word);
  }
}

bool WriteVideoFrame(const FrameSpec& frame, std::vector<uint8_t>& out, std::string* error) {
  FrameLayout layout;
  if (!LayOutVideoFrame(frame, layout, error)) return false;
  BitWriter planes[4];
  const BitWriter* written[4];
  for (uint32_t i = 0; i < layout.count; ++i) {
    if (!WritePlane(planes[i], *layout.planes[i], layout.oldColours, error)) return false;
    written[i] = &planes[i];
  }
  AssembleVideoFrame(layout, written, out);
  return true;
}

}  // namespace kivo::encode
