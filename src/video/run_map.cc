// The plain run mapping and the choice of the mapping by processor features.
#include "video/run_map.h"

#include <cstring>

#include "base/processor.h"

namespace kivo {

// A row at a time in a register: one store per row.
void RunMapPlain(const uint8_t* scan, const uint8_t inverse[64], uint8_t* dst, uint32_t pitch) {
  for (int line = 0; line < 8; ++line) {
    uint64_t row = 0;
    for (int c = 0; c < 8; ++c) row |= uint64_t(scan[inverse[8 * line + c]]) << (8 * c);
    memcpy(dst + size_t(line) * pitch, &row, 8);
  }
}

RunMap RunMapFor(uint32_t features) {
#if defined(__i386__) || defined(__x86_64__)
  if (features & kCpuAvx2) return RunMapAvx2;
#endif
  (void)features;
  return RunMapPlain;
}

}  // namespace kivo
