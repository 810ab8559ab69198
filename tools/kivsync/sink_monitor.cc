// SPDX-License-Identifier: BSD-2-Clause
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

// A piece of the recording: where it lies in the stream, and when it came
// less its place in the stream at the sink's pace.
struct Piece {
  uint64_t start;
  double lead;
};

struct SoundOutput {
  std::string prefix;  // PREFIX.raw holds the sound, PREFIX.times when it came
  OutputFormat format{};
  std::vector<uint8_t> bytes;
  double bytesPerMs = 0;
  std::vector<Piece> pieces;
};

constexpr double kPieceWindowMs = 2000;

// When byte `at` was heard: the earliest piece within two seconds of it. A
// piece cannot come before its first byte is played, and the window follows
// any slow drift of the sink's clock or a piece the recorder lost.
double StartNear(const SoundOutput* out, uint64_t at) {
  const double window = kPieceWindowMs * out->bytesPerMs;
  const uint64_t from = at > window ? at - uint64_t(window) : 0, to = at + uint64_t(window);
  auto it = std::lower_bound(out->pieces.begin(), out->pieces.end(), from,
                             [](const Piece& p, uint64_t v) { return p.start < v; });
  double best = 1e300;
  for (; it != out->pieces.end() && it->start <= to; ++it) best = std::min(best, it->lead);
  return best < 1e300 ? best : out->pieces.front().lead;
}

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
// heard b / rate after its start.
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
  int64_t ns = 0, start = 0, size = 0;
  while (fscanf(times, "%" SCNd64 " %" SCNd64 " %" SCNd64, &ns, &start, &size) == 3)
    out->pieces.push_back({uint64_t(start), double(ns) / 1e6 - double(start) / out->bytesPerMs});
  fclose(times);
  FILE* raw = fopen(rawPath.c_str(), "rb");
  if (!raw || out->pieces.empty()) {
    if (raw) fclose(raw);
    *error = "nothing was recorded in " + rawPath;
    return false;
  }
  uint8_t buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, raw)) > 0) out->bytes.insert(out->bytes.end(), buffer, buffer + n);
  fclose(raw);
  return true;
}

const std::vector<uint8_t>& HeardBytes(const SoundOutput* out) { return out->bytes; }

double HeardAt(const SoundOutput* out, uint64_t at) { return StartNear(out, at) + double(at) / out->bytesPerMs; }

// How late the pieces came, and how far the start moved over the recording.
std::string DescribeOutput(const SoundOutput* out) {
  std::vector<double> late;
  double low = 1e300, high = -1e300;
  for (const Piece& p : out->pieces) {
    const double start = StartNear(out, p.start);
    late.push_back(p.lead - start);
    low = std::min(low, start);
    high = std::max(high, start);
  }
  std::sort(late.begin(), late.end());
  char line[200];
  snprintf(line, sizeof line,
           "heard: the host's recording of the sink, %zu pieces, a median %.1f ms late; its start moved %.1f ms",
           out->pieces.size(), late[late.size() / 2], high - low);
  return line;
}

void CloseOutput(SoundOutput* out) { delete out; }

}  // namespace kivsync
