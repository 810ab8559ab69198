// SPDX-License-Identifier: BSD-2-Clause
// The tools as command lines: one line and exit code 2 for a wrong command
// line, "--" before names that look like options, failed writes to standard
// output, and outputs that never clobber what they are not: a FIFO and
// standard output are written in place, a symbolic link survives, and kivenc
// refuses to write over one of its inputs.
#include <gtest/gtest.h>

#if !defined(_WIN32)

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "support/test_movies.h"

namespace kivo {
namespace {

struct ToolRun {
  int code = -1;
  std::string out, err;
};

// Runs a shell command with its standard output and error kept in files.
ToolRun Shell(const std::string& command) {
  const std::string dir = test::TestFolder();
  ToolRun r;
  const int status = system(("(" + command + ") >" + dir + "/cli.out 2>" + dir + "/cli.err").c_str());
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = test::Slurp(dir + "/cli.out");
  r.err = test::Slurp(dir + "/cli.err");
  return r;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }
std::string In(const std::string& name) { return test::TestFolder() + "/" + name; }
std::string Tool(const char* name) { return Quote(test::ToolPath(name)); }

class ToolCommandLines : public ::testing::Test {
 protected:
  std::string movie = test::WriteTestFile("cli_movie.kiv", test::FillerMovie(3, 32, 16));
};

TEST_F(ToolCommandLines, WrongCommandLinesTakeOneLineAndExitCodeTwo) {
  for (const char* tool : {"kivdump", "kivenc", "kivbundle"}) {
    const ToolRun r = Shell(Tool(tool) + " --bogus");
    EXPECT_EQ(r.code, 2) << tool;
    EXPECT_EQ(r.err, std::string(tool) + ": unknown option '--bogus'\nTry '" + tool + " --help' for more information.\n");
    EXPECT_TRUE(r.out.empty());
  }
  struct Case {
    std::string command, line;
  } missing[] = {
      {Tool("kivdump") + " " + Quote(movie) + " --thumbnail 64", "kivdump: --thumbnail needs a size and a file name (SIZE OUT)\n"},
      {Tool("kivenc") + " in.y4m -o", "kivenc: -o needs a value\n"},
      {Tool("kivbundle") + " player movie.kiv --switches", "kivbundle: --switches needs a value\n"},
      {Tool("kivdump") + " " + Quote(movie), "kivdump: nothing to do: give --info, --stats, --y4m, --png, --thumbnail or another action\n"},
  };
  for (const Case& c : missing) {
    const ToolRun r = Shell(c.command);
    EXPECT_EQ(r.code, 2) << c.command;
    EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), c.line);
  }
  // A failure that is no usage error: the file and the system's reason.
  const ToolRun r = Shell(Tool("kivdump") + " " + Quote(In("cli_none.kiv")) + " --info");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "kivdump: " + In("cli_none.kiv") + ": No such file or directory\n");
}

TEST_F(ToolCommandLines, DashDashEndsTheOptions) {
  // Names that begin with '-', given after "--", in the tools' own folder.
  const std::string folder = test::TestFolder();
  std::filesystem::copy_file(movie, folder + "/-cli.kiv", std::filesystem::copy_options::overwrite_existing);
  const std::string y4m = "YUV4MPEG2 W16 H16 F25:1 C420jpeg\nFRAME\n" + std::string(16 * 16 * 3 / 2, 'x');
  test::WriteTestFile("-cli.y4m", std::vector<uint8_t>(y4m.begin(), y4m.end()));
  const std::string in = "cd " + Quote(folder) + " && ";
  ToolRun r = Shell(in + Tool("kivdump") + " --info -- -cli.kiv");
  EXPECT_EQ(r.code, 0) << r.err;
  r = Shell(in + Tool("kivenc") + " --quiet -o cli_dash.kiv -- -cli.y4m");
  EXPECT_EQ(r.code, 0) << r.err;
  // This test program can be bundled: it holds a default line's room.
  char self[4096];
  ASSERT_TRUE(os::ProgramFilePath(self, sizeof self));
  r = Shell(in + Tool("kivbundle") + " -o cli_bundle -- " + Quote(self) + " -cli.kiv");
  EXPECT_EQ(r.code, 0) << r.err;
}

TEST_F(ToolCommandLines, AFailedWriteToStandardOutputIsAnError) {
  for (const char* tool : {"kivdump", "kivenc", "kivbundle"}) {
    const ToolRun r = Shell(Tool(tool) + " --help >/dev/full");
    EXPECT_EQ(r.code, 1) << tool;
    EXPECT_EQ(r.err, std::string(tool) + ": standard output: No space left on device\n");
  }
  const ToolRun r = Shell(Tool("kivdump") + " " + Quote(movie) + " --info >/dev/full");
  EXPECT_EQ(r.code, 1);
}

TEST_F(ToolCommandLines, KivdumpWritesInPlaceWhatIsNoPlainFileAndKeepsLinks) {
  const std::string png = "\x89PNG\r\n\x1a\n";
  const std::string thumbnail = Tool("kivdump") + " " + Quote(movie) + " --quiet --thumbnail 16 ";
  // Standard output as it stands: appended to, not reopened.
  const std::string appended = In("cli_appended");
  test::WriteTestFile("cli_appended", {'h', 'e', 'a', 'd'});
  ToolRun r = Shell(thumbnail + "/dev/stdout >>" + Quote(appended));
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(test::Slurp(appended).substr(0, 12), "head" + png);
  // A FIFO stays one, and its reader gets the picture.
  const std::string fifo = In("cli_fifo"), read = In("cli_fifo_read");
  std::filesystem::remove(fifo);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // (the reader gives up after a while should the FIFO be gone)
  r = Shell("timeout 20 cat " + Quote(fifo) + " >" + Quote(read) + " & " + thumbnail + Quote(fifo) + "; wait");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
  EXPECT_EQ(test::Slurp(read).substr(0, 8), png);
  // A link survives; what it points to is replaced.
  const std::string target = In("cli_target.png"), link = In("cli_link.png");
  test::WriteTestFile("cli_target.png", {'o', 'l', 'd'});
  std::filesystem::remove(link);
  std::filesystem::create_symlink(target, link);
  r = Shell(thumbnail + Quote(link));
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(test::Slurp(target).substr(0, 8), png);
}

TEST_F(ToolCommandLines, KivencRefusesToWriteOverItsInput) {
  const std::string y4m = "YUV4MPEG2 W16 H16 F25:1 C420jpeg\nFRAME\n" + std::string(16 * 16 * 3 / 2, 'y');
  const std::string in = test::WriteTestFile("cli_in.y4m", std::vector<uint8_t>(y4m.begin(), y4m.end()));
  // The same file by another name.
  const std::string other = test::TestFolder() + "/./cli_in.y4m";
  const ToolRun r = Shell(Tool("kivenc") + " --quiet " + Quote(in) + " -o " + Quote(other));
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "kivenc: " + other + ": is also an input (" + in + "); choose another output\n");
  EXPECT_EQ(test::Slurp(in), y4m);
}

}  // namespace
}  // namespace kivo

#endif  // !_WIN32
