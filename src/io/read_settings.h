// SPDX-License-Identifier: BSD-2-Clause
// The I/O driver's one-shot settings for the next open: the read-ahead
// buffer size and the simulated read speed. Each is used by one open and
// then goes back to unset.
#pragma once

#include <cstdint>

#include "kivo/movie.h"  // SetReadBufferSize, SetSimulatedReadSpeed

namespace kivo {

constexpr uint32_t kReadSettingUnset = 0xFFFFFFFFu;  // -1: not set

// The value set (kReadSettingUnset when none), which goes back to unset.
// The open calls these only when its flags ask for the setting.
uint32_t TakeReadBufferSize();
uint32_t TakeSimulatedReadSpeed();

}  // namespace kivo
