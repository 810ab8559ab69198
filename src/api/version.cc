// SPDX-License-Identifier: BSD-2-Clause
// The library's version and the run-time half of the version check.
#include "kivo/kivo.h"

namespace kivo {
namespace {

const uint32_t kRecordSizes[] = {KIVO_PUBLIC_RECORDS(KIVO_RECORD_SIZE_)};
constexpr uint32_t kRecordCount = sizeof kRecordSizes / sizeof kRecordSizes[0];

}  // namespace

LibraryVersion GetLibraryVersion() {
  return LibraryVersion{KIVO_VERSION_MAJOR, KIVO_VERSION_MINOR, KIVO_VERSION_PATCH, KIVO_ABI_VERSION,
                        KIVO_API_VERSION, KIVO_VERSION_TEXT};
}

const char* GetLibraryVersionText() { return KIVO_VERSION_TEXT; }

int32_t CheckLibraryVersion(uint32_t apiVersion, uint32_t abiVersion, const uint32_t* recordSizes, uint32_t count) {
  if (abiVersion != KIVO_ABI_VERSION) return 0;
  // A program compiled against a newer header may call what this library
  // does not have; an older header is served.
  if (apiVersion > KIVO_API_VERSION) return 0;
  if ((apiVersion >> 16) != KIVO_VERSION_MAJOR) return 0;
  // Records are only ever appended to the list, so an older program checks
  // a prefix of it.
  if (!recordSizes || count == 0 || count > kRecordCount) return 0;
  for (uint32_t i = 0; i < count; ++i)
    if (recordSizes[i] != kRecordSizes[i]) return 0;
  return 1;
}

}  // namespace kivo
