// SPDX-License-Identifier: BSD-2-Clause
// Style 2, the DIB section: a top-down bitmap in the display's depth selected
// into a memory DC, written directly and shown with StretchBlt. It needs
// nothing but GDI and stretches any way, so it is the style of last resort.
#include <windows.h>

#include <cstring>

#include "base/memory.h"
#include "display/blit_geometry.h"
#include "display/blit_style.h"
#include "display/pixel_layout.h"
#include "display/win32/win32_display.h"

namespace kivo::win32 {

namespace {

struct DibHeader {
  BITMAPINFOHEADER header;
  DWORD masks[3];
};

uint32_t AnyStretch(const BlitStyle*, const BlitRecord*) { return kStretchAny; }

// Whether the display's own 16-bit layout is 5-6-5, from a 1x1 bitmap
// compatible with it.
bool DisplayIs565(HDC screen) {
  HBITMAP probe = CreateCompatibleBitmap(screen, 1, 1);
  if (!probe) return false;
  DibHeader info;
  memset(&info, 0, sizeof info);
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  // The first call fills in the header, the second the masks.
  bool is565 = false;
  if (GetDIBits(screen, probe, 0, 1, nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS) &&
      info.header.biCompression == BI_BITFIELDS &&
      GetDIBits(screen, probe, 0, 1, nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS)) {
    is565 = info.masks[0] == 0xF800 && info.masks[1] == 0x07E0 && info.masks[2] == 0x001F;
  }
  DeleteObject(probe);
  return is565;
}

void FreeDib(BlitRecord* b) {
  HDC memory = static_cast<HDC>(b->memoryDc);
  if (memory) {
    if (b->previousBitmap) SelectObject(memory, static_cast<HGDIOBJ>(b->previousBitmap));
    DeleteDC(memory);
  }
  if (b->dibSection) DeleteObject(static_cast<HGDIOBJ>(b->dibSection));
  MemFree(b->dibHeader);
  b->memoryDc = b->previousBitmap = b->dibSection = b->dibHeader = b->dibBits = nullptr;
  b->dibPitch = 0;
  b->surface = nullptr;
}

int32_t DibFail(BlitRecord* b, const char* text) {
  FreeDib(b);
  SetBlitBufferError(text);
  return 0;
}

int32_t DibOpen(BlitRecord* b, uint32_t) {
  HDC screen = GetDC(nullptr);
  if (!screen) return DibFail(b, "Unable to create DIBSection.");
  const int bits = GetDeviceCaps(screen, PLANES) * GetDeviceCaps(screen, BITSPIXEL);
  b->screenWidth = uint32_t(GetSystemMetrics(SM_CXSCREEN));
  b->screenHeight = uint32_t(GetSystemMetrics(SM_CYSCREEN));
  b->screenBits = bits > 0 ? uint32_t(bits) : 0;
  if (bits < 16) {
    ReleaseDC(nullptr, screen);
    return DibFail(b, "256 color mode not supported.");
  }
  // A 15-bit display is a 16-bit one with 5-5-5 fields.
  const uint32_t depth = bits <= 16 ? 16 : bits <= 24 ? 24 : 32;
  const uint32_t bytes = depth / 8;
  int32_t code = depth == 24 ? kDestBgr24 : kDestBgrx32;
  DWORD masks[3] = {0xFF0000, 0xFF00, 0xFF};
  if (depth == 16) {
    const bool is565 = bits == 16 && DisplayIs565(screen);
    masks[0] = is565 ? 0xF800 : 0x7C00;
    masks[1] = is565 ? 0x07E0 : 0x03E0;
    masks[2] = 0x001F;
    code = is565 ? kDestRgb565 : kDestXrgb1555;
  }
  // Rows rounded up to whole 32-byte lines, in pixels; the pitch in whole words.
  const uint64_t rowPixels = ((uint64_t(b->width) * bytes + 31) & ~uint64_t(31)) / bytes;
  const uint64_t pitch = (rowPixels * bytes + 3) & ~uint64_t(3);
  if (pitch * b->height > (uint64_t(1) << 30)) {
    ReleaseDC(nullptr, screen);
    return DibFail(b, "Unable to create DIBSection.");
  }
  auto* info = static_cast<DibHeader*>(MemAlloc(sizeof(DibHeader)));
  if (!info) {
    ReleaseDC(nullptr, screen);
    return DibFail(b, "Unable to create DIBSection.");
  }
  memset(info, 0, sizeof *info);
  b->dibHeader = info;
  info->header.biSize = sizeof(BITMAPINFOHEADER);
  info->header.biWidth = LONG(rowPixels);
  info->header.biHeight = -LONG(b->height);
  info->header.biPlanes = 1;
  info->header.biBitCount = WORD(depth);
  info->header.biCompression = depth == 24 ? BI_RGB : BI_BITFIELDS;
  memcpy(info->masks, masks, sizeof masks);
  void* pixels = nullptr;
  HBITMAP dib = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(info), DIB_RGB_COLORS, &pixels, nullptr, 0);
  HDC memory = dib ? CreateCompatibleDC(screen) : nullptr;
  ReleaseDC(nullptr, screen);
  b->dibSection = dib;
  b->memoryDc = memory;
  if (!dib || !pixels || !memory) return DibFail(b, "Unable to create DIBSection.");
  b->previousBitmap = SelectObject(memory, dib);
  b->dibBits = pixels;
  b->dibPitch = int32_t(pitch);
  b->surface = dib;
  ClearPicture(static_cast<uint8_t*>(pixels), b->dibPitch, b->width, b->height, code);
  b->flags = (b->flags & ~kBlitCodeMask) | uint32_t(code);
  return 1;
}

void DibClose(BlitRecord* b) { FreeDib(b); }

int32_t DibLock(BlitRecord* b) {
  if (!b->dibBits) return 0;
  GdiFlush();   // GDI may still be drawing from the bitmap
  b->lockedPointer = static_cast<uint8_t*>(b->dibBits);
  b->lockedPitch = b->dibPitch;
  return 1;
}

void DibUnlock(BlitRecord*) {}

void DibBlit(BlitRecord* b, const MovieRect* rects, int32_t count) {
  HDC memory = static_cast<HDC>(b->memoryDc);
  if (!memory) return;
  HWND window = WindowOf(b);
  HDC dc = GetDC(window);
  if (!dc) return;
  SetStretchBltMode(dc, COLORONCOLOR);
  const MovieRect whole{0, 0, int32_t(b->width), int32_t(b->height)};
  if (!rects) rects = &whole, count = 1;
  const bool stretched = b->blitWidth != b->width || b->blitHeight != b->height;
  for (int32_t i = 0; i < count; ++i) {
    const MovieRect& r = rects[i];
    const int32_t x = b->destinationX, y = b->destinationY;
    if (!stretched) {
      BitBlt(dc, x + r.x, y + r.y, r.width, r.height, memory, r.x, r.y, SRCCOPY);
      continue;
    }
    const BlitRectangle s = ScaleRectangle(BlitRectangle{r.x, r.y, r.width, r.height}, b->width, b->height,
                                           b->blitWidth, b->blitHeight);
    if (s.width <= 0 || s.height <= 0) continue;
    StretchBlt(dc, x + s.x, y + s.y, s.width, s.height, memory, r.x, r.y, r.width, r.height, SRCCOPY);
  }
  ReleaseDC(window, dc);
}

}  // namespace

extern const BlitStyle kDibStyle = {
    .name = "DIB Section",
    .id = "dib",
    .help = "DIBSection (best quality, most compatible)",
    .number = kBlitStyleDib,
    .capabilities = kBlitStyleLastResort,
    .stretch = AnyStretch,
    .open = DibOpen,
    .close = DibClose,
    .lock = DibLock,
    .unlock = DibUnlock,
    .blit = DibBlit,
};

}  // namespace kivo::win32
