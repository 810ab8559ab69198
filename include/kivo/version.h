// SPDX-License-Identifier: BSD-2-Clause
// The library's version and the check that a program runs on a library it
// was compiled for.
//
// Two guards work together. The ABI number is part of the name of the check
// call (CheckLibraryVersion becomes CheckLibraryVersion_abi<N>) and of the
// shared library's soname (libkivo.so.<N>), so a program built for another
// ABI does not link or load at all. KIVO_CHECK_VERSION() then compares, at
// run time, the version and the sizes of the public records the program was
// compiled with against the library's own.
#pragma once

#include <cstdint>

#include "kivo/export.h"

#define KIVO_VERSION_MAJOR 0
#define KIVO_VERSION_MINOR 1
#define KIVO_VERSION_PATCH 0
#define KIVO_VERSION_TEXT "0.1.0"
// Raised whenever a public record changes layout or a call changes meaning.
#define KIVO_ABI_VERSION 2
// One number for comparisons: 0xMMmmpp.
#define KIVO_API_VERSION ((KIVO_VERSION_MAJOR << 16) | (KIVO_VERSION_MINOR << 8) | KIVO_VERSION_PATCH)

#define KIVO_ABI_NAME_(name, abi) name##_abi##abi
#define KIVO_ABI_NAME(name, abi) KIVO_ABI_NAME_(name, abi)
#define CheckLibraryVersion KIVO_ABI_NAME(CheckLibraryVersion, KIVO_ABI_VERSION)

namespace kivo {

struct LibraryVersion {
  uint32_t major, minor, patch;
  uint32_t abi;
  uint32_t apiVersion;  // as KIVO_API_VERSION
  const char* text;     // "major.minor.patch"
};

// The version of the library the program runs on. May be called at any
// time, from any thread.
KIVO_API LibraryVersion GetLibraryVersion();
KIVO_API const char* GetLibraryVersionText();

// 1 when the running library serves a program compiled with header version
// `apiVersion`, ABI `abiVersion` and public record sizes `recordSizes[0 ..
// count - 1]` (in the order of KIVO_CHECK_VERSION): same ABI, a library at
// least as new as the header, and every record of the size the program
// allocates or reads. Else 0. Use the macro rather than calling this.
KIVO_API int32_t CheckLibraryVersion(uint32_t apiVersion, uint32_t abiVersion, const uint32_t* recordSizes,
                                     uint32_t count);

}  // namespace kivo
