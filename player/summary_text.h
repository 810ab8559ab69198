// SPDX-License-Identifier: BSD-2-Clause
// The player's two playback reports: the summary shown when it ends (/S) and
// the one-line statistics drawn above the picture (/Q), with the number
// formatting they share. Everything writes into caller buffers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kivo/movie.h"

namespace kivo {

constexpr char kSummaryCaption[] = "Kivo Playback Summary";
// Measured once per movie to size the statistics band (plus 8 pixels).
constexpr char kStatsSampleText[] =
    "Fre: 2000, FPS: 100.0, Buf: 100%, Vid: 55%, Aud: 55%, Blit: 55%, Read: 55%, Back: 55%, Rate: 1000000";
constexpr uint32_t kStatsSampleLength = 100;
constexpr size_t kSummaryTextSize = 2048;
constexpr size_t kStatsTextSize = 256;

// "2 hours 1 minute", "1 second", "0 milliseconds": the two largest units
// that apply, smaller remainders dropped.
void FormatDuration(char* out, size_t size, uint32_t ms);
// A value held in tenths as "12.5"; signed, the remainder taken as C does.
void FormatTenths(char* out, size_t size, int32_t tenths);

// The whole summary text. styleName and the screen figures come from the
// display buffer of the last movie.
void BuildSummaryText(char* out, size_t size, const MovieSummary& summary, const char* styleName,
                      uint32_t screenWidth, uint32_t screenHeight, uint32_t screenBits);

// The statistics line from GetRealtime's record.
void BuildStatsLine(char* out, size_t size, const RealtimeStats& stats);

}  // namespace kivo
