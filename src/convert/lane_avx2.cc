// The fast routines in AVX2 (filled in later; until then the SSE2 ones serve).
#include "convert/lane_kernels.h"

namespace kivo {
void FillAvx2Kernels(LaneKernels*) {}
}  // namespace kivo
