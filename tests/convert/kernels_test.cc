// SPDX-License-Identifier: BSD-2-Clause
// The lane kernels of every family keep to their stretch: guard bytes around
// both destination rows stay as they were. (Each fast kernel's pixels against
// the plain one's: tests/kernels/kernel_check.)
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "convert/conversion_tables.h"
#include "convert/harness.h"
#include "convert/lane_kernels.h"
#include "base/processor.h"
#include "convert/tick_counter.h"

namespace kivo::test {
namespace {

struct Kernels : ConvertFixture {};

constexpr size_t kGuard = 37;

struct Rows {
  std::vector<uint8_t> y[2], a[2], cr, cb;
};

Rows RandomRows(std::mt19937& rng, uint32_t pixels) {
  Rows r;
  std::uniform_int_distribution<int> byte(0, 255);
  for (int i = 0; i < 2; ++i) {
    r.y[i].resize(pixels + 1);
    r.a[i].resize(pixels + 1);
    for (auto& s : r.y[i]) s = uint8_t(byte(rng));
    for (auto& s : r.a[i]) s = uint8_t(byte(rng));
  }
  r.cr.resize(pixels / 2 + 2);
  r.cb.resize(pixels / 2 + 2);
  for (auto& s : r.cr) s = uint8_t(byte(rng));
  for (auto& s : r.cb) s = uint8_t(byte(rng));
  return r;
}

// Runs one kernel; the two destination rows come back with their guards.
std::vector<uint8_t> RunKernel(LaneKernel k, const Rows& r, int32_t kind, bool wide, uint32_t pixels, uint32_t phase,
                         int32_t exchanged, uint32_t align) {
  size_t row = pixels * LaneBytesPerPixel(kind) * (wide ? 2 : 1);
  std::vector<uint8_t> out(2 * (row + 2 * kGuard) + 8, 0xEE);
  uint8_t* d0 = out.data() + align + kGuard;
  uint8_t* d1 = d0 + row + 2 * kGuard;
  bool alpha = LaneHasAlpha(kind);
  RowPointers at = {{r.y[0].data(), r.y[1].data()},
                    r.cr.data(),
                    r.cb.data(),
                    {alpha ? r.a[0].data() : nullptr, alpha ? r.a[1].data() : nullptr},
                    {d0, d1}};
  LaneJob job = {&at, pixels, phase, exchanged, &Tables()};
  k(job);
  return out;
}

TEST_F(Kernels, GuardBytesAroundAStretchStayUntouched) {
  std::mt19937 rng(5);
  for (int tier = kLanePlain; tier <= LaneTierFor(DetectedCpuFeatures()); ++tier) {
    const LaneKernels& k = LaneKernelsFor(tier);
    for (int32_t kind = 0; kind < kLaneKinds; ++kind) {
      for (uint32_t pixels : {0u, 2u, 6u, 16u, 18u, 32u, 34u, 64u, 66u}) {
        Rows r = RandomRows(rng, pixels);
        for (int wide = 0; wide < 2; ++wide) {
          auto out = RunKernel(k.run[kind][0][wide], r, kind, wide, pixels, 1, 0, 3);
          size_t row = pixels * LaneBytesPerPixel(kind) * (wide ? 2 : 1);
          for (size_t i = 0; i < kGuard; ++i) {
            ASSERT_EQ(out[3 + i], 0xEE) << "before row 0, tier " << tier << " kind " << kind;
            ASSERT_EQ(out[3 + kGuard + row + i], 0xEE) << "after row 0, tier " << tier << " kind " << kind;
            ASSERT_EQ(out[3 + 3 * kGuard + 2 * row + i], 0xEE) << "after row 1, tier " << tier << " kind " << kind;
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace kivo::test
