// SPDX-License-Identifier: BSD-2-Clause
// Writes the movie container: header, track table, frame index with key-frame
// bits, and frame packets (an audio size word and packet per track, then the
// video data). Packets are kept to even sizes, since bit 0 of an index entry
// is the key-frame bit.
#pragma once

#include <cstdint>
#include <vector>

namespace kivo::encode {

struct TrackLayout {
  uint32_t audioWord;  // rate in bits 0-15, 16-bit, stereo and coding bits
  uint32_t id;
  // Largest decoded bytes of any one frame of the track; 0 = work it out from
  // the first word of every audio packet.
  uint32_t maxBytes = 0;
};

struct MovieLayout {
  char revision = 'i';
  uint32_t width = 0, height = 0;
  uint32_t rateNum = 25, rateDen = 1;
  uint32_t videoFlags = 0;
  std::vector<TrackLayout> tracks;
};

struct FramePacket {
  bool key = false;
  std::vector<std::vector<uint8_t>> audio;  // one packet per track (empty = none)
  std::vector<uint8_t> video;
};

// The whole movie as bytes.
std::vector<uint8_t> BuildMovie(const MovieLayout& layout, const std::vector<FramePacket>& frames);

}  // namespace kivo::encode
