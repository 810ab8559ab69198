// SPDX-License-Identifier: BSD-2-Clause
// kivoplay: the player on Linux, an SDL2 window over the portable player.
// The GNU options are answered before any window or display is asked for.
#define SDL_MAIN_HANDLED
#include <SDL.h>

#include <cstdio>
#include <cstring>

#include "kivo/version.h"
#include "player/command_line.h"
#include "player/player.h"
#include "player/sdl/sdl_shell.h"

namespace {

kivo::Player player;
char realLine[kivo::kCommandLineSize];

// The name the program was called by, for its messages.
const char* ProgramName(const char* argv0) {
  if (!argv0 || !*argv0) return "kivoplay";
  const char* slash = strrchr(argv0, '/');
  return slash ? slash + 1 : argv0;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kivo;
  const char* name = ProgramName(argc > 0 ? argv[0] : nullptr);
  const ProgramArguments args = JoinProgramArguments(argc, argv, SystemFileFacts(), realLine, sizeof realLine);
  switch (args.action) {
    case kActionHelp:
      fputs(HelpText(), stdout);
      return 0;
    case kActionVersion:
      printf("%s %s (player V %s, Kivo library %s)\n", name, KIVO_VERSION_TEXT, kPlayerVersion,
             GetLibraryVersionText());
      return 0;
    case kActionBadOption:
      fprintf(stderr, "%s: unknown option '%s'\nTry '%s --help' for more information.\n", name, args.badOption, name);
      return 1;
    default:
      break;
  }
  SdlShellState state{};
  state.player = &player;
  state.programName = name;
  StartSdlVideo(&state);
  const PlayerShell shell = MakeSdlShell(&state);
  int32_t screenWidth = 0, screenHeight = 0;
  SdlScreenSize(state, &screenWidth, &screenHeight);
  const int32_t code = RunPlayerProgram(&player, shell, realLine, screenWidth, screenHeight);
  StopSdl(&state);
  return code;
}
