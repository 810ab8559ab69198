// SPDX-License-Identifier: BSD-2-Clause
// The version-check offer: the date texts, when it asks, the stored date
// written before the question, Yes ending the player, and how the main loop
// calls it for movies named by path only.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "player/command_line.h"
#include "player/version_check.h"
#include "player/e2e_support.h"
#include "player_fixture.h"
#include "support/test_movies.h"

namespace kivo {
namespace {

std::string WeekAgo(int y, int m, int d) {
  char t[kDateTextSize];
  WeekAgoText(t, os::LocalDate{y, m, d});
  return t;
}

std::string TwoMonthsAgo(int y, int m, int d) {
  char t[kDateTextSize];
  TwoMonthsAgoText(t, os::LocalDate{y, m, d});
  return t;
}

TEST(VersionCheckDates, MonthsAreThirtyDaysAndDaysAreKept) {
  EXPECT_EQ(WeekAgo(2024, 3, 5), "2024-02-28");
  EXPECT_EQ(WeekAgo(2024, 1, 3), "2023-12-26");
  EXPECT_EQ(WeekAgo(2024, 3, 7), "2024-02-30");
  EXPECT_EQ(WeekAgo(2024, 8, 7), "2024-07-30");
  EXPECT_EQ(WeekAgo(2024, 8, 8), "2024-08-01");
  EXPECT_EQ(TwoMonthsAgo(2024, 2, 10), "2023-12-10");
  EXPECT_EQ(TwoMonthsAgo(2024, 1, 31), "2023-11-31");
  EXPECT_EQ(TwoMonthsAgo(2024, 4, 30), "2024-02-30");
}

// Services over a stored date in memory, a chosen day and scripted answers.
struct Harness {
  static constexpr char kPage[] = "https://kivo.example.org/scripts/kivover.asp?ver=1.5a";
  os::LocalDate today{2024, 5, 20};
  std::string stored;  // empty: no key
  std::vector<std::string> writes;
  std::vector<std::string> storedWhenAsked;
  std::vector<std::string> pages;
  std::vector<uint32_t> sleeps;
  bool yes = false;
  int questions = 0;

  VersionCheckServices Services(const char* buildDate) {
    VersionCheckServices s{};
    s.buildDate = buildDate;
    // Its own page, whatever address the build was given.
    s.pageAddress = kPage;
    s.context = this;
    s.askContext = this;
    s.today = [](void* c) { return static_cast<Harness*>(c)->today; };
    s.readStored = [](void* c, const char* fallback, char* out, uint32_t size) {
      auto* h = static_cast<Harness*>(c);
      snprintf(out, size, "%s", h->stored.empty() ? fallback : h->stored.c_str());
      return uint32_t(strlen(out));
    };
    s.writeStored = [](void* c, const char* value) {
      auto* h = static_cast<Harness*>(c);
      h->stored = value;
      h->writes.push_back(value);
    };
    s.askYesNo = [](void* c, const char* text, const char* caption) {
      auto* h = static_cast<Harness*>(c);
      ++h->questions;
      h->storedWhenAsked.push_back(h->stored);
      EXPECT_STREQ(caption, "New version check...");
      EXPECT_EQ(std::string(text).rfind("It's been a while since you checked", 0), 0u);
      return h->yes;
    };
    s.openPage = [](void* c, const char* url) { static_cast<Harness*>(c)->pages.push_back(url); };
    s.sleepMs = [](void* c, uint32_t ms) { static_cast<Harness*>(c)->sleeps.push_back(ms); };
    return s;
  }
};

TEST(VersionCheck, AsksOnlyForAnOldBuildAndAnOldStoredDate) {
  {
    Harness h;  // build two months and a day old, no key: asks
    EXPECT_EQ(RunVersionCheck(h.Services("2024-03-19")), kVersionGoOn);
    EXPECT_EQ(h.questions, 1);
  }
  {
    Harness h;  // exactly two months old: never asks
    h.stored = "1999-01-01";
    EXPECT_EQ(RunVersionCheck(h.Services("2024-03-20")), kVersionGoOn);
    EXPECT_EQ(h.questions, 0);
    EXPECT_TRUE(h.writes.empty());
  }
  {
    Harness h;  // checked exactly a week ago: not yet
    h.stored = "2024-05-13";
    EXPECT_EQ(RunVersionCheck(h.Services(kBuildDate)), kVersionGoOn);
    EXPECT_EQ(h.questions, 0);
  }
  {
    Harness h;  // a stored value that is no date sorts like any text
    h.stored = "0-garbage";
    RunVersionCheck(h.Services(kBuildDate));
    EXPECT_EQ(h.questions, 1);
  }
}

TEST(VersionCheck, TheDateIsStoredBeforeTheQuestionAndYesOpensThePage) {
  Harness no;
  EXPECT_EQ(RunVersionCheck(no.Services(kBuildDate)), kVersionGoOn);
  EXPECT_EQ(no.storedWhenAsked, (std::vector<std::string>{"2024-05-20"}));
  EXPECT_TRUE(no.pages.empty());
  // A No waits a week too.
  EXPECT_EQ(RunVersionCheck(no.Services(kBuildDate)), kVersionGoOn);
  EXPECT_EQ(no.questions, 1);

  Harness yes;
  yes.yes = true;
  EXPECT_EQ(RunVersionCheck(yes.Services(kBuildDate)), kVersionQuit);
  EXPECT_EQ(yes.pages, (std::vector<std::string>{Harness::kPage}));
  EXPECT_EQ(yes.sleeps, (std::vector<uint32_t>{250}));
  EXPECT_EQ(yes.writes.size(), 2u);  // again after the page
}

TEST(VersionCheck, ThePageIsABuildSettingAndNoPageMeansNoOffer) {
  Harness given;
  given.yes = true;
  VersionCheckServices s = given.Services(kBuildDate);
  s.pageAddress = "https://updates.example.net/kivo?v=1.5a&os=any";
  EXPECT_EQ(RunVersionCheck(s), kVersionQuit);
  EXPECT_EQ(given.pages, (std::vector<std::string>{s.pageAddress}));

  // Switched off: however old the build and the stored date, nothing is
  // asked and nothing is written.
  Harness off;
  off.yes = true;
  off.stored = "1999-01-01";
  s = off.Services("1999-01-01");
  s.pageAddress = "";
  EXPECT_EQ(RunVersionCheck(s), kVersionGoOn);
  EXPECT_EQ(off.questions, 0);
  EXPECT_TRUE(off.writes.empty());

  // Without an address of its own the check takes the build's: asked and
  // opened when the build has one, never offered when it has none.
  Harness built;
  built.yes = true;
  s = built.Services(kBuildDate);
  s.pageAddress = nullptr;
  const bool offered = VersionPageAddress()[0] != 0;
  EXPECT_EQ(RunVersionCheck(s), offered ? kVersionQuit : kVersionGoOn);
  EXPECT_EQ(built.questions, offered ? 1 : 0);
  EXPECT_EQ(built.pages, offered ? std::vector<std::string>{VersionPageAddress()} : std::vector<std::string>{});

#if !defined(_WIN32)
  // The build's address is the build setting's value.
  std::ifstream cache(e2e::BuildDir() + "/CMakeCache.txt");
  std::string line, configured = "(not in the cache)";
  while (std::getline(cache, line))
    if (line.rfind("KIVO_VERSION_CHECK_URL:", 0) == 0) configured = line.substr(line.find('=') + 1);
  EXPECT_EQ(configured, VersionPageAddress());
#endif
}

#if !defined(_WIN32)
TEST(VersionCheck, TheStoredDateGoesToTheUserProfile) {
  const std::string home = test::TestFolder() + "/version_check_home";
  const char* old = getenv("XDG_CONFIG_HOME");
  const std::string saved = old ? old : "";
  setenv("XDG_CONFIG_HOME", home.c_str(), 1);
  VersionCheckServices s = VersionCheckFromSystem();
  s.pageAddress = Harness::kPage;
  s.today = [](void*) { return os::LocalDate{2031, 7, 4}; };
  int asked = 0;
  s.askContext = &asked;
  s.askYesNo = [](void* c, const char*, const char*) {
    ++*static_cast<int*>(c);
    return false;
  };
  os::WriteProfileText(kProfileSection, kVersionCheckKey, "2031-06-01");
  EXPECT_EQ(RunVersionCheck(s), kVersionGoOn);
  char value[32];
  os::ReadProfileText(kProfileSection, kVersionCheckKey, "", value, sizeof value);
  EXPECT_STREQ(value, "2031-07-04");
  EXPECT_EQ(asked, 1);
  if (old)
    setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else
    unsetenv("XDG_CONFIG_HOME");
}
#endif

// ---- Through the main loop --------------------------------------------------

class VersionCheckInPlayer : public ::testing::Test {
 protected:
  test::PlayerScope scope;
  test::FakeShell shell;
  Harness harness;
  std::string movie = test::MovieFile("version_movie.kiv", 2, 64, 48);
};

TEST_F(VersionCheckInPlayer, TwoMoviesByPathAreAskedAboutOnce) {
  const VersionCheckServices s = harness.Services(kBuildDate);
  EXPECT_EQ(test::RunWithArguments(shell, {movie, movie + "|0"}, &s), 0);
  EXPECT_EQ(harness.questions, 1);
  EXPECT_EQ(test::FrameRuns().front(), (std::pair<std::string, int>{"64x48", 4}));  // both played
}

TEST_F(VersionCheckInPlayer, MoviesInsideTheProgramAreNeverPrecededByIt) {
  std::vector<uint8_t> program(512, 0x90);
  const std::vector<uint8_t> m = test::FillerMovie(2, 64, 48);
  program.insert(program.end(), m.begin(), m.end());
  shell.programPath = test::WriteTestFile("version_program.bin", program);
  const VersionCheckServices s = harness.Services(kBuildDate);
  EXPECT_EQ(test::RunWithArguments(shell, {":512", ":512"}, &s), 0);
  EXPECT_EQ(harness.questions, 0);
  EXPECT_EQ(test::FrameRuns().front(), (std::pair<std::string, int>{"64x48", 4}));
}

TEST_F(VersionCheckInPlayer, YesEndsThePlayerWithCodeOneBeforeAnythingPlays) {
  harness.yes = true;
  const VersionCheckServices s = harness.Services(kBuildDate);
  EXPECT_EQ(test::RunWithArguments(shell, {movie}, &s), 1);
  EXPECT_EQ(harness.pages.size(), 1u);
  EXPECT_EQ(shell.destroyCalls, 1);
  EXPECT_TRUE(test::Display().frames.empty());
  EXPECT_TRUE(shell.boxes.empty());
}

TEST_F(VersionCheckInPlayer, TheQuestionIsAskedInABoxOwnedByTheWindow) {
  // The player's own question and page go through its shell.
  VersionCheckServices s = harness.Services(kBuildDate);
  s.askYesNo = nullptr;
  s.openPage = nullptr;
  s.askContext = nullptr;
  shell.answer = kBoxAnswerYes;
  EXPECT_EQ(test::RunWithArguments(shell, {movie}, &s), 1);
  ASSERT_EQ(shell.boxes.size(), 1u);
  EXPECT_EQ(shell.boxes[0].caption, "New version check...");
  EXPECT_EQ(shell.boxes[0].kind, kBoxQuestion);
  EXPECT_EQ(shell.boxes[0].owned, 1);
  EXPECT_EQ(shell.pages, (std::vector<std::string>{"https://kivo.example.org/scripts/kivover.asp?ver=1.5a"}));
}

}  // namespace
}  // namespace kivo
