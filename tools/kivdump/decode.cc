// kivdump's decoding: every frame through the frame cycle, then its planes
// written out.
#include "decode.h"

#include <cstdio>
#include <vector>

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

}  // namespace

std::string DumpMovie(const DumpRequest& r) {
  // No display-mode doubling: the decoded pictures as they are.
  const uint32_t flags = r.extraFlags | (7u << kOpenModeShift) | (r.alpha.empty() ? 0 : kOpenAlpha) | kOpenNoReader;
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

  // The stream's chroma order: V then U from revision 'h' on, U then V before.
  const bool uFirst = (movie->openFlags & kOpenBeforeH) != 0;
  for (uint32_t n = 1; n <= movie->frameCount; ++n) {
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
    if (alpha.file && !WriteRows(alpha, p.alphaBuffers[p.current], p.pitch, w, h)) return "cannot write " + r.alpha;
    if (r.progress && (n % 25 == 0 || n == movie->frameCount))
      fprintf(stderr, "\rkivdump: frame %u of %u", n, movie->frameCount);
    NextFrame(movie);
  }
  if (r.progress) fprintf(stderr, "\n");
  if (y4m.file && !y4m.Close()) return "cannot write " + r.y4m;
  if (alpha.file && !alpha.Close()) return "cannot write " + r.alpha;
  return "";
}

}  // namespace kivo::tools
