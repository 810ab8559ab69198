// kivoplay: the player on Linux, an SDL2 window over the portable player.
#define SDL_MAIN_HANDLED
#include <SDL.h>

#include "player/command_line.h"
#include "player/player.h"
#include "player/sdl/sdl_shell.h"

namespace {

kivo::Player player;
char realLine[kivo::kCommandLineSize];

}  // namespace

int main(int argc, char** argv) {
  using namespace kivo;
  JoinProgramArguments(argc, argv, realLine, sizeof realLine);
  SdlShellState state{};
  state.player = &player;
  StartSdlVideo(&state);
  const PlayerShell shell = MakeSdlShell(&state);
  int32_t screenWidth = 0, screenHeight = 0;
  SdlScreenSize(state, &screenWidth, &screenHeight);
  const int32_t code = RunPlayerProgram(&player, shell, realLine, screenWidth, screenHeight);
  StopSdl(&state);
  return code;
}
