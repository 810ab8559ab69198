// SPDX-License-Identifier: BSD-2-Clause
// Streams samples out of a WAV file: 8- or 16-bit PCM, mono or stereo, at a
// rate of 1 to 65535 Hz. Anything else is refused with a clear reason.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace kivo::encode {

struct WavInput {
  FILE* file = nullptr;
  std::string path;
  uint32_t rate = 0;
  uint32_t channels = 0;  // 1 or 2
  uint32_t bits = 0;      // 8 or 16
  uint64_t dataBytes = 0; // PCM bytes in the data chunk (cut to the file)
  uint64_t bytesRead = 0;
};

// Opens the file and finds its format and data chunks.
bool OpenWav(WavInput& in, const std::string& path, std::string* error);
// Reads up to `frames` sample frames as 16-bit signed samples (8-bit
// samples scaled by 256; channels interleaved). Returns the frames read, 0
// at the end, -1 with *error set on a read error.
int64_t ReadWavSamples(WavInput& in, int16_t* out, uint32_t frames, std::string* error);
// Sample frames in the file.
uint64_t WavFrames(const WavInput& in);
void CloseWav(WavInput& in);

}  // namespace kivo::encode
