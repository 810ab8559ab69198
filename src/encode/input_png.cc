// SPDX-License-Identifier: BSD-2-Clause
// PNG sequence reader over the PNG library's simplified reading interface;
// one picture is held at a time.
#include "encode/input_png.h"

#include "encode/encode_error.h"
#include "encode/output_file.h"

#include <cstdio>
#include <cstring>

#include "encode/colour_convert.h"

#if KIVO_HAVE_PNG
#include <png.h>
#endif

namespace kivo::encode {
namespace {

constexpr uint32_t kLargestSide = 16384;
constexpr uint32_t kMostFiles = 10000000;

bool Exists(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return false;
  fclose(f);
  return true;
}

}  // namespace

std::vector<std::string> ExpandPngPattern(const std::string& pattern, std::string* error) {
  std::vector<std::string> files;
  const size_t percent = pattern.find('%');
  if (percent == std::string::npos) {
    if (Exists(pattern)) files.push_back(pattern);
    else Fail(error, FileError(pattern));
    return files;
  }
  size_t at = percent + 1;
  bool zeros = false;
  if (at < pattern.size() && pattern[at] == '0') zeros = true, ++at;
  uint32_t digits = 0;
  while (at < pattern.size() && pattern[at] >= '0' && pattern[at] <= '9' && digits < 3)
    digits = digits * 10 + uint32_t(pattern[at++] - '0');
  if (at >= pattern.size() || pattern[at] != 'd' || pattern.find('%', at) != std::string::npos || digits > 12) {
    Fail(error, pattern + ": a pattern needs exactly one integer field such as %d or %04d");
    return files;
  }
  const std::string head = pattern.substr(0, percent), tail = pattern.substr(at + 1);
  auto name = [&](uint32_t n) {
    std::string number = std::to_string(n);
    if (number.size() < digits) number.insert(0, digits - number.size(), zeros ? '0' : ' ');
    return head + number + tail;
  };
  uint32_t n = Exists(name(0)) ? 0 : 1;
  for (; n < kMostFiles && Exists(name(n)); ++n) files.push_back(name(n));
  if (files.empty()) Fail(error, pattern + ": no file matches (tried numbers 0 and 1)");
  return files;
}

#if KIVO_HAVE_PNG

bool PngSupported() { return true; }

namespace {

// Reads one file as 8-bit RGBA into in.rgba.
bool ReadRgba(PngInput& in, const std::string& path, bool headerOnly, uint32_t* width, uint32_t* height,
              bool* hasAlpha, std::string* error) {
  png_image image;
  memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) {
    std::string why = image.message[0] ? image.message : "not a PNG file";
    png_image_free(&image);
    return Fail(error, path + ": " + why);
  }
  *width = image.width;
  *height = image.height;
  *hasAlpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
  if (headerOnly || image.width == 0 || image.height == 0 || image.width > kLargestSide ||
      image.height > kLargestSide) {
    png_image_free(&image);
    return true;
  }
  image.format = PNG_FORMAT_RGBA;
  in.rgba.resize(size_t(image.width) * image.height * 4);
  // The background only matters for files without alpha, where it is unused.
  if (!png_image_finish_read(&image, nullptr, in.rgba.data(), 0, nullptr)) {
    std::string why = image.message[0] ? image.message : "cannot be decoded";
    png_image_free(&image);
    return Fail(error, path + ": " + why);
  }
  return true;
}

}  // namespace

bool OpenPngSequence(PngInput& in, const std::vector<std::string>& files, std::string* error) {
  in = PngInput{};
  in.files = files;
  if (files.empty()) return Fail(error, "no PNG files given");
  if (!ReadRgba(in, files[0], true, &in.width, &in.height, &in.firstHasAlpha, error)) return false;
  if (in.width == 0 || in.height == 0 || in.width > kLargestSide || in.height > kLargestSide)
    return Fail(error, files[0] + ": the picture size must be 1 to 16384 on each side");
  return true;
}

int ReadPngFrame(PngInput& in, const PngOptions& options, SourcePicture& out, std::string* error) {
  if (in.next >= in.files.size()) return 0;
  const std::string& path = in.files[in.next];
  uint32_t w = 0, h = 0;
  bool hasAlpha = false;
  // The size is checked from the header before any pixels are decoded.
  if (!ReadRgba(in, path, true, &w, &h, &hasAlpha, error)) return -1;
  if (w != in.width || h != in.height) {
    Fail(error, path + ": the picture is " + std::to_string(w) + "x" + std::to_string(h) + ", the first was " +
                    std::to_string(in.width) + "x" + std::to_string(in.height) + " (sizes may not change)");
    return -1;
  }
  if (!ReadRgba(in, path, false, &w, &h, &hasAlpha, error)) return -1;
  ++in.next;
  out.width = w;
  out.height = h;
  out.luma.resize(size_t(w) * h);
  if (options.grey) {
    out.cr.clear();
    out.cb.clear();
  } else {
    out.cr.resize(size_t(SourceChromaWidth(w)) * SourceChromaHeight(h));
    out.cb.resize(out.cr.size());
  }
  RgbToYuv(in.rgba.data(), w * 4, 4, w, h, options.beforeH, options.grey, out.luma.data(),
           options.grey ? nullptr : out.cr.data(), options.grey ? nullptr : out.cb.data());
  if (options.beforeH) out.cr.swap(out.cb);
  if (options.alpha) {
    out.alpha.resize(size_t(w) * h);
    for (size_t i = 0; i < out.alpha.size(); ++i) out.alpha[i] = in.rgba[i * 4 + 3];
  } else {
    out.alpha.clear();
  }
  return 1;
}

#else

bool PngSupported() { return false; }

bool OpenPngSequence(PngInput& in, const std::vector<std::string>& files, std::string* error) {
  in = PngInput{};
  return Fail(error, "this build cannot read PNG files (it was made without the PNG library)");
}

int ReadPngFrame(PngInput&, const PngOptions&, SourcePicture&, std::string* error) {
  Fail(error, "this build cannot read PNG files (it was made without the PNG library)");
  return -1;
}

#endif

}  // namespace kivo::encode
