// SPDX-License-Identifier: BSD-2-Clause
// The container writer.
#include "encode/container_writer.h"

#include <algorithm>

#include "movie/container.h"

namespace kivo::encode {
namespace {

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  size_t at = out.size();
  out.resize(at + 4);
  WriteLe32(out.data() + at, v);
}

}  // namespace

std::vector<uint8_t> BuildMovie(const MovieLayout& layout, const std::vector<FramePacket>& frames) {
  const uint32_t tracks = static_cast<uint32_t>(layout.tracks.size());
  const uint32_t frameCount = static_cast<uint32_t>(frames.size());

  std::vector<uint32_t> maxBytes(tracks, 0);
  uint32_t largest = 0;
  std::vector<uint32_t> sizes;
  for (const FramePacket& f : frames) {
    uint32_t size = static_cast<uint32_t>(f.video.size()) + 4 * tracks;
    // Bit 0 of an index entry is the key-frame bit, so every packet must
    // start at an even offset: odd packets get one zero byte after their
    // video data, which the decoder never reaches.
    for (uint32_t t = 0; t < tracks; ++t) {
      if (t >= f.audio.size()) continue;
      const std::vector<uint8_t>& a = f.audio[t];
      size += static_cast<uint32_t>(a.size());
      if (a.size() >= 4) maxBytes[t] = std::max(maxBytes[t], ReadLe32(a.data()));
    }
    size += size & 1;
    sizes.push_back(size);
    largest = std::max(largest, size);
  }

  const uint32_t first = kHeaderSize + 12 * tracks + 4 * (frameCount + 1);
  uint32_t total = first;
  for (uint32_t s : sizes) total += s;

  std::vector<uint8_t> out;
  out.reserve(total);
  out.push_back('K');
  out.push_back('I');
  out.push_back('V');
  out.push_back(static_cast<uint8_t>(layout.revision));
  for (uint32_t v : {total - 8, frameCount, largest, frameCount, layout.width, layout.height, layout.rateNum,
                     layout.rateDen, layout.videoFlags, tracks})
    Put32(out, v);
  for (uint32_t t = 0; t < tracks; ++t) Put32(out, layout.tracks[t].maxBytes ? layout.tracks[t].maxBytes : maxBytes[t]);
  for (uint32_t t = 0; t < tracks; ++t) Put32(out, layout.tracks[t].audioWord);
  for (uint32_t t = 0; t < tracks; ++t) Put32(out, layout.tracks[t].id);
  uint32_t offset = first;
  for (uint32_t i = 0; i < frameCount; ++i) {
    Put32(out, offset | (frames[i].key ? 1u : 0u));
    offset += sizes[i];
  }
  Put32(out, offset);
  for (const FramePacket& f : frames) {
    for (uint32_t t = 0; t < tracks; ++t) {
      static const std::vector<uint8_t> none;
      const std::vector<uint8_t>& a = t < f.audio.size() ? f.audio[t] : none;
      Put32(out, static_cast<uint32_t>(a.size()));
      out.insert(out.end(), a.begin(), a.end());
    }
    out.insert(out.end(), f.video.begin(), f.video.end());
    if (out.size() & 1) out.push_back(0);
  }
  return out;
}

}  // namespace kivo::encode
