// Build step: writes the built-in logo movie as a C++ source (a 4-byte
// aligned array the player opens in memory), or the short demo movie.
//   logo_maker source OUT.cc
//   logo_maker demo OUT.kiv
//   logo_maker logo OUT.kiv   (the logo as a movie file, to look at)
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "assets/logo_art.h"

namespace {

bool WriteAll(const std::string& path, const std::string& text) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
  return fclose(f) == 0 && ok;
}

std::string LogoSource(const std::vector<uint8_t>& movie) {
  std::string s =
      "// Written by the build (assets/logo_maker): the built-in logo movie.\n"
      "#include \"player/logo_movie.h\"\n\n"
      "namespace kivo {\n\nnamespace {\n\n"
      "// The movie's words are read in place, so the array keeps their alignment.\n"
      "alignas(4) const unsigned char kLogoMovie[" +
      std::to_string(movie.size()) + "] = {";
  char hex[8];
  for (size_t i = 0; i < movie.size(); ++i) {
    if (i % 16 == 0) s += "\n   ";
    snprintf(hex, sizeof hex, " 0x%02x,", movie[i]);
    s += hex;
  }
  s += "\n};\n\n}  // namespace\n\n"
       "const void* BuiltInLogoMovie() { return kLogoMovie; }\n"
       "uint32_t BuiltInLogoSize() { return sizeof kLogoMovie; }\n\n"
       "}  // namespace kivo\n";
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc == 3 ? argv[1] : "";
  try {
    if (mode == "source") {
      if (WriteAll(argv[2], LogoSource(kivo::logo::BuildLogoMovie()))) return 0;
    } else if (mode == "demo" || mode == "logo") {
      const std::vector<uint8_t> movie =
          mode == "demo" ? kivo::logo::BuildDemoMovie() : kivo::logo::BuildLogoMovie();
      if (WriteAll(argv[2], std::string(movie.begin(), movie.end()))) return 0;
    } else {
      fprintf(stderr, "usage: logo_maker source OUT.cc | logo_maker demo OUT.kiv | logo_maker logo OUT.kiv\n");
      return 1;
    }
    fprintf(stderr, "logo_maker: cannot write %s\n", argv[2]);
  } catch (const std::exception& e) {
    fprintf(stderr, "logo_maker: %s\n", e.what());
  }
  return 1;
}
