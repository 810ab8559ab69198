// SPDX-License-Identifier: BSD-2-Clause
// What the player's window does with its events: focus pauses, painting,
// the keys (pause, step, skip, quit, each of which /U can disable), the click
// on the logo, the picture following the window when it moves, dropped
// files and a request from outside to end.
#include <sys/stat.h>

#include "kivo/kivo.h"
#include "player/player.h"

namespace kivo {

namespace {

constexpr uint32_t kKeySpace = 0x20;
constexpr uint32_t kKeyEnter = 0x0D;
constexpr uint32_t kKeySkip = '.';
constexpr uint32_t kKeyEscape = 0x1B;

constexpr int32_t kDisablePause = 1;
constexpr int32_t kDisableSkip = 2;
constexpr int32_t kDisableQuit = 4;

bool Disabled(const Player* p, int32_t bit) { return (p->settings.disableControls & bit) != 0; }

}  // namespace

void PlayerOnQuit(Player* p) {
  if (!p) return;
  p->windowDestroyed = 1;
  p->quitPending = 1;
}

void PlayerOnFocus(Player* p, bool gained) {
  if (!p || p->settings.ignoreFocus) return;
  if (gained) {
    PauseMovie(p->movie, p->userPaused);
    p->hasFocus = 1;
  } else {
    PauseMovie(p->movie, 1);
    p->hasFocus = 0;
  }
}

void PlayerOnPaint(Player* p) {
  if (!p) return;
  const PlayerShell* s = p->shell;
  if (!p->skipBlackFill && s->fillBlack) s->fillBlack(s->context, 0, 0, 4096, 4096);
  p->forceFull |= 0x80000000u;
  if (p->buffer) BlitRects(p->buffer, nullptr, 1);
}

void PlayerOnCharacter(Player* p, uint32_t c) {
  if (!p) return;
  if (c == kKeySpace && !Disabled(p, kDisablePause)) {
    p->userPaused = ~p->userPaused;
    PauseMovie(p->movie, p->userPaused);
  } else if (c == kKeyEnter && !Disabled(p, kDisablePause)) {
    // The loop pauses again after one frame while the user has paused.
    PauseMovie(p->movie, 0);
  } else if (c == kKeySkip && !Disabled(p, kDisableSkip)) {
    if (!p->logoMode) p->endFlag = 1;
  } else if (c == kKeyEscape && !Disabled(p, kDisableQuit)) {
    p->listRepeat = 1;
    p->list[0] = 0;
    p->names.clear();
    if (p->logoMode) {
      p->endState = kEndQuitLogo;
    } else {
      p->endState = kEndQuit;
      GetSummary(p->movie, &p->summary);
    }
    PauseMovie(p->movie, 0);
  }
}

void PlayerOnLeftButtonUp(Player* p) {
  if (!p || !p->logoMode) return;
  if (p->shell->openWebPage && p->logoPageAddress[0]) p->shell->openWebPage(p->shell->context, p->logoPageAddress);
}

void PlayerOnWindowMoving(Player* p, int32_t* x, int32_t* y) {
  if (!p || !p->buffer || !x || !y) return;
  int32_t pictureX = *x + p->pictureX, pictureY = *y + p->pictureY;
  AdjustWindowPosition(p->buffer, &pictureX, &pictureY);
  *x = pictureX - p->pictureX;
  *y = pictureY - p->pictureY;
}

void PlayerOnWindowMoved(Player* p) {
  if (!p || !p->buffer) return;
  SetBlitPosition(p->buffer, p->pictureX, p->pictureY);
}

void PlayerOnDrop(Player* p, const char* path) {
  if (!p || !path || !*path) return;
  struct stat st;
  if (stat(path, &st) == 0 && S_ISDIR(st.st_mode)) {
    p->message = std::string(path) + ": a folder is not played; drop the movies in it";
    if (p->shell && p->shell->reportError) p->shell->reportError(p->shell->context, p->message.c_str());
    return;
  }
  p->names.push_back(NamedMovie{path, 1});
  p->savedNames.push_back(NamedMovie{path, 1});
}

void PlayerOnTerminate(Player* p) {
  if (!p) return;
  p->settings.showSummary = 0;
  p->quitPending = 1;
}

}  // namespace kivo
