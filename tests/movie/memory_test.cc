// SPDX-License-Identifier: BSD-2-Clause
// The allocator and the grouped plan.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>

#include "base/memory.h"

namespace kivo {
namespace {

TEST(Memory, BlocksAreAlignedAndKnowTheirDistance) {
  EXPECT_EQ(MemAlloc(0), nullptr);
  EXPECT_EQ(MemAlloc(0xFFFFFFFFu), nullptr);
  MemFree(nullptr);
  for (uint32_t size : {1u, 31u, 32u, 33u, 4096u, 100000u}) {
    uint8_t* p = static_cast<uint8_t*>(MemAlloc(size));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 32, 0u);
    EXPECT_GE(p[-1], 33);
    EXPECT_LE(p[-1], 64);
    EXPECT_EQ(p[-2], 0);  // system memory
    p[size - 1] = 1;
    MemFree(p);
  }
}

TEST(Memory, PlanStaggersBuffersAcrossCacheSets) {
  uint8_t* parts[40];
  for (auto& part : parts) PlanBlock(&part, 4096);  // more than the 32 static entries
  uint32_t total = PlanTotal();
  EXPECT_GT(total, 40u * 4096);
  uint8_t* block = static_cast<uint8_t*>(AllocatePlan(100));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(PlanTotal(), 0u);
  EXPECT_EQ(parts[0], block + 128);  // the head rounded up to 32
  // pad = ((total / 32 - a / 32 + 1) mod 32) * 32 with the total before the
  // entry: 32, then 64, 128, 256, 512 for buffers of 4096 bytes.
  EXPECT_EQ(parts[1] - parts[0], 4096 + 32);
  EXPECT_EQ(parts[2] - parts[1], 4096 + 64);
  EXPECT_EQ(parts[3] - parts[2], 4096 + 128);
  EXPECT_EQ(parts[4] - parts[3], 4096 + 256);
  EXPECT_EQ(parts[5] - parts[4], 4096 + 512);
  std::set<uintptr_t> offsets;
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(reinterpret_cast<uintptr_t>(parts[i]) % 32, 0u);
    offsets.insert((reinterpret_cast<uintptr_t>(parts[i]) - reinterpret_cast<uintptr_t>(block)) % 1024);
  }
  EXPECT_GT(offsets.size(), 1u);  // not all on the same cache sets
  parts[39][4095] = 1;            // the last buffer lies inside the block
  MemFree(block);
}

TEST(Memory, AFailedPlanHandsOutNothingAndStartsAfresh) {
  uint8_t* a = nullptr;
  uint8_t* b = nullptr;
  PlanBlock(&a, 0x80000000u);
  PlanBlock(&b, 0x80000000u);  // the total no longer fits in 32 bits
  EXPECT_EQ(AllocatePlan(0), nullptr);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(PlanTotal(), 0u);
  PlanBlock(&a, 64);
  void* block = AllocatePlan(0);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(a, block);
  MemFree(block);
}

}  // namespace
}  // namespace kivo
