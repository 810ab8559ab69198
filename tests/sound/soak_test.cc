// SPDX-License-Identifier: BSD-2-Clause
// The soak: a looping movie with sound played for days on the virtual clock
// and device, checking as it goes that every frame's sound is heard where it
// belongs (the loop is gapless, so a frame's place in what the device played
// is known) and in step with its picture, and that memory stays flat. Run
// only on request: scripts/soak --virtual-days N (KIVO_SOAK_DAYS).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <string>
#include <vector>

#include "base/clock.h"
#include "io/service_thread.h"
#include "kivsync/offset_stats.h"
#include "movie/movie_api.h"
#include "movie/movie_sound.h"
#include "sound/sound_drivers.h"
#include "sound_test_support.h"
#include "support/virtual_clock.h"

namespace kivo {
namespace {

constexpr uint32_t kFrames = 250;          // a pass of 10.9 s
constexpr uint32_t kFrameBytes = 3840;     // one frame's sound, 22050 Hz stereo
constexpr uint32_t kNeedleAt = 1024;       // clear of the blend at a loop
constexpr uint32_t kNeedleBytes = 64;
constexpr double kFrameMs = 1000.0 * 32 / 735;

// What the device played, kept only as far back as the checks need, with
// when each run of it was heard.
struct Heard {
  struct Run {
    uint64_t at;
    double ms, perMs;
  };
  std::deque<uint8_t> bytes;
  uint64_t first = 0;  // stream offset of bytes.front()
  std::deque<Run> runs;
  double lastMs = -1;

  uint64_t end() const { return first + bytes.size(); }
  double HeardAt(uint64_t at) const {
    auto it = std::upper_bound(runs.begin(), runs.end(), at, [](uint64_t o, const Run& r) { return o < r.at; });
    if (it == runs.begin()) return -1;
    --it;
    return it->ms + double(at - it->at) / it->perMs;
  }
  void Forget(uint64_t before) {
    while (first < before && !bytes.empty()) bytes.pop_front(), ++first;
    while (runs.size() > 1 && runs[1].at <= before) runs.pop_front();
  }
};

void Record(void* context, uint32_t device, const uint8_t* bytes, uint32_t count, double heardMs, double perMs) {
  Heard* h = static_cast<Heard*>(context);
  if (device != 0) return;
  // The library clock wraps at 2^32 ms: times are kept on from there.
  if (h->lastMs < 0) h->lastMs = heardMs;
  while (heardMs < h->lastMs - 2147483648.0) heardMs += 4294967296.0;
  h->lastMs = heardMs;
  h->runs.push_back({h->end(), heardMs, perMs});
  h->bytes.insert(h->bytes.end(), bytes, bytes + count);
}

uint64_t ResidentKb() {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::strtoull(line.c_str() + 6, nullptr, 10);
  return 0;
}

struct VirtualSoak : test::VirtualSoundTest, ::testing::WithParamInterface<bool> {};

TEST_P(VirtualSoak, DISABLED_PicturesAndSoundStayInStepForDays) {
  const char* days = getenv("KIVO_SOAK_DAYS");
  const double virtualDays = days ? atof(days) : 0.01;
  ASSERT_EQ(SetSoundSystem(GetParam() ? SelectWaveOutDriver : SelectDirectSoundDriver, nullptr), 1);
  const test::SyncMovie movie = test::MakeSyncMovie(kFrames, {kFrames});
  Heard heard;
  SetVirtualSink(Record, &heard);
  // The foreground's service alone keeps the run deterministic; the thread
  // runs again and the movie closes also when a check fails half-way.
  struct Opened {
    Movie* m;
    ~Opened() {
      if (!m) return;
      StartServiceThread(SoundServiceThread());
      CloseMovie(m);
    }
  } opened{OpenMovie(movie.bytes.data(), kOpenMemory)};
  Movie* m = opened.m;
  ASSERT_NE(m, nullptr);
  SetMovieLooping(m, 1);
  PauseServiceThread(SoundServiceThread());

  struct Pending {
    uint64_t at;  // where the frame's needle must be heard
    uint32_t frame;
    double shownMs;
  };
  std::deque<Pending> pending;
  uint64_t base = UINT64_MAX;  // where frame 1's needle of the first pass was heard
  uint64_t pass = 0, frames = 0, wrong = 0;
  std::vector<double> offsets;
  double clockMs = GetMilliseconds(), worst = 0;
  uint32_t lastClock = GetMilliseconds();
  const uint64_t startKb = ResidentKb();
  uint64_t hourKb = startKb;
  const auto began = std::chrono::steady_clock::now();
  const uint64_t total = uint64_t(virtualDays * 86400000.0 / kFrameMs);
  const uint64_t hourFrames = uint64_t(3600000.0 / kFrameMs);

  for (uint64_t i = 0; i < total; ++i) {
    while (WaitFrame(m)) test::AdvanceClock(1);
    DoFrame(m);
    const uint32_t now = GetMilliseconds();
    clockMs += static_cast<int32_t>(now - lastClock);
    lastClock = now;
    const uint32_t f = m->currentFrame;
    const std::vector<uint8_t>& pcm = movie.pcm[0];
    if (base == UINT64_MAX && f == 1 && pass == 0) {
      // The first pass: frame 1 is found by its sound once it was played.
      pending.push_back({UINT64_MAX, f, clockMs});
    } else if (base != UINT64_MAX) {
      pending.push_back({base + pass * kFrames * kFrameBytes + uint64_t(f - 1) * kFrameBytes, f, clockMs});
    }
    ++frames;
    NextFrame(m);
    if (m->currentFrame == 1) ++pass;

    AdvanceVirtualDevices();
    while (!pending.empty()) {
      Pending& p = pending.front();
      const uint64_t frameAt = size_t(p.frame - 1) * kFrameBytes + kNeedleAt;
      if (p.at == UINT64_MAX) {
        // Frame 1 of the first pass: looked for in what was played so far.
        const std::vector<uint8_t> played(heard.bytes.begin(), heard.bytes.end());
        const std::vector<uint8_t> needle(pcm.begin() + long(frameAt), pcm.begin() + long(frameAt + 4096));
        const int64_t found = test::Find(played, needle);
        if (found < 0 && played.size() < 2 * 88200) break;  // not played yet
        ASSERT_GE(found, 0) << "frame 1's sound never heard";
        base = heard.first + uint64_t(found);
        // Frames shown meanwhile are placed now.
        for (size_t k = 1; k < pending.size(); ++k) pending[k].at = base + uint64_t(pending[k].frame - 1) * kFrameBytes;
        p.at = base;
      }
      if (heard.end() < p.at + kNeedleBytes) break;
      bool same = p.at >= heard.first;
      for (uint32_t k = 0; same && k < kNeedleBytes; ++k) same = heard.bytes[p.at - heard.first + k] == pcm[frameAt + k];
      if (!same) {
        if (wrong++ < 5) ADD_FAILURE() << "frame " << p.frame << " of pass " << pass << ": not its sound";
      } else {
        const double offset = p.shownMs - (heard.HeardAt(p.at) - kFrameMs * kNeedleAt / kFrameBytes);
        offsets.push_back(offset);
        if (pass > 0) worst = std::max(worst, std::fabs(offset));
      }
      pending.pop_front();
    }
    if (!pending.empty() && pending.front().at != UINT64_MAX) heard.Forget(std::min(pending.front().at, heard.end()));
    if (wrong > 5) break;

    if (frames % hourFrames == 0 || i + 1 == total) {
      const kivsync::OffsetStats st = kivsync::SummariseOffsets(offsets);
      const uint64_t kb = ResidentKb();
      const double real = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
      printf("soak %.2f h: %zu frames heard, median %.1f ms, 5%% %.1f, 95%% %.1f, worst %.1f; resident %llu kB "
             "(%+lld over the hour); %.0f s so far\n",
             double(frames) * kFrameMs / 3600000.0, st.count, st.median, st.p5, st.p95, worst,
             static_cast<unsigned long long>(kb), static_cast<long long>(kb - hourKb), real);
      fflush(stdout);
      EXPECT_LE(std::fabs(st.median), 4.0) << "hour ending at frame " << frames;
      EXPECT_GE(st.p5, -6.0);
      EXPECT_LE(st.p95, 6.0);
      // After the first hour (the allocator's own warm-up), memory stays put.
      if (frames > hourFrames) {
        EXPECT_LT(kb, hourKb + 1024) << "resident memory grew over the hour";
      }
      hourKb = kb;
      offsets.clear();
    }
  }
  EXPECT_EQ(m->soundSkips, 0u);
  EXPECT_EQ(wrong, 0u);
  printf("soak done: %.2f virtual days, %llu frames, %llu passes, resident %llu kB at the start and %llu at the end\n",
         double(frames) * kFrameMs / 86400000.0, static_cast<unsigned long long>(frames),
         static_cast<unsigned long long>(pass), static_cast<unsigned long long>(startKb),
         static_cast<unsigned long long>(ResidentKb()));
}

INSTANTIATE_TEST_SUITE_P(BothDrivers, VirtualSoak, ::testing::Bool(), [](const ::testing::TestParamInfo<bool>& p) {
  return std::string(p.param ? "BufferQueue" : "LoopingBuffer");
});

}  // namespace
}  // namespace kivo
