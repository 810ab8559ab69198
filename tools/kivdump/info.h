// SPDX-License-Identifier: BSD-2-Clause
// The --info view of a movie: its header, tracks and per-frame index as JSON.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace kivo::tools {

// Writes the header, track table and index of the movie at `offset` of
// `path` as JSON. Returns the error text, empty on success.
std::string WriteMovieInfo(const char* path, uint64_t offset, FILE* out);

}  // namespace kivo::tools
