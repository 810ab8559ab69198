// SPDX-License-Identifier: BSD-2-Clause
// Several drivers reading ahead on one shared reader thread while the
// foreground reads frames, jumps, reads ahead itself, and closes and reopens
// drivers. Meant for the thread-sanitizer build; every frame is checked.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "io/io_driver.h"
#include "io/service_thread.h"
#include "io_test_files.h"

namespace kivo {
namespace {

struct Player {
  const test::TestMovie* movie = nullptr;
  IoDriver io{};
  std::vector<uint8_t> ring;
  uint32_t next = 1;  // frame to read next
  bool open = false;
};

uint32_t random32(uint32_t* state) {
  *state = *state * 1664525u + 1013904223u;
  return *state >> 8;
}

void OpenPlayer(Player* p, ServiceThread* thread, uint32_t ringChunks) {
  p->ring.assign(ringChunks * 4096, 0);
  ASSERT_TRUE(test::OpenTestDriver(&p->io, *p->movie, p->ring.data(), ringChunks * 4096));
  ASSERT_EQ(RegisterReaderClient(thread, &p->io), 1);
  InstallReaderLockHooks(&p->io);
  int32_t got;
  while ((got = p->io.ReadAhead(&p->io)) != 0) {
  }
  p->next = 1;
  p->open = true;
}

uint32_t ClosePlayer(Player* p, ServiceThread* thread, uint32_t flags) {
  uint32_t result = UnregisterClients(thread, &p->io.readerClient, nullptr, nullptr, flags);
  p->io.Close(&p->io);
  p->open = false;
  return result;
}

// `count` movies named <stem>0.kiv, <stem>1.kiv ..., of `frames` packets of
// base + (a spread hash) % (spread + spreadStep * m) bytes each.
std::vector<test::TestMovie> StressMovies(const char* stem, int count, uint32_t frames, uint32_t base, int shift,
                                          uint32_t spread, uint32_t spreadStep) {
  std::vector<test::TestMovie> movies;
  for (int m = 0; m < count; ++m) {
    std::vector<uint32_t> sizes;
    for (uint32_t i = 0; i < frames; ++i) sizes.push_back(base + (i * 2654435761u >> shift) % (spread + spreadStep * m));
    movies.push_back(test::MakeTestMovie(std::string(stem) + char('0' + m) + ".kiv", sizes));
  }
  return movies;
}

// A started reader thread with every movie open on it, the m-th with a ring
// of firstChunks + m chunks.
ServiceThread* StartPlayers(Player* players, const std::vector<test::TestMovie>& movies, uint32_t firstChunks) {
  ServiceThread* thread = CreateServiceThread(500);
  if (!thread) return nullptr;
  StartServiceThread(thread);
  for (size_t m = 0; m < movies.size(); ++m) {
    players[m].movie = &movies[m];
    OpenPlayer(&players[m], thread, firstChunks + uint32_t(m));
  }
  return thread;
}

TEST(ReaderThreadStress, ForegroundReadsJumpsAndClosesWhileTheThreadReadsAhead) {
  constexpr int kPlayers = 4;
  const std::vector<test::TestMovie> movies = StressMovies("io_stress", kPlayers, 160, 300, 7, 3000, 2000);
  Player players[kPlayers];
  ServiceThread* thread = StartPlayers(players, movies, 3);
  ASSERT_NE(thread, nullptr);

  uint32_t seed = 12345;
  std::vector<uint8_t> frame;
  int checked = 0;
  for (int op = 0; op < 6000; ++op) {
    Player& p = players[random32(&seed) % kPlayers];
    const test::TestMovie& movie = *p.movie;
    uint32_t choice = random32(&seed) % 100;
    if (!p.open) {
      OpenPlayer(&p, thread, 2 + random32(&seed) % 6);
      continue;
    }
    if (choice < 75 || choice >= 97) {
      if (choice >= 97) p.next = 1 + random32(&seed) % (movie.index.size() - 1);  // a jump
      uint32_t n = p.next;
      frame.resize(movie.Size(n));
      p.io.foregroundBusy.store(1);
      uint32_t got = p.io.ReadFrame(&p.io, n - 1, movie.Offset(n), frame.data(), movie.Size(n));
      p.io.foregroundBusy.store(0);
      ASSERT_EQ(got, movie.Size(n)) << "player " << (&p - players) << " frame " << n;
      ASSERT_EQ(memcmp(frame.data(), movie.Bytes(movie.Offset(n)), got), 0) << "frame " << n;
      p.next = n + 1 < movie.index.size() ? n + 1 : 1;
      ++checked;
    } else if (choice < 90) {
      // Reading while idle, as the frame cycle does.
      if (TryLockClient(&p.io.readerClient)) {
        p.io.ReadAhead(&p.io);
        UnlockClient(&p.io.readerClient);
      }
    } else if (choice < 94) {
      os::SleepMs(1);  // let the reader thread catch up
    } else {
      ClosePlayer(&p, thread, 0);
    }
  }
  EXPECT_GT(checked, 4000);
  uint32_t last = 0;
  for (Player& p : players)
    if (p.open) last = ClosePlayer(&p, thread, kDestroyEmptyThreads);
  EXPECT_EQ(last, kReaderThreadDestroyed);
}

// Frames lent in place are checked once at once and again after the reader
// thread has had the chance to run, as a decoder still reading them would:
// the thread must treat the lent packet as occupied.
TEST(ReaderThreadStress, FramesLentInPlaceStayIntactWhileTheThreadReadsAhead) {
  constexpr int kPlayers = 3;
  const std::vector<test::TestMovie> movies = StressMovies("io_lent", kPlayers, 120, 400, 9, 2500, 1500);
  Player players[kPlayers];
  ServiceThread* thread = StartPlayers(players, movies, 2);
  ASSERT_NE(thread, nullptr);

  uint32_t seed = 777;
  std::vector<uint8_t> spare;
  int lent = 0, waited = 0;
  for (int op = 0; op < 3000; ++op) {
    Player& p = players[random32(&seed) % kPlayers];
    const test::TestMovie& movie = *p.movie;
    if (!p.open) {
      OpenPlayer(&p, thread, 2 + random32(&seed) % 5);
      continue;
    }
    uint32_t choice = random32(&seed) % 100;
    if (choice < 2) {
      ClosePlayer(&p, thread, 0);
      continue;
    }
    if (choice < 5) p.next = 1 + random32(&seed) % (movie.index.size() - 1);
    const uint32_t n = p.next;
    spare.resize(movie.Size(n));
    uint32_t got = 0;
    p.io.foregroundBusy.store(1);
    const uint8_t* data = p.io.ReadFrameInPlace(&p.io, n - 1, movie.Offset(n), spare.data(), movie.Size(n), &got);
    ASSERT_EQ(got, movie.Size(n)) << "frame " << n;
    ASSERT_EQ(memcmp(data, movie.Bytes(movie.Offset(n)), got), 0) << "frame " << n;
    if (data != spare.data()) ++lent;
    if (choice < 40) {
      // Decoding takes a while: the thread wakes (every 2 ms) and tops up,
      // and the foreground reads ahead too, as the frame cycle does.
      const uint32_t before = p.io.bytesRead.load();
      for (int i = 0; i < 4 && p.io.bytesRead.load() == before; ++i) os::SleepMs(1);
      if (p.io.bytesRead.load() != before) ++waited;
      if (TryLockClient(&p.io.readerClient)) {
        p.io.ReadAhead(&p.io);
        UnlockClient(&p.io.readerClient);
      }
      ASSERT_EQ(memcmp(data, movie.Bytes(movie.Offset(n)), got), 0) << "frame " << n << " changed while lent";
    }
    p.io.foregroundBusy.store(0);
    p.next = n + 1 < movie.index.size() ? n + 1 : 1;
  }
  EXPECT_GT(lent, 1500);
  EXPECT_GT(waited, 200);  // the thread did read while frames were lent
  uint32_t last = 0;
  for (Player& p : players)
    if (p.open) last = ClosePlayer(&p, thread, kDestroyEmptyThreads);
  EXPECT_EQ(last, kReaderThreadDestroyed);
}

}  // namespace
}  // namespace kivo
