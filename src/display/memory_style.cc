// SPDX-License-Identifier: BSD-2-Clause
// The memory buffer: a plain picture in memory in any destination format,
// shown nowhere. Tools and tests convert into it; a player with no display
// plays into it.
#include <cstring>

#include "base/memory.h"
#include "display/blit_style.h"
#include "display/pixel_layout.h"

namespace kivo {

namespace {

uint32_t MemoryStretch(const BlitStyle*, const BlitRecord*) { return kStretchAny; }

int32_t MemoryOpen(BlitRecord* b, uint32_t) {
  const int32_t code = int32_t(b->flags & kBlitCodeMask);
  const uint64_t bytes = DestinationBytesPerPixel(code);
  uint64_t pitch, size;
  if (code == kDestYv12) {
    pitch = (uint64_t(b->width) + 63) & ~uint64_t(63);   // chroma rows stay 32-byte aligned
    size = pitch * b->height + 2 * (pitch / 2) * ((uint64_t(b->height) + 1) / 2);
  } else {
    pitch = (uint64_t(b->width) * bytes + 31) & ~uint64_t(31);
    size = pitch * b->height;
  }
  if (size == 0 || size > (uint64_t(1) << 30)) {
    SetBlitBufferError("Not enough memory for the display buffer.");
    return 0;
  }
  b->pixels = static_cast<uint8_t*>(MemAlloc(uint32_t(size)));
  if (!b->pixels) {
    SetBlitBufferError("Not enough memory for the display buffer.");
    return 0;
  }
  memset(b->pixels, 0, size_t(size));
  b->pixelsPitch = int32_t(pitch);
  b->pixelsSize = uint32_t(size);
  if (code == kDestYv12) {
    // The whole chroma area, odd last row included, starts neutral.
    memset(b->pixels + pitch * b->height, 128, size_t(size - pitch * b->height));
  }
  ClearPicture(b->pixels, b->pixelsPitch, b->width, b->height, code);
  b->surface = b->pixels;
  b->screenBits = bytes * 8;
  return 1;
}

void MemoryClose(BlitRecord* b) {
  MemFree(b->pixels);
  b->pixels = nullptr;
  b->surface = nullptr;
}

int32_t MemoryLock(BlitRecord* b) {
  b->lockedPointer = b->pixels;
  b->lockedPitch = b->pixelsPitch;
  return b->pixels ? 1 : 0;
}

void MemoryUnlock(BlitRecord*) {}
void MemoryBlit(BlitRecord*, const MovieRect*, int32_t) {}

const BlitStyle kMemoryStyle = {
    .name = "Memory buffer",
    .id = "memory",
    .number = 0,
    .capabilities = kBlitStyleLastResort,
    .stretch = MemoryStretch,
    .open = MemoryOpen,
    .close = MemoryClose,
    .lock = MemoryLock,
    .unlock = MemoryUnlock,
    .blit = MemoryBlit,
};

const BlitStyle* const kMemoryStyles[] = {&kMemoryStyle};

const BlitStyle* const* MemoryStyles(uint32_t* count) {
  *count = 1;
  return kMemoryStyles;
}

// No device, no modes, and nothing redraws a window.
const BlitSystem kMemorySystem = {
    .unavailableText = "No display device is available.",
    .styles = MemoryStyles,
};

}  // namespace

const BlitStyle* MemoryBlitStyle() { return &kMemoryStyle; }
const BlitSystem* MemoryBlitSystem() { return &kMemorySystem; }

}  // namespace kivo
