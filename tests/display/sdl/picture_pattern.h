// SPDX-License-Identifier: BSD-2-Clause
// A known picture for the display tests: written straight into a locked
// buffer in its destination format, and the colour each pixel should show.
#pragma once

#include <cstdint>

namespace kivo {
struct BlitBuffer;
}

namespace kivo::testing {

struct Rgb {
  int r, g, b;
};

// Locks, writes the pattern for the buffer's code, unlocks. False if the
// lock failed.
bool WritePattern(kivo::BlitBuffer* buffer);

// The colour picture pixel (x, y) should show in a buffer of `code`, and how
// far a shown channel may be from it (the screen's own rounding: 16-bit
// fields, and the YUV conversion of the renderer). YUV pictures are 8 x 8
// blocks of colour bars.
Rgb PatternColour(int32_t code, uint32_t x, uint32_t y);
int PatternTolerance(int32_t code);
// Whether pixel (x, y) of a width x height pattern has a defined colour.
bool PatternComparable(int32_t code, uint32_t x, uint32_t y, uint32_t width, uint32_t height);

// A 24- or 32-bit word of 0x00RRGGBB as an Rgb.
inline Rgb FromXrgb(uint32_t v) { return Rgb{int(v >> 16 & 255), int(v >> 8 & 255), int(v & 255)}; }

}  // namespace kivo::testing
