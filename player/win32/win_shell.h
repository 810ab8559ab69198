// SPDX-License-Identifier: BSD-2-Clause
// The player's shell on Windows: the window class "KivoWin", the window
// procedure that turns the window's messages into the player's handlers,
// and the table of operations over USER32, GDI32 and KERNEL32.
#pragma once

#include "player/player_shell.h"

namespace kivo {

struct WinShellState {
  Player* player;
  // The system's handles, kept untyped so that this header does not bring
  // in <windows.h> (whose macros clash with names of the library).
  void* instance;  // HINSTANCE
  void* window;    // HWND
  void* paintDc;   // HDC: the painting DC while WM_PAINT is answered
  bool classRegistered;
};

// The operations table over `state`; the window procedure reaches the
// player through the same state.
PlayerShell MakeWinShell(WinShellState* state);

// The screen size the player plans with before any display-mode change.
void WinScreenSize(int32_t* width, int32_t* height);

}  // namespace kivo
