// SPDX-License-Identifier: BSD-2-Clause
// The Windows styles on a real window: which style each /B number ends in,
// the picture as it reaches the screen (in place, through DirectDraw blits
// with and without stretching, through the DIB section), the shared
// DirectDraw object, the cursor hidden while the primary is written, the
// display-mode changes and their fall-back, a program without DirectDraw,
// a picture larger than the screen, stretching only the emulation offers,
// and the mapping of DirectDraw formats and capabilities. Skipped without a
// display.
#ifdef _WIN32

#include "movie/movie.h"

#include <windows.h>
#include <ddraw.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "display/blit_buffer.h"
#include "display/blit_style.h"
#include "display/display_mode.h"
#include "display/pixel_layout.h"
#include "display/win32/win32_system.h"
#include "display/win32/win32_display.h"

namespace kivo {
namespace {

const char* const kNames[] = {
    "",
    "DirectDraw primary surface",
    "DIB Section",
    "DirectDraw YV12 overlay",
    "DirectDraw YUY2 overlay",
    "DirectDraw UYVY overlay",
    "DirectDraw YV12 off-screen surface",
    "DirectDraw YUY2 off-screen surface",
    "DirectDraw UYVY off-screen surface",
    "DirectDraw RGB off-screen video surface",
    "DirectDraw RGB off-screen system surface",
};

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

struct Rgb {
  int r, g, b;
};

// ---- A known picture ---------------------------------------------------------

Rgb RgbAt(uint32_t x, uint32_t y) {
  return Rgb{int((x * 37 + y * 11) & 255), int((x * 5 + y * 29 + 64) & 255), int((x * y + 128) & 255)};
}

// Colour bars in 8 x 8 blocks as limited-range Y, U, V.
const uint8_t kBars[8][3] = {{16, 128, 128}, {235, 128, 128}, {81, 90, 240}, {145, 54, 34},
                             {41, 240, 110}, {210, 16, 146}, {170, 166, 16}, {106, 202, 222}};
const uint8_t* BarAt(uint32_t x, uint32_t y) { return kBars[(x / 8 + 3 * (y / 8)) % 8]; }

int Clamp(double v) { return int(std::lround(v < 0 ? 0 : v > 255 ? 255 : v)); }

Rgb Expected(int32_t code, uint32_t x, uint32_t y) {
  if (code < kDestYuy2) return RgbAt(x, y);
  const uint8_t* c = BarAt(x, y);
  const double l = 1.164383 * (c[0] - 16), u = c[1] - 128.0, v = c[2] - 128.0;
  return Rgb{Clamp(l + 1.596027 * v), Clamp(l - 0.391762 * u - 0.812968 * v), Clamp(l + 2.017232 * u)};
}

// Some displays take the luma's full byte range as it is (black at 16).
Rgb ExpectedFullRange(int32_t code, uint32_t x, uint32_t y) {
  if (code < kDestYuy2) return RgbAt(x, y);
  const uint8_t* c = BarAt(x, y);
  const double l = c[0], u = c[1] - 128.0, v = c[2] - 128.0;
  return Rgb{Clamp(l + 1.402 * v), Clamp(l - 0.344136 * u - 0.714136 * v), Clamp(l + 1.772 * u)};
}

// How far a shown channel may be: the display's own depth, and the YUV
// conversion of the card or of the emulation.
int Tolerance(int32_t code, uint32_t screenBits) {
  int t = code >= kDestYuy2 ? 12 : code >= kDestArgb4444 ? 8 : 0;
  if (screenBits == 16) t += 8;
  return t;
}

void WritePixel(uint8_t* row, uint32_t x, int32_t code, Rgb c) {
  switch (code) {
    case kDestBgr24: row[3 * x] = uint8_t(c.b), row[3 * x + 1] = uint8_t(c.g), row[3 * x + 2] = uint8_t(c.r); break;
    case kDestRgb24: row[3 * x] = uint8_t(c.r), row[3 * x + 1] = uint8_t(c.g), row[3 * x + 2] = uint8_t(c.b); break;
    case kDestBgrx32: case kDestBgra32:
      row[4 * x] = uint8_t(c.b), row[4 * x + 1] = uint8_t(c.g), row[4 * x + 2] = uint8_t(c.r), row[4 * x + 3] = 255;
      break;
    case kDestRgbx32: case kDestRgba32:
      row[4 * x] = uint8_t(c.r), row[4 * x + 1] = uint8_t(c.g), row[4 * x + 2] = uint8_t(c.b), row[4 * x + 3] = 255;
      break;
    case kDestRgb565: case kDestXrgb1555: case kDestArgb1555: {
      const bool six = code == kDestRgb565;
      const uint32_t w = six ? (uint32_t(c.r >> 3) << 11 | uint32_t(c.g >> 2) << 5 | uint32_t(c.b >> 3))
                             : (uint32_t(c.r >> 3) << 10 | uint32_t(c.g >> 3) << 5 | uint32_t(c.b >> 3) |
                                (code == kDestArgb1555 ? 0x8000u : 0u));
      row[2 * x] = uint8_t(w), row[2 * x + 1] = uint8_t(w >> 8);
      break;
    }
    default:
      break;
  }
}

// Locks, writes the picture in the buffer's format (or `fill` everywhere
// for an RGB buffer when given), unlocks.
bool WritePicture(BlitBuffer* b, const Rgb* fill = nullptr) {
  if (!LockBlitBuffer(b)) return false;
  const int32_t code = int32_t(b->flags & kBlitCodeMask);
  uint8_t* base = b->lockedPointer;
  const int32_t pitch = b->lockedPitch;
  for (uint32_t y = 0; y < b->height; ++y) {
    uint8_t* row = base + ptrdiff_t(y) * pitch;
    for (uint32_t x = 0; x < b->width; ++x) {
      const uint8_t* yuv = BarAt(x, y);
      if (code == kDestYuy2 || code == kDestUyvy) {
        const bool yuy2 = code == kDestYuy2;
        row[2 * x + (yuy2 ? 0 : 1)] = yuv[0];
        row[2 * x + (yuy2 ? 1 : 0)] = x % 2 == 0 ? yuv[1] : yuv[2];
      } else if (code == kDestYv12) {
        row[x] = yuv[0];
        if (x % 2 == 0 && y % 2 == 0) {
          uint8_t* v = base + ptrdiff_t(pitch) * b->height;
          uint8_t* u = v + ptrdiff_t(pitch / 2) * (b->height / 2);
          const ptrdiff_t at = ptrdiff_t(y / 2) * (pitch / 2) + x / 2;
          u[at] = yuv[1];
          v[at] = yuv[2];
        }
      } else {
        WritePixel(row, x, code, fill ? *fill : RgbAt(x, y));
      }
    }
  }
  UnlockBlitBuffer(b);
  return true;
}

// ---- Reading the screen back -----------------------------------------------------

struct Shot {
  int32_t width = 0, height = 0;
  std::vector<uint32_t> pixels;   // 0x00RRGGBB
  Rgb at(int32_t x, int32_t y) const {
    const uint32_t v = pixels[size_t(y) * size_t(width) + size_t(x)];
    return Rgb{int(v >> 16 & 255), int(v >> 8 & 255), int(v & 255)};
  }
};

// The screen at (x, y), width x height, through a 32-bit DIB section.
bool ReadScreen(int32_t x, int32_t y, int32_t width, int32_t height, Shot* shot) {
  GdiFlush();
  HDC screen = GetDC(nullptr);
  if (!screen) return false;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC memory = CreateCompatibleDC(screen);
  bool ok = dib && memory && bits;
  if (ok) {
    HGDIOBJ previous = SelectObject(memory, dib);
    ok = BitBlt(memory, 0, 0, width, height, screen, x, y, SRCCOPY) != 0;
    GdiFlush();
    if (ok) {
      shot->width = width;
      shot->height = height;
      const uint32_t* p = static_cast<const uint32_t*>(bits);
      shot->pixels.assign(p, p + size_t(width) * size_t(height));
      for (uint32_t& v : shot->pixels) v &= 0xFFFFFF;
    }
    SelectObject(memory, previous);
  }
  if (memory) DeleteDC(memory);
  if (dib) DeleteObject(dib);
  ReleaseDC(nullptr, screen);
  return ok;
}

bool Near(Rgb a, Rgb b, int tolerance) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

bool WithinNeighbours(int32_t code, uint32_t px, uint32_t py, uint32_t width, uint32_t height, Rgb got,
                      int tolerance) {
  Rgb low{255, 255, 255}, high{0, 0, 0};
  for (uint32_t y = py ? py - 1 : 0; y <= py + 1 && y < height; ++y) {
    for (uint32_t x = px ? px - 1 : 0; x <= px + 1 && x < width; ++x) {
      for (const Rgb c : {Expected(code, x, y), ExpectedFullRange(code, x, y)}) {
        low = Rgb{std::min(low.r, c.r), std::min(low.g, c.g), std::min(low.b, c.b)};
        high = Rgb{std::max(high.r, c.r), std::max(high.g, c.g), std::max(high.b, c.b)};
      }
    }
  }
  return got.r >= low.r - tolerance && got.r <= high.r + tolerance && got.g >= low.g - tolerance &&
         got.g <= high.g + tolerance && got.b >= low.b - tolerance && got.b <= high.b + tolerance;
}

// Pixels of the picture shown at (x, y) on the screen, scaled by `scale`,
// that differ from what was written; the first one goes to *where.
int32_t MismatchesNow(const BlitBuffer* b, int32_t x, int32_t y, uint32_t scale, std::string* where) {
  const int32_t code = int32_t(b->flags & kBlitCodeMask);
  Shot shot;
  if (!ReadScreen(x, y, int32_t(b->width * scale), int32_t(b->height * scale), &shot)) return -1;
  const int tolerance = Tolerance(code, b->screenBits);
  int32_t bad = 0;
  for (int32_t sy = 0; sy < shot.height; ++sy) {
    for (int32_t sx = 0; sx < shot.width; ++sx) {
      const uint32_t px = uint32_t(sx) / scale, py = uint32_t(sy) / scale;
      // Chroma may be interpolated across a bar boundary: only the middle
      // of each bar is compared.
      if (code >= kDestYuy2 && (px % 8 < 2 || px % 8 > 5 || py % 8 < 2 || py % 8 > 5)) continue;
      const Rgb want = Expected(code, px, py), got = shot.at(sx, sy);
      if (Near(want, got, tolerance) || Near(ExpectedFullRange(code, px, py), got, tolerance)) continue;
      // Stretching may filter: anything between the neighbours' colours.
      if (scale > 1 && WithinNeighbours(code, px, py, b->width, b->height, got, tolerance)) continue;
      if (bad++ == 0) {
        char text[160];
        snprintf(text, sizeof text, "first at (%d,%d): want %d,%d,%d got %d,%d,%d", sx, sy, want.r, want.g, want.b,
                 got.r, got.g, got.b);
        *where = text;
      }
    }
  }
  return bad;
}

void Pump() {
  MSG message;
  for (int i = 0; i < 50 && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE); ++i) DispatchMessageA(&message);
}

// What a window draws reaches the screen a little later (a compositing
// display): the screen is read again for a while before a mismatch counts.
// A picture written in place competes with the window's own contents, which
// the display may put back once more after a change: it is written again
// before each look, as a player writes every frame.
int32_t Mismatches(BlitBuffer* b, int32_t x, int32_t y, uint32_t scale, std::string* where) {
  int32_t bad = -1;
  for (int attempt = 0; attempt < 25 && bad != 0; ++attempt) {
    if (attempt) Sleep(40);
    if (attempt && RecordOf(b)->usesPrimary && !WritePicture(b)) return -1;
    Pump();
    bad = MismatchesNow(b, x, y, scale, where);
  }
  return bad;
}

bool ShowsColour(int32_t x, int32_t y, Rgb colour, int tolerance) {
  for (int attempt = 0; attempt < 25; ++attempt) {
    if (attempt) Sleep(40);
    Pump();
    Shot shot;
    if (ReadScreen(x, y, 1, 1, &shot) && Near(shot.at(0, 0), colour, tolerance)) return true;
  }
  return false;
}

// ---- The window ---------------------------------------------------------------------

LRESULT CALLBACK TestProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_ERASEBKGND) return 1;   // the picture is ours to draw
  return DefWindowProcA(window, message, wParam, lParam);
}

class Win32Display : public ::testing::Test {
 protected:
  void SetUp() override {
    if (GetSystemMetrics(SM_CXSCREEN) <= 0) GTEST_SKIP() << "no display";
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = TestProcedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.lpszClassName = "KivoDisplayTest";
    RegisterClassA(&windowClass);
    window = CreateWindowExA(WS_EX_TOPMOST, "KivoDisplayTest", "display test", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                             96, 80, 360, 280, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (!window) GTEST_SKIP() << "CreateWindow failed: " << GetLastError();
    SetForegroundWindow(window);
    UpdateWindow(window);
    Pump();
    // A display that cannot show what is drawn (no X server behind it)
    // makes every comparison meaningless.
    HDC dc = GetDC(window);
    RECT r{0, 0, 16, 16};
    HBRUSH brush = CreateSolidBrush(RGB(12, 200, 77));
    FillRect(dc, &r, brush);
    DeleteObject(brush);
    ReleaseDC(window, dc);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    if (!ShowsColour(origin.x + 5, origin.y + 5, Rgb{12, 200, 77}, 8))
      GTEST_SKIP() << "the screen cannot be read back";
    // The mouse away from the window unless a test puts it there.
    SetCursorPos(4, 4);
  }
  void TearDown() override {
    if (window) DestroyWindow(window);
    Pump();
    ClearDisplayModeRequest();
  }
  POINT Client() const {
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    return origin;
  }
  // Picture on the screen at the client origin plus the buffer's position.
  int32_t ShownMismatches(BlitBuffer* b, uint32_t scale, std::string* where) {
    Pump();
    const POINT c = Client();
    return Mismatches(b, c.x + b->destinationX, c.y + b->destinationY, scale, where);
  }
  HWND window = nullptr;
};

// ---- Styles by number --------------------------------------------------------------------

TEST_F(Win32Display, EveryStyleOpensOrFailsOverAndShowsThePicture) {
  const uint32_t screenBits = uint32_t(GetDeviceCaps(GetDC(nullptr), BITSPIXEL));
  // Automatic, then every style of the list.
  for (int32_t i = -1, asked = 0; asked >= 0; asked = GetBlitStyleListEntry(++i, nullptr, nullptr)) {
    SCOPED_TRACE("style " + std::to_string(asked));
    BlitBuffer* b = OpenBlitBuffer(window, 64, 48, uint32_t(asked));
    ASSERT_NE(b, nullptr) << GetBlitBufferError();
    const int32_t got = b->style;
    printf("[ styles   ] /B%d -> %d \"%s\" (code %u)\n", asked, got, GetBlitStyleName(b), b->flags & kBlitCodeMask);
    ASSERT_GE(got, 1);
    // The build's own ten by the names they have always had; a style added
    // after them by its own.
    const int32_t own = int32_t(sizeof kNames / sizeof kNames[0]);
    EXPECT_STREQ(GetBlitStyleName(b), got < own ? kNames[got] : GetBlitStyleNameByNumber(got));
    // Where a request may end: itself, the next ones from 3 on, or the DIB
    // section after the primary surface.
    if (asked == 0 || asked == 1) {
      EXPECT_TRUE(got == 1 || got == 2);
    } else {
      EXPECT_GE(got, asked);
    }
    const int32_t code = int32_t(b->flags & kBlitCodeMask);
    switch (got) {
      case 3: case 6: EXPECT_EQ(code, kDestYv12); break;
      case 4: case 7: EXPECT_EQ(code, kDestYuy2); break;
      case 5: case 8: EXPECT_EQ(code, kDestUyvy); break;
      default: EXPECT_EQ(DestinationBytesPerPixel(code) * 8, screenBits == 15 ? 16 : screenBits); break;
    }
    // Written in place and overlays need no blits; the others do.
    EXPECT_EQ((b->flags & kBlitNoBlits) != 0, got == 1 || (got >= 3 && got <= 5));
    EXPECT_EQ(RecordOf(b)->usesPrimary, got == 1 ? 1 : 0);
    EXPECT_EQ(RecordOf(b)->isOffscreen, got >= 6 ? 1 : 0);
    if (got == 1) {
      EXPECT_EQ(b->stretchCapabilities, 0u);
    }
    if (got == 2) {
      EXPECT_EQ(b->stretchCapabilities, kStretchAny);
    }
    EXPECT_TRUE(b->flags & kBlitFullCopy);
    EXPECT_EQ(b->screenWidth, uint32_t(GetSystemMetrics(SM_CXSCREEN)));
    EXPECT_EQ(b->screenBits, screenBits);

    SetBlitPosition(b, 8, 4);
    ASSERT_TRUE(WritePicture(b));
    BlitRects(b, nullptr, 1);
    std::string where;
    EXPECT_EQ(ShownMismatches(b, 1, &where), 0) << GetBlitStyleName(b) << ": " << where;
    CloseBlitBuffer(b);
  }
  // With DirectDraw held, whether this card shows overlays at all; without
  // them the overlay styles fail over to the off-screen surfaces.
  BlitBuffer* holder = OpenBlitBuffer(window, 16, 16, 9);
  ASSERT_NE(holder, nullptr) << GetBlitBufferError();
  const bool overlays = win32::DirectDraw().overlays;
  printf("[ styles   ] overlays %s\n", overlays ? "offered" : "not offered");
  if (UnderWine()) {
    EXPECT_FALSE(overlays);
  }
  BlitBuffer* offscreen = OpenBlitBuffer(window, 64, 48, 6);
  ASSERT_NE(offscreen, nullptr);
  const int32_t firstOffscreen = offscreen->style;
  CloseBlitBuffer(offscreen);
  for (int32_t asked = 3; asked <= 5 && !overlays; ++asked) {
    BlitBuffer* b = OpenBlitBuffer(window, 64, 48, uint32_t(asked));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->style, firstOffscreen);
    EXPECT_EQ(RecordOf(b)->isOverlay, 0);
    CloseBlitBuffer(b);
  }
  CloseBlitBuffer(holder);
}

TEST_F(Win32Display, PrimarySurfaceWrittenInPlaceFollowsTheWindow) {
  BlitBuffer* b = OpenBlitBuffer(window, 48, 32, kBlitStylePrimary);
  if (!b) GTEST_SKIP() << "no primary surface here: " << GetBlitBufferError();
  ASSERT_EQ(b->style, 1);
  const POINT c = Client();
  EXPECT_EQ(b->clientX, c.x);
  EXPECT_EQ(b->clientY, c.y);
  ASSERT_TRUE(WritePicture(b));
  std::string where;
  EXPECT_EQ(ShownMismatches(b, 1, &where), 0) << where;

  // Moved: the next lock writes at the new place, and asks for a full copy.
  ASSERT_TRUE(UnlockBlitBuffer(b));
  SetWindowPos(window, nullptr, 160, 120, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  Pump();
  ASSERT_TRUE(LockBlitBuffer(b));
  EXPECT_TRUE(b->flags & kBlitFullCopy);
  EXPECT_EQ(b->clientX, Client().x);
  UnlockBlitBuffer(b);
  ASSERT_TRUE(WritePicture(b));
  EXPECT_EQ(ShownMismatches(b, 1, &where), 0) << where;

  // A picture that would run off the screen's memory is not locked.
  SetWindowPos(window, nullptr, GetSystemMetrics(SM_CXSCREEN) - 20, 120, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  Pump();
  EXPECT_EQ(LockBlitBuffer(b), 0);
  EXPECT_EQ(b->lockedPointer, nullptr);
  // Put back where the player would put it, it locks again.
  int32_t x = GetSystemMetrics(SM_CXSCREEN) - 20, y = 120;
  AdjustWindowPosition(b, &x, &y);
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  Pump();
  ASSERT_EQ(LockBlitBuffer(b), 1);
  EXPECT_LE(b->clientX + int32_t(b->width), GetSystemMetrics(SM_CXSCREEN));
  UnlockBlitBuffer(b);
  CloseBlitBuffer(b);
}

// A picture larger than the screen could never lie wholly on it: the open
// refuses the primary surface so that the DIB section shows it, not a
// window that stays blank. One the screen's size is written in place.
TEST_F(Win32Display, PrimarySurfaceRefusesAPictureLargerThanTheScreen) {
  const uint32_t width = uint32_t(GetSystemMetrics(SM_CXSCREEN)), height = uint32_t(GetSystemMetrics(SM_CYSCREEN));
  BlitBuffer* b = OpenBlitBuffer(window, width, height, kBlitStylePrimary);
  if (!b || b->style != kBlitStylePrimary) {
    CloseBlitBuffer(b);
    GTEST_SKIP() << "no primary surface here: " << GetBlitBufferError();
  }
  CloseBlitBuffer(b);
  const uint32_t sizes[2][2] = {{width + 1, height}, {width, height + 1}};
  for (int32_t asked : {kBlitStyleAuto, kBlitStylePrimary}) {
    for (const auto& size : sizes) {
      b = OpenBlitBuffer(window, size[0], size[1], uint32_t(asked));
      ASSERT_NE(b, nullptr) << GetBlitBufferError();
      EXPECT_EQ(b->style, kBlitStyleDib) << "/B" << asked << " " << size[0] << " x " << size[1];
      CloseBlitBuffer(b);
    }
  }
}

TEST_F(Win32Display, StretchedBlitsAndPartialBlits) {
  const uint32_t stretch = kStretchEnlargeXInteger | kStretchEnlargeYInteger;
  for (int32_t asked : {kBlitStyleDib, 6, 7, 8, 9, 10}) {
    SCOPED_TRACE("style " + std::to_string(asked));
    BlitBuffer* b = OpenBlitBuffer(window, 48, 32, uint32_t(asked) | stretch);
    if (!b) {
      // Only a machine whose DirectDraw blits cannot stretch refuses these.
      EXPECT_NE(asked, kBlitStyleDib) << GetBlitBufferError();
      EXPECT_STREQ(GetBlitBufferError(), "No capable blitting style available.");
      continue;
    }
    EXPECT_TRUE(b->flags & kBlitStretched);
    ASSERT_EQ(SetBlitSize(b, 96, 64), 1);
    EXPECT_EQ(b->windowWidth, b->frameWidth + 96);
    SetBlitPosition(b, 4, 4);
    ASSERT_TRUE(WritePicture(b));
    BlitRects(b, nullptr, 1);
    std::string where;
    EXPECT_EQ(ShownMismatches(b, 2, &where), 0) << GetBlitStyleName(b) << ": " << where;

    // Only the listed rectangle reaches the screen.
    const int32_t code = int32_t(b->flags & kBlitCodeMask);
    if (code < kDestYuy2) {
      const Rgb white{255, 255, 255};
      ASSERT_TRUE(WritePicture(b, &white));
      const MovieRect r{8, 8, 16, 8};
      BlitRects(b, &r, 1);
      const POINT c = Client();
      const int t = Tolerance(code, b->screenBits);
      EXPECT_TRUE(ShowsColour(c.x + 4 + 16, c.y + 4 + 16, white, t));
      EXPECT_TRUE(ShowsColour(c.x + 4 + 16 + 31, c.y + 4 + 16 + 15, white, t));
      Shot shot;
      ASSERT_TRUE(ReadScreen(c.x + 4, c.y + 4, 96, 64, &shot));
      // Outside it the picture from before (perhaps filtered by the stretch).
      EXPECT_TRUE(WithinNeighbours(code, 30, 20, 48, 32, shot.at(60, 40), t));
      EXPECT_TRUE(WithinNeighbours(code, 1, 1, 48, 32, shot.at(2, 2), t));
      EXPECT_TRUE(WithinNeighbours(code, 24, 8, 48, 32, shot.at(16 + 33, 16), t));
    }
    CloseBlitBuffer(b);
  }
}

TEST_F(Win32Display, DibSectionLayoutFollowsTheDisplay) {
  HDC screen = GetDC(nullptr);
  const uint32_t bits = uint32_t(GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES));
  ReleaseDC(nullptr, screen);
  for (uint32_t width : {10u, 33u, 64u}) {
    BlitBuffer* b = OpenBlitBuffer(window, width, 6, kBlitStyleDib);
    ASSERT_NE(b, nullptr) << GetBlitBufferError();
    const uint32_t bytes = bits <= 16 ? 2 : bits / 8;
    // Rows whole 32-byte lines long in pixels, the pitch whole words.
    const uint32_t rowPixels = ((width * bytes + 31) & ~31u) / bytes;
    EXPECT_EQ(uint32_t(RecordOf(b)->dibPitch), (rowPixels * bytes + 3) & ~3u) << width;
    auto* header = static_cast<const BITMAPINFOHEADER*>(RecordOf(b)->dibHeader);
    EXPECT_EQ(header->biHeight, -6);
    EXPECT_EQ(uint32_t(header->biWidth), rowPixels);
    const int32_t code = int32_t(b->flags & kBlitCodeMask);
    if (bits == 32) {
      EXPECT_EQ(code, kDestBgrx32);
    }
    if (bits == 24) {
      EXPECT_EQ(code, kDestBgr24);
    }
    if (bits == 16) {
      EXPECT_TRUE(code == kDestRgb565 || code == kDestXrgb1555) << code;
    }
    EXPECT_EQ(header->biCompression, DWORD(bits == 24 ? BI_RGB : BI_BITFIELDS));
    ASSERT_TRUE(LockBlitBuffer(b));
    EXPECT_EQ(b->lockedPointer, RecordOf(b)->dibBits);
    // A new section is black.
    for (uint32_t y = 0; y < 6; ++y)
      for (uint32_t i = 0; i < width * bytes; ++i) ASSERT_EQ(b->lockedPointer[y * b->lockedPitch + i], 0);
    UnlockBlitBuffer(b);
    CloseBlitBuffer(b);
  }
}

TEST_F(Win32Display, BuffersClosedAfterTheirWindowIsGone) {
  // The player destroys its window before it closes the buffer.
  BlitBuffer* buffers[3] = {OpenBlitBuffer(window, 32, 32, kBlitStylePrimary),
                            OpenBlitBuffer(window, 32, 32, kBlitStyleDib), OpenBlitBuffer(window, 32, 32, 9)};
  for (BlitBuffer* b : buffers) ASSERT_NE(b, nullptr) << GetBlitBufferError();
  const bool shared = RecordOf(buffers[0])->holdsDevice && RecordOf(buffers[2])->holdsDevice;
  DestroyWindow(window);
  window = nullptr;
  BlitRects(buffers[1], nullptr, 1);
  for (BlitBuffer* b : buffers) CloseBlitBuffer(b);
  EXPECT_FALSE(DirectDrawInUse());
  EXPECT_EQ(DisplayModeUsers(), 0u);
  if (shared) {
    EXPECT_EQ(win32::DirectDraw().users, 0);
  }
  // And DirectDraw is had afresh for the next window.
  window = CreateWindowExA(0, "KivoDisplayTest", "display test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 96, 80, 360,
                           280, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  BlitBuffer* b = OpenBlitBuffer(window, 32, 32, 9);
  ASSERT_NE(b, nullptr) << GetBlitBufferError();
  EXPECT_EQ(RecordOf(b)->holdsDevice, 1);
  EXPECT_EQ(win32::DirectDraw().users, 1);
  CloseBlitBuffer(b);
}

// ---- The cursor around a lock of the primary -------------------------------------------

int32_t CursorCount() {
  const int32_t count = ShowCursor(TRUE) - 1;
  ShowCursor(FALSE);
  return count;
}

TEST_F(Win32Display, CursorOverThePictureHiddenWhileThePrimaryIsLocked) {
  BlitBuffer* b = OpenBlitBuffer(window, 64, 48, kBlitStylePrimary);
  if (!b) GTEST_SKIP() << "no primary surface here: " << GetBlitBufferError();
  ASSERT_EQ(b->style, 1);
  EXPECT_TRUE(RecordOf(b)->hideCursor == 0 || RecordOf(b)->hideCursor == 1);
  RecordOf(b)->hideCursor = 1;   // as if the probe had found a cursor drawn in software
  const int32_t before = CursorCount();
  ASSERT_GE(before, 0);

  const POINT c = Client();
  SetCursorPos(c.x + 10, c.y + 10);
  ASSERT_TRUE(LockBlitBuffer(b));
  EXPECT_GE(RecordOf(b)->hiddenCursorCount, 1);
  EXPECT_LT(CursorCount(), 0);
  UnlockBlitBuffer(b);
  EXPECT_EQ(RecordOf(b)->hiddenCursorCount, 0);
  EXPECT_EQ(CursorCount(), before);

  // Away from the picture (beyond the cursor's own size) nothing is hidden.
  SetCursorPos(c.x + 64 + GetSystemMetrics(SM_CXCURSOR) + 8, c.y + 10);
  ASSERT_TRUE(LockBlitBuffer(b));
  EXPECT_EQ(RecordOf(b)->hiddenCursorCount, 0);
  EXPECT_EQ(CursorCount(), before);
  UnlockBlitBuffer(b);

  // Without the flag it stays, wherever it is.
  RecordOf(b)->hideCursor = 0;
  SetCursorPos(c.x + 10, c.y + 10);
  ASSERT_TRUE(LockBlitBuffer(b));
  EXPECT_EQ(RecordOf(b)->hiddenCursorCount, 0);
  UnlockBlitBuffer(b);
  CloseBlitBuffer(b);
  EXPECT_EQ(CursorCount(), before);
}

TEST_F(Win32Display, CursorProbeLeavesTheCursorAsItWas) {
  const int32_t before = CursorCount();
  const HCURSOR cursor = GetCursor();
  BlitBuffer* b = OpenBlitBuffer(window, 32, 32, kBlitStylePrimary);
  if (!b) GTEST_SKIP() << "no primary surface here: " << GetBlitBufferError();
  EXPECT_EQ(CursorCount(), before);
  EXPECT_EQ(GetCursor(), cursor);
  // The probe's window and class are gone again.
  EXPECT_EQ(FindWindowA("MouseTypeWind", nullptr), nullptr);
  WNDCLASSA info;
  EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(nullptr), "MouseTypeWind", &info));
  const int32_t answer = RecordOf(b)->hideCursor;
  CloseBlitBuffer(b);
  // Asked again with the same cursor and surface, the same answer.
  b = OpenBlitBuffer(window, 32, 32, kBlitStylePrimary);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(RecordOf(b)->hideCursor, answer);
  CloseBlitBuffer(b);
}

// ---- Display modes ---------------------------------------------------------------------------

TEST_F(Win32Display, ModeThatTheDisplayRefusesFallsBackToTheDesktop) {
  const uint32_t width = uint32_t(GetSystemMetrics(SM_CXSCREEN)), height = uint32_t(GetSystemMetrics(SM_CYSCREEN));
  DEVMODEA probe = {};
  probe.dmSize = sizeof probe;
  probe.dmPelsWidth = 320;
  probe.dmPelsHeight = 200;
  probe.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
  if (ChangeDisplaySettingsA(&probe, CDS_TEST) == DISP_CHANGE_SUCCESSFUL)
    GTEST_SKIP() << "this display offers 320 x 200";

  // The GDI way, through the DIB section: every candidate and the size
  // alone are refused; the buffer opens at the desktop's mode.
  SetDisplayModeRequest(320, 200, kDepthTrueColourFirst);
  BlitBuffer* b = OpenBlitBuffer(window, 64, 48, kBlitStyleDib | kBlitOpenChangeMode);
  ASSERT_NE(b, nullptr) << GetBlitBufferError();
  EXPECT_FALSE(DisplayModeChanged());
  EXPECT_EQ(DisplayModeUsers(), 1u);
  EXPECT_EQ(b->screenWidth, width);
  EXPECT_EQ(b->screenHeight, height);
  uint32_t w, h, d;
  EXPECT_FALSE(PendingDisplayModeRequest(&w, &h, &d));   // consumed
  CloseBlitBuffer(b);
  EXPECT_EQ(DisplayModeUsers(), 0u);

  // The DirectDraw way: refused too, and the window keeps its place on the
  // desktop (no full-screen level is left behind).
  SetDisplayModeRequest(320, 200, 32);
  b = OpenBlitBuffer(window, 64, 48, 9 | kBlitOpenChangeMode);
  if (b && b->style >= 9) {
    EXPECT_FALSE(win32::DirectDraw().modeSet);
    EXPECT_FALSE(win32::DirectDraw().exclusive);
    EXPECT_FALSE(PendingDisplayModeRequest(&w, &h, &d));
    EXPECT_EQ(uint32_t(GetSystemMetrics(SM_CXSCREEN)), width);
    ASSERT_TRUE(WritePicture(b));
    BlitRects(b, nullptr, 1);
    std::string where;
    EXPECT_EQ(ShownMismatches(b, 1, &where), 0) << where;
  }
  CloseBlitBuffer(b);
  EXPECT_FALSE(DirectDrawInUse());
}

TEST_F(Win32Display, DepthChangeTheGdiWayAndBack) {
  const uint32_t width = uint32_t(GetSystemMetrics(SM_CXSCREEN)), height = uint32_t(GetSystemMetrics(SM_CYSCREEN));
  HDC screen = GetDC(nullptr);
  const uint32_t desktopBits = uint32_t(GetDeviceCaps(screen, BITSPIXEL));
  ReleaseDC(nullptr, screen);
  const uint32_t other = desktopBits == 16 ? 32 : 16;
  DEVMODEA probe = {};
  probe.dmSize = sizeof probe;
  probe.dmPelsWidth = width;
  probe.dmPelsHeight = height;
  probe.dmBitsPerPel = other;
  probe.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT | DM_BITSPERPEL;
  if (ChangeDisplaySettingsA(&probe, CDS_TEST) != DISP_CHANGE_SUCCESSFUL)
    GTEST_SKIP() << "this display offers no " << other << "-bit mode";

  SetDisplayModeRequest(width, height, other);
  BlitBuffer* first = OpenBlitBuffer(window, 64, 48, kBlitStyleDib | kBlitOpenChangeMode);
  ASSERT_NE(first, nullptr) << GetBlitBufferError();
  EXPECT_TRUE(DisplayModeChanged());
  printf("[ modes    ] %u-bit desktop asked for %u bits: buffer at %u bits, code %u\n", desktopBits, other,
         first->screenBits, first->flags & kBlitCodeMask);
  if (first->screenBits == other) {
    const int32_t code = int32_t(first->flags & kBlitCodeMask);
    EXPECT_EQ(DestinationBytesPerPixel(code) * 8, other);
    ASSERT_TRUE(WritePicture(first));
    BlitRects(first, nullptr, 1);
    std::string where;
    EXPECT_EQ(ShownMismatches(first, 1, &where), 0) << where;
  }
  // A second buffer shares the change; the mode lasts until the last closes.
  BlitBuffer* second = OpenBlitBuffer(window, 32, 32, kBlitStyleDib);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(DisplayModeUsers(), 2u);
  CloseBlitBuffer(first);
  EXPECT_TRUE(DisplayModeChanged());
  CloseBlitBuffer(second);
  EXPECT_FALSE(DisplayModeChanged());
  screen = GetDC(nullptr);
  EXPECT_EQ(uint32_t(GetDeviceCaps(screen, BITSPIXEL)), desktopBits);
  ReleaseDC(nullptr, screen);
}

// ---- Without DirectDraw ------------------------------------------------------------------------

// Run in a copy of this program whose DirectDraw library is switched off
// (a Wine DLL override of that program name only): style 0 gives the DIB
// section, any DirectDraw style fails.
const char kNoDirectDrawProgram[] = "kivo_display_no_ddraw.exe";

TEST_F(Win32Display, WithoutDirectDrawTheDibSectionServes) {
  if (!getenv("KIVO_TEST_NO_DDRAW")) {
    if (!UnderWine()) GTEST_SKIP() << "DirectDraw is switched off through Wine only";
    char program[MAX_PATH], folder[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, program, sizeof program), 0u);
    ASSERT_GT(GetTempPathA(sizeof folder, folder), 0u);
    const std::string copy = std::string(folder) + kNoDirectDrawProgram;
    ASSERT_TRUE(CopyFileA(program, copy.c_str(), FALSE)) << GetLastError();
    const std::string key = std::string("Software\\Wine\\AppDefaults\\") + kNoDirectDrawProgram + "\\DllOverrides";
    HKEY overrides = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &overrides,
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(overrides, "ddraw", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);   // "" = disabled
    RegCloseKey(overrides);

    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string command = "\"" + copy + "\" --gtest_brief=1 --gtest_filter=" + info->test_suite_name() + "." +
                          info->name();
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    SetEnvironmentVariableA("KIVO_TEST_NO_DDRAW", "1");
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    const BOOL started =
        CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child);
    SetEnvironmentVariableA("KIVO_TEST_NO_DDRAW", nullptr);
    DWORD waited = WAIT_FAILED, code = 1;
    if (started) {
      waited = WaitForSingleObject(child.hProcess, 120000);
      if (waited != WAIT_OBJECT_0) TerminateProcess(child.hProcess, 9);
      WaitForSingleObject(child.hProcess, 5000);
      GetExitCodeProcess(child.hProcess, &code);
      CloseHandle(child.hProcess);
      CloseHandle(child.hThread);
    }
    DeleteFileA(copy.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
    ASSERT_TRUE(started) << GetLastError();
    EXPECT_EQ(waited, WAIT_OBJECT_0);
    EXPECT_EQ(code, 0u) << "the run without DirectDraw failed";
    return;
  }
  HMODULE ddraw = LoadLibraryA("DDRAW.DLL");
  if (ddraw) FreeLibrary(ddraw);
  ASSERT_EQ(ddraw, nullptr) << "the override did not switch DirectDraw off";
  BlitBuffer* b = OpenBlitBuffer(window, 64, 48, kBlitStyleAuto);
  ASSERT_NE(b, nullptr) << GetBlitBufferError();
  EXPECT_EQ(b->style, kBlitStyleDib);
  EXPECT_STREQ(GetBlitStyleName(b), "DIB Section");
  EXPECT_FALSE(DirectDrawInUse());
  ASSERT_TRUE(WritePicture(b));
  BlitRects(b, nullptr, 1);
  std::string where;
  EXPECT_EQ(ShownMismatches(b, 1, &where), 0) << where;
  CloseBlitBuffer(b);
  for (int32_t asked : {1, 3, 9, 10}) {
    EXPECT_EQ(OpenBlitBuffer(window, 64, 48, uint32_t(asked)), nullptr) << asked;
    EXPECT_STREQ(GetBlitBufferError(), "DirectDraw is not available") << asked;
  }
  // Stretching asked of the automatic choice ends in the DIB section too.
  b = OpenBlitBuffer(window, 64, 48, kStretchEnlargeXInteger);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->style, kBlitStyleDib);
  CloseBlitBuffer(b);
}

// A surface that reports itself lost until restored, over a real one for
// the memory: what a mode change of another program does to a surface.
struct LosingSurface : IDirectDrawSurface {
  IDirectDrawSurface* real;
  bool lost = true;
  int restores = 0, locks = 0;
  explicit LosingSurface(IDirectDrawSurface* surface) : real(surface) {}
  STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  STDMETHODIMP_(ULONG) AddRef() override { return 1; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP AddAttachedSurface(LPDIRECTDRAWSURFACE) override { return E_NOTIMPL; }
  STDMETHODIMP AddOverlayDirtyRect(LPRECT) override { return E_NOTIMPL; }
  STDMETHODIMP Blt(LPRECT, LPDIRECTDRAWSURFACE, LPRECT, DWORD, LPDDBLTFX) override { return E_NOTIMPL; }
  STDMETHODIMP BltBatch(LPDDBLTBATCH, DWORD, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP BltFast(DWORD, DWORD, LPDIRECTDRAWSURFACE, LPRECT, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP DeleteAttachedSurface(DWORD, LPDIRECTDRAWSURFACE) override { return E_NOTIMPL; }
  STDMETHODIMP EnumAttachedSurfaces(LPVOID, LPDDENUMSURFACESCALLBACK) override { return E_NOTIMPL; }
  STDMETHODIMP EnumOverlayZOrders(DWORD, LPVOID, LPDDENUMSURFACESCALLBACK) override { return E_NOTIMPL; }
  STDMETHODIMP Flip(LPDIRECTDRAWSURFACE, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetAttachedSurface(LPDDSCAPS, LPDIRECTDRAWSURFACE*) override { return E_NOTIMPL; }
  STDMETHODIMP GetBltStatus(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetCaps(LPDDSCAPS) override { return E_NOTIMPL; }
  STDMETHODIMP GetClipper(LPDIRECTDRAWCLIPPER*) override { return E_NOTIMPL; }
  STDMETHODIMP GetColorKey(DWORD, LPDDCOLORKEY) override { return E_NOTIMPL; }
  STDMETHODIMP GetDC(HDC*) override { return E_NOTIMPL; }
  STDMETHODIMP GetFlipStatus(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetOverlayPosition(LPLONG, LPLONG) override { return E_NOTIMPL; }
  STDMETHODIMP GetPalette(LPDIRECTDRAWPALETTE*) override { return E_NOTIMPL; }
  STDMETHODIMP GetPixelFormat(LPDDPIXELFORMAT) override { return E_NOTIMPL; }
  STDMETHODIMP GetSurfaceDesc(LPDDSURFACEDESC) override { return E_NOTIMPL; }
  STDMETHODIMP Initialize(LPDIRECTDRAW, LPDDSURFACEDESC) override { return E_NOTIMPL; }
  STDMETHODIMP IsLost() override { return lost ? DDERR_SURFACELOST : DD_OK; }
  STDMETHODIMP Lock(LPRECT r, LPDDSURFACEDESC d, DWORD f, HANDLE e) override {
    ++locks;
    return lost ? DDERR_SURFACELOST : real->Lock(r, d, f, e);
  }
  STDMETHODIMP ReleaseDC(HDC) override { return E_NOTIMPL; }
  STDMETHODIMP Restore() override {
    ++restores;
    lost = false;
    return DD_OK;
  }
  STDMETHODIMP SetClipper(LPDIRECTDRAWCLIPPER) override { return E_NOTIMPL; }
  STDMETHODIMP SetColorKey(DWORD, LPDDCOLORKEY) override { return E_NOTIMPL; }
  STDMETHODIMP SetOverlayPosition(LONG, LONG) override { return E_NOTIMPL; }
  STDMETHODIMP SetPalette(LPDIRECTDRAWPALETTE) override { return E_NOTIMPL; }
  STDMETHODIMP Unlock(LPVOID memory) override { return real->Unlock(memory); }
  STDMETHODIMP UpdateOverlay(LPRECT, LPDIRECTDRAWSURFACE, LPRECT, DWORD, LPDDOVERLAYFX) override { return E_NOTIMPL; }
  STDMETHODIMP UpdateOverlayDisplay(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP UpdateOverlayZOrder(DWORD, LPDIRECTDRAWSURFACE) override { return E_NOTIMPL; }
};

TEST_F(Win32Display, LostSurfaceRestoredAndCopiedWhole) {
  for (int32_t asked : {9, 10}) {
    SCOPED_TRACE("style " + std::to_string(asked));
    BlitBuffer* b = OpenBlitBuffer(window, 32, 32, uint32_t(asked));
    ASSERT_NE(b, nullptr) << GetBlitBufferError();
    ASSERT_TRUE(WritePicture(b));
    EXPECT_FALSE(b->flags & kBlitFullCopy);
    auto* real = static_cast<IDirectDrawSurface*>(RecordOf(b)->surface);
    LosingSurface losing(real);
    RecordOf(b)->surface = &losing;
    ASSERT_EQ(LockBlitBuffer(b), 1);
    EXPECT_EQ(losing.restores, 1);
    EXPECT_EQ(losing.locks, 2);
    EXPECT_TRUE(b->flags & kBlitFullCopy);
    EXPECT_NE(b->lockedPointer, nullptr);
    UnlockBlitBuffer(b);
    EXPECT_FALSE(b->flags & kBlitFullCopy);
    // Lost for good: the lock fails and the next copy must be whole.
    struct : LosingSurface {
      using LosingSurface::LosingSurface;
      STDMETHODIMP Restore() override { return DDERR_WRONGMODE; }
    } stuck(real);
    RecordOf(b)->surface = &stuck;
    EXPECT_EQ(LockBlitBuffer(b), 0);
    EXPECT_EQ(b->lockedPointer, nullptr);
    EXPECT_TRUE(b->flags & kBlitFullCopy);
    RecordOf(b)->surface = real;
    ASSERT_TRUE(WritePicture(b));
    BlitRects(b, nullptr, 1);
    std::string where;
    EXPECT_EQ(ShownMismatches(b, 1, &where), 0) << where;
    CloseBlitBuffer(b);
  }
}

// The system's DirectDraw object on a card whose blits do not stretch,
// while the emulation layer claims every stretch.
struct EmulatedStretchOnly final : IDirectDraw {
  IDirectDraw* real;
  ULONG references = 1;
  explicit EmulatedStretchOnly(IDirectDraw* object) : real(object) {}
  STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --references;
    if (left == 0) {
      real->Release();
      delete this;
    }
    return left;
  }
  STDMETHODIMP Compact() override { return real->Compact(); }
  STDMETHODIMP CreateClipper(DWORD f, LPDIRECTDRAWCLIPPER* c, IUnknown* o) override {
    return real->CreateClipper(f, c, o);
  }
  STDMETHODIMP CreatePalette(DWORD f, LPPALETTEENTRY e, LPDIRECTDRAWPALETTE* p, IUnknown* o) override {
    return real->CreatePalette(f, e, p, o);
  }
  STDMETHODIMP CreateSurface(LPDDSURFACEDESC d, LPDIRECTDRAWSURFACE* s, IUnknown* o) override {
    return real->CreateSurface(d, s, o);
  }
  STDMETHODIMP DuplicateSurface(LPDIRECTDRAWSURFACE s, LPDIRECTDRAWSURFACE* d) override {
    return real->DuplicateSurface(s, d);
  }
  STDMETHODIMP EnumDisplayModes(DWORD f, LPDDSURFACEDESC d, LPVOID c, LPDDENUMMODESCALLBACK e) override {
    return real->EnumDisplayModes(f, d, c, e);
  }
  STDMETHODIMP EnumSurfaces(DWORD f, LPDDSURFACEDESC d, LPVOID c, LPDDENUMSURFACESCALLBACK e) override {
    return real->EnumSurfaces(f, d, c, e);
  }
  STDMETHODIMP FlipToGDISurface() override { return real->FlipToGDISurface(); }
  STDMETHODIMP GetCaps(LPDDCAPS driver, LPDDCAPS emulated) override {
    const HRESULT result = real->GetCaps(driver, emulated);
    const DWORD stretch = DDFXCAPS_BLTSTRETCHX | DDFXCAPS_BLTSTRETCHXN | DDFXCAPS_BLTSHRINKX | DDFXCAPS_BLTSHRINKXN |
                          DDFXCAPS_BLTSTRETCHY | DDFXCAPS_BLTSTRETCHYN | DDFXCAPS_BLTSHRINKY | DDFXCAPS_BLTSHRINKYN;
    if (driver) {
      driver->dwCaps &= ~DWORD(DDCAPS_BLTSTRETCH);
      driver->dwFXCaps &= ~stretch;
    }
    if (emulated) {
      emulated->dwCaps |= DDCAPS_BLTSTRETCH;
      emulated->dwFXCaps |= stretch;
    }
    return result;
  }
  STDMETHODIMP GetDisplayMode(LPDDSURFACEDESC d) override { return real->GetDisplayMode(d); }
  STDMETHODIMP GetFourCCCodes(LPDWORD n, LPDWORD c) override { return real->GetFourCCCodes(n, c); }
  STDMETHODIMP GetGDISurface(LPDIRECTDRAWSURFACE* s) override { return real->GetGDISurface(s); }
  STDMETHODIMP GetMonitorFrequency(LPDWORD f) override { return real->GetMonitorFrequency(f); }
  STDMETHODIMP GetScanLine(LPDWORD l) override { return real->GetScanLine(l); }
  STDMETHODIMP GetVerticalBlankStatus(WINBOOL* v) override { return real->GetVerticalBlankStatus(v); }
  STDMETHODIMP Initialize(GUID* g) override { return real->Initialize(g); }
  STDMETHODIMP RestoreDisplayMode() override { return real->RestoreDisplayMode(); }
  STDMETHODIMP SetCooperativeLevel(HWND w, DWORD f) override { return real->SetCooperativeLevel(w, f); }
  STDMETHODIMP SetDisplayMode(DWORD w, DWORD h, DWORD b) override { return real->SetDisplayMode(w, h, b); }
  STDMETHODIMP WaitForVerticalBlank(DWORD f, HANDLE e) override { return real->WaitForVerticalBlank(f, e); }
};

HRESULT WINAPI CreateEmulatedStretchOnly(GUID* guid, LPDIRECTDRAW* out, IUnknown* outer) {
  using Create = HRESULT(WINAPI*)(GUID*, LPDIRECTDRAW*, IUnknown*);
  HMODULE module = GetModuleHandleA("ddraw.dll");
  auto create = module ? reinterpret_cast<Create>(reinterpret_cast<void*>(GetProcAddress(module, "DirectDrawCreate")))
                       : nullptr;
  IDirectDraw* real = nullptr;
  if (!create) return DDERR_GENERIC;
  const HRESULT result = create(guid, &real, outer);
  if (result != DD_OK || !real) return result != DD_OK ? result : DDERR_GENERIC;
  *out = new EmulatedStretchOnly(real);
  return DD_OK;
}

// Stretching that only the emulation layer does is not claimed: an
// off-screen style asked to stretch is refused, and without stretching it
// serves at the picture's own size.
TEST_F(Win32Display, OffscreenStylesClaimOnlyTheCardsStretching) {
  win32::SetDirectDrawCreate(CreateEmulatedStretchOnly);
  const uint32_t stretch = kStretchEnlargeXInteger | kStretchEnlargeYInteger;
  BlitBuffer* stretched = OpenBlitBuffer(window, 48, 32, 9 | stretch);
  const std::string refusal = GetBlitBufferError();
  BlitBuffer* plain = OpenBlitBuffer(window, 48, 32, 9);
  win32::SetDirectDrawCreate(nullptr);
  EXPECT_EQ(stretched, nullptr) << GetBlitStyleName(stretched);
  EXPECT_EQ(refusal, "No capable blitting style available.");
  ASSERT_NE(plain, nullptr) << GetBlitBufferError();
  EXPECT_GE(plain->style, 9);
  EXPECT_EQ(plain->stretchCapabilities, 0u);
  EXPECT_EQ(SetBlitSize(plain, 96, 64), 0);
  EXPECT_EQ(plain->blitWidth, 48u);
  CloseBlitBuffer(stretched);
  CloseBlitBuffer(plain);
  EXPECT_FALSE(DirectDrawInUse());
}

// ---- Formats and capabilities ------------------------------------------------------------------

TEST(Win32Formats, DirectDrawPixelFormatsAndCapabilities) {
  const uint32_t rgb = DDPF_RGB, alpha = DDPF_RGB | DDPF_ALPHAPIXELS;
  struct Case {
    uint32_t flags, fourCc, bits, r, g, b, a;
    int32_t code;
  };
  const Case cases[] = {
      {DDPF_FOURCC, MakeFourCc('U', 'Y', 'V', 'Y'), 16, 0, 0, 0, 0, kDestUyvy},
      {DDPF_FOURCC, MakeFourCc('Y', 'V', '1', '2'), 12, 0, 0, 0, 0, kDestYv12},
      {DDPF_FOURCC, MakeFourCc('Y', 'U', 'Y', '2'), 16, 0, 0, 0, 0, kDestYuy2},
      {DDPF_FOURCC, MakeFourCc('I', '4', '2', '0'), 12, 0, 0, 0, 0, kDestUnknown},
      {DDPF_RGB | DDPF_PALETTEINDEXED8, 0, 8, 0, 0, 0, 0, kDestPalette8},
      {rgb, 0, 24, 0xFF0000, 0xFF00, 0xFF, 0, kDestBgr24},
      {rgb, 0, 24, 0xFF, 0xFF00, 0xFF0000, 0, kDestRgb24},
      {rgb, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0, kDestBgrx32},
      {rgb, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, kDestBgrx32},   // a mask without the alpha flag
      {alpha, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, kDestBgra32},
      {alpha, 0, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000, kDestRgba32},
      {rgb, 0, 16, 0xF800, 0x07E0, 0x001F, 0, kDestRgb565},
      {alpha, 0, 16, 0x7C00, 0x03E0, 0x001F, 0x8000, kDestArgb1555},
      {rgb, 0, 16, 0x7C00, 0x03E0, 0x001F, 0, kDestXrgb1555},
      {alpha, 0, 16, 0x0F00, 0x00F0, 0x000F, 0xF000, kDestArgb4444},
      {rgb, 0, 16, 0x001F, 0x07E0, 0xF800, 0, kDestUnknown},
      {DDPF_LUMINANCE, 0, 16, 0xFFFF, 0, 0, 0, kDestUnknown},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DestinationCodeFromDirectDrawFormat(c.flags, c.fourCc, c.bits, c.r, c.g, c.b, c.a), c.code)
        << std::hex << c.flags << " " << c.fourCc << " " << c.r;

  EXPECT_EQ(OverlayStretchBits(DDFXCAPS_OVERLAYSTRETCHX), 0xC0000000u);
  EXPECT_EQ(OverlayStretchBits(DDFXCAPS_OVERLAYSTRETCHXN), 0x80000000u);
  EXPECT_EQ(OverlayStretchBits(DDFXCAPS_OVERLAYSHRINKX), 0x30000000u);
  EXPECT_EQ(OverlayStretchBits(DDFXCAPS_OVERLAYSHRINKXN), 0x20000000u);
  EXPECT_EQ(OverlayStretchBits(DDFXCAPS_OVERLAYSTRETCHY | DDFXCAPS_OVERLAYSHRINKYN), 0x0C000000u | 0x02000000u);
  EXPECT_EQ(OverlayStretchBits(DDFXCAPS_BLTSTRETCHX | DDFXCAPS_BLTSHRINKY), 0u);   // blit bits are not overlay bits
  EXPECT_EQ(BlitStretchBits(DDFXCAPS_BLTSTRETCHX | DDFXCAPS_BLTSTRETCHY | DDFXCAPS_BLTSHRINKX |
                            DDFXCAPS_BLTSHRINKY),
            0xFF000000u);
  EXPECT_EQ(BlitStretchBits(DDFXCAPS_BLTSTRETCHXN | DDFXCAPS_BLTSHRINKYN), 0x80000000u | 0x02000000u);
  EXPECT_EQ(BlitStretchBits(DDFXCAPS_OVERLAYSTRETCHX), 0u);
}

}  // namespace
}  // namespace kivo

#endif  // _WIN32
