// SPDX-License-Identifier: BSD-2-Clause
// Picture against sound, frame by frame, on the virtual devices and clock,
// under both drivers: every frame's shown time against the time the device
// plays its first sample (device latency included), per pass, in each of the
// situations where playback starts, restarts or drifts, and while each
// counter of the frame cycle, the clock and the sound passes its wrap. One
// fixture; the situations are the rows of a table. KIVO_SYNC_REPORT=1 prints every
// stretch's figures (a failure prints them anyway).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_decoder.h"
#include "base/clock.h"
#include "encode/audio_encoder.h"
#include "encode/container_writer.h"
#include "io/service_thread.h"
#include "kivsync/offset_stats.h"
#include "movie/movie_api.h"
#include "movie/movie_sound.h"
#include "sound/sound_drivers.h"
#include "sound_test_support.h"
#include "support/virtual_clock.h"

namespace kivo {
namespace {

constexpr uint32_t kRate = 22050;
constexpr uint32_t kFrameSamples = 960;  // sample frames of one picture at 735/32 per second
constexpr uint32_t kFrameBytes = kFrameSamples * 4;
constexpr uint32_t kLeadFrames = 18;     // the encoder leads by 0.75 s
// Needles start this far into a frame's sound, clear of the blend with the
// block before (which differs after a seek or a loop).
constexpr uint32_t kNeedleAt = 1024;
constexpr uint32_t kNeedleBytes = 256;
constexpr uint32_t kMinuteFrames = 1378;  // a long pass is measured a minute at a time
constexpr uint32_t kSecondFrames = 23;

using test::MakeSyncMovie;
using test::SyncMovie;

enum class Event {
  kNone,
  kPause,      // paused for `eventMs`, then resumed
  kStall,      // the main loop and the sound service stop for `eventMs`
  kDeviceStall,  // the device takes nothing for `eventMs` while the movie plays on
  kGoto,       // GotoFrame(`eventTo`) instead of the next frame
  kNextMovie,  // the skip key: the movie closes and the next one opens
  kWrap,       // `counter` is moved to just below its wrap
};

// Counters that wrap in weeks of looping (or sooner), each started a little
// below its wrap. Wherever the schedule is concerned, the sound lock is busy
// on the frames around the wrap, so that following the sound cannot make up
// for a schedule gone wrong.
enum class Counter {
  kNone,
  kScheduleFrames,  // frames since the schedule's base, times 1000, pass 2^32
  kScheduleTime,    // the schedule passes 2^32 ms after its base
  kClock,           // the library clock passes 2^32 ms (set before the open)
  kSoundPositions,  // each track's stream positions and the device's byte counts pass 2^32
  kFrameCount,      // the count of frames decoded passes 2^32
};

struct Scenario {
  const char* name;
  uint32_t frames = 120;
  std::vector<uint32_t> blocks = {0};  // sound per track in pictures; 0 = as long as the picture
  uint32_t passes = 1;                 // loops over the movie
  Event event = Event::kNone;
  uint32_t eventFrame = 0, eventMs = 0, eventTo = 0;
  double speed = 100;                  // the device clock against the library clock, percent
  uint32_t latencyMs = 30;             // sound the device holds beyond its buffers
  int32_t rateNum = -1, rateDen = 1;   // a frame rate override (the sound follows it)
  uint32_t skips = 0;                  // sound skips the summary must count
  Counter counter = Counter::kNone;
  bool fromFile = false;               // read from a file (frame 1's sound kept apart) rather than memory
  // Bounds, just outside what playback achieves: the median offset of
  // picture against sound, and the 5 % and 95 % marks.
  double medianMs = 4, spreadMs = 6;
};

const Scenario kScenarios[] = {
    {.name = "Start"},
    {.name = "EveryPassAfterALoop", .passes = 3},
    {.name = "PauseAndResume", .frames = 160, .event = Event::kPause, .eventFrame = 40, .eventMs = 1000},
    // The looping buffer's service is missing for more than a lap: once it is
    // back nothing the buffer played before is heard again.
    {.name = "SoundSkipFromAStalledLoop", .event = Event::kStall, .eventFrame = 40, .eventMs = 1650, .skips = 1},
    // A minute without the program (a clock that jumps), or without the
    // device: in step again within a second of the stall's end.
    {.name = "ClockJumpsAMinute", .event = Event::kStall, .eventFrame = 40, .eventMs = 60000, .skips = 1},
    {.name = "DeviceStallsAMinute", .passes = 14, .event = Event::kDeviceStall, .eventFrame = 40, .eventMs = 60000},
    {.name = "NextMovie", .event = Event::kNextMovie, .eventFrame = 60},
    {.name = "GotoFrame", .frames = 160, .event = Event::kGoto, .eventFrame = 40, .eventTo = 80},
    {.name = "SeveralTracks", .blocks = {0, 0}, .passes = 2},
    {.name = "SoundAtAnotherRate", .passes = 2, .rateNum = 30},
    // Too little sound to lead the picture by the device's need: the picture
    // keeps ahead of it by what is missing.
    {.name = "TrackShorterThanTheInitialFill", .blocks = {7}, .passes = 2, .medianMs = 25, .spreadMs = 34},
    {.name = "TrackEndingBeforeThePicture", .blocks = {60}, .passes = 2, .spreadMs = 13},
    // What packets carry past the last picture is never heard at a loop.
    {.name = "TrackLongerThanThePicture", .blocks = {200}, .passes = 2},
    // An output that holds 100 ms, more than two frames: the next pass's
    // sound must reach it that much before the pass ends.
    {.name = "DeviceLatency", .passes = 3, .latencyMs = 100, .fromFile = true},
    // Ten minutes of picture, measured a minute at a time.
    {.name = "DeviceFast", .frames = 13800, .speed = 100.5},
    {.name = "DeviceSlow", .frames = 13800, .speed = 99.5},
    {.name = "ScheduleFramesWrap", .passes = 2, .event = Event::kWrap, .eventFrame = 40,
     .counter = Counter::kScheduleFrames},
    {.name = "ScheduleTimeWrap", .passes = 2, .event = Event::kWrap, .eventFrame = 40,
     .counter = Counter::kScheduleTime},
    {.name = "ClockWrap", .passes = 2, .counter = Counter::kClock},
    {.name = "SoundPositionsWrap", .passes = 2, .event = Event::kWrap, .eventFrame = 40,
     .counter = Counter::kSoundPositions},
    {.name = "FrameCountWrap", .passes = 2, .event = Event::kWrap, .eventFrame = 40,
     .counter = Counter::kFrameCount},
};

struct Param {
  const Scenario* scenario;
  bool queue;
};

// One stretch of playback measured on its own: a pass, or what follows an
// event.
struct Shown {
  uint32_t frame;    // 1-based movie frame
  uint32_t stretch;
  uint32_t settle;   // frames after a restart whose sound was lost with it
  double ms;
};

// Holds a movie's sound lock on a thread of its own, as the sound thread
// does while it feeds; lets go when it goes out of scope.
class LockHolder {
 public:
  explicit LockHolder(ServiceClient* client) : client_(client), thread_([this] { Run(); }) {}
  ~LockHolder() {
    {
      std::lock_guard<std::mutex> g(mutex_);
      want_ = -1;
    }
    changed_.notify_all();
    thread_.join();
  }
  // Returns once the lock is held (or released).
  void Hold(bool hold) {
    std::unique_lock<std::mutex> g(mutex_);
    want_ = hold;
    changed_.notify_all();
    changed_.wait(g, [&] { return held_ == want_; });
  }

 private:
  // The sound lock is taken and released outside mutex_, so that the two
  // are only ever taken in one order (the sound lock first).
  void Run() {
    for (;;) {
      int want = 0;
      {
        std::unique_lock<std::mutex> g(mutex_);
        changed_.wait(g, [&] { return want_ != held_; });
        want = want_;
      }
      if (want < 0) break;
      if (want)
        LockClient(client_);
      else
        UnlockClient(client_);
      {
        std::lock_guard<std::mutex> g(mutex_);
        held_ = want;
      }
      changed_.notify_all();
    }
    int held = 0;
    {
      std::lock_guard<std::mutex> g(mutex_);
      held = held_;
    }
    if (held == 1) UnlockClient(client_);
  }
  ServiceClient* client_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int want_ = 0, held_ = 0;
  std::thread thread_;
};

struct SyncTest : test::VirtualSoundTest, ::testing::WithParamInterface<Param> {
  const Scenario& row() const { return *GetParam().scenario; }

  void SetUp() override {
    VirtualSoundTest::SetUp();
    ASSERT_EQ(SetSoundSystem(GetParam().queue ? SelectWaveOutDriver : SelectDirectSoundDriver, nullptr), 1);
  }

  Movie* Open() {
    uint32_t flags = kOpenMemory;
    const uint32_t tracks = static_cast<uint32_t>(row().blocks.size());
    if (tracks > 1) {
      std::vector<uint32_t> ids;
      for (uint32_t t = 0; t < tracks; ++t) ids.push_back(t);
      SetSoundTracks(tracks, ids.data());
      flags |= kOpenSoundTracks;
    }
    if (row().rateNum > 0) {
      SetFrameRate(row().rateNum, row().rateDen);
      flags |= kOpenRateOverride;
    }
    Movie* m = nullptr;
    if (row().fromFile) {
      // Read ahead by the foreground alone, as deterministic as memory.
      const std::string path = ::testing::TempDir() + "sync_" + row().name + ".kiv";
      FILE* f = fopen(path.c_str(), "wb");
      EXPECT_TRUE(f && fwrite(movie.bytes.data(), 1, movie.bytes.size(), f) == movie.bytes.size());
      if (f) fclose(f);
      m = OpenMovie(path.c_str(), (flags & ~kOpenMemory) | kOpenNoReader);
      remove(path.c_str());
    } else {
      m = OpenMovie(movie.bytes.data(), flags);
    }
    EXPECT_NE(m, nullptr);
    if (!m) return nullptr;
    EXPECT_EQ(m->openTrackCount, tracks);
    // The sound thread would feed at real-time moments: the foreground's
    // service alone keeps the run deterministic.
    PauseServiceThread(SoundServiceThread());
    return m;
  }

  void Close(Movie* m) {
    StartServiceThread(SoundServiceThread());
    CloseMovie(m);
  }

  // The library clock, counted on past its wrap.
  double Now() {
    const uint32_t now = GetMilliseconds();
    clockMs += static_cast<int32_t>(now - lastClock);
    lastClock = now;
    return clockMs;
  }

  // Moves the schedule's base k frames back, and its time with it, so that
  // the frames stay due when they were.
  static void ShiftSchedule(Movie* m, uint32_t k) {
    const auto due = [m](uint64_t frames) { return frames * 1000 * m->playRateDen / m->playRateNum; };
    const uint64_t d = m->framesDecoded - m->clockBaseFrame;
    m->clockBaseFrame -= k;
    m->clockBase -= static_cast<uint32_t>(due(d + k) - due(d));
    if (m->clockBase == 0) m->clockBase = 1;
  }

  // Puts the row's counter a few frames below its wrap; the number of
  // frames to play with the sound lock busy.
  uint32_t NearWrap(Movie* m) {
    const uint32_t d = m->framesDecoded - m->clockBaseFrame;
    switch (row().counter) {
      case Counter::kScheduleFrames:
        ShiftSchedule(m, 0xFFFFFFFFu / 1000 - 3 - d);
        return 8;
      case Counter::kScheduleTime:
        ShiftSchedule(m, static_cast<uint32_t>(0xFFFFFFFFull * m->playRateNum / (1000ull * m->playRateDen)) - 3 - d);
        return 8;
      case Counter::kSoundPositions:
        for (uint32_t i = 0; i < m->openTrackCount; ++i) {
          SoundTrack& t = m->soundTracks[i];
          const uint64_t shift = 0x100000000ull - 20000 - t.streamWritten;
          t.streamWritten += shift;
          t.anchorPos += shift;
          const uint32_t queued = 0u - 20000 - t.state.queue.queuedBytes;
          if (GetParam().queue) {
            t.state.queue.queuedBytes += queued;
            ShiftVirtualPosition(VirtualDeviceCount() - m->openTrackCount + i, queued);
          }
        }
        return 0;
      case Counter::kFrameCount: {
        const uint32_t shift = 0u - 3 - m->framesDecoded;
        m->framesDecoded += shift;
        m->clockBaseFrame += shift;
        m->syncFrame += shift;
        for (uint32_t i = 0; i < m->openTrackCount; ++i) m->soundTracks[i].anchorFrame += shift;
        return 0;
      }
      default:
        return 0;
    }
  }

  // Plays the scenario and records when each frame was shown.
  void Play() {
    if (row().counter == Counter::kClock) test::AdvanceClock(0xFFFFFFFFu - GetMilliseconds() - 2500);
    lastClock = GetMilliseconds();
    clockMs = lastClock;
    Movie* m = Open();
    ASSERT_NE(m, nullptr);
    std::unique_ptr<LockHolder> holder;
    uint32_t busy = 0;
    frameMs = 1000.0 * m->playRateDen / m->playRateNum;
    const uint32_t total = row().frames * row().passes;
    uint32_t stretch = 0, settle = 0;
    bool eventDone = false;
    for (uint32_t i = 0; i < total; ++i) {
      // Every pass but the last goes on to frame 1.
      SetMovieLooping(m, i / row().frames + 1 < row().passes);
      if (busy) holder->Hold(true);
      // A schedule gone wrong may put the next frame days away: the run
      // stops there (the devices would play all that time into memory).
      uint32_t waited = 0;
      while (WaitFrame(m) && waited < 10000) {
        test::AdvanceClock(1), ++waited;
        if (deviceBack && static_cast<int32_t>(GetMilliseconds() - deviceBack) >= 0) {
          // Back in step within a second of the device coming back.
          SetVirtualSpeed(row().speed);
          deviceBack = 0;
          stallEnd = GetMilliseconds();
          afterStall = ++stretch;
          settle = kSecondFrames;
        }
      }
      if (busy) holder->Hold(false), --busy;
      if (waited == 10000) {
        ADD_FAILURE() << "frame " << m->currentFrame << " not due after 10 s";
        break;
      }
      DoFrame(m);
      CheckLate(m, 0);
      shown.push_back({m->currentFrame, stretch, settle, Now()});
      if (settle) --settle;
      if (i + 1 == total) break;
      const bool atEvent = !eventDone && row().event != Event::kNone && m->currentFrame == row().eventFrame;
      if (atEvent) {
        eventDone = true;
        ++stretch;
        switch (row().event) {
          case Event::kPause:
            PauseMovie(m, 1);
            for (uint32_t t = 0; t < row().eventMs; t += 5) {
              WaitFrame(m);
              test::AdvanceClock(5);
            }
            PauseMovie(m, 0);
            break;
          case Event::kStall:
            test::AdvanceClock(row().eventMs);
            stallEnd = GetMilliseconds();
            afterStall = stretch;
            // The sound thread comes back before the main loop does.
            for (int k = 0; k < 3; ++k) {
              SoundService(m);
              test::AdvanceClock(50);
            }
            settle = kLeadFrames + 2;
            break;
          case Event::kDeviceStall:
            SetVirtualSpeed(0);
            deviceBack = GetMilliseconds() + row().eventMs;
            settle = UINT32_MAX;  // nothing is heard until the device is back
            break;
          case Event::kGoto:
            GotoFrame(m, row().eventTo);
            settle = kLeadFrames + 2;
            continue;
          case Event::kNextMovie:
            skips += m->soundSkips;
            Close(m);
            nextMovieDevice = VirtualDeviceCount();
            nextMovieStretch = stretch;
            m = Open();
            ASSERT_NE(m, nullptr);
            continue;
          case Event::kWrap:
            busy = NearWrap(m);
            if (busy) holder = std::make_unique<LockHolder>(&m->soundClient);
            break;
          case Event::kNone:
            break;
        }
      }
      NextFrame(m);
      if (m->currentFrame == 1 || m->currentFrame % kMinuteFrames == 0) ++stretch;
    }
    // The device plays out what it holds.
    for (int i = 0; i < 60; ++i) {
      WaitFrame(m);
      test::AdvanceClock(20);
    }
    skips += m->soundSkips;
    skippedCopies += m->skippedBlits;
    holder.reset();
    Close(m);
  }

  // Where track t's sound was heard: what its devices played, in order of
  // opening (tracks open, and open again, in track order).
  struct Heard {
    std::vector<uint8_t> bytes;
    std::vector<std::pair<size_t, uint32_t>> parts;  // offset in bytes, device
    size_t nextMovieAt = SIZE_MAX;                    // where the next movie's sound begins
  };
  Heard HeardOf(uint32_t track) {
    Heard h;
    const uint32_t tracks = static_cast<uint32_t>(row().blocks.size());
    for (uint32_t d = track; d < VirtualDeviceCount(); d += tracks) {
      const std::vector<uint8_t> played = capture.Played(d);
      h.parts.push_back({h.bytes.size(), d});
      if (d >= nextMovieDevice && h.nextMovieAt == SIZE_MAX) h.nextMovieAt = h.bytes.size();
      h.bytes.insert(h.bytes.end(), played.begin(), played.end());
    }
    return h;
  }
  double HeardAt(const Heard& h, size_t at) {
    auto it = std::upper_bound(h.parts.begin(), h.parts.end(), std::make_pair(at, UINT32_MAX));
    --it;
    return capture.HeardAt(it->second, at - it->first);
  }

  SyncMovie movie;
  std::vector<Shown> shown;
  double frameMs = 0;
  uint32_t skips = 0, skippedCopies = 0;
  uint32_t stallEnd = 0, deviceBack = 0;
  uint32_t afterStall = UINT32_MAX;  // the stretch that begins when the stall ends
  uint32_t lastClock = 0;
  double clockMs = 0;
  // The next movie's devices, and its stretches, start here.
  uint32_t nextMovieDevice = UINT32_MAX, nextMovieStretch = UINT32_MAX;
};

TEST_P(SyncTest, PictureAndSoundStayInStep) {
  std::vector<uint32_t> blocks = row().blocks;
  for (uint32_t& b : blocks)
    if (!b) b = row().frames;
  movie = MakeSyncMovie(row().frames, blocks);
  SetVirtualSpeed(row().speed);
  SetVirtualLatency(row().latencyMs);
  Play();
  EXPECT_EQ(skips, row().skips) << "sound skips";
  EXPECT_EQ(skippedCopies, 0u) << "copies skipped as late";
  // A loop is gapless: frame 1 follows the last frame one frame later
  // (unless the sound is away).
  for (size_t i = 1; i < shown.size(); ++i) {
    if (shown[i].frame == 1 && shown[i - 1].frame == row().frames && !shown[i - 1].settle) {
      EXPECT_LE(shown[i].ms - shown[i - 1].ms, 2 * frameMs) << "the loop before stretch " << shown[i].stretch;
    }
  }

  std::string report;
  for (uint32_t t = 0; t < blocks.size(); ++t) {
    const Heard heard = HeardOf(t);
    const std::vector<uint8_t>& pcm = movie.pcm[t];
    const size_t window = kRate * 4 * 12;  // twelve seconds of sound
    size_t cursor = 0;
    // What the device played during a stall (a looping buffer goes round
    // and round) is not searched: the search goes on from the stall's end.
    size_t split = 0;
    if (stallEnd)
      while (split < heard.bytes.size() && HeardAt(heard, split) < stallEnd + 20.0) split += 64;
    std::vector<std::vector<double>> offsets;
    std::vector<uint32_t> frames, looked;
    std::vector<size_t> passStarts;  // where each pass's frame 1 is heard
    for (const Shown& s : shown) {
      if (offsets.size() <= s.stretch)
        offsets.resize(s.stretch + 1), frames.resize(s.stretch + 1), looked.resize(s.stretch + 1);
      ++frames[s.stretch];
      const size_t at = size_t(s.frame - 1) * kFrameBytes + kNeedleAt;
      if (s.settle || at + kNeedleBytes > pcm.size()) continue;
      ++looked[s.stretch];
      const std::vector<uint8_t> needle(pcm.begin() + long(at), pcm.begin() + long(at + kNeedleBytes));
      if (s.stretch >= afterStall) cursor = std::max(cursor, split);
      // A movie's sound is looked for only among its own devices.
      if (s.stretch >= nextMovieStretch) cursor = std::max(cursor, heard.nextMovieAt);
      size_t end = std::min(heard.bytes.size(), cursor + window);
      if (s.stretch < nextMovieStretch) end = std::min(end, heard.nextMovieAt);
      const auto found = std::search(heard.bytes.begin() + long(cursor), heard.bytes.begin() + long(end),
                                     std::boyer_moore_horspool_searcher(needle.begin(), needle.end()));
      if (found == heard.bytes.begin() + long(end)) continue;
      const size_t pos = size_t(found - heard.bytes.begin());
      cursor = pos + kNeedleBytes;
      if (s.frame == 1) passStarts.push_back(pos);
      // The needle's offset into the frame, at the rate the device plays.
      const double heardMs = HeardAt(heard, pos) - frameMs * kNeedleAt / kFrameBytes;
      offsets[s.stretch].push_back(s.ms - heardMs);
    }
    for (uint32_t k = 0; k < offsets.size(); ++k) {
      const kivsync::OffsetStats st = kivsync::SummariseOffsets(offsets[k]);
      char line[160];
      snprintf(line, sizeof line,
               "track %u stretch %u: %zu of %u frames heard (%u with sound), median %.1f ms, 5%% %.1f, 95%% %.1f\n", t,
               k, st.count, frames[k], looked[k], st.median, st.p5, st.p95);
      report += line;
      // Every frame with sound is heard, and heard in its time.
      const bool bad = st.count != looked[k] || std::fabs(st.median) > row().medianMs ||
                       st.p5 < -row().spreadMs || st.p95 > row().spreadMs;
      EXPECT_FALSE(bad) << line;
    }
    // Where the sound runs through a loop untouched, each pass is heard
    // byte for byte as decoded, the next one right behind it: nothing lost,
    // nothing put in (the next pass's first bytes blend with the last frame
    // and are left out).
    const bool untouched = row().event == Event::kNone || row().event == Event::kWrap;
    if (untouched && blocks[t] >= row().frames) {
      EXPECT_EQ(passStarts.size(), row().passes);
      const size_t pass = size_t(row().frames) * kFrameBytes;
      const size_t span = std::min(pass, pcm.size()) - kNeedleAt;
      for (size_t p = 0; p < passStarts.size(); ++p) {
        const size_t from = passStarts[p];
        ASSERT_LE(from + span, heard.bytes.size());
        EXPECT_TRUE(std::equal(pcm.begin() + kNeedleAt, pcm.begin() + long(kNeedleAt + span),
                               heard.bytes.begin() + long(from)))
            << "pass " << p + 1 << " not heard as decoded";
        if (p + 1 < passStarts.size()) {
          // The next pass follows without a pause (the device may play
          // silence through one, or just take the sound later), to within
          // a sample's time.
          const size_t gap = passStarts[p + 1] - from - pass;
          const double pauseMs =
              HeardAt(heard, passStarts[p + 1]) - HeardAt(heard, from) - row().frames * frameMs;
          EXPECT_TRUE(passStarts[p + 1] >= from + pass && test::AllZero(heard.bytes, from + span, from + span + gap) &&
                      pauseMs <= 1000.0 / kRate)
              << "the loop after pass " << p + 1 << ": " << int64_t(passStarts[p + 1] - from) - int64_t(pass)
              << " bytes more than a pass, " << pauseMs << " ms more";
        }
      }
    }
    // Sound the device had played before the stall is never heard again
    // once the service is back (a movie played once: a loop hears it again).
    if (stallEnd && row().passes == 1) {
      for (uint32_t f = 0; f + 1 < blocks[t]; ++f) {
        const size_t at = size_t(f) * kFrameBytes + kNeedleAt;
        const std::vector<uint8_t> needle(pcm.begin() + long(at), pcm.begin() + long(at + kNeedleBytes));
        const auto searcher = std::boyer_moore_horspool_searcher(needle.begin(), needle.end());
        const bool before = std::search(heard.bytes.begin(), heard.bytes.begin() + long(split), searcher) !=
                            heard.bytes.begin() + long(split);
        const bool after = std::search(heard.bytes.begin() + long(split), heard.bytes.end(), searcher) !=
                           heard.bytes.end();
        EXPECT_FALSE(before && after) << "frame " << f + 1 << "'s sound was heard again after the stall";
      }
    }
  }
  if (::testing::Test::HasFailure() || getenv("KIVO_SYNC_REPORT")) printf("%s", report.c_str());
}

std::vector<Param> AllParams() {
  std::vector<Param> params;
  for (const Scenario& s : kScenarios) {
    params.push_back({&s, true});
    params.push_back({&s, false});
  }
  return params;
}

INSTANTIATE_TEST_SUITE_P(BothDrivers, SyncTest, ::testing::ValuesIn(AllParams()),
                         [](const ::testing::TestParamInfo<Param>& p) {
                           return std::string(p.param.scenario->name) +
                                  (p.param.queue ? "_BufferQueue" : "_LoopingBuffer");
                         });

}  // namespace
}  // namespace kivo
