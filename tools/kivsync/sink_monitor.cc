// kivsync's output on Windows: the system's own output (waveOut or
// DirectSound, as the driver chooses). What reaches the host's speaker is
// recorded outside the program: scripts/wine-sync runs it under Wine with a
// sound server of its own and records the server's sink as it plays, noting
// on the host's raw monotonic clock when each piece of the recording came.
// Wine's performance counter runs on that clock, so the two meet.
#include <windows.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "sound_output.h"

namespace kivsync {

double NowMs() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return double(f.QuadPart);
  }();
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return double(c.QuadPart) * 1000.0 / frequency;
}

struct SoundOutput {
  std::string prefix;  // PREFIX.raw holds the sound, PREFIX.times when it came
  OutputFormat format{};
  std::vector<uint8_t> bytes;
  double bytesPerMs = 0;
  double startMs = 0;  // when byte 0 was heard
  double lagMs = 0;    // the pieces' median delay after that
  size_t pieces = 0;
};

SoundOutput* OpenOutput(const OutputFormat& format, const std::string& heard, std::string* error) {
  if (heard.empty()) {
    *error = "the Windows build measures what the host heard: run it with scripts/wine-sync";
    return nullptr;
  }
  auto* out = new SoundOutput;
  out->prefix = heard;
  out->format = format;
  out->bytesPerMs = format.rate * format.channels * 2 / 1000.0;
  return out;
}

void PollOutput(SoundOutput*) {}

// The recording is the sink's steady stream, silence included: byte b was
// heard b / rate after its start. A piece cannot come before its first byte
// is played, so the earliest piece, against its place in the stream, gives
// the start.
bool FinishOutput(SoundOutput* out, std::string* error) {
  const std::string timesPath = out->prefix + ".times", rawPath = out->prefix + ".raw";
  FILE* times = fopen(timesPath.c_str(), "r");
  if (!times) {
    *error = "cannot read " + timesPath;
    return false;
  }
  unsigned rate = 0, channels = 0;
  if (fscanf(times, "rate %u channels %u", &rate, &channels) != 2 || rate != out->format.rate ||
      channels != out->format.channels) {
    fclose(times);
    *error = timesPath + ": the recording is not at the track's rate and channels (" +
             std::to_string(out->format.rate) + " Hz, " + std::to_string(out->format.channels) + ")";
    return false;
  }
  std::vector<double> lead;  // each piece's time less its place in the stream
  int64_t ns = 0, start = 0, size = 0;
  while (fscanf(times, "%" SCNd64 " %" SCNd64 " %" SCNd64, &ns, &start, &size) == 3)
    lead.push_back(double(ns) / 1e6 - double(start) / out->bytesPerMs);
  fclose(times);
  FILE* raw = fopen(rawPath.c_str(), "rb");
  if (!raw || lead.empty()) {
    if (raw) fclose(raw);
    *error = "nothing was recorded in " + rawPath;
    return false;
  }
  uint8_t buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, raw)) > 0) out->bytes.insert(out->bytes.end(), buffer, buffer + n);
  fclose(raw);
  std::sort(lead.begin(), lead.end());
  out->startMs = lead.front();
  out->lagMs = lead[lead.size() / 2] - lead.front();
  out->pieces = lead.size();
  return true;
}

const std::vector<uint8_t>& HeardBytes(const SoundOutput* out) { return out->bytes; }

double HeardAt(const SoundOutput* out, uint64_t at) { return out->startMs + double(at) / out->bytesPerMs; }

std::string DescribeOutput(const SoundOutput* out) {
  char line[160];
  snprintf(line, sizeof line, "heard: the host's recording of the sink, %zu pieces, median %.1f ms after the earliest",
           out->pieces, out->lagMs);
  return line;
}

void CloseOutput(SoundOutput* out) { delete out; }

}  // namespace kivsync
