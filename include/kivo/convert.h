// SPDX-License-Identifier: BSD-2-Clause
// Copying a movie's newest picture into a caller's pixel buffer, in one of
// the destination formats, whole or only where it changed.
//
// Threads: on the movie's thread, after DoFrame and before NextFrame.
#pragma once

#include <cstdint>

#include "kivo/export.h"

namespace kivo {

struct Movie;

// Destination format codes, the low four bits of the copy flags.
constexpr uint32_t kFormatNone = 0;      // 8-bit palette: nothing is converted
constexpr uint32_t kFormatBgr24 = 1;     // bytes B, G, R
constexpr uint32_t kFormatRgb24 = 2;     // bytes R, G, B
constexpr uint32_t kFormatBgrx32 = 3;    // bytes B, G, R, 0
constexpr uint32_t kFormatRgbx32 = 4;    // bytes R, G, B, 0
constexpr uint32_t kFormatBgra32 = 5;    // bytes B, G, R, A (as code 3 without alpha)
constexpr uint32_t kFormatRgba32 = 6;    // bytes R, G, B, A (as code 4 without alpha)
constexpr uint32_t kFormatArgb4444 = 7;  // 16-bit words from here to code 12
constexpr uint32_t kFormatArgb1555 = 8;
constexpr uint32_t kFormatXrgb1555 = 9;
constexpr uint32_t kFormatRgb565 = 10;
constexpr uint32_t kFormatRgb556 = 11;   // red 15..11, green 10..6, blue 5..0
constexpr uint32_t kFormatRgb466 = 12;   // red 15..12, green 11..6, blue 5..0
constexpr uint32_t kFormatYuy2 = 13;     // Y0, U, Y1, V
constexpr uint32_t kFormatUyvy = 14;     // U, Y0, V, Y1
constexpr uint32_t kFormatYv12 = 15;     // luma plane, then V, then U, each half size

// Copy flags.
constexpr uint32_t kCopyFormatMask = 0x0000000F;
constexpr uint32_t kCopyExchangeRedBlue = 0x00010000;  // files of revisions 'f' and 'g'
constexpr uint32_t kCopyGray = 0x00020000;             // chroma is ignored
constexpr uint32_t kCopyNoSimd = 0x00040000;           // plain integer routines only
constexpr uint32_t kCopyNeverSkip = 0x00080000;        // copy late frames too
constexpr uint32_t kCopyOptionMask = 0x70000000;       // display option 0 to 7
constexpr uint32_t kCopyOptionShift = 28;
constexpr uint32_t kCopyFull = 0x80000000;             // ignore the changed-cell map
// The bits of a movie's own flags that every copy of it takes on.
constexpr uint32_t kCopyMovieFlags = 0x70030000;

// Display options (bits 28 to 30).
constexpr uint32_t kOptionNone = 0;
constexpr uint32_t kOptionTallDoubled = 1;     // every row written twice
constexpr uint32_t kOptionTallInterlaced = 2;  // every row into every other row
constexpr uint32_t kOptionWide = 3;            // every pixel written twice
constexpr uint32_t kOptionWideTall = 4;        // both doubled
constexpr uint32_t kOptionWideInterlaced = 5;  // width doubled, every other row
constexpr uint32_t kOptionHalfRows = 6;        // every other row into every other row
constexpr uint32_t kOptionForceNone = 7;       // overrides the movie's own option

constexpr uint32_t CopyOption(uint32_t flags) { return (flags & kCopyOptionMask) >> kCopyOptionShift; }

// Writes the picture with its top-left pixel at (x, y) of `destination`
// (rows `pitch` bytes apart; a negative pitch is a bottom-up buffer of
// `height` rows). `flags` are the copy flags; the movie's exchange, gray
// and display-option bits are added. Without kCopyFull only the 16 x 16
// cells that changed since the last copy are written, so the buffer must
// keep the previous picture: make the first copy into a buffer a full one.
// Returns 1 when the frame was found late (and, unless never-skip is in
// force, not copied), else 0. A missing movie or destination does nothing.
KIVO_API int32_t CopyToBuffer(Movie* movie, void* destination, int32_t pitch, uint32_t height, int32_t x, int32_t y,
                              uint32_t flags);

// The newest picture as rows of R, G, B, A bytes (alpha from the alpha
// plane, 255 without one), the presented width x height, rows `pitch` bytes
// apart. Always a full copy, never skipped; `flags` may add gray or a
// display option.
KIVO_API void CopyToRgbaRows(Movie* movie, uint8_t* rows, int32_t pitch, uint32_t flags);

}  // namespace kivo
