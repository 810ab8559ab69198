// SPDX-License-Identifier: BSD-2-Clause
// The Windows shell's operations on a window of their own: once the player's
// window is destroyed, the box shown at the exit stays until it is answered.
// Skipped without a display.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "player/player_shell.h"
#include "player/win32/win_shell.h"
#include "winplayer/player_process.h"

#include <windows.h>

namespace kivo::wintest {
namespace {

TEST(WinShell, TheBoxShownAfterTheWindowIsDestroyedStaysUntilAnswered) {
  if (!HaveDisplay()) GTEST_SKIP() << "no display for a window";
  WinShellState state{};
  state.instance = GetModuleHandleA(nullptr);
  const PlayerShell shell = MakeWinShell(&state);
  ShellWindowRequest request{};
  request.title = kWindowTitle;
  request.dialogFrame = request.caption = 1;
  request.width = request.height = 32;
  void* window = nullptr;
  ASSERT_EQ(shell.createWindow(shell.context, request, &window), kWindowCreated);
  shell.destroyWindow(shell.context);
  EXPECT_FALSE(IsWindow(static_cast<HWND>(window)));
  // A quit left waiting ends a modal loop as it starts (on Windows at least).
  MSG quit;
  EXPECT_FALSE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) << "the quit is left in the queue";

  // Another thread finds the box, looks again a second later and answers it.
  ChildProcess self;
  self.id = GetCurrentProcessId();
  std::atomic<bool> stayed{false}, answered{false};
  std::thread answerer([&] {
    void* box = FindProcessWindow(self, "Kivo Playback Summary", "#32770", 10000);
    if (!box) return;
    Sleep(1000);
    stayed = IsWindow(static_cast<HWND>(box)) != 0;
    answered = true;
    PressBoxButton(box, IDOK);
  });
  shell.messageBox(shell.context, "Total frames played: 1", "Kivo Playback Summary", kBoxInformation, 0);
  const bool endedByTheAnswer = answered.load();
  answerer.join();
  EXPECT_TRUE(stayed);
  EXPECT_TRUE(endedByTheAnswer) << "the box ended before it was answered";
  while (PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
}

}  // namespace
}  // namespace kivo::wintest
