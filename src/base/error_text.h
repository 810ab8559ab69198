// SPDX-License-Identifier: BSD-2-Clause
// The library's last-error text: one process-wide buffer of 256 characters.
#pragma once

#include "kivo/movie.h"  // GetErrorText

namespace kivo {

void SetErrorText(const char* text);

}  // namespace kivo
