// SPDX-License-Identifier: BSD-2-Clause
// The summary and statistics texts, number for number as the user sees them.
#include "player/summary_text.h"

#include <cstdio>

namespace kivo {

namespace {

const char* Plural(uint32_t n) { return n == 1 ? "" : "s"; }

// value / divisor in tenths, the way every rate and share is cut (not rounded).
int32_t Tenths(uint64_t value, uint64_t divisor) {
  if (divisor == 0) divisor = 1;
  return static_cast<int32_t>(static_cast<uint32_t>(value / divisor));
}

// A slow frame's rate: 10000 / its milliseconds, 0 ms taken as 1.
int32_t SlowFrameRate(uint32_t ms) { return Tenths(10000, ms == 0 ? 1 : ms); }

int32_t AsInt(uint32_t v) { return static_cast<int32_t>(v); }

}  // namespace

void FormatDuration(char* out, size_t size, uint32_t ms) {
  if (ms < 1000) {
    snprintf(out, size, "%u millisecond%s", ms, Plural(ms));
  } else if (ms < 60000) {
    const uint32_t s = ms / 1000;
    snprintf(out, size, "%u second%s", s, Plural(s));
  } else if (ms < 3600000) {
    const uint32_t m = ms / 60000, s = (ms % 60000) / 1000;
    snprintf(out, size, "%u minute%s %u second%s", m, Plural(m), s, Plural(s));
  } else {
    const uint32_t h = ms / 3600000, m = (ms % 3600000) / 60000;
    snprintf(out, size, "%u hour%s %u minute%s", h, Plural(h), m, Plural(m));
  }
}

void FormatTenths(char* out, size_t size, int32_t tenths) {
  const int32_t whole = tenths / 10;
  const int32_t rest = tenths % 10;
  snprintf(out, size, "%i.%01i", whole, rest);
}

void BuildSummaryText(char* out, size_t size, const MovieSummary& s, const char* styleName,
                      uint32_t screenWidth, uint32_t screenHeight, uint32_t screenBits) {
  // A total of 0 ms with frames played only happens with a coarse clock:
  // taken as 1 ms rather than dividing by zero.
  const uint64_t total = s.totalMs == 0 ? 1 : s.totalMs;

  char fileRate[24], playRate[40], obtained[24], slowRate[24], secondRate[24];
  char shares[6][24], duration[48], openTime[48], secondLine[96];
  FormatTenths(fileRate, sizeof fileRate, Tenths(uint64_t(s.fileRateNum) * 10, s.fileRateDen));
  if (s.playRateNum != 0 && s.playRateDen != 0) {
    char rate[24];
    FormatTenths(rate, sizeof rate, Tenths(uint64_t(s.playRateNum) * 10, s.playRateDen));
    snprintf(playRate, sizeof playRate, "%s frames/sec", rate);
  } else {
    snprintf(playRate, sizeof playRate, "As fast as possible");
  }
  FormatTenths(obtained, sizeof obtained, Tenths(uint64_t(s.framesPlayed) * 10000, total));
  const uint32_t spent[6] = {s.videoMs, s.audioMs, s.blitMs, s.readMs, s.idleReadMs, s.backgroundReadMs};
  for (int i = 0; i < 6; ++i) FormatTenths(shares[i], sizeof shares[i], Tenths(uint64_t(spent[i]) * 1000, total));
  FormatDuration(duration, sizeof duration, s.totalMs);
  FormatDuration(openTime, sizeof openTime, s.openMs);
  FormatTenths(slowRate, sizeof slowRate, SlowFrameRate(s.slowestMs));
  secondLine[0] = 0;
  if (s.framesPlayed > 1) {
    FormatTenths(secondRate, sizeof secondRate, SlowFrameRate(s.secondSlowestMs));
    snprintf(secondLine, sizeof secondLine, "Second slowest frame: %i (%s frames/sec)\n", AsInt(s.secondSlowestFrame),
             secondRate);
  }

  snprintf(out, size,
           "Video: %i x %i at %s frames/sec\nTotal frames: %i\n\nTotal frames played: %i\nFrame rate played: %s\n"
           "Frame rate obtained: %s frames/sec\nSkipped frames: %i\nSkipped blits: %i\nSound skips: %i\n\n"
           "Percentage spent decompressing video: %s\nPercentage spent decompressing audio: %s\n"
           "Percentage spent blitting: %s\nPercentage spent reading: %s\nPercentage spent reading while idle: %s\n"
           "Percentage spent reading in background: %s\nSpeed of playback device: %u bytes/sec\n\n"
           "Total playback time: %s\nTotal open time: %s\nSlowest frame: %i (%s frames/sec)\n%s\n"
           "Average data rate: %i\nAverage frame size: %i\nPeak data rate: %i bytes/sec (frame: %i)\n\n"
           "Total memory used: %i\nTotal input memory: %i\nHighest input memory used: %i\n\n"
           "Blitting style: %s\nVideo mode: %i x %i at %i bits\n",
           AsInt(s.width), AsInt(s.height), fileRate, AsInt(s.frameCount), AsInt(s.framesPlayed), playRate, obtained,
           AsInt(s.framesSkipped), AsInt(s.skippedBlits), AsInt(s.soundSkips), shares[0], shares[1], shares[2],
           shares[3], shares[4], shares[5], unsigned(s.deviceSpeed), duration, openTime, AsInt(s.slowestFrame), slowRate,
           secondLine, AsInt(s.averageDataRate), AsInt(s.averageFrameSize), AsInt(s.peakDataRate),
           AsInt(s.peakDataFrame), AsInt(s.memoryUsed), AsInt(s.inputMemory), AsInt(s.inputMemoryUsed),
           styleName ? styleName : "", AsInt(screenWidth), AsInt(screenHeight), AsInt(screenBits));
}

void BuildStatsLine(char* out, size_t size, const RealtimeStats& r) {
  const uint64_t span = r.spanMs == 0 ? 1 : r.spanMs;
  const uint32_t f = static_cast<uint32_t>(uint64_t(r.window) * 10000 / span);
  const uint32_t buffered = static_cast<uint32_t>((uint64_t(r.buffered) + 1) * 1000 / (uint64_t(r.fillTarget) + 1));
  const uint32_t buf = (buffered + 5) / 10;
  auto share = [span](uint64_t ms) { return AsInt(static_cast<uint32_t>(ms * 100 / span)); };
  snprintf(out, size, "Fr: %i, FPS: %i.%0i, Buf: %i%%, Vid: %i%%, Aud: %i%%, Blit: %i%%, Read: %i%%, Back: %i%%, Rate: %i",
           AsInt(r.lastFrame), AsInt(f / 10), AsInt(f % 10), AsInt(buf), share(r.videoMs), share(r.audioMs),
           share(r.blitMs), share(uint64_t(r.readMs) + r.idleReadMs), share(r.backgroundReadMs), AsInt(r.dataRate));
}

}  // namespace kivo
