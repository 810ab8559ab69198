// The SDL2 blitting styles, by /B number (index 0 unused).
#pragma once

#include <cstdint>

#include "display/blit_style.h"

namespace kivo {

extern const BlitStyle kSdlStyles[kBlitStyleLast + 1];

// Styles 1 and 3 to 10 for the portable choice; style 2 is the fall-back.
const BlitStyle* SdlStyle(int32_t number);

}  // namespace kivo
