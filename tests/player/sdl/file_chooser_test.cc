// SPDX-License-Identifier: BSD-2-Clause
// The Linux player's file choosers: the portal's answer read from gdbus's
// lines, and the choosers run as child processes, played here by scripts of
// the test's own on the PATH.
#include "player/sdl/file_chooser.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "support/test_movies.h"

namespace kivo {
namespace {

using Paths = std::vector<std::string>;

TEST(FileUri, IsPercentDecodedAndOnlyLocalFilesCount) {
  std::string path;
  ASSERT_TRUE(PathOfFileUri("file:///films/Gr%C3%BC%C3%9Fe%20%2525%22a%22.kiv", &path));
  EXPECT_EQ(path, "/films/Gr\xC3\xBC\xC3\x9F" "e %25\"a\".kiv");
  ASSERT_TRUE(PathOfFileUri("file://localhost/a/b's", &path));
  EXPECT_EQ(path, "/a/b's");
  EXPECT_FALSE(PathOfFileUri("https://example.org/a.kiv", &path));
  EXPECT_FALSE(PathOfFileUri("file://server/a.kiv", &path));
  EXPECT_FALSE(PathOfFileUri("file:///a%2", &path));
  EXPECT_FALSE(PathOfFileUri("file:///a%g0", &path));
}

constexpr char kRequest[] = "/org/freedesktop/portal/desktop/request/1_42/";
constexpr char kResponse[] = ": org.freedesktop.portal.Request.Response ";

TEST(PortalResponse, GivesTheChosenFilesOfItsOwnRequestOnly) {
  Paths paths;
  // gdbus quotes a string holding ' with ", and escapes backslashes and the quote.
  const std::string chosen = std::string(kRequest) + "kivo7_1" + kResponse +
                             "(uint32 0, {'uris': <['file:///films/first%20one.kiv', \"file:///films/Bob's \\\\ "
                             "\\\"cut\\\".kiv\", 'file:///u/\\u00e9t\\U0001f600']>, 'choices': <@a(ss) []>})";
  EXPECT_EQ(ParsePortalResponse(chosen, "kivo7_1", &paths), 0);
  EXPECT_EQ(paths, (Paths{"/films/first one.kiv", "/films/Bob's \\ \"cut\".kiv",
                          "/u/\xC3\xA9t\xF0\x9F\x98\x80"}));
  // Another request's answer, one whose token merely ends like ours, and other signals.
  EXPECT_EQ(ParsePortalResponse(chosen, "kivo7_2", &paths), -1);
  EXPECT_EQ(ParsePortalResponse(chosen, "7_1", &paths), -1);
  EXPECT_EQ(ParsePortalResponse("/org/freedesktop/portal/desktop: org.freedesktop.portal.Settings.SettingChanged "
                                "('a', 'b', <1>)",
                                "kivo7_1", &paths),
            -1);
  // Cancelled, and chosen with nothing in it.
  EXPECT_EQ(ParsePortalResponse(std::string(kRequest) + "kivo7_1" + kResponse + "(uint32 1, @a{sv} {})", "kivo7_1",
                                &paths),
            1);
  EXPECT_TRUE(paths.empty());
  EXPECT_EQ(ParsePortalResponse(std::string(kRequest) + "kivo7_1" + kResponse + "(uint32 0, {'uris': <@as []>})",
                                "kivo7_1", &paths),
            0);
  EXPECT_TRUE(paths.empty());
}

// Scripts named gdbus, zenity and kdialog in a folder put first on the PATH.
class Choosers : public ::testing::Test {
 protected:
  void SetUp() override {
    bin = test::TestFolder() + "/chooser_bin_" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::remove_all(bin);
    std::filesystem::create_directories(bin);
    for (const char* name : {"PATH", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR"}) {
      const char* value = getenv(name);
      saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    setenv("PATH", (bin + ":/usr/bin:/bin").c_str(), 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
  }
  void TearDown() override {
    for (const auto& [name, value] : saved) {
      if (value) setenv(name.c_str(), value->c_str(), 1);
      else unsetenv(name.c_str());
    }
  }
  void Script(const std::string& name, const std::string& body) {
    std::ofstream(bin + "/" + name) << "#!/bin/sh\n" << body;
    chmod((bin + "/" + name).c_str(), 0755);
  }
  // A gdbus whose portal answers the request it is asked with `answer`
  // (the Response's arguments), unless the asking gdbus left the bus first:
  // the portal then ends the request.
  void FakePortal(const std::string& answer) {
    std::ofstream(bin + "/answer") << answer << "\n";
    Script("gdbus",
           "cd \"$(dirname \"$0\")\"\n"
           "case $1 in\n"
           "monitor)\n"
           "  echo 'Monitoring signals from all objects owned by org.freedesktop.portal.Desktop'\n"
           "  echo 'The name org.freedesktop.portal.Desktop is owned by :1.42'\n"
           "  while [ ! -e call.args ]; do sleep 0.02; done\n"
           "  token=$(sed -n \"s/.*'handle_token': <'\\([A-Za-z0-9_]*\\)'>.*/\\1/p\" call.args)\n"
           "  sleep 0.3\n"
           "  if [ -e call.ended ]; then answer='(uint32 2, @a{sv} {})'; else answer=$(cat answer); fi\n"
           "  request=/org/freedesktop/portal/desktop/request/1_43\n"
           "  signal=org.freedesktop.portal.Request.Response\n"
           "  echo \"$request/other: $signal (uint32 0, {'uris': <['file:///x.kiv']>})\"\n"
           "  echo \"$request/$token: $signal $answer\"\n"
           "  exec sleep 60;;\n"
           "call)\n"
           "  printf '%s\\n' \"$@\" > call.tmp && mv call.tmp call.args\n"
           "  echo \"(objectpath '/org/freedesktop/portal/desktop/request/1_43/kivo',)\"\n"
           "  touch call.ended;;\n"
           "esac\n");
  }
  std::string Read(const std::string& name) const { return test::Slurp(bin + "/" + name); }

  std::string bin;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved;
  volatile sig_atomic_t child = 0;
};

TEST_F(Choosers, ThePortalComesFirstAndAnswersWhileItsCallerStaysOnTheBus) {
  FakePortal("(uint32 0, {'uris': <['file:///films/first%20one.kiv', \"file:///films/Bob's.kiv\"]>})");
  Script("zenity", "echo /films/zenity.kiv\n");
  const FileChooser* chooser = FindFileChooser();
  ASSERT_NE(chooser, nullptr);
  EXPECT_STREQ(chooser->name, "portal");
  EXPECT_EQ(ChooseMovies(&chooser, &child), (Paths{"/films/first one.kiv", "/films/Bob's.kiv"}));
  EXPECT_STREQ(chooser->name, "portal");
  EXPECT_EQ(int(child), 0);
  // Asked for several Kivo movies.
  const std::string call = Read("call.args");
  EXPECT_NE(call.find("\norg.freedesktop.portal.FileChooser.OpenFile\n"), std::string::npos) << call;
  EXPECT_NE(call.find("'multiple': <true>"), std::string::npos) << call;
  EXPECT_NE(call.find("(uint32 0, '*.kiv')"), std::string::npos) << call;
  EXPECT_NE(call.find("(uint32 1, 'video/x-kivo')"), std::string::npos) << call;
}

TEST_F(Choosers, WithoutAPortalZenityThenKdialogAnswer) {
  // No portal on the bus: gdbus says so and goes on watching, here until
  // one comes too late.
  Script("gdbus",
         "cd \"$(dirname \"$0\")\"\n"
         "[ \"$1\" = monitor ] || { touch called; exit 1; }\n"
         "echo 'The name org.freedesktop.portal.Desktop does not have an owner'\n"
         "sleep 0.3\n"
         "echo 'The name org.freedesktop.portal.Desktop is owned by :1.9'\n"
         "exec sleep 60\n");
  Script("zenity", "echo /films/zenity.kiv\n");
  Script("kdialog", "echo /films/kdialog.kiv\n");
  const FileChooser* chooser = FindFileChooser();
  EXPECT_EQ(ChooseMovies(&chooser, &child), (Paths{"/films/zenity.kiv"}));
  ASSERT_NE(chooser, nullptr);
  EXPECT_STREQ(chooser->name, "zenity");
  EXPECT_FALSE(std::filesystem::exists(bin + "/called"));
  // A portal that refuses the call, and a zenity that cannot start.
  FakePortal("");
  Script("gdbus", "[ \"$1\" = call ] && { echo 'Error: refused' >&2; exit 1; }\n" + test::Slurp(bin + "/gdbus"));
  Script("zenity", "exit 127\n");
  chooser = FindFileChooser();
  EXPECT_EQ(ChooseMovies(&chooser, &child), (Paths{"/films/kdialog.kiv"}));
  ASSERT_NE(chooser, nullptr);
  EXPECT_STREQ(chooser->name, "kdialog");
  // None could answer, and none is there.
  std::filesystem::remove(bin + "/kdialog");
  chooser = FindFileChooser();
  EXPECT_TRUE(ChooseMovies(&chooser, &child).empty());
  EXPECT_EQ(chooser, nullptr);
  setenv("PATH", bin.c_str(), 1);
  for (const char* name : {"gdbus", "zenity"}) std::filesystem::remove(bin + "/" + name);
  EXPECT_EQ(FindFileChooser(), nullptr);
}

}  // namespace
}  // namespace kivo
