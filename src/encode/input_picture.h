// One source picture as the encoder's input readers deliver it: full-size
// luma and alpha, chroma at half size rounded up (the red-difference plane
// first, as the stream stores it from revision 'h' on).
#pragma once

#include <cstdint>
#include <vector>

namespace kivo::encode {

struct SourcePicture {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> luma;    // width x height
  std::vector<uint8_t> cr, cb;  // ((width + 1) / 2) x ((height + 1) / 2); empty when grey
  std::vector<uint8_t> alpha;   // width x height; empty without alpha
};

inline uint32_t SourceChromaWidth(uint32_t width) { return (width + 1) / 2; }
inline uint32_t SourceChromaHeight(uint32_t height) { return (height + 1) / 2; }

}  // namespace kivo::encode
