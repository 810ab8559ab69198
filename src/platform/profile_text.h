// SPDX-License-Identifier: BSD-2-Clause
// Reading and rewriting one key of an ini-style text ("[section]" headers,
// "key=value" lines), the way the user profile is kept where there is no
// system profile. Keys and sections compare without regard to case.
#pragma once

#include <string>

namespace kivo::os {

// The value of key in section, or false when absent.
bool FindProfileValue(const std::string& text, const char* section, const char* key, std::string* value);
// The text with key set to value in section (added when missing); other
// lines, comments included, are kept as they stand.
std::string SetProfileValue(const std::string& text, const char* section, const char* key, const char* value);

}  // namespace kivo::os
