// SPDX-License-Identifier: BSD-2-Clause
// Video decoding speed: frames per second at 640x480 and 1280x720 for
// typical content (fills, two-colour, runs, motion and DCT blocks) and for
// the worst case (every block a DCT block with many bit planes), with a copy
// of the same planes as the in-run baseline.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "encode/video_writer.h"
#include "video/video_decoder.h"

namespace {

namespace enc = kivo::encode;

enum Content { kTypical, kWorst };

void TypicalBlock(std::mt19937& rng, enc::BlockSpec& b, uint32_t x, uint32_t y, uint32_t w,
                  uint32_t h) {
  // Fills, two-colour and moved blocks most, then DCT blocks and runs.
  static const uint8_t kMix[] = {
      enc::kFill,  enc::kFill,  enc::kFill,  enc::kTwoColour, enc::kTwoColour, enc::kTwoColour,
      enc::kRuns,  enc::kRuns,  enc::kMoved, enc::kMoved,     enc::kMoved,     enc::kMovedResidue,
      enc::kIntra, enc::kIntra, enc::kInter, enc::kInter,     enc::kUnchanged, enc::kInter};
  b = enc::BlockSpec{};
  b.type = kMix[rng() % sizeof kMix];
  uint8_t base = uint8_t(rng());
  for (int i = 0; i < 64; ++i) b.pixels[i] = uint8_t(base + (rng() % 4) * 8);
  if (b.type == enc::kRuns)
    for (int i = 1; i < 64; ++i) b.pixels[i] = rng() % 8 ? b.pixels[i - 1] : b.pixels[i];
  for (uint8_t& m : b.mask) m = uint8_t(rng());
  b.pattern = uint8_t(rng() % 16);
  int maxDx = int(w - 8 - x) < 6 ? int(w - 8 - x) : 6, minDx = -int(x) > -6 ? -int(x) : -6;
  int maxDy = int(h - 8 - y) < 6 ? int(h - 8 - y) : 6, minDy = -int(y) > -6 ? -int(y) : -6;
  b.dx = int8_t(minDx + int(rng() % uint32_t(maxDx - minDx + 1)));
  b.dy = int8_t(minDy + int(rng() % uint32_t(maxDy - minDy + 1)));
  b.quantiser = uint8_t(4 + rng() % 6);
  b.coefficients[0] = int16_t(b.type == enc::kIntra ? 400 + rng() % 600 : int(rng() % 101) - 50);
  for (int i = 0; i < 4; ++i) b.coefficients[1 + rng() % 12] = int16_t(int(rng() % 25) - 12);
  for (int i = 0; i < 6; ++i) b.residue[rng() % 64] = int8_t(int(rng() % 9) - 4);
}

void WorstBlock(std::mt19937& rng, enc::BlockSpec& b, uint32_t x, uint32_t y, uint32_t w,
                uint32_t h) {
  b = enc::BlockSpec{};
  b.type = (x / 8 + y / 8) % 2 ? enc::kIntra : enc::kInter;
  b.dx = int8_t(x + 8 < w ? 1 : -1);
  b.dy = int8_t(y + 8 < h ? 1 : -1);
  b.quantiser = uint8_t(rng() % 16);
  b.coefficients[0] = int16_t(b.type == enc::kIntra ? rng() % 2048 : int(rng() % 2047) - 1023);
  for (int i = 1; i < 64; ++i) b.coefficients[i] = int16_t(int(rng() % 16001) - 8000);
}

enc::PlaneSpec MakePlane(std::mt19937& rng, uint32_t w, uint32_t h, Content content) {
  enc::PlaneSpec plane;
  enc::InitPlane(plane, w, h);
  for (uint32_t r = 0; r < h / 8; ++r)
    for (uint32_t c = 0; c < w / 8; ++c) {
      if (content == kTypical)
        TypicalBlock(rng, enc::BlockAt(plane, c, r), c * 8, r * 8, w, h);
      else
        WorstBlock(rng, enc::BlockAt(plane, c, r), c * 8, r * 8, w, h);
    }
  return plane;
}

struct Movie {
  uint32_t width, height;
  kivo::PlaneSet planes{};
  std::vector<uint8_t> frames[2], cells, bundles[kivo::kBundleCount];
  uint8_t* bundlePointers[kivo::kBundleCount];
  std::vector<std::vector<uint8_t>> packets;

  Movie(uint32_t w, uint32_t h, Content content) : width(w), height(h) {
    planes.chromaPitch = (((w + 1) >> 1) + 7) & ~7u;
    planes.chromaRows = (((h + 1) >> 1) + 7) & ~7u;
    planes.pitch = 2 * planes.chromaPitch;
    planes.rows = 2 * planes.chromaRows;
    size_t bytes = size_t(planes.pitch) * planes.rows +
                   2 * size_t(planes.chromaPitch) * planes.chromaRows;
    for (int i = 0; i < 2; ++i) {
      frames[i].resize(bytes);
      planes.frameBuffers[i] = frames[i].data();
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
    std::mt19937 rng(11);
    for (int f = 0; f < 8; ++f) {
      enc::PlaneSpec luma = MakePlane(rng, w, h, content);
      enc::PlaneSpec c0 = MakePlane(rng, w / 2, h / 2, content);
      enc::PlaneSpec c1 = MakePlane(rng, w / 2, h / 2, content);
      enc::FrameSpec frame;
      frame.luma = &luma;
      frame.chroma[0] = &c0;
      frame.chroma[1] = &c1;
      std::vector<uint8_t> packet;
      std::string error;
      if (!enc::WriteVideoFrame(frame, packet, &error)) abort();
      packets.push_back(std::move(packet));
    }
  }

  double MeanPacketBytes() const {
    double total = 0;
    for (const auto& p : packets) total += double(p.size());
    return total / double(packets.size());
  }
};

void BM_VideoDecode(benchmark::State& state) {
  uint32_t w = uint32_t(state.range(0)), h = uint32_t(state.range(1));
  Content content = Content(state.range(2));
  uint32_t flags = state.range(3) ? kivo::kNoProcessorExtensions : 0;
  Movie movie(w, h, content);
  size_t frame = 0;
  int32_t clean = 1;
  for (auto _ : state) {
    const std::vector<uint8_t>& packet = movie.packets[frame++ % movie.packets.size()];
    memset(movie.cells.data(), 0, movie.cells.size());
    clean &= kivo::DecodeVideoFrame(&movie.planes, movie.bundlePointers, packet.data(),
                                    uint32_t(packet.size()), w, h, 0, flags, 0);
    movie.planes.current ^= 1;
    benchmark::ClobberMemory();
  }
  if (!clean) state.SkipWithError("a frame did not decode cleanly");
  state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["KB/frame"] = movie.MeanPacketBytes() / 1024;
}

// The floor: copying the decoded planes once per frame.
void BM_PlaneCopy(benchmark::State& state) {
  uint32_t w = uint32_t(state.range(0)), h = uint32_t(state.range(1));
  size_t bytes = size_t(w) * h * 3 / 2;
  std::vector<uint8_t> a(bytes, 1), b(bytes, 2);
  for (auto _ : state) {
    memcpy(b.data(), a.data(), bytes);
    benchmark::DoNotOptimize(b.data());
    benchmark::ClobberMemory();
    a.swap(b);
  }
  state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_PlaneCopy)->Args({640, 480})->Args({1280, 720});
BENCHMARK(BM_VideoDecode)
    ->ArgNames({"w", "h", "worst", "plain"})
    ->Args({640, 480, kTypical, 0})
    ->Args({640, 480, kTypical, 1})
    ->Args({1280, 720, kTypical, 0})
    ->Args({640, 480, kWorst, 0})
    ->Args({1280, 720, kWorst, 0});

}  // namespace

BENCHMARK_MAIN();
