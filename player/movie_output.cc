// The picture copy and the sound-driver choice. Both modules are still being
// written beside the player, so each is called only once its header is in
// the tree: until then a frame leaves the buffer as it was (the lateness
// check still runs, so the frame cycle's bookkeeping stays the same) and
// movies play silent.
#include "player/movie_output.h"

#include "display/blit_buffer.h"
#include "movie/movie_api.h"

#if __has_include("convert/copy_to_buffer.h")
#include "convert/copy_to_buffer.h"
#define KIVO_PLAYER_HAS_COPY 1
#endif
#if __has_include("sound/sound_system.h")
#include "sound/sound_system.h"
#define KIVO_PLAYER_HAS_SOUND 1
#endif

namespace kivo {

int32_t CopyPictureToBuffer(Movie* movie, BlitBuffer* buffer, uint32_t copyFlags) {
  if (!movie || !buffer || !buffer->lockedPointer) return 0;
#if defined(KIVO_PLAYER_HAS_COPY)
  return CopyToBuffer(movie, buffer->lockedPointer, buffer->lockedPitch, buffer->height, 0, 0, copyFlags);
#else
  return CheckLate(movie, copyFlags);
#endif
}

void ChooseSoundSystem(int32_t useWaveOut) {
#if defined(KIVO_PLAYER_HAS_SOUND)
  // The result is not looked at: without a driver movies play silent.
  SetSoundSystem(useWaveOut ? SelectWaveOutDriver : SelectDirectSoundDriver, nullptr);
#else
  (void)useWaveOut;
#endif
}

}  // namespace kivo
