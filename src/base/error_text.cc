// SPDX-License-Identifier: BSD-2-Clause
// The movie core's last-error text.
#include "base/error_text.h"

#include <cstring>

namespace kivo {
namespace {
char errorText[256];
}

void SetErrorText(const char* text) {
  if (!text) text = "";
  strncpy(errorText, text, sizeof errorText - 1);
  errorText[sizeof errorText - 1] = 0;
}

const char* GetErrorText() { return errorText; }

}  // namespace kivo
