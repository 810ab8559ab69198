// A Linux build without SDL has no sound output: every movie plays silent.
#ifndef KIVO_HAVE_SDL

#include "sound/sound_device.h"

namespace kivo {

const QueueDevice* PlatformQueueDevice() { return nullptr; }
const LoopDevice* PlatformLoopDevice() { return nullptr; }

}  // namespace kivo

#endif
