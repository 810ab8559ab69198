// SPDX-License-Identifier: BSD-2-Clause
// The bit reader of one audio block: little-endian 32-bit words taken from
// bit 0 up, never reading at or past the end of the chunk. Bits beyond the
// end read as zeros; the count of bits taken tells both where the next block
// starts and whether the block ran out.
#pragma once

#include <cstdint>
#include <cstring>

namespace kivo {

struct AudioBits {
  const uint8_t* start;  // first word of the block
  uint32_t size;         // bytes from start to the chunk's end
  uint32_t pos;          // byte offset of the next word to load
  uint32_t count;        // bits held in cache
  uint64_t cache;
};

inline void StartAudioBits(AudioBits* r, const uint8_t* start, const uint8_t* end) {
  r->start = start;
  r->size = start < end ? static_cast<uint32_t>(end - start) : 0;
  r->pos = 0;
  r->count = 0;
  r->cache = 0;
}

// Makes at least 32 bits available.
inline void FillAudioBits(AudioBits* r) {
  if (r->count >= 32) return;
  uint32_t w = 0;
  if (r->pos + 4 <= r->size) {
    memcpy(&w, r->start + r->pos, 4);
  } else if (r->pos < r->size) {
    memcpy(&w, r->start + r->pos, r->size - r->pos);
  }
  r->cache |= uint64_t(w) << r->count;
  r->count += 32;
  r->pos += 4;
}

// n from 0 to 32 bits; the caller has made them available.
inline uint32_t TakeAudioBits(AudioBits* r, uint32_t n) {
  const uint32_t v = static_cast<uint32_t>(r->cache & ((uint64_t(1) << n) - 1));
  r->cache >>= n;
  r->count -= n;
  return v;
}

inline uint32_t ReadAudioBits(AudioBits* r, uint32_t n) {
  FillAudioBits(r);
  return TakeAudioBits(r, n);
}

inline uint64_t AudioBitsTaken(const AudioBits* r) { return uint64_t(r->pos) * 8 - r->count; }

// A reader that loads a word only when it needs more bits has loaded
// ceil(taken / 32) words; the next block starts after them.
inline uint64_t AudioBitsNextOffset(const AudioBits* r) { return (AudioBitsTaken(r) + 31) / 32 * 4; }
inline bool AudioBitsRanOut(const AudioBits* r) { return AudioBitsTaken(r) > uint64_t(r->size) * 8; }

}  // namespace kivo
