// SPDX-License-Identifier: BSD-2-Clause
// Movies for the tests: written by the container writer into memory or into
// files of the test folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "encode/container_writer.h"

namespace kivo::test {

// A folder the tests may write to.
std::string TestFolder();
// The whole content of a file (empty when it cannot be read).
std::string Slurp(const std::string& path);
// The command that starts a tool of this build (the tests run from
// <build>/tests): its path, behind the emulator in a cross build.
std::string ToolPath(const char* name);
// Writes bytes to a file of the test folder and returns its path.
std::string WriteTestFile(const std::string& name, const std::vector<uint8_t>& bytes);

// A movie of `frames` frames of `width` x `height` whose video data is
// `videoBytes` of filler (the decoder stops safely on it), key frames as
// `keyEvery` says (1 = all), `rateNum`/`rateDen` frames per second.
std::vector<uint8_t> FillerMovie(uint32_t frames, uint32_t width = 64, uint32_t height = 48, uint32_t keyEvery = 5,
                                 uint32_t videoBytes = 200, uint32_t rateNum = 25, uint32_t rateDen = 1);

}  // namespace kivo::test
