// SPDX-License-Identifier: BSD-2-Clause
// MemAlloc / MemFree and the grouped allocation plan.
#include "base/memory.h"

#include <atomic>
#include <cstring>

#include "platform/platform.h"

namespace kivo {

namespace {
std::atomic<uint32_t> allocations{0};
// Blocks and bytes handed out and not yet freed (each block's size is kept at
// the start of its system block, in front of the distance byte).
std::atomic<uint32_t> liveBlocks{0};
std::atomic<uint64_t> liveBytes{0};
}

uint32_t MemAllocCount() { return allocations.load(std::memory_order_relaxed); }
uint32_t MemLiveCount() { return liveBlocks.load(std::memory_order_relaxed); }
uint64_t MemLiveBytes() { return liveBytes.load(std::memory_order_relaxed); }

void* MemAlloc(uint32_t size) {
  if (size == 0 || size > 0xFFFFFFFFu - 64) return nullptr;
  uint8_t* raw = static_cast<uint8_t*>(os::SystemAlloc(size + 64));
  if (!raw) return nullptr;
  uint32_t distance = 64 - static_cast<uint32_t>(reinterpret_cast<uintptr_t>(raw) % 32);
  uint8_t* block = raw + distance;
  block[-1] = static_cast<uint8_t>(distance);
  block[-2] = 0;  // kind: system memory
  memcpy(raw, &size, sizeof size);
  allocations.fetch_add(1, std::memory_order_relaxed);
  liveBlocks.fetch_add(1, std::memory_order_relaxed);
  liveBytes.fetch_add(size, std::memory_order_relaxed);
  return block;
}

void MemFree(void* block) {
  if (!block) return;
  uint8_t* p = static_cast<uint8_t*>(block);
  uint8_t* raw = p - p[-1];
  uint32_t size;
  memcpy(&size, raw, sizeof size);
  liveBlocks.fetch_sub(1, std::memory_order_relaxed);
  liveBytes.fetch_sub(size, std::memory_order_relaxed);
  os::SystemFree(raw);
}

namespace {

struct PlanEntry {
  void* variable;
  uint32_t share;
};

// Each thread plans its own blocks, so that movies and decoders can be
// opened on several threads at once. A plan lives within one open.
struct Plan {
  PlanEntry staticEntries[32];
  PlanEntry* entries = staticEntries;
  uint32_t entryCount = 0;
  uint32_t entryCapacity = 32;
  uint32_t total = 0;
  // Set when the plan could not grow: the next AllocatePlan fails rather than
  // hand out a block with buffers missing.
  bool broken = false;
  ~Plan() {
    if (entries != staticEntries) MemFree(entries);
  }
};

thread_local Plan plan;

}  // namespace

void PlanBlock(void* pointerVariable, uint32_t size) {
  Plan& p = plan;
  if (p.entryCount == p.entryCapacity) {
    PlanEntry* grown = static_cast<PlanEntry*>(MemAlloc(p.entryCapacity * 2 * sizeof(PlanEntry)));
    if (!grown) {
      p.broken = true;
      return;
    }
    memcpy(grown, p.entries, p.entryCount * sizeof(PlanEntry));
    if (p.entries != p.staticEntries) MemFree(p.entries);
    p.entries = grown;
    p.entryCapacity *= 2;
  }
  uint32_t a = (size + 31) & ~31u;
  if (size > 0xFFFFFFFFu - 31) p.broken = true;
  uint32_t pad = ((p.total / 32 - a / 32 + 1) % 32) * 32;
  uint64_t grownTotal = uint64_t(p.total) + a + pad;
  if (grownTotal > 0xFFFFFFFFu) p.broken = true;
  p.entries[p.entryCount++] = {pointerVariable, a + pad};
  p.total = static_cast<uint32_t>(grownTotal);
}

uint32_t PlanTotal() { return plan.total; }

void* AllocatePlan(uint32_t headSize) {
  Plan& p = plan;
  uint64_t h = (uint64_t(headSize) + 31) & ~uint64_t(31);
  uint64_t whole = h + p.total;
  bool broken = p.broken || whole > 0xFFFFFFFFu;
  p.total = 0;
  p.broken = false;
  uint8_t* block = broken ? nullptr : static_cast<uint8_t*>(MemAlloc(static_cast<uint32_t>(whole)));
  if (block) {
    uint8_t* next = block + h;
    for (uint32_t i = 0; i < p.entryCount; ++i) {
      *static_cast<uint8_t**>(p.entries[i].variable) = next;
      next += p.entries[i].share;
    }
  }
  p.entryCount = 0;
  return block;
}

}  // namespace kivo
