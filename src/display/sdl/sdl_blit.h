// SPDX-License-Identifier: BSD-2-Clause
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
// Buffers written in place hide the cursor only when it is shown.
void SetWindowCursorHidden(bool hidden);


// A band of 32-bit ARGB pixels (the statistics line) over a window that a
// renderer draws whole at every blit: kept with the window's renderer, drawn
// after the picture at every present, and shown at once. `pitch` in bytes;
// (x, y) in window coordinates. 0 when no renderer draws the window: the
// caller draws on the window's own surface then.
int32_t ShowSdlWindowBand(void* window, const void* pixels, int32_t pitch, int32_t x, int32_t y, int32_t width,
                          int32_t height);
// Paint over an area of the window: a band it touches is no longer drawn.
void EraseSdlWindowBand(void* window, int32_t x, int32_t y, int32_t width, int32_t height);

}  // namespace kivo
