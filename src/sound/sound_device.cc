// SPDX-License-Identifier: BSD-2-Clause
// Which devices new tracks try, and the atomic header flags.
#include <atomic>
#include <cstring>

#include "sound/sound_device.h"

namespace kivo {
namespace {

const SoundDeviceEntry* chosen = nullptr;  // null: the list's own choice

const void* LayerOf(const SoundDeviceEntry* e, bool queue) {
  return queue ? static_cast<const void*>(e->queue) : static_cast<const void*>(e->loop);
}

// The entry whose layer a track tries after `after` (null: the first).
const SoundDeviceEntry* NextOffering(bool queue, const void* after) {
  if (chosen) return after ? nullptr : chosen;
  uint32_t count = 0;
  const SoundDeviceEntry* const* list = SoundDeviceList(&count);
  bool past = after == nullptr;
  for (uint32_t i = 0; i < count; ++i) {
    const void* layer = LayerOf(list[i], queue);
    if ((list[i]->capabilities & kSoundDeviceOnDemand) || !layer) continue;
    if (past) return list[i];
    past = layer == after;
  }
  return nullptr;
}

}  // namespace

uint32_t HeaderFlags(const QueueHeader* header) {
  return std::atomic_ref<uint32_t>(const_cast<QueueHeader*>(header)->flags).load(std::memory_order_acquire);
}

void SetHeaderFlags(QueueHeader* header, uint32_t bits) {
  std::atomic_ref<uint32_t>(header->flags).fetch_or(bits, std::memory_order_acq_rel);
}

void ClearHeaderFlags(QueueHeader* header, uint32_t bits) {
  std::atomic_ref<uint32_t>(header->flags).fetch_and(~bits, std::memory_order_acq_rel);
}

const SoundDeviceEntry* FindSoundDevice(const char* name) {
  uint32_t count = 0;
  const SoundDeviceEntry* const* list = SoundDeviceList(&count);
  for (uint32_t i = 0; name && i < count; ++i)
    if (std::strcmp(list[i]->name, name) == 0) return list[i];
  return nullptr;
}

int32_t UseSoundDevice(const char* name) {
  if (!name) {
    chosen = nullptr;
    return 1;
  }
  const SoundDeviceEntry* entry = FindSoundDevice(name);
  if (!entry) return 0;
  chosen = entry;
  return 1;
}

const char* GetSoundDeviceName(uint32_t index) {
  uint32_t count = 0;
  const SoundDeviceEntry* const* list = SoundDeviceList(&count);
  return index < count ? list[index]->name : nullptr;
}

const QueueDevice* NextQueueDevice(const QueueDevice* after) {
  const SoundDeviceEntry* e = NextOffering(true, after);
  return e ? e->queue : nullptr;
}

const LoopDevice* NextLoopDevice(const LoopDevice* after) {
  const SoundDeviceEntry* e = NextOffering(false, after);
  return e ? e->loop : nullptr;
}

const QueueDevice* CurrentQueueDevice() { return NextQueueDevice(nullptr); }
const LoopDevice* CurrentLoopDevice() { return NextLoopDevice(nullptr); }

}  // namespace kivo
