// SPDX-License-Identifier: BSD-2-Clause
// The copy of the movie's decoded picture into the locked display buffer.
#pragma once

#include <cstdint>

namespace kivo {

struct Movie;
struct BlitBuffer;

// Copies the movie's newest picture into the locked buffer with the copy
// flags given; 1 when the frame was late and not copied.
int32_t CopyPictureToBuffer(Movie* movie, BlitBuffer* buffer, uint32_t copyFlags);

}  // namespace kivo
