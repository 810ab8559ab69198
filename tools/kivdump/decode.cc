// SPDX-License-Identifier: BSD-2-Clause
// kivdump's decoding: every frame through the library's frame cycle, then
// its planes, its pictures in the player's colours and its tracks' PCM
// written out.
#include "decode.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "compare.h"
#include "encode/output_file.h"
#include "kivo/kivo.h"
#include "movie_source.h"
#include "png_file.h"

namespace kivo::tools {
namespace {

// An output named by the user, never clobbering (encode/output_file.h).
struct Output {
  encode::OutputFile out;
  FILE* file = nullptr;
  std::string error;
  ~Output() { encode::AbandonOutput(out); }
  bool Open(const std::string& p) {
    if (!encode::OpenOutput(out, p, &error)) return false;
    file = out.file;
    return true;
  }
  bool Write(const void* data, size_t size) {
    if (fwrite(data, 1, size, file) == size) return true;
    error = encode::FileError(out.path);
    return false;
  }
  bool Close() {
    file = nullptr;
    return encode::CommitOutput(out, &error);
  }
};

bool WriteRows(Output& out, const uint8_t* plane, uint32_t pitch, uint32_t width, uint32_t rows) {
  for (uint32_t y = 0; y < rows; ++y)
    if (!out.Write(plane + size_t(y) * pitch, width)) return false;
  return true;
}

void Put16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

// A canonical 44-byte WAV header for signed 16-bit PCM.
void WavHeader(uint8_t h[44], uint32_t rate, uint32_t channels, uint32_t dataBytes) {
  memcpy(h, "RIFF", 4);
  Put32(h + 4, 36 + dataBytes);
  memcpy(h + 8, "WAVEfmt ", 8);
  Put32(h + 16, 16);
  Put16(h + 20, 1);
  Put16(h + 22, channels);
  Put32(h + 24, rate);
  Put32(h + 28, rate * channels * 2);
  Put16(h + 32, channels * 2);
  Put16(h + 34, 16);
  memcpy(h + 36, "data", 4);
  Put32(h + 40, dataBytes);
}

struct TrackDump {
  uint32_t rate = 0, channels = 0;
  TrackDecoder* decoder = nullptr;
  Output out;
  bool wav = false;
  uint32_t bytes = 0;
  bool failed = false;
  ~TrackDump() { CloseTrackDecoder(decoder); }
};

void AppendTrackPcm(void* context, const int16_t* samples, uint32_t bytes) {
  TrackDump* t = static_cast<TrackDump*>(context);
  if (!t->out.Write(samples, bytes)) t->failed = true;
  t->bytes += bytes;
}

}  // namespace

std::string DumpMovie(const DumpRequest& r) {
  // No display-mode doubling: the decoded pictures as they are.
  const uint32_t flags = r.extraFlags | (kOptionForceNone << kOpenModeShift) | kOpenAlpha | kOpenNoReader;
  // Declared first so that it goes last, after the track decoders.
  MovieSource source;
  std::string error = OpenMovieSource(r.movie, r.offset, flags, false, &source);
  if (!error.empty()) return error;
  Movie* movie = source.movie;
  MovieInfo info;
  GetMovieInfo(movie, &info);

  const uint32_t w = info.sourceWidth, h = info.sourceHeight;
  const uint32_t cw = (w + 1) / 2, ch = (h + 1) / 2;
  Output y4m, alpha;
  if (!r.y4m.empty()) {
    if (!y4m.Open(r.y4m)) return y4m.error;
    char header[128];
    int n = snprintf(header, sizeof header, "YUV4MPEG2 W%u H%u F%u:%u Ip A1:1 C420jpeg\n", w, h, info.fileRateNum,
                     info.fileRateDen ? info.fileRateDen : 1);
    if (!y4m.Write(header, size_t(n))) return y4m.error;
  }
  if (!r.alpha.empty()) {
    if (!(info.openFlags & kOpenAlpha)) return "this movie has no alpha plane";
    if (!alpha.Open(r.alpha)) return alpha.error;
  }

  std::vector<std::unique_ptr<TrackDump>> tracks;
  for (const DumpRequest::Track& want : r.tracks) {
    auto t = std::make_unique<TrackDump>();
    TrackInfo track{};
    uint32_t i = 0;
    while (i < info.trackCount && !(GetTrackInfo(movie, i, &track) && track.id == want.id)) ++i;
    if (i == info.trackCount) return "no track with id " + std::to_string(want.id);
    if (!track.playable) return "track " + std::to_string(want.id) + " is not playable";
    t->rate = track.sampleRate;
    t->channels = track.channels;
    t->decoder = OpenTrackDecoder(movie, want.id);
    if (!t->decoder) return "cannot make a decoder for track " + std::to_string(want.id);
    t->wav = want.wav;
    if (!t->out.Open(want.path)) return t->out.error;
    if (t->wav) {
      uint8_t wavHeader[44];
      WavHeader(wavHeader, t->rate, t->channels, 0);
      if (!t->out.Write(wavHeader, 44)) return t->out.error;
    }
    tracks.push_back(std::move(t));
  }
  Comparison comparison;
  const bool comparing = !r.compare.empty();
  if (comparing) {
    error = OpenComparison(comparison, r.compare, w, h);
    if (!error.empty()) return error;
  }
  std::vector<uint8_t> rgba;
  if (!r.pngFolder.empty()) rgba.resize(size_t(info.width) * info.height * 4);

  for (uint32_t n = 1; n <= info.frameCount; ++n) {
    // The audio of the loaded packet, decoded apart from the player's sound
    // output so that every byte of the track is kept.
    for (auto& t : tracks) {
      DecodeTrackAudio(t->decoder, movie, AppendTrackPcm, t.get());
      if (t->failed) return t->out.error;
    }
    if (DoFrame(movie)) {
      char text[96];
      snprintf(text, sizeof text, "read error at frame %u: the file ends early", n);
      return text;
    }
    MoviePicture p;
    GetPicture(movie, &p);
    if (y4m.file) {
      static const char kFrame[] = "FRAME\n";
      if (!y4m.Write(kFrame, 6) || !WriteRows(y4m, p.luma, p.pitch, w, h) ||
          !WriteRows(y4m, p.u, p.chromaPitch, cw, ch) || !WriteRows(y4m, p.v, p.chromaPitch, cw, ch))
        return y4m.error;
    }
    if (comparing) {
      error = CompareFrame(comparison, p, !(info.openFlags & kOpenGrey));
      if (!error.empty()) return error;
    }
    if (alpha.file && !WriteRows(alpha, p.alpha, p.pitch, w, h)) return alpha.error;
    if (!rgba.empty()) {
      CopyToRgbaRows(movie, rgba.data(), static_cast<int32_t>(info.width * 4), 0);
      char name[32];
      snprintf(name, sizeof name, "/frame%05u.png", n);
      error = WritePng(r.pngFolder + name, rgba.data(), info.width, info.height, info.openFlags & kOpenAlpha);
      if (!error.empty()) return error;
    }
    if (r.progress && (n % 25 == 0 || n == info.frameCount))
      fprintf(stderr, "\rkivdump: frame %u of %u", n, info.frameCount);
    NextFrame(movie);
  }
  if (r.progress) fprintf(stderr, "\n");
  if (comparing) WriteQuality(comparison.meter, r.y4m == "-" ? stderr : stdout);
  if (y4m.file && !y4m.Close()) return y4m.error;
  if (alpha.file && !alpha.Close()) return alpha.error;
  for (auto& t : tracks) {
    // The sizes go into the header where the output can go back to it.
    if (t->wav && t->out.out.seekable) {
      uint8_t wavHeader[44];
      WavHeader(wavHeader, t->rate, t->channels, t->bytes);
      if (fseek(t->out.file, 0, SEEK_SET) != 0 || !t->out.Write(wavHeader, 44)) return t->out.error;
    }
    if (!t->out.Close()) return t->out.error;
  }
  return "";
}

}  // namespace kivo::tools
