// SPDX-License-Identifier: BSD-2-Clause
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
// pos * 8 - count bits. Bytes past the data read as zeros. The word position
// of a reader that loads one 32-bit word whenever it runs short follows from
// the consumed bit count alone, so the cache may be filled in any steps.
struct BitReader {
  const uint8_t* data;  // first byte of the plane's stream
  uint32_t size;        // bytes available from data
  uint32_t pos;         // byte offset of the next byte to load into the cache
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

// The word at pos with the bytes past the data read as zeros. Takes values
// only, so that a reader kept in registers need not go to memory for it.
inline uint32_t LoadStreamWord(const uint8_t* data, uint32_t pos, uint32_t size) {
  uint32_t w = 0;
  for (uint32_t i = 0; i < 4 && pos + i < size; ++i) w |= uint32_t(data[pos + i]) << (8 * i);
  return w;
}

// Makes at least 32 bits available. Away from the end it tops the cache up
// from an 8-byte load, taking the whole bytes that fit; bits of the bytes
// beyond them may already sit above `count`, which is harmless since a later
// load puts the same bits there.
inline void FillBits(BitReader* r) {
  if (r->count >= 32) return;
  if (r->pos <= r->size && r->size - r->pos >= 8) {
    uint64_t v;
    memcpy(&v, r->data + r->pos, 8);
    r->cache |= v << r->count;
    uint32_t take = (63 - r->count) >> 3;
    r->pos += take;
    r->count += take * 8;
    return;
  }
  r->cache |= uint64_t(LoadStreamWord(r->data, r->pos, r->size)) << r->count;
  r->count += 32;
  r->pos += 4;
}

// Makes at least 56 bits available (32 within the last 8 bytes of the data)
// without a branch on how many are held: the whole bytes that fit are taken
// from an 8-byte load, as in FillBits.
inline void FillBitsFull(BitReader* r) {
  if (r->pos <= r->size && r->size - r->pos >= 8) {
    uint64_t v;
    memcpy(&v, r->data + r->pos, 8);
    r->cache |= v << r->count;
    r->pos += (63 - r->count) >> 3;
    r->count |= 56;
    return;
  }
  FillBits(r);
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

// The bits of the data's words, the last one possibly partial: consuming
// more overruns the data.
inline uint64_t BitsInWords(const BitReader* r) { return (uint64_t(r->size) + 3) / 4 * 32; }

inline bool BitReaderOverran(const BitReader* r) { return BitsConsumed(r) > BitsInWords(r); }

}  // namespace kivo
