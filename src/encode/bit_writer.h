// SPDX-License-Identifier: BSD-2-Clause
// Bit writer for video plane streams: little-endian 32-bit words filled from
// the least significant bit, the exact mirror of the decoder's bit reader.
#pragma once

#include <cstdint>
#include <vector>

namespace kivo::encode {

struct BitWriter {
  std::vector<uint32_t> words;  // whole words already written
  uint32_t bits = 0;            // the partial word, next bit at position `held`
  uint32_t held = 0;            // bits in `bits`, 0 to 31
};

// Writes the low n bits of value (n from 0 to 32), first-read bit = bit 0.
void PutBits(BitWriter& writer, uint32_t value, uint32_t n);
void PutBit(BitWriter& writer, uint32_t bit);
// Bits written so far.
uint64_t BitCount(const BitWriter& writer);
// Pads the partial word with zero bits so the stream is whole words.
void FlushWord(BitWriter& writer);
// Appends another writer's bits (not yet flushed) after this one's.
void AppendBits(BitWriter& writer, const BitWriter& tail);
// The stream as little-endian bytes; flushes first.
std::vector<uint8_t> WriterBytes(BitWriter& writer);

}  // namespace kivo::encode
