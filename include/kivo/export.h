// SPDX-License-Identifier: BSD-2-Clause
// Marks the library's public calls. The shared library is built with hidden
// visibility, so these are the only symbols it exports; in the static
// library the mark changes nothing.
#pragma once

#if defined(_WIN32)
#define KIVO_API
#elif defined(__GNUC__) || defined(__clang__)
#define KIVO_API __attribute__((visibility("default")))
#else
#define KIVO_API
#endif
