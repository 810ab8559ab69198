// SPDX-License-Identifier: BSD-2-Clause
// A small bitmap font (5 x 7 glyphs of printable ASCII) for the text the
// player draws itself where the system offers none: the SDL shell's
// statistics line and the lettering of the built-in logo.
#pragma once

#include <cstdint>

namespace kivo {

constexpr int32_t kGlyphWidth = 5;
constexpr int32_t kGlyphHeight = 7;
// A character's cell at scale 1: a blank column after the glyph, a blank
// row above it and two below.
constexpr int32_t kCellWidth = 6;
constexpr int32_t kCellHeight = 10;
constexpr int32_t kGlyphTop = 1;

// Seven rows, bit 4 the leftmost column; characters outside printable
// ASCII get the glyph of '?'.
const uint8_t* GlyphRows(char c);

// The size of `length` characters at a scale.
void MeasureBitmapText(uint32_t length, int32_t scale, int32_t* width, int32_t* height);

// Writes the ink of the text into 32-bit pixels (pitch in pixels), the top
// left of the first cell at (x, y), every glyph pixel a scale x scale square;
// whatever lies outside width x height is left out.
void DrawBitmapText(uint32_t* pixels, int32_t pitch, int32_t width, int32_t height, int32_t x, int32_t y,
                    const char* text, uint32_t length, int32_t scale, uint32_t ink);

}  // namespace kivo
