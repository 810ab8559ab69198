// The Linux player itself on a private X server: what reaches the screen
// mid-movie and during the logo against the decoded pictures, the keys sent
// from outside, the summary box and the exit code. Skipped where the X
// server or its tools are missing. A soak run (KIVO_SOAK_SECONDS) loops a
// movie and checks that the player's memory stays flat.
#include <gtest/gtest.h>

#if !defined(_WIN32)

#include <fcntl.h>
#include <sys/stat.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iterator>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "convert/copy_to_buffer.h"
#include "movie/movie_api.h"
#include "player/logo_movie.h"
#include "support/test_movies.h"

extern char** environ;

namespace kivo {
namespace {

std::string BuildDir() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "";
  self[n] = 0;
  std::string path(self);
  path = path.substr(0, path.rfind('/'));      // .../tests
  return path.substr(0, path.rfind('/'));      // the build folder
}

bool OnPath(const char* tool) {
  const std::string command = std::string("command -v ") + tool + " >/dev/null 2>&1";
  return system(command.c_str()) == 0;
}

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// A child process with its standard error kept in a file.
struct Child {
  pid_t pid = -1;
  std::string errorFile;

  bool Start(const std::vector<std::string>& args, const std::vector<std::string>& env, const std::string& err) {
    errorFile = err;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv, envp;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    for (char** e = environ; *e; ++e) envp.push_back(*e);
    envp.push_back(nullptr);
    const int r = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return r == 0;
  }

  // The exit code, or -1 when it had to be killed after `ms`.
  int Wait(int ms) {
    for (int waited = 0; waited < ms; waited += 20) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
      }
      Pause(20);
    }
    Kill();
    return -1;
  }

  void Kill() {
    if (pid <= 0) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
  }

  std::string Errors() const {
    std::ifstream f(errorFile);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }

  ~Child() { Kill(); }
};

// A private X server on a free display number.
struct XServer {
  Child server;
  std::string display;

  bool Start() {
    int fds[2];
    if (pipe(fds) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const std::string fd = std::to_string(fds[1]);
    const char* argv[] = {"Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp", nullptr};
    const int r = posix_spawnp(&server.pid, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (r != 0) {
      close(fds[0]);
      return false;
    }
    char number[16] = {};
    ssize_t n = 0, got;
    while (n < ssize_t(sizeof number - 1) && (got = read(fds[0], number + n, 1)) == 1 && number[n] != '\n') ++n;
    close(fds[0]);
    number[n] = 0;
    if (n == 0) return false;
    display = std::string(":") + number;
    return true;
  }

  std::string Run(const std::string& command) const {
    const std::string full = "DISPLAY=" + display + " " + command + " 2>/dev/null";
    std::string out;
    FILE* p = popen(full.c_str(), "r");
    if (!p) return out;
    char chunk[256];
    size_t k;
    while ((k = fread(chunk, 1, sizeof chunk, p)) > 0) out.append(chunk, k);
    pclose(p);
    return out;
  }
};

// An RGB picture of the screen or of a decoded frame.
struct Rgb {
  int width = 0, height = 0;
  std::vector<uint8_t> bytes;  // R, G, B

  bool SameAs(const Rgb& picture, int atX, int atY) const {
    if (atX + picture.width > width || atY + picture.height > height) return false;
    for (int y = 0; y < picture.height; ++y)
      if (memcmp(&bytes[(size_t(atY + y) * width + atX) * 3], &picture.bytes[size_t(y) * picture.width * 3],
                 size_t(picture.width) * 3) != 0)
        return false;
    return true;
  }
};

bool Screenshot(const XServer& x, const std::string& path, Rgb* out) {
  x.Run("import -window root -depth 8 ppm:" + path);
  std::ifstream f(path, std::ios::binary);
  std::string magic;
  int maxValue = 0;
  f >> magic >> out->width >> out->height >> maxValue;
  f.get();
  if (magic != "P6" || maxValue != 255 || out->width <= 0) return false;
  out->bytes.resize(size_t(out->width) * out->height * 3);
  f.read(reinterpret_cast<char*>(out->bytes.data()), std::streamsize(out->bytes.size()));
  return bool(f);
}

// Every frame of a movie as the library decodes and converts it.
std::vector<Rgb> DecodedFrames(const void* source, uint32_t flags) {
  std::vector<Rgb> frames;
  Movie* m = OpenMovie(source, flags);
  if (!m) return frames;
  for (uint32_t i = 0; i < m->frameCount; ++i) {
    DoFrame(m);
    std::vector<uint8_t> rgba(size_t(m->width) * m->height * 4);
    CopyToRgbaRows(m, rgba.data(), int32_t(m->width * 4), 0);
    Rgb f;
    f.width = int(m->width);
    f.height = int(m->height);
    for (size_t p = 0; p < rgba.size(); p += 4) f.bytes.insert(f.bytes.end(), {rgba[p], rgba[p + 1], rgba[p + 2]});
    frames.push_back(std::move(f));
    NextFrame(m);
  }
  CloseMovie(m);
  return frames;
}

// The frame of `frames` shown at (x, y) of the screen, -1 for none.
int FrameOnScreen(const Rgb& screen, const std::vector<Rgb>& frames, int x, int y) {
  for (size_t i = 0; i < frames.size(); ++i)
    if (screen.SameAs(frames[i], x, y)) return int(i);
  return -1;
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    build = BuildDir();
    player = build + "/player/kivoplay";
    demo = build + "/samples/demo.kiv";
    if (access(player.c_str(), X_OK) != 0 || access(demo.c_str(), R_OK) != 0) GTEST_SKIP() << "no player built";
    for (const char* tool : {"Xvfb", "import", "xdotool", "xwininfo"})
      if (!OnPath(tool)) GTEST_SKIP() << tool << " is missing";
    ASSERT_TRUE(x.Start());
    folder = test::TestFolder();
    // A profile of the test's own, with the version check done today.
    env = {"DISPLAY=" + x.display,  "SDL_VIDEODRIVER=x11",           "SDL_VIDEO_DRIVER=x11",
           "SDL_AUDIODRIVER=disk",  "SDL_AUDIO_DRIVER=disk",         "SDL_DISKAUDIOFILE=" + folder + "/e2e_audio.raw",
           "SDL_DISKAUDIODELAY=10", "XDG_CONFIG_HOME=" + folder + "/e2e_profile",
           "LSAN_OPTIONS=suppressions=" + folder + "/e2e_lsan.supp"};
    // Under the leak checker: what the desktop's own libraries keep is theirs.
    std::ofstream(folder + "/e2e_lsan.supp") << "leak:libdbus-1.so\nleak:libX11.so\n";
    mkdir((folder + "/e2e_profile").c_str(), 0755);
    mkdir((folder + "/e2e_profile/kivo").c_str(), 0755);
    std::ofstream(folder + "/e2e_profile/kivo/profile.ini") << "[Orlo Video Tools]\nLastVersionCheckDate=9999-12-31\n";
    frames = DecodedFrames(demo.c_str(), 0);
    logo = DecodedFrames(BuiltInLogoMovie(), kOpenMemory);
    ASSERT_EQ(frames.size(), 50u);
    ASSERT_EQ(logo.size(), 1u);
  }

  // By the window list: the name of SDL's message boxes is in a text type
  // that a search by name does not read.
  std::string WindowOf(const char* name, int timeoutMs) {
    const std::string quoted = std::string("\"") + name + "\"";
    for (int waited = 0; waited < timeoutMs; waited += 50) {
      std::istringstream tree(x.Run("xwininfo -root -children"));
      std::string line;
      while (std::getline(tree, line)) {
        const size_t at = line.find(quoted);
        if (at == std::string::npos) continue;
        std::istringstream words(line);
        std::string id;
        words >> id;
        return id;
      }
      Pause(50);
    }
    return "";
  }

  void Key(const std::string& window, const char* key) { x.Run("xdotool key --window " + window + " " + key); }

  std::string build, player, demo, folder;
  std::vector<std::string> env;
  XServer x;
  std::vector<Rgb> frames, logo;
};

TEST_F(EndToEnd, PlaysTheMovieThenTheLogoThenShowsTheSummary) {
  Child run;
  ASSERT_TRUE(run.Start({player, demo, "/X0", "/Y0", "/S"}, env, folder + "/e2e_play.txt"));
  Pause(900);
  Rgb screen;
  ASSERT_TRUE(Screenshot(x, folder + "/e2e_mid.ppm", &screen));
  const int shown = FrameOnScreen(screen, frames, 0, 0);
  EXPECT_GT(shown, 0) << "no frame of the movie at the window's place";
  EXPECT_LT(shown, 49);

  // Once the movie has ended: the logo, centred on the screen, until the box.
  bool logoSeen = false;
  std::string box;
  for (int waited = 0; waited < 8000 && box.empty(); waited += 150) {
    ASSERT_TRUE(Screenshot(x, folder + "/e2e_logo.ppm", &screen));
    logoSeen = logoSeen || screen.SameAs(logo[0], (1024 - 224) / 2, (768 - 252) / 2);
    box = WindowOf("Kivo Playback Summary", 1);
    Pause(150);
  }
  EXPECT_TRUE(logoSeen);
  ASSERT_FALSE(box.empty()) << run.Errors();
  Key(box, "Return");
  EXPECT_EQ(run.Wait(5000), 0);

  const std::string text = run.Errors();
  const std::string head =
      "Kivo Playback Summary:\nVideo: 320 x 240 at 25.0 frames/sec\nTotal frames: 50\n\nTotal frames played: 50\n"
      "Frame rate played: 25.0 frames/sec\n";
  ASSERT_NE(text.find(head), std::string::npos) << text;
  const std::regex format(
      "Frame rate obtained: \\d+\\.\\d frames/sec\nSkipped frames: 0\nSkipped blits: \\d+\nSound skips: \\d+\n\n"
      "(Percentage spent [a-z ]+: \\d+\\.\\d\n){6}Speed of playback device: -?\\d+ bytes/sec\n\n"
      "Total playback time: (1|2) seconds?\nTotal open time: \\d+ milliseconds?\n"
      "Slowest frame: \\d+ \\(\\d+\\.\\d frames/sec\\)\nSecond slowest frame: \\d+ \\(\\d+\\.\\d frames/sec\\)\n\n"
      "Average data rate: \\d+\nAverage frame size: \\d+\nPeak data rate: \\d+ bytes/sec \\(frame: \\d+\\)\n\n"
      "Total memory used: \\d+\nTotal input memory: \\d+\nHighest input memory used: \\d+\n\n"
      "Blitting style: SDL [a-zA-Z0-9 ,]+\nVideo mode: 1024 x 768 at (24|32) bits\n");
  EXPECT_TRUE(std::regex_search(text.substr(text.find(head) + head.size()), format,
                                std::regex_constants::match_continuous))
      << text;
}

TEST_F(EndToEnd, KeysPauseStepResumeAndQuit) {
  Child run;
  ASSERT_TRUE(run.Start({player, demo, "/X0", "/Y0", "/L"}, env, folder + "/e2e_keys.txt"));
  const std::string window = WindowOf("Kivo Video Player", 3000);
  ASSERT_FALSE(window.empty());
  Pause(700);
  Key(window, "space");
  Pause(300);
  Rgb a, b, c, d, e;
  ASSERT_TRUE(Screenshot(x, folder + "/e2e_a.ppm", &a));
  Pause(400);
  ASSERT_TRUE(Screenshot(x, folder + "/e2e_b.ppm", &b));
  const int paused = FrameOnScreen(a, frames, 0, 0);
  ASSERT_GE(paused, 0);
  EXPECT_EQ(FrameOnScreen(b, frames, 0, 0), paused) << "the picture moved on while paused";

  Key(window, "Return");  // one frame on
  Pause(400);
  ASSERT_TRUE(Screenshot(x, folder + "/e2e_c.ppm", &c));
  EXPECT_EQ(FrameOnScreen(c, frames, 0, 0), (paused + 1) % 50);

  Key(window, "space");   // playing again
  Pause(500);
  ASSERT_TRUE(Screenshot(x, folder + "/e2e_d.ppm", &d));
  const int resumed = FrameOnScreen(d, frames, 0, 0);
  EXPECT_GE(resumed, 0);
  EXPECT_NE(resumed, (paused + 1) % 50);

  Key(window, "Escape");  // the logo at once, although the movie loops forever
  Pause(500);
  ASSERT_TRUE(Screenshot(x, folder + "/e2e_e.ppm", &e));
  EXPECT_TRUE(e.SameAs(logo[0], (1024 - 224) / 2, (768 - 252) / 2));
  EXPECT_EQ(run.Wait(4000), 0);
}

// Inputs for the encoder: moving stripes, and a 441 Hz tone.
void WriteStripesY4m(const std::string& path, int width, int height, int frameCount) {
  std::ofstream f(path, std::ios::binary);
  f << "YUV4MPEG2 W" << width << " H" << height << " F25:1 Ip A1:1 C420jpeg\n";
  std::vector<char> y(size_t(width) * height), u(size_t(width / 2) * (height / 2), char(90)),
      v(size_t(width / 2) * (height / 2), char(160));
  for (int i = 0; i < frameCount; ++i) {
    for (int r = 0; r < height; ++r)
      for (int c = 0; c < width; ++c) y[size_t(r) * width + c] = char((r / 20) % 2 ? 200 : (c * 2 + i * 3) & 255);
    f << "FRAME\n";
    f.write(y.data(), std::streamsize(y.size()));
    f.write(u.data(), std::streamsize(u.size()));
    f.write(v.data(), std::streamsize(v.size()));
  }
}

void WriteToneWav(const std::string& path, uint32_t rate, uint32_t seconds) {
  std::vector<int16_t> samples;
  for (uint32_t t = 0; t < rate * seconds; ++t) {
    const auto s = int16_t(8000 * std::sin(2 * 3.14159265358979 * 441 * t / rate));
    samples.push_back(s);
    samples.push_back(s);
  }
  const uint32_t bytes = uint32_t(samples.size() * 2);
  auto word = [](std::ofstream& f, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) f.put(char((v >> (8 * i)) & 255));
  };
  std::ofstream f(path, std::ios::binary);
  f << "RIFF";
  word(f, 36 + bytes, 4);
  f << "WAVEfmt ";
  word(f, 16, 4);
  word(f, 1, 2);
  word(f, 2, 2);
  word(f, rate, 4);
  word(f, rate * 4, 4);
  word(f, 4, 2);
  word(f, 16, 2);
  f << "data";
  word(f, bytes, 4);
  f.write(reinterpret_cast<const char*>(samples.data()), std::streamsize(bytes));
}

class EncodedMovie : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    const std::string encoder = build + "/tools/kivenc";
    if (access(encoder.c_str(), X_OK) != 0) GTEST_SKIP() << "no encoder built";
    WriteStripesY4m(folder + "/e2e_stripes.y4m", 160, 120, 75);
    WriteToneWav(folder + "/e2e_tone.wav", 22050, 3);
    movie = folder + "/e2e_encoded.kiv";
    const std::string command = encoder + " " + folder + "/e2e_stripes.y4m --audio 1:" + folder +
                                "/e2e_tone.wav -o " + movie + " >/dev/null 2>&1";
    ASSERT_EQ(system(command.c_str()), 0);
    encodedFrames = DecodedFrames(movie.c_str(), 0);
    ASSERT_EQ(encodedFrames.size(), 75u);
  }
  std::string movie;
  std::vector<Rgb> encodedFrames;
};

TEST_F(EncodedMovie, TheScreenMidMovieIsADecodedFrame) {
  Child run;
  ASSERT_TRUE(run.Start({player, movie, "/X0", "/Y0"}, env, folder + "/e2e_encoded.txt"));
  Pause(1500);
  Rgb screen;
  ASSERT_TRUE(Screenshot(x, folder + "/e2e_encoded.ppm", &screen));
  const int shown = FrameOnScreen(screen, encodedFrames, 0, 0);
  EXPECT_GT(shown, 0);
  EXPECT_LT(shown, 74);
  EXPECT_EQ(run.Wait(8000), 0);
}

TEST_F(EncodedMovie, TheToneReachesTheDiskAudioDevice) {
  Movie* m = OpenMovie(movie.c_str(), 0);
  ASSERT_NE(m, nullptr);
  const uint32_t tracks = m->trackCount;
  CloseMovie(m);
  if (tracks == 0) GTEST_SKIP() << "the encoder left the sound track out";
  const std::string audio = folder + "/e2e_audio.raw";
  remove(audio.c_str());
  Child run;
  ASSERT_TRUE(run.Start({player, movie, "/X0", "/Y0"}, env, folder + "/e2e_sound.txt"));
  EXPECT_EQ(run.Wait(10000), 0);
  // Taken as 16-bit stereo, the first channel of a steady tone changes sign
  // at even spacings (50 samples a half period at 22050 Hz, in proportion
  // at other device rates); silence and noise do not.
  std::ifstream f(audio, std::ios::binary);
  const std::string raw((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::vector<int> left;
  for (size_t i = 0; i + 4 <= raw.size(); i += 4)
    left.push_back(int16_t(uint16_t(uint8_t(raw[i])) | uint16_t(uint8_t(raw[i + 1])) << 8));
  std::vector<size_t> crossings;
  for (size_t i = 1; i < left.size(); ++i)
    if ((left[i - 1] < 0) != (left[i] < 0) && std::abs(left[i] - left[i - 1]) > 200) crossings.push_back(i);
  ASSERT_GT(crossings.size(), 200u) << "no tone in " << raw.size() << " bytes";
  std::vector<size_t> spacing;
  for (size_t i = 1; i < crossings.size(); ++i) spacing.push_back(crossings[i] - crossings[i - 1]);
  std::vector<size_t> sorted = spacing;
  std::sort(sorted.begin(), sorted.end());
  const size_t median = sorted[sorted.size() / 2];
  size_t even = 0;
  for (size_t d : spacing) even += (d + 2 >= median && d <= median + 2) ? 1 : 0;
  EXPECT_GE(median, 45u);
  EXPECT_GT(even * 10, spacing.size() * 9);
}

TEST_F(EndToEnd, AMissingMovieIsAnErrorBoxAndExitCodeOne) {
  Child run;
  ASSERT_TRUE(run.Start({player, folder + "/e2e_no_such_movie.kiv"}, env, folder + "/e2e_error.txt"));
  const std::string box = WindowOf("Kivo Error", 5000);
  ASSERT_FALSE(box.empty()) << run.Errors();
  Key(box, "Return");
  EXPECT_EQ(run.Wait(5000), 1);
  EXPECT_EQ(run.Errors().rfind("Kivo Error:\n", 0), 0u) << run.Errors();
}

long ResidentKilobytes(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmRSS:", 0) == 0) return atol(line.c_str() + 6);
  return -1;
}

TEST(Soak, LoopingForLongKeepsMemoryFlat) {
  const char* seconds = getenv("KIVO_SOAK_SECONDS");
  if (!seconds || atoi(seconds) <= 0) GTEST_SKIP() << "set KIVO_SOAK_SECONDS to run";
  const std::string build = BuildDir();
  Child run;
  ASSERT_TRUE(run.Start({build + "/player/kivoplay", build + "/samples/demo.kiv", "/L"},
                        {"SDL_VIDEODRIVER=dummy", "SDL_VIDEO_DRIVER=dummy", "SDL_AUDIODRIVER=dummy",
                         "SDL_AUDIO_DRIVER=dummy", "XDG_CONFIG_HOME=" + test::TestFolder() + "/soak_profile"},
                        test::TestFolder() + "/soak.txt"));
  const int total = atoi(seconds);
  const int warm = total / 10 > 2 ? total / 10 : 2;
  Pause(warm * 1000);
  const long first = ResidentKilobytes(run.pid);
  long peak = first;
  for (int s = warm; s < total; ++s) {
    Pause(1000);
    const long now = ResidentKilobytes(run.pid);
    ASSERT_GT(now, 0) << "the player ended: " << run.Errors();
    if (now > peak) peak = now;
  }
  EXPECT_LT(peak - first, 1024) << "from " << first << " kB to " << peak << " kB";
}

}  // namespace
}  // namespace kivo

#endif  // !_WIN32
