// SPDX-License-Identifier: BSD-2-Clause
// The portable half of the display buffer: choosing a style and falling back,
// the record's bookkeeping, stretching, positions and clearing. Every style
// operation goes through the tables of blit_style.h.
#include "display/blit_buffer.h"

#include <cstring>

#include "base/memory.h"
#include "display/blit_geometry.h"
#include "display/blit_style.h"
#include "display/display_mode.h"
#include "display/pixel_layout.h"

#if defined(KIVO_HAVE_SDL)
#include "display/sdl/sdl_system.h"
#elif defined(_WIN32)
#include "display/win32/win32_system.h"
#endif

namespace kivo {

namespace {

char errorText[256] = "";
const BlitSystem* chosenSystem = nullptr;

const char kNoCapableStyle[] = "No capable blitting style available.";
const char kPaletteMode[] = "256 color mode not supported.";

BlitRecord* NewRecord(void* window, uint32_t width, uint32_t height, const BlitSystem* sys) {
  auto* b = static_cast<BlitRecord*>(MemAlloc(sizeof(BlitRecord)));
  if (!b) return nullptr;
  memset(b, 0, sizeof(BlitRecord));
  b->window = window;
  b->width = width;
  b->height = height;
  b->blitWidth = width;
  b->blitHeight = height;
  b->system = sys;
  return b;
}

// One attempt at a style; on failure the record is as before the attempt.
bool TryStyle(BlitRecord* b, const BlitStyle* style, uint32_t openFlags) {
  if (!style || !style->open) return false;
  b->flags = kDestBgrx32;
  b->ops = style;
  b->stretchCapabilities = style->stretch ? style->stretch(style, b) : 0;
  if (style->open(b, openFlags)) {
    b->style = style->number;
    if ((openFlags & kBlitOpenStretchMask) && !(b->flags & kBlitNoBlits)) b->flags |= kBlitStretched;
    return true;
  }
  b->ops = nullptr;
  b->flags = 0;
  b->stretchCapabilities = 0;
  b->surface = nullptr;
  b->usesPrimary = b->isOverlay = b->isOffscreen = b->hideCursor = 0;
  return false;
}

void MeasurePosition(BlitRecord* b) {
  int32_t originX = 0, originY = 0;
  if (b->system && b->system->measureWindow) b->system->measureWindow(b, &originX, &originY);
  b->clientX = originX + b->destinationX;
  b->clientY = originY + b->destinationY;
}

void FreeRecord(BlitRecord* b) {
  if (b->holdsDevice && b->system && b->system->releaseDevice) b->system->releaseDevice(b);
  b->holdsDevice = 0;
  ReleaseDisplayMode(b);
  memset(b, 0, sizeof(BlitRecord));
  MemFree(b);
}

// The record around a style that opened: sizes, the first full copy, and the
// surface put in step with the window.
BlitRecord* Finish(BlitRecord* b) {
  b->windowWidth = b->frameWidth + b->blitWidth;
  b->windowHeight = b->frameHeight + b->blitHeight;
  b->flags |= kBlitFullCopy;
  if (b->ops->place) b->ops->place(b, 0);
  return b;
}

BlitRecord* Fail(BlitRecord* b, const char* text) {
  if (text) SetBlitBufferError(text);
  FreeRecord(b);
  return nullptr;
}

// Styles added at start-up (AddBlitStyle) come after the build's own;
// zero-initialised, so that another file's start-up code finds them ready.
constexpr uint32_t kMaxOwnStyles = 32;
const BlitStyle* addedStyles[8];
uint32_t addedStyleCount;
const BlitStyle* allStyles[kMaxOwnStyles + 8];

const BlitStyle* const* StylesOf(const BlitSystem* sys, uint32_t* count) {
  *count = 0;
  const BlitStyle* const* own = sys && sys->styles ? sys->styles(count) : nullptr;
  if (addedStyleCount == 0 || sys != DefaultBlitSystem() || *count > kMaxOwnStyles) return own;
  for (uint32_t i = 0; i < *count; ++i) allStyles[i] = own[i];
  for (uint32_t i = 0; i < addedStyleCount; ++i) allStyles[*count + i] = addedStyles[i];
  *count += addedStyleCount;
  return allStyles;
}

bool StretchFits(const BlitStyle* s, const BlitRecord* b, uint32_t stretch) {
  // Written in place means no stretching at all, whatever it claims.
  if (s->capabilities & kBlitStyleWrittenInPlace) return stretch == 0;
  return StretchWithin(stretch, s->stretch ? s->stretch(s, b) : 0);
}

constexpr uint32_t kPublicCapabilities = kBlitStyleDrawsWindow | kBlitStyleWrittenInPlace | kBlitStyleHardwareStretch;

}  // namespace

void SetBlitBufferError(const char* text) {
  size_t n = 0;
  if (text) {
    while (text[n] && text[n] != '\n' && text[n] != '\r' && n < sizeof(errorText) - 1) ++n;
    memcpy(errorText, text, n);
  }
  errorText[n] = 0;
}

const char* GetBlitBufferError() { return errorText; }

const BlitSystem* DefaultBlitSystem() {
#if defined(KIVO_HAVE_SDL)
  return SdlBlitSystem();
#elif defined(_WIN32)
  return Win32BlitSystem();
#else
  return MemoryBlitSystem();
#endif
}

const BlitSystem* CurrentBlitSystem() { return chosenSystem ? chosenSystem : DefaultBlitSystem(); }
void SetBlitSystem(const BlitSystem* system) { chosenSystem = system; }

int32_t ShowWindowBand(void* window, const void* pixels, int32_t pitch, int32_t x, int32_t y, int32_t width,
                       int32_t height) {
  const BlitSystem* sys = CurrentBlitSystem();
  return window && sys->showBand ? sys->showBand(window, pixels, pitch, x, y, width, height) : 0;
}

void EraseWindowBand(void* window, int32_t x, int32_t y, int32_t width, int32_t height) {
  const BlitSystem* sys = CurrentBlitSystem();
  if (window && sys->eraseBand) sys->eraseBand(window, x, y, width, height);
}

BlitBuffer* OpenBlitBuffer(void* window, uint32_t width, uint32_t height, uint32_t flags) {
  if (width == 0 || height == 0) return nullptr;
  if (!window) return OpenMemoryBlitBuffer(width, height, kDestBgrx32);
  SetBlitBufferError(nullptr);
  const BlitSystem* sys = CurrentBlitSystem();
  BlitRecord* b = NewRecord(window, width, height, sys);
  if (!b) {
    SetBlitBufferError("Not enough memory for the display buffer.");
    return nullptr;
  }
  MeasurePosition(b);
  const int32_t style = int32_t(flags & kBlitOpenStyleMask);
  const uint32_t stretch = flags & kBlitOpenStretchMask;
  uint32_t count = 0;
  const BlitStyle* const* list = StylesOf(sys, &count);
  // Where the walk starts: automatic choice at the head of the list.
  uint32_t at = count;
  for (uint32_t i = 0; i < count; ++i) {
    if (style == kBlitStyleAuto || list[i]->number == style) {
      at = i;
      break;
    }
  }

  bool toFallback = style == kBlitStyleDib;
  if (!toFallback) {
    if (!sys->acquireDevice || !sys->acquireDevice(b, flags)) {
      if (style != kBlitStyleAuto) return Fail(b, sys->unavailableText);
      toFallback = true;
    } else {
      b->holdsDevice = 1;
    }
  }
  const BlitStyle* first = at < count ? list[at] : nullptr;
  if (!toFallback && style == kBlitStyleAuto && (!first || (first->capabilities & kBlitStyleLastResort)))
    toFallback = true;
  if (!toFallback) {
    if (first && (first->capabilities & kBlitStyleFallsToLastResort)) {
      // Either way a failure here ends in the last resort.
      if (StretchFits(first, b, stretch) && TryStyle(b, first, flags)) return Finish(b);
      toFallback = true;
    } else {
      for (uint32_t i = at; i < count; ++i) {
        const BlitStyle* s = list[i];
        if ((s->capabilities & kBlitStyleLastResort) || !StretchFits(s, b, stretch)) continue;
        if (TryStyle(b, s, flags)) return Finish(b);
      }
      // Automatic choice always ends in the last resort.
      if (style != kBlitStyleAuto) {
        const bool palette = b->screenBits >= 1 && b->screenBits <= 8;
        return Fail(b, palette ? kPaletteMode : kNoCapableStyle);
      }
      toFallback = true;
    }
  }
  if (!b->countedInDisplayMode) ApplyDisplayModeChange(b, flags);
  if (TryStyle(b, BlitStyleByNumber(sys, kBlitStyleDib), flags)) return Finish(b);
  return Fail(b, errorText[0] ? nullptr : kNoCapableStyle);
}

BlitBuffer* OpenMemoryBlitBuffer(uint32_t width, uint32_t height, int32_t destinationCode) {
  if (width == 0 || height == 0 || destinationCode < 0 || destinationCode > 15) return nullptr;
  BlitRecord* b = NewRecord(nullptr, width, height, MemoryBlitSystem());
  if (!b) {
    SetBlitBufferError("Not enough memory for the display buffer.");
    return nullptr;
  }
  b->flags = uint32_t(destinationCode);
  b->ops = MemoryBlitStyle();
  b->stretchCapabilities = b->ops->stretch(b->ops, b);
  if (!b->ops->open(b, 0)) return Fail(b, nullptr);
  b->style = b->ops->number;
  return Finish(b);
}

void CloseBlitBuffer(BlitBuffer* publicBuffer) {
  BlitRecord* buffer = RecordOf(publicBuffer);
  if (!buffer) return;
  if (buffer->lockedPointer) UnlockBlitBuffer(buffer);
  if (buffer->ops && buffer->ops->close) buffer->ops->close(buffer);
  FreeRecord(buffer);
}

int32_t LockBlitBuffer(BlitBuffer* publicBuffer) {
  BlitRecord* buffer = RecordOf(publicBuffer);
  if (!buffer || !buffer->ops || !buffer->ops->lock) return 0;
  if (buffer->lockedPointer) return 1;
  if (!buffer->ops->lock(buffer)) {
    buffer->lockedPointer = nullptr;
    buffer->lockedPitch = 0;
    return 0;
  }
  return 1;
}

int32_t UnlockBlitBuffer(BlitBuffer* publicBuffer) {
  BlitRecord* buffer = RecordOf(publicBuffer);
  if (!buffer || !buffer->lockedPointer) return 1;
  if (buffer->ops && buffer->ops->unlock) buffer->ops->unlock(buffer);
  buffer->lockedPointer = nullptr;
  buffer->lockedPitch = 0;
  buffer->flags &= ~kBlitFullCopy;
  return 1;
}

void BlitRects(BlitBuffer* publicBuffer, const MovieRect* rects, int32_t count) {
  BlitRecord* buffer = RecordOf(publicBuffer);
  if (!buffer || !buffer->ops || !buffer->ops->blit || count <= 0) return;
  if (!rects) {
    buffer->ops->blit(buffer, nullptr, 1);
    return;
  }
  // Rectangles clipped to the picture, handed on in small batches.
  MovieRect batch[16];
  int32_t n = 0;
  for (int32_t i = 0; i < count; ++i) {
    BlitRectangle r{rects[i].x, rects[i].y, rects[i].width, rects[i].height};
    if (!ClipRectangle(&r, buffer->width, buffer->height)) continue;
    batch[n++] = MovieRect{r.x, r.y, r.width, r.height};
    if (n == 16) {
      buffer->ops->blit(buffer, batch, n);
      n = 0;
    }
  }
  if (n > 0) buffer->ops->blit(buffer, batch, n);
}

int32_t SetBlitSize(BlitBuffer* publicBuffer, uint32_t width, uint32_t height) {
  BlitRecord* buffer = RecordOf(publicBuffer);
  if (!buffer) return 0;
  if (width == 0) width = buffer->screenWidth;
  if (height == 0) height = buffer->screenHeight;
  const uint32_t caps = buffer->stretchCapabilities;
  const bool acceptX = width != 0 && StretchWithin(StretchClassX(width, buffer->width), caps);
  const bool acceptY = height != 0 && StretchWithin(StretchClassY(height, buffer->height), caps);
  if (acceptX) buffer->blitWidth = width;
  if (acceptY) buffer->blitHeight = height;
  buffer->windowWidth = buffer->frameWidth + buffer->blitWidth;
  buffer->windowHeight = buffer->frameHeight + buffer->blitHeight;
  if (buffer->ops && buffer->ops->place) buffer->ops->place(buffer, 0);
  return acceptX && acceptY ? 1 : 0;
}

const char* GetBlitStyleName(const BlitBuffer* publicBuffer) {
  const BlitRecord* buffer = RecordOf(publicBuffer);
  return buffer && buffer->ops && buffer->ops->name ? buffer->ops->name : "";
}

const BlitStyle* BlitStyleByNumber(const BlitSystem* system, int32_t number) {
  uint32_t count = 0;
  const BlitStyle* const* list = StylesOf(system, &count);
  for (uint32_t i = 0; i < count; ++i) {
    // The last resort answers to /B2 whatever its own number.
    const bool lastResort = (list[i]->capabilities & kBlitStyleLastResort) != 0;
    if (number == kBlitStyleDib ? lastResort : (!lastResort && list[i]->number == number)) return list[i];
  }
  return nullptr;
}

int32_t AddBlitStyle(const BlitStyle* style) {
  if (!style || !style->open || style->number <= kBlitStyleDib || style->number > int32_t(kBlitOpenStyleMask) ||
      addedStyleCount == sizeof addedStyles / sizeof addedStyles[0] ||
      BlitStyleByNumber(DefaultBlitSystem(), style->number))
    return 0;
  addedStyles[addedStyleCount++] = style;
  return 1;
}

const char* GetBlitStyleNameByNumber(int32_t style) {
  const BlitStyle* s = style != kBlitStyleAuto ? BlitStyleByNumber(DefaultBlitSystem(), style) : nullptr;
  return s && s->name ? s->name : "";
}

const char* GetBlitStyleHelpText(int32_t style) {
  const BlitStyle* s = style != kBlitStyleAuto ? BlitStyleByNumber(DefaultBlitSystem(), style) : nullptr;
  if (!s) return "";
  return s->help ? s->help : s->name ? s->name : "";
}

int32_t GetBlitStyleListEntry(int32_t index, const char** name, uint32_t* capabilities) {
  uint32_t count = 0;
  const BlitStyle* const* list = StylesOf(DefaultBlitSystem(), &count);
  if (index < 0 || uint32_t(index) >= count) return -1;
  const BlitStyle* s = list[index];
  if (name) *name = s->name ? s->name : "";
  if (capabilities) *capabilities = s->capabilities & kPublicCapabilities;
  return (s->capabilities & kBlitStyleLastResort) ? kBlitStyleDib : s->number;
}

int32_t FindBlitStyle(const char* name) {
  uint32_t count = 0;
  const BlitStyle* const* list = StylesOf(DefaultBlitSystem(), &count);
  for (uint32_t i = 0; name && i < count; ++i) {
    const BlitStyle* s = list[i];
    if ((s->id && strcmp(s->id, name) == 0) || (s->name && strcmp(s->name, name) == 0))
      return (s->capabilities & kBlitStyleLastResort) ? kBlitStyleDib : s->number;
  }
  return -1;
}

uint32_t GetBlitStyleCapabilities(const BlitBuffer* publicBuffer) {
  const BlitRecord* buffer = RecordOf(publicBuffer);
  return buffer && buffer->ops ? buffer->ops->capabilities & kPublicCapabilities : 0;
}

void TrackBlitCursor(BlitBuffer* publicBuffer) {
  BlitRecord* buffer = RecordOf(publicBuffer);
  // Only a buffer written in place hides the cursor; its placement keeps the
  // cursor in step with the pointer.
  if (buffer && buffer->usesPrimary && buffer->ops && buffer->ops->place) buffer->ops->place(buffer, 0);
}

void SetBlitPosition(BlitBuffer* publicBuffer, int32_t x, int32_t y) {
  BlitRecord* buffer = RecordOf(publicBuffer);
  if (!buffer) return;
  buffer->destinationX = x;
  buffer->destinationY = y;
  MeasurePosition(buffer);
  buffer->flags |= kBlitFullCopy;
  if (buffer->ops && buffer->ops->place) buffer->ops->place(buffer, 0);
}

void AdjustWindowPosition(BlitBuffer* publicBuffer, int32_t* windowX, int32_t* windowY) {
  BlitRecord* buffer = RecordOf(publicBuffer);
  if (!buffer || !windowX || !windowY) return;
  WindowPlacement p;
  p.clientOffsetX = buffer->clientOffsetX;
  p.clientOffsetY = buffer->clientOffsetY;
  p.pictureWidth = buffer->width;
  p.pictureHeight = buffer->height;
  p.screenWidth = buffer->screenWidth;
  p.screenHeight = buffer->screenHeight;
  p.screenBytesPerPixel = (buffer->screenBits + 7) / 8;
  // Kept on a screen only when its size is known.
  p.keepOnScreen = buffer->usesPrimary != 0 && buffer->screenWidth != 0 && buffer->screenHeight != 0;
  AdjustWindowPlacement(p, windowX, windowY);
}

int32_t ClearBlitBuffer(BlitBuffer* buffer) {
  if (!LockBlitBuffer(buffer)) return 0;
  ClearPicture(buffer->lockedPointer, buffer->lockedPitch, buffer->width, buffer->height,
               int32_t(buffer->flags & kBlitCodeMask));
  UnlockBlitBuffer(buffer);
  buffer->flags &= ~kBlitFullCopy;
  return 1;
}

}  // namespace kivo
