// The --info view of a movie: header, tracks and index as JSON.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kivo::tools {

// Reads the header, track table and index of the movie at `offset` in the
// file and writes them as JSON. Returns the error text, empty on success.
std::string WriteMovieInfo(const char* path, uint64_t offset, FILE* out);

}  // namespace kivo::tools
