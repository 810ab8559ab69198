// SPDX-License-Identifier: BSD-2-Clause
// Picture against sound, frame by frame, on the virtual devices and clock,
// under both drivers: every frame's shown time against the time the device
// plays its first sample (device latency included), per pass, in each of the
// situations where playback starts, restarts or drifts. One fixture; the
// situations are the rows of a table. KIVO_SYNC_REPORT=1 prints every
// stretch's figures (a failure prints them anyway).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
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

struct SyncMovie {
  std::vector<uint8_t> bytes;
  std::vector<std::vector<uint8_t>> pcm;  // each track's whole sound, as decoded
};

void Collect(void* context, const int16_t* samples, uint32_t n) {
  auto* out = static_cast<std::vector<uint8_t>*>(context);
  const uint8_t* p = reinterpret_cast<const uint8_t*>(samples);
  out->insert(out->end(), p, p + n);
}

// Noise, `sound[t]` pictures long, for track t (id t), coded as the encoder
// codes it (the first frame leads by 0.75 s).
SyncMovie MakeSyncMovie(uint32_t frames, const std::vector<uint32_t>& sound) {
  encode::MovieLayout layout;
  layout.width = 64;
  layout.height = 48;
  layout.rateNum = 735;
  layout.rateDen = 32;
  SyncMovie movie;
  std::vector<encode::FramePacket> packets(frames);
  for (uint32_t t = 0; t < sound.size(); ++t) {
    encode::AudioTrackSettings settings;
    settings.rate = kRate;
    settings.channels = 2;
    settings.mode = encode::AudioMode::kDct;
    encode::AudioEncoder encoder;
    std::string error;
    if (!encode::OpenAudioEncoder(encoder, settings, layout.rateNum, layout.rateDen, &error)) ADD_FAILURE() << error;
    layout.tracks.push_back({encode::AudioTrackWord(settings), t});
    std::vector<int16_t> noise(size_t(sound[t]) * kFrameSamples * 2);
    uint32_t state = 12345 + t * 777;
    for (int16_t& v : noise) {
      state = state * 1664525u + 1013904223u;
      v = static_cast<int16_t>(static_cast<int32_t>(state >> 16) % 12000 - 6000);
    }
    encode::AddAudioInput(encoder, noise.data(), static_cast<uint32_t>(noise.size() / 2));
    encode::EndAudioInput(encoder);
    AudioDecoder* decoder = OpenAudioDecoder(kRate, 2, 1);
    movie.pcm.emplace_back();
    for (uint32_t f = 0; f < frames; ++f) {
      std::vector<uint8_t> audio;
      if (!encode::EncodeAudioFrame(encoder, audio, &error)) ADD_FAILURE() << error;
      if (!audio.empty())
        DecodeAudioChunk(decoder, audio.data(), static_cast<uint32_t>(audio.size()), Collect, &movie.pcm[t]);
      packets[f].audio.push_back(audio);
    }
    CloseAudioDecoder(decoder);
  }
  for (uint32_t f = 0; f < frames; ++f) {
    packets[f].key = f % 10 == 0;
    packets[f].video.assign(200, static_cast<uint8_t>(f));
  }
  movie.bytes = encode::BuildMovie(layout, packets);
  return movie;
}

enum class Event {
  kNone,
  kPause,      // paused for `eventMs`, then resumed
  kStall,      // the main loop and the sound service stop for `eventMs`
  kGoto,       // GotoFrame(`eventTo`) instead of the next frame
  kNextMovie,  // the skip key: the movie closes and the next one opens
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
};

const Scenario kScenarios[] = {
    {.name = "Start"},
    {.name = "EveryPassAfterALoop", .passes = 3},
    {.name = "PauseAndResume", .frames = 160, .event = Event::kPause, .eventFrame = 40, .eventMs = 1000},
    // The looping buffer's service is missing for more than a lap: once it is
    // back nothing the buffer played before is heard again.
    {.name = "SoundSkipFromAStalledLoop", .event = Event::kStall, .eventFrame = 40, .eventMs = 1650, .skips = 1},
    {.name = "NextMovie", .event = Event::kNextMovie, .eventFrame = 60},
    {.name = "GotoFrame", .frames = 160, .event = Event::kGoto, .eventFrame = 40, .eventTo = 80},
    {.name = "SeveralTracks", .blocks = {0, 0}, .passes = 2},
    {.name = "SoundAtAnotherRate", .passes = 2, .rateNum = 30},
    {.name = "TrackShorterThanTheInitialFill", .blocks = {7}, .passes = 2},
    {.name = "TrackEndingBeforeThePicture", .blocks = {60}, .passes = 2},
    // What packets carry past the last picture is never heard at a loop.
    {.name = "TrackLongerThanThePicture", .blocks = {200}, .passes = 2},
    {.name = "DeviceLatency", .passes = 2, .latencyMs = 100},
    // Ten minutes of picture, measured a minute at a time.
    {.name = "DeviceFast", .frames = 13800, .speed = 100.5},
    {.name = "DeviceSlow", .frames = 13800, .speed = 99.5},
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
    Movie* m = OpenMovie(movie.bytes.data(), flags);
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

  // Plays the scenario and records when each frame was shown.
  void Play() {
    Movie* m = Open();
    ASSERT_NE(m, nullptr);
    frameMs = 1000.0 * m->playRateDen / m->playRateNum;
    const uint32_t total = row().frames * row().passes;
    uint32_t stretch = 0, settle = 0;
    bool eventDone = false;
    for (uint32_t i = 0; i < total; ++i) {
      while (WaitFrame(m)) test::AdvanceClock(1);
      DoFrame(m);
      shown.push_back({m->currentFrame, stretch, settle, double(GetMilliseconds())});
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
            // The sound thread comes back before the main loop does.
            for (int k = 0; k < 3; ++k) {
              SoundService(m);
              test::AdvanceClock(50);
            }
            settle = kLeadFrames + 2;
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
  uint32_t skips = 0;
  uint32_t stallEnd = 0;
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
  // A loop is gapless: frame 1 follows the last frame one frame later.
  for (size_t i = 1; i < shown.size(); ++i) {
    if (shown[i].frame == 1 && shown[i - 1].frame == row().frames) {
      EXPECT_LE(shown[i].ms - shown[i - 1].ms, 2 * frameMs) << "the loop before stretch " << shown[i].stretch;
    }
  }

  std::string report;
  for (uint32_t t = 0; t < blocks.size(); ++t) {
    const Heard heard = HeardOf(t);
    const std::vector<uint8_t>& pcm = movie.pcm[t];
    const size_t window = kRate * 4 * 12;  // twelve seconds of sound
    size_t cursor = 0;
    std::vector<std::vector<double>> offsets;
    std::vector<uint32_t> frames;
    for (const Shown& s : shown) {
      if (offsets.size() <= s.stretch) offsets.resize(s.stretch + 1), frames.resize(s.stretch + 1);
      ++frames[s.stretch];
      const size_t at = size_t(s.frame - 1) * kFrameBytes + kNeedleAt;
      if (s.settle || at + kNeedleBytes > pcm.size()) continue;
      const std::vector<uint8_t> needle(pcm.begin() + long(at), pcm.begin() + long(at + kNeedleBytes));
      // A movie's sound is looked for only among its own devices.
      if (s.stretch >= nextMovieStretch) cursor = std::max(cursor, heard.nextMovieAt);
      size_t end = std::min(heard.bytes.size(), cursor + window);
      if (s.stretch < nextMovieStretch) end = std::min(end, heard.nextMovieAt);
      const auto found = std::search(heard.bytes.begin() + long(cursor), heard.bytes.begin() + long(end),
                                     std::boyer_moore_horspool_searcher(needle.begin(), needle.end()));
      if (found == heard.bytes.begin() + long(end)) continue;
      const size_t pos = size_t(found - heard.bytes.begin());
      cursor = pos + kNeedleBytes;
      // The needle's offset into the frame, at the rate the device plays.
      const double heardMs = HeardAt(heard, pos) - frameMs * kNeedleAt / kFrameBytes;
      offsets[s.stretch].push_back(s.ms - heardMs);
    }
    for (uint32_t k = 0; k < offsets.size(); ++k) {
      const kivsync::OffsetStats st = kivsync::SummariseOffsets(offsets[k]);
      char line[160];
      snprintf(line, sizeof line, "track %u stretch %u: %zu of %u frames heard, median %.1f ms, 5%% %.1f, 95%% %.1f\n", t,
               k, st.count, frames[k], st.median, st.p5, st.p95);
      report += line;
      const bool bad = st.count * 2 < std::min<size_t>(frames[k], blocks[t]) ||
                       std::fabs(st.median) > 40 || st.p5 < -80 || st.p95 > 80;
      EXPECT_FALSE(bad) << line;
    }
    // Sound the device had played before the stall is never heard again
    // once the service is back.
    if (stallEnd) {
      const double from = stallEnd + 20.0;
      size_t split = 0;
      while (split < heard.bytes.size() && HeardAt(heard, split) < from) split += 64;
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
