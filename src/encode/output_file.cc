// SPDX-License-Identifier: BSD-2-Clause
// Output files that never clobber: what kind of file the name is decides
// between a temporary file and a rename, or writing in place.
#include "encode/output_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace kivo::encode {
namespace {

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of(
#if defined(_WIN32)
      "/\\:"
#else
      "/"
#endif
  );
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

std::string FileError(const std::string& path) { return path + ": " + strerror(errno); }

FILE* CreateTempBeside(const std::string& path, std::string* temp, std::string* error) {
  const std::string folder = FolderOf(path);
  std::string name = folder + "." + path.substr(folder.size()) + ".XXXXXX";
  const int fd = mkstemp(&name[0]);
  if (fd < 0) {
    Fail(error, FileError(path));
    return nullptr;
  }
  FILE* f = fdopen(fd, "w+b");
  if (!f) {
    Fail(error, FileError(path));
#if defined(_WIN32)
    _close(fd);
#else
    close(fd);
#endif
    remove(name.c_str());
    return nullptr;
  }
  *temp = name;
  return f;
}

bool OpenOutput(OutputFile& out, const std::string& path, std::string* error) {
  out = OutputFile{};
  out.path = out.target = path;
  // Standard output is written where it already goes: reopening it would
  // truncate a file it appends to.
  if (path == "-" || path == "/dev/stdout" || path == "/dev/fd/1" || path == "/proc/self/fd/1") {
    out.file = stdout;
    out.standardOutput = true;
    return true;
  }
  // What lives under /dev and /proc (/dev/stdout, /proc/self/fd/N) is
  // written in place, whatever kind of file it leads to.
  bool inPlace = path.compare(0, 5, "/dev/") == 0 || path.compare(0, 6, "/proc/") == 0;
  struct stat st;
#if !defined(_WIN32)
  struct stat link;
  if (!inPlace && lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    // The link stays; what it points to is written.
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved))
      out.target = resolved;
    else
      inPlace = true;  // a link to nothing yet: written through
  }
#endif
  const bool exists = stat(out.target.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return Fail(error, FileError(path));
  }
  // Devices, FIFOs and files with more than one name are written in place.
  if (exists && (!S_ISREG(st.st_mode) || st.st_nlink > 1)) inPlace = true;
  if (inPlace) {
    out.file = fopen(path.c_str(), "wb");
    if (!out.file) return Fail(error, FileError(path));
    out.seekable = exists && S_ISREG(st.st_mode);
    return true;
  }
  out.file = CreateTempBeside(out.target, &out.temp, error);
  if (!out.file) return false;
  out.seekable = true;
#if !defined(_WIN32)
  // The mode the file has, or the one a new file gets.
  mode_t mode;
  if (exists) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  fchmod(fileno(out.file), mode);
#endif
  return true;
}

bool CommitOutput(OutputFile& out, std::string* error) {
  if (!out.file) return Fail(error, out.path + ": not open");
  bool ok = fflush(out.file) == 0 && !ferror(out.file);
  int saved = errno;
  if (!out.standardOutput && fclose(out.file) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  out.file = nullptr;
  if (ok && !out.temp.empty() && rename(out.temp.c_str(), out.target.c_str()) != 0) {
#if defined(_WIN32)
    // Windows renames only onto a name that is free.
    if (remove(out.target.c_str()) != 0 || rename(out.temp.c_str(), out.target.c_str()) != 0)
#endif
    {
      ok = false;
      saved = errno;
    }
  }
  if (!ok) {
    if (!out.temp.empty()) remove(out.temp.c_str());
    out.temp.clear();
    errno = saved;
    return Fail(error, FileError(out.path));
  }
  out.temp.clear();
  return true;
}

void AbandonOutput(OutputFile& out) {
  if (out.file && !out.standardOutput) fclose(out.file);
  out.file = nullptr;
  if (!out.temp.empty()) remove(out.temp.c_str());
  out.temp.clear();
}

}  // namespace kivo::encode

namespace kivo::tools {

bool StandardOutputWritten(const char* program) {
  if (fflush(stdout) == 0 && !ferror(stdout)) return true;
  fprintf(stderr, "%s: standard output: %s\n", program, strerror(errno ? errno : EIO));
  return false;
}

}  // namespace kivo::tools
