// SPDX-License-Identifier: BSD-2-Clause
// Bit writer: packs values into little-endian 32-bit words from bit 0 up.
#include "encode/bit_writer.h"

namespace kivo::encode {

void PutBits(BitWriter& writer, uint32_t value, uint32_t n) {
  if (n == 0) return;
  if (n < 32) value &= (1u << n) - 1;
  writer.bits |= value << writer.held;
  uint32_t total = writer.held + n;
  if (total >= 32) {
    writer.words.push_back(writer.bits);
    // Bits of value that did not fit; none when held was 0 (n == 32).
    writer.bits = writer.held == 0 ? 0 : value >> (32 - writer.held);
    total -= 32;
  }
  writer.held = total;
}

void PutBit(BitWriter& writer, uint32_t bit) { PutBits(writer, bit & 1, 1); }

uint64_t BitCount(const BitWriter& writer) {
  return uint64_t(writer.words.size()) * 32 + writer.held;
}

void FlushWord(BitWriter& writer) {
  if (writer.held == 0) return;
  writer.words.push_back(writer.bits);
  writer.bits = 0;
  writer.held = 0;
}

void AppendBits(BitWriter& writer, const BitWriter& tail) {
  for (uint32_t w : tail.words) PutBits(writer, w, 32);
  PutBits(writer, tail.bits, tail.held);
}

std::vector<uint8_t> WriterBytes(BitWriter& writer) {
  FlushWord(writer);
  std::vector<uint8_t> out;
  out.reserve(writer.words.size() * 4);
  for (uint32_t w : writer.words) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(w >> (8 * i)));
  }
  return out;
}

}  // namespace kivo::encode
