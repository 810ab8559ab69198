// SPDX-License-Identifier: BSD-2-Clause
// The player's window and display buffer: every failure with its box and
// exit code, what does not fit in the working line, the old-buffer retry, the decoder's doubling in place of a
// stretch, centring and placement, the statistics band, the logo's buffer,
// and no allocation while frames play.
#include <gtest/gtest.h>

#include <cstring>

#include "base/error_text.h"
#include "base/memory.h"
#include "display/blit_buffer.h"
#include "movie/movie.h"
#include "player_fixture.h"
#include "support/test_movies.h"

namespace kivo::test {
namespace {

class PlayerWindow : public ::testing::Test {
 protected:
  PlayerScope scope;
  FakeShell shell;
  std::string small = MovieFile("window_small.kiv", 5, 64, 48);
};

void ExpectOneError(const FakeShell& shell, const std::string& text, const char* caption) {
  ASSERT_EQ(shell.boxes.size(), 1u);
  EXPECT_EQ(shell.boxes[0].text, text);
  EXPECT_EQ(shell.boxes[0].caption, caption);
  EXPECT_EQ(shell.boxes[0].kind, kBoxError);
  EXPECT_EQ(shell.boxes[0].owned, 0);
}

TEST_F(PlayerWindow, EveryFailureShowsItsTextAndEndsWithCodeOne) {
  {
    FakeShell s;
    s.createResult = kWindowClassFailed;
    EXPECT_EQ(RunWithArguments(s, {small}), 1);
    EXPECT_TRUE(s.boxes.empty());
  }
  {
    FakeShell s;
    s.createResult = kWindowFailed;
    EXPECT_EQ(RunWithArguments(s, {small}), 1);
    ExpectOneError(s, "Error creating window.", "Windows");
    EXPECT_TRUE(Display().frames.empty());
  }
  {
    // The start of the program file holds no movie.
    FakeShell s;
    EXPECT_EQ(RunWithArguments(s, {":0"}), 1);
    ExpectOneError(s, "Not a Kivo file.", "Kivo Error");
    EXPECT_EQ(s.destroyCalls, 1);
  }
  {
    FakeShell s;
    s.programPath = TestFolder() + "/no_such_program";
    EXPECT_EQ(RunWithArguments(s, {":4096"}), 1);
    ExpectOneError(s, "Error opening EXE file.", "Kivo Error");
  }
  {
    FakeShell s;
    s.programPathFails = true;
    EXPECT_EQ(RunWithArguments(s, {":4096"}), 1);
    ExpectOneError(s, "Error opening EXE file.", "Kivo Error");
  }
  {
    FakeShell s;
    EXPECT_EQ(RunWithArguments(s, {TestFolder() + "/no_such_file|100"}), 1);
    ExpectOneError(s, "Error opening file.", "Kivo Error");
  }
  {
    FakeShell s;
    EXPECT_EQ(RunWithArguments(s, {TestFolder() + "/no_such_movie"}), 1);
    ASSERT_EQ(s.boxes.size(), 1u);
    EXPECT_EQ(s.boxes[0].text, GetErrorText());
    EXPECT_FALSE(s.boxes[0].text.empty());
    EXPECT_EQ(s.boxes[0].caption, "Kivo Error");
  }
  {
    FakeShell s;
    Display().refuse = true;
    EXPECT_EQ(RunWithArguments(s, {small}), 1);
    ExpectOneError(s, "The fake display refused the buffer.", "Kivo Error");
    EXPECT_EQ(s.destroyCalls, 1);
    Display().refuse = false;
  }
  {
    // A failure further down the list: what played stays played, nothing more.
    FakeShell s;
    Display().frames.clear();
    EXPECT_EQ(RunWithArguments(s, {small, TestFolder() + "/no_such_movie", small}), 1);
    EXPECT_EQ(FrameRuns(), (std::vector<std::pair<std::string, int>>{{"64x48", 5}}));
    EXPECT_EQ(s.boxes.size(), 1u);
  }
}

TEST_F(PlayerWindow, MoviesInsideAFileOpenAtTheirOffset) {
  // Two movies one after the other behind a stretch of other bytes.
  std::vector<uint8_t> bytes(1000, 0x5A);
  const std::vector<uint8_t> first = FillerMovie(3, 64, 48), second = FillerMovie(4, 80, 48);
  bytes.insert(bytes.end(), first.begin(), first.end());
  const size_t secondAt = bytes.size();
  bytes.insert(bytes.end(), second.begin(), second.end());
  const std::string path = WriteTestFile("window_bundle.bin", bytes);
  EXPECT_EQ(RunWithArguments(shell, {path + "|1000", path + "|" + std::to_string(secondAt)}), 0);
  const auto runs = FrameRuns();
  ASSERT_GE(runs.size(), 2u);
  EXPECT_EQ(runs[0], (std::pair<std::string, int>{"64x48", 3}));
  EXPECT_EQ(runs[1], (std::pair<std::string, int>{"80x48", 4}));
}

TEST_F(PlayerWindow, TheNextBufferIsTriedAgainOnceTheOldOneIsClosed) {
  Display().maxOpenBuffers = 1;
  const std::string other = MovieFile("window_other.kiv", 3, 80, 48);
  EXPECT_EQ(RunWithArguments(shell, {small, other}), 0);
  const auto runs = FrameRuns();
  ASSERT_GE(runs.size(), 2u);
  EXPECT_EQ(runs[1], (std::pair<std::string, int>{"80x48", 3}));
  EXPECT_TRUE(shell.boxes.empty());
  EXPECT_EQ(Display().openBuffers, 0);
}

struct Doubling {
  std::vector<std::string> switches;
  uint32_t mode, width, height;
  uint32_t stretchBits;  // left in bufferFlags
  uint32_t blitWidth, blitHeight;
};

TEST_F(PlayerWindow, StretchOfExactlyTwiceBecomesTheDecodersDoubling) {
  const std::string vga = MovieFile("window_vga.kiv", 2, 640, 480);
  const Doubling cases[] = {
      {{vga, "/W1280", "/H960"}, 4, 1280, 960, 0, 1280, 960},
      {{small, "/W-2", "/H-2"}, 4, 128, 96, 0, 128, 96},
      {{small, "/H96"}, 1, 64, 96, 0, 64, 96},
      {{small, "/W128"}, 3, 128, 48, 0, 128, 48},
      // Three times is the buffer's stretch, not the decoder's.
      {{small, "/W-3"}, 0, 64, 48, kStretchEnlargeXInteger, 192, 48},
      // A movie with a display mode of its own keeps it.
      {{small, "/A1", "/W-2"}, 1, 64, 96, kStretchEnlargeXInteger, 128, 96},
  };
  for (const Doubling& d : cases) {
    SCOPED_TRACE(d.switches[1]);
    FakeShell s;
    uint32_t mode = 99, width = 0, height = 0, bits = 1, blitWidth = 0, blitHeight = 0;
    s.events.push_back(AfterFrames(uint32_t(Display().frames.size()) + 1, [&](Player* p) {
      mode = (p->movie->openFlags & kOpenModeMask) >> kOpenModeShift;
      width = p->movie->width;
      height = p->movie->height;
      bits = p->settings.bufferFlags & 0xFF000000u;
      blitWidth = p->buffer->blitWidth;
      blitHeight = p->buffer->blitHeight;
    }));
    EXPECT_EQ(RunWithArguments(s, d.switches), 0);
    EXPECT_EQ(mode, d.mode);
    EXPECT_EQ(width, d.width);
    EXPECT_EQ(height, d.height);
    EXPECT_EQ(bits, d.stretchBits);
    EXPECT_EQ(blitWidth, d.blitWidth);
    EXPECT_EQ(blitHeight, d.blitHeight);
  }
}

TEST_F(PlayerWindow, EachMovieHasOnlyItsOwnStretchKind) {
  const std::string narrow = MovieFile("window_narrow.kiv", 2, 96, 48);
  const std::string exact = MovieFile("window_exact.kiv", 2, 128, 48);
  std::vector<uint32_t> bits;
  shell.onPoll = [&](const Player& p) {
    if (p.movie && !p.logoMode && (bits.empty() || bits.size() < 2)) {
      const uint32_t b = p.settings.bufferFlags & 0xFF000000u;
      if (bits.empty() || p.movie->width != 96) bits.push_back(b);
    }
  };
  EXPECT_EQ(RunWithArguments(shell, {narrow, exact, "/W128"}), 0);
  ASSERT_EQ(bits.size(), 2u);
  EXPECT_EQ(bits[0], kStretchEnlargeX);  // 96 to 128
  EXPECT_EQ(bits[1], 0u);                // 128 is the movie's own width
}

TEST_F(PlayerWindow, InterlacedModesPaintBlackUnderThePicture) {
  FakeShell plain, interlaced;
  EXPECT_EQ(RunWithArguments(plain, {small}), 0);
  EXPECT_EQ(RunWithArguments(interlaced, {small, "/A2"}), 0);
  EXPECT_EQ(plain.invalidations, 0);
  EXPECT_EQ(interlaced.invalidations, 1);
}

// The Windows program's working line holds 1024 characters: what does not
// fit is said before playing, not dropped silently.
TEST_F(PlayerWindow, WhatDoesNotFitInTheWorkingLineIsSaid) {
  std::string line;
  for (int i = 0; line.size() < 1500; ++i) line += ":" + std::to_string(1000000 + i) + " ";
  static Player program;
  const PlayerShell table = shell.Table();
  EXPECT_EQ(RunPlayerProgram(&program, table, line.c_str(), 1024, 768), 1);
  ASSERT_EQ(shell.boxes.size(), 2u);
  EXPECT_EQ(shell.boxes[0].text.rfind(std::string(kLeftOutText) + "\n:", 0), 0u) << shell.boxes[0].text;
  // Every entry is either in the line (the first fails to open) or said.
  const std::string said = shell.boxes[0].text.substr(strlen(kLeftOutText) + 1);
  EXPECT_EQ(line.substr(line.size() - said.size() - 1), said + " ");
  EXPECT_LE(line.size() - said.size(), size_t(kCommandLineSize));
  EXPECT_EQ(shell.boxes[1].caption, kErrorCaption);
}

TEST(PlayerPlacement, CentringRoundsAcrossToFourAndKeepsWideWindowsAtTheLeftEdge) {
  EXPECT_EQ(CentredPosition(1024, 78, 4, true), 472);   // 473 rounded down
  EXPECT_EQ(CentredPosition(768, 75, 22, false), 346);  // not rounded
  EXPECT_EQ(CentredPosition(640, 648, 4, true), -4);    // the picture at the screen's edge
  EXPECT_EQ(CentredPosition(640, 640, 4, true), 0);
}

TEST_F(PlayerWindow, WindowIsCentredPlacedOrCoversTheScreen) {
  const std::string odd = MovieFile("window_odd.kiv", 2, 70, 49);
  {
    FakeShell s;
    EXPECT_EQ(RunWithArguments(s, {odd}), 0);
    ASSERT_FALSE(s.placements.empty());
    const Placement& p = s.placements[0];
    EXPECT_EQ(p.x, 472);
    EXPECT_EQ(p.y, 346);
    EXPECT_EQ(p.width, 78);
    EXPECT_EQ(p.height, 75);
  }
  {
    FakeShell s;
    EXPECT_EQ(RunWithArguments(s, {small, "/X10", "/Y20"}), 0);
    ASSERT_FALSE(s.placements.empty());
    EXPECT_EQ(s.placements[0].x, 10);
    EXPECT_EQ(s.placements[0].y, 20);
  }
  {
    FakeShell s;
    int32_t pictureX = 0, pictureY = 0, destinationX = 0;
    s.events.push_back(AfterFrames(uint32_t(Display().frames.size()) + 1, [&](Player* p) {
      pictureX = p->pictureX;
      pictureY = p->pictureY;
      destinationX = p->buffer->destinationX;
    }));
    EXPECT_EQ(RunWithArguments(s, {small, "/R"}), 0);
    ASSERT_FALSE(s.placements.empty());
    const Placement& p = s.placements[0];
    EXPECT_EQ(p.x, -4);
    EXPECT_EQ(p.y, -22);
    EXPECT_EQ(p.width, 1024 + 8);
    EXPECT_EQ(p.height, 768 + 26);
    EXPECT_EQ(pictureX, 476);
    EXPECT_EQ(pictureY, 347);
    EXPECT_EQ(destinationX, 476);
    EXPECT_EQ(s.request.dialogFrame, 0);  // /R means the window style without frame
  }
}

TEST_F(PlayerWindow, TheNextMovieOpensWhereTheWindowWasMovedTo) {
  const std::string other = MovieFile("window_next.kiv", 2, 80, 48);
  shell.cornerX = 200;
  shell.cornerY = 150;
  EXPECT_EQ(RunWithArguments(shell, {small, other}), 0);
  ASSERT_GE(shell.placements.size(), 2u);
  EXPECT_EQ(shell.placements[1].x, 200);
  EXPECT_EQ(shell.placements[1].y, 150);
  EXPECT_EQ(shell.placements[1].width, 88);
}

TEST_F(PlayerWindow, StatisticsBandWidensTheWindowAndSitsAboveThePicture) {
  int32_t pictureX = 0, pictureY = 0;
  shell.events.push_back(AfterFrames(1, [&](Player* p) {
    pictureX = p->pictureX;
    pictureY = p->pictureY;
  }));
  shell.textWidth = 602;
  EXPECT_EQ(RunWithArguments(shell, {small, "/Q"}), 0);
  ASSERT_FALSE(shell.placements.empty());
  EXPECT_EQ(shell.placements[0].width, 610);     // the sample text plus 8
  EXPECT_EQ(shell.placements[0].height, 74 + 16);
  EXPECT_EQ(pictureX, 268);                      // 269 rounded down to 4
  EXPECT_EQ(pictureY, 16);
  EXPECT_EQ(shell.lastBand.left, 0);
  EXPECT_EQ(shell.lastBand.top, 0);
  EXPECT_EQ(shell.lastBand.right, 610);
  EXPECT_EQ(shell.lastBand.bottom, 16);
  // One line per frame of the movie, none during the logo.
  ASSERT_EQ(shell.texts.size(), 5u);
  EXPECT_EQ(shell.texts[0].rfind("Fr: 1, FPS: ", 0), 0u);
  EXPECT_EQ(shell.texts[4].rfind("Fr: 5, FPS: ", 0), 0u);
}

TEST_F(PlayerWindow, TheLogoGetsABufferOfItsOwnOnlyWhenThePictureIsSmaller) {
  {
    FakeShell s;
    EXPECT_EQ(RunWithArguments(s, {small}), 0);
    ASSERT_EQ(s.placements.size(), 2u);
    EXPECT_EQ(s.placements[1].x, (1024 - 224) / 2);
    EXPECT_EQ(s.placements[1].y, (768 - 252) / 2);
    EXPECT_EQ(s.placements[1].width, 224 + 8);
    EXPECT_EQ(s.placements[1].height, 252 + 26);
    EXPECT_EQ(FrameRuns().back().first, "224x252");
  }
  {
    const std::string big = MovieFile("window_big.kiv", 2, 320, 300);
    FakeShell s;
    Display().frames.clear();
    EXPECT_EQ(RunWithArguments(s, {big}), 0);
    EXPECT_EQ(s.placements.size(), 1u);
    // Shown in the movie's buffer, centred where the movie was.
    EXPECT_EQ(FrameRuns().back().first, "320x300");
    EXPECT_EQ(LastPlayer().pictureX, (320 - 224) / 2);
    EXPECT_EQ(LastPlayer().pictureY, (300 - 252) / 2);
  }
  {
    // Wider but not as high as the logo: a new buffer too.
    const std::string wide = MovieFile("window_wide.kiv", 2, 320, 200);
    FakeShell s;
    Display().frames.clear();
    EXPECT_EQ(RunWithArguments(s, {wide}), 0);
    EXPECT_EQ(s.placements.size(), 2u);
    EXPECT_EQ(FrameRuns().back().first, "224x252");
  }
  {
    // A changed display mode too small for the logo is given up for it.
    FakeShell s;
    Display().screenWidth = 320;
    Display().screenHeight = 200;
    EXPECT_EQ(RunWithArguments(s, {small, "/D1", "/R"}), 0);
    EXPECT_EQ(LastPlayer().settings.fillScreen, 0);
    EXPECT_EQ(LastPlayer().settings.bufferFlags & kPlayerBufferModeChange, 0u);
    ASSERT_EQ(s.placements.size(), 2u);
    EXPECT_EQ(s.placements[1].x, (320 - 224) / 2);
  }
}

TEST_F(PlayerWindow, NothingIsAllocatedWhileFramesPlay) {
  const std::string longer = MovieFile("window_long.kiv", 30, 64, 48);
  uint32_t atFrame3 = 0, atFrame25 = 0;
  shell.events.push_back(AfterFrames(3, [&](Player*) { atFrame3 = MemAllocCount(); }));
  shell.events.push_back(AfterFrames(25, [&](Player*) { atFrame25 = MemAllocCount(); }));
  EXPECT_EQ(RunWithArguments(shell, {longer, "/Q"}), 0);
  EXPECT_NE(atFrame3, 0u);
  EXPECT_EQ(atFrame25, atFrame3);
}

}  // namespace
}  // namespace kivo::test
