// SPDX-License-Identifier: BSD-2-Clause
// Ini-style profile text: find and set one key, keeping every other line.
#include "platform/profile_text.h"

#include <string.h>
#include <strings.h>

#include <vector>

namespace kivo::os {
namespace {

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

// Whole texts: a name with a nul inside (a damaged line) matches nothing.
bool SameText(const std::string& a, const char* b) {
  return a.size() == strlen(b) && strcasecmp(a.c_str(), b) == 0;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// The section name of a "[name]" line, or false.
bool SectionOf(const std::string& line, std::string* name) {
  std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[' || t.back() != ']') return false;
  *name = Trim(t.substr(1, t.size() - 2));
  return true;
}

// The key and value of a "key=value" line, or false.
bool EntryOf(const std::string& line, std::string* key, std::string* value) {
  std::string t = Trim(line);
  if (t.empty() || t[0] == ';' || t[0] == '#') return false;
  size_t eq = t.find('=');
  if (eq == std::string::npos) return false;
  *key = Trim(t.substr(0, eq));
  *value = Trim(t.substr(eq + 1));
  return true;
}

}  // namespace

bool FindProfileValue(const std::string& text, const char* section, const char* key, std::string* value) {
  bool inside = false;
  for (const std::string& line : SplitLines(text)) {
    std::string name, k, v;
    if (SectionOf(line, &name)) {
      inside = SameText(name, section);
    } else if (inside && EntryOf(line, &k, &v) && SameText(k, key)) {
      *value = v;
      return true;
    }
  }
  return false;
}

std::string SetProfileValue(const std::string& text, const char* section, const char* key, const char* value) {
  std::vector<std::string> lines = SplitLines(text);
  const std::string entry = std::string(key) + "=" + value;
  bool inside = false;
  int sectionEnd = -1;  // index after the last line of the wanted section
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string name, k, v;
    if (SectionOf(lines[i], &name)) {
      inside = SameText(name, section);
      if (inside) sectionEnd = static_cast<int>(i) + 1;
    } else if (inside) {
      if (EntryOf(lines[i], &k, &v) && SameText(k, key)) {
        lines[i] = entry;
        sectionEnd = -2;
        break;
      }
      if (!Trim(lines[i]).empty()) sectionEnd = static_cast<int>(i) + 1;
    }
  }
  if (sectionEnd >= 0) {
    lines.insert(lines.begin() + sectionEnd, entry);
  } else if (sectionEnd == -1) {
    if (!lines.empty() && !Trim(lines.back()).empty()) lines.push_back("");
    lines.push_back(std::string("[") + section + "]");
    lines.push_back(entry);
  }
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

}  // namespace kivo::os
