// The display buffer on SDL2: the window's own surface written in place, RGB
// textures and YUV streaming textures on the accelerated or the software
// renderer, and the display-mode change as exclusive full screen.
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
// Buffers written in place hide the cursor while locked only when it is shown.
void SetWindowCursorHidden(bool hidden);

}  // namespace kivo
