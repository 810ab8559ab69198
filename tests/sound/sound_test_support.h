// SPDX-License-Identifier: BSD-2-Clause
// Helpers of the sound tests: a movie record made by hand with the track
// table and sound records the sound side reads, a capture of what the
// virtual devices played, and PCM patterns that show order and loss.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "movie/movie.h"
#include "sound/sound_system.h"
#include "sound/sound_track.h"
#include "sound/virtual_device.h"

namespace kivo::test {

struct TrackSpec {
  uint32_t audioWord;
  uint32_t maxBytes;
  uint32_t id = 0;
};

// A Movie with just what the sound side reads: frame count, rates, the track
// table, the sound records and the selected-track list.
struct HandMovie {
  explicit HandMovie(const std::vector<TrackSpec>& tracks, uint32_t frames = 2612, uint32_t rateNum = 25,
                     uint32_t rateDen = 1, uint32_t recordCount = 0);
  Movie* operator->() { return movie.get(); }
  Movie* get() { return movie.get(); }
  SoundTrack& track(uint32_t i) { return records[i]; }
  // Opens record i with `open` and gives it a ring of `ringSize` bytes, as
  // a movie's open would; the movie then has i + 1 open tracks.
  bool Open(uint32_t i, SoundOpenFunction open, uint32_t rate, uint32_t bits, uint32_t channels,
            uint32_t ringSize = 69120);
  void Append(uint32_t i, const std::vector<uint8_t>& bytes);
  // SoundClose of every open track.
  void Close();

  std::unique_ptr<Movie> movie;
  std::vector<SoundTrack> records;
  std::vector<uint32_t> selected, maxBytes, words, ids;
  std::vector<std::vector<uint8_t>> rings;
};

// Bytes each virtual device played, by device number, and when each was
// heard. Install with Attach.
struct Capture {
  struct Run {
    size_t at;  // first byte's offset in the device's bytes
    double heardMs, bytesPerMs;
  };
  void Attach();
  std::vector<uint8_t> Played(uint32_t device);
  // When byte `offset` of what `device` played was heard (library clock,
  // counted on past its wrap).
  double HeardAt(uint32_t device, size_t offset);
  std::mutex lock;
  std::map<uint32_t, std::vector<uint8_t>> bytes;
  std::map<uint32_t, std::vector<Run>> runs;
  double lastHeardMs = -1;
};

// 16-bit PCM whose sample k is a function of (seed, k) that never repeats
// within 65536 samples and is never 0: an offset into it tells the position.
std::vector<uint8_t> Pattern(uint32_t bytes, uint32_t seed = 1);
// A movie of 64 x 48 at 735/32 frames per second with one 22050 Hz 16-bit
// stereo track (id 0) whose packets hold pattern bytes: one block per frame
// after a lead-in of eight in the first, the PCM decoded from them exactly
// one frame long. `pcm` is what the track decodes to, `frameStart[f]` where
// frame f + 1's part of it begins.
struct SoundMovie {
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> pcm;
  std::vector<size_t> frameStart;
};
SoundMovie MakeSoundMovie(uint32_t frames);

// Noise, `sound[t]` pictures long, for track t (id t) of a 64 x 48 movie at
// 735/32 frames per second, 22050 Hz stereo, coded as the encoder codes it
// (the first frame leads by 0.75 s); `pcm[t]` is track t's whole sound as
// decoded, frame f's part 3840 bytes at (f - 1) * 3840.
struct SyncMovie {
  std::vector<uint8_t> bytes;
  std::vector<std::vector<uint8_t>> pcm;
};
SyncMovie MakeSyncMovie(uint32_t frames, const std::vector<uint32_t>& sound);

// Where `needle` begins in `hay`, or -1.
int64_t Find(const std::vector<uint8_t>& hay, const std::vector<uint8_t>& needle);
bool AllZero(const std::vector<uint8_t>& bytes, size_t from, size_t to);

// Virtual devices and clock, reset around each test, sound system reset too.
struct VirtualSoundTest : ::testing::Test {
  void SetUp() override;
  void TearDown() override;
  Capture capture;
};

}  // namespace kivo::test
