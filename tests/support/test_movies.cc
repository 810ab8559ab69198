// SPDX-License-Identifier: BSD-2-Clause
// Test movies.
#include "support/test_movies.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/platform.h"

namespace kivo::test {

std::string TestFolder() {
  const char* dir = getenv("KIVO_TEST_TMP");
  if (dir && *dir) return dir;
  dir = getenv("TEMP");
  if (dir && *dir) return dir;
  return "/tmp";
}

std::string Slurp(const std::string& path) {
  std::string text;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return text;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  fclose(f);
  return text;
}

std::string ToolPath(const char* name) {
  char self[4096];
  if (!os::ProgramFilePath(self, sizeof self)) return name;
  const std::string path = (std::filesystem::path(self).parent_path().parent_path() / "tools" / name).string();
#ifdef KIVO_TOOL_EMULATOR
  return KIVO_TOOL_EMULATOR " " + path;
#else
  return path;
#endif
}

std::string WriteTestFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::string path = TestFolder() + "/" + name;
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return "";
  size_t wrote = fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
  return wrote == bytes.size() ? path : "";
}

std::vector<uint8_t> FillerMovie(uint32_t frames, uint32_t width, uint32_t height, uint32_t keyEvery,
                                 uint32_t videoBytes, uint32_t rateNum, uint32_t rateDen) {
  encode::MovieLayout layout;
  layout.width = width;
  layout.height = height;
  layout.rateNum = rateNum;
  layout.rateDen = rateDen;
  std::vector<encode::FramePacket> packets(frames);
  for (uint32_t i = 0; i < frames; ++i) {
    packets[i].key = keyEvery && i % keyEvery == 0;
    packets[i].video.assign(videoBytes, 0);
    for (uint32_t b = 0; b < videoBytes; ++b) packets[i].video[b] = static_cast<uint8_t>(i * 7 + b);
  }
  return encode::BuildMovie(layout, packets);
}

}  // namespace kivo::test
