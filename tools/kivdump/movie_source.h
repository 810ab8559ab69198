// SPDX-License-Identifier: BSD-2-Clause
// Opening a movie for kivdump through the library: from a file, or from a
// stretch of a file that starts at a byte offset (a movie stored inside
// another file), by handing the library an open file standing at that byte.
#pragma once

#include <cstdint>
#include <string>

#include "kivo/kivo.h"

namespace kivo::tools {

struct MovieSource {
  Movie* movie = nullptr;
  int descriptor = -1;  // the file the library reads through, when the tool opened it
  MovieSource() = default;
  MovieSource(const MovieSource&) = delete;
  MovieSource& operator=(const MovieSource&) = delete;
  ~MovieSource();
};

// Opens the movie at `offset` of `path` with `openFlags`. With an offset, or
// with `ownFile`, the tool opens the file itself, so that a missing file or
// an offset past its end reads "cannot open PATH" or "cannot read PATH";
// otherwise the library opens it by name. Returns the error text (the
// library's for a file it refuses), empty on success.
std::string OpenMovieSource(const std::string& path, uint64_t offset, uint32_t openFlags, bool ownFile,
                            MovieSource* source);

}  // namespace kivo::tools
