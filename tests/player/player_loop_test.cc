// SPDX-License-Identifier: BSD-2-Clause
// The player driven whole through the stand-in shell on the virtual clock:
// loops and list passes, the keys, focus, the logo and the exit codes.
#include <gtest/gtest.h>

#include "display/blit_buffer.h"
#include "movie/movie.h"
#include "player_fixture.h"

namespace kivo::test {
namespace {

using Runs = std::vector<std::pair<std::string, int>>;
const char kLogo[] = "224x252";

class PlayerLoop : public ::testing::Test {
 protected:
  PlayerScope scope;
  FakeShell shell;
  std::string a = MovieFile("loop_a.kiv", 10, 64, 48);
  std::string b = MovieFile("loop_b.kiv", 6, 80, 48);
  std::string c = MovieFile("loop_c.kiv", 4, 96, 48);
};

// The logo's frame is shown again and again; only its first place matters.
Runs WithoutLogoRepeats(Runs runs) {
  if (!runs.empty() && runs.back().first == kLogo) runs.back().second = 1;
  return runs;
}

TEST_F(PlayerLoop, OneMovieLoopsThenTheLogoThenExitCodeZero) {
  EXPECT_EQ(RunWithArguments(shell, {a, "/L2"}), 0);
  EXPECT_EQ(WithoutLogoRepeats(FrameRuns()), (Runs{{"64x48", 20}, {kLogo, 1}}));
  EXPECT_EQ(shell.destroyCalls, 1);
  // The logo stays for 2250 ms after the last frame (at 25 frames a second).
  EXPECT_GE(shell.destroyedAtMs, 20u * 40 + kLogoMs - 40);
  EXPECT_LE(shell.destroyedAtMs, 20u * 40 + kLogoMs + 60);
  EXPECT_TRUE(shell.boxes.empty());
}

TEST_F(PlayerLoop, ListModeLoopsTheWholeListOneMovieAPass) {
  EXPECT_EQ(RunWithArguments(shell, {a, b, "/L2"}), 0);
  EXPECT_EQ(WithoutLogoRepeats(FrameRuns()),
            (Runs{{"64x48", 10}, {"80x48", 6}, {"64x48", 10}, {"80x48", 6}, {kLogo, 1}}));
}

TEST_F(PlayerLoop, EndlessListRepeatsUntilEscThenShowsTheLogo) {
  shell.events.push_back(AfterFrames(16 * 3 + 5, Key(27)));
  EXPECT_EQ(RunWithArguments(shell, {a, b, "/L"}), 0);
  const Runs runs = WithoutLogoRepeats(FrameRuns());
  ASSERT_EQ(runs.size(), 8u);
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(runs[i].first, i % 2 ? "80x48" : "64x48");
  EXPECT_EQ(runs[6], (std::pair<std::string, int>{"64x48", 5}));
  EXPECT_EQ(runs[7].first, kLogo);
}

TEST_F(PlayerLoop, SkipGoesToTheNextMovieAndDoesNothingDuringTheLogo) {
  shell.events.push_back(AfterFrames(3, Key('.')));
  shell.events.push_back(InLogo(Key('.'), 100));
  EXPECT_EQ(RunWithArguments(shell, {a, b, c}), 0);
  EXPECT_EQ(WithoutLogoRepeats(FrameRuns()), (Runs{{"64x48", 3}, {"80x48", 6}, {"96x48", 4}, {kLogo, 1}}));
  const uint32_t moviesMs = 13 * 40;
  EXPECT_GE(shell.destroyedAtMs, moviesMs + kLogoMs - 40);
}

TEST_F(PlayerLoop, EscTwiceEndsBeforeTheLogoTimeIsUp) {
  shell.events.push_back(AfterFrames(4, Key(27)));
  shell.events.push_back(InLogo(Key(27), 300));
  EXPECT_EQ(RunWithArguments(shell, {a, b}), 0);
  const Runs runs = WithoutLogoRepeats(FrameRuns());
  EXPECT_EQ(runs, (Runs{{"64x48", 4}, {kLogo, 1}}));
  EXPECT_LT(shell.destroyedAtMs, 4u * 40 + 300 + 100);
}

TEST_F(PlayerLoop, DisabledControlsLeaveOnlyTheWindowsOwnClose) {
  for (uint32_t key : {uint32_t(' '), 13u, uint32_t('.'), 27u}) shell.events.push_back(AfterFrames(2, Key(key)));
  shell.events.push_back(AfterFrames(7, [](Player* p) { PlayerOnQuit(p); }));
  EXPECT_EQ(RunWithArguments(shell, {a, b, "/U7"}), 0);
  // Nothing paused or skipped; closing from outside ends at once, no logo.
  EXPECT_EQ(FrameRuns(), (Runs{{"64x48", 7}}));
  EXPECT_EQ(LastPlayer().userPaused, 0);
  EXPECT_EQ(shell.destroyCalls, 0);
}

TEST_F(PlayerLoop, LosingTheFocusPausesUnlessIgnoredAndComingBackResumes) {
  int32_t pausedWhileAway = -1;
  shell.events.push_back(AfterFrames(3, [](Player* p) { PlayerOnFocus(p, false); }));
  shell.events.push_back(AtMs(1000, [&](Player* p) {
    pausedWhileAway = p->movie->paused;
    PlayerOnFocus(p, true);
  }));
  EXPECT_EQ(RunWithArguments(shell, {a}), 0);
  EXPECT_EQ(pausedWhileAway, 1);
  EXPECT_EQ(WithoutLogoRepeats(FrameRuns()), (Runs{{"64x48", 10}, {kLogo, 1}}));
  // The time away is added to the playing time.
  EXPECT_GE(shell.destroyedAtMs, 1000u + 7 * 40 + kLogoMs - 40);

  FakeShell ignoring;
  Display().frames.clear();
  ignoring.events.push_back(AfterFrames(3, [](Player* p) { PlayerOnFocus(p, false); }));
  ignoring.events.push_back(AfterFrames(4, [&](Player* p) { pausedWhileAway = p->movie->paused; }));
  EXPECT_EQ(RunWithArguments(ignoring, {a, "/J"}), 0);
  EXPECT_EQ(pausedWhileAway, 0);
  EXPECT_LE(ignoring.destroyedAtMs, 10u * 40 + kLogoMs + 60);
}

TEST_F(PlayerLoop, ComingBackKeepsAUserPauseAndEnterStepsOneFrame) {
  uint32_t framesWhilePaused = 0;
  int32_t pausedAfterFocus = -1;
  shell.events.push_back(AfterFrames(2, Key(' ')));
  shell.events.push_back(AtMs(300, [](Player* p) { PlayerOnFocus(p, false); }));
  shell.events.push_back(AtMs(400, [&](Player* p) {
    PlayerOnFocus(p, true);
    pausedAfterFocus = p->movie->paused;
    framesWhilePaused = uint32_t(Display().frames.size());
  }));
  shell.events.push_back(AtMs(500, Key(13)));
  shell.events.push_back(AtMs(700, [&](Player*) { framesWhilePaused = uint32_t(Display().frames.size()) - framesWhilePaused; }));
  shell.events.push_back(AtMs(800, Key(' ')));
  EXPECT_EQ(RunWithArguments(shell, {a}), 0);
  EXPECT_EQ(pausedAfterFocus, 1);
  EXPECT_EQ(framesWhilePaused, 1u);
  EXPECT_EQ(WithoutLogoRepeats(FrameRuns()), (Runs{{"64x48", 10}, {kLogo, 1}}));
}

TEST_F(PlayerLoop, ClickOnTheLogoOpensThePageAndNowhereElse) {
  shell.events.push_back(AfterFrames(2, [](Player* p) {
    p->logoPageAddress = "https://kivo.test/?from=kivoplay";
    PlayerOnLeftButtonUp(p);
  }));
  shell.events.push_back(InLogo([](Player* p) { PlayerOnLeftButtonUp(p); }, 50));
  EXPECT_EQ(RunWithArguments(shell, {a}), 0);
  EXPECT_EQ(shell.pages, std::vector<std::string>{"https://kivo.test/?from=kivoplay"});

  // Built without an address, the logo is not a link.
  FakeShell plain;
  plain.events.push_back(AfterFrames(2, [](Player* p) { p->logoPageAddress = ""; }));
  plain.events.push_back(InLogo([](Player* p) { PlayerOnLeftButtonUp(p); }, 50));
  EXPECT_EQ(RunWithArguments(plain, {a}), 0);
  EXPECT_TRUE(plain.pages.empty());
}

TEST_F(PlayerLoop, SummaryBoxOnlyWithFramesPlayed) {
  EXPECT_EQ(RunWithArguments(shell, {a, "/S"}), 0);
  ASSERT_EQ(shell.boxes.size(), 1u);
  EXPECT_EQ(shell.boxes[0].caption, "Kivo Playback Summary");
  EXPECT_EQ(shell.boxes[0].kind, kBoxInformation);
  EXPECT_EQ(shell.boxes[0].owned, 0);
  EXPECT_EQ(shell.boxes[0].text.rfind("Video: 64 x 48 at 25.0 frames/sec\nTotal frames: 10\n\nTotal frames played: 10\n", 0),
            0u);
  EXPECT_NE(shell.boxes[0].text.find("\nBlitting style: Fake buffer\nVideo mode: 1024 x 768 at 32 bits\n"),
            std::string::npos);

  // Esc before the first frame: nothing was played, so there is no summary.
  FakeShell early;
  early.events.push_back(AtMs(0, Key(27)));
  EXPECT_EQ(RunWithArguments(early, {a, "/S"}), 0);
  EXPECT_TRUE(early.boxes.empty());
}

}  // namespace
}  // namespace kivo::test
