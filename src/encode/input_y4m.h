// SPDX-License-Identifier: BSD-2-Clause
// Streams pictures out of a YUV4MPEG2 file: 4:2:0 (any of its chroma-siting
// tags) or mono, 8 bits per sample, one frame at a time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "encode/input_picture.h"

namespace kivo::encode {

struct Y4mInput {
  FILE* file = nullptr;
  std::string path;
  uint32_t width = 0, height = 0;
  uint32_t rateNum = 0, rateDen = 0;  // 0 when the header names no rate
  bool mono = false;
  uint32_t framesRead = 0;
  uint64_t frameBytes = 0;   // picture bytes of one frame
  uint64_t fileSize = 0;
  uint64_t dataStart = 0;    // offset of the first frame header
};

// Opens the file and reads its header. False, with *error set, for a file
// that is missing, is not YUV4MPEG2, or uses a sample layout other than the
// ones above.
bool OpenY4m(Y4mInput& in, const std::string& path, std::string* error);
// Reads the next picture into `out` (mono: luma only). Returns 1 for a
// picture, 0 at the clean end of the file, -1 with *error set for a cut or
// malformed frame.
int ReadY4mFrame(Y4mInput& in, SourcePicture& out, std::string* error);
// Frames in the file, assuming frame headers without parameters (for the
// progress estimate only).
uint32_t EstimateY4mFrames(const Y4mInput& in);
void CloseY4m(Y4mInput& in);

}  // namespace kivo::encode
