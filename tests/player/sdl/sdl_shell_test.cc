// SPDX-License-Identifier: BSD-2-Clause
// The Linux player's SDL shell on SDL's dummy video driver: the window
// styles /I0, /I1 and /I2 as SDL can make them, a window moved from
// outside (a drag) landing where a move by the player would, and files
// dropped on the window reaching the player's list.
#include <gtest/gtest.h>

#include <SDL.h>

#include "kivo/display.h"
#include "player/player.h"
#include "player/sdl/sdl_shell.h"

namespace kivo {
namespace {

class SdlShell : public ::testing::Test {
 protected:
  void SetUp() override {
    state.player = &player;
    ASSERT_TRUE(StartSdlVideo(&state)) << SDL_GetError();
    shell = MakeSdlShell(&state);
  }
  void TearDown() override {
    CloseBlitBuffer(player.buffer);
    player.buffer = nullptr;
    StopSdl(&state);
  }

  // A window of window style 0, 1 or 2; its SDL flags.
  Uint32 Create(int32_t windowStyle) {
    if (state.window) {
      SDL_FreeSurface(state.textSurface);
      SDL_DestroyWindow(state.window);
      state.window = nullptr;
    }
    ShellWindowRequest request{kWindowTitle, 0, windowStyle != 2, windowStyle == 0, 32, 32, 0, 0};
    void* window = nullptr;
    EXPECT_EQ(shell.createWindow(shell.context, request, &window), kWindowCreated);
    return window ? SDL_GetWindowFlags(static_cast<SDL_Window*>(window)) : 0;
  }

  static Player player;
  SdlShellState state{};
  PlayerShell shell{};
};

Player SdlShell::player;

TEST_F(SdlShell, NoCaptionKeepsAFrameAndNothingHasNone) {
  const Uint32 normal = Create(0), noCaption = Create(1), nothing = Create(2);
  EXPECT_EQ(normal & SDL_WINDOW_BORDERLESS, 0u);
  EXPECT_EQ(noCaption & SDL_WINDOW_BORDERLESS, 0u);
  EXPECT_NE(nothing & SDL_WINDOW_BORDERLESS, 0u);
  for (Uint32 flags : {normal, noCaption, nothing}) EXPECT_EQ(flags & SDL_WINDOW_RESIZABLE, 0u);
}

TEST_F(SdlShell, AWindowMovedFromOutsideLandsWhereThePlayerWouldPutIt) {
  Create(2);
  player.buffer = OpenBlitBuffer(state.window, 64, 48, 0);
  ASSERT_NE(player.buffer, nullptr) << GetBlitBufferError();
  ASSERT_EQ(player.buffer->screenBits, 32u);  // pictures start on even columns

  // The player's own move.
  shell.placeWindow(shell.context, 101, 57, 64, 48);
  int x = 0, y = 0;
  SDL_GetWindowPosition(state.window, &x, &y);
  EXPECT_EQ(x, 102);
  EXPECT_EQ(y, 57);

  // A drag: the window manager moves the window and SDL reports it.
  SDL_SetWindowPosition(state.window, 203, 77);
  SDL_Event moved{};
  moved.type = SDL_WINDOWEVENT;
  moved.window.event = SDL_WINDOWEVENT_MOVED;
  moved.window.windowID = SDL_GetWindowID(state.window);
  moved.window.data1 = 203;
  moved.window.data2 = 77;
  ASSERT_EQ(SDL_PushEvent(&moved), 1);
  for (int i = 0; i < 50 && shell.pumpEvent(shell.context, &player); ++i) {
  }
  SDL_GetWindowPosition(state.window, &x, &y);
  EXPECT_EQ(x, 204);
  EXPECT_EQ(y, 77);
  // The picture follows the window.
  EXPECT_EQ(player.buffer->clientX, 204);
  EXPECT_EQ(player.buffer->clientY, 77);
}

TEST_F(SdlShell, FilesDroppedOnTheWindowJoinTheListInOrder) {
  Create(0);
  player.names.clear();
  for (const char* name : {"/films/first one.kiv", "/films/\"second\".kiv"}) {
    SDL_Event drop{};
    drop.type = SDL_DROPFILE;
    drop.drop.file = SDL_strdup(name);
    drop.drop.windowID = SDL_GetWindowID(state.window);
    ASSERT_EQ(SDL_PushEvent(&drop), 1);
  }
  for (int i = 0; i < 50 && shell.pumpEvent(shell.context, &player); ++i) {
  }
  ASSERT_EQ(player.names.size(), 2u);
  EXPECT_EQ(player.names[0].name, "/films/first one.kiv");
  EXPECT_EQ(player.names[1].name, "/films/\"second\".kiv");
  EXPECT_EQ(player.names[1].dropped, 1);
}

}  // namespace
}  // namespace kivo
