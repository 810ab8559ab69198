// kivsync: how closely the picture keeps to the sound, measured end to end.
// It plays a movie through the library's public calls with SDL's disk audio
// output standing in for the sound card, notes when each frame is shown and
// when the output writes each period of sound, finds every frame's sound in
// what was written, and reports the offsets (shown minus heard) per stretch:
// the first pass, after a loop, after a pause. `kivsync make` makes a test
// movie (a moving bar over noise) with kivenc.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "kivo/audio.h"
#include "kivo/movie.h"
#include "kivo/sound.h"

namespace {

const char* const kUsage =
    "usage: kivsync [--queue] [--passes N] [--pause-ms MS] [--max-ms MS] MOVIE\n"
    "       kivsync make --kivenc PATH [--seconds N] OUT.kiv\n"
    "Plays MOVIE with its sound going to SDL's disk output and reports, for the\n"
    "first pass, the passes after a loop and the rest after a pause, the median\n"
    "and the 5th and 95th percentiles of (time a frame is shown) minus (time its\n"
    "first sample is heard), in milliseconds.\n"
    "\n"
    "  --queue        the buffer-queue driver (default: the looping buffer)\n"
    "  --passes N     passes over the movie, at least 3 (default 3)\n"
    "  --pause-ms MS  a pause halfway through the last pass (default 1000)\n"
    "  --max-ms MS    exit 1 when a median or percentile lies further out\n"
    "  make           writes a moving bar over noise with kivenc\n";

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
  const std::string command = "'" + kivenc + "' '" + base + ".y4m' --audio 0:'" + base + ".wav' --quiet -o '" + out + "'";
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

// When the disk output's file grew, as the main loop saw it. The output
// starts its file afresh whenever its device opens again (the buffer-queue
// driver does at a restart): what it wrote is gathered as it comes.
struct Growth {
  double ms;
  uint64_t size;  // of the file
  uint64_t end;   // of everything written so far
};

struct Recorder {
  std::string path;
  std::vector<Growth> growth;
  std::vector<uint8_t> written;
  uint64_t fileStart = 0;  // where the present file begins in `written`
  void Poll() {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return;
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    const uint64_t have = written.size() - fileStart;
    if (size == have) return;
    if (size < have) fileStart = written.size();  // a new file
    if (FILE* f = fopen(path.c_str(), "rb")) {
      fseek(f, static_cast<long>(written.size() - fileStart), SEEK_SET);
      uint8_t buffer[65536];
      size_t n;
      while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) written.insert(written.end(), buffer, buffer + n);
      fclose(f);
    }
    growth.push_back({double(kivo::GetMilliseconds()), written.size() - fileStart, written.size()});
  }
  void Wait(uint32_t ms) {
    const uint32_t until = kivo::GetMilliseconds() + ms;
    while (static_cast<int32_t>(kivo::GetMilliseconds() - until) < 0) {
      Poll();
      Sleep(1);
    }
  }
  // When byte `at` was heard. The output takes a period at a time and plays
  // it over the period that follows; it writes what it took at once, but
  // through a stdio buffer, which holds every other period back until the
  // next one comes. So when the file grows, the last period in it was taken
  // just then; the periods held back were taken in between, at the output's
  // steady pace.
  double HeardAt(uint64_t at, uint32_t period, double bytesPerMs) const {
    const Growth* before = nullptr;
    for (const Growth& g : growth) {
      if (g.size == 0 || g.size % period) continue;
      if (g.end > at) {
        // Periods counted in everything written; the file's start is one.
        const uint64_t k = at / period, last = g.end / period - 1;
        double taken = g.ms;
        if (last > k) {
          const bool sameFile = before && before->end - before->size == g.end - g.size;
          if (sameFile) {
            const uint64_t first = before->end / period - 1;
            taken = before->ms + (g.ms - before->ms) * double(k - first) / double(last - first);
          } else {
            taken = g.ms - double((last - k) * period) / bytesPerMs;
          }
        }
        return taken + double(at - k * period) / bytesPerMs;
      }
      before = &g;
    }
    return -1;
  }
};

struct Stats {
  size_t count = 0;
  double median = 0, p5 = 0, p95 = 0;
};

Stats Measure(std::vector<double> v) {
  Stats s;
  s.count = v.size();
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  auto at = [&](double q) { return v[static_cast<size_t>(std::lround(q * double(v.size() - 1)))]; };
  s.median = at(0.5);
  s.p5 = at(0.05);
  s.p95 = at(0.95);
  return s;
}

int Run(bool queue, uint32_t passes, uint32_t pauseMs, double maxMs, const std::string& moviePath) {
  using namespace kivo;
  // The track's format decides the output's period, and with it the pace the
  // disk output writes at (real time).
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
  uint32_t samples = 256;
  while (samples < 4096 && samples * 40 < track.sampleRate) samples *= 2;
  const std::string output =
      (std::filesystem::temp_directory_path() / ("kivsync-" + std::to_string(getpid()) + ".raw")).string();
  const std::string delay = std::to_string(samples * 1000 / track.sampleRate);
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_AUDIO_DRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", output.c_str(), 1);
  if (!getenv("SDL_DISKAUDIODELAY")) setenv("SDL_DISKAUDIODELAY", delay.c_str(), 1);
  if (!SetSoundSystem(queue ? SelectWaveOutDriver : SelectDirectSoundDriver, nullptr)) {
    fprintf(stderr, "kivsync: no SDL audio output\n");
    return 1;
  }
  if (track.id != 0) {
    SetSoundTracks(1, &track.id);
  }
  Movie* movie = OpenMovie(moviePath.c_str(), track.id != 0 ? kOpenSoundTracks : 0);
  if (!movie) {
    fprintf(stderr, "kivsync: %s: %s\n", moviePath.c_str(), GetErrorText());
    return 1;
  }
  MovieInfo info{};
  GetMovieInfo(movie, &info);
  if (info.openTrackCount == 0) {
    fprintf(stderr, "kivsync: the sound output did not open\n");
    CloseMovie(movie);
    return 1;
  }
  TrackDecoder* decoder = OpenTrackDecoder(movie, track.id);
  std::vector<uint8_t> pcm;
  Recorder recorder{output, {}, {}, 0};
  std::vector<Shown> shown;
  const uint32_t frames = info.frameCount;
  uint32_t stretch = 0;
  for (uint32_t pass = 0; pass < passes; ++pass) {
    if (pass == 1) stretch = 1;
    for (uint32_t f = 1; f <= frames; ++f) {
      while (WaitFrame(movie)) {
        recorder.Poll();
        Sleep(1);
      }
      if (pass == 0 && decoder) DecodeTrackAudio(decoder, movie, Collect, &pcm);
      DoFrame(movie);
      shown.push_back({f, stretch, double(GetMilliseconds())});
      recorder.Poll();
      if (pass + 1 == passes && f == frames / 2) {
        PauseMovie(movie, 1);
        recorder.Wait(pauseMs);
        PauseMovie(movie, 0);
        stretch = 2;
      }
      if (pass + 1 < passes || f < frames) NextFrame(movie);
    }
  }
  recorder.Wait(1500);  // the output plays out what it holds
  MovieSummary summary{};
  GetSummary(movie, &summary);
  if (decoder) CloseTrackDecoder(decoder);
  CloseMovie(movie);
  recorder.Poll();
  std::remove(output.c_str());
  const std::vector<uint8_t>& written = recorder.written;

  // Each frame's sound, found in what the output wrote, in order.
  const uint32_t frameBytes = static_cast<uint32_t>(uint64_t(track.sampleRate) * info.fileRateDen / info.fileRateNum) *
                              track.channels * 2;
  const double bytesPerMs = track.sampleRate * track.channels * 2 / 1000.0;
  const uint32_t period = samples * track.channels * 2;
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
    // pause, a restart); what is not there was never heard.
    const auto to = written.begin() + long(std::min(written.size(), cursor + size_t(bytesPerMs * 2000)));
    const auto hit = std::search(from, to, std::boyer_moore_horspool_searcher(pcm.begin() + long(at),
                                                                               pcm.begin() + long(at + needle)));
    if (hit == to) continue;
    const size_t pos = size_t(hit - written.begin());
    cursor = pos + needle;
    const double heard = recorder.HeardAt(pos, period, bytesPerMs) - needleAt / bytesPerMs;
    offsets[s.stretch].push_back(s.ms - heard);
  }
  const char* names[3] = {"first pass", "after a loop", "after a pause"};
  printf("%s driver, %u frames at %u/%u per second, %u Hz %u-channel sound, %u passes, a %u ms pause\n",
         queue ? "buffer-queue" : "looping-buffer", frames, info.fileRateNum, info.fileRateDen, track.sampleRate,
         track.channels, passes, pauseMs);
  printf("%-14s %13s %9s %9s %9s   (ms, picture minus sound)\n", "stretch", "heard/shown", "median", "5%", "95%");
  bool within = true;
  for (int k = 0; k < 3; ++k) {
    const Stats st = Measure(offsets[k]);
    printf("%-14s %6zu/%-6zu %9.1f %9.1f %9.1f\n", names[k], st.count, shownIn[k], st.median, st.p5, st.p95);
    if (st.count * 2 < shownIn[k] || std::fabs(st.median) > maxMs || std::fabs(st.p5) > maxMs || std::fabs(st.p95) > maxMs)
      within = false;
  }
  printf("sound skips: %u\n", summary.soundSkips);
  if (maxMs < 1e9 && !within) {
    fprintf(stderr, "kivsync: an offset lies beyond %.0f ms\n", maxMs);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
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
  std::string movie;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--queue") queue = true;
    else if (args[i] == "--passes" && i + 1 < args.size() && number(args[i + 1], &passes) && passes >= 3) ++i;
    else if (args[i] == "--pause-ms" && i + 1 < args.size() && number(args[i + 1], &pauseMs)) ++i;
    else if (args[i] == "--max-ms" && i + 1 < args.size() && number(args[i + 1], &maxMs)) ++i;
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
  return Run(queue, static_cast<uint32_t>(passes), static_cast<uint32_t>(pauseMs), maxMs, movie);
}
