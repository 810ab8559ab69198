// SPDX-License-Identifier: BSD-2-Clause
// kivbundle: a self-playing copy of the player. The movies are appended to a
// copy of the program file and its default command line is rewritten to
// name them by their offsets, followed by the given switches.
#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "default_line.h"
#include "encode/output_file.h"
#include "kivo/version.h"

namespace kivo::tools {
namespace {

const char* const kUsage =
    "usage: kivbundle PLAYER MOVIE... [--switches \"...\"] -o OUT\n"
    "Makes a self-playing copy of PLAYER (the Windows .exe or the Linux program)\n"
    "that plays the movies stored inside it, with the given player switches.\n"
    "  --switches TEXT  player switches stored in the copy\n"
    "  -o OUT           the copy to write\n"
    "  --               every later argument is a file\n"
    "  -h, --help       this text\n"
    "  --version        the version\n";

struct Failure {
  std::string text;
};

std::vector<uint8_t> ReadAll(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) throw Failure{encode::FileError(path)};
  std::vector<uint8_t> bytes;
  uint8_t chunk[1 << 16];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  const bool bad = ferror(f) != 0;
  fclose(f);
  if (bad) throw Failure{encode::FileError(path)};
  return bytes;
}

uint64_t CheckMovie(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) throw Failure{encode::FileError(path)};
  uint8_t head[4] = {};
  const size_t n = fread(head, 1, 4, f);
  fclose(f);
  if (n != 4 || memcmp(head, "KIV", 3) != 0 || head[3] < 'f' || head[3] > 'i')
    throw Failure{path + ": not a Kivo movie"};
  std::error_code ec;
  const uint64_t size = std::filesystem::file_size(path, ec);
  if (ec) throw Failure{path + ": " + ec.message()};
  return size;
}

bool CopyInto(FILE* out, const std::string& path) {
  FILE* in = fopen(path.c_str(), "rb");
  if (!in) return false;
  uint8_t chunk[1 << 16];
  size_t n;
  bool ok = true;
  while (ok && (n = fread(chunk, 1, sizeof chunk, in)) > 0) ok = fwrite(chunk, 1, n, out) == n;
  ok = ok && !ferror(in);
  fclose(in);
  return ok;
}

void Run(const std::string& playerPath, const std::vector<std::string>& movies, const std::string& switches,
         const std::string& outPath) {
  std::vector<uint8_t> program = ReadAll(playerPath);
  const LineArea area = FindDefaultLine(program);
  if (area.kind == LineKind::kNone)
    throw Failure{playerPath + ": no room for a default command line found (not a Kivo player?)"};
  std::string line;
  uint64_t offset = program.size();
  for (const std::string& movie : movies) {
    line += (line.empty() ? ":" : " :") + std::to_string(offset);
    offset += CheckMovie(movie);
  }
  if (!switches.empty()) line += " " + switches;
  // The player joins its real command line on without a separator: the blank
  // keeps a movie named there apart from the last offset or switch.
  line += ' ';
  if (line.size() > LongestLine(area))
    throw Failure{"the default command line would take " + std::to_string(line.size()) +
                  " characters; the player has room for " + std::to_string(LongestLine(area))};
  if (!WriteDefaultLine(program, area, line))
    throw Failure{"the switches may hold only printable ASCII characters other than '~'"};

  encode::OutputFile out;
  std::string error;
  if (!encode::OpenOutput(out, outPath, &error)) throw Failure{error};
#if !defined(_WIN32)
  // The copy runs like the player it came from.
  struct stat st;
  if (!out.temp.empty() && stat(playerPath.c_str(), &st) == 0) fchmod(fileno(out.file), st.st_mode & 07777);
#endif
  bool ok = fwrite(program.data(), 1, program.size(), out.file) == program.size();
  std::string failure = ok ? "" : encode::FileError(outPath);
  for (const std::string& movie : movies) {
    if (ok && !CopyInto(out.file, movie)) {
      ok = false;
      failure = encode::FileError(movie);
    }
  }
  if (!ok) {
    encode::AbandonOutput(out);
    throw Failure{failure};
  }
  if (!encode::CommitOutput(out, &error)) throw Failure{error};
}

}  // namespace
}  // namespace kivo::tools

int main(int argc, char** argv) {
  using namespace kivo::tools;
  std::vector<std::string> files;
  std::string switches, out;
  bool optionsEnded = false;
  const auto usage = [](const std::string& text) {
    fprintf(stderr, "kivbundle: %s\nTry 'kivbundle --help' for more information.\n", text.c_str());
    return 2;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      files.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "-h" || arg == "--help") {
      fputs(kUsage, stdout);
      return StandardOutputWritten("kivbundle") ? 0 : 1;
    } else if (arg == "--version") {
      printf("kivbundle %s (Kivo library %s, ABI %u)\n", KIVO_VERSION_TEXT, kivo::GetLibraryVersionText(),
             unsigned(KIVO_ABI_VERSION));
      return StandardOutputWritten("kivbundle") ? 0 : 1;
    } else if (arg == "--switches" || arg == "-o") {
      if (i + 1 >= argc) return usage(arg + " needs a value");
      (arg == "-o" ? out : switches) = argv[++i];
    } else {
      return usage("unknown option '" + arg + "'");
    }
  }
  if (files.empty()) return usage("no player given");
  if (files.size() < 2) return usage("no movie given");
  if (out.empty()) return usage("no output given (-o OUT)");
  try {
    Run(files[0], std::vector<std::string>(files.begin() + 1, files.end()), switches, out);
  } catch (const Failure& f) {
    fprintf(stderr, "kivbundle: %s\n", f.text.c_str());
    return 1;
  } catch (const std::exception& e) {
    fprintf(stderr, "kivbundle: %s\n", e.what());
    return 1;
  }
  return 0;
}
