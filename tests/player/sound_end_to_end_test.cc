// SPDX-License-Identifier: BSD-2-Clause
// The Linux player's sound end to end: a movie with a sound track played by
// kivoplay through SDL's disk audio driver, under both sound drivers; what
// reached the device must be the track as kivdump decodes it, in order and
// up to the movie's end, with nothing but silence around it. Needs no display (SDL's dummy
// video driver), only the player and kivdump.
#include <gtest/gtest.h>

#if !defined(_WIN32)

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "movie/movie.h"
#include "movie/movie_api.h"
#include "player/e2e_support.h"
#include "support/test_movies.h"

namespace kivo {
namespace {

using e2e::BuildDir;
using e2e::Child;

// Where `needle` begins in `hay` at an offset of whole stereo samples, or -1.
int64_t FindSamples(const std::vector<uint8_t>& hay, const uint8_t* needle, size_t size) {
  if (size == 0 || hay.size() < size) return -1;
  for (size_t at = 0; at + size <= hay.size(); at += 4)
    if (std::equal(needle, needle + size, hay.begin() + std::ptrdiff_t(at))) return int64_t(at);
  return -1;
}

bool Silent(const std::vector<uint8_t>& bytes, size_t from, size_t to) {
  return std::all_of(bytes.begin() + std::ptrdiff_t(from), bytes.begin() + std::ptrdiff_t(to),
                     [](uint8_t b) { return b == 0; });
}

class PlayerSound : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    const std::string build = BuildDir();
    player = build + "/player/kivoplay";
    if (access(player.c_str(), X_OK) != 0) GTEST_SKIP() << "no player built";
    if (access((build + "/tools/kivdump").c_str(), X_OK) != 0) GTEST_SKIP() << "no kivdump built";
    folder = test::TestFolder();
    e2e::WriteQuietProfile(folder + "/sound_profile");
    movie = folder + "/sound_e2e.kiv";
    // The encoder's own sound coding where it has one; else the track is
    // written block by block with its writer.
    const std::string encoder = build + "/tools/kivenc";
    bool encoded = false;
    if (access(encoder.c_str(), X_OK) == 0) {
      e2e::WriteStripesY4m(folder + "/sound_e2e.y4m", 96, 64, 40);
      e2e::WriteToneWav(folder + "/sound_e2e.wav", 22050, 2);
      const std::string command = encoder + " " + folder + "/sound_e2e.y4m --audio 0:" + folder +
                                  "/sound_e2e.wav -o " + movie + " >/dev/null 2>&1";
      if (system(command.c_str()) == 0) {
        Movie* m = OpenMovie(movie.c_str(), 0);
        encoded = m && m->trackCount == 1;
        CloseMovie(m);
      }
    }
    if (!encoded) {
      const std::vector<uint8_t> bytes = e2e::WrittenSoundMovie(40);
      ASSERT_FALSE(bytes.empty());
      ASSERT_EQ(test::WriteTestFile("sound_e2e.kiv", bytes), movie);
    }
    RecordProperty("movie", encoded ? "kivenc" : "written");
    Movie* m = OpenMovie(movie.c_str(), 0);
    ASSERT_NE(m, nullptr);
    // The movie ends with its last frame: the sound after it is not played.
    playedBytes = uint64_t(m->frameCount - 1) * m->fileRateDen * 22050 * 4 / m->fileRateNum;
    CloseMovie(m);
    ASSERT_TRUE(e2e::DumpedSound(movie, 0, folder + "/sound_e2e_track.wav", &track));
    ASSERT_GT(track.size(), 22050u * 4) << "the track is shorter than a second";
    ASSERT_FALSE(Silent(track, 0, track.size()));
  }

  std::string player, folder, movie;
  std::vector<uint8_t> track;
  uint64_t playedBytes = 0;   // the track's sound up to the last frame's time
};

TEST_P(PlayerSound, TheDeviceGetsTheDecodedTrackUntilTheMovieEnds) {
  const std::string device = folder + std::string("/sound_e2e_device") + (GetParam()[0] ? "_z" : "") + ".raw";
  remove(device.c_str());
  Child run;
  std::vector<std::string> args = {player, movie, "/X0", "/Y0"};
  if (GetParam()[0]) args.push_back(GetParam());
  // 1024 samples a callback at 22050 Hz: about the real pace.
  ASSERT_TRUE(run.Start(args,
                        {"SDL_VIDEODRIVER=dummy", "SDL_VIDEO_DRIVER=dummy", "SDL_AUDIODRIVER=disk",
                         "SDL_AUDIO_DRIVER=disk", "SDL_DISKAUDIOFILE=" + device, "SDL_DISKAUDIODELAY=46",
                         "XDG_CONFIG_HOME=" + folder + "/sound_profile"},
                        folder + "/sound_e2e_player.txt"));
  ASSERT_EQ(run.Wait(15000), 0) << run.Errors();

  std::ifstream f(device, std::ios::binary);
  const std::vector<uint8_t> got((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(got.empty()) << "nothing reached the device";
  // The track's first sound, then all of it from there on.
  size_t lead = 0;
  while (lead + 4 <= track.size() && Silent(track, lead, lead + 4)) lead += 4;
  const size_t probe = std::min<size_t>(4096, track.size() - lead);
  const int64_t at = FindSamples(got, track.data() + lead, probe);
  ASSERT_GE(at, 0) << "the track's first sound is not in the " << got.size() << " bytes the device got";
  const size_t start = size_t(at);
  EXPECT_TRUE(Silent(got, 0, start)) << "something before the track";
  const size_t room = std::min(got.size() - start, track.size() - lead);
  size_t same = 0;
  while (same < room && got[start + same] == track[lead + same]) ++same;
  // The device runs from the open and plays silence until the clock starts;
  // from there all of the track until the movie ended (less two callbacks
  // of 1024 samples for the pause's timing), then silence and nothing else.
  EXPECT_LE(start, 22050u * 4) << "a second of silence before the sound";
  EXPECT_GE(start + same + 2 * 4096, playedBytes)
      << "the device's sound parts from the track after " << same << " of " << track.size() - lead << " bytes";
  EXPECT_TRUE(Silent(got, start + same, got.size())) << "something after the track";
}

INSTANTIATE_TEST_SUITE_P(Drivers, PlayerSound, ::testing::Values("", "/Z"),
                         [](const ::testing::TestParamInfo<const char*>& driver) {
                           return std::string(driver.param[0] ? "QueuedBuffers" : "LoopingBuffer");
                         });

}  // namespace
}  // namespace kivo

#endif  // !_WIN32
