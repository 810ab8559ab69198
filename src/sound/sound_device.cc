// SPDX-License-Identifier: BSD-2-Clause
// Which device new tracks open on, and the atomic header flags.
#include <atomic>
#include <cstring>

#include "sound/sound_device.h"

namespace kivo {
namespace {

const SoundDeviceEntry* chosen = nullptr;  // null: the list's own choice

const SoundDeviceEntry* FirstOffering(bool queue) {
  uint32_t count = 0;
  const SoundDeviceEntry* const* list = SoundDeviceList(&count);
  for (uint32_t i = 0; i < count; ++i) {
    if (list[i]->capabilities & kSoundDeviceOnDemand) continue;
    if (queue ? list[i]->queue != nullptr : list[i]->loop != nullptr) return list[i];
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

const QueueDevice* CurrentQueueDevice() {
  const SoundDeviceEntry* e = chosen ? chosen : FirstOffering(true);
  return e ? e->queue : nullptr;
}

const LoopDevice* CurrentLoopDevice() {
  const SoundDeviceEntry* e = chosen ? chosen : FirstOffering(false);
  return e ? e->loop : nullptr;
}

}  // namespace kivo
