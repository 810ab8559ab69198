// SPDX-License-Identifier: BSD-2-Clause
// The Windows blit system: DirectDraw loaded at run time and shared by every
// open buffer, the window and screen measurements, and the display-mode
// change the GDI way (ChangeDisplaySettingsA) and the DirectDraw way.
#include <windows.h>
#include <ddraw.h>

#include <cstring>

#include "display/blit_style.h"
#include "display/display_mode.h"
#include "display/pixel_layout.h"
#include "display/win32/win32_system.h"
#include "display/win32/win32_display.h"

namespace kivo {

namespace win32 {

namespace {

using CreateFunction = DirectDrawCreateFunction;

HMODULE ddrawModule = nullptr;
CreateFunction ddrawCreate = nullptr;
CreateFunction createReplacement = nullptr;
bool ddrawMissing = false;             // module or entry point absent: for good
DirectDrawState state = {};

bool LoadDirectDraw() {
  if (ddrawCreate) return true;
  if (ddrawMissing) return false;
  // No "insert disk" boxes when the library is absent.
  const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  ddrawModule = LoadLibraryA("DDRAW.DLL");
  SetErrorMode(previous);
  if (ddrawModule) {
    ddrawCreate = reinterpret_cast<CreateFunction>(
        reinterpret_cast<void*>(GetProcAddress(ddrawModule, "DirectDrawCreate")));
  }
  if (!ddrawCreate) {
    if (ddrawModule) FreeLibrary(ddrawModule);
    ddrawModule = nullptr;
    ddrawMissing = true;
    return false;
  }
  return true;
}

uint32_t LowestBit(uint32_t mask) { return mask & (~mask + 1); }

uint32_t ScreenBitsOf(HWND window) {
  HDC dc = GetDC(window);
  if (!dc) return 0;
  const int bits = GetDeviceCaps(dc, PLANES) * GetDeviceCaps(dc, BITSPIXEL);
  ReleaseDC(window, dc);
  return bits > 0 ? uint32_t(bits) : 0;
}

// The DirectDraw way of the display-mode change, with the object fresh: the
// candidates in order until one lands in its own depth (or the last is set).
void SetDirectDrawMode(HWND window, uint32_t openFlags) {
  uint32_t width, height, depthCode;
  const bool pending = (openFlags & kBlitOpenChangeMode) && PendingDisplayModeRequest(&width, &height, &depthCode);
  if (pending && state.object->SetCooperativeLevel(window, DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN) == DD_OK) {
    state.exclusive = true;
    uint32_t candidates[3];
    const uint32_t count = DepthCandidates(depthCode, candidates);
    for (uint32_t i = 0; i < count; ++i) {
      if (state.object->SetDisplayMode(width, height, candidates[i]) != DD_OK) continue;
      state.modeSet = true;
      if (ScreenBitsOf(window) == candidates[i]) break;
    }
  }
  if (pending) ClearDisplayModeRequest();
  // A full-screen level without a mode of our own would only take the
  // desktop away from the window.
  if (state.exclusive && !state.modeSet) {
    state.object->SetCooperativeLevel(window, DDSCL_NORMAL);
    state.exclusive = false;
  }
}

void ReadCapabilities() {
  DDCAPS driver, emulated;
  memset(&driver, 0, sizeof driver);
  memset(&emulated, 0, sizeof emulated);
  driver.dwSize = emulated.dwSize = sizeof(DDCAPS);
  state.overlayCaps = state.blitCaps = 0;
  state.overlays = false;
  if (state.object->GetCaps(&driver, &emulated) == DD_OK) {
    state.overlays = (driver.dwCaps & DDCAPS_OVERLAY) != 0;
    state.overlayCaps = OverlayStretchBits(driver.dwFXCaps);
    // The card's own stretching only: what the emulation layer adds is done
    // by the processor, and a style claiming it would be chosen to stretch
    // and then play too slowly.
    state.blitCaps = BlitStretchBits(driver.dwFXCaps);
  }
  DDSURFACEDESC desc;
  memset(&desc, 0, sizeof desc);
  desc.dwSize = sizeof desc;
  state.primaryBits = 0;
  state.colourKey = 0;
  if (state.primary->GetSurfaceDesc(&desc) == DD_OK) {
    const DDPIXELFORMAT& f = desc.ddpfPixelFormat;
    state.primaryBits = f.dwRGBBitCount;
    state.colourKey = (f.dwFlags & DDPF_PALETTEINDEXED8) || f.dwRGBBitCount == 8
                          ? 253
                          : LowestBit(f.dwRBitMask) + LowestBit(f.dwBBitMask);
  }
}

void DropObject(HWND window) {
  if (state.primary) state.primary->Release();
  if (state.object) {
    if (state.modeSet) state.object->RestoreDisplayMode();
    if (state.exclusive) state.object->SetCooperativeLevel(window, DDSCL_NORMAL);
    state.object->Release();
  }
  state = DirectDrawState{};
}

void MeasureScreenNow(BlitRecord* b) {
  b->screenWidth = uint32_t(GetSystemMetrics(SM_CXSCREEN));
  b->screenHeight = uint32_t(GetSystemMetrics(SM_CYSCREEN));
  b->screenBits = ScreenBitsOf(nullptr);
}

int32_t Acquire(BlitRecord* b, uint32_t openFlags) {
  HWND window = WindowOf(b);
  if (state.object) {
    ++state.users;
    MeasureScreenNow(b);
    return 1;
  }
  if (!LoadDirectDraw()) return 0;
  const CreateFunction create = createReplacement ? createReplacement : ddrawCreate;
  if (create(nullptr, &state.object, nullptr) != DD_OK || !state.object) {
    state = DirectDrawState{};
    return 0;
  }
  SetDirectDrawMode(window, openFlags);
  if (!state.exclusive && state.object->SetCooperativeLevel(window, DDSCL_NORMAL) != DD_OK) {
    DropObject(window);
    return 0;
  }
  DDSURFACEDESC desc;
  memset(&desc, 0, sizeof desc);
  desc.dwSize = sizeof desc;
  desc.dwFlags = DDSD_CAPS;
  desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  if (state.object->CreateSurface(&desc, &state.primary, nullptr) != DD_OK || !state.primary) {
    state.primary = nullptr;
    DropObject(window);
    return 0;
  }
  ReadCapabilities();
  state.users = 1;
  MeasureScreenNow(b);
  return 1;
}

void Release(BlitRecord* b) {
  if (state.users <= 0) return;
  if (--state.users == 0) DropObject(WindowOf(b));
}

void MeasureWindow(BlitRecord* b, int32_t* originX, int32_t* originY) {
  HWND window = WindowOf(b);
  RECT outer, client;
  POINT origin;
  if (!GetWindowRect(window, &outer) || !GetClientRect(window, &client) || !ClientOrigin(window, &origin)) return;
  b->clientOffsetX = origin.x - outer.left;
  b->clientOffsetY = origin.y - outer.top;
  const int32_t frameWidth = (outer.right - outer.left) - (client.right - client.left);
  const int32_t frameHeight = (outer.bottom - outer.top) - (client.bottom - client.top);
  b->frameWidth = frameWidth > 0 ? uint32_t(frameWidth) : 0;
  b->frameHeight = frameHeight > 0 ? uint32_t(frameHeight) : 0;
  *originX = origin.x;
  *originY = origin.y;
}

void MeasureScreen(BlitRecord* b) { MeasureScreenNow(b); }

int32_t SetMode(BlitRecord*, uint32_t width, uint32_t height, uint32_t bits) {
  DEVMODEA mode;
  memset(&mode, 0, sizeof mode);
  mode.dmSize = sizeof mode;
  mode.dmPelsWidth = width;
  mode.dmPelsHeight = height;
  mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
  if (bits) {
    mode.dmBitsPerPel = bits;
    mode.dmFields |= DM_BITSPERPEL;
  }
  return ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN) == DISP_CHANGE_SUCCESSFUL ? 1 : 0;
}

uint32_t DisplayBits(BlitRecord* b) { return ScreenBitsOf(WindowOf(b)); }

void RestoreMode(BlitRecord*) { ChangeDisplaySettingsA(nullptr, CDS_FULLSCREEN); }

// DirectDraw keeps the mode when it set one, or when another buffer uses it.
int32_t ModeHeldByDevice(const BlitRecord* b) {
  if (!state.object) return 0;
  return state.modeSet || state.users > (b->holdsDevice ? 1 : 0) ? 1 : 0;
}

// Every style leaves the window's other pixels alone: no band to keep.
const BlitSystem kSystem = {
    .unavailableText = "DirectDraw is not available",
    .acquireDevice = Acquire,
    .releaseDevice = Release,
    .styles = Win32Styles,
    .measureWindow = MeasureWindow,
    .measureScreen = MeasureScreen,
    .setMode = SetMode,
    .displayBits = DisplayBits,
    .restoreMode = RestoreMode,
    .modeHeldByDevice = ModeHeldByDevice,
};

}  // namespace

DirectDrawState& DirectDraw() { return state; }

void SetDirectDrawCreate(DirectDrawCreateFunction create) { createReplacement = create; }

int32_t SurfaceCode(const DDPIXELFORMAT& f) {
  return DestinationCodeFromDirectDrawFormat(f.dwFlags, f.dwFourCC, f.dwRGBBitCount, f.dwRBitMask, f.dwGBitMask,
                                             f.dwBBitMask, f.dwRGBAlphaBitMask);
}

HRESULT LockSurface(IDirectDrawSurface* surface, DDSURFACEDESC* desc, bool* lost, RECT* area) {
  memset(desc, 0, sizeof *desc);
  desc->dwSize = sizeof *desc;
  HRESULT result = surface->Lock(area, desc, DDLOCK_WAIT, nullptr);
  if (result == DDERR_SURFACELOST) {
    *lost = true;
    surface->Restore();
    memset(desc, 0, sizeof *desc);
    desc->dwSize = sizeof *desc;
    result = surface->Lock(area, desc, DDLOCK_WAIT, nullptr);
  }
  return result;
}

bool ClientOrigin(HWND window, POINT* origin) {
  origin->x = origin->y = 0;
  return ClientToScreen(window, origin) != 0;
}

}  // namespace win32

const BlitSystem* Win32BlitSystem() { return &win32::kSystem; }

bool DirectDrawInUse() { return win32::state.object != nullptr; }

int32_t DestinationCodeFromDirectDrawFormat(uint32_t formatFlags, uint32_t fourCc, uint32_t bits, uint32_t red,
                                            uint32_t green, uint32_t blue, uint32_t alpha) {
  if (formatFlags & DDPF_FOURCC) return DestinationCodeFromFourCc(fourCc);
  if ((formatFlags & DDPF_PALETTEINDEXED8) || bits == 8) return kDestPalette8;
  if (!(formatFlags & DDPF_RGB)) return kDestUnknown;
  return DestinationCodeFromMasks(bits, red, green, blue, (formatFlags & DDPF_ALPHAPIXELS) ? alpha : 0);
}

uint32_t OverlayStretchBits(uint32_t fx) {
  uint32_t bits = 0;
  if (fx & DDFXCAPS_OVERLAYSTRETCHX) bits |= kStretchEnlargeX | kStretchEnlargeXInteger;
  if (fx & DDFXCAPS_OVERLAYSTRETCHXN) bits |= kStretchEnlargeXInteger;
  if (fx & DDFXCAPS_OVERLAYSHRINKX) bits |= kStretchShrinkX | kStretchShrinkXInteger;
  if (fx & DDFXCAPS_OVERLAYSHRINKXN) bits |= kStretchShrinkXInteger;
  if (fx & DDFXCAPS_OVERLAYSTRETCHY) bits |= kStretchEnlargeY | kStretchEnlargeYInteger;
  if (fx & DDFXCAPS_OVERLAYSTRETCHYN) bits |= kStretchEnlargeYInteger;
  if (fx & DDFXCAPS_OVERLAYSHRINKY) bits |= kStretchShrinkY | kStretchShrinkYInteger;
  if (fx & DDFXCAPS_OVERLAYSHRINKYN) bits |= kStretchShrinkYInteger;
  return bits;
}

uint32_t BlitStretchBits(uint32_t fx) {
  uint32_t bits = 0;
  if (fx & DDFXCAPS_BLTSTRETCHX) bits |= kStretchEnlargeX | kStretchEnlargeXInteger;
  if (fx & DDFXCAPS_BLTSTRETCHXN) bits |= kStretchEnlargeXInteger;
  if (fx & DDFXCAPS_BLTSHRINKX) bits |= kStretchShrinkX | kStretchShrinkXInteger;
  if (fx & DDFXCAPS_BLTSHRINKXN) bits |= kStretchShrinkXInteger;
  if (fx & DDFXCAPS_BLTSTRETCHY) bits |= kStretchEnlargeY | kStretchEnlargeYInteger;
  if (fx & DDFXCAPS_BLTSTRETCHYN) bits |= kStretchEnlargeYInteger;
  if (fx & DDFXCAPS_BLTSHRINKY) bits |= kStretchShrinkY | kStretchShrinkYInteger;
  if (fx & DDFXCAPS_BLTSHRINKYN) bits |= kStretchShrinkYInteger;
  return bits;
}

}  // namespace kivo
