// SPDX-License-Identifier: BSD-2-Clause
// YUV4MPEG2 reader: a text header line, then per frame a "FRAME" line and the
// planes Y, Cb, Cr (or Y alone for mono).
#include "encode/input_y4m.h"

#include "encode/encode_error.h"
#include "encode/output_file.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace kivo::encode {
namespace {

constexpr uint32_t kLargestSide = 16384;
constexpr size_t kLongestLine = 4096;

// Reads up to and without the next '\n'; false at end of file or for a line
// that runs on too long.
bool ReadLine(FILE* f, std::string& line, bool* atEnd) {
  line.clear();
  *atEnd = false;
  for (;;) {
    int c = fgetc(f);
    if (c == EOF) {
      *atEnd = line.empty();
      return false;
    }
    if (c == '\n') return true;
    if (line.size() >= kLongestLine) return false;
    line.push_back(static_cast<char>(c));
  }
}

bool ParseNumber(const char* text, uint32_t* value) {
  if (*text < '0' || *text > '9') return false;
  char* end = nullptr;
  unsigned long v = strtoul(text, &end, 10);
  if (v > 0xFFFFFFFFul) return false;
  *value = static_cast<uint32_t>(v);
  return end && (*end == 0 || *end == ':');
}

int FailFrame(std::string* error, const std::string& text) {
  Fail(error, text);
  return -1;
}

bool ReadPlane(FILE* f, uint8_t* out, size_t size) { return fread(out, 1, size, f) == size; }

}  // namespace

bool OpenY4m(Y4mInput& in, const std::string& path, std::string* error) {
  in = Y4mInput{};
  in.path = path;
  in.file = fopen(path.c_str(), "rb");
  if (!in.file) return Fail(error, FileError(path));
  std::error_code ec;
  in.fileSize = std::filesystem::file_size(path, ec);
  if (ec) in.fileSize = 0;
  std::string line;
  bool atEnd = false;
  if (!ReadLine(in.file, line, &atEnd) || line.compare(0, 10, "YUV4MPEG2 ") != 0) {
    CloseY4m(in);
    return Fail(error, path + ": not a YUV4MPEG2 file");
  }
  std::string chroma = "420";
  size_t at = 10;
  while (at < line.size()) {
    size_t end = line.find(' ', at);
    if (end == std::string::npos) end = line.size();
    const std::string token = line.substr(at, end - at);
    at = end + 1;
    if (token.empty()) continue;
    const char* value = token.c_str() + 1;
    bool ok = true;
    switch (token[0]) {
      case 'W': ok = ParseNumber(value, &in.width); break;
      case 'H': ok = ParseNumber(value, &in.height); break;
      case 'F': {
        const char* colon = strchr(value, ':');
        ok = colon && ParseNumber(value, &in.rateNum) && ParseNumber(colon + 1, &in.rateDen);
        if (ok && (in.rateNum == 0 || in.rateDen == 0)) in.rateNum = in.rateDen = 0;
        break;
      }
      case 'C': chroma = value; break;
      default: break;  // interlacing, aspect and extensions do not change the samples
    }
    if (!ok) {
      CloseY4m(in);
      return Fail(error, path + ": bad header field '" + token + "'");
    }
  }
  if (in.width == 0 || in.height == 0 || in.width > kLargestSide || in.height > kLargestSide) {
    CloseY4m(in);
    return Fail(error, path + ": the picture size must be 1 to 16384 on each side");
  }
  if (chroma == "mono") {
    in.mono = true;
  } else if (chroma != "420" && chroma != "420jpeg" && chroma != "420paldv" && chroma != "420mpeg2") {
    CloseY4m(in);
    return Fail(error, path + ": sample layout C" + chroma + " cannot be read (only 4:2:0 and mono, 8 bits)");
  }
  const uint64_t lumaBytes = uint64_t(in.width) * in.height;
  in.frameBytes = lumaBytes + (in.mono ? 0 : 2 * uint64_t(SourceChromaWidth(in.width)) * SourceChromaHeight(in.height));
  in.dataStart = line.size() + 1;
  return true;
}

int ReadY4mFrame(Y4mInput& in, SourcePicture& out, std::string* error) {
  std::string line;
  bool atEnd = false;
  const std::string where = in.path + ": frame " + std::to_string(in.framesRead + 1);
  if (!ReadLine(in.file, line, &atEnd)) {
    if (atEnd) return 0;
    return FailFrame(error, where + ": cut off or malformed frame header");
  }
  if (line.compare(0, 5, "FRAME") != 0 || (line.size() > 5 && line[5] != ' '))
    return FailFrame(error, where + ": frame header missing");
  const uint32_t cw = SourceChromaWidth(in.width), ch = SourceChromaHeight(in.height);
  out.width = in.width;
  out.height = in.height;
  out.luma.resize(size_t(in.width) * in.height);
  if (in.mono) {
    out.cb.clear();
    out.cr.clear();
  } else {
    out.cb.resize(size_t(cw) * ch);
    out.cr.resize(size_t(cw) * ch);
  }
  if (!ReadPlane(in.file, out.luma.data(), out.luma.size()) ||
      (!in.mono && (!ReadPlane(in.file, out.cb.data(), out.cb.size()) ||
                    !ReadPlane(in.file, out.cr.data(), out.cr.size()))))
    return FailFrame(error, where + ": the file ends inside the frame");
  ++in.framesRead;
  return 1;
}

uint32_t EstimateY4mFrames(const Y4mInput& in) {
  if (in.fileSize <= in.dataStart) return 0;
  return static_cast<uint32_t>((in.fileSize - in.dataStart) / (in.frameBytes + 6));
}

void CloseY4m(Y4mInput& in) {
  if (in.file) fclose(in.file);
  in.file = nullptr;
}

}  // namespace kivo::encode
