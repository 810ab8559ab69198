// SPDX-License-Identifier: BSD-2-Clause
// Pixel conversion speed: 640 x 480 and 1280 x 720 frames converted to
// RGB32 (code 3), RGB565 (code 10), YUY2 (code 13) and UYVY (code 14), whole
// and by changed cells, with the plain and the fast routines; in the same
// run libyuv's conversions of the same planes (when installed) and a memcpy
// of an output-sized buffer as the floor. Changed-cell maps: every other
// cell (a checkerboard, every run a single cell), a tenth of the cells at
// random, and every cell.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "convert/conversion_tables.h"
#include "convert/converters.h"
#include "convert/copy_flags.h"
#include "convert/row_walk.h"

#ifdef KIVO_HAVE_LIBYUV
#include <libyuv.h>
#endif

namespace kivo {
namespace {

struct Frame {
  uint32_t width, height, pitch, rows;
  std::vector<uint8_t> planes;
  std::vector<uint8_t> map[3];  // checkerboard, a tenth, every cell
  std::vector<uint8_t> out;
  uint8_t* dest;
  uint32_t bpp;
  const uint8_t* v() const { return planes.data() + size_t(pitch) * rows; }
  const uint8_t* u() const { return v() + size_t(pitch / 2) * (rows / 2); }
};

Frame MakeFrame(uint32_t width, uint32_t height, uint32_t bpp) {
  Frame f;
  f.width = width;
  f.height = height;
  f.pitch = (width + 15) & ~15u;
  f.rows = (height + 15) & ~15u;
  f.planes.resize(size_t(f.pitch) * f.rows * 3 / 2);
  std::mt19937 rng(1);
  // Smooth content with noise, like decoded video.
  for (uint32_t y = 0; y < f.rows; ++y)
    for (uint32_t x = 0; x < f.pitch; ++x) f.planes[y * f.pitch + x] = uint8_t(16 + (x + y) % 200 + rng() % 20);
  for (size_t i = size_t(f.pitch) * f.rows; i < f.planes.size(); ++i) f.planes[i] = uint8_t(64 + rng() % 128);
  const size_t cells = size_t(f.pitch / 16) * (f.rows / 16);
  for (auto& m : f.map) m.assign(cells + 16, 0);
  for (uint32_t r = 0; r < f.rows / 16; ++r)
    for (uint32_t c = 0; c < f.pitch / 16; ++c) f.map[0][r * (f.pitch / 16) + c] = (r + c) & 1;
  for (size_t i = 0; i < cells; ++i) f.map[1][i] = rng() % 10 == 0;
  std::fill(f.map[2].begin(), f.map[2].begin() + ptrdiff_t(cells), uint8_t(1));
  f.bpp = bpp;
  f.out.resize(size_t(width) * height * bpp + 64);
  f.dest = f.out.data() + (32 - reinterpret_cast<uintptr_t>(f.out.data()) % 32) % 32;
  return f;
}

// `changed`: -1 the full conversion, else the map.
void Convert(benchmark::State& state, uint32_t code, bool fast, int changed) {
  uint32_t width = uint32_t(state.range(0)), height = uint32_t(state.range(1));
  uint32_t bpp = code == 3 ? 4 : 2;
  Frame f = MakeFrame(width, height, bpp);
  const uint8_t* map = changed >= 0 ? f.map[changed].data() : nullptr;
  PrepareConversionTables(int32_t(code));
  FormatDescriptor* d = DescriptorFor(code, false);
  ConvertTarget to = {f.dest, int32_t(width * bpp), 0, 0};
  ConvertSource from = {f.planes.data(), nullptr, f.pitch, f.rows, width, height};
  uint32_t flags = code | (fast ? 0 : kCopyNoSimd);
  for (auto _ : state) {
    if (map)
      ConvertChanged(d, to, from, map, f.pitch / 16, flags);
    else
      ConvertFull(d, to, from, 0, 0, flags);
    benchmark::DoNotOptimize(f.dest);
    benchmark::ClobberMemory();
  }
  state.counters["Mpixel/s"] = benchmark::Counter(double(width) * height, benchmark::Counter::kIsIterationInvariantRate,
                                                  benchmark::Counter::kIs1000);
}

void Floor(benchmark::State& state, uint32_t bpp) {
  uint32_t width = uint32_t(state.range(0)), height = uint32_t(state.range(1));
  std::vector<uint8_t> a(size_t(width) * height * bpp, 1), b(a.size());
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), a.size());
    benchmark::DoNotOptimize(b.data());
    benchmark::ClobberMemory();
  }
}

#define KIVO_SIZES ->Args({640, 480})->Args({1280, 720})

BENCHMARK_CAPTURE(Convert, rgb32_plain_full, 3, false, -1) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, rgb32_fast_full, 3, true, -1) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, rgb32_plain_changed_checker, 3, false, 0) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, rgb32_plain_changed_tenth, 3, false, 1) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, rgb32_plain_changed_every, 3, false, 2) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, rgb32_fast_changed_checker, 3, true, 0) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, rgb32_fast_changed_tenth, 3, true, 1) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, rgb32_fast_changed_every, 3, true, 2) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, rgb565_plain_full, 10, false, -1) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, rgb565_fast_full, 10, true, -1) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, rgb565_plain_changed_checker, 10, false, 0) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, rgb565_plain_changed_tenth, 10, false, 1) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, rgb565_plain_changed_every, 10, false, 2) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, rgb565_fast_changed_checker, 10, true, 0) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, rgb565_fast_changed_tenth, 10, true, 1) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, rgb565_fast_changed_every, 10, true, 2) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, yuy2_plain_full, 13, false, -1) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, yuy2_fast_full, 13, true, -1) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, yuy2_plain_changed_checker, 13, false, 0) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, yuy2_plain_changed_tenth, 13, false, 1) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, yuy2_plain_changed_every, 13, false, 2) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, yuy2_fast_changed_checker, 13, true, 0) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, yuy2_fast_changed_tenth, 13, true, 1) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, yuy2_fast_changed_every, 13, true, 2) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, uyvy_plain_full, 14, false, -1) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, uyvy_fast_full, 14, true, -1) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, uyvy_plain_changed_checker, 14, false, 0) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, uyvy_plain_changed_tenth, 14, false, 1) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, uyvy_plain_changed_every, 14, false, 2) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, uyvy_fast_changed_checker, 14, true, 0) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, uyvy_fast_changed_tenth, 14, true, 1) KIVO_SIZES;
BENCHMARK_CAPTURE(Convert, uyvy_fast_changed_every, 14, true, 2) KIVO_SIZES;
BENCHMARK_CAPTURE(Floor, memcpy_32bit, 4) KIVO_SIZES;
BENCHMARK_CAPTURE(Floor, memcpy_16bit, 2) KIVO_SIZES;

#ifdef KIVO_HAVE_LIBYUV
enum class Peer { Argb, Rgb565, Yuy2, Uyvy };

void Libyuv(benchmark::State& state, Peer peer) {
  uint32_t width = uint32_t(state.range(0)), height = uint32_t(state.range(1));
  uint32_t bpp = peer == Peer::Argb ? 4 : 2;
  Frame f = MakeFrame(width, height, bpp);
  int w = int(width), h = int(height), p = int(f.pitch), c = int(f.pitch / 2), out = int(width * bpp);
  for (auto _ : state) {
    if (peer == Peer::Argb)
      libyuv::I420ToARGB(f.planes.data(), p, f.u(), c, f.v(), c, f.dest, out, w, h);
    else if (peer == Peer::Rgb565)
      libyuv::I420ToRGB565(f.planes.data(), p, f.u(), c, f.v(), c, f.dest, out, w, h);
    else if (peer == Peer::Yuy2)
      libyuv::I420ToYUY2(f.planes.data(), p, f.u(), c, f.v(), c, f.dest, out, w, h);
    else
      libyuv::I420ToUYVY(f.planes.data(), p, f.u(), c, f.v(), c, f.dest, out, w, h);
    benchmark::DoNotOptimize(f.dest);
    benchmark::ClobberMemory();
  }
  state.counters["Mpixel/s"] = benchmark::Counter(double(width) * height, benchmark::Counter::kIsIterationInvariantRate,
                                                  benchmark::Counter::kIs1000);
}

BENCHMARK_CAPTURE(Libyuv, I420ToARGB, Peer::Argb) KIVO_SIZES;
BENCHMARK_CAPTURE(Libyuv, I420ToRGB565, Peer::Rgb565) KIVO_SIZES;
BENCHMARK_CAPTURE(Libyuv, I420ToYUY2, Peer::Yuy2) KIVO_SIZES;
BENCHMARK_CAPTURE(Libyuv, I420ToUYVY, Peer::Uyvy) KIVO_SIZES;
#endif

}  // namespace
}  // namespace kivo

BENCHMARK_MAIN();
