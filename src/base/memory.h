// SPDX-License-Identifier: BSD-2-Clause
// The library's one allocator: 32-byte aligned blocks, and the grouped plan
// that puts many buffers of a movie (or an audio decoder) into one block with
// their start addresses staggered across cache sets.
#pragma once

#include <cstdint>

namespace kivo {

// A block aligned to 32 bytes, 33 to 64 bytes into its system block; null
// for sizes 0 and 0xFFFFFFFF and when the system has no memory.
void* MemAlloc(uint32_t size);
void MemFree(void* block);
// Blocks MemAlloc has handed out since the process began: lets tests check
// that playing allocates nothing.
uint32_t MemAllocCount();
// Blocks and bytes handed out and not yet freed: lets tests check that
// memory stays flat over long runs that open and close devices.
uint32_t MemLiveCount();
uint64_t MemLiveBytes();

// Plans a buffer of `size` bytes whose address goes to *pointerVariable when
// the plan is allocated. Each thread has a plan of its own.
void PlanBlock(void* pointerVariable, uint32_t size);
uint32_t PlanTotal();
// One block of the head (rounded up to 32) followed by every planned buffer;
// the plan is emptied in any case. Null when the block cannot be had.
void* AllocatePlan(uint32_t headSize);

}  // namespace kivo
