// SPDX-License-Identifier: BSD-2-Clause
// Writing a file the user named as an output without clobbering anything
// else: a regular file (or a name not yet taken) is written beside itself
// under a fresh temporary name and renamed over the name once complete, so
// that a failure leaves what was there; anything else (a device, a FIFO,
// a file under /dev or /proc) is written in place, and "-" or /dev/stdout
// goes to standard output as it stands; a symbolic link is followed and
// never replaced.
#pragma once

#include <cstdio>
#include <string>

namespace kivo::encode {

struct OutputFile {
  FILE* file = nullptr;
  std::string path;    // as the user named it
  std::string target;  // the file written in the end (a link's target)
  std::string temp;    // written first, renamed to `target`; empty: in place
  bool seekable = false;
  bool standardOutput = false;
};

// Opens `path` for writing. False with *error set ("PATH: reason").
bool OpenOutput(OutputFile& out, const std::string& path, std::string* error);
// Flushes, closes and puts the file in place. False with *error set; the
// temporary file is then gone and the destination as it was.
bool CommitOutput(OutputFile& out, std::string* error);
// Drops what was written (a temporary file is removed; a file written in
// place stays as far as it got).
void AbandonOutput(OutputFile& out);

// A fresh temporary file beside `path` (".NAME.XXXXXX" in its folder),
// opened for writing and reading; its name in *temp. Null with *error set.
FILE* CreateTempBeside(const std::string& path, std::string* temp, std::string* error);

// "PATH: reason" from errno.
std::string FileError(const std::string& path);

}  // namespace kivo::encode

namespace kivo::tools {

// Whether everything written to standard output reached it; if not, says
// so on standard error ("PROGRAM: standard output: reason").
bool StandardOutputWritten(const char* program);

}  // namespace kivo::tools
