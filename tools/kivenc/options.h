// SPDX-License-Identifier: BSD-2-Clause
// kivenc's command line: what the user asked for, checked and with defaults.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "encode/encoder.h"

namespace kivo::tools {

struct AudioInput {
  uint32_t id = 0;
  std::string path;
};

struct EncodeOptions {
  std::vector<std::string> inputs;
  std::string output;
  char revision = 'i';
  bool alpha = false, grey = false, quiet = false;
  uint32_t displayMode = 0;
  uint32_t rateNum = 0, rateDen = 0;  // 0: from the input, else 25
  uint32_t keyInterval = 50;
  std::vector<AudioInput> audio;
  encode::AudioMode audioMode = encode::AudioMode::kRdft;
  uint32_t audioQuality = 75;
  uint32_t quality = 75;
  uint32_t dataRate = 0;
  uint32_t effort = 1;
  uint32_t threads = 0;  // 0: one per processor core
  bool lossless = false;  // the exact coding: Unchanged, Fill and Raw blocks only
  bool help = false, version = false;
};

extern const char* const kEncodeUsage;

// Parses argv[1...]; false with *error set for a bad command line.
bool ParseEncodeOptions(int argc, char** argv, EncodeOptions* options, std::string* error);

}  // namespace kivo::tools
