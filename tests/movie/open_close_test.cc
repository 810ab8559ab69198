// SPDX-License-Identifier: BSD-2-Clause
// Opening and closing movies: failures and their texts, the tables checked
// before use, preloading, buffer sharing, display modes, sources.
#include <gtest/gtest.h>

#include <cstring>

#include "base/error_text.h"
#include "base/memory.h"
#include "io/read_settings.h"
#include "io/service_thread.h"
#include "movie/container.h"
#include "movie/movie_api.h"
#include "movie/settings.h"
#include "platform/platform.h"
#include "support/test_movies.h"

namespace kivo {
namespace {

std::vector<uint8_t> WithWord(std::vector<uint8_t> movie, uint32_t at, uint32_t value) {
  WriteLe32(movie.data() + at, value);
  return movie;
}

Movie* OpenBytes(const std::vector<uint8_t>& bytes, const std::string& name, uint32_t flags = 0) {
  std::string path = test::WriteTestFile(name, bytes);
  return OpenMovie(path.c_str(), flags);
}

TEST(OpenMovie, FailuresLeaveTheirText) {
  EXPECT_EQ(OpenMovie((test::TestFolder() + "/no-such-movie.kiv").c_str(), 0), nullptr);
  EXPECT_STREQ(GetErrorText(), "Error opening file.");

  std::vector<uint8_t> good = test::FillerMovie(4);
  std::vector<uint8_t> bad = good;
  memcpy(bad.data(), "KIVj", 4);
  EXPECT_EQ(OpenBytes(bad, "magic.kiv"), nullptr);
  EXPECT_STREQ(GetErrorText(), "Not a Kivo file.");

  EXPECT_EQ(OpenBytes(std::vector<uint8_t>(good.begin(), good.begin() + 20), "short.kiv"), nullptr);
  EXPECT_STREQ(GetErrorText(), "Not a Kivo file.");

  EXPECT_EQ(OpenBytes(WithWord(good, 8, 0), "empty.kiv"), nullptr);
  EXPECT_STREQ(GetErrorText(), "The file doesn't contain any compressed frames yet.");

  // The error text is emptied by the next open.
  Movie* m = OpenBytes(good, "good.kiv");
  ASSERT_NE(m, nullptr);
  EXPECT_STREQ(GetErrorText(), "");
  CloseMovie(m);
}

TEST(OpenMovie, AbsurdTablesFailWithoutAllocatingThem) {
  std::vector<uint8_t> good = test::FillerMovie(4);
  uint32_t before = MemAllocCount();
  EXPECT_EQ(OpenBytes(WithWord(WithWord(good, 16, 0x7FFFFFFFu), 8, 0x7FFFFFFEu), "index.kiv"), nullptr);
  EXPECT_NE(std::string(GetErrorText()), "");
  EXPECT_EQ(OpenBytes(WithWord(good, 40, 0x40000000u), "tracks.kiv"), nullptr);
  EXPECT_NE(std::string(GetErrorText()), "");
  // An index shorter than the frame count.
  EXPECT_EQ(OpenBytes(WithWord(good, 16, 2), "shortindex.kiv"), nullptr);
  EXPECT_NE(std::string(GetErrorText()), "");
  // Pictures of 65535 x 65535 are refused, not attempted.
  EXPECT_EQ(OpenBytes(WithWord(WithWord(good, 20, 65535), 24, 65535), "huge.kiv"), nullptr);
  EXPECT_STREQ(GetErrorText(), "Out of memory.");
  EXPECT_EQ(MemAllocCount(), before);
  // Entries running backwards would make a frame size wrap around.
  EXPECT_EQ(OpenBytes(WithWord(good, 44 + 8, 60), "backwards.kiv"), nullptr);
  EXPECT_STREQ(GetErrorText(), "The frame index of this Kivo file is damaged.");
}

// Nothing but the index says where packets end: a dataSize short of the last
// entry is played as long as the packets are in the file (read ahead,
// preloaded), and refused where a packet would lie beyond it.
TEST(OpenMovie, PacketsPastDataSizeArePlayedWhileInsideTheSource) {
  const uint32_t frames = 40, videoBytes = 3000;
  const std::vector<uint8_t> whole = test::FillerMovie(frames, 64, 48, 5, videoBytes);
  // The last two packets lie past dataSize + 8.
  const std::vector<uint8_t> bytes = WithWord(whole, 4, uint32_t(whole.size() - 8 - 2 * videoBytes + 10));
  for (uint32_t flags : {0u, uint32_t(kOpenPreload)}) {
    Movie* m = OpenBytes(bytes, "past-data-size.kiv", flags);
    ASSERT_NE(m, nullptr) << GetErrorText();
    EXPECT_EQ((m->openFlags & kOpenPreload) != 0, flags != 0);
    for (uint32_t n : {1u, frames - 1, frames, 2u}) {
      GotoFrame(m, n);
      ASSERT_EQ(m->currentFrame, n);
      ASSERT_NE(m->frameData, nullptr);
      EXPECT_EQ(m->io.endOfData.load(), 0) << "frame " << n;
      EXPECT_EQ(memcmp(m->frameData, whole.data() + (m->frameIndex[n - 1] & ~1u), videoBytes), 0) << "frame " << n;
      // Past dataSize nothing is left to read ahead: the ring counts as full.
      if (n == frames) {
        EXPECT_EQ(m->io.fillTarget.load(), m->io.buffered.load());
      }
    }
    CloseMovie(m);
  }
  // Cut inside the last packet: it would be read from beyond the file.
  EXPECT_EQ(OpenBytes(std::vector<uint8_t>(bytes.begin(), bytes.end() - 1), "past-file.kiv"), nullptr);
  EXPECT_STREQ(GetErrorText(), "The frame index of this Kivo file is damaged.");
  // In memory only dataSize + 8 bytes are known to be there.
  std::vector<uint32_t> aligned((bytes.size() + 3) / 4);
  memcpy(aligned.data(), bytes.data(), bytes.size());
  EXPECT_EQ(OpenMovie(aligned.data(), kOpenMemory), nullptr);
  EXPECT_STREQ(GetErrorText(), "The frame index of this Kivo file is damaged.");
}

TEST(OpenMovie, AHugeLargestFrameIsBoundedByTheMovie) {
  std::vector<uint8_t> movie = WithWord(test::FillerMovie(4), 12, 0xFFFFFFF0u);
  Movie* m = OpenBytes(movie, "largest.kiv");
  ASSERT_NE(m, nullptr);
  EXPECT_LE(m->largestFrame, movie.size());
  EXPECT_LT(m->memoryUsed, 1u << 20);
  CloseMovie(m);
}

TEST(OpenMovie, AnAbsurdFrameRateGetsAStatisticsHistoryOfASaneSize) {
  Movie* m = OpenBytes(WithWord(test::FillerMovie(4), 28, 0xFFFFFFF0u), "fast.kiv");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->history.frames, 1000u);
  EXPECT_LT(m->memoryUsed, 1u << 20);
  DoFrame(m);
  CloseMovie(m);
}

TEST(OpenMovie, GeometryFlagsAndFirstFrame) {
  std::vector<uint8_t> bytes = test::FillerMovie(6, 641, 99, 3);
  Movie* m = OpenBytes(bytes, "geometry.kiv");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->planes.chromaPitch, 328u);
  EXPECT_EQ(m->planes.pitch, 656u);
  EXPECT_EQ(m->planes.chromaRows, 56u);
  EXPECT_EQ(m->planes.rows, 112u);
  EXPECT_EQ(m->cellsAcross, 41u);
  EXPECT_EQ(m->cellCount, 41u * 7);
  EXPECT_EQ(m->width, 641u);
  EXPECT_EQ(m->height, 99u);
  EXPECT_EQ(m->currentFrame, 1u);
  EXPECT_EQ(m->lateLimit, 80u);  // two frames at 25 per second
  EXPECT_EQ(m->videoOn, 1);
  EXPECT_NE(m->planes.frameBuffers[0], m->planes.frameBuffers[1]);
  EXPECT_EQ(m->planes.alphaBuffers[0], nullptr);
  // Frame 1's packet is loaded; the video filler starts with 0, 1, 2...
  ASSERT_NE(m->frameData, nullptr);
  EXPECT_EQ(m->frameData[0], 0);
  EXPECT_EQ(m->frameData[5], 5);
  // Cleared pictures: black luma, neutral chroma.
  EXPECT_EQ(m->planes.frameBuffers[0][0], 0);
  EXPECT_EQ(m->planes.frameBuffers[1][656 * 112], 128);
  CloseMovie(m);
}

TEST(OpenMovie, AllKeyFramesShareOnePicture) {
  Movie* m = OpenBytes(test::FillerMovie(5, 64, 48, 1), "keys.kiv");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->planes.frameBuffers[0], m->planes.frameBuffers[1]);
  CloseMovie(m);
}

TEST(OpenMovie, DisplayModeFromCallerOrHeader) {
  std::vector<uint8_t> bytes = WithWord(test::FillerMovie(3, 64, 48), 36, 2u << 28);  // header asks for mode 2
  Movie* m = OpenBytes(bytes, "mode.kiv", 7u << 28);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->width, 64u);
  EXPECT_EQ(m->height, 48u);
  EXPECT_EQ(m->openFlags & kOpenModeMask, 0u);
  CloseMovie(m);
  m = OpenBytes(bytes, "mode.kiv", 0);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->width, 64u);
  EXPECT_EQ(m->height, 96u);
  EXPECT_EQ(m->openFlags & kOpenModeMask, 2u << 28);
  CloseMovie(m);
  m = OpenBytes(bytes, "mode.kiv", 4u << 28);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->width, 128u);
  EXPECT_EQ(m->height, 96u);
  CloseMovie(m);
}

TEST(OpenMovie, RevisionBitsAndRateOverride) {
  std::vector<uint8_t> bytes = test::FillerMovie(3);
  bytes[3] = 'g';
  SetFrameRate(50, 1);
  Movie* m = OpenBytes(bytes, "rate.kiv", kOpenRateOverride);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->openFlags & 0x18000u, 0x18000u);
  EXPECT_EQ(m->playRateNum, 50u);
  EXPECT_EQ(m->playRateDen, 1u);
  EXPECT_EQ(m->fileRateNum, 25u);
  CloseMovie(m);
  // The override was consumed.
  m = OpenBytes(bytes, "rate.kiv", kOpenRateOverride);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->playRateNum, 25u);
  CloseMovie(m);
}

TEST(OpenMovie, PreloadsAtNineTenthsWithoutAReaderThread) {
  std::vector<uint8_t> bytes = test::FillerMovie(40, 64, 48, 5, 3000);
  SetReadBufferSize(static_cast<uint32_t>(bytes.size()));
  Movie* m = OpenBytes(bytes, "preload.kiv", kOpenBufferSize);
  ASSERT_NE(m, nullptr);
  EXPECT_TRUE(m->openFlags & kOpenPreload);
  EXPECT_NE(m->preloaded, nullptr);
  EXPECT_EQ(ServiceThreadCount(), 0u);
  const uint32_t first = m->frameIndex[0] & ~1u;
  EXPECT_EQ(memcmp(m->preloaded, bytes.data() + first, bytes.size() - first), 0);
  CloseMovie(m);

  // The default ring holds one busy second: far from nine tenths here.
  m = OpenBytes(bytes, "preload.kiv", 0);
  ASSERT_NE(m, nullptr);
  EXPECT_FALSE(m->openFlags & kOpenPreload);
  EXPECT_EQ(m->preloaded, nullptr);
  EXPECT_EQ(ServiceThreadCount(), 1u);  // the reader thread
  EXPECT_EQ(m->io.buffered.load(), m->io.fillTarget.load());  // filled before returning
  CloseMovie(m);
  EXPECT_EQ(ServiceThreadCount(), 0u);

  m = OpenBytes(bytes, "preload.kiv", kOpenNoReader | kOpenNoFill);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(ServiceThreadCount(), 0u);
  EXPECT_EQ(m->io.buffered.load(), 0u);
  CloseMovie(m);
}

TEST(OpenMovie, FromMemoryAndFromAHandleInsideALargerFile) {
  std::vector<uint8_t> bytes = test::FillerMovie(4);
  std::vector<uint32_t> aligned((bytes.size() + 3) / 4);
  memcpy(aligned.data(), bytes.data(), bytes.size());
  Movie* m = OpenMovie(aligned.data(), kOpenMemory);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->frameIndex, aligned.data() + 11);
  EXPECT_EQ(m->frameData, reinterpret_cast<uint8_t*>(aligned.data()) + (m->frameIndex[0] & ~1u));
  CloseMovie(m);

  std::vector<uint8_t> file(5000, 0xEE);
  file.insert(file.end(), bytes.begin(), bytes.end());
  std::string path = test::WriteTestFile("inside.bin", file);
  os::FileHandle h = os::OpenFileRead(path.c_str(), true);
  ASSERT_NE(h, os::kNoFile);
  ASSERT_TRUE(os::SeekFile(h, 5000));
  m = OpenMovie(reinterpret_cast<const void*>(h), kOpenHandle);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->frameCount, 4u);
  EXPECT_EQ(m->frameData[1], 1);
  CloseMovie(m);
  // The borrowed handle stays open.
  EXPECT_TRUE(os::SeekFile(h, 0));
  os::CloseFile(h);
}

TEST(OpenMovie, AThousandOpensLeaveNothingBehind) {
  std::vector<uint8_t> bytes = test::FillerMovie(8);
  std::string path = test::WriteTestFile("many.kiv", bytes);
  for (int i = 0; i < 1000; ++i) {
    Movie* m = OpenMovie(path.c_str(), i % 3 == 0 ? kOpenPreload : 0);
    ASSERT_NE(m, nullptr);
    CloseMovie(m);
  }
  EXPECT_EQ(ServiceThreadCount(), 0u);
  CloseMovie(nullptr);
}

}  // namespace
}  // namespace kivo
