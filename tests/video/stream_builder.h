// SPDX-License-Identifier: BSD-2-Clause
// Hand-built video streams for the decoder tests: an LSB-first bit writer
// padded to whole words, plane refills written with identity trees, and a
// harness that owns a plane, its reference, a changed-cell map and bundle
// buffers.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "video/bundles.h"
#include "video/plane_decoder.h"
#include "video/video_decoder.h"

namespace kivo::test {

struct BitWriter {
  std::vector<uint32_t> words;
  uint32_t bits = 0;  // total bits written

  void Put(uint32_t value, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
      if (bits % 32 == 0) words.push_back(0);
      words.back() |= ((value >> i) & 1u) << (bits % 32);
      ++bits;
    }
  }
  void Bit(uint32_t b) { Put(b, 1); }
  // A code given as its bits in reading order, e.g. "110".
  void Code(const char* code) {
    for (; *code; ++code) Bit(uint32_t(*code - '0'));
  }
  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> out(words.size() * 4);
    if (!out.empty()) memcpy(out.data(), words.data(), out.size());
    return out;
  }
};

// Count widths as a plane `width` samples wide uses them.
inline uint32_t TestCountBits(int id, uint32_t width) {
  static const uint32_t kMultiplier[kBundleCount] = {1, 0, 64, 8, 1, 1, 1, 1, 48};
  uint32_t v = id == kDoubledTypes ? 511 + width / 16 : 511 + kMultiplier[id] * (width / 8);
  uint32_t n = 0;
  while (v) {
    ++n;
    v >>= 1;
  }
  return n > 15 ? 15 : n;
}

// 23 tree headers (seven bundles and sixteen colour high-nibble trees) choosing tree 0: every symbol is its plain 4-bit value.
inline void IdentityTrees(BitWriter& w) {
  for (int i = 0; i < 23; ++i) w.Put(0, 4);
}

// One refill in its non-fill form, written for identity trees; an empty
// list writes count 0 and finishes the bundle. Motion values are signed;
// DC values are written as deltas with 15-bit groups.
inline void Refill(BitWriter& w, int id, uint32_t width, const std::vector<int>& values) {
  w.Put(uint32_t(values.size()), TestCountBits(id, width));
  if (values.empty()) return;
  switch (id) {
    case kBlockTypes:
    case kDoubledTypes:
    case kRunLengths:
      w.Bit(0);
      for (int v : values) w.Put(uint32_t(v), 4);
      break;
    case kColours:
      w.Bit(0);
      for (int v : values) {
        w.Put(uint32_t(v) >> 4, 4);
        w.Put(uint32_t(v) & 15, 4);
      }
      break;
    case kPatternBytes:
      for (int v : values) {
        w.Put(uint32_t(v) & 15, 4);
        w.Put(uint32_t(v) >> 4, 4);
      }
      break;
    case kMotionX:
    case kMotionY:
      w.Bit(0);
      for (int v : values) {
        w.Put(uint32_t(v < 0 ? -v : v), 4);
        if (v) w.Bit(v < 0);
      }
      break;
    case kDcIntra:
    case kDcInter: {
      int first = values[0];
      if (id == kDcIntra) {
        w.Put(uint32_t(first), 11);
      } else {
        w.Put(uint32_t(first < 0 ? -first : first), 10);
        if (first) w.Bit(first < 0);
      }
      int last = first;
      for (size_t i = 1; i < values.size(); ++i) {
        if ((i - 1) % 8 == 0) w.Put(15, 4);
        int d = values[i] - last;
        w.Put(uint32_t(d < 0 ? -d : d), 15);
        if (d) w.Bit(d < 0);
        last = values[i];
      }
      break;
    }
  }
}

using Refills = std::array<std::vector<int>, kBundleCount>;

// The refills of a plane's first block row, every bundle in order.
inline void FirstRowRefills(BitWriter& w, uint32_t width, const Refills& r) {
  for (int id = 0; id < kBundleCount; ++id) Refill(w, id, width, r[id]);
}

// A plane of its own with a reference plane, map and bundle buffers.
struct PlaneHarness {
  uint32_t width, height, pitch, planeRows, lumaPitch, cellStep;
  std::vector<uint8_t> dst, ref, cells;
  std::array<std::vector<uint8_t>, kBundleCount> buffers;
  uint32_t sizes[kBundleCount];
  uint8_t* bufferPointers[kBundleCount];
  uint32_t openFlags = 0;
  uint32_t features = 0;  // processor extensions the plane may use

  PlaneHarness(uint32_t w, uint32_t h, uint32_t linePitch = 0, uint32_t rows = 0,
               uint32_t step = 1)
      : width(w), height(h), pitch(linePitch ? linePitch : w), planeRows(rows ? rows : h),
        lumaPitch(step == 2 ? 2 * (linePitch ? linePitch : w) : (linePitch ? linePitch : w)),
        cellStep(step) {
    dst.assign(size_t(pitch) * planeRows, 0xEE);
    ref.assign(size_t(pitch) * planeRows, 0);
    for (size_t i = 0; i < ref.size(); ++i) ref[i] = uint8_t(i * 7 + i / pitch * 3);
    cells.assign(size_t(lumaPitch / 16) * (planeRows * (step == 2 ? 2 : 1) / 16) + 16, 0);
    ComputeBundleSizes(lumaPitch, sizes);
    for (int i = 0; i < kBundleCount; ++i) {
      buffers[i].assign(sizes[i], 0);
      bufferPointers[i] = buffers[i].data();
    }
  }

  PlaneOutcome Decode(const std::vector<uint8_t>& bytes, bool sharedBuffer = false) {
    PlaneJob job{};
    job.dst = sharedBuffer ? ref.data() : dst.data();
    job.ref = ref.data();
    job.areaWidth = width;
    job.areaHeight = height;
    job.linePitch = pitch;
    job.planeRows = planeRows;
    job.data = bytes.data();
    job.size = uint32_t(bytes.size());
    job.changedCells = cells.data();
    job.cellsAcross = lumaPitch / 16;
    job.cellRows = planeRows * (cellStep == 2 ? 2 : 1) / 16;
    job.cellStep = cellStep;
    job.bundleBuffers = bufferPointers;
    job.bundleSizes = sizes;
    job.openFlags = openFlags;
    job.features = features;
    return DecodePlane(job);
  }

  uint8_t At(uint32_t x, uint32_t y) const { return dst[size_t(y) * pitch + x]; }
  uint8_t RefAt(uint32_t x, uint32_t y) const { return ref[size_t(y) * pitch + x]; }
};

}  // namespace kivo::test
