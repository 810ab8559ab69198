// SPDX-License-Identifier: BSD-2-Clause
// The player's settings as the command line leaves them: one record of
// 32-bit values read by the main loop, the window code and the summary.
#pragma once

#include <cstdint>

namespace kivo {

// Open flags the command line sets (merged into openFlags for OpenMovie).
// The movie library names the same bits in movie/movie.h; these are checked
// against them where both are seen.
constexpr uint32_t kPlayerOpenRateOverride = 0x00001000;  // /F
constexpr uint32_t kPlayerOpenPreload = 0x00002000;       // /P
constexpr uint32_t kPlayerOpenSoundTracks = 0x00004000;   // /T
constexpr uint32_t kPlayerOpenGrey = 0x00020000;          // /A1xx
constexpr uint32_t kPlayerOpenNeverSkip = 0x00080000;     // /N
constexpr uint32_t kPlayerOpenNoFill = 0x00200000;        // /G
constexpr uint32_t kPlayerOpenReadSpeed = 0x00400000;     // /M
constexpr uint32_t kPlayerOpenBufferSize = 0x01000000;    // /E
constexpr uint32_t kPlayerOpenNoReader = 0x08000000;      // /K
constexpr uint32_t kPlayerOpenModeShift = 28;             // /A display mode, bits 28-30

// Display-buffer flags the command line and the stretch rule set.
constexpr uint32_t kPlayerBufferModeChange = 0x00800000;  // /D: change the display mode
// Stretch kinds, as multiples of a direction's base bit: the width's base is
// 0x10000000, the height's 0x01000000.
constexpr uint32_t kPlayerStretchWidthBit = 0x10000000;
constexpr uint32_t kPlayerStretchHeightBit = 0x01000000;
constexpr uint32_t kStretchShrink = 1;         // by another factor
constexpr uint32_t kStretchShrinkWhole = 2;    // by a whole factor
constexpr uint32_t kStretchEnlarge = 4;        // by another factor
constexpr uint32_t kStretchEnlargeWhole = 8;   // by a whole factor

constexpr int32_t kPositionCentre = -3000;

struct PlayerSettings {
  int32_t loopCount = 1;        // /L: times to play, 0 = forever
  int32_t parentWindow = 0;     // /#: window handle to create the window under
  int32_t rateNum = -1;         // /F: frame-rate override, -1 = none,
  int32_t rateDen = -1;         //     0/0 = as fast as possible
  uint32_t openFlags = 0;       // passed to OpenMovie
  int32_t soundTrack = 0;       // /T: the one track to play, 0 = default
  int32_t readSpeed = 0;        // /M: simulated bytes per second, 0 = off
  int32_t readBufferSize = -1;  // /E: read-ahead bytes, -1 = the movie's choice
  int32_t disableControls = 0;  // /U: 1 pause and step, 2 skip, 4 quit
  int32_t topMost = 0;          // /I value / 100
  int32_t windowStyle = 0;      // /I value % 100: 0 normal, 1 no caption, 2 nothing
  int32_t useWaveOut = 0;       // /Z
  int32_t showSummary = 0;      // /S
  int32_t showStats = 0;        // /Q
  int32_t ignoreFocus = 0;      // /J
  int32_t fillScreen = 0;       // /R
  int32_t hideCursor = 0;       // /C
  int32_t posX = kPositionCentre;  // /X
  int32_t posY = kPositionCentre;  // /Y
  int32_t stretchWNum = 0;      // /W as a fraction; 0 = none
  int32_t stretchWDen = 0;
  int32_t stretchHNum = 0;      // /H
  int32_t stretchHDen = 0;
  int32_t screenWidth = 0;      // the screen size planned with (/D replaces it)
  int32_t screenHeight = 0;
  uint32_t bufferFlags = 0;     // /B style, /D mode change, stretch kinds

  // The display-mode request of /D, for the player to hand to
  // SetDisplayModeRequest before it opens the display buffer; modeWidth 0 =
  // no request. modeDepth is the depth code (16, 24, 32, 8, or 1-3 for the
  // tried orders).
  int32_t modeWidth = 0;
  int32_t modeHeight = 0;
  int32_t modeDepth = 0;
};

}  // namespace kivo
