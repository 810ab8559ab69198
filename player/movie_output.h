// SPDX-License-Identifier: BSD-2-Clause
// The two library services the player reaches through one place each: the
// copy of the decoded picture into the locked display buffer, and the sound
// driver chosen once for the process.
#pragma once

#include <cstdint>

namespace kivo {

struct Movie;
struct BlitBuffer;

// Copies the movie's newest picture into the locked buffer with the copy
// flags given; 1 when the frame was late and not copied.
int32_t CopyPictureToBuffer(Movie* movie, BlitBuffer* buffer, uint32_t copyFlags);

// The queued-buffer driver with /Z, else the looping-buffer driver.
void ChooseSoundSystem(int32_t useWaveOut);

}  // namespace kivo
