// SPDX-License-Identifier: BSD-2-Clause
// Writing 8-bit RGB or RGBA pictures as PNG files (where the build has the
// PNG library).
#pragma once

#include <cstdint>
#include <string>

namespace kivo::tools {

// Writes `width` x `height` pixels of R, G, B, A bytes (rows packed) to
// `path` without clobbering (encode/output_file.h), keeping the alpha
// channel when `alpha`, else dropping it. Returns the error text ("PATH:
// reason"), empty on success.
std::string WritePng(const std::string& path, const uint8_t* rgba, uint32_t width, uint32_t height, bool alpha);

}  // namespace kivo::tools
