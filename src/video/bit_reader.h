// The bit reader of one video plane: little-endian 32-bit words consumed from
// bit 0 up, bounded by the size of the plane's data. Bits past the end read
// as zeros and are counted, so the plane loop can tell that it ran out.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace kivo {

static_assert(std::endian::native == std::endian::little, "the word loads assume a little-endian host");

// Holds up to 63 bits ahead in `cache`; what the stream has consumed is
// pos * 8 - count bits. Words are always loaded whole (the last, partial
// word of a short buffer padded with zeros), so the word position of the
// classic one-word reader follows from the consumed bit count alone.
struct BitReader {
  const uint8_t* data;  // first byte of the plane's stream
  uint32_t size;        // bytes available from data
  uint32_t pos;         // byte offset of the next word to load into the cache
  uint32_t count;       // bits held in cache
  uint64_t cache;
};

inline void StartBitReader(BitReader* r, const uint8_t* data, uint32_t size) {
  r->data = data;
  r->size = size;
  r->pos = 0;
  r->count = 0;
  r->cache = 0;
}

inline uint32_t LoadStreamWord(const BitReader* r) {
  uint32_t w = 0;
  if (r->pos < r->size) {
    uint32_t avail = r->size - r->pos;
    memcpy(&w, r->data + r->pos, avail >= 4 ? 4 : avail);
  }
  return w;
}

// Makes at least 32 bits available.
inline void FillBits(BitReader* r) {
  if (r->count < 32) {
    r->cache |= uint64_t(LoadStreamWord(r)) << r->count;
    r->count += 32;
    r->pos += 4;
  }
}

// n from 1 to 31; the first bit read is the least significant of the value.
inline uint32_t ReadBits(BitReader* r, uint32_t n) {
  FillBits(r);
  uint32_t v = uint32_t(r->cache) & ((1u << n) - 1);
  r->cache >>= n;
  r->count -= n;
  return v;
}

inline uint32_t ReadBit(BitReader* r) {
  FillBits(r);
  uint32_t v = uint32_t(r->cache) & 1u;
  r->cache >>= 1;
  r->count -= 1;
  return v;
}

// The next n bits (n <= 31) without consuming them.
inline uint32_t PeekBits(BitReader* r, uint32_t n) {
  FillBits(r);
  return uint32_t(r->cache) & ((1u << n) - 1);
}

inline void SkipBits(BitReader* r, uint32_t n) {
  r->cache >>= n;
  r->count -= n;
}

inline uint64_t BitsConsumed(const BitReader* r) { return uint64_t(r->pos) * 8 - r->count; }

// Bytes of whole words the stream has loaded so far: where the next plane
// begins.
inline uint64_t WordBytesConsumed(const BitReader* r) { return (BitsConsumed(r) + 31) / 32 * 4; }

// True once a bit beyond the last (possibly partial) word of the data has
// been consumed.
inline bool BitReaderOverran(const BitReader* r) {
  return BitsConsumed(r) > (uint64_t(r->size) + 3) / 4 * 32;
}

}  // namespace kivo
