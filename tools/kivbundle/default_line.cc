// The two shapes of the reserved default command line.
#include "default_line.h"

#include <cstring>

namespace kivo::tools {
namespace {

constexpr char kMarker[] = "KIVO-DEFAULT-CMDLINE-v1:";
constexpr size_t kMarkerLength = sizeof kMarker - 1;

bool Printable(uint32_t c) { return c >= 0x20 && c < 0x7F; }

// An area already holds a line and '~' fill, ending with at least one '~'
// (a fresh one is all '~').
template <typename CharAt>
bool AreaShape(CharAt at) {
  bool tilde = false;
  for (uint32_t i = 0; i < kDefaultLineRoom; ++i) {
    const uint32_t c = at(i);
    if (!Printable(c)) return false;
    if (c == '~') tilde = true;
    else if (tilde) return false;  // text after the fill started
  }
  return tilde;
}

}  // namespace

LineArea FindDefaultLine(const std::vector<uint8_t>& p) {
  LineArea found;
  int matches = 0;
  // The Linux build: the marker, 511 characters and a zero byte.
  for (size_t i = 0; i + kMarkerLength + kDefaultLineRoom < p.size(); ++i) {
    if (p[i] != 'K' || memcmp(&p[i], kMarker, kMarkerLength) != 0) continue;
    const size_t start = i + kMarkerLength;
    if (p[start + kDefaultLineRoom] == 0 && AreaShape([&](uint32_t k) { return p[start + k]; })) {
      found = {LineKind::kMarker, start};
      ++matches;
    }
  }
  // The Windows build: a string-table entry of length 511 whose characters
  // have the shape of the area.
  for (size_t i = 0; i + 2 + 2 * kDefaultLineRoom <= p.size(); ++i) {
    if (p[i] != 0xFF || p[i + 1] != 0x01) continue;
    const size_t start = i + 2;
    if (AreaShape([&](uint32_t k) { return p[start + 2 * k + 1] == 0 ? uint32_t(p[start + 2 * k]) : 0u; })) {
      found = {LineKind::kResource, start};
      ++matches;
    }
  }
  return matches == 1 ? found : LineArea{};
}

std::string ReadDefaultLine(const std::vector<uint8_t>& p, const LineArea& area) {
  std::string line;
  const size_t step = area.kind == LineKind::kResource ? 2 : 1;
  if (area.kind == LineKind::kNone) return line;
  for (uint32_t i = 0; i < kDefaultLineRoom; ++i) {
    const char c = static_cast<char>(p[area.offset + step * i]);
    if (c == '~') break;
    line.push_back(c);
  }
  return line;
}

bool WriteDefaultLine(std::vector<uint8_t>& p, const LineArea& area, const std::string& line) {
  if (area.kind == LineKind::kNone || line.size() > kDefaultLineLongest) return false;
  for (char c : line)
    if (!Printable(static_cast<uint8_t>(c)) || c == '~') return false;
  const size_t step = area.kind == LineKind::kResource ? 2 : 1;
  for (uint32_t i = 0; i < kDefaultLineRoom; ++i) {
    p[area.offset + step * i] = i < line.size() ? static_cast<uint8_t>(line[i]) : '~';
    if (step == 2) p[area.offset + 2 * i + 1] = 0;
  }
  return true;
}

}  // namespace kivo::tools
