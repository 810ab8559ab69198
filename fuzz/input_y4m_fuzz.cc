// SPDX-License-Identifier: BSD-2-Clause
// Fuzz target: the encoder's YUV4MPEG2 reader on any file. Every frame the
// reader accepts must have the announced size; a cut frame must be an error.
#include <cstdint>
#include <string>

#include "encode/input_y4m.h"
#include "fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const std::string path = kivo::fuzz::WriteScratchFile(".y4m", data, size);
  if (path.empty()) return 0;
  kivo::encode::Y4mInput in;
  std::string error;
  if (!kivo::encode::OpenY4m(in, path, &error)) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  // Pictures of a few megabytes at most: larger ones only make runs slow.
  if (in.frameBytes <= (8u << 20)) {
    kivo::encode::SourcePicture picture;
    for (int frame = 0; frame < 64; ++frame) {
      int got = kivo::encode::ReadY4mFrame(in, picture, &error);
      if (got < 0 && error.empty()) __builtin_trap();
      if (got != 1) break;
      if (picture.luma.size() != size_t(in.width) * in.height) __builtin_trap();
    }
    kivo::encode::EstimateY4mFrames(in);
  }
  kivo::encode::CloseY4m(in);
  return 0;
}
