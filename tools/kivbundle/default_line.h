// SPDX-License-Identifier: BSD-2-Clause
// Finding and rewriting the default command line reserved inside a player
// program: after a marker in the Linux build (a run of '~' ended by a zero
// byte), as string resource 1 in the Windows build (UTF-16LE, length-prefixed,
// 511 characters of '~'). The player reads up to the first '~'; a rewritten
// area keeps at least one, so it can be found and rewritten again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kivo::tools {

constexpr uint32_t kDefaultLineRoom = 511;  // characters reserved at most

enum class LineKind { kNone, kMarker, kResource };

struct LineArea {
  LineKind kind = LineKind::kNone;
  size_t offset = 0;  // first character
  uint32_t room = 0;  // characters in the area
};

// The longest line the area takes.
inline uint32_t LongestLine(const LineArea& area) { return area.room ? area.room - 1 : 0; }

// Finds the one reserved area in a program file. kNone when there is none
// or when more than one place has the shape.
LineArea FindDefaultLine(const std::vector<uint8_t>& program);
// The line stored in the area (up to its first '~').
std::string ReadDefaultLine(const std::vector<uint8_t>& program, const LineArea& area);
// Writes `line` into the area, filling the rest with '~'. False, changing
// nothing, when the line is longer than LongestLine or holds a character
// other than printable ASCII without '~'.
bool WriteDefaultLine(std::vector<uint8_t>& program, const LineArea& area, const std::string& line);

}  // namespace kivo::tools
