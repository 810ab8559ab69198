// The --info view of a movie (header, tracks and index as JSON) and the
// reading of those tables that --stats shares.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "movie/container.h"
#include "platform/platform.h"

namespace kivo::tools {

struct MovieTables {
  MovieHeader header{};
  std::vector<uint32_t> maxBytes, audioWords, ids;  // one per track
  std::vector<uint32_t> index;                      // indexLast + 1 entries
};

// An open movie file: closed when it goes.
struct MovieFile {
  os::FileHandle handle = os::kNoFile;
  uint64_t offset = 0;  // the movie's first byte
  uint64_t size = 0;    // bytes from there to the end of the file
  MovieFile() = default;
  MovieFile(const MovieFile&) = delete;
  MovieFile& operator=(const MovieFile&) = delete;
  ~MovieFile() { os::CloseFile(handle); }
};

bool ReadAt(os::FileHandle f, uint64_t at, void* to, uint32_t size);

// Opens the movie at `offset` in the file and reads its header and tables,
// checked as an open checks them. Returns the error text, empty on success.
std::string ReadMovieTables(const char* path, uint64_t offset, MovieFile* file, MovieTables* tables);

// Writes the header, track table and index as JSON. Returns the error text,
// empty on success.
std::string WriteMovieInfo(const char* path, uint64_t offset, FILE* out);

}  // namespace kivo::tools
