// SPDX-License-Identifier: BSD-2-Clause
// A movie inside a file: the file opened with the C runtime's descriptors,
// moved to the movie's first byte, and lent to the library as its handle
// (a descriptor on POSIX, the Windows handle behind it on Windows).
#include "movie_source.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace kivo::tools {
namespace {

#ifdef _WIN32
int OpenForReading(const char* path) { return _open(path, _O_RDONLY | _O_BINARY); }
int64_t SizeOf(int fd) { return _filelengthi64(fd); }
bool SeekTo(int fd, uint64_t at) { return _lseeki64(fd, static_cast<int64_t>(at), SEEK_SET) >= 0; }
const void* HandleOf(int fd) { return reinterpret_cast<const void*>(_get_osfhandle(fd)); }
void CloseDescriptor(int fd) { _close(fd); }
#else
int OpenForReading(const char* path) { return open(path, O_RDONLY | O_CLOEXEC); }
int64_t SizeOf(int fd) {
  struct stat s;
  return fstat(fd, &s) == 0 ? static_cast<int64_t>(s.st_size) : -1;
}
bool SeekTo(int fd, uint64_t at) { return lseek(fd, static_cast<off_t>(at), SEEK_SET) >= 0; }
const void* HandleOf(int fd) { return reinterpret_cast<const void*>(static_cast<intptr_t>(fd)); }
void CloseDescriptor(int fd) { close(fd); }
#endif

}  // namespace

MovieSource::~MovieSource() {
  CloseMovie(movie);
  if (descriptor >= 0) CloseDescriptor(descriptor);
}

std::string OpenMovieSource(const std::string& path, uint64_t offset, uint32_t openFlags, bool ownFile,
                            MovieSource* source) {
  // The system's reason when the file cannot be read at all.
  source->descriptor = OpenForReading(path.c_str());
  if (source->descriptor < 0) return strerror(errno);
  if (!offset && !ownFile) {
    CloseDescriptor(source->descriptor);
    source->descriptor = -1;
    source->movie = OpenMovie(path.c_str(), openFlags);
    return source->movie ? "" : GetErrorText();
  }
  if (ownFile) {
    const int64_t size = SizeOf(source->descriptor);
    if (size < 0 || static_cast<uint64_t>(size) < offset) return "the movie's offset lies beyond the end";
  }
  if (!SeekTo(source->descriptor, offset)) return "cannot seek to the movie's offset";
  source->movie = OpenMovie(HandleOf(source->descriptor), openFlags | kOpenHandle);
  return source->movie ? "" : GetErrorText();
}

}  // namespace kivo::tools
