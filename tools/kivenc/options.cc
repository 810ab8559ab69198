// SPDX-License-Identifier: BSD-2-Clause
// Parsing of kivenc's switches.
#include "options.h"

#include <cstdlib>
#include <cstring>

namespace kivo::tools {
namespace {

bool Fail(std::string* error, const std::string& text) {
  *error = text;
  return false;
}

// A whole decimal number within [low, high].
bool Number(const std::string& text, uint64_t low, uint64_t high, uint64_t* value) {
  if (text.empty() || text.size() > 12) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + uint64_t(c - '0');
  }
  if (v < low || v > high) return false;
  *value = v;
  return true;
}

// A byte rate with an optional k or M (powers of 1000).
bool ByteRate(std::string text, uint32_t* value) {
  uint64_t scale = 1;
  if (!text.empty() && (text.back() == 'k' || text.back() == 'K')) scale = 1000, text.pop_back();
  else if (!text.empty() && (text.back() == 'm' || text.back() == 'M')) scale = 1000000, text.pop_back();
  uint64_t v = 0;
  if (!Number(text, 1, 0xFFFFFFFFull, &v) || v * scale > 0xFFFFFFFFull) return false;
  *value = static_cast<uint32_t>(v * scale);
  return true;
}

}  // namespace

const char* const kEncodeUsage =
    "usage: kivenc [options] INPUT... -o OUT.kiv\n"
    "Makes a Kivo movie from a YUV4MPEG2 file (4:2:0 or mono) or a sequence of PNG\n"
    "pictures (RGB or RGBA), with up to eight sound tracks from WAV files.\n"
    "\n"
    "  INPUT                 one .y4m file, or PNG files: several names, or one name\n"
    "                        with a number field (frame%04d.png counts from 0 or 1)\n"
    "  -o, --output FILE     the movie to write\n"
    "  --revision f|g|h|i    stream revision (default i)\n"
    "  --alpha               keep the PNG alpha channel as the movie's alpha plane\n"
    "  --grey                a grey movie (no chroma planes; mono Y4M input is grey)\n"
    "  --display-mode N      display mode stored in the movie, 0 (plain) to 6\n"
    "  --rate NUM[/DEN]      frames per second (default: the Y4M header's, else 25)\n"
    "  --key-interval N      a key frame at least every N frames (default 50)\n"
    "  --audio ID:FILE.wav   a sound track with id ID (8- or 16-bit PCM, up to 8)\n"
    "  --audio-mode rdft|dct coding of the sound tracks (default rdft)\n"
    "  --audio-quality Q     sound quality, 1 (smallest) to 100 (best), default 75\n"
    "  --quality Q           1 (smallest) to 100 (best), default 75\n"
    "  --data-rate RATE      target bytes per second for the busiest second (k, M)\n"
    "  --effort N            0 fastest, 1 default, 2 widest motion search\n"
    "  --threads N           threads that code the pictures, 1 to 64 (default: one\n"
    "                        per processor core); the movie is the same for any N\n"
    "  --lossless            exact pictures (unchanged, flat and raw blocks only)\n"
    "  --quiet               no progress line\n"
    "  --                    every later argument is an input\n"
    "  -h, --help            this text\n"
    "  --version             the version\n";

bool ParseEncodeOptions(int argc, char** argv, EncodeOptions* o, std::string* error) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      o->inputs.push_back(arg);
      continue;
    }
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return Fail(error, arg + " needs a value");
      *out = argv[++i];
      return true;
    };
    std::string v;
    uint64_t n = 0;
    if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "-h" || arg == "--help") {
      o->help = true;
    } else if (arg == "--version") {
      o->version = true;
    } else if (arg == "-o" || arg == "--output") {
      if (!value(&o->output)) return false;
    } else if (arg == "--revision") {
      if (!value(&v)) return false;
      if (v.size() != 1 || v[0] < 'f' || v[0] > 'i') return Fail(error, "--revision takes f, g, h or i");
      o->revision = v[0];
    } else if (arg == "--alpha") {
      o->alpha = true;
    } else if (arg == "--grey" || arg == "--gray") {
      o->grey = true;
    } else if (arg == "--lossless") {
      o->lossless = true;
    } else if (arg == "--effort") {
      if (!value(&v)) return false;
      if (!Number(v, 0, 2, &n)) return Fail(error, "--effort takes 0, 1 or 2");
      o->effort = static_cast<uint32_t>(n);
    } else if (arg == "--threads") {
      if (!value(&v)) return false;
      if (!Number(v, 1, 64, &n)) return Fail(error, "--threads takes 1 to 64");
      o->threads = static_cast<uint32_t>(n);
    } else if (arg == "--quiet") {
      o->quiet = true;
    } else if (arg == "--display-mode") {
      if (!value(&v)) return false;
      if (!Number(v, 0, 6, &n)) return Fail(error, "--display-mode takes 0 to 6");
      o->displayMode = static_cast<uint32_t>(n);
    } else if (arg == "--rate") {
      if (!value(&v)) return false;
      const size_t slash = v.find('/');
      uint64_t num = 0, den = 1;
      if (!Number(v.substr(0, slash), 1, 0xFFFFFFFFull, &num) ||
          (slash != std::string::npos && !Number(v.substr(slash + 1), 1, 0xFFFFFFFFull, &den)))
        return Fail(error, "--rate takes NUM or NUM/DEN (whole numbers above 0)");
      o->rateNum = static_cast<uint32_t>(num);
      o->rateDen = static_cast<uint32_t>(den);
    } else if (arg == "--key-interval") {
      if (!value(&v)) return false;
      if (!Number(v, 1, 0xFFFFFFFFull, &n)) return Fail(error, "--key-interval takes a number above 0");
      o->keyInterval = static_cast<uint32_t>(n);
    } else if (arg == "--audio") {
      if (!value(&v)) return false;
      const size_t colon = v.find(':');
      AudioInput a;
      if (colon == std::string::npos || colon + 1 >= v.size() || !Number(v.substr(0, colon), 0, 0xFFFFFFFFull, &n))
        return Fail(error, "--audio takes ID:FILE.wav (ID a whole number)");
      a.id = static_cast<uint32_t>(n);
      a.path = v.substr(colon + 1);
      for (const AudioInput& other : o->audio)
        if (other.id == a.id) return Fail(error, "two sound tracks with id " + std::to_string(a.id));
      if (o->audio.size() == 8) return Fail(error, "at most eight sound tracks");
      o->audio.push_back(a);
    } else if (arg == "--audio-mode") {
      if (!value(&v)) return false;
      if (v == "rdft") o->audioMode = encode::AudioMode::kRdft;
      else if (v == "dct") o->audioMode = encode::AudioMode::kDct;
      else return Fail(error, "--audio-mode takes rdft or dct");
    } else if (arg == "--audio-quality") {
      if (!value(&v)) return false;
      if (!Number(v, 1, 100, &n)) return Fail(error, "--audio-quality takes 1 to 100");
      o->audioQuality = static_cast<uint32_t>(n);
    } else if (arg == "--quality") {
      if (!value(&v)) return false;
      if (!Number(v, 1, 100, &n)) return Fail(error, "--quality takes 1 to 100");
      o->quality = static_cast<uint32_t>(n);
    } else if (arg == "--data-rate") {
      if (!value(&v)) return false;
      if (!ByteRate(v, &o->dataRate)) return Fail(error, "--data-rate takes bytes per second, e.g. 1000000 or 800k");
    } else {
      return Fail(error, "unknown option '" + arg + "'");
    }
  }
  if (o->help || o->version) return true;
  if (o->inputs.empty()) return Fail(error, "no input given");
  if (o->output.empty()) return Fail(error, "no output given (-o OUT.kiv)");
  return true;
}

}  // namespace kivo::tools
