// SPDX-License-Identifier: BSD-2-Clause
// Fuzz target: the encoder's PNG reader on any file (one picture of a
// sequence), converted with each set of options; the picture handed back must
// have the planes its options ask for.
#include <cstdint>
#include <string>
#include <vector>

#include "encode/input_png.h"
#include "fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 20) || !kivo::encode::PngSupported()) return 0;
  kivo::encode::PngOptions options;
  options.alpha = data[0] & 1;
  options.grey = data[0] & 2;
  options.beforeH = data[0] & 4;
  const std::string path = kivo::fuzz::WriteScratchFile(".png", data + 1, size - 1);
  if (path.empty()) return 0;
  kivo::encode::PngInput in;
  std::string error;
  if (!kivo::encode::OpenPngSequence(in, {path, path}, &error)) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  // A few megapixels at most: larger pictures only make runs slow.
  if (uint64_t(in.width) * in.height > (2u << 20)) return 0;
  kivo::encode::SourcePicture picture;
  for (int i = 0; i < 3; ++i) {
    int got = kivo::encode::ReadPngFrame(in, options, picture, &error);
    if (got < 0 && error.empty()) __builtin_trap();
    if (got != 1) {
      if (i < 2 && got == 0) __builtin_trap();  // two files were named
      break;
    }
    const size_t pixels = size_t(in.width) * in.height;
    if (picture.luma.size() != pixels) __builtin_trap();
    if (options.grey != picture.cr.empty()) __builtin_trap();
    if (options.alpha && picture.alpha.size() != pixels) __builtin_trap();
  }
  return 0;
}
