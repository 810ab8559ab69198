// SPDX-License-Identifier: BSD-2-Clause
// The player's shell on SDL2: the window, its events turned into the
// player's handlers, message boxes (echoed to standard error, and only there
// when no display is available), and the statistics line drawn with the
// built-in bitmap font.
#pragma once

#include <cstdint>

#include "player/player_shell.h"

struct SDL_Window;
struct SDL_Surface;

namespace kivo {

struct SdlShellState {
  Player* player;
  bool video;               // SDL video is up: otherwise the picture goes to memory
  SDL_Window* window;
  SDL_Surface* textSurface; // scratch for the statistics line, made with the window
  bool hidden;
  bool paintPending;        // an area was marked for painting
  const char* programName;  // for the lines on standard error; null = "kivoplay"
};

// Starts SDL video when it can; false means no display (the shell still works).
bool StartSdlVideo(SdlShellState* state);
void StopSdl(SdlShellState* state);

// The operations table over `state`.
PlayerShell MakeSdlShell(SdlShellState* state);

// The size of the screen the window opens on, or 0 x 0 without a display.
void SdlScreenSize(const SdlShellState& state, int32_t* width, int32_t* height);

}  // namespace kivo
