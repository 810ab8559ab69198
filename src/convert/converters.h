// SPDX-License-Identifier: BSD-2-Clause
// The converter family: one descriptor per destination layout, and the
// choice of member for a format code.
#pragma once

#include <cstdint>

#include "convert/walk.h"

namespace kivo {

// The member that writes `code` (1 to 14; 15 is the plane copy), taking the
// alpha member of codes 5 to 8 when the movie has an alpha plane. Null for
// codes that write nothing. The descriptor is the calling thread's own.
FormatDescriptor* DescriptorFor(uint32_t code, bool hasAlpha);

// Forgets the tuning of every descriptor of the calling thread.
void ResetTuning();

}  // namespace kivo
