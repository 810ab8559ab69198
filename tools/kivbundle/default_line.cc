// SPDX-License-Identifier: BSD-2-Clause
// The two shapes of the reserved default command line.
#include "default_line.h"

#include <algorithm>
#include <cstring>

namespace kivo::tools {
namespace {

constexpr char kMarker[] = "KIVO-DEFAULT-CMDLINE-v1:";
constexpr size_t kMarkerLength = sizeof kMarker - 1;

bool Printable(uint32_t c) { return c >= 0x20 && c < 0x7F; }

// The length of an area at `at`: text, then '~' fill to its end (a fresh
// area is all '~'); 0 when the characters do not have that shape. `length`
// 0 means: as far as the printable run goes, up to kDefaultLineRoom.
template <typename CharAt>
uint32_t AreaLength(CharAt at, uint32_t available, uint32_t length) {
  const uint32_t limit = length ? length : available < kDefaultLineRoom ? available : kDefaultLineRoom;
  bool tilde = false;
  uint32_t i = 0;
  for (; i < limit; ++i) {
    const uint32_t c = at(i);
    if (!Printable(c)) break;
    if (c == '~') tilde = true;
    else if (tilde) return 0;  // text after the fill started
  }
  if (!tilde || (length && i != length)) return 0;
  return i;
}

}  // namespace

LineArea FindDefaultLine(const std::vector<uint8_t>& p) {
  LineArea found;
  int matches = 0;
  // The Linux build: the marker, the characters and a zero byte.
  for (size_t i = 0; i + kMarkerLength < p.size(); ++i) {
    if (p[i] != 'K' || memcmp(&p[i], kMarker, kMarkerLength) != 0) continue;
    const size_t start = i + kMarkerLength;
    const uint32_t available = static_cast<uint32_t>(std::min<size_t>(p.size() - start, kDefaultLineRoom + 1));
    const uint32_t n = AreaLength([&](uint32_t k) { return p[start + k]; }, available - 1, 0);
    if (n && p[start + n] == 0) {
      found = {LineKind::kMarker, start, n};
      ++matches;
    }
  }
  // The Windows build: a string-table entry of length 511 whose characters
  // have the shape of the area.
  for (size_t i = 0; i + 2 + 2 * kDefaultLineRoom <= p.size(); ++i) {
    if (p[i] != 0xFF || p[i + 1] != 0x01) continue;
    const size_t start = i + 2;
    auto at = [&](uint32_t k) { return p[start + 2 * k + 1] == 0 ? uint32_t(p[start + 2 * k]) : 0u; };
    if (AreaLength(at, kDefaultLineRoom, kDefaultLineRoom)) {
      found = {LineKind::kResource, start, kDefaultLineRoom};
      ++matches;
    }
  }
  return matches == 1 ? found : LineArea{};
}

std::string ReadDefaultLine(const std::vector<uint8_t>& p, const LineArea& area) {
  std::string line;
  const size_t step = area.kind == LineKind::kResource ? 2 : 1;
  if (area.kind == LineKind::kNone) return line;
  for (uint32_t i = 0; i < area.room; ++i) {
    const char c = static_cast<char>(p[area.offset + step * i]);
    if (c == '~') break;
    line.push_back(c);
  }
  return line;
}

bool WriteDefaultLine(std::vector<uint8_t>& p, const LineArea& area, const std::string& line) {
  if (area.kind == LineKind::kNone || line.size() > LongestLine(area)) return false;
  for (char c : line)
    if (!Printable(static_cast<uint8_t>(c)) || c == '~') return false;
  const size_t step = area.kind == LineKind::kResource ? 2 : 1;
  for (uint32_t i = 0; i < area.room; ++i) {
    p[area.offset + step * i] = i < line.size() ? static_cast<uint8_t>(line[i]) : '~';
    if (step == 2) p[area.offset + 2 * i + 1] = 0;
  }
  return true;
}

}  // namespace kivo::tools
