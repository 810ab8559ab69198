// SPDX-License-Identifier: BSD-2-Clause
// A blit system made of test doubles: styles that open or fail as a test
// says, a display with a chosen list of modes, and a record of what was asked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "display/blit_style.h"

namespace kivo::testing {

struct FakeMode {
  uint32_t width, height, bits;
};

struct FakeMachine {
  bool deviceAvailable = true;
  bool offered[11] = {};
  bool opens[11] = {};
  uint32_t capabilities[11] = {};
  const char* failText[11] = {};
  bool fallbackOpens = true;
  const char* fallbackFailText = nullptr;
  std::vector<int32_t> attempts;       // style numbers whose open was called (2 = fall-back)
  int32_t deviceReleases = 0;

  int32_t clientOffsetX = 4, clientOffsetY = 22;
  uint32_t frameWidth = 8, frameHeight = 26;
  int32_t originX = 100, originY = 60;

  std::vector<FakeMode> modes;         // what the display can be set to
  FakeMode userMode{1024, 768, 32};
  FakeMode current{1024, 768, 32};
  uint32_t reportedBitsOverride = 0;   // a driver that lands in another depth
  std::vector<std::string> modeCalls;  // "set WxHxB", "restore"
};

// Installs the fake system (fresh machine) for the life of the object.
class FakeSystemScope {
 public:
  FakeSystemScope();
  ~FakeSystemScope();
  FakeMachine& machine();
};

FakeMachine& Fake();
// The fake system's table (installed by FakeSystemScope).
const BlitSystem* FakeBlitSystem();

}  // namespace kivo::testing
