// Picks the kernel table of a processor family: each family starts from the
// one below it and replaces what it does faster, so a kind it lacks still
// has a kernel.
#include "convert/lane_kernels.h"
#include "convert/processor.h"

namespace kivo {

const LaneKernels& LaneKernelsFor(int32_t tier) {
  static LaneKernels families[3];
  static bool built = false;
  if (!built) {
    FillPortableKernels(&families[kLanePortable]);
    families[kLaneSse2] = families[kLanePortable];
    FillSse2Kernels(&families[kLaneSse2]);
    families[kLaneAvx2] = families[kLaneSse2];
    FillAvx2Kernels(&families[kLaneAvx2]);
    built = true;
  }
  if (tier < kLanePortable) tier = kLanePortable;
  if (tier > kLaneAvx2) tier = kLaneAvx2;
  return families[tier];
}

}  // namespace kivo
