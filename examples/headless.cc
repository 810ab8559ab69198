// SPDX-License-Identifier: BSD-2-Clause
// Decodes a whole Kivo movie without a display or a sound device: every
// frame into a memory buffer as 32-bit B, G, R, 0 pixels, and the audio of
// one track into a WAV file.
//
//   headless MOVIE OUT.wav [--track ID] [--frames OUT.bgrx]
//
// --frames writes every decoded picture one after another (width x height x
// 4 bytes each). The sizes and the frame count go to standard output.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <kivo/kivo.h>

namespace {

void Put(uint8_t* p, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = uint8_t(v >> (8 * i));
}

// A 44-byte header for 16-bit PCM.
void WavHeader(uint8_t h[44], uint32_t rate, uint32_t channels, uint32_t dataBytes) {
  memcpy(h, "RIFF", 4);
  Put(h + 4, 36 + dataBytes, 4);
  memcpy(h + 8, "WAVEfmt ", 8);
  Put(h + 16, 16, 4);
  Put(h + 20, 1, 2);
  Put(h + 22, channels, 2);
  Put(h + 24, rate, 4);
  Put(h + 28, rate * channels * 2, 4);
  Put(h + 32, channels * 2, 2);
  Put(h + 34, 16, 2);
  memcpy(h + 36, "data", 4);
  Put(h + 40, dataBytes, 4);
}

struct Wav {
  FILE* file;
  uint32_t bytes;
  bool failed;
};

void WritePcm(void* context, const int16_t* samples, uint32_t bytes) {
  Wav* w = static_cast<Wav*>(context);
  if (fwrite(samples, 1, bytes, w->file) != bytes) w->failed = true;
  w->bytes += bytes;
}

int Fail(const char* what, const char* detail) {
  fprintf(stderr, "headless: %s%s%s\n", what, detail ? ": " : "", detail ? detail : "");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Fail("usage: headless MOVIE OUT.wav [--track ID] [--frames OUT.bgrx]", nullptr);
  if (!KIVO_CHECK_VERSION()) return Fail("this program was built for another version of the library", nullptr);
  uint32_t trackId = 0;
  const char* framesPath = nullptr;
  for (int i = 3; i + 1 < argc; i += 2) {
    if (!strcmp(argv[i], "--track")) trackId = uint32_t(strtoul(argv[i + 1], nullptr, 10));
    else if (!strcmp(argv[i], "--frames")) framesPath = argv[i + 1];
    else return Fail("unknown option", argv[i]);
  }

  // The pictures as decoded (no display-mode doubling), read in this thread.
  kivo::Movie* movie = kivo::OpenMovie(argv[1], kivo::kOpenModeMask | kivo::kOpenNoReader);
  if (!movie) return Fail(argv[1], kivo::GetErrorText());
  kivo::MovieInfo info;
  kivo::GetMovieInfo(movie, &info);

  kivo::TrackDecoder* track = kivo::OpenTrackDecoder(movie, trackId);
  kivo::TrackInfo format{};
  for (uint32_t i = 0; i < info.trackCount; ++i)
    if (kivo::GetTrackInfo(movie, i, &format) && format.id == trackId) break;
  Wav wav{fopen(argv[2], "wb"), 0, false};
  if (!wav.file) return Fail("cannot write", argv[2]);
  uint8_t header[44];
  WavHeader(header, format.sampleRate, format.channels, 0);
  fwrite(header, 1, sizeof header, wav.file);
  if (!track) fprintf(stderr, "headless: no playable track %u; the WAV stays empty\n", trackId);

  FILE* frames = framesPath ? fopen(framesPath, "wb") : nullptr;
  if (framesPath && !frames) return Fail("cannot write", framesPath);

  const int32_t pitch = int32_t(info.width * 4);
  std::vector<uint8_t> pixels(size_t(pitch) * info.height);
  for (uint32_t n = 1; n <= info.frameCount; ++n) {
    kivo::DecodeTrackAudio(track, movie, WritePcm, &wav);  // before DoFrame: the loaded packet
    if (kivo::DoFrame(movie)) return Fail("read error", "the file ends early");
    // Only the changed cells after the first, full copy.
    kivo::CopyToBuffer(movie, pixels.data(), pitch, info.height, 0, 0,
                       kivo::kFormatBgrx32 | (n == 1 ? kivo::kCopyFull : 0));
    if (frames && fwrite(pixels.data(), 1, pixels.size(), frames) != pixels.size())
      return Fail("cannot write", framesPath);
    kivo::NextFrame(movie);
  }

  kivo::CloseTrackDecoder(track);
  kivo::CloseMovie(movie);
  WavHeader(header, format.sampleRate, format.channels, wav.bytes);
  bool ok = !wav.failed && fseek(wav.file, 0, SEEK_SET) == 0 && fwrite(header, 1, 44, wav.file) == 44;
  ok = fclose(wav.file) == 0 && ok;
  if (frames) ok = fclose(frames) == 0 && ok;
  if (!ok) return Fail("cannot write the output", nullptr);
  printf("%u x %u, %u frames, track %u: %u PCM bytes (library %s)\n", info.width, info.height, info.frameCount,
         trackId, wav.bytes, kivo::GetLibraryVersionText());
  return 0;
}
