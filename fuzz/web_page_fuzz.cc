// SPDX-License-Identifier: BSD-2-Clause
// Fuzzes what the player page calls (web/kivo_page): any bytes opened as a
// movie and, when the open accepts them, every frame decoded with its sound
// track, copied to RGBA rows and counted in the statistics line, then played
// again from frame 1 as a loop does.
#include <cstdint>
#include <cstdio>
#include <string>

#include <unistd.h>

#include "kivo_page.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Large pictures only make runs slow; the open's own limits are tested elsewhere.
  if (size >= 28) {
    uint32_t w = data[20] | data[21] << 8 | data[22] << 16 | uint32_t(data[23]) << 24;
    uint32_t h = data[24] | data[25] << 8 | data[26] << 16 | uint32_t(data[27]) << 24;
    if (uint64_t(w) * h > 1024 * 1024) return 0;
  }
  static const std::string path = "/dev/shm/kivo-web-fuzz-" + std::to_string(getpid()) + ".kiv";
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return 0;
  fwrite(data, 1, size, f);
  fclose(f);
  // The page plays sound track 0 unless its address asks for another.
  const uint32_t track = size > 40 ? data[40] & 1 : 0;
  if (kw_open(path.c_str(), track, 0)) {
    const KwState* s = kw_state();
    const uint32_t frames = s->frameCount < 300 ? s->frameCount : 300;
    for (uint32_t i = 0; i < frames + 2; ++i) {
      if (kw_decode()) break;
      kw_copy();
      kw_stats_line();
      kw_next();
    }
    kw_close();
  } else {
    kw_error_text();
  }
  return 0;
}
