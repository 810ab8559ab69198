// SPDX-License-Identifier: BSD-2-Clause
// The picture copy and the sound-driver choice.
#include "player/movie_output.h"

#include "kivo/kivo.h"

namespace kivo {

int32_t CopyPictureToBuffer(Movie* movie, BlitBuffer* buffer, uint32_t copyFlags) {
  if (!movie || !buffer || !buffer->lockedPointer) return 0;
  return CopyToBuffer(movie, buffer->lockedPointer, buffer->lockedPitch, buffer->height, 0, 0, copyFlags);
}

void ChooseSoundSystem(int32_t useWaveOut) {
  // The result is not looked at: without a driver movies play silent.
  SetSoundSystem(useWaveOut ? SelectWaveOutDriver : SelectDirectSoundDriver, nullptr);
}

}  // namespace kivo
