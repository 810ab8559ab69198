// SPDX-License-Identifier: BSD-2-Clause
// Writes a movie file frame by frame without holding it in memory: packets
// go to a spill file beside the output, and at the end the header, track
// table and index are written in front of them into the output, which is
// never clobbered (encode/output_file.h). A failed or abandoned movie
// leaves nothing.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "encode/container_writer.h"

namespace kivo::encode {

struct MovieFileWriter {
  std::string outPath, spillPath, tempPath;
  FILE* spill = nullptr;
  MovieLayout layout;
  std::vector<uint32_t> sizes;  // per frame, even
  std::vector<uint8_t> keys;
  std::vector<uint32_t> maxBytes;
  uint64_t total = 0;  // bytes of packets so far
  uint32_t largest = 0;
};

bool BeginMovieFile(MovieFileWriter& w, const std::string& outPath, const MovieLayout& layout, std::string* error);
// Appends one frame packet (audio packets per track, then the video data).
bool AddMovieFrame(MovieFileWriter& w, const FramePacket& frame, std::string* error);
// Bytes written so far (packets only).
inline uint64_t MovieBytesSoFar(const MovieFileWriter& w) { return w.total; }
// Writes the finished movie and renames it into place.
bool FinishMovieFile(MovieFileWriter& w, std::string* error);
// Removes everything written so far.
void AbandonMovieFile(MovieFileWriter& w);

}  // namespace kivo::encode
