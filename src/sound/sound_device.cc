// Which device layers new tracks open on, and the atomic header flags.
#include <atomic>

#include "sound/sound_device.h"

namespace kivo {
namespace {

const QueueDevice* queueDevice = nullptr;
const LoopDevice* loopDevice = nullptr;

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

void UseQueueDevice(const QueueDevice* device) { queueDevice = device; }
void UseLoopDevice(const LoopDevice* device) { loopDevice = device; }
const QueueDevice* CurrentQueueDevice() { return queueDevice ? queueDevice : PlatformQueueDevice(); }
const LoopDevice* CurrentLoopDevice() { return loopDevice ? loopDevice : PlatformLoopDevice(); }

}  // namespace kivo
