// SPDX-License-Identifier: BSD-2-Clause
// The logo movie built into the player (one frame of 224 x 252 at 10 frames
// per second), opened from memory when playback ends.
#pragma once

#include <cstdint>

namespace kivo {

const void* BuiltInLogoMovie();
uint32_t BuiltInLogoSize();

}  // namespace kivo
