// SPDX-License-Identifier: BSD-2-Clause
// Display-mode changes: candidate depths in order, the width-and-height-only
// last try, the one-shot request, and restoring when the last user closes.
#include <gtest/gtest.h>

#include "display/blit_buffer.h"
#include "display/display_mode.h"
#include "display/fake_system.h"

namespace kivo {
namespace {

using testing::FakeMode;
using testing::FakeSystemScope;

void* const kWindow = reinterpret_cast<void*>(0x1000);

class DisplayMode : public ::testing::Test {
 protected:
  void SetUp() override {
    m().offered[3] = true;
    m().opens[3] = true;
  }
  void TearDown() override { ClearDisplayModeRequest(); }
  testing::FakeMachine& m() { return scope.machine(); }
  BlitBuffer* OpenChanging(uint32_t style = 3) {
    return OpenBlitBuffer(kWindow, 320, 240, style | kBlitOpenChangeMode);
  }
  FakeSystemScope scope;
};

TEST_F(DisplayMode, CandidateDepthsPerCode) {
  uint32_t d[3];
  ASSERT_EQ(DepthCandidates(1, d), 3u);
  EXPECT_EQ((std::vector<uint32_t>{d[0], d[1], d[2]}), (std::vector<uint32_t>{16, 32, 24}));
  ASSERT_EQ(DepthCandidates(2, d), 3u);
  EXPECT_EQ((std::vector<uint32_t>{d[0], d[1], d[2]}), (std::vector<uint32_t>{32, 24, 16}));
  ASSERT_EQ(DepthCandidates(3, d), 2u);
  EXPECT_EQ((std::vector<uint32_t>{d[0], d[1]}), (std::vector<uint32_t>{32, 24}));
  for (uint32_t exact : {8u, 16u, 24u, 32u}) {
    ASSERT_EQ(DepthCandidates(exact, d), 1u);
    EXPECT_EQ(d[0], exact);
  }
  EXPECT_EQ(DepthCandidates(15, d), 0u);

  uint32_t w, h, code;
  ASSERT_TRUE(DisplayModeFromSwitch(8, &w, &h, &code));
  EXPECT_EQ(w, 640u);
  EXPECT_EQ(h, 480u);
  EXPECT_EQ(code, 16u);
  ASSERT_TRUE(DisplayModeFromSwitch(613, &w, &h, &code));
  EXPECT_EQ(w, 1280u);
  EXPECT_EQ(h, 1024u);
  EXPECT_EQ(code, 3u);
  ASSERT_TRUE(DisplayModeFromSwitch(301, &w, &h, &code));
  EXPECT_EQ(code, 8u);
  EXPECT_FALSE(DisplayModeFromSwitch(14, &w, &h, &code));
  EXPECT_FALSE(DisplayModeFromSwitch(700 + 8, &w, &h, &code));
  EXPECT_FALSE(DisplayModeFromSwitch(100, &w, &h, &code));
}

TEST_F(DisplayMode, TrueColourFirstEndsInTheOnlyDepthOffered) {
  m().modes = {FakeMode{640, 480, 16}};
  SetDisplayModeRequest(640, 480, kDepthTrueColourFirst);
  BlitBuffer* b = OpenChanging();
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(m().modeCalls,
            (std::vector<std::string>{"set 640x480x32", "set 640x480x24", "set 640x480x16"}));
  EXPECT_EQ(b->screenWidth, 640u);
  EXPECT_EQ(b->screenBits, 16u);
  EXPECT_TRUE(DisplayModeChanged());
  CloseBlitBuffer(b);
  EXPECT_EQ(m().modeCalls.back(), "restore");
  EXPECT_FALSE(DisplayModeChanged());
  EXPECT_EQ(DisplayModeUsers(), 0u);
}

TEST_F(DisplayMode, TrueColourOnlyFallsBackToSizeAlone) {
  m().modes = {FakeMode{640, 480, 16}};
  SetDisplayModeRequest(640, 480, kDepthTrueColourOnly);
  BlitBuffer* b = OpenChanging();
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(m().modeCalls,
            (std::vector<std::string>{"set 640x480x32", "set 640x480x24", "set 640x480x0"}));
  EXPECT_EQ(b->screenBits, 16u);
  CloseBlitBuffer(b);

  // A depth that lands elsewhere is undone before the next candidate.
  m().modeCalls.clear();
  m().modes = {FakeMode{640, 480, 24}};
  m().reportedBitsOverride = 32;
  SetDisplayModeRequest(640, 480, 24);
  b = OpenChanging();
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(m().modeCalls,
            (std::vector<std::string>{"set 640x480x24", "restore", "set 640x480x0"}));
  CloseBlitBuffer(b);
}

TEST_F(DisplayMode, TheRequestIsOneShotAndNeedsTheFlag) {
  m().modes = {FakeMode{800, 600, 32}};
  SetDisplayModeRequest(800, 600, 32);
  BlitBuffer* b = OpenBlitBuffer(kWindow, 320, 240, 3);   // no mode-change flag
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(m().modeCalls.empty());
  EXPECT_EQ(DisplayModeUsers(), 1u);   // counted all the same
  CloseBlitBuffer(b);
  EXPECT_TRUE(m().modeCalls.empty());   // nothing changed, nothing restored

  b = OpenChanging();
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(m().modeCalls, (std::vector<std::string>{"set 800x600x32"}));
  BlitBuffer* again = OpenChanging();   // the request was used up
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(m().modeCalls.size(), 1u);
  CloseBlitBuffer(again);
  CloseBlitBuffer(b);

  // Incomplete requests are no requests.
  m().modeCalls.clear();
  SetDisplayModeRequest(800, 600, 0);
  b = OpenChanging();
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(m().modeCalls.empty());
  CloseBlitBuffer(b);
}

TEST_F(DisplayMode, RestoredWhenTheLastUserCloses) {
  m().modes = {FakeMode{640, 480, 32}};
  SetDisplayModeRequest(640, 480, 32);
  BlitBuffer* first = OpenChanging();
  BlitBuffer* second = OpenBlitBuffer(kWindow, 320, 240, 2);   // compatible style, counted too
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(DisplayModeUsers(), 2u);
  CloseBlitBuffer(first);
  EXPECT_EQ(m().modeCalls.back(), "set 640x480x32");
  EXPECT_EQ(m().current.width, 640u);
  CloseBlitBuffer(second);
  EXPECT_EQ(m().modeCalls.back(), "restore");
  EXPECT_EQ(m().current.width, 1024u);
}

TEST_F(DisplayMode, AFailedOpenGivesTheModeBack) {
  m().modes = {FakeMode{640, 480, 32}};
  m().opens[3] = false;
  SetDisplayModeRequest(640, 480, 32);
  EXPECT_EQ(OpenChanging(), nullptr);
  EXPECT_EQ(m().modeCalls, (std::vector<std::string>{"set 640x480x32", "restore"}));
  EXPECT_EQ(DisplayModeUsers(), 0u);

  // Through the compatible style, which changes the mode first.
  m().modeCalls.clear();
  m().fallbackOpens = false;
  SetDisplayModeRequest(640, 480, 32);
  EXPECT_EQ(OpenChanging(2), nullptr);
  EXPECT_EQ(m().modeCalls, (std::vector<std::string>{"set 640x480x32", "restore"}));
  EXPECT_STREQ(GetBlitBufferError(), "No capable blitting style available.");
}

}  // namespace
}  // namespace kivo
