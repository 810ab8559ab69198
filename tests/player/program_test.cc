// SPDX-License-Identifier: BSD-2-Clause
// kivoplay as a program typed at a terminal, on SDL's dummy drivers: the GNU
// options and their exit codes, the line on standard error that names a
// movie which cannot be played or a sound device that is not there, and a
// self-playing copy made by kivbundle that takes a movie name as its first
// argument.
#include <gtest/gtest.h>

#if !defined(_WIN32)

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "player/command_line.h"
#include "player/e2e_support.h"
#include "support/test_movies.h"

namespace kivo {
namespace {

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    build = e2e::BuildDir();
    player = build + "/player/kivoplay";
    if (access(player.c_str(), X_OK) != 0) GTEST_SKIP() << "no player built";
    folder = test::TestFolder();
    e2e::WriteQuietProfile(folder + "/program_profile");
    env = {"SDL_VIDEODRIVER=dummy", "SDL_VIDEO_DRIVER=dummy", "SDL_AUDIODRIVER=dummy", "SDL_AUDIO_DRIVER=dummy",
           "XDG_CONFIG_HOME=" + folder + "/program_profile"};
  }

  // Runs a program with its standard output and error kept; the exit code.
  int Run(std::vector<std::string> args) {
    // An argument beginning with '>' is the redirection of standard output.
    std::string command = "exec", redirect = " >'" + folder + "/program_out.txt'";
    for (const std::string& a : args) {
      if (a[0] == '>')
        redirect = " " + a;
      else
        command += " '" + a + "'";
    }
    command += redirect;
    e2e::Child child;
    if (!child.Start({"/bin/sh", "-c", command}, env, folder + "/program_err.txt")) return -3;
    const int code = child.Wait(30000);
    out = Slurp(folder + "/program_out.txt");
    err = child.Errors();
    return code;
  }

  static std::string Slurp(const std::string& path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }

  std::string build, player, folder, out, err;
  std::vector<std::string> env;
};

TEST_F(Program, GnuOptionsAnswerAtOnceAndErrorsTakeOneLine) {
  EXPECT_EQ(Run({player, "--help"}), 0);
  EXPECT_EQ(out, LinuxHelpText());
  EXPECT_EQ(Run({player, "movie.kiv", "-h"}), 0);
  EXPECT_EQ(out, LinuxHelpText());
  EXPECT_EQ(Run({player, "--version"}), 0);
  EXPECT_EQ(out.rfind("kivoplay ", 0), 0u) << out;
  EXPECT_NE(out.find("Kivo library"), std::string::npos) << out;
  EXPECT_EQ(Run({player, "-q"}), 2);
  EXPECT_EQ(err, "kivoplay: unknown option '-q'\nTry 'kivoplay --help' for more information.\n");
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(Run({player, "demo.kiv", "/V"}), 2);
  EXPECT_EQ(err, "kivoplay: unknown switch '/V'\nTry 'kivoplay --help' for more information.\n");
  EXPECT_EQ(Run({player, "--help", ">/dev/full"}), 1);
  EXPECT_EQ(err, "kivoplay: standard output: No space left on device\n");
}

TEST_F(Program, WithoutAMovieATerminalGetsTheHelp) {
  // `script` gives the player a terminal.
  if (!e2e::OnPath("script")) GTEST_SKIP() << "script is missing";
  EXPECT_EQ(Run({"script", "-qec", player, "/dev/null"}), 0);
  EXPECT_NE(out.find("Usage: kivoplay"), std::string::npos) << out;
  EXPECT_EQ(Run({"script", "-qec", player + " /S", "/dev/null"}), 2);
  EXPECT_NE(out.find("kivoplay: no movie given\r\nTry 'kivoplay --help'"), std::string::npos) << out;
}

TEST_F(Program, AMovieThatCannotBePlayedIsNamedWithTheReason) {
  const std::string missing = folder + "/program_missing/movie.kiv";
  EXPECT_EQ(Run({player, missing}), 1);
  EXPECT_EQ(err, "kivoplay: " + missing + ": No such file or directory\n");
  const std::string text = test::WriteTestFile("program_text.kiv", std::vector<uint8_t>(64, 'x'));
  EXPECT_EQ(Run({player, text}), 1);
  EXPECT_EQ(err, "kivoplay: " + text + ": Not a Kivo file.\n");
}

TEST_F(Program, ASoundDeviceNamedThatIsNotThereIsSaidOnceAndTheMoviePlaysSilent) {
  const std::string movie = test::WriteTestFile("program_device.kiv", test::FillerMovie(3, 32, 16));
  env.push_back("KIVO_SOUND_DEVICE=nosuch");
  EXPECT_EQ(Run({player, movie, "/F"}), 0);
  EXPECT_EQ(err, "kivoplay: KIVO_SOUND_DEVICE: no sound device \"nosuch\" (there are: sdl, virtual); playing "
                 "without sound\n");
  env.back() = "KIVO_SOUND_DEVICE=sdl";
  EXPECT_EQ(Run({player, movie, "/F"}), 0);
  EXPECT_EQ(err, "");
}

TEST_F(Program, ASelfPlayingCopyTakesAMovieNameAsItsFirstArgument) {
  const std::string bundler = build + "/tools/kivbundle";
  if (access(bundler.c_str(), X_OK) != 0) GTEST_SKIP() << "no kivbundle built";
  const std::string stored = test::WriteTestFile("program_stored.kiv", test::FillerMovie(3, 32, 16));
  // Named without an extension: the file itself, not one with ".kiv" added.
  const std::string other = test::WriteTestFile("program_other", test::FillerMovie(2, 48, 32));
  const std::string copy = folder + "/program_copy";
  ASSERT_EQ(Run({bundler, player, stored, "--switches", "/F", "-o", copy}), 0) << err;
  // The stored movie, then the named one, then the logo.
  EXPECT_EQ(Run({copy, other}), 0) << err;
  EXPECT_EQ(Run({copy, "program_none.kiv"}), 1);
  EXPECT_EQ(err, "program_copy: program_none.kiv: No such file or directory\n");
}

// The manual page's switch entries against the help that --help prints:
// every switch the help lists has its entry, and the display options carry
// the meanings the help gives them, number for number.
TEST(ManualPage, SwitchLinesMatchTheHelp) {
  // The sources lie above the build folder.
  std::string folder = e2e::BuildDir();
  std::ifstream f;
  while (!folder.empty() && !f.is_open()) {
    f.open(folder + "/dist/man/kivoplay.1.scd");
    folder = folder.substr(0, folder.rfind('/'));
  }
  ASSERT_TRUE(f.is_open()) << "no manual page above " << e2e::BuildDir();
  std::stringstream text;
  text << f.rdbuf();
  const std::string man = text.str(), help = LinuxHelpText();
  for (size_t at = 0; (at = help.find("\n    /", at)) != std::string::npos; ++at) {
    const std::string entry = std::string("*/") + help[at + 6] + "*";
    EXPECT_NE(man.find(entry), std::string::npos) << "no manual entry for /" << help[at + 6];
  }
  // Both joined into one line of text.
  const auto flat = [](std::string t) {
    for (char& c : t)
      if (c == '\n' || c == '\t') c = ' ';
    for (size_t at; (at = t.find("  ")) != std::string::npos;) t.erase(at, 1);
    return t;
  };
  const std::string helpA = flat(help.substr(help.find("/A##"), help.find("/D##") - help.find("/A##")));
  const std::string manA = flat(man.substr(man.find("\n*/A*"), man.find("\n*/D*") - man.find("\n*/A*")));
  for (char n = '1'; n <= '6'; ++n) {
    const size_t h = helpA.find(std::string(1, n) + "=");
    ASSERT_NE(h, std::string::npos) << n;
    std::string meaning = helpA.substr(h + 5, helpA.find_first_of(",.", h) - h - 5);  // after "N=2x "
    const size_t m = manA.find(std::string(" ") + n + " ");
    ASSERT_NE(m, std::string::npos) << n;
    EXPECT_EQ(manA.compare(m + 3, meaning.size(), meaning), 0) << "/A" << n << ": the help says '" << meaning
                                                                << "', the manual '" << manA.substr(m + 3, 40) << "'";
  }
}

}  // namespace
}  // namespace kivo

#endif  // !_WIN32
