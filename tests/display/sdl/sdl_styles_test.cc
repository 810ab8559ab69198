// SPDX-License-Identifier: BSD-2-Clause
// The SDL styles on the dummy and offscreen drivers: which style each request
// ends in, what the picture looks like after a blit, the cursor, shared
// renderers, and the display mode as full screen.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "display/blit_buffer.h"
#include "display/blit_style.h"
#include "display/display_mode.h"
#include "display/pixel_layout.h"
#include "display/sdl/sdl_system.h"
#include "display/sdl/sdl_video.h"
#include "movie/movie.h"

namespace kivo {
namespace {

using testing::PatternMismatches;
using testing::SdlVideo;
using testing::Shown;

class SdlDummy : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(video.ok()) << SDL_GetError();
    window = SDL_CreateWindow("display test", 0, 0, 96, 64, 0);
    ASSERT_NE(window, nullptr) << SDL_GetError();
  }
  void TearDown() override {
    if (window) SDL_DestroyWindow(window);
    ClearDisplayModeRequest();
  }
  SdlVideo video{"dummy"};
  SDL_Window* window = nullptr;
};

TEST_F(SdlDummy, AutomaticWritesTheWindowSurfaceInPlace) {
  BlitBuffer* b = OpenBlitBuffer(window, 40, 24, 0);
  ASSERT_NE(b, nullptr) << GetBlitBufferError();
  EXPECT_STREQ(GetBlitStyleName(b), "SDL window surface");
  EXPECT_EQ(b->style, 1);
  EXPECT_EQ(RecordOf(b)->usesPrimary, 1);
  EXPECT_EQ(b->stretchCapabilities, 0u);
  EXPECT_EQ(b->flags & kBlitCodeMask, uint32_t(kDestBgrx32));
  EXPECT_EQ(b->flags & kBlitNoBlits, 0u);   // the surface still has to be shown
  EXPECT_EQ(b->screenWidth, 1024u);
  EXPECT_EQ(b->screenBits, 32u);
  EXPECT_EQ(SetBlitSize(b, 80, 48), 0);
  EXPECT_EQ(b->blitWidth, 40u);

  SetBlitPosition(b, 10, 6);
  ASSERT_TRUE(testing::WritePattern(b));
  SDL_Surface* s = SDL_GetWindowSurface(window);
  ASSERT_TRUE(LockBlitBuffer(b));
  EXPECT_EQ(b->lockedPointer, static_cast<uint8_t*>(s->pixels) + 6 * s->pitch + 10 * 4);
  EXPECT_EQ(b->lockedPitch, s->pitch);
  UnlockBlitBuffer(b);
  BlitRects(b, nullptr, 1);
  Shown shown;
  ASSERT_TRUE(testing::ReadWindowSurface(window, &shown));
  EXPECT_EQ(PatternMismatches(shown, 10, 6, kDestBgrx32, 40, 24), 0);
  EXPECT_EQ(shown.at(9, 6).r + shown.at(9, 6).g + shown.at(9, 6).b, 0);

  // A picture that does not fit the window at its place cannot be locked:
  // the copy would write past the surface.
  SetBlitPosition(b, 60, 0);
  EXPECT_EQ(LockBlitBuffer(b), 0);
  SetBlitPosition(b, -2, 0);
  EXPECT_EQ(LockBlitBuffer(b), 0);
  SetBlitPosition(b, 56, 40);
  EXPECT_EQ(LockBlitBuffer(b), 1);
  UnlockBlitBuffer(b);
  // Blitting rectangles out of the window is cut, not passed on.
  MovieRect r{30, 20, 50, 50};
  BlitRects(b, &r, 1);
  CloseBlitBuffer(b);
}

TEST_F(SdlDummy, WindowSurfaceKeptOnTheScreen) {
  BlitBuffer* b = OpenBlitBuffer(window, 64, 48, 1);
  ASSERT_NE(b, nullptr);
  int32_t x = 1000, y = 900;
  AdjustWindowPosition(b, &x, &y);
  EXPECT_EQ(x, 1024 - 64);
  EXPECT_EQ(y, 768 - 48);
  x = 3, y = -7;
  AdjustWindowPosition(b, &x, &y);
  EXPECT_EQ(x, 4);
  EXPECT_EQ(y, 0);
  CloseBlitBuffer(b);
}

TEST_F(SdlDummy, StretchingGoesToTheRgbTexture) {
  BlitBuffer* b = OpenBlitBuffer(window, 40, 24, kStretchEnlargeXInteger | kStretchEnlargeYInteger);
  ASSERT_NE(b, nullptr) << GetBlitBufferError();
  EXPECT_STREQ(GetBlitStyleName(b), "SDL RGB texture");
  EXPECT_EQ(b->style, 2);
  EXPECT_TRUE(b->flags & kBlitStretched);
  EXPECT_EQ(b->flags & kBlitCodeMask, uint32_t(kDestBgrx32));
  EXPECT_EQ(SetBlitSize(b, 80, 48), 1);
  ASSERT_TRUE(testing::WritePattern(b));
  SetBlitPosition(b, 8, 8);
  BlitRects(b, nullptr, 1);
  Shown shown;
  ASSERT_TRUE(testing::ReadRenderer(window, &shown));
  EXPECT_EQ(PatternMismatches(shown, 8, 8, kDestBgrx32, 40, 24, 2), 0);

  // Only the blitted rectangles reach the texture.
  ASSERT_TRUE(LockBlitBuffer(b));
  for (uint32_t y = 0; y < 24; ++y) memset(b->lockedPointer + y * b->lockedPitch, 0xFF, 40 * 4);
  UnlockBlitBuffer(b);
  MovieRect r{0, 0, 16, 16};
  BlitRects(b, &r, 1);
  ASSERT_TRUE(testing::ReadRenderer(window, &shown));
  EXPECT_EQ(shown.at(8, 8).r, 255);
  EXPECT_EQ(shown.at(8 + 31, 8 + 31).g, 255);
  const testing::Rgb untouched = testing::PatternColour(kDestBgrx32, 20, 20);
  EXPECT_EQ(shown.at(8 + 40, 8 + 40).r, untouched.r);
  EXPECT_EQ(shown.at(8 + 40, 8 + 40).b, untouched.b);
  CloseBlitBuffer(b);
}

TEST_F(SdlDummy, StylesTheDriverCannotGiveFallForward) {
  // No accelerated renderer on this driver.
  const struct { int32_t asked, got; int32_t code; const char* name; } cases[] = {
      {3, 6, kDestYv12, "SDL YV12 texture, software renderer"},
      {4, 6, kDestYv12, "SDL YV12 texture, software renderer"},
      {7, 7, kDestYuy2, "SDL YUY2 texture, software renderer"},
      {8, 8, kDestUyvy, "SDL UYVY texture, software renderer"},
      {9, 10, kDestBgrx32, "SDL RGB texture, software renderer"},
  };
  for (const auto& c : cases) {
    // Odd sizes: the chroma of the last row and column is half a pair.
    BlitBuffer* b = OpenBlitBuffer(window, 47, 33, uint32_t(c.asked));
    ASSERT_NE(b, nullptr) << c.asked << ": " << GetBlitBufferError();
    EXPECT_EQ(b->style, c.got);
    EXPECT_STREQ(GetBlitStyleName(b), c.name);
    EXPECT_EQ(int32_t(b->flags & kBlitCodeMask), c.code);
    // A new YUV surface starts black.
    Shown shown;
    BlitRects(b, nullptr, 1);
    ASSERT_TRUE(testing::ReadRenderer(window, &shown));
    EXPECT_LE(shown.at(20, 20).r + shown.at(20, 20).g + shown.at(20, 20).b, 3 * 2) << c.asked;
    ASSERT_TRUE(testing::WritePattern(b));
    // Rectangles at odd places, then the rest of the picture.
    const MovieRect parts[] = {{5, 3, 9, 7}, {40, 30, 16, 16}, {0, 0, 47, 33}};
    BlitRects(b, parts, 3);
    ASSERT_TRUE(testing::ReadRenderer(window, &shown));
    EXPECT_EQ(PatternMismatches(shown, 0, 0, c.code, 47, 33), 0) << c.asked;
    CloseBlitBuffer(b);
  }
  // A number the list does not hold has nothing to try.
  int32_t unheld = 1;
  for (int32_t i = 0, n; (n = GetBlitStyleListEntry(i, nullptr, nullptr)) >= 0; ++i) unheld = std::max(unheld, n + 1);
  EXPECT_EQ(OpenBlitBuffer(window, 48, 32, uint32_t(unheld)), nullptr);
  EXPECT_STREQ(GetBlitBufferError(), "No capable blitting style available.");
}

TEST_F(SdlDummy, CursorHiddenOnceWhileOverThePictureAndAFailedLockAsksForAFullCopy) {
  SDL_SetWindowPosition(window, 0, 0);
  BlitBuffer* b = OpenBlitBuffer(window, 64, 48, 1);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(RecordOf(b)->hideCursor, 1);
  int mx, my;
  SDL_GetGlobalMouseState(&mx, &my);
  ASSERT_LT(mx, 64);
  // Hidden once the picture is placed under the pointer, and kept so from
  // frame to frame: no flicker.
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
  for (int frame = 0; frame < 3; ++frame) {
    ASSERT_TRUE(LockBlitBuffer(b));
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
    UnlockBlitBuffer(b);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE) << frame;
    EXPECT_EQ(RecordOf(b)->hiddenCursorCount, 1);
  }
  // The pointer is off the picture once the window moves: shown again at
  // once when its window hears of it, and not hidden by the next lock.
  SDL_SetWindowPosition(window, 600, 400);
  TrackBlitCursor(b);
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
  EXPECT_EQ(RecordOf(b)->hiddenCursorCount, 0);
  ASSERT_TRUE(LockBlitBuffer(b));
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
  UnlockBlitBuffer(b);

  // A lock that fails (the picture no longer wholly on the surface) asks
  // for a full copy next time.
  EXPECT_EQ(b->flags & kBlitFullCopy, 0u);
  b->destinationX = 90;
  EXPECT_FALSE(LockBlitBuffer(b));
  EXPECT_NE(b->flags & kBlitFullCopy, 0u);
  b->destinationX = 0;

  // Hidden over the window for good: the buffer leaves it so.
  SDL_SetWindowPosition(window, 0, 0);
  SetWindowCursorHidden(true);
  ASSERT_TRUE(LockBlitBuffer(b));
  EXPECT_EQ(RecordOf(b)->hiddenCursorCount, 0);
  UnlockBlitBuffer(b);
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
  SetWindowCursorHidden(false);

  // Closing a buffer that hid the cursor shows it.
  ASSERT_TRUE(LockBlitBuffer(b));
  UnlockBlitBuffer(b);
  ASSERT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
  CloseBlitBuffer(b);
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
}

TEST_F(SdlDummy, BuffersOnOneWindowShareItsRenderer) {
  BlitBuffer* first = OpenBlitBuffer(window, 32, 32, 2);
  ASSERT_NE(first, nullptr);
  SDL_Renderer* r = SDL_GetRenderer(window);
  ASSERT_NE(r, nullptr);
  // The player opens the next buffer before it closes the last one.
  BlitBuffer* second = OpenBlitBuffer(window, 16, 16, 10);
  ASSERT_NE(second, nullptr) << GetBlitBufferError();
  EXPECT_EQ(second->style, 10);
  CloseBlitBuffer(first);
  EXPECT_EQ(SDL_GetRenderer(window), r);
  ASSERT_TRUE(testing::WritePattern(second));
  BlitRects(second, nullptr, 1);
  Shown shown;
  ASSERT_TRUE(testing::ReadRenderer(window, &shown));
  EXPECT_EQ(PatternMismatches(shown, 0, 0, kDestBgrx32, 16, 16), 0);
  // A renderer drawing the window rules out its surface: style 1 falls back.
  BlitBuffer* third = OpenBlitBuffer(window, 16, 16, 1);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(third->style, 2);
  CloseBlitBuffer(third);
  CloseBlitBuffer(second);
  EXPECT_EQ(SDL_GetRenderer(window), nullptr);
}

// A band of text over a window that a renderer draws: stripes of yellow and
// black, 4 pixels wide.
struct Band {
  static constexpr int kWidth = 96, kHeight = 10;
  uint32_t pixels[kWidth * kHeight];
  Band() {
    for (int i = 0; i < kWidth * kHeight; ++i) pixels[i] = (i % kWidth) / 4 % 2 ? 0xFF000000u : 0xFFFFFF00u;
  }
  // How many of its pixels the window shows as they should be.
  static int Shown(const testing::Shown& s) {
    int good = 0;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        const testing::Rgb c = s.at(x, y);
        const bool yellow = x / 4 % 2 == 0;
        good += (yellow ? c.r == 255 && c.g == 255 && c.b == 0 : c.r + c.g + c.b == 0) ? 1 : 0;
      }
    return good;
  }
};

TEST_F(SdlDummy, TextBandStaysOverEveryPresentUntilPaintedOver) {
  const Band band;
  const int pitch = Band::kWidth * 4;
  // Nothing renders the window yet: the caller draws on its surface itself.
  EXPECT_EQ(ShowWindowBand(window, band.pixels, pitch, 0, 0, Band::kWidth, Band::kHeight), 0);

  BlitBuffer* b = OpenBlitBuffer(window, 40, 24, 2);
  ASSERT_NE(b, nullptr) << GetBlitBufferError();
  SetBlitPosition(b, 8, 16);
  ASSERT_TRUE(testing::WritePattern(b));
  BlitRects(b, nullptr, 1);
  Shown shown;
  ASSERT_TRUE(testing::ReadRenderer(window, &shown));
  EXPECT_LT(Band::Shown(shown), Band::kWidth * Band::kHeight);

  EXPECT_EQ(ShowWindowBand(window, band.pixels, pitch, 0, 0, Band::kWidth, Band::kHeight), 1);
  ASSERT_TRUE(testing::ReadRenderer(window, &shown));
  EXPECT_EQ(Band::Shown(shown), Band::kWidth * Band::kHeight) << "shown at once";
  EXPECT_EQ(PatternMismatches(shown, 8, 16, kDestBgrx32, 40, 24), 0);

  // Each blit draws the whole window again, the band with it.
  MovieRect r{0, 0, 16, 16};
  BlitRects(b, &r, 1);
  ASSERT_TRUE(testing::ReadRenderer(window, &shown));
  EXPECT_EQ(Band::Shown(shown), Band::kWidth * Band::kHeight);
  EXPECT_EQ(PatternMismatches(shown, 8, 16, kDestBgrx32, 40, 24), 0);

  // The next movie's buffer opens before the last one closes: same window,
  // same band.
  BlitBuffer* next = OpenBlitBuffer(window, 24, 24, 10);
  ASSERT_NE(next, nullptr) << GetBlitBufferError();
  CloseBlitBuffer(b);
  SetBlitPosition(next, 8, 16);
  ASSERT_TRUE(testing::WritePattern(next));
  BlitRects(next, nullptr, 1);
  ASSERT_TRUE(testing::ReadRenderer(window, &shown));
  EXPECT_EQ(Band::Shown(shown), Band::kWidth * Band::kHeight);
  EXPECT_EQ(PatternMismatches(shown, 8, 16, kDestBgrx32, 24, 24), 0);

  // Paint beside the band leaves it; paint over any of it takes it away.
  EraseWindowBand(window, 0, Band::kHeight, 96, 54);
  BlitRects(next, nullptr, 1);
  ASSERT_TRUE(testing::ReadRenderer(window, &shown));
  EXPECT_EQ(Band::Shown(shown), Band::kWidth * Band::kHeight);
  EraseWindowBand(window, 95, 9, 1, 1);
  BlitRects(next, nullptr, 1);
  ASSERT_TRUE(testing::ReadRenderer(window, &shown));
  EXPECT_EQ(shown.at(0, 0).r + shown.at(0, 0).g, 0);
  EXPECT_EQ(PatternMismatches(shown, 8, 16, kDestBgrx32, 24, 24), 0);
  // Shown again by the next line, a smaller one in the same texture.
  EXPECT_EQ(ShowWindowBand(window, band.pixels, pitch, 0, 0, 40, 4), 1);
  ASSERT_TRUE(testing::ReadRenderer(window, &shown));
  EXPECT_EQ(shown.at(0, 3).g, 255);
  EXPECT_EQ(shown.at(0, 4).g, 0);
  EXPECT_EQ(shown.at(44, 0).g, 0);
  CloseBlitBuffer(next);
  EXPECT_EQ(ShowWindowBand(window, band.pixels, pitch, 0, 0, 40, 4), 0);
}

TEST_F(SdlDummy, DisplayModeAsFullScreen) {
  SetDisplayModeRequest(1024, 768, kDepthHighColourAtLeast);   // 16 is not offered, 32 is
  BlitBuffer* b = OpenBlitBuffer(window, 64, 48, 1 | kBlitOpenChangeMode);
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN);
  EXPECT_TRUE(DisplayModeChanged());
  EXPECT_EQ(b->screenBits, 32u);
  BlitBuffer* other = OpenBlitBuffer(window, 64, 48, 1);
  ASSERT_NE(other, nullptr);
  CloseBlitBuffer(b);
  EXPECT_TRUE(SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN);
  CloseBlitBuffer(other);
  EXPECT_FALSE(SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN);
  EXPECT_FALSE(DisplayModeChanged());

  // A size the display does not have: nothing changes, the open goes on.
  SetDisplayModeRequest(640, 480, 32);
  b = OpenBlitBuffer(window, 64, 48, kBlitOpenChangeMode);
  ASSERT_NE(b, nullptr);
  EXPECT_FALSE(SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN);
  EXPECT_FALSE(DisplayModeChanged());
  CloseBlitBuffer(b);
}

TEST(SdlFormats, DestinationCodes) {
  EXPECT_EQ(DestinationCodeFromSdlFormat(SDL_PIXELFORMAT_RGB888), kDestBgrx32);
  EXPECT_EQ(DestinationCodeFromSdlFormat(SDL_PIXELFORMAT_BGR888), kDestRgbx32);
  EXPECT_EQ(DestinationCodeFromSdlFormat(SDL_PIXELFORMAT_ARGB8888), kDestBgra32);
  EXPECT_EQ(DestinationCodeFromSdlFormat(SDL_PIXELFORMAT_ABGR8888), kDestRgba32);
  EXPECT_EQ(DestinationCodeFromSdlFormat(SDL_PIXELFORMAT_RGBA8888), kDestUnknown);
  EXPECT_EQ(DestinationCodeFromSdlFormat(SDL_PIXELFORMAT_RGB24), kDestRgb24);
  EXPECT_EQ(DestinationCodeFromSdlFormat(SDL_PIXELFORMAT_BGR24), kDestBgr24);
  EXPECT_EQ(DestinationCodeFromSdlFormat(SDL_PIXELFORMAT_RGB565), kDestRgb565);
  EXPECT_EQ(DestinationCodeFromSdlFormat(SDL_PIXELFORMAT_RGB555), kDestXrgb1555);
  EXPECT_EQ(DestinationCodeFromSdlFormat(SDL_PIXELFORMAT_ARGB1555), kDestArgb1555);
  EXPECT_EQ(DestinationCodeFromSdlFormat(SDL_PIXELFORMAT_ARGB4444), kDestArgb4444);
  EXPECT_EQ(DestinationCodeFromSdlFormat(SDL_PIXELFORMAT_RGB444), kDestUnknown);
  EXPECT_EQ(DestinationCodeFromSdlFormat(SDL_PIXELFORMAT_INDEX8), kDestPalette8);
  EXPECT_EQ(DestinationCodeFromSdlFormat(SDL_PIXELFORMAT_INDEX4LSB), kDestUnknown);
  EXPECT_EQ(DestinationCodeFromSdlFormat(SDL_PIXELFORMAT_YV12), kDestYv12);
  EXPECT_EQ(DestinationCodeFromSdlFormat(SDL_PIXELFORMAT_YUY2), kDestYuy2);
  EXPECT_EQ(DestinationCodeFromSdlFormat(SDL_PIXELFORMAT_UYVY), kDestUyvy);
  EXPECT_EQ(DestinationCodeFromSdlFormat(SDL_PIXELFORMAT_NV12), kDestUnknown);
  EXPECT_EQ(DestinationCodeFromSdlFormat(SDL_PIXELFORMAT_UNKNOWN), kDestUnknown);
  EXPECT_EQ(SdlFormatBits(SDL_PIXELFORMAT_RGB555), 16u);
  EXPECT_EQ(SdlFormatBits(SDL_PIXELFORMAT_RGB888), 32u);
  EXPECT_EQ(SdlFormatBits(SDL_PIXELFORMAT_RGB24), 24u);
  EXPECT_EQ(SdlFormatBits(SDL_PIXELFORMAT_YUY2), 0u);
}

// The offscreen driver may have an accelerated renderer (through EGL); the
// styles that need one are given exactly when it can be made here.
TEST(SdlOffscreen, AcceleratedStylesWhenTheMachineHasThem) {
  testing::DriverAllocationsIgnored driverMemory;
  SdlVideo video("offscreen");
  if (!video.ok()) GTEST_SKIP() << "no offscreen video driver: " << SDL_GetError();
  bool accelerated = false, yv12 = false;
  {
    SDL_Window* probe = SDL_CreateWindow("probe", 0, 0, 16, 16, 0);
    ASSERT_NE(probe, nullptr);
    if (SDL_Renderer* r = SDL_CreateRenderer(probe, -1, SDL_RENDERER_ACCELERATED)) {
      accelerated = true;
      SDL_RendererInfo info;
      SDL_GetRendererInfo(r, &info);
      for (Uint32 i = 0; i < info.num_texture_formats; ++i)
        yv12 = yv12 || info.texture_formats[i] == SDL_PIXELFORMAT_YV12;
      SDL_DestroyRenderer(r);
    }
    SDL_DestroyWindow(probe);
  }
  SDL_Window* window = SDL_CreateWindow("display test", 0, 0, 64, 48, 0);
  ASSERT_NE(window, nullptr);
  BlitBuffer* b = OpenBlitBuffer(window, 48, 32, 3);
  ASSERT_NE(b, nullptr) << GetBlitBufferError();
  EXPECT_EQ(b->style, accelerated && yv12 ? 3 : 6);
  ASSERT_TRUE(testing::WritePattern(b));
  BlitRects(b, nullptr, 1);
  Shown shown;
  ASSERT_TRUE(testing::ReadRenderer(window, &shown));
  EXPECT_EQ(PatternMismatches(shown, 0, 0, kDestYv12, 48, 32), 0);
  CloseBlitBuffer(b);

  b = OpenBlitBuffer(window, 48, 32, 9);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->style, accelerated ? 9 : 10);
  CloseBlitBuffer(b);
  SDL_DestroyWindow(window);
}

}  // namespace
}  // namespace kivo
