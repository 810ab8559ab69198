// SPDX-License-Identifier: BSD-2-Clause
// kivsync: how closely the picture keeps to the sound, measured end to end.
// It plays a movie through the library's public calls, notes when each frame
// is shown, finds every frame's sound in what the output heard (sound_output.h
// says how, per platform), and reports the offsets (shown minus heard) per
// stretch: the first pass, after a loop, after a pause. `kivsync make` makes a
// test movie (a moving bar over noise) with kivenc.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "kivo/audio.h"
#include "kivo/movie.h"
#include "kivo/sound.h"
#include "offset_stats.h"
#include "sound_output.h"

namespace kivsync {
namespace {

const char* const kUsage =
    "usage: kivsync [--queue] [--passes N] [--pause-ms MS] [--max-ms MS] [--heard PREFIX] MOVIE\n"
    "       kivsync make --kivenc PATH [--seconds N] OUT.kiv\n"
    "Plays MOVIE and reports, for the first pass, the passes after a loop and\n"
    "the rest after a pause, the median and the 5th and 95th percentiles of\n"
    "(time a frame is shown) minus (time its first sample is heard), in\n"
    "milliseconds. On Linux the sound goes to SDL's disk output; the Windows\n"
    "build plays to the system's output and runs under scripts/wine-sync, which\n"
    "records what the host hears.\n"
    "\n"
    "  --queue         the buffer-queue driver (default: the looping buffer)\n"
    "  --passes N      passes over the movie, at least 3 (default 3)\n"
    "  --pause-ms MS   a pause halfway through the last pass (default 1000)\n"
    "  --max-ms MS     exit 1 when a median or percentile lies further out\n"
    "  --heard PREFIX  (Windows) the host's recording, PREFIX.raw and PREFIX.times\n"
    "  make            writes a moving bar over noise with kivenc\n";

void Sleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

void Put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

// A moving bar (64 x 48 at 25 per second) over stereo noise at 22050 Hz.
int Make(const std::string& kivenc, uint32_t seconds, const std::string& out) {
  const uint32_t frames = seconds * 25, rate = 22050;
  std::string y4m = "YUV4MPEG2 W64 H48 F25:1 Ip A1:1 C420jpeg\n";
  std::vector<uint8_t> video(y4m.begin(), y4m.end());
  for (uint32_t f = 0; f < frames; ++f) {
    const char* head = "FRAME\n";
    video.insert(video.end(), head, head + 6);
    for (uint32_t y = 0; y < 48; ++y)
      for (uint32_t x = 0; x < 64; ++x) video.push_back((x + 64 - f % 64) % 64 < 8 ? 235 : 16);
    video.insert(video.end(), 2 * 32 * 24, 128);
  }
  std::vector<uint8_t> wave;
  const uint32_t samples = seconds * rate;
  const char* riff = "RIFF";
  wave.insert(wave.end(), riff, riff + 4);
  Put32(wave, 36 + samples * 4);
  const char* fmt = "WAVEfmt ";
  wave.insert(wave.end(), fmt, fmt + 8);
  Put32(wave, 16);
  Put32(wave, 0x00020001);  // PCM, two channels
  Put32(wave, rate);
  Put32(wave, rate * 4);
  Put32(wave, 0x00100004);  // block of 4 bytes, 16 bits
  const char* data = "data";
  wave.insert(wave.end(), data, data + 4);
  Put32(wave, samples * 4);
  uint32_t state = 2463534242u;
  for (uint32_t i = 0; i < samples * 2; ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    const int16_t v = static_cast<int16_t>(static_cast<int32_t>(state % 16000) - 8000);
    wave.push_back(static_cast<uint8_t>(v));
    wave.push_back(static_cast<uint8_t>(v >> 8));
  }
  const std::string base = out + ".source";
  if (!WriteFile(base + ".y4m", video) || !WriteFile(base + ".wav", wave)) {
    fprintf(stderr, "kivsync: cannot write %s.y4m/.wav\n", base.c_str());
    return 1;
  }
#ifdef _WIN32
  // The command interpreter takes off one pair of quotes round the whole line.
  const std::string q = "\"", command = "\"" + q + kivenc + q + " " + q + base + ".y4m" + q + " --audio 0:" + q + base +
                                         ".wav" + q + " --quiet -o " + q + out + q + "\"";
#else
  const std::string command = "'" + kivenc + "' '" + base + ".y4m' --audio 0:'" + base + ".wav' --quiet -o '" + out + "'";
#endif
  const int status = system(command.c_str());
  std::remove((base + ".y4m").c_str());
  std::remove((base + ".wav").c_str());
  if (status != 0) {
    fprintf(stderr, "kivsync: kivenc failed (%s)\n", command.c_str());
    return 1;
  }
  return 0;
}

void Collect(void* context, const int16_t* samples, uint32_t bytes) {
  auto* pcm = static_cast<std::vector<uint8_t>*>(context);
  const uint8_t* p = reinterpret_cast<const uint8_t*>(samples);
  pcm->insert(pcm->end(), p, p + bytes);
}

struct Shown {
  uint32_t frame, stretch;
  double ms;
};

void Wait(SoundOutput* output, double ms) {
  const double until = NowMs() + ms;
  while (NowMs() < until) {
    PollOutput(output);
    Sleep(1);
  }
}

int Run(bool queue, uint32_t passes, uint32_t pauseMs, double maxMs, const std::string& heardPrefix,
        const std::string& moviePath) {
  using namespace kivo;
  Movie* probe = OpenMovie(moviePath.c_str(), 0);
  if (!probe) {
    fprintf(stderr, "kivsync: %s: %s\n", moviePath.c_str(), GetErrorText());
    return 1;
  }
  TrackInfo track{};
  bool found = false;
  for (uint32_t i = 0; GetTrackInfo(probe, i, &track); ++i)
    if (track.playable && track.bits == 16) {
      found = true;
      break;
    }
  CloseMovie(probe);
  if (!found) {
    fprintf(stderr, "kivsync: %s has no 16-bit sound track to measure\n", moviePath.c_str());
    return 1;
  }
  std::string error;
  SoundOutput* output = OpenOutput({track.sampleRate, track.channels}, heardPrefix, &error);
  if (!output) {
    fprintf(stderr, "kivsync: %s\n", error.c_str());
    return 1;
  }
  if (const char* device = getenv("KIVO_SOUND_DEVICE"); device && device[0] && !UseSoundDevice(device)) {
    fprintf(stderr, "kivsync: KIVO_SOUND_DEVICE: no sound device \"%s\"\n", device);
    CloseOutput(output);
    return 1;
  }
  if (!SetSoundSystem(queue ? SelectBufferQueueDriver : SelectLoopingBufferDriver, nullptr)) {
    fprintf(stderr, "kivsync: no sound output\n");
    CloseOutput(output);
    return 1;
  }
  if (track.id != 0) {
    SetSoundTracks(1, &track.id);
  }
  Movie* movie = OpenMovie(moviePath.c_str(), track.id != 0 ? kOpenSoundTracks : 0);
  if (!movie) {
    fprintf(stderr, "kivsync: %s: %s\n", moviePath.c_str(), GetErrorText());
    CloseOutput(output);
    return 1;
  }
  MovieInfo info{};
  GetMovieInfo(movie, &info);
  if (info.openTrackCount == 0) {
    fprintf(stderr, "kivsync: the sound output did not open\n");
    CloseMovie(movie);
    CloseOutput(output);
    return 1;
  }
  TrackDecoder* decoder = OpenTrackDecoder(movie, track.id);
  std::vector<uint8_t> pcm;
  std::vector<Shown> shown;
  const uint32_t frames = info.frameCount;
  uint32_t stretch = 0;
  for (uint32_t pass = 0; pass < passes; ++pass) {
    if (pass == 1) stretch = 1;
    SetMovieLooping(movie, pass + 1 < passes);
    for (uint32_t f = 1; f <= frames; ++f) {
      while (WaitFrame(movie)) {
        PollOutput(output);
        Sleep(1);
      }
      if (pass == 0 && decoder) DecodeTrackAudio(decoder, movie, Collect, &pcm);
      DoFrame(movie);
      shown.push_back({f, stretch, NowMs()});
      PollOutput(output);
      if (pass + 1 == passes && f == frames / 2) {
        PauseMovie(movie, 1);
        Wait(output, pauseMs);
        PauseMovie(movie, 0);
        stretch = 2;
      }
      if (pass + 1 < passes || f < frames) NextFrame(movie);
    }
  }
  Wait(output, 1500);  // the output plays out what it holds
  MovieSummary summary{};
  GetSummary(movie, &summary);
  if (decoder) CloseTrackDecoder(decoder);
  CloseMovie(movie);
  if (!FinishOutput(output, &error)) {
    fprintf(stderr, "kivsync: %s\n", error.c_str());
    CloseOutput(output);
    return 1;
  }
  const std::vector<uint8_t>& written = HeardBytes(output);

  // Each frame's sound, found in what the output wrote, in order.
  const uint32_t frameBytes = static_cast<uint32_t>(uint64_t(track.sampleRate) * info.fileRateDen / info.fileRateNum) *
                              track.channels * 2;
  const double bytesPerMs = track.sampleRate * track.channels * 2 / 1000.0;
  const size_t needleAt = 1024, needle = 256;
  size_t cursor = 0;
  std::vector<std::vector<double>> offsets(3);
  std::vector<size_t> shownIn(3);
  for (const Shown& s : shown) {
    ++shownIn[s.stretch];
    const size_t at = size_t(s.frame - 1) * frameBytes + needleAt;
    if (at + needle > pcm.size()) continue;
    const auto from = written.begin() + long(std::min(cursor, written.size()));
    // A frame's sound lies at most two seconds past the last one found (a
    // pause, a restart); what is not there was never heard. The first is
    // looked for everywhere: a recording may start well before the program.
    const size_t window = cursor ? size_t(bytesPerMs * 2000) : written.size();
    const auto to = written.begin() + long(std::min(written.size(), cursor + window));
    const auto hit = std::search(from, to, std::boyer_moore_horspool_searcher(pcm.begin() + long(at),
                                                                               pcm.begin() + long(at + needle)));
    if (hit == to) continue;
    const size_t pos = size_t(hit - written.begin());
    cursor = pos + needle;
    const double heard = HeardAt(output, pos) - needleAt / bytesPerMs;
    offsets[s.stretch].push_back(s.ms - heard);
  }
  const char* names[3] = {"first pass", "after a loop", "after a pause"};
  printf("%s driver, %u frames at %u/%u per second, %u Hz %u-channel sound, %u passes, a %u ms pause\n",
         queue ? "buffer-queue" : "looping-buffer", frames, info.fileRateNum, info.fileRateDen, track.sampleRate,
         track.channels, passes, pauseMs);
  printf("%-14s %13s %9s %9s %9s   (ms, picture minus sound)\n", "stretch", "heard/shown", "median", "5%", "95%");
  bool within = true;
  for (int k = 0; k < 3; ++k) {
    const OffsetStats st = SummariseOffsets(offsets[k]);
    printf("%-14s %6zu/%-6zu %9.1f %9.1f %9.1f\n", names[k], st.count, shownIn[k], st.median, st.p5, st.p95);
    if (st.count * 2 < shownIn[k] || std::fabs(st.median) > maxMs || std::fabs(st.p5) > maxMs || std::fabs(st.p95) > maxMs)
      within = false;
  }
  printf("sound skips: %u\n%s\n", summary.soundSkips, DescribeOutput(output).c_str());
  CloseOutput(output);
  if (maxMs < 1e9 && !within) {
    fprintf(stderr, "kivsync: an offset lies beyond %.0f ms\n", maxMs);
    return 1;
  }
  return 0;
}

}  // namespace
}  // namespace kivsync

int main(int argc, char** argv) {
  using namespace kivsync;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "-h" || args[0] == "--help") {
    fputs(kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? 1 : 0;
  }
  auto number = [](const std::string& text, double* value) {
    char* end = nullptr;
    *value = strtod(text.c_str(), &end);
    return !text.empty() && end && *end == 0 && *value >= 0;
  };
  if (args[0] == "make") {
    std::string kivenc, out;
    double seconds = 4;
    for (size_t i = 1; i < args.size(); ++i) {
      if (args[i] == "--kivenc" && i + 1 < args.size()) kivenc = args[++i];
      else if (args[i] == "--seconds" && i + 1 < args.size() && number(args[i + 1], &seconds) && seconds >= 1) ++i;
      else if (out.empty() && args[i][0] != '-') out = args[i];
      else {
        fprintf(stderr, "kivsync: unknown or incomplete switch %s\n%s", args[i].c_str(), kUsage);
        return 1;
      }
    }
    if (kivenc.empty() || out.empty()) {
      fputs(kUsage, stderr);
      return 1;
    }
    return Make(kivenc, static_cast<uint32_t>(seconds), out);
  }
  bool queue = false;
  double passes = 3, pauseMs = 1000, maxMs = 1e18;
  std::string movie, heard;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--queue") queue = true;
    else if (args[i] == "--passes" && i + 1 < args.size() && number(args[i + 1], &passes) && passes >= 3) ++i;
    else if (args[i] == "--pause-ms" && i + 1 < args.size() && number(args[i + 1], &pauseMs)) ++i;
    else if (args[i] == "--max-ms" && i + 1 < args.size() && number(args[i + 1], &maxMs)) ++i;
    else if (args[i] == "--heard" && i + 1 < args.size()) heard = args[++i];
    else if (movie.empty() && args[i][0] != '-') movie = args[i];
    else {
      fprintf(stderr, "kivsync: unknown or incomplete switch %s\n%s", args[i].c_str(), kUsage);
      return 1;
    }
  }
  if (movie.empty()) {
    fputs(kUsage, stderr);
    return 1;
  }
  return Run(queue, static_cast<uint32_t>(passes), static_cast<uint32_t>(pauseMs), maxMs, heard, movie);
}
