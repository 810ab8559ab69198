// Picks the kernel table of a processor family: each family starts from the
// one below it and replaces what it does faster, so a kind it lacks still
// has a kernel. The tables are built once, under the language's guard.
#include "convert/lane_kernels.h"
#include "convert/processor.h"

namespace kivo {

namespace {

struct Families {
  LaneKernels tiers[3];
  Families() {
    FillPlainLaneKernels(&tiers[kLanePlain]);
    tiers[kLaneSse2] = tiers[kLanePlain];
    FillSse2Kernels(&tiers[kLaneSse2]);
    tiers[kLaneAvx2] = tiers[kLaneSse2];
    FillAvx2Kernels(&tiers[kLaneAvx2]);
  }
};

}  // namespace

const LaneKernels& LaneKernelsFor(int32_t tier) {
  static const Families families;
  if (tier < kLanePlain) tier = kLanePlain;
  if (tier > kLaneAvx2) tier = kLaneAvx2;
  return families.tiers[tier];
}

}  // namespace kivo
