// SPDX-License-Identifier: BSD-2-Clause
// Fuzz target: arbitrary audio chunks through each decoder layout. The first
// byte picks the layout (or KIVO_FUZZ_AUDIO_LAYOUT=0..8 pins one); the rest
// is a chunk after its size field, decoded twice in a row by one decoder (the
// second time blending with the first) with the plain and, where there is
// one, the AVX kernel table. The chunk loop must stay inside the chunk, hand
// over no more than D bytes, and both tables must give the same PCM.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "audio/audio_decoder.h"
#include "audio/audio_kernels.h"

namespace {

struct LayoutChoice {
  uint32_t rate, channels;
  int32_t dct;
};
constexpr LayoutChoice kLayouts[9] = {{11025, 1, 1},  {11025, 2, 0}, {11025, 2, 1}, {22050, 1, 0}, {22050, 2, 0},
                                      {22050, 2, 1},  {44100, 1, 1}, {44100, 2, 0}, {48000, 2, 1}};
int pinned = -1;

struct Sink {
  std::vector<uint8_t> pcm;
};

void Collect(void* context, const int16_t* samples, uint32_t bytes) {
  Sink* s = static_cast<Sink*>(context);
  const uint8_t* p = reinterpret_cast<const uint8_t*>(samples);
  s->pcm.insert(s->pcm.end(), p, p + bytes);
}

std::vector<uint8_t> DecodeTwice(const LayoutChoice& l, const uint8_t* chunk, uint32_t size) {
  kivo::AudioDecoder* d = kivo::OpenAudioDecoder(l.rate, l.channels, l.dct);
  if (!d) __builtin_trap();
  // An exact copy, so that reading past the chunk is a heap overflow.
  std::vector<uint8_t> copy(chunk, chunk + size);
  Sink sink;
  for (int pass = 0; pass < 2; ++pass) {
    const size_t before = sink.pcm.size();
    const uint32_t got = kivo::DecodeAudioChunk(d, copy.data(), size, Collect, &sink);
    if (got != sink.pcm.size() - before) __builtin_trap();
    uint32_t wanted = 0;
    if (size >= 4) memcpy(&wanted, copy.data(), 4);
    if (got > wanted) __builtin_trap();
    // Each block takes at least one word of the chunk.
    const uint32_t blockOut = d->blockBytes - d->overlapBytes;
    if (size >= 4 && got > uint64_t(blockOut) * ((size - 4) / 4 + 1)) __builtin_trap();
  }
  kivo::CloseAudioDecoder(d);
  return sink.pcm;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (const char* v = std::getenv("KIVO_FUZZ_AUDIO_LAYOUT")) pinned = std::atoi(v) % 9;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 20)) return 0;
  const LayoutChoice& layout = kLayouts[pinned >= 0 ? pinned : data[0] % 9];
  const uint32_t chunkSize = static_cast<uint32_t>(size - 1);
  kivo::SetCpuFeatureMask(0);
  const std::vector<uint8_t> plain = DecodeTwice(layout, data + 1, chunkSize);
  kivo::SetCpuFeatureMask(kivo::kCpuAll);
  if (kivo::CpuFeatures() & kivo::kCpuAvx) {
    const std::vector<uint8_t> fast = DecodeTwice(layout, data + 1, chunkSize);
    if (fast != plain) __builtin_trap();
  }
  return 0;
}
