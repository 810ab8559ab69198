// SPDX-License-Identifier: BSD-2-Clause
// Writing 8-bit RGB or RGBA pictures as PNG files (where the build has the
// PNG library).
#pragma once

#include <cstdint>
#include <string>

namespace kivo::tools {

// Writes `width` x `height` pixels of R, G, B, A bytes (rows packed) to
// `path`, keeping the alpha channel when `alpha`, else dropping it. False
// when the file cannot be written or this build has no PNG support; a file
// left half written is the caller's to remove.
bool WritePng(const std::string& path, const uint8_t* rgba, uint32_t width, uint32_t height, bool alpha);

}  // namespace kivo::tools
