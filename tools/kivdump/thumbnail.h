// SPDX-License-Identifier: BSD-2-Clause
// A movie's thumbnail for file managers: a representative picture, scaled
// so that its longer side is the asked size, written as a PNG.
#pragma once

#include <cstdint>
#include <string>

namespace kivo::tools {

constexpr uint32_t kMaxThumbnailSize = 4096;

struct ThumbnailRequest {
  std::string movie;
  uint64_t offset = 0;  // the movie's first byte inside the file
  uint32_t size = 0;    // the longer side, 1 to kMaxThumbnailSize
  std::string out;
};

struct Thumbnail {
  uint32_t frame = 0;  // the frame shown (from 1)
  uint32_t width = 0, height = 0;
};

// Picks the picture, scales it to the movie's presented shape and writes
// it. Returns the error text, empty on success; after a failure nothing
// has been written.
std::string WriteThumbnail(const ThumbnailRequest& request, Thumbnail* result);

}  // namespace kivo::tools
