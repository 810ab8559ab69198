// SPDX-License-Identifier: BSD-2-Clause
// The SDL2 blit system (sdl_system.cc): the video subsystem as the shared
// device, SDL pixel formats as destination codes, the cursor, and the
// display-mode change as exclusive full screen.
#pragma once

#include <cstdint>

namespace kivo {

struct BlitSystem;

const BlitSystem* SdlBlitSystem();

// The destination code for an SDL pixel format (kDestUnknown when no
// converter writes it), and the bits per pixel a mode of that format has
// (bytes x 8, so 5-5-5 counts as 16; 0 for FourCC formats).
int32_t DestinationCodeFromSdlFormat(uint32_t sdlFormat);
uint32_t SdlFormatBits(uint32_t sdlFormat);

// Hides the mouse cursor over the program's windows (or shows it again).
// Buffers written in place hide the cursor only when it is shown.
void SetWindowCursorHidden(bool hidden);

}  // namespace kivo
