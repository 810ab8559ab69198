// SPDX-License-Identifier: BSD-2-Clause
// Fuzz target: the encoder's WAV reader on any file, reading the samples in
// pieces of odd sizes; it may never hand out more frames than it announced.
#include <cstdint>
#include <string>
#include <vector>

#include "encode/input_wav.h"
#include "fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const std::string path = kivo::fuzz::WriteScratchFile(".wav", data, size);
  if (path.empty()) return 0;
  kivo::encode::WavInput in;
  std::string error;
  if (!kivo::encode::OpenWav(in, path, &error)) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  if (in.channels < 1 || in.channels > 2 || (in.bits != 8 && in.bits != 16) || in.rate == 0) __builtin_trap();
  const uint64_t frames = kivo::encode::WavFrames(in);
  // The sample after the asked-for frames is a guard the reader must not touch.
  std::vector<int16_t> samples(2 * 257 + 1);
  uint64_t total = 0;
  for (uint32_t piece = 1;; piece = piece * 3 % 257 + 1) {
    samples.back() = 0x5A5A;
    int64_t got = kivo::encode::ReadWavSamples(in, samples.data(), piece, &error);
    if (samples.back() != 0x5A5A) __builtin_trap();
    if (got < 0 || got == 0) break;
    if (uint64_t(got) > piece) __builtin_trap();
    total += uint64_t(got);
    if (total > frames) __builtin_trap();
  }
  kivo::encode::CloseWav(in);
  return 0;
}
