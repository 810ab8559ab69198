// SPDX-License-Identifier: BSD-2-Clause
// Offsets of picture against sound summed up as kivsync and the sync tests
// report them: the median and the 5th and 95th percentiles (nearest rank).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace kivsync {

struct OffsetStats {
  size_t count = 0;
  double median = 0, p5 = 0, p95 = 0;
};

inline OffsetStats SummariseOffsets(std::vector<double> v) {
  OffsetStats s;
  s.count = v.size();
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  auto at = [&](double q) { return v[static_cast<size_t>(std::lround(q * double(v.size() - 1)))]; };
  s.median = at(0.5);
  s.p5 = at(0.05);
  s.p95 = at(0.95);
  return s;
}

}  // namespace kivsync
