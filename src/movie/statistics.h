// SPDX-License-Identifier: BSD-2-Clause
// Playback statistics handed to the player: the summary of the whole
// playback so far (GetSummary) and the figures of a window of recent frames
// (GetRealtime), worked out from the history every decode records.
#pragma once

#include <cstdint>

#include "kivo/movie.h"  // MovieSummary, RealtimeStats, GetSummary, GetRealtime

namespace kivo {

// The running totals sampled at every decode, in the order of the history's
// samples.
enum HistoryFigure : uint32_t {
  kHistoryTime,            // when the decode began
  kHistoryVideo,           // milliseconds decoding pictures
  kHistoryAudio,           // milliseconds decoding sound
  kHistoryBlit,            // milliseconds the caller spent copying and showing
  kHistoryRead,            // milliseconds reading frames on the foreground
  kHistoryIdleRead,        // milliseconds reading ahead while waiting
  kHistoryBackgroundRead,  // milliseconds the reader thread read
  kHistoryFigures
};

// The history reaches one second of frames back, and never further than
// this many: a header claiming millions of frames a second gets a history
// of a sane size, since every decode shifts all of it.
constexpr uint32_t kMaxHistoryFrames = 1000;

// Each figure's samples of the last `frames` decodes and the one before,
// the newest first: frames + 1 each, so that a movie of one frame a second
// still has a sample to measure its newest frame from.
struct FrameHistory {
  uint32_t frames;  // the file's rate rounded, 1 to kMaxHistoryFrames
  uint32_t* samples[kHistoryFigures];
};

// How far back the history of a file with this rounded rate reaches.
uint32_t HistoryFrames(uint32_t roundedRate);
// Bytes of one figure's samples.
constexpr uint32_t HistorySampleBytes(uint32_t frames) { return (frames + 1) * 4; }
// Moves every figure's samples one frame back and puts `now` in front.
void RecordFrame(FrameHistory* history, const uint32_t (&now)[kHistoryFigures]);

}  // namespace kivo
