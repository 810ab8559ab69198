// Finding and rewriting the default command line reserved inside a player
// program: after a marker in the Linux build, as string resource 1
// (UTF-16LE, length-prefixed) in the Windows build. Both reserve 511
// characters filled with '~'; the player reads up to the first '~'.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kivo::tools {

constexpr uint32_t kDefaultLineRoom = 511;  // reserved characters
constexpr uint32_t kDefaultLineLongest = 510;  // with the terminator it fits the player's buffer

enum class LineKind { kNone, kMarker, kResource };

struct LineArea {
  LineKind kind = LineKind::kNone;
  size_t offset = 0;  // first character
};

// Finds the one reserved area in a program file. kNone when there is none
// or when more than one place has the shape.
LineArea FindDefaultLine(const std::vector<uint8_t>& program);
// The line stored in the area (up to its first '~').
std::string ReadDefaultLine(const std::vector<uint8_t>& program, const LineArea& area);
// Writes `line` into the area, filling the rest with '~'. False, changing
// nothing, when the line is longer than kDefaultLineLongest or holds a
// character other than printable ASCII without '~'.
bool WriteDefaultLine(std::vector<uint8_t>& program, const LineArea& area, const std::string& line);

}  // namespace kivo::tools
