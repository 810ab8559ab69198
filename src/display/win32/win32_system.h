// SPDX-License-Identifier: BSD-2-Clause
// The display buffer on Windows: DirectDraw (loaded at run time) with the
// primary surface, overlays and off-screen surfaces, and the GDI DIB section
// as the style of last resort; display modes the GDI way and the DirectDraw way.
#pragma once

#include <cstdint>

namespace kivo {

struct BlitSystem;

const BlitSystem* Win32BlitSystem();

// The destination code of a DirectDraw pixel format (its flags, FourCC, bit
// count and masks); kDestUnknown when no converter writes it.
int32_t DestinationCodeFromDirectDrawFormat(uint32_t formatFlags, uint32_t fourCc, uint32_t bits,
                                            uint32_t red, uint32_t green, uint32_t blue, uint32_t alpha);

// The stretch capability bits of the DirectDraw effect capabilities, for
// overlays or for blits.
uint32_t OverlayStretchBits(uint32_t fxCaps);
uint32_t BlitStretchBits(uint32_t fxCaps);

// Whether DirectDraw is loaded and its object held by at least one buffer.
bool DirectDrawInUse();

}  // namespace kivo
