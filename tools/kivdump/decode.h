// Decoding a whole movie in order, as the player would, and writing its
// pictures: YUV4MPEG2 of the visible area, and the raw alpha plane.
#pragma once

#include <cstdint>
#include <string>

namespace kivo::tools {

struct DumpRequest {
  std::string movie;
  uint64_t offset = 0;     // the movie's first byte inside the file
  uint32_t extraFlags = 0; // ORed into the open flags
  std::string y4m;         // empty = none
  std::string alpha;       // empty = none
  bool progress = true;    // a progress line on standard error
};

// Returns the error text, empty on success.
std::string DumpMovie(const DumpRequest& request);

}  // namespace kivo::tools
