// SPDX-License-Identifier: BSD-2-Clause
// Every blitting style this machine offers through the same checks: the
// build's list (SDL styles on the dummy video driver, the DirectDraw styles
// and the DIB section on Windows), the memory buffer, and the fake system's
// styles. A style the machine cannot open here (an overlay without
// overlays, an accelerated renderer without one) is skipped. A style whose
// window can be read back is held to its pixels: what it shows, at 1:1 and
// stretched 2:1, is the memory buffer's picture.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "display/blit_buffer.h"
#include "display/blit_geometry.h"
#include "display/blit_style.h"
#include "display/fake_system.h"
#include "display/pixel_layout.h"
#include "convert/copy_to_buffer.h"

#if defined(_WIN32)
#include <windows.h>
#elif defined(KIVO_HAVE_SDL)
#include "display/sdl/sdl_video.h"
#endif

namespace kivo {
namespace {

struct Style {
  bool fake;       // a style of the fake system
  int32_t number;  // -1: the memory buffer
  std::string name;
  uint32_t capabilities;
};

void PrintTo(const Style& s, std::ostream* out) { *out << s.name; }

std::vector<Style> EveryStyle() {
  std::vector<Style> all{{false, -1, "Memory buffer", 0}};
  const char* name = nullptr;
  uint32_t capabilities = 0;
  for (int32_t i = 0, n; (n = GetBlitStyleListEntry(i, &name, &capabilities)) >= 0; ++i)
    all.push_back({false, n, name, capabilities});
  // The fake styles, all of them offered (the list depends on the machine).
  testing::FakeSystemScope scope;
  for (int32_t n = 1; n <= 10; ++n) scope.machine().offered[n] = true;
  uint32_t count = 0;
  const BlitStyle* const* list = testing::FakeBlitSystem()->styles(&count);
  for (uint32_t i = 0; i < count; ++i)
    all.push_back({true, list[i]->number, list[i]->name, list[i]->capabilities & (kBlitStyleDrawsWindow | kBlitStyleWrittenInPlace | kBlitStyleHardwareStretch)});
  return all;
}

// A window of the platform's own for the life of the object; null without a display.
class TestWindow {
 public:
  TestWindow() {
#if defined(_WIN32)
    WNDCLASSA c = {};
    c.lpfnWndProc = DefWindowProcA;
    c.hInstance = GetModuleHandleA(nullptr);
    c.lpszClassName = "KivoStyleContract";
    RegisterClassA(&c);
    window_ = CreateWindowExA(0, c.lpszClassName, "style contract", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 64, 64, 320,
                              240, nullptr, nullptr, c.hInstance, nullptr);
#elif defined(KIVO_HAVE_SDL)
    if (video_.ok()) window_ = SDL_CreateWindow("style contract", 0, 0, 320, 240, 0);
#endif
  }
  ~TestWindow() {
#if defined(_WIN32)
    if (window_) DestroyWindow(static_cast<HWND>(window_));
#elif defined(KIVO_HAVE_SDL)
    if (window_) SDL_DestroyWindow(static_cast<SDL_Window*>(window_));
#endif
  }
  void* get() const { return window_; }

 private:
#if defined(KIVO_HAVE_SDL) && !defined(_WIN32)
  testing::SdlVideo video_{"dummy"};
#endif
  void* window_ = nullptr;
};

constexpr uint32_t kWidth = 64, kHeight = 48;

// A picture that differs from pixel to pixel, in colours every conversion
// can show (no channel clipped): luma, then two half-size chroma planes.
const std::vector<uint8_t>& TestPlanes() {
  static const std::vector<uint8_t> planes = [] {
    std::vector<uint8_t> p(kWidth * kHeight * 3 / 2);
    for (uint32_t y = 0; y < kHeight; ++y)
      for (uint32_t x = 0; x < kWidth; ++x) p[y * kWidth + x] = uint8_t(64 + 2 * x + y);
    uint8_t* c = p.data() + kWidth * kHeight;
    for (uint32_t y = 0; y < kHeight / 2; ++y)
      for (uint32_t x = 0; x < kWidth / 2; ++x) {
        c[y * kWidth / 2 + x] = uint8_t(108 + x);
        c[kWidth * kHeight / 4 + y * kWidth / 2 + x] = uint8_t(148 - y);
      }
    return p;
  }();
  return planes;
}

void CopyTestPicture(uint8_t* to, int32_t pitch, int32_t code) {
  CopySource from{{TestPlanes().data(), nullptr, kWidth, kHeight, kWidth, kHeight}, nullptr, 0, 0};
  CopyPicture(from, to, pitch, kHeight, 0, 0, uint32_t(code) | kCopyFull);
}

// The picture as the memory buffer holds it, as R, G, B.
std::vector<uint8_t> MemoryPicture() {
  std::vector<uint8_t> bgrx(kWidth * kHeight * 4), rgb(kWidth * kHeight * 3);
  CopyTestPicture(bgrx.data(), int32_t(kWidth * 4), kDestBgrx32);
  for (uint32_t i = 0; i < kWidth * kHeight; ++i)
    for (int c = 0; c < 3; ++c) rgb[i * 3 + c] = bgrx[i * 4 + 2 - c];
  return rgb;
}

// What the window shows in (x, y, w, h), as R, G, B; empty where it cannot
// be read back.
std::vector<uint8_t> ShownPixels(void* window, int x, int y, int w, int h) {
  std::vector<uint8_t> rgb;
#if defined(KIVO_HAVE_SDL) && !defined(_WIN32)
  auto* sdlWindow = static_cast<SDL_Window*>(window);
  std::vector<uint32_t> argb(size_t(w) * h);
  const SDL_Rect rect{x, y, w, h};
  if (SDL_Renderer* r = SDL_GetRenderer(sdlWindow)) {
    if (SDL_RenderReadPixels(r, &rect, SDL_PIXELFORMAT_ARGB8888, argb.data(), w * 4) != 0) return rgb;
  } else {
    SDL_Surface* s = SDL_GetWindowSurface(sdlWindow);
    if (!s || SDL_ConvertPixels(w, h, s->format->format,
                                static_cast<uint8_t*>(s->pixels) + ptrdiff_t(y) * s->pitch + x * s->format->BytesPerPixel,
                                s->pitch, SDL_PIXELFORMAT_ARGB8888, argb.data(), w * 4) != 0)
      return rgb;
  }
  for (uint32_t v : argb) rgb.insert(rgb.end(), {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
#else
  (void)window, (void)x, (void)y, (void)w, (void)h;
#endif
  return rgb;
}

class StyleContract : public ::testing::TestWithParam<Style> {
 protected:
  void SetUp() override {
    const Style& s = GetParam();
    if (s.number < 0) {
      buffer = OpenMemoryBlitBuffer(kWidth, kHeight, kDestBgrx32);
      ASSERT_NE(buffer, nullptr);
      return;
    }
    on = window.get();
    if (s.fake) {
      // A machine where every style opens, and only the in-place one cannot stretch.
      fake = std::make_unique<testing::FakeSystemScope>();
      for (int32_t n = 1; n <= 10; ++n) {
        fake->machine().offered[n] = fake->machine().opens[n] = true;
        fake->machine().capabilities[n] = n == kBlitStylePrimary ? 0 : kStretchAny;
      }
      on = reinterpret_cast<void*>(0x1000);
    }
    if (!on) GTEST_SKIP() << "no display";
    buffer = OpenBlitBuffer(on, kWidth, kHeight, uint32_t(s.number));
    if (!buffer || buffer->style != s.number) {
      const std::string got = buffer ? GetBlitStyleName(buffer) : GetBlitBufferError();
      CloseBlitBuffer(buffer);
      buffer = nullptr;
      GTEST_SKIP() << s.name << " is not offered here: " << got;
    }
  }
  void TearDown() override {
    CloseBlitBuffer(buffer);
    fake.reset();
  }
  // Copies the test picture in, shows it whole, and compares what the window
  // shows with the memory buffer's picture, each pixel `scale` times over.
  // A style's own conversion may differ by a few steps (fewer bits, its own
  // YUV conversion); a pixel out of place differs by far more.
  void ExpectPicture(uint32_t scale) {
    if (GetParam().fake || GetParam().number < 0 || !on) return;
    ASSERT_EQ(LockBlitBuffer(buffer), 1);
    CopyTestPicture(buffer->lockedPointer, buffer->lockedPitch, int32_t(buffer->flags & kBlitCodeMask));
    UnlockBlitBuffer(buffer);
    BlitRects(buffer, nullptr, 1);
    const int w = int(kWidth * scale), h = int(kHeight * scale);
    const std::vector<uint8_t> shown = ShownPixels(on, buffer->destinationX, buffer->destinationY, w, h);
    if (shown.empty()) return;  // nothing to read back on this platform
    const std::vector<uint8_t> want = MemoryPicture();
    int worst = 0, worstX = 0, worstY = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) {
          const int d = std::abs(int(shown[(size_t(y) * w + x) * 3 + c]) -
                                 int(want[(size_t(y / scale) * kWidth + x / scale) * 3 + c]));
          if (d > worst) worst = d, worstX = x, worstY = y;
        }
    EXPECT_LE(worst, 8) << "at " << scale << ":1, pixel (" << worstX << ", " << worstY << ")";
  }

  TestWindow window;
  std::unique_ptr<testing::FakeSystemScope> fake;
  void* on = nullptr;  // the window the buffer shows in
  BlitBuffer* buffer = nullptr;
};

// One test per style: opening it (a window, the display device) is what
// takes the time, under Wine above all.
TEST_P(StyleContract, NamesLockingStretchingAndTheBandAsTheListSays) {
  const Style& s = GetParam();
  EXPECT_EQ(GetBlitStyleName(buffer), s.name);
  EXPECT_EQ(GetBlitStyleCapabilities(buffer), s.capabilities);
  if (s.number >= 0 && !s.fake) {
    EXPECT_STREQ(GetBlitStyleNameByNumber(s.number), s.name.c_str());
    EXPECT_EQ(FindBlitStyle(s.name.c_str()), s.number);
  }
  const int32_t code = int32_t(buffer->flags & kBlitCodeMask);
  EXPECT_GT(DestinationBytesPerPixel(code), 0u) << "code " << code;
  EXPECT_TRUE(buffer->flags & kBlitFullCopy) << "a new buffer asks for a full copy";
  EXPECT_EQ(buffer->windowWidth, buffer->frameWidth + kWidth);
  EXPECT_EQ(buffer->windowHeight, buffer->frameHeight + kHeight);

  // Locking hands out the whole picture; unlocking takes it back.
  ASSERT_EQ(LockBlitBuffer(buffer), 1);
  ASSERT_NE(buffer->lockedPointer, nullptr);
  const int64_t rowBytes = int64_t(kWidth) * DestinationBytesPerPixel(code);
  EXPECT_GE(buffer->lockedPitch < 0 ? -int64_t(buffer->lockedPitch) : int64_t(buffer->lockedPitch), rowBytes);
  // The whole picture is writable, first row to last.
  uint8_t* last = buffer->lockedPointer + ptrdiff_t(buffer->lockedPitch) * (kHeight - 1);
  memset(buffer->lockedPointer, 0, size_t(rowBytes));
  memset(last, 0, size_t(rowBytes));
  EXPECT_EQ(LockBlitBuffer(buffer), 1) << "a second lock keeps the first";
  EXPECT_EQ(UnlockBlitBuffer(buffer), 1);
  EXPECT_EQ(buffer->lockedPointer, nullptr);
  EXPECT_EQ(buffer->lockedPitch, 0);
  EXPECT_FALSE(buffer->flags & kBlitFullCopy);
  EXPECT_EQ(ClearBlitBuffer(buffer), 1);
  const MovieRect rects[2] = {{0, 0, 16, 16}, {48, 32, 32, 32}};  // the second one reaches outside
  BlitRects(buffer, rects, 2);
  BlitRects(buffer, nullptr, 1);
  ExpectPicture(1);

  // Stretching is accepted as the capabilities say.
  const bool doubles = StretchWithin(kStretchEnlargeXInteger | kStretchEnlargeYInteger, buffer->stretchCapabilities);
  if (GetBlitStyleCapabilities(buffer) & kBlitStyleWrittenInPlace) {
    EXPECT_FALSE(doubles);
  }
  EXPECT_EQ(SetBlitSize(buffer, 2 * kWidth, 2 * kHeight), doubles ? 1 : 0);
  EXPECT_EQ(buffer->blitWidth, doubles ? 2 * kWidth : kWidth);
  EXPECT_EQ(buffer->windowWidth, buffer->frameWidth + buffer->blitWidth);
  if (doubles) ExpectPicture(2);
  EXPECT_EQ(SetBlitSize(buffer, kWidth, kHeight), 1);

  // Only a style that draws the whole window takes the band over it.
  if (!on) return;
  const uint32_t band[8 * 2] = {};
  const bool drawsWindow = (GetBlitStyleCapabilities(buffer) & kBlitStyleDrawsWindow) != 0;
  EXPECT_EQ(ShowWindowBand(on, band, 8 * 4, 0, 0, 8, 2), drawsWindow ? 1 : 0);
  EraseWindowBand(on, 0, 0, 8, 2);
}

INSTANTIATE_TEST_SUITE_P(EveryStyle, StyleContract, ::testing::ValuesIn(EveryStyle()),
                         [](const ::testing::TestParamInfo<Style>& p) {
                           if (p.param.number < 0) return std::string("Memory");
                           return (p.param.fake ? "FakeStyle" : "Style") + std::to_string(p.param.number);
                         });

}  // namespace
}  // namespace kivo
