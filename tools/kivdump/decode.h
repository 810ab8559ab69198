// SPDX-License-Identifier: BSD-2-Clause
// Decoding a whole movie in order, as the player would, and writing what it
// holds: YUV4MPEG2 of the visible area, the raw alpha plane, PNG pictures
// through the player's colour conversion, and each track's PCM.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kivo::tools {

struct DumpRequest {
  std::string movie;
  uint64_t offset = 0;     // the movie's first byte inside the file
  uint32_t extraFlags = 0; // ORed into the open flags
  std::string y4m;         // empty = none
  std::string alpha;       // empty = none
  std::string pngFolder;   // empty = none: one PNG per frame
  std::string compare;     // a YUV4MPEG2 source to measure the pictures against
  struct Track {
    uint32_t id;
    std::string path;
    bool wav;              // a WAV file, else raw signed 16-bit PCM
  };
  std::vector<Track> tracks;
  bool progress = true;    // a progress line on standard error
};

// Returns the error text, empty on success.
std::string DumpMovie(const DumpRequest& request);

}  // namespace kivo::tools
