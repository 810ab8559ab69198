// SPDX-License-Identifier: BSD-2-Clause
// Fuzz target: arbitrary bytes as one frame's video data, for assorted
// picture sizes, revisions and flags, decoded twice so the second frame reads
// the first as its reference. The first two bytes choose the set-up.
//
// Built with -DKIVO_VIDEO_SEEDS instead of libFuzzer, the same file is a
// program that writes the seed corpus with the stream writer:
//   clang++ -std=c++20 -DKIVO_VIDEO_SEEDS -Isrc fuzz/video_frame_fuzz.cc \
//     build/<dir>/libkivo_encode.a build/<dir>/libkivo.a -o seeds && ./seeds fuzz/corpus/video_frame_fuzz
#include <cstdint>
#include <cstring>
#include <vector>

#include "video/video_decoder.h"

namespace {

struct Size {
  uint32_t width, height;
};
constexpr Size kSizes[] = {{8, 8}, {16, 16}, {33, 17}, {64, 48}, {641, 9}, {1, 1}, {160, 120}, {17, 50}};

enum : uint8_t {
  kSetupBeforeI = 1,
  kSetupBeforeH = 2,
  kSetupStreamAlpha = 4,
  kSetupDecodeAlpha = 8,
  kSetupGrey = 16,
  kSetupShared = 32,
  kSetupNoFastPath = 64,
};

struct Pictures {
  kivo::PlaneSet planes{};
  std::vector<uint8_t> frames[2], alpha[2], cells, bundles[kivo::kBundleCount];
  uint8_t* bundlePointers[kivo::kBundleCount];

  Pictures(Size s, bool shared) {
    planes.chromaPitch = (((s.width + 1) >> 1) + 7) & ~7u;
    planes.chromaRows = (((s.height + 1) >> 1) + 7) & ~7u;
    planes.pitch = 2 * planes.chromaPitch;
    planes.rows = 2 * planes.chromaRows;
    size_t luma = size_t(planes.pitch) * planes.rows;
    for (int i = 0; i < (shared ? 1 : 2); ++i) {
      frames[i].resize(luma + 2 * size_t(planes.chromaPitch) * planes.chromaRows);
      alpha[i].resize(luma);
    }
    for (int i = 0; i < 2; ++i) {
      planes.frameBuffers[i] = frames[shared ? 0 : i].data();
      planes.alphaBuffers[i] = alpha[shared ? 0 : i].data();
    }
    cells.resize(size_t(planes.pitch / 16) * (planes.rows / 16) + 16);
    planes.changedCells = cells.data();
    uint32_t sizes[kivo::kBundleCount];
    kivo::ComputeBundleSizes(planes.pitch, sizes);
    for (int i = 0; i < kivo::kBundleCount; ++i) {
      bundles[i].resize(sizes[i]);
      bundlePointers[i] = bundles[i].data();
    }
    kivo::ClearPictureBuffers(&planes);
  }
};

}  // namespace

#ifndef KIVO_VIDEO_SEEDS

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  Size s = kSizes[data[0] % (sizeof kSizes / sizeof kSizes[0])];
  uint8_t setup = data[1];
  Pictures p(s, setup & kSetupShared);
  uint32_t openFlags = (setup & kSetupBeforeI ? kivo::kBeforeRevisionI : 0) |
                       (setup & kSetupBeforeH ? 0x10000u : 0) |
                       (setup & kSetupDecodeAlpha ? kivo::kDecodeAlpha : 0) |
                       (setup & kSetupGrey ? kivo::kDecodeGrey : 0) |
                       (setup & kSetupNoFastPath ? kivo::kNoProcessorExtensions : 0);
  uint32_t videoFlags = setup & kSetupStreamAlpha ? kivo::kVideoFlagAlpha : 0;
  // An exact copy, so that a read past the video data is seen.
  std::vector<uint8_t> video(data + 2, data + size);
  for (int frame = 0; frame < 2; ++frame) {
    kivo::DecodeVideoFrame(&p.planes, p.bundlePointers, video.data(), uint32_t(video.size()),
                           s.width, s.height, frame == 0, openFlags, videoFlags);
    p.planes.current ^= 1;
  }
  return 0;
}

#else  // the seed writer

#include <cstdio>
#include <random>
#include <string>

#include "encode/video_writer.h"

namespace enc = kivo::encode;

static enc::PlaneSpec SeedPlane(std::mt19937& rng, uint32_t width, uint32_t height, bool old) {
  enc::PlaneSpec plane;
  enc::InitPlane(plane, width, height);
  const uint32_t columns = width / 8, rows = height / 8;
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < columns; ++c) {
      enc::BlockSpec& b = enc::BlockAt(plane, c, r);
      if (b.type == enc::kDoubled) {
        ++c;
        continue;
      }
      static const uint8_t kTypes[] = {0, 2, 3, 4, 5, 6, 7, 8, 9, 1, 10};
      b = enc::BlockSpec{};
      b.type = kTypes[rng() % sizeof kTypes];
      for (uint8_t& px : b.pixels) px = uint8_t(old ? 1 + rng() % 255 : rng() % 4 * 60);
      for (uint8_t& m : b.mask) m = uint8_t(rng());
      b.pattern = uint8_t(rng() % 16);
      b.quantiser = uint8_t(rng() % 16);
      b.coefficients[0] = int16_t(rng() % 1024);
      b.coefficients[1 + rng() % 63] = int16_t(int(rng() % 200) - 100);
      b.residue[rng() % 64] = int8_t(int(rng() % 31) - 15);
      if (b.type == enc::kDoubled) {
        if ((r & 1) || c + 1 >= columns || r + 1 >= rows) {
          b.type = enc::kFill;
        } else {
          b.doubledType = uint8_t(rng() % 2 ? enc::kFill : enc::kTwoColour);
          enc::BlockSpec inner = b;
          enc::SetDoubled(plane, c, r, inner);
          ++c;
        }
      }
    }
  }
  return plane;
}

int main(int argc, char** argv) {
  if (argc < 2) return 1;
  std::mt19937 rng(5);
  int written = 0;
  for (uint8_t sizeIndex = 0; sizeIndex < 8; ++sizeIndex) {
    Size s = kSizes[sizeIndex];
    if (s.width * s.height > 64 * 64) continue;  // small seeds
    for (uint8_t setup : {uint8_t(0), uint8_t(kSetupBeforeI | kSetupBeforeH),
                          uint8_t(kSetupBeforeI), uint8_t(kSetupStreamAlpha | kSetupDecodeAlpha),
                          uint8_t(kSetupStreamAlpha), uint8_t(kSetupGrey | kSetupShared)}) {
      bool old = setup & kSetupBeforeI;
      uint32_t lw = enc::LumaAreaWidth(s.width), lh = enc::LumaAreaHeight(s.height);
      uint32_t cw = enc::ChromaAreaWidth(s.width), ch = enc::ChromaAreaHeight(s.height);
      enc::PlaneSpec luma = SeedPlane(rng, lw, lh, old), alpha = SeedPlane(rng, lw, lh, old);
      enc::PlaneSpec c0 = SeedPlane(rng, cw, ch, old), c1 = SeedPlane(rng, cw, ch, old);
      enc::FrameSpec frame;
      frame.revision = setup & kSetupBeforeH ? 'g' : old ? 'h' : 'i';
      frame.luma = &luma;
      if (setup & kSetupStreamAlpha) frame.alpha = &alpha;
      if (!(setup & kSetupGrey)) frame.chroma[0] = &c0, frame.chroma[1] = &c1;
      std::vector<uint8_t> bytes = {sizeIndex, setup};
      std::string error;
      if (!enc::WriteVideoFrame(frame, bytes, &error)) {
        fprintf(stderr, "%s\n", error.c_str());
        return 1;
      }
      std::string path = std::string(argv[1]) + "/seed_" + std::to_string(written++);
      FILE* f = fopen(path.c_str(), "wb");
      if (!f) return 1;
      fwrite(bytes.data(), 1, bytes.size(), f);
      fclose(f);
    }
  }
  printf("%d seeds\n", written);
  return 0;
}

#endif
