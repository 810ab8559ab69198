// SPDX-License-Identifier: BSD-2-Clause
// WAV reader: walks the RIFF chunks up to "data", reading only the format
// chunk on the way; samples are then read in caller-sized pieces.
#include "encode/input_wav.h"

#include "encode/encode_error.h"
#include "encode/output_file.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace kivo::encode {
namespace {

uint32_t Le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t Le32(const uint8_t* p) { return Le16(p) | Le16(p + 2) << 16; }

bool Skip(FILE* f, uint64_t bytes) {
  uint8_t scratch[4096];
  while (bytes > 0) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(bytes, sizeof scratch));
    if (fread(scratch, 1, n, f) != n) return false;
    bytes -= n;
  }
  return true;
}

constexpr uint32_t kFormatPcm = 1, kFormatExtensible = 0xFFFE;

}  // namespace

bool OpenWav(WavInput& in, const std::string& path, std::string* error) {
  in = WavInput{};
  in.path = path;
  in.file = fopen(path.c_str(), "rb");
  if (!in.file) return Fail(error, FileError(path));
  std::error_code ec;
  const uint64_t fileSize = std::filesystem::file_size(path, ec);
  auto fail = [&](const std::string& why) {
    CloseWav(in);
    return Fail(error, path + ": " + why);
  };
  uint8_t riff[12];
  if (fread(riff, 1, 12, in.file) != 12 || memcmp(riff, "RIFF", 4) != 0 || memcmp(riff + 8, "WAVE", 4) != 0)
    return fail("not a WAV file");
  uint64_t position = 12;
  bool haveFormat = false;
  for (;;) {
    uint8_t chunk[8];
    if (fread(chunk, 1, 8, in.file) != 8)
      return fail(haveFormat ? "no audio data (the data chunk is missing)" : "no format chunk");
    position += 8;
    const uint32_t size = Le32(chunk + 4);
    if (memcmp(chunk, "fmt ", 4) == 0) {
      if (size < 16 || size > 4096) return fail("malformed format chunk");
      uint8_t fmt[4096];
      if (fread(fmt, 1, size, in.file) != size) return fail("the file ends inside the format chunk");
      if (size & 1) Skip(in.file, 1);
      position += size + (size & 1);
      uint32_t tag = Le16(fmt);
      if (tag == kFormatExtensible && size >= 40) tag = Le16(fmt + 24);  // the sub-format's first word
      in.channels = Le16(fmt + 2);
      const uint32_t rate = Le32(fmt + 4);
      in.bits = Le16(fmt + 14);
      const uint32_t blockAlign = Le16(fmt + 12);
      if (tag != kFormatPcm)
        return fail("not PCM audio (format tag " + std::to_string(tag) + "); only 8- or 16-bit PCM can be used");
      if (in.bits != 8 && in.bits != 16)
        return fail(std::to_string(in.bits) + "-bit samples; only 8- or 16-bit PCM can be used");
      if (in.channels != 1 && in.channels != 2)
        return fail(std::to_string(in.channels) + " channels; only mono or stereo can be used");
      if (rate == 0 || rate > 65535)
        return fail("sample rate " + std::to_string(rate) + " Hz; the rate must be 1 to 65535 Hz");
      if (blockAlign != in.channels * in.bits / 8) return fail("malformed format chunk (block size)");
      in.rate = rate;
      haveFormat = true;
    } else if (memcmp(chunk, "data", 4) == 0) {
      if (!haveFormat) return fail("the data chunk comes before the format chunk");
      // Streaming writers leave the size open (0 or all ones): take what the file holds.
      uint64_t bytes = size;
      if (fileSize > position && (bytes == 0 || bytes == 0xFFFFFFFFu || position + bytes > fileSize))
        bytes = fileSize - position;
      const uint32_t frameBytes = in.channels * in.bits / 8;
      in.dataBytes = bytes - bytes % frameBytes;
      return true;
    } else {
      if (!Skip(in.file, uint64_t(size) + (size & 1)))
        return fail(haveFormat ? "no audio data (the data chunk is missing)" : "no format chunk");
      position += uint64_t(size) + (size & 1);
    }
  }
}

int64_t ReadWavSamples(WavInput& in, int16_t* out, uint32_t frames, std::string* error) {
  const uint32_t frameBytes = in.channels * in.bits / 8;
  const uint64_t left = (in.dataBytes - in.bytesRead) / frameBytes;
  const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(frames, left));
  if (n == 0) return 0;
  const uint32_t samples = n * in.channels;
  // Read into the tail of the output so 8-bit samples can be widened in place.
  uint8_t* raw = reinterpret_cast<uint8_t*>(out) + (in.bits == 8 ? samples : 0);
  if (fread(raw, 1, size_t(n) * frameBytes, in.file) != size_t(n) * frameBytes) {
    Fail(error, in.path + ": the file ends inside the audio data");
    return -1;
  }
  in.bytesRead += uint64_t(n) * frameBytes;
  if (in.bits == 8) {
    for (uint32_t i = 0; i < samples; ++i) out[i] = static_cast<int16_t>((int32_t(raw[i]) - 128) * 256);
  } else {
    for (uint32_t i = 0; i < samples; ++i) {
      const uint8_t* p = reinterpret_cast<const uint8_t*>(out) + 2 * i;
      out[i] = static_cast<int16_t>(Le16(p));
    }
  }
  return n;
}

uint64_t WavFrames(const WavInput& in) {
  const uint32_t frameBytes = in.channels * in.bits / 8;
  return frameBytes ? in.dataBytes / frameBytes : 0;
}

void CloseWav(WavInput& in) {
  if (in.file) fclose(in.file);
  in.file = nullptr;
}

}  // namespace kivo::encode
