// SPDX-License-Identifier: BSD-2-Clause
// kivsync's output on Linux: SDL's disk audio output, which writes each
// period of sound to a file as it takes it, at real-time pace. The file's
// growth, watched from the main loop, says when each period was taken.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "sound_output.h"

namespace kivsync {

double NowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1e6;
}

// When the disk output's file grew, as the main loop saw it. The output
// starts its file afresh whenever its device opens again (the buffer-queue
// driver does at a restart): what it wrote is gathered as it comes.
struct Growth {
  double ms;
  uint64_t size;  // of the file
  uint64_t end;   // of everything written so far
};

struct SoundOutput {
  std::string path;
  uint32_t period = 0;  // bytes the output takes at a time
  double bytesPerMs = 0;
  std::vector<Growth> growth;
  std::vector<uint8_t> written;
  uint64_t fileStart = 0;  // where the present file begins in `written`
};

SoundOutput* OpenOutput(const OutputFormat& format, const std::string& heard, std::string* error) {
  if (!heard.empty()) {
    *error = "--heard is for the Windows build; here the sound goes to SDL's disk output";
    return nullptr;
  }
  // A period of about 25 ms, as a power of two.
  uint32_t samples = 256;
  while (samples < 4096 && samples * 40 < format.rate) samples *= 2;
  auto* out = new SoundOutput;
  out->path = (std::filesystem::temp_directory_path() / ("kivsync-" + std::to_string(getpid()) + ".raw")).string();
  out->period = samples * format.channels * 2;
  out->bytesPerMs = format.rate * format.channels * 2 / 1000.0;
  const std::string delay = std::to_string(samples * 1000 / format.rate);
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_AUDIO_DRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", out->path.c_str(), 1);
  if (!getenv("SDL_DISKAUDIODELAY")) setenv("SDL_DISKAUDIODELAY", delay.c_str(), 1);
  return out;
}

void PollOutput(SoundOutput* out) {
  struct stat st;
  if (stat(out->path.c_str(), &st) != 0) return;
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  const uint64_t have = out->written.size() - out->fileStart;
  if (size == have) return;
  if (size < have) out->fileStart = out->written.size();  // a new file
  if (FILE* f = fopen(out->path.c_str(), "rb")) {
    fseek(f, static_cast<long>(out->written.size() - out->fileStart), SEEK_SET);
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) out->written.insert(out->written.end(), buffer, buffer + n);
    fclose(f);
  }
  out->growth.push_back({NowMs(), out->written.size() - out->fileStart, out->written.size()});
}

bool FinishOutput(SoundOutput* out, std::string*) {
  PollOutput(out);
  return true;
}

const std::vector<uint8_t>& HeardBytes(const SoundOutput* out) { return out->written; }

// The output takes a period at a time and plays it over the period that
// follows; it writes what it took at once, but through a stdio buffer, which
// holds every other period back until the next one comes. So when the file
// grows, the last period in it was taken just then; the periods held back
// were taken in between, at the output's steady pace.
double HeardAt(const SoundOutput* out, uint64_t at) {
  const uint32_t period = out->period;
  const Growth* before = nullptr;
  for (const Growth& g : out->growth) {
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
          taken = g.ms - double((last - k) * period) / out->bytesPerMs;
        }
      }
      return taken + double(at - k * period) / out->bytesPerMs;
    }
    before = &g;
  }
  return -1;
}

std::string DescribeOutput(const SoundOutput* out) {
  return "heard: SDL's disk output, periods of " + std::to_string(out->period) + " bytes";
}

void CloseOutput(SoundOutput* out) {
  std::remove(out->path.c_str());
  delete out;
}

}  // namespace kivsync
