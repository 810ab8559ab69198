// SPDX-License-Identifier: BSD-2-Clause
// One source picture as the encoder's input readers deliver it: full-size
// luma and alpha, chroma at half size rounded up (the red-difference plane
// first, as the stream stores it from revision 'h' on).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "encode/encode_error.h"

namespace kivo::encode {

struct SourcePicture {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> luma;    // width x height
  std::vector<uint8_t> cr, cb;  // ((width + 1) / 2) x ((height + 1) / 2); empty when grey
  std::vector<uint8_t> alpha;   // width x height; empty without alpha
};

inline uint32_t SourceChromaWidth(uint32_t width) { return (width + 1) / 2; }
inline uint32_t SourceChromaHeight(uint32_t height) { return (height + 1) / 2; }

// The picture's planes in the order a frame codes them (alpha, luma, then the
// chroma planes in the revision's order); null where the movie has no alpha
// or the source is grey. False, with the reason, when the picture does not
// fit a width x height movie.
inline bool PlanesInCodingOrder(const SourcePicture& picture, uint32_t width, uint32_t height, char revision,
                                bool alpha, const uint8_t* sources[4], std::string* error) {
  if (picture.width != width || picture.height != height) return Fail(error, "the picture size changed");
  const size_t lumaBytes = size_t(width) * height;
  const size_t chromaBytes = size_t(SourceChromaWidth(width)) * SourceChromaHeight(height);
  if (picture.luma.size() != lumaBytes) return Fail(error, "the picture has no luma plane of its size");
  if (alpha && picture.alpha.size() != lumaBytes) return Fail(error, "the picture has no alpha plane");
  const bool chromaGiven = picture.cr.size() == chromaBytes && picture.cb.size() == chromaBytes;
  const bool cbFirst = revision < 'h';
  sources[0] = alpha ? picture.alpha.data() : nullptr;
  sources[1] = picture.luma.data();
  sources[2] = chromaGiven ? (cbFirst ? picture.cb : picture.cr).data() : nullptr;
  sources[3] = chromaGiven ? (cbFirst ? picture.cr : picture.cb).data() : nullptr;
  return true;
}

// Old streams store colours as offsets from 128 and cannot hold sample 0,
// so their samples start at 1.
inline uint8_t SampleFloor(char revision) { return revision < 'i' ? 1 : 0; }

}  // namespace kivo::encode
