// SPDX-License-Identifier: BSD-2-Clause
// A scratch file per fuzzing process for targets whose code under test reads
// a named file: the input is written to it before every run.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include <unistd.h>

namespace kivo::fuzz {

inline std::string WriteScratchFile(const char* suffix, const uint8_t* data, size_t size) {
  static const std::string base = "/dev/shm/kivo-fuzz-" + std::to_string(getpid());
  std::string path = base + suffix;
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return std::string();
  if (size) fwrite(data, 1, size, f);
  fclose(f);
  return path;
}

}  // namespace kivo::fuzz
