// SPDX-License-Identifier: BSD-2-Clause
// The encoder's one way of reporting a failure: the text for the caller
// (when it asked for one) and false.
#pragma once

#include <string>

namespace kivo::encode {

inline bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

}  // namespace kivo::encode
