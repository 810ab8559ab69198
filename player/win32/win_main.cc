// SPDX-License-Identifier: BSD-2-Clause
// KivoPlay.exe: the player on Windows, the Win32 shell over the portable player.
#include "player/player.h"
#include "player/win32/win_shell.h"

#include <windows.h>

namespace {

kivo::Player player;

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  using namespace kivo;
  WinShellState state{};
  state.player = &player;
  state.instance = instance;
  const PlayerShell shell = MakeWinShell(&state);
  int32_t screenWidth = 0, screenHeight = 0;
  WinScreenSize(&screenWidth, &screenHeight);
  return RunPlayerProgram(&player, shell, commandLine ? commandLine : "", screenWidth, screenHeight);
}
