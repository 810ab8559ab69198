// SPDX-License-Identifier: BSD-2-Clause
// PNG output through libpng's row interface; without libpng every write
// fails, and the tools say so.
#include "png_file.h"

#ifdef KIVO_HAVE_PNG
#include <png.h>
#endif

#include <cstdio>
#include <vector>

#include "encode/output_file.h"

namespace kivo::tools {

#ifdef KIVO_HAVE_PNG
std::string WritePng(const std::string& path, const uint8_t* rgba, uint32_t width, uint32_t height, bool alpha) {
  encode::OutputFile out;
  std::string error;
  if (!encode::OpenOutput(out, path, &error)) return error;
  FILE* f = out.file;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  std::vector<uint8_t> rgb;
  volatile bool ok = false;
  if (info && !setjmp(png_jmpbuf(png))) {
    png_init_io(png, f);
    png_set_IHDR(png, info, width, height, 8, alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (!alpha) rgb.resize(size_t(width) * 3);
    for (uint32_t y = 0; y < height; ++y) {
      const uint8_t* row = rgba + size_t(y) * width * 4;
      if (!alpha) {
        for (uint32_t x = 0; x < width; ++x)
          for (int c = 0; c < 3; ++c) rgb[size_t(x) * 3 + c] = row[size_t(x) * 4 + c];
        row = rgb.data();
      }
      png_write_row(png, const_cast<png_bytep>(row));
    }
    png_write_end(png, nullptr);
    ok = true;
  }
  png_destroy_write_struct(&png, info ? &info : nullptr);
  if (!ok) {
    encode::AbandonOutput(out);
    return path + ": cannot write the picture";
  }
  return encode::CommitOutput(out, &error) ? "" : error;
}
#else
std::string WritePng(const std::string& path, const uint8_t*, uint32_t, uint32_t, bool) {
  return path + ": this build cannot write PNG files";
}
#endif

}  // namespace kivo::tools
