// SPDX-License-Identifier: BSD-2-Clause
// A stand-in shell and display for driving the whole player on the virtual
// clock: scripted events, a record of what the player asked of its window,
// and a display that counts frames per buffer size.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "player/player.h"

namespace kivo::test {

struct ScriptedEvent {
  std::function<bool(const Player&)> when;  // delivered at the first poll where this holds
  std::function<void(Player*)> act;
  bool done = false;
};

struct ShownBox {
  std::string text, caption;
  int32_t kind, owned;
};

struct Placement {
  int32_t x, y, width, height;
};

struct FakeShell {
  int32_t createResult = kWindowCreated;
  ShellWindowRequest request{};
  int32_t destroyCalls = 0;
  uint32_t destroyedAtMs = 0;          // player time of the destruction
  std::vector<Placement> placements;
  std::vector<ShownBox> boxes;
  int32_t answer = 0;                  // what every box answers
  std::function<void(const ShownBox&)> onBox;
  std::vector<std::string> pages;
  std::vector<std::string> texts;      // statistics lines drawn
  PlayerBand lastBand{};
  int32_t fills = 0;
  int32_t invalidations = 0;
  int32_t textWidth = 600, textHeight = 16;
  std::string programPath = "";        // empty: the test binary itself
  bool programPathFails = false;
  int32_t cornerX = 40, cornerY = 30;  // where windowCorner says the window is
  std::vector<ScriptedEvent> events;
  std::function<void(const Player&)> onPoll;  // every poll, for observations
  // The shell of a desktop: titles, error lines and a window that waits
  // for dropped movies (each time it is shown, its message).
  bool desktop = false;
  std::vector<std::string> titles, reports, dropWindows;

  PlayerShell Table();
};

// The display: memory pictures behind a system that measures a window with
// a frame and a 1024 x 768 screen; opens fail as a test says.
struct FakeDisplay {
  uint32_t screenWidth = 1024, screenHeight = 768;
  int32_t maxOpenBuffers = 100;        // more refuse to open
  bool refuse = false;                 // every open fails
  int32_t openBuffers = 0;
  std::vector<std::string> frames;     // "WxH" of the buffer, per lock
};
FakeDisplay& Display();

// Milliseconds of the virtual clock since the player started.
uint32_t PlayerTime();

// Installs the virtual clock and the fake display; restores both after.
struct PlayerScope {
  PlayerScope();
  ~PlayerScope();
};

// Runs the player on a real command line (arguments as a program gets them)
// with the shell; the build date is set so that no version check asks
// unless `versionCheck` says otherwise.
int32_t RunWithArguments(FakeShell& shell, const std::vector<std::string>& arguments,
                         const VersionCheckServices* versionCheck = nullptr);

// The frames of the record, run-length counted: {"64x48", 20}, ...
std::vector<std::pair<std::string, int>> FrameRuns();

// A movie file of the test folder, frames of width x height at 25 per second.
std::string MovieFile(const std::string& name, uint32_t frames, uint32_t width, uint32_t height);

// Event helpers.
ScriptedEvent AtMs(uint32_t ms, std::function<void(Player*)> act);
ScriptedEvent InLogo(std::function<void(Player*)> act, uint32_t afterMs = 0);
ScriptedEvent AfterFrames(uint32_t frames, std::function<void(Player*)> act);
std::function<void(Player*)> Key(uint32_t c);

// The last player RunWithArguments drove (for inspection after the run).
const Player& LastPlayer();

}  // namespace kivo::test
