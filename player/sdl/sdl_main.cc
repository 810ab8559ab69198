// SPDX-License-Identifier: BSD-2-Clause
// kivoplay: the player on Linux, an SDL2 window over the portable player.
// The GNU options and command-line errors are answered before any window or
// display is asked for. Without a movie, a terminal gets the help and a
// desktop the window that waits for movies to be dropped on it.
#define SDL_MAIN_HANDLED
#include <SDL.h>
#include <langinfo.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kivo/version.h"
#include "player/command_line.h"
#include "player/player.h"
#include "player/sdl/sdl_shell.h"

namespace {

kivo::Player player;
kivo::ParsedCommandLine parsed;
char realLine[kivo::kCommandLineSize];

// The name the program was called by, for its messages.
const char* ProgramName(const char* argv0) {
  if (!argv0 || !*argv0) return "kivoplay";
  const char* slash = strrchr(argv0, '/');
  return slash ? slash + 1 : argv0;
}

// A usage error: one line, a pointer to the help, exit code 2.
int UsageError(const char* name, const std::string& text) {
  fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", name, text.c_str(), name);
  return 2;
}

// Standard output must have taken the text.
int Printed(const char* name) {
  if (fflush(stdout) == 0 && !ferror(stdout)) return 0;
  fprintf(stderr, "%s: standard output: %s\n", name, strerror(errno));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kivo;
  const char* name = ProgramName(argc > 0 ? argv[0] : nullptr);
  std::vector<std::string> movies;
  const ProgramArguments args =
      JoinProgramArguments(argc, argv, SystemFileFacts(), realLine, sizeof realLine, &movies);
  switch (args.action) {
    case kActionHelp:
      fputs(HelpText(), stdout);
      return Printed(name);
    case kActionVersion:
      printf("%s %s (player V %s, Kivo library %s)\n", name, KIVO_VERSION_TEXT, kPlayerVersion,
             GetLibraryVersionText());
      return Printed(name);
    case kActionBadOption:
      return UsageError(name, std::string("unknown option '") + args.badOption + "'");
    default:
      break;
  }
  // Titles go to the desktop in UTF-8: the user's character set where it is
  // that, else UTF-8 all the same (names are bytes; desktops read UTF-8).
  setlocale(LC_CTYPE, "");
  if (strcmp(nl_langinfo(CODESET), "UTF-8") != 0) setlocale(LC_CTYPE, "C.UTF-8");
  InstallSdlSignalHandlers();
  SdlShellState state{};
  state.player = &player;
  state.programName = name;
  StartSdlVideo(&state);
  int32_t screenWidth = 0, screenHeight = 0;
  SdlScreenSize(state, &screenWidth, &screenHeight);
  ParseProgramCommandLine(realLine, screenWidth, screenHeight, &parsed);
  // Only switches share the working line here; what of them did not fit is said.
  if (parsed.leftOut[0]) fprintf(stderr, "%s: %s %s\n", name, kLeftOutText, parsed.leftOut);
  if (parsed.leftover[0]) {
    StopSdl(&state);
    return UsageError(name, std::string("unknown switch '") + parsed.leftover + "'");
  }
  bool listEmpty = true;
  for (const char* c = parsed.movieList; *c; ++c) listEmpty = listEmpty && static_cast<unsigned char>(*c) <= ' ';
  // No movie: the rule is the terminal's. Typed at one (standard input or
  // output a terminal), `kivoplay` alone prints the help as --help does, and
  // switches without a movie are a usage error; started from a desktop,
  // the window opens and waits for movies.
  if (listEmpty && movies.empty() && (isatty(0) || isatty(1))) {
    StopSdl(&state);
    if (args.length != 0) return UsageError(name, "no movie given");
    fputs(HelpText(), stdout);
    return Printed(name);
  }
  const PlayerShell shell = MakeSdlShell(&state);
  PlayerOptions options{};
  options.movies = std::move(movies);
  const int32_t code = RunPlayer(&player, shell, parsed, options);
  StopSdl(&state);
  if (const int sig = SdlSignalReceived()) {
    // Ended from outside: the parent sees the signal, as if unhandled.
    signal(sig, SIG_DFL);
    raise(sig);
  }
  return code;
}
