// SPDX-License-Identifier: BSD-2-Clause
// The player on a desktop's shell, on the virtual clock: the window that
// waits for dropped movies, drops while playing, names byte for byte, the
// movie in the title and in the error box, and an end asked from outside.
#include <gtest/gtest.h>

#include <filesystem>

#include "player_fixture.h"
#include "support/test_movies.h"

namespace kivo::test {
namespace {

using Runs = std::vector<std::pair<std::string, int>>;
const char kLogo[] = "224x252";

class Desktop : public ::testing::Test {
 protected:
  void SetUp() override { shell.desktop = true; }
  PlayerScope scope;
  FakeShell shell;
  std::string a = MovieFile("desk_a.kiv", 10, 64, 48);
  std::string b = MovieFile("desk_b.kiv", 6, 80, 48);
  std::string c = MovieFile("desk_c.kiv", 4, 96, 48);
};

Runs WithoutLogo(Runs runs) {
  if (!runs.empty() && runs.back().first == kLogo) runs.pop_back();
  return runs;
}

std::function<void(Player*)> Drop(const std::string& path) {
  return [path](Player* p) { PlayerOnDrop(p, path.c_str()); };
}

TEST_F(Desktop, WithoutAMovieTheWindowWaitsThenPlaysWhatIsDroppedAndNamesIt) {
  shell.events.push_back(AtMs(500, Drop(a)));
  EXPECT_EQ(RunWithArguments(shell, {}), 0);
  EXPECT_EQ(WithoutLogo(FrameRuns()), (Runs{{"64x48", 10}}));
  ASSERT_EQ(shell.dropWindows, std::vector<std::string>({"", ""}));
  ASSERT_EQ(shell.titles.size(), 2u);
  EXPECT_EQ(shell.titles[0], "Kivo Player");
  EXPECT_EQ(shell.titles[1], "desk_a.kiv \xE2\x80\x94 Kivo Player");
}

TEST_F(Desktop, DropsWhilePlayingComeAfterTheListInOrder) {
  shell.events.push_back(AfterFrames(3, [&](Player* p) {
    PlayerOnDrop(p, c.c_str());
    PlayerOnDrop(p, a.c_str());
  }));
  EXPECT_EQ(RunWithArguments(shell, {a, b}), 0);
  EXPECT_EQ(WithoutLogo(FrameRuns()), (Runs{{"64x48", 10}, {"80x48", 6}, {"96x48", 4}, {"64x48", 10}}));
  // Dropped during the logo: played instead of the end.
  FakeShell late;
  late.desktop = true;
  late.events.push_back(InLogo(Drop(b), 500));
  EXPECT_EQ(RunWithArguments(late, {a}), 0);
  EXPECT_EQ(WithoutLogo(FrameRuns()).back(), (std::pair<std::string, int>{"80x48", 6}));
}

TEST_F(Desktop, ADroppedFileThatIsNoMovieIsReportedAndTheNextOnePlays) {
  const std::string text = WriteTestFile("desk_text.kiv", std::vector<uint8_t>(64, 'x'));
  const std::string folder = TestFolder() + "/desk_folder";
  std::filesystem::create_directories(folder);
  shell.events.push_back(AtMs(0, [&](Player* p) {
    PlayerOnDrop(p, folder.c_str());
    PlayerOnDrop(p, text.c_str());
    PlayerOnDrop(p, a.c_str());
  }));
  EXPECT_EQ(RunWithArguments(shell, {}), 0);
  EXPECT_EQ(WithoutLogo(FrameRuns()), (Runs{{"64x48", 10}}));
  EXPECT_EQ(shell.reports, std::vector<std::string>({folder + ": a folder is not played; drop the movies in it",
                                                     text + ": Not a Kivo file."}));
  EXPECT_TRUE(shell.boxes.empty());
  // With nothing left, the window shows why and waits again.
  FakeShell alone;
  alone.desktop = true;
  alone.events.push_back(AtMs(0, Drop(text)));
  alone.events.push_back(AtMs(1000, [](Player* p) { PlayerOnQuit(p); }));
  EXPECT_EQ(RunWithArguments(alone, {}), 0);
  EXPECT_EQ(alone.dropWindows.back(), text + ": Not a Kivo file.");
}

#if !defined(_WIN32)  // names a Windows file system refuses
TEST_F(Desktop, OddNamesPlayByteForByte) {
  std::vector<std::string> names;
  for (const char* odd : {"Interview \"Teil 1\".kiv", "back\\slash", "Gr\xC3\xBC\xC3\x9F" "e.kiv", "a|12", ":34",
                          " blank first"})
    names.push_back(WriteTestFile(odd, FillerMovie(2, 16, 16)));
  EXPECT_EQ(RunWithArguments(shell, names), 0);
  EXPECT_EQ(WithoutLogo(FrameRuns()), (Runs{{"16x16", 12}}));
  EXPECT_TRUE(shell.reports.empty());
}
#endif

TEST_F(Desktop, TheErrorBoxNamesTheFileAndTheReason) {
  const std::string missing = TestFolder() + "/desk_missing.kiv";
  EXPECT_EQ(RunWithArguments(shell, {missing}), 1);
  const std::string line = missing + ": No such file or directory";
  EXPECT_EQ(shell.reports, std::vector<std::string>({line}));
  ASSERT_EQ(shell.boxes.size(), 1u);
  EXPECT_EQ(shell.boxes[0].text, line);
  EXPECT_EQ(shell.boxes[0].caption, "Kivo Error");
}

TEST_F(Desktop, AnEndAskedFromOutsideLeavesAtOnceWithoutTheSummary) {
  // While paused.
  shell.events.push_back(AfterFrames(2, Key(' ')));
  shell.events.push_back(AtMs(2000, [](Player* p) { PlayerOnTerminate(p); }));
  EXPECT_EQ(RunWithArguments(shell, {a, "/S", "/L"}), 0);
  EXPECT_LE(PlayerTime(), 2100u);
  EXPECT_EQ(FrameRuns(), (Runs{{"64x48", 2}}));
  // During the logo, when the summary is ready.
  FakeShell logo;
  logo.desktop = true;
  logo.events.push_back(InLogo([](Player* p) { PlayerOnTerminate(p); }, 100));
  EXPECT_EQ(RunWithArguments(logo, {a, "/S"}), 0);
  EXPECT_TRUE(logo.boxes.empty());
}

}  // namespace
}  // namespace kivo::test
