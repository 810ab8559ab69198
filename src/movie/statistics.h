// Playback statistics handed to the player: the summary of the whole
// playback so far and the figures of the last second of frames.
#pragma once

#include <cstdint>

#include "movie/movie.h"

namespace kivo {

struct MovieSummary {
  uint32_t width, height;
  uint32_t totalMs;
  uint32_t fileRateNum, fileRateDen;
  uint32_t playRateNum, playRateDen;
  uint32_t openMs;
  uint32_t frameCount;
  uint32_t framesPlayed;
  uint32_t framesSkipped;   // always 0: lateness skips copies, never frames
  uint32_t skippedBlits;
  uint32_t soundSkips;
  uint32_t blitMs;
  uint32_t readMs;
  uint32_t videoMs;
  uint32_t audioMs;
  uint32_t idleReadMs;
  uint32_t backgroundReadMs;
  uint32_t deviceSpeed;     // bytes per second
  uint32_t slowestMs, secondSlowestMs;
  uint32_t slowestFrame, secondSlowestFrame;
  uint32_t averageDataRate;
  uint32_t averageFrameSize;
  uint32_t memoryUsed;
  uint32_t inputMemory;
  uint32_t inputMemoryUsed;
  uint32_t peakDataRate;
  uint32_t peakDataFrame;   // from 1
};
static_assert(sizeof(MovieSummary) == 31 * 4, "the summary is 31 words");

struct RealtimeStats {
  uint32_t lastFrame;
  uint32_t playRateNum, playRateDen;
  uint32_t window;
  uint32_t spanMs;
  uint32_t videoMs, audioMs, readMs, idleReadMs, backgroundReadMs, blitMs;
  uint32_t fillTarget;
  uint32_t buffered;
  uint32_t dataRate;        // bytes per second over the window
};
static_assert(sizeof(RealtimeStats) == 14 * 4, "the realtime record is 14 words");

void GetSummary(Movie* movie, MovieSummary* summary);
// `window` frames (0 = one second of frames).
void GetRealtime(Movie* movie, RealtimeStats* stats, uint32_t window);

}  // namespace kivo
