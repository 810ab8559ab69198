// SPDX-License-Identifier: BSD-2-Clause
// The user profile on POSIX systems (an ini file under XDG_CONFIG_HOME):
// damaged or unreadable files count as absent, and a rewrite replaces the
// file whole, so that a reader sees the old text or the new one, never a
// part, and a failed write leaves the old file as it was.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "player/command_line.h"
#include "support/test_movies.h"

namespace kivo {
namespace {

namespace fs = std::filesystem;

struct Profile : ::testing::Test {
  std::string home, dir, file;
  std::string saved;
  bool hadXdg = false;

  void SetUp() override {
    home = test::TestFolder() + "/profile-home-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(home);
    dir = home + "/kivo";
    file = dir + "/profile.ini";
    fs::create_directories(dir);
    if (const char* v = getenv("XDG_CONFIG_HOME")) {
      hadXdg = true;
      saved = v;
    }
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
  }
  void TearDown() override {
    if (hadXdg)
      setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
      unsetenv("XDG_CONFIG_HOME");
    std::error_code ec;
    fs::remove_all(home, ec);
  }
  void Write(const std::string& text) { std::ofstream(file, std::ios::binary) << text; }
  std::string Read(const char* key = kQuickPlayKey) {
    char value[300];
    os::ReadProfileText(kProfileSection, key, "absent", value, sizeof value);
    return value;
  }
  std::string Contents() {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

TEST_F(Profile, DamagedFilesCountAsAbsent) {
  const std::string damaged[] = {
      std::string("\x00\xff\xfe[Orlo Video Tools]\x00KivoQuickPlay=/L3", 36),  // binary before the section
      "[Orlo Video Tools\nKivoQuickPlay=/L3\n",                               // unterminated section name
      "[Orlo Video Tools]\nKivoQuickPlay /L3\n",                              // no '='
      "[Other]\nKivoQuickPlay=/L3\n",                                          // the key in another section
      std::string(1 << 20, '['),                                              // one endless line
      "",
  };
  for (const std::string& text : damaged) {
    Write(text);
    EXPECT_EQ(Read(), "absent") << text.substr(0, 40);
  }
  // A good line among damage is still found.
  Write(std::string("\x01\x02garbage\n[Orlo Video Tools]\nKivoQuickPlay=/L3\n\xff\xff", 48));
  EXPECT_EQ(Read(), "/L3");
}

TEST_F(Profile, UnreadableFilesCountAsAbsent) {
  // A folder where the file should be.
  fs::create_directories(file);
  EXPECT_EQ(Read(), "absent");
  fs::remove(file);
  // A file without read permission (only meaningful for a user the
  // permissions bind).
  Write("[Orlo Video Tools]\nKivoQuickPlay=/L3\n");
  chmod(file.c_str(), 0);
  if (geteuid() != 0) {
    EXPECT_EQ(Read(), "absent");
  }
  chmod(file.c_str(), 0644);
  // No folder at all.
  fs::remove_all(dir);
  EXPECT_EQ(Read(), "absent");
}

TEST_F(Profile, TheQuickPlaySwitchOfADamagedProfileAddsNothing) {
  ParsedCommandLine plain{}, damaged{};
  fs::remove(file);
  ASSERT_EQ(ParseProgramCommandLine("/! movie.kiv", 1024, 768, &plain), 1);
  Write(std::string("[Orlo Video Tools]\nKivoQuickPlay\x00=/L7 /S\n", 41));
  ASSERT_EQ(ParseProgramCommandLine("/! movie.kiv", 1024, 768, &damaged), 1);
  EXPECT_EQ(damaged.settings.loopCount, plain.settings.loopCount);
  EXPECT_EQ(damaged.settings.showSummary, plain.settings.showSummary);
  EXPECT_STREQ(damaged.movieList, plain.movieList);
}

TEST_F(Profile, AFailedWriteLeavesTheOldFileAndNoTemporary) {
  Write("; the user's own comment\n[Orlo Video Tools]\nKivoQuickPlay=/L2\n");
  ASSERT_TRUE(os::WriteProfileText(kProfileSection, "LastVersionCheckDate", "2026-12-09"));
  EXPECT_EQ(Read(), "/L2");
  EXPECT_EQ(Read("LastVersionCheckDate"), "2026-12-09");
  EXPECT_NE(Contents().find("; the user's own comment"), std::string::npos);
  const std::string before = Contents();
  // The temporary cannot be made: the write fails and changes nothing.
  const std::string temp = file + ".tmp" + std::to_string(getpid());
  fs::create_directories(temp);
  EXPECT_FALSE(os::WriteProfileText(kProfileSection, "LastVersionCheckDate", "2027-01-01"));
  EXPECT_EQ(Contents(), before);
  fs::remove(temp);
  // Nothing but the profile is left in its folder after writes.
  ASSERT_TRUE(os::WriteProfileText(kProfileSection, "LastVersionCheckDate", "2027-01-01"));
  uint32_t entries = 0;
  for (const auto& e : fs::directory_iterator(dir)) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1u);
}

TEST_F(Profile, AReaderSeesTheOldValueOrTheNewNeverAPart) {
  const std::string a(200, 'a'), b(250, 'b');
  ASSERT_TRUE(os::WriteProfileText(kProfileSection, kQuickPlayKey, a.c_str()));
  std::atomic<bool> done{false};
  std::atomic<uint32_t> reads{0}, torn{0};
  std::thread reader([&] {
    while (!done) {
      const std::string v = Read();
      if (v != a && v != b) ++torn;
      ++reads;
    }
  });
  for (int i = 0; i < 300; ++i)
    ASSERT_TRUE(os::WriteProfileText(kProfileSection, kQuickPlayKey, (i % 2 ? a : b).c_str()));
  // Let the reader see the last value at least once.
  for (uint32_t seen = reads; reads < seen + 5;) std::this_thread::yield();
  done = true;
  reader.join();
  EXPECT_GT(reads.load(), 10u);
  EXPECT_EQ(torn.load(), 0u);
}

}  // namespace
}  // namespace kivo

#endif  // !_WIN32
