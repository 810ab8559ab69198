// SPDX-License-Identifier: BSD-2-Clause
// The summary text and the statistics line character for character, and the
// duration wording they use.
#include <gtest/gtest.h>

#include <string>

#include "player/summary_text.h"

namespace kivo {
namespace {

std::string Duration(uint32_t ms) {
  char text[64];
  FormatDuration(text, sizeof text, ms);
  return text;
}

TEST(SummaryText, DurationsNameTheTwoLargestUnits) {
  EXPECT_EQ(Duration(0), "0 milliseconds");
  EXPECT_EQ(Duration(1), "1 millisecond");
  EXPECT_EQ(Duration(999), "999 milliseconds");
  EXPECT_EQ(Duration(1500), "1 second");
  EXPECT_EQ(Duration(59999), "59 seconds");
  EXPECT_EQ(Duration(60000), "1 minute 0 seconds");
  EXPECT_EQ(Duration(61000), "1 minute 1 second");
  EXPECT_EQ(Duration(121000), "2 minutes 1 second");
  EXPECT_EQ(Duration(3599999), "59 minutes 59 seconds");
  EXPECT_EQ(Duration(3600000), "1 hour 0 minutes");
  EXPECT_EQ(Duration(3661000), "1 hour 1 minute");  // the seconds are dropped
  EXPECT_EQ(Duration(7260000), "2 hours 1 minute");
  EXPECT_EQ(Duration(0xFFFFFFFFu), "1193 hours 2 minutes");
}

TEST(SummaryText, TenthsAreWrittenWithOneDecimal) {
  char text[32];
  FormatTenths(text, sizeof text, 0);
  EXPECT_STREQ(text, "0.0");
  FormatTenths(text, sizeof text, 299);
  EXPECT_STREQ(text, "29.9");
  FormatTenths(text, sizeof text, 10000);
  EXPECT_STREQ(text, "1000.0");
}

MovieSummary Example() {
  MovieSummary s{};
  s.width = 320;
  s.height = 240;
  s.totalMs = 2000;
  s.fileRateNum = 25;
  s.fileRateDen = 1;
  s.playRateNum = 25;
  s.playRateDen = 1;
  s.openMs = 1;
  s.frameCount = 50;
  s.framesPlayed = 50;
  s.skippedBlits = 3;
  s.soundSkips = 1;
  s.videoMs = 500;
  s.audioMs = 125;
  s.blitMs = 40;
  s.readMs = 7;
  s.idleReadMs = 0;
  s.backgroundReadMs = 1999;
  s.deviceSpeed = 1000000;
  s.slowestMs = 17;
  s.slowestFrame = 3;
  s.secondSlowestMs = 0;
  s.secondSlowestFrame = 9;
  s.averageDataRate = 20000;
  s.averageFrameSize = 800;
  s.peakDataRate = 24000;
  s.peakDataFrame = 1;
  s.memoryUsed = 290320;
  s.inputMemory = 24576;
  s.inputMemoryUsed = 12000;
  return s;
}

std::string Summary(const MovieSummary& s) {
  char text[kSummaryTextSize];
  BuildSummaryText(text, sizeof text, s, "Memory buffer", 1024, 768, 32);
  return text;
}

TEST(SummaryText, TheWholeSummaryInItsFormat) {
  EXPECT_EQ(Summary(Example()),
            "Video: 320 x 240 at 25.0 frames/sec\n"
            "Total frames: 50\n"
            "\n"
            "Total frames played: 50\n"
            "Frame rate played: 25.0 frames/sec\n"
            "Frame rate obtained: 25.0 frames/sec\n"
            "Skipped frames: 0\n"
            "Skipped blits: 3\n"
            "Sound skips: 1\n"
            "\n"
            "Percentage spent decompressing video: 25.0\n"
            "Percentage spent decompressing audio: 6.2\n"
            "Percentage spent blitting: 2.0\n"
            "Percentage spent reading: 0.3\n"
            "Percentage spent reading while idle: 0.0\n"
            "Percentage spent reading in background: 99.9\n"
            "Speed of playback device: 1000000 bytes/sec\n"
            "\n"
            "Total playback time: 2 seconds\n"
            "Total open time: 1 millisecond\n"
            "Slowest frame: 3 (58.8 frames/sec)\n"
            "Second slowest frame: 9 (1000.0 frames/sec)\n"
            "\n"
            "Average data rate: 20000\n"
            "Average frame size: 800\n"
            "Peak data rate: 24000 bytes/sec (frame: 1)\n"
            "\n"
            "Total memory used: 290320\n"
            "Total input memory: 24576\n"
            "Highest input memory used: 12000\n"
            "\n"
            "Blitting style: Memory buffer\n"
            "Video mode: 1024 x 768 at 32 bits\n");
  // A fast device is never shown as a negative speed.
  MovieSummary fast = Example();
  fast.deviceSpeed = 2862960000u;
  EXPECT_NE(Summary(fast).find("\nSpeed of playback device: 2862960000 bytes/sec\n"), std::string::npos);
}

TEST(SummaryText, RatesAreCutNotRoundedAndOneFrameHasNoSecondSlowest) {
  MovieSummary s = Example();
  s.playRateNum = 30000;
  s.playRateDen = 1001;
  s.fileRateNum = 30000;
  s.fileRateDen = 1001;
  EXPECT_NE(Summary(s).find("\nFrame rate played: 29.9 frames/sec\n"), std::string::npos);
  EXPECT_EQ(Summary(s).rfind("Video: 320 x 240 at 29.9 frames/sec\n", 0), 0u);

  s.playRateNum = s.playRateDen = 0;  // /F alone
  EXPECT_NE(Summary(s).find("\nFrame rate played: As fast as possible\n"), std::string::npos);
  s.playRateNum = 25;  // one of the two set is not a rate either
  EXPECT_NE(Summary(s).find("\nFrame rate played: As fast as possible\n"), std::string::npos);

  s.framesPlayed = 1;
  EXPECT_NE(Summary(s).find("\nSlowest frame: 3 (58.8 frames/sec)\n\nAverage data rate: "), std::string::npos);
  EXPECT_EQ(Summary(s).find("Second slowest"), std::string::npos);

  // A coarse clock can give frames in no time at all: taken as 1 ms.
  s.totalMs = 0;
  EXPECT_NE(Summary(s).find("\nFrame rate obtained: 1000.0 frames/sec\n"), std::string::npos);
}

RealtimeStats Window() {
  RealtimeStats r{};
  r.lastFrame = 42;
  r.window = 25;
  r.spanMs = 1000;
  r.videoMs = 123;
  r.audioMs = 45;
  r.blitMs = 9;
  r.readMs = 30;
  r.idleReadMs = 20;
  r.backgroundReadMs = 999;
  r.fillTarget = 1000;
  r.buffered = 500;
  r.dataRate = 123456;
  return r;
}

std::string Line(const RealtimeStats& r) {
  char text[kStatsTextSize];
  BuildStatsLine(text, sizeof text, r);
  return text;
}

TEST(StatsLine, FiguresOverTheWindow) {
  EXPECT_EQ(Line(Window()),
            "Fr: 42, FPS: 25.0, Buf: 50%, Vid: 12%, Aud: 4%, Blit: 0%, Read: 5%, Back: 99%, Rate: 123456");
  RealtimeStats r = Window();
  r.window = 1;
  r.spanMs = 33;  // 30.3 frames a second
  EXPECT_EQ(Line(r).rfind("Fr: 42, FPS: 30.3, ", 0), 0u);
}

TEST(StatsLine, AnEmptyBufferShowsZeroOnlyForALargeTarget) {
  RealtimeStats r = Window();
  r.buffered = 0;
  r.fillTarget = 200;
  EXPECT_NE(Line(r).find(" Buf: 0%,"), std::string::npos);
  r.fillTarget = 199;
  EXPECT_NE(Line(r).find(" Buf: 1%,"), std::string::npos);
  r.fillTarget = 0;
  EXPECT_NE(Line(r).find(" Buf: 100%,"), std::string::npos);
  // Big buffers do not overflow the arithmetic.
  r.buffered = 64u << 20;
  r.fillTarget = 64u << 20;
  EXPECT_NE(Line(r).find(" Buf: 100%,"), std::string::npos);
}

TEST(StatsLine, TheSampleTextIsAsLongAsItsMeasuredPart) {
  EXPECT_EQ(std::string(kStatsSampleText).size(), kStatsSampleLength);
  // The longest line the figures can give still fits its buffer.
  RealtimeStats r{};
  r.lastFrame = r.window = r.videoMs = r.audioMs = r.blitMs = r.readMs = r.idleReadMs = r.backgroundReadMs =
      r.dataRate = r.buffered = 0xFFFFFFFFu;
  r.spanMs = 1;
  EXPECT_LT(Line(r).size(), kStatsTextSize - 1);
}

}  // namespace
}  // namespace kivo
