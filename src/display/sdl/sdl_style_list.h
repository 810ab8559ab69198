// SPDX-License-Identifier: BSD-2-Clause
// The SDL2 blitting styles of this build (sdl_style_list.cc).
#pragma once

#include <cstdint>

#include "display/blit_style.h"

namespace kivo {

const BlitStyle* const* SdlStyles(uint32_t* count);

}  // namespace kivo
