// SPDX-License-Identifier: BSD-2-Clause
// The fake blit system's operations.
#include "display/fake_system.h"

#include <cstdio>

#include "display/blit_buffer.h"
#include "display/display_mode.h"
#include "display/pixel_layout.h"
#include "base/memory.h"

namespace kivo::testing {

namespace {

FakeMachine* current = nullptr;

uint32_t Caps(const BlitStyle* s, const BlitRecord*) { return current->capabilities[s->number]; }

// Picture memory of the buffer's own, as a surface would give it.
int32_t Opened(BlitRecord* b) {
  b->pixelsPitch = int32_t(b->width) * 4;
  b->pixels = static_cast<uint8_t*>(MemAlloc(uint32_t(b->pixelsPitch) * b->height));
  return b->pixels ? 1 : 0;
}

int32_t Open(BlitRecord* b, uint32_t) {
  const int32_t n = b->ops->number;
  current->attempts.push_back(n);
  if (n == kBlitStyleDib) {
    if (!current->fallbackOpens) {
      if (current->fallbackFailText) SetBlitBufferError(current->fallbackFailText);
      return 0;
    }
    b->flags = (b->flags & ~kBlitCodeMask) | kDestRgb565;
    return Opened(b);
  }
  if (!current->opens[n]) {
    if (current->failText[n]) SetBlitBufferError(current->failText[n]);
    return 0;
  }
  b->flags = (b->flags & ~kBlitCodeMask) | uint32_t(n >= 3 && n <= 8 ? kDestYuy2 : kDestBgrx32);
  if (n == kBlitStylePrimary) b->usesPrimary = 1;
  if (n >= 3 && n <= 5) b->flags |= kBlitNoBlits;
  return Opened(b);
}

void Close(BlitRecord* b) {
  MemFree(b->pixels);
  b->pixels = nullptr;
}

int32_t Lock(BlitRecord* b) {
  b->lockedPointer = b->pixels;
  b->lockedPitch = b->pixelsPitch;
  return 1;
}
void Unlock(BlitRecord*) {}
void Blit(BlitRecord*, const MovieRect*, int32_t) {}

// Style 1 is written in place and falls to the last resort, 2 is the last
// resort, the others fall forward: the order and kinds the real lists have.
constexpr uint32_t KindOf(int32_t n) {
  return n == 1 ? kBlitStyleWrittenInPlace | kBlitStyleFallsToLastResort : n == 2 ? kBlitStyleLastResort : 0;
}
#define FAKE_STYLE(n)                                                                                   \
  {.name = "Fake style " #n, .id = "fake" #n, .number = n, .capabilities = KindOf(n), .stretch = Caps, \
   .open = Open, .close = Close, .lock = Lock, .unlock = Unlock, .blit = Blit}
const BlitStyle kStyles[11] = {FAKE_STYLE(0), FAKE_STYLE(1), FAKE_STYLE(2), FAKE_STYLE(3),
                               FAKE_STYLE(4), FAKE_STYLE(5), FAKE_STYLE(6), FAKE_STYLE(7),
                               FAKE_STYLE(8), FAKE_STYLE(9), FAKE_STYLE(10)};

int32_t Acquire(BlitRecord* b, uint32_t flags) {
  if (!current->deviceAvailable) return 0;
  ApplyDisplayModeChange(b, flags);   // the way the SDL system takes the device
  return 1;
}
void Release(BlitRecord*) { ++current->deviceReleases; }

// The styles this machine offers, the last resort always.
const BlitStyle* const* Styles(uint32_t* count) {
  static const BlitStyle* list[10];
  uint32_t n = 0;
  for (int32_t i = 1; i <= 10; ++i)
    if (i == 2 || current->offered[i]) list[n++] = &kStyles[i];
  *count = n;
  return list;
}

void MeasureWindow(BlitRecord* b, int32_t* x, int32_t* y) {
  b->clientOffsetX = current->clientOffsetX;
  b->clientOffsetY = current->clientOffsetY;
  b->frameWidth = current->frameWidth;
  b->frameHeight = current->frameHeight;
  *x = current->originX;
  *y = current->originY;
}

void MeasureScreen(BlitRecord* b) {
  b->screenWidth = current->current.width;
  b->screenHeight = current->current.height;
  b->screenBits = current->current.bits;
}

int32_t SetMode(BlitRecord*, uint32_t w, uint32_t h, uint32_t bits) {
  char text[48];
  snprintf(text, sizeof text, "set %ux%ux%u", w, h, bits);
  current->modeCalls.push_back(text);
  for (const FakeMode& m : current->modes) {
    if (m.width == w && m.height == h && (bits == 0 || m.bits == bits)) {
      current->current = m;
      if (current->reportedBitsOverride) current->current.bits = current->reportedBitsOverride;
      return 1;
    }
  }
  return 0;
}

uint32_t DisplayBits(BlitRecord*) { return current->current.bits; }

void RestoreMode(BlitRecord*) {
  current->modeCalls.push_back("restore");
  current->current = current->userMode;
}

const BlitSystem kSystem = {
    .unavailableText = "Fake device is not available",
    .acquireDevice = Acquire,
    .releaseDevice = Release,
    .styles = Styles,
    .measureWindow = MeasureWindow,
    .measureScreen = MeasureScreen,
    .setMode = SetMode,
    .displayBits = DisplayBits,
    .restoreMode = RestoreMode,
};

}  // namespace

FakeSystemScope::FakeSystemScope() {
  current = new FakeMachine();
  SetBlitSystem(&kSystem);
}

FakeSystemScope::~FakeSystemScope() {
  SetBlitSystem(nullptr);
  delete current;
  current = nullptr;
}

FakeMachine& FakeSystemScope::machine() { return *current; }
const BlitSystem* FakeBlitSystem() { return &kSystem; }
FakeMachine& Fake() { return *current; }

}  // namespace kivo::testing
