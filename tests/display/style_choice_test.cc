// SPDX-License-Identifier: BSD-2-Clause
// Choosing a blitting style: the fall-back order, stretch requests against
// capabilities, the error texts, and the record a chosen style leaves.
#include <gtest/gtest.h>

#include "display/blit_buffer.h"
#include "display/blit_style.h"
#include "display/display_mode.h"
#include "display/fake_system.h"
#include "display/pixel_layout.h"

namespace kivo {
namespace {

using testing::FakeSystemScope;

void* const kWindow = reinterpret_cast<void*>(0x1000);

class StyleChoice : public ::testing::Test {
 protected:
  void Offer(int32_t n, bool opens, uint32_t caps = 0) {
    m().offered[n] = true;
    m().opens[n] = opens;
    m().capabilities[n] = caps;
  }
  testing::FakeMachine& m() { return scope.machine(); }
  FakeSystemScope scope;
};

TEST_F(StyleChoice, AutomaticTriesWrittenInPlaceThenTheCompatibleStyle) {
  Offer(1, true);
  BlitBuffer* b = OpenBlitBuffer(kWindow, 320, 240, 0);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->style, 1);
  EXPECT_EQ(RecordOf(b)->usesPrimary, 1);
  EXPECT_EQ(m().attempts, (std::vector<int32_t>{1}));
  CloseBlitBuffer(b);

  m().attempts.clear();
  m().opens[1] = false;
  b = OpenBlitBuffer(kWindow, 320, 240, 0);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->style, 2);
  EXPECT_EQ(m().attempts, (std::vector<int32_t>{1, 2}));
  EXPECT_STREQ(GetBlitStyleName(b), "Fake style 2");
  EXPECT_EQ(b->flags & kBlitCodeMask, uint32_t(kDestRgb565));
  CloseBlitBuffer(b);

  // The compatible style's failure is final, with its own text.
  m().attempts.clear();
  m().fallbackOpens = false;
  m().fallbackFailText = "Unable to create DIBSection.";
  EXPECT_EQ(OpenBlitBuffer(kWindow, 320, 240, 1), nullptr);
  EXPECT_EQ(m().attempts, (std::vector<int32_t>{1, 2}));
  EXPECT_STREQ(GetBlitBufferError(), "Unable to create DIBSection.");
}

TEST_F(StyleChoice, AnyStretchSkipsWrittenInPlace) {
  Offer(1, true, kStretchAny);   // even a claim to stretch does not count
  for (uint32_t stretch : {kStretchEnlargeXInteger, kStretchShrinkY}) {
    m().attempts.clear();
    BlitBuffer* b = OpenBlitBuffer(kWindow, 320, 240, 1 | stretch);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->style, 2);
    EXPECT_EQ(m().attempts, (std::vector<int32_t>{2}));
    EXPECT_TRUE(b->flags & kBlitStretched);
    CloseBlitBuffer(b);
  }
}

TEST_F(StyleChoice, LaterStylesFallForwardUpToTheLast) {
  Offer(3, false);
  Offer(4, false);
  Offer(5, true, kStretchAny);
  Offer(6, true);
  BlitBuffer* b = OpenBlitBuffer(kWindow, 320, 240, 3);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->style, 5);
  EXPECT_EQ(m().attempts, (std::vector<int32_t>{3, 4, 5}));
  // An overlay-like style shows itself: no stretched flag even if asked.
  EXPECT_TRUE(b->flags & kBlitNoBlits);
  EXPECT_TRUE(b->flags & kBlitFullCopy);
  CloseBlitBuffer(b);

  // Styles not offered here are passed over; past 10 there is nothing.
  m().attempts.clear();
  for (int n = 3; n <= 10; ++n) Offer(n, false);
  m().offered[7] = false;
  m().failText[10] = "Video mode not supported.";
  EXPECT_EQ(OpenBlitBuffer(kWindow, 320, 240, 3), nullptr);
  EXPECT_EQ(m().attempts, (std::vector<int32_t>{3, 4, 5, 6, 8, 9, 10}));
  EXPECT_STREQ(GetBlitBufferError(), "No capable blitting style available.");

  m().attempts.clear();
  EXPECT_EQ(OpenBlitBuffer(kWindow, 320, 240, 11), nullptr);
  EXPECT_TRUE(m().attempts.empty());
  EXPECT_STREQ(GetBlitBufferError(), "No capable blitting style available.");

  // On a palette display the text says so.
  m().current.bits = 8;
  EXPECT_EQ(OpenBlitBuffer(kWindow, 320, 240, 3), nullptr);
  EXPECT_STREQ(GetBlitBufferError(), "256 color mode not supported.");
  EXPECT_EQ(DisplayModeUsers(), 0u);
}

TEST_F(StyleChoice, StretchMustBeASubsetOfTheCapabilities) {
  Offer(3, true, kStretchEnlargeYInteger | kStretchEnlargeY);   // enlarge tall only
  Offer(4, true, kStretchEnlargeXInteger | kStretchEnlargeX);   // enlarge wide only
  Offer(5, true, kStretchAny);
  BlitBuffer* b = OpenBlitBuffer(kWindow, 320, 240, 3 | kStretchEnlargeXInteger);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->style, 4);
  EXPECT_EQ(m().attempts, (std::vector<int32_t>{4}));   // 3 was never opened
  CloseBlitBuffer(b);

  m().attempts.clear();
  b = OpenBlitBuffer(kWindow, 320, 240, 3 | kStretchEnlargeXInteger | kStretchEnlargeYInteger);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->style, 5);
  EXPECT_EQ(m().attempts, (std::vector<int32_t>{5}));
  CloseBlitBuffer(b);
}

TEST_F(StyleChoice, WithoutTheDeviceOnlyAutomaticGoesOn) {
  Offer(1, true);
  Offer(3, true);
  m().deviceAvailable = false;
  BlitBuffer* b = OpenBlitBuffer(kWindow, 320, 240, 0);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->style, 2);
  EXPECT_EQ(RecordOf(b)->holdsDevice, 0);
  CloseBlitBuffer(b);
  EXPECT_EQ(m().deviceReleases, 0);

  EXPECT_EQ(OpenBlitBuffer(kWindow, 320, 240, 3), nullptr);
  EXPECT_STREQ(GetBlitBufferError(), "Fake device is not available");
  EXPECT_EQ(m().attempts, (std::vector<int32_t>{2}));

  // The compatible style never needs the device.
  m().deviceAvailable = true;
  b = OpenBlitBuffer(kWindow, 320, 240, 2);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(RecordOf(b)->holdsDevice, 0);
  CloseBlitBuffer(b);
  b = OpenBlitBuffer(kWindow, 320, 240, 3);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(RecordOf(b)->holdsDevice, 1);
  CloseBlitBuffer(b);
  EXPECT_EQ(m().deviceReleases, 1);
}

TEST_F(StyleChoice, ZeroSizesAndTheRecordOfAnOpenBuffer) {
  Offer(1, true);
  EXPECT_EQ(OpenBlitBuffer(kWindow, 0, 240, 0), nullptr);
  EXPECT_EQ(OpenBlitBuffer(kWindow, 320, 0, 0), nullptr);
  EXPECT_TRUE(m().attempts.empty());

  BlitBuffer* b = OpenBlitBuffer(kWindow, 320, 240, 0);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->blitWidth, 320u);
  EXPECT_EQ(b->blitHeight, 240u);
  EXPECT_EQ(b->windowWidth, 328u);
  EXPECT_EQ(b->windowHeight, 266u);
  EXPECT_EQ(b->clientOffsetX, 4);
  EXPECT_EQ(b->clientX, 100);
  EXPECT_EQ(b->screenWidth, 1024u);   // measured through the display-mode step
  EXPECT_EQ(b->flags & kBlitStretched, 0u);

  // Moving the picture inside the window: the screen position follows and
  // the next copy is a full one.
  b->flags &= ~kBlitFullCopy;
  m().originX = 200;
  SetBlitPosition(b, 16, 8);
  EXPECT_EQ(b->destinationX, 16);
  EXPECT_EQ(b->clientX, 216);
  EXPECT_EQ(b->clientY, 68);
  EXPECT_TRUE(b->flags & kBlitFullCopy);
  CloseBlitBuffer(b);
}

TEST_F(StyleChoice, BlitSizeAcceptedOnlyWithinTheCapabilities) {
  Offer(3, true, kStretchEnlargeXInteger | kStretchEnlargeYInteger);
  Offer(5, true, kStretchAny);
  BlitBuffer* b = OpenBlitBuffer(kWindow, 320, 240, 3);
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(b->style, 3);
  EXPECT_EQ(SetBlitSize(b, 640, 480), 1);
  EXPECT_EQ(b->blitWidth, 640u);
  EXPECT_EQ(b->windowWidth, 648u);
  EXPECT_EQ(b->windowHeight, 506u);
  // 1.5 times is not an integer enlargement; a shrink is not offered at all.
  EXPECT_EQ(SetBlitSize(b, 480, 240), 0);
  EXPECT_EQ(b->blitWidth, 640u);
  EXPECT_EQ(b->blitHeight, 240u);   // the height was acceptable on its own
  EXPECT_EQ(SetBlitSize(b, 320, 120), 0);
  EXPECT_EQ(b->blitHeight, 240u);
  // 0 means the screen's size: 1024 x 768 are no multiples of 320 x 240.
  EXPECT_EQ(SetBlitSize(b, 0, 0), 0);
  EXPECT_EQ(SetBlitSize(b, 960, 720), 1);
  CloseBlitBuffer(b);

  b = OpenBlitBuffer(kWindow, 320, 240, 5);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SetBlitSize(b, 0, 0), 1);
  EXPECT_EQ(b->blitWidth, 1024u);
  EXPECT_EQ(b->blitHeight, 768u);
  EXPECT_EQ(SetBlitSize(b, 101, 77), 1);
  CloseBlitBuffer(b);
}

TEST_F(StyleChoice, WindowPositionsKeepThePictureFastToWrite) {
  Offer(1, true);
  Offer(3, true);
  m().current = testing::FakeMode{800, 600, 16};
  BlitBuffer* b = OpenBlitBuffer(kWindow, 320, 240, 3);
  ASSERT_NE(b, nullptr);
  int32_t x = 3, y = 5;
  m().clientOffsetX = 4;
  b->clientOffsetX = 4;
  AdjustWindowPosition(b, &x, &y);
  EXPECT_EQ(x, 4);    // client area at 8: a multiple of 4 pixels at 2 bytes each
  EXPECT_EQ(y, 5);    // rows are not rounded
  // Not written in place: the picture may hang off the screen.
  x = 700, y = 500;
  AdjustWindowPosition(b, &x, &y);
  EXPECT_EQ(x, 700);
  EXPECT_EQ(y, 500);
  CloseBlitBuffer(b);

  b = OpenBlitBuffer(kWindow, 320, 240, 1);
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(RecordOf(b)->usesPrimary, 1);
  x = 700, y = 500;
  AdjustWindowPosition(b, &x, &y);
  EXPECT_EQ(x, 800 - 320 - 4);
  EXPECT_EQ(y, 600 - 240 - 22);
  x = -50, y = -50;
  AdjustWindowPosition(b, &x, &y);
  EXPECT_EQ(x, -4);
  EXPECT_EQ(y, -22);
  CloseBlitBuffer(b);
}

// The build's own list, whose order is the fall-back order the rules above
// walk: written in place first (falling to the last resort), the last
// resort second, then 3 to 10, each falling to the next.
TEST(StyleList, TheBuildsOwnStylesStandInTheirFallBackOrder) {
#if defined(_WIN32) || defined(KIVO_HAVE_SDL)
  uint32_t count = 0;
  const BlitStyle* const* list = DefaultBlitSystem()->styles(&count);
  ASSERT_EQ(count, 10u);
  constexpr uint32_t kFall = kBlitStyleWrittenInPlace | kBlitStyleFallsToLastResort | kBlitStyleLastResort;
  for (uint32_t i = 0; i < count; ++i) {
    EXPECT_EQ(list[i]->number, int32_t(i + 1)) << list[i]->name;
    const uint32_t expected = i == 0   ? kBlitStyleWrittenInPlace | kBlitStyleFallsToLastResort
                              : i == 1 ? kBlitStyleLastResort
                                       : 0;
    EXPECT_EQ(list[i]->capabilities & kFall, expected) << list[i]->name;
  }
#else
  GTEST_SKIP() << "this build has only the memory style";
#endif
}

}  // namespace
}  // namespace kivo
