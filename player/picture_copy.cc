// SPDX-License-Identifier: BSD-2-Clause
// The picture copy into the locked display buffer.
#include "player/picture_copy.h"

#include "kivo/kivo.h"

namespace kivo {

int32_t CopyPictureToBuffer(Movie* movie, BlitBuffer* buffer, uint32_t copyFlags) {
  if (!movie || !buffer || !buffer->lockedPointer) return 0;
  return CopyToBuffer(movie, buffer->lockedPointer, buffer->lockedPitch, buffer->height, 0, 0, copyFlags);
}

}  // namespace kivo
