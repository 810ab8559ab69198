// SPDX-License-Identifier: BSD-2-Clause
// Test harness for writer round trips: a picture with the decoder's buffers
// (frame, alpha, cells, bundles) and the reference drawing of the writer
// applied to copies of the same buffers, so both can be compared whole.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "encode/video_writer.h"
#include "video/plane_set.h"
#include "video/video_decoder.h"

namespace kivo::encode::testing {

struct Picture {
  uint32_t width = 0, height = 0;
  uint32_t pitch = 0, rows = 0, chromaPitch = 0, chromaRows = 0;
  bool shared = false;
  std::vector<uint8_t> frames[2], alpha[2], cells;
  std::vector<uint8_t> bundles[kBundleCount];
  uint8_t* bundlePointers[kBundleCount] = {};
  PlaneSet set = {};

  Picture(uint32_t w, uint32_t h, bool withAlpha, bool sharedBuffer, uint32_t seed = 1)
      : width(w), height(h), shared(sharedBuffer) {
    chromaPitch = (((w + 1) >> 1) + 7) & ~7u;
    chromaRows = (((h + 1) >> 1) + 7) & ~7u;
    pitch = 2 * chromaPitch;
    rows = 2 * chromaRows;
    std::mt19937 random(seed);
    for (int i = 0; i < (shared ? 1 : 2); ++i) {
      frames[i].resize(size_t(pitch) * rows + 2 * size_t(chromaPitch) * chromaRows);
      for (auto& b : frames[i]) b = uint8_t(random());
      if (withAlpha) {
        alpha[i].resize(size_t(pitch) * rows);
        for (auto& b : alpha[i]) b = uint8_t(random());
      }
    }
    for (int i = 0; i < 2; ++i) {
      int k = shared ? 0 : i;
      set.frameBuffers[i] = frames[k].data();
      set.alphaBuffers[i] = withAlpha ? alpha[k].data() : nullptr;
    }
    set.pitch = pitch;
    set.rows = rows;
    set.chromaPitch = chromaPitch;
    set.chromaRows = chromaRows;
    cells.assign((pitch / 16) * (rows / 16) + 16, 0);
    set.changedCells = cells.data();
    uint32_t sizes[kBundleCount];
    ComputeBundleSizes(pitch, sizes);
    for (int i = 0; i < kBundleCount; ++i) {
      bundles[i].assign(sizes[i], 0);
      bundlePointers[i] = bundles[i].data();
    }
  }

  uint8_t* Written() { return set.frameBuffers[set.current ^ 1]; }
  uint8_t* Reference() { return set.frameBuffers[set.current]; }
  size_t FrameBytes() const { return frames[0].size(); }

  // Decodes one frame and flips; returns the decoder's clean/not-clean result.
  int32_t Decode(const std::vector<uint8_t>& data, uint32_t openFlags, uint32_t videoFlags) {
    int32_t result = DecodeVideoFrame(&set, bundlePointers, data.data(), uint32_t(data.size()),
                                      width, height, 0, openFlags, videoFlags);
    set.current ^= 1;
    return result;
  }
};

// What the frame of `spec` should leave in the written buffers, from copies
// taken before decoding: luma/chroma buffer and alpha buffer.
struct Expected {
  std::vector<uint8_t> frame, alpha;
};

inline Expected Predict(Picture& p, const FrameSpec& spec, bool decodeAlpha, bool grey) {
  Expected e;
  uint8_t* written = p.Written();
  const uint8_t* reference = p.Reference();
  e.frame.assign(written, written + p.FrameBytes());
  // With a shared buffer the reference is the buffer being drawn.
  std::vector<uint8_t> ref(reference, reference + p.FrameBytes());
  const uint8_t* r = p.shared ? e.frame.data() : ref.data();
  DrawPlane(*spec.luma, r, e.frame.data(), p.pitch);
  if (!grey && spec.chroma[0]) {
    size_t first = size_t(p.pitch) * p.rows;
    size_t second = first + size_t(p.chromaPitch) * p.chromaRows;
    DrawPlane(*spec.chroma[0], r + first, e.frame.data() + first, p.chromaPitch);
    DrawPlane(*spec.chroma[1], r + second, e.frame.data() + second, p.chromaPitch);
  }
  if (p.set.alphaBuffers[0]) {
    uint8_t* a = p.set.alphaBuffers[p.set.current ^ 1];
    e.alpha.assign(a, a + size_t(p.pitch) * p.rows);
    std::vector<uint8_t> aref(p.set.alphaBuffers[p.set.current],
                              p.set.alphaBuffers[p.set.current] + e.alpha.size());
    if (decodeAlpha && spec.alpha)
      DrawPlane(*spec.alpha, p.shared ? e.alpha.data() : aref.data(), e.alpha.data(), p.pitch);
  }
  return e;
}

// Index of the first differing byte, or -1.
inline long FirstDifference(const uint8_t* a, const std::vector<uint8_t>& b) {
  for (size_t i = 0; i < b.size(); ++i)
    if (a[i] != b[i]) return long(i);
  return -1;
}

}  // namespace kivo::encode::testing
