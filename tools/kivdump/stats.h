// SPDX-License-Identifier: BSD-2-Clause
// kivdump --stats: per frame its size, key-frame bit and the block types of
// each plane, decoded from the stream as a player reads it, for people who
// tune movies.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace kivo::tools {

// Writes the table of every frame and a total per plane. Returns the error
// text, empty on success; a malformed frame is reported in its row, not as
// an error.
std::string WriteMovieStats(const char* path, uint64_t offset, FILE* out);

}  // namespace kivo::tools
