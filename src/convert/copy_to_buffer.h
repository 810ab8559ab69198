// Copying a movie's newest picture into a caller's pixel buffer in any of
// the destination formats, with the lateness check and the read-ahead
// top-up that go with every copy.
#pragma once

#include <cstdint>

#include "convert/copy_flags.h"
#include "movie/movie.h"

namespace kivo {

// Writes the picture with its top-left pixel at (x, y) of `destination`
// (rows `pitch` bytes apart; a negative pitch is a bottom-up buffer of
// `height` rows). `flags` are the copy flags; the movie's exchange, gray
// and display-option bits are added. Returns 1 when the frame was found
// late (and, unless never-skip is in force, not copied), else 0. A missing
// movie or destination does nothing.
int32_t CopyToBuffer(Movie* movie, void* destination, int32_t pitch, uint32_t height, int32_t x, int32_t y,
                     uint32_t flags);

// The newest picture as rows of R, G, B, A bytes (alpha from the alpha
// plane, 255 without one), movie->width x movie->height pixels, rows
// `pitch` bytes apart: what a PNG writer wants. Always a full copy, never
// skipped; `flags` may add gray or a display option.
void CopyToRgbaRows(Movie* movie, uint8_t* rows, int32_t pitch, uint32_t flags);

}  // namespace kivo
