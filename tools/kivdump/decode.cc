// kivdump's decoding: every frame through the frame cycle, then its planes
// written out.
#include "decode.h"

#ifdef KIVO_HAVE_PNG
#include <png.h>
#endif

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "audio/audio_decoder.h"
#include "compare.h"
#include "encode/input_y4m.h"
#include "convert/copy_to_buffer.h"
#include "movie/container.h"
#include "movie/error_text.h"
#include "movie/movie_api.h"
#include "platform/platform.h"

namespace kivo::tools {
namespace {

struct Output {
  FILE* file = nullptr;
  std::string path;
  ~Output() {
    if (file) fclose(file);
  }
  bool Open(const std::string& p) {
    path = p;
    file = p == "-" ? stdout : fopen(p.c_str(), "wb");
    return file != nullptr;
  }
  bool Write(const void* data, size_t size) { return fwrite(data, 1, size, file) == size; }
  bool Close() {
    bool ok = fflush(file) == 0;
    if (file != stdout) ok = fclose(file) == 0 && ok;
    file = nullptr;
    return ok;
  }
};

bool WriteRows(Output& out, const uint8_t* plane, uint32_t pitch, uint32_t width, uint32_t rows) {
  for (uint32_t y = 0; y < rows; ++y)
    if (!out.Write(plane + size_t(y) * pitch, width)) return false;
  return true;
}

#ifdef KIVO_HAVE_PNG
bool WritePng(const std::string& path, const uint8_t* rgba, uint32_t width, uint32_t height, bool alpha) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  std::vector<uint8_t> rgb;
  bool ok = false;
  if (info && !setjmp(png_jmpbuf(png))) {
    png_init_io(png, f);
    png_set_IHDR(png, info, width, height, 8, alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (!alpha) rgb.resize(size_t(width) * 3);
    for (uint32_t y = 0; y < height; ++y) {
      const uint8_t* row = rgba + size_t(y) * width * 4;
      if (!alpha) {
        for (uint32_t x = 0; x < width; ++x)
          for (int c = 0; c < 3; ++c) rgb[size_t(x) * 3 + c] = row[size_t(x) * 4 + c];
        row = rgb.data();
      }
      png_write_row(png, const_cast<png_bytep>(row));
    }
    png_write_end(png, nullptr);
    ok = true;
  }
  png_destroy_write_struct(&png, info ? &info : nullptr);
  return fclose(f) == 0 && ok;
}
#else
bool WritePng(const std::string&, const uint8_t*, uint32_t, uint32_t, bool) { return false; }
#endif

void Put16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

// A canonical 44-byte WAV header for signed 16-bit PCM.
void WavHeader(uint8_t h[44], uint32_t rate, uint32_t channels, uint32_t dataBytes) {
  memcpy(h, "RIFF", 4);
  WriteLe32(h + 4, 36 + dataBytes);
  memcpy(h + 8, "WAVEfmt ", 8);
  WriteLe32(h + 16, 16);
  Put16(h + 20, 1);
  Put16(h + 22, channels);
  WriteLe32(h + 24, rate);
  WriteLe32(h + 28, rate * channels * 2);
  Put16(h + 32, channels * 2);
  Put16(h + 34, 16);
  memcpy(h + 36, "data", 4);
  WriteLe32(h + 40, dataBytes);
}

struct TrackDump {
  uint32_t position = 0;  // in the file's track table
  uint32_t rate = 0, channels = 0;
  AudioDecoder* decoder = nullptr;
  Output out;
  bool wav = false;
  uint32_t bytes = 0;
  bool failed = false;
  ~TrackDump() { CloseAudioDecoder(decoder); }
};

void AppendTrackPcm(void* context, const int16_t* samples, uint32_t bytes) {
  TrackDump* t = static_cast<TrackDump*>(context);
  if (!t->out.Write(samples, bytes)) t->failed = true;
  t->bytes += bytes;
}

}  // namespace

std::string DumpMovie(const DumpRequest& r) {
  // No display-mode doubling: the decoded pictures as they are.
  const uint32_t flags = r.extraFlags | (7u << kOpenModeShift) | kOpenAlpha | kOpenNoReader;
  Movie* movie = nullptr;
  os::FileHandle handle = os::kNoFile;
  if (r.offset) {
    handle = os::OpenFileRead(r.movie.c_str(), true);
    if (handle == os::kNoFile) return "cannot open " + r.movie;
    if (!os::SeekFile(handle, static_cast<int64_t>(r.offset))) {
      os::CloseFile(handle);
      return "cannot seek to the movie's offset";
    }
    movie = OpenMovie(reinterpret_cast<const void*>(handle), flags | kOpenHandle);
  } else {
    movie = OpenMovie(r.movie.c_str(), flags);
  }
  if (!movie) {
    os::CloseFile(handle);
    return GetErrorText();
  }
  struct Closer {
    Movie* m;
    os::FileHandle h;
    ~Closer() {
      CloseMovie(m);
      os::CloseFile(h);
    }
  } closer{movie, handle};

  const uint32_t w = movie->sourceWidth, h = movie->sourceHeight;
  const uint32_t cw = (w + 1) / 2, ch = (h + 1) / 2;
  const PlaneSet& p = movie->planes;
  Output y4m, alpha;
  if (!r.y4m.empty()) {
    if (!y4m.Open(r.y4m)) return "cannot write " + r.y4m;
    char header[128];
    int n = snprintf(header, sizeof header, "YUV4MPEG2 W%u H%u F%u:%u Ip A1:1 C420jpeg\n", w, h, movie->fileRateNum,
                     movie->fileRateDen ? movie->fileRateDen : 1);
    if (!y4m.Write(header, size_t(n))) return "cannot write " + r.y4m;
  }
  if (!r.alpha.empty()) {
    if (!(movie->openFlags & kOpenAlpha)) return "this movie has no alpha plane";
    if (!alpha.Open(r.alpha)) return "cannot write " + r.alpha;
  }

  std::vector<std::unique_ptr<TrackDump>> tracks;
  for (const DumpRequest::Track& want : r.tracks) {
    auto t = std::make_unique<TrackDump>();
    uint32_t i = 0;
    while (i < movie->trackCount && movie->trackIds[i] != want.id) ++i;
    if (i == movie->trackCount) return "no track with id " + std::to_string(want.id);
    uint32_t word = movie->trackAudioWords[i];
    if (!(word & (kAudioCodingA | kAudioCodingB))) return "track " + std::to_string(want.id) + " is not playable";
    t->position = i;
    t->rate = word & kAudioRateMask;
    t->channels = (word & kAudioStereo) ? 2 : 1;
    t->decoder = OpenAudioDecoder(t->rate, t->channels, (word & kAudioCodingB) && !(word & kAudioCodingA));
    if (!t->decoder) return "cannot make a decoder for track " + std::to_string(want.id);
    t->wav = want.wav;
    if (!t->out.Open(want.path)) return "cannot write " + want.path;
    if (t->wav) {
      uint8_t wavHeader[44];
      WavHeader(wavHeader, t->rate, t->channels, 0);
      if (!t->out.Write(wavHeader, 44)) return "cannot write " + want.path;
    }
    tracks.push_back(std::move(t));
  }
  struct Source {
    encode::Y4mInput in;
    ~Source() { encode::CloseY4m(in); }
  } source;
  encode::SourcePicture sourcePicture;
  QualityMeter meter;
  const bool comparing = !r.compare.empty();
  if (comparing) {
    std::string why;
    if (!encode::OpenY4m(source.in, r.compare, &why)) return why;
    if (source.in.width != w || source.in.height != h)
      return r.compare + " is " + std::to_string(source.in.width) + "x" + std::to_string(source.in.height) +
             ", the movie " + std::to_string(w) + "x" + std::to_string(h);
  }
  std::vector<uint8_t> rgba;
  if (!r.pngFolder.empty()) rgba.resize(size_t(movie->width) * movie->height * 4);

  // The stream's chroma order: V then U from revision 'h' on, U then V before.
  const bool uFirst = (movie->openFlags & kOpenBeforeH) != 0;
  for (uint32_t n = 1; n <= movie->frameCount; ++n) {
    // The audio chunks of the loaded packet, decoded apart from the player's
    // sound output so that every byte of the track is kept.
    if (!movie->readError && !movie->io.endOfData)
      for (auto& t : tracks) {
        const uint8_t* chunk;
        uint32_t size;
        if (FindAudioChunk(movie->frameData, FrameSize(movie->frameIndex, n), movie->trackCount, t->position, &chunk,
                           &size))
          DecodeAudioChunk(t->decoder, chunk, size, AppendTrackPcm, t.get());
        if (t->failed) return "cannot write " + t->out.path;
      }
    if (DoFrame(movie)) {
      char text[96];
      snprintf(text, sizeof text, "read error at frame %u: the file ends early", n);
      return text;
    }
    const uint8_t* frame = p.frameBuffers[p.current];
    const uint8_t* first = frame + size_t(p.pitch) * p.rows;
    const uint8_t* second = first + size_t(p.chromaPitch) * p.chromaRows;
    const uint8_t* u = uFirst ? first : second;
    const uint8_t* v = uFirst ? second : first;
    if (y4m.file) {
      static const char kFrame[] = "FRAME\n";
      if (!y4m.Write(kFrame, 6) || !WriteRows(y4m, frame, p.pitch, w, h) ||
          !WriteRows(y4m, u, p.chromaPitch, cw, ch) || !WriteRows(y4m, v, p.chromaPitch, cw, ch))
        return "cannot write " + r.y4m;
    }
    if (comparing) {
      std::string why;
      const int got = encode::ReadY4mFrame(source.in, sourcePicture, &why);
      if (got < 0) return why;
      if (got == 0) return r.compare + " has fewer frames than the movie";
      const bool colour = !(movie->openFlags & kOpenGrey) && !sourcePicture.cb.empty();
      MeasureFrame(meter, w, h, frame, p.pitch, colour ? u : nullptr, colour ? v : nullptr, p.chromaPitch,
                   sourcePicture.luma.data(), colour ? sourcePicture.cb.data() : nullptr,
                   colour ? sourcePicture.cr.data() : nullptr);
    }
    if (alpha.file && !WriteRows(alpha, p.alphaBuffers[p.current], p.pitch, w, h)) return "cannot write " + r.alpha;
    if (!rgba.empty()) {
      CopyToRgbaRows(movie, rgba.data(), static_cast<int32_t>(movie->width * 4), 0);
      char name[32];
      snprintf(name, sizeof name, "/frame%05u.png", n);
      if (!WritePng(r.pngFolder + name, rgba.data(), movie->width, movie->height, movie->openFlags & kOpenAlpha))
        return "cannot write " + r.pngFolder + name;
    }
    if (r.progress && (n % 25 == 0 || n == movie->frameCount))
      fprintf(stderr, "\rkivdump: frame %u of %u", n, movie->frameCount);
    NextFrame(movie);
  }
  if (r.progress) fprintf(stderr, "\n");
  if (comparing) WriteQuality(meter, r.y4m == "-" ? stderr : stdout);
  if (y4m.file && !y4m.Close()) return "cannot write " + r.y4m;
  if (alpha.file && !alpha.Close()) return "cannot write " + r.alpha;
  for (auto& t : tracks) {
    if (t->wav && t->out.file != stdout) {
      uint8_t wavHeader[44];
      WavHeader(wavHeader, t->rate, t->channels, t->bytes);
      if (fseek(t->out.file, 0, SEEK_SET) != 0 || !t->out.Write(wavHeader, 44)) return "cannot write " + t->out.path;
    }
    if (!t->out.Close()) return "cannot write " + t->out.path;
  }
  return "";
}

}  // namespace kivo::tools
