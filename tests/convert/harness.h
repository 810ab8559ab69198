// SPDX-License-Identifier: BSD-2-Clause
// Runs a converter of the family on model planes into a guarded buffer, and
// the fixture that keeps tests deterministic (no tick counter, so the
// leading count is always the destination-aligned one).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/model.h"

namespace kivo::test {

struct ConvertFixture : ::testing::Test {
  void SetUp() override;
  void TearDown() override;
};

// Families a run can use: -1 the plain integer routines, else a fast tier.
std::vector<int> FamiliesToTest();
std::string FamilyName(int family);

struct Output {
  std::vector<uint8_t> got, expected;
  std::string firstDifference;  // empty when they agree
};

// Converts with `family` and models the same job. `align` (0 to 3) is the
// destination's offset from a 32-byte boundary.
Output RunJob(Job job, const Planes& p, int family, uint32_t align);

}  // namespace kivo::test
