// SPDX-License-Identifier: BSD-2-Clause
// Picks the kernel table of a processor family: each family starts from the
// one below it and replaces what it does faster, so a kind it lacks still
// has a kernel. The tables are built once, under the language's guard, and
// the files built for an extension are entered only where the processor has
// it (their compiler may use it anywhere in them, filling a table included).
#include "convert/lane_kernels.h"

#include "base/processor.h"

namespace kivo {

namespace {

struct Families {
  LaneKernels tiers[3];
  Families() {
    const uint32_t have = DetectedCpuFeatures();
    FillPlainLaneKernels(&tiers[kLanePlain]);
    tiers[kLaneSse2] = tiers[kLanePlain];
    if (have & kCpuSse2) FillSse2Kernels(&tiers[kLaneSse2]);
    tiers[kLaneAvx2] = tiers[kLaneSse2];
    if (have & kCpuAvx2) FillAvx2Kernels(&tiers[kLaneAvx2]);
  }
};

}  // namespace

int32_t LaneTierFor(uint32_t features) {
  if (features & kCpuAvx2) return kLaneAvx2;
  if (features & kCpuSse2) return kLaneSse2;
  return kLanePlain;
}

const LaneKernels& LaneKernelsFor(int32_t tier) {
  static const Families families;
  if (tier < kLanePlain) tier = kLanePlain;
  if (tier > kLaneAvx2) tier = kLaneAvx2;
  return families.tiers[tier];
}

}  // namespace kivo
