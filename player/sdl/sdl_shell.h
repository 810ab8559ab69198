// SPDX-License-Identifier: BSD-2-Clause
// The player's shell on SDL2: the window, its events turned into the
// player's handlers (files dropped on it and Ctrl+O's file chooser
// included), the window that waits for movies, message boxes (all but error
// boxes, which the player reports itself, echoed to standard error, and only
// there when no display is available), the statistics line drawn with the
// built-in bitmap font, and the signals that end the program.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>

#include "player/player_shell.h"

struct SDL_Window;
struct SDL_Surface;

namespace kivo {

struct FileChooser;

struct SdlShellState {
  Player* player;
  bool video;               // SDL video is up: otherwise the picture goes to memory
  SDL_Window* window;
  SDL_Surface* textSurface; // scratch for the statistics line, made with the window
  bool hidden;
  bool paintPending;        // an area was marked for painting
  const char* programName;  // for the lines on standard error; null = "kivoplay"
  bool dropWindow;          // the window waits for movies (until a movie places it)
  std::string dropMessage;  // shown below the drop window's text
  int dropX, dropY;         // where the drop window goes (centred)
  bool dropPlaced;          // it was seen there
  const FileChooser* chooser; // the file chooser Ctrl+O runs, null = none
};

// SIGTERM, SIGINT and SIGHUP end the program: the player leaves at its next
// turn (no summary); while a box or the file chooser holds the thread, the
// program ends at once. Installed before SDL starts (which then keeps out).
void InstallSdlSignalHandlers();
// The signal that asked the program to end, 0 for none.
int SdlSignalReceived();

// Starts SDL video when it can; false means no display (the shell still works).
bool StartSdlVideo(SdlShellState* state);
void StopSdl(SdlShellState* state);

// The operations table over `state`.
PlayerShell MakeSdlShell(SdlShellState* state);

// The size of the screen the window opens on, or 0 x 0 without a display.
void SdlScreenSize(const SdlShellState& state, int32_t* width, int32_t* height);

}  // namespace kivo
