// SPDX-License-Identifier: BSD-2-Clause
// Finding out whether the mouse cursor is drawn by software into the screen
// memory: such a cursor puts back what it covered when it is hidden, undoing
// a write to the primary surface under it, so it must be hidden while the
// primary is written. The answer is kept per cursor, surface and depth.
#include <windows.h>
#include <ddraw.h>

#include <cstddef>

#include "display/win32/win32_display.h"

namespace kivo::win32 {

namespace {

struct ProbeCache {
  HCURSOR cursor;
  void* memory;
  uint32_t bits;
  int32_t answer;
  bool valid;
};

ProbeCache cache = {};

const char kProbeClass[] = "MouseTypeWind";

LRESULT CALLBACK ProbeProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(window, &paint);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_DESTROY:
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

// ShowCursor until the count is negative (hide) or not negative (show); the
// calls made are added to *net so that the count can be put back.
void HideCompletely(int32_t* net) {
  for (int i = 0; i < 64; ++i) {
    --*net;
    if (ShowCursor(FALSE) < 0) break;
  }
}

void ShowAgain(int32_t* net) {
  for (int i = 0; i < 64; ++i) {
    ++*net;
    if (ShowCursor(TRUE) >= 0) break;
  }
}

// The primary's memory and layout, restoring it while it reports lost.
bool LockPrimary(DDSURFACEDESC* desc) {
  IDirectDrawSurface* primary = DirectDraw().primary;
  if (!primary) return false;
  bool lost = false;
  for (int attempt = 0; attempt < 4; ++attempt) {
    lost = false;
    const HRESULT result = LockSurface(primary, desc, &lost);
    if (result == DD_OK) return desc->lpSurface != nullptr;
    if (result != DDERR_SURFACELOST) return false;
  }
  return false;
}

int32_t Probe(HCURSOR cursor, POINT at) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = ProbeProcedure;
  windowClass.hInstance = instance;
  windowClass.hCursor = cursor;
  windowClass.lpszClassName = kProbeClass;
  const bool registered = RegisterClassA(&windowClass) != 0;
  HWND window = CreateWindowExA(WS_EX_TOPMOST, kProbeClass, "", WS_POPUP | WS_VISIBLE, at.x - 16, at.y - 16, 32,
                                32, nullptr, nullptr, instance, nullptr);
  if (!window) {
    if (registered) UnregisterClassA(kProbeClass, instance);
    return 0;
  }
  MSG message;
  PeekMessageA(&message, window, 0, 0, PM_REMOVE);

  int32_t net = 0;
  HDC screen = GetDC(nullptr);
  HideCompletely(&net);
  const COLORREF before = GetPixel(screen, at.x, at.y);
  const HCURSOR previous = SetCursor(cursor);
  ShowAgain(&net);

  int32_t answer = 0;
  DDSURFACEDESC desc;
  if (LockPrimary(&desc)) {
    const uint32_t bits = desc.ddpfPixelFormat.dwRGBBitCount;
    const bool onSurface = bits >= 8 && at.x >= 0 && at.y >= 0 && DWORD(at.x) < desc.dwWidth &&
                           DWORD(at.y) < desc.dwHeight;
    if (onSurface) {
      uint8_t* pixel = static_cast<uint8_t*>(desc.lpSurface) + ptrdiff_t(at.y) * desc.lPitch +
                       ptrdiff_t(at.x) * (bits / 8);
      *pixel = before == 0 ? 0xFF : 0;
    }
    DirectDraw().primary->Unlock(desc.lpSurface);
    if (onSurface) {
      HideCompletely(&net);
      const COLORREF after = GetPixel(screen, at.x, at.y);
      if (after == before) {
        answer = 1;
      } else {
        SetPixel(screen, at.x, at.y, before);
      }
    }
  }
  ReleaseDC(nullptr, screen);

  DestroyWindow(window);
  if (registered) UnregisterClassA(kProbeClass, instance);
  for (; net < 0; ++net) ShowCursor(TRUE);
  for (; net > 0; --net) ShowCursor(FALSE);
  SetCursor(previous);
  return answer;
}

}  // namespace

int32_t ProbeSoftwareCursor(BlitRecord* b) {
  if (!GetSystemMetrics(SM_MOUSEPRESENT)) return 0;
  DDSURFACEDESC layout;
  if (!LockPrimary(&layout)) return 0;
  DirectDraw().primary->Unlock(layout.lpSurface);
  const HCURSOR cursor = reinterpret_cast<HCURSOR>(GetClassLongPtrA(WindowOf(b), GCLP_HCURSOR));
  const uint32_t bits = layout.ddpfPixelFormat.dwRGBBitCount;
  if (cache.valid && cache.cursor == cursor && cache.memory == layout.lpSurface && cache.bits == bits)
    return cache.answer;
  POINT at;
  if (!GetCursorPos(&at)) return 0;
  cache = ProbeCache{cursor, layout.lpSurface, bits, Probe(cursor, at), true};
  return cache.answer;
}

}  // namespace kivo::win32
