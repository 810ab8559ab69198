// SPDX-License-Identifier: BSD-2-Clause
// The player page's side of the library: one movie at a time, held once in
// the module's memory as it arrives, decoded frame by frame on the page's
// thread, its sound track handed to the page as PCM and its picture as RGBA
// rows. The page keeps the time (its sound clock) and knows how much of the
// movie has arrived; these calls only decode. The picture and the
// statistics come from the movie core; the sound, and seeking with the
// sound exact from the key frame on, from the C decoding API over the same
// bytes. Plain C calls with numbers and pointers, so that the page's script
// can reach them in the WebAssembly module.
#include "kivo_page.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "kivo/kivo.h"
#include "kivo/kivo_dec.h"
#include "player/summary_text.h"

namespace {

using namespace kivo;

// GetRealtime looks at most one second back; a ring of that many frames of
// audio time is enough for any rate the header can give.
constexpr uint32_t kAudioRing = 1024;

struct Page {
  uint8_t* data = nullptr;  // room for the movie's bytes
  uint32_t dataSize = 0;
  uint32_t arrived = 0;     // bytes in place from the first on
  Movie* movie = nullptr;
  KivoMovie* container = nullptr;
  KivoAudioDecoder* track = nullptr;
  uint32_t trackIndex = 0;
  uint8_t* pcm = nullptr;  // one frame's PCM, the track's largest
  uint32_t pcmCapacity = 0;
  uint8_t* rgba = nullptr;  // the presented picture
  uint32_t audioMs = 0;     // the page's audio decoding, summed
  uint32_t audioRing[kAudioRing] = {};
  uint32_t decoded = 0;
  KwState state = {};
  const char* error = "";
  char statsLine[kStatsTextSize] = {};
};

Page page;

// The module's memory is 32-bit: an address is what the page reads.
uint32_t Address(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

void CloseDecoding() {
  kivo_audio_close(page.track);
  page.track = nullptr;
  kivo_movie_close(page.container);
  page.container = nullptr;
  CloseMovie(page.movie);
  page.movie = nullptr;
  delete[] page.pcm;
  delete[] page.rgba;
  page.pcm = page.rgba = nullptr;
  page.pcmCapacity = 0;
  page.audioMs = page.decoded = 0;
  page.state = KwState{};
}

int32_t FailOpen(const char* text) {
  CloseDecoding();
  page.error = text;
  return 0;
}

// The sound track to play: the playable one with id `trackId`.
void FindTrack(uint32_t trackId) {
  KivoMovieInfo info;
  kivo_movie_info(page.container, &info);
  for (uint32_t i = 0; i < info.track_count; ++i) {
    KivoTrackInfo t;
    if (kivo_movie_track(page.container, i, &t) != KIVO_DEC_OK || t.id != trackId || !t.playable) continue;
    if (kivo_audio_open(t.audio_word, &page.track) != KIVO_DEC_OK) return;  // played silent
    page.trackIndex = i;
    page.state.trackRate = t.sample_rate;
    page.state.trackChannels = t.channels;
    page.pcmCapacity = t.max_bytes;
    return;
  }
}

// The loaded frame's sound into the PCM buffer; a chunk that claims more
// than the track's largest frame gives silence rather than a write past it.
void DecodeSound(uint32_t frame) {
  KivoPacket packet;
  const uint8_t* chunk;
  uint32_t size, bytes = 0;
  if (kivo_movie_read_packet(page.container, frame, &packet) != KIVO_DEC_OK ||
      kivo_packet_audio(&packet, page.trackIndex, &chunk, &size) != KIVO_DEC_OK)
    return;
  const int32_t status = kivo_audio_decode(page.track, chunk, size, reinterpret_cast<int16_t*>(page.pcm),
                                           page.pcmCapacity, &bytes);
  if (status == KIVO_DEC_OK || status == KIVO_DEC_ERROR_DATA) page.state.pcmBytes = bytes;
}

}  // namespace

extern "C" {

int32_t kw_probe(const uint8_t* data, uint32_t have) {
  KivoMovie* m;
  KivoDecError error;
  if (kivo_movie_open_memory(data, have, &m, &error) != KIVO_DEC_OK) {
    page.error = error.message;
    return error.code;
  }
  KivoMovieInfo info;
  kivo_movie_info(m, &info);
  kivo_movie_close(m);
  if (info.size > 0x7FFFFFFFu) {
    page.error = kivo_dec_error_text(KIVO_DEC_ERROR_MEMORY);
    return KIVO_DEC_ERROR_MEMORY;
  }
  return static_cast<int32_t>(info.size);
}

uint8_t* kw_buffer(uint32_t size) {
  kw_close();
  page.data = static_cast<uint8_t*>(calloc(size ? size : 1, 1));
  page.dataSize = page.data ? size : 0;
  return page.data;
}

void kw_arrived(uint32_t bytes) { page.arrived = bytes < page.dataSize ? bytes : page.dataSize; }

int32_t kw_open_buffer(uint32_t trackId, uint32_t extraFlags) {
  CloseDecoding();
  page.error = "";
  if (!page.data) return FailOpen(kivo_dec_error_text(KIVO_DEC_ERROR_MEMORY));
  // The container first: it checks the tables against the bytes there are
  // room for, which the movie core, reading them in place, takes on trust.
  KivoDecError error;
  if (kivo_movie_open_memory(page.data, page.dataSize, &page.container, &error) != KIVO_DEC_OK)
    return FailOpen(error.message);
  // Decoded on the page's thread: no reader or sound threads.
  const uint32_t flags =
      (extraFlags & (kOpenGrey | kOpenNeverSkip | kOpenModeMask)) | kOpenNoReader | kOpenAlpha | kOpenMemory;
  page.movie = OpenMovie(page.data, flags);
  if (!page.movie) return FailOpen(GetErrorText());
  MovieInfo info;
  GetMovieInfo(page.movie, &info);
  KwState& s = page.state;
  s.width = info.width;
  s.height = info.height;
  s.frameCount = info.frameCount;
  s.rateNum = info.playRateNum;
  s.rateDen = info.playRateDen;
  s.alpha = (info.openFlags & kOpenAlpha) ? 1 : 0;
  FindTrack(trackId);
  page.rgba = new (std::nothrow) uint8_t[size_t(info.width) * info.height * 4 + 4];
  page.pcm = new (std::nothrow) uint8_t[page.pcmCapacity + 4];
  if (!page.rgba || !page.pcm) return FailOpen(kivo_dec_error_text(KIVO_DEC_ERROR_MEMORY));
  s.pcm = Address(page.pcm);
  s.rgba = Address(page.rgba);
  return 1;
}

int32_t kw_open(const char* path, uint32_t trackId, uint32_t extraFlags) {
  kw_close();
  FILE* f = fopen(path, "rb");
  if (!f) return FailOpen("Error opening file.");
  fseek(f, 0, SEEK_END);
  const long size = ftell(f);
  fseek(f, 0, SEEK_SET);
  // The whole file, then as much room as its header asks for.
  uint8_t* bytes = size > 0 && size < 0x7FFFFFFF ? static_cast<uint8_t*>(malloc(size_t(size))) : nullptr;
  const bool read = bytes && fread(bytes, 1, size_t(size), f) == size_t(size);
  fclose(f);
  const int32_t need = read ? kw_probe(bytes, uint32_t(size)) : KIVO_DEC_ERROR_OPEN;
  if (need <= 0) {
    free(bytes);
    return FailOpen(read ? page.error : "Error opening file.");
  }
  // Room for no more than the file holds, whatever its header claims.
  const uint32_t room = uint32_t(size) < uint32_t(need) ? uint32_t(size) : uint32_t(need);
  if (kw_buffer(room)) memcpy(page.data, bytes, room);
  kw_arrived(room);
  free(bytes);
  return kw_open_buffer(trackId, extraFlags);
}

const char* kw_error_text() { return page.error; }

KwState* kw_state() { return &page.state; }

uint32_t kw_packet_end(uint32_t frame) {
  uint64_t offset;
  uint32_t size;
  if (kivo_movie_packet_place(page.container, frame, &offset, &size) != KIVO_DEC_OK) return 0;
  return static_cast<uint32_t>(offset + size);
}

int32_t kw_decode() {
  KwState& s = page.state;
  if (!page.movie) return 1;
  MovieInfo info;
  GetMovieInfo(page.movie, &info);
  s.frame = info.currentFrame;
  s.pcmBytes = 0;
  // Bytes that have not arrived (or that the room cannot hold) are never
  // decoded: the movie ends there as a file cut short does.
  const uint32_t end = kw_packet_end(s.frame);
  if (end == 0 || end > page.arrived) {
    s.readError = 1;
    return 1;
  }
  const uint32_t before = GetMilliseconds();
  if (page.track) DecodeSound(s.frame);
  page.audioMs += GetMilliseconds() - before;
  page.audioRing[page.decoded++ % kAudioRing] = page.audioMs;
  if (DoFrame(page.movie)) {
    s.readError = 1;
    return 1;
  }
  MoviePicture p;
  GetPicture(page.movie, &p);
  s.luma = Address(p.luma);
  s.u = Address(p.u);
  s.v = Address(p.v);
  s.alphaPlane = Address(p.alpha);
  s.sourceWidth = p.width;
  s.sourceHeight = p.height;
  s.chromaWidth = p.chromaWidth;
  s.chromaHeight = p.chromaHeight;
  s.pitch = p.pitch;
  s.chromaPitch = p.chromaPitch;
  return 0;
}

void kw_copy() {
  if (page.movie) CopyToRgbaRows(page.movie, page.rgba, static_cast<int32_t>(page.state.width * 4), 0);
}

void kw_next() {
  if (!page.movie) return;
  NextFrame(page.movie);
  MovieInfo info;
  GetMovieInfo(page.movie, &info);
  // Back at frame 1: the sound decoder carries state from frame to frame,
  // so the sound starts over from a fresh one.
  if (info.currentFrame == 1) kivo_audio_reset(page.track);
}

uint32_t kw_seek(uint32_t frame) {
  if (!page.movie) return 0;
  const uint32_t key = kivo_movie_key_frame_before(page.container, frame);
  if (page.track && kivo_movie_prime_audio(page.container, page.trackIndex, key, page.track) != KIVO_DEC_OK)
    kivo_audio_reset(page.track);
  GotoFrame(page.movie, key);
  return key;
}

void kw_pause(int32_t pause) { PauseMovie(page.movie, pause); }

const char* kw_stats_line() {
  if (!page.movie) return "";
  RealtimeStats r;
  GetRealtime(page.movie, &r, 0);
  // The sound is decoded by the page's own decoder, not inside DoFrame: its
  // time over the same frames stands in for the library's audio time.
  if (page.decoded > r.window && r.window < kAudioRing)
    r.audioMs = page.audioRing[(page.decoded - 1) % kAudioRing] -
                page.audioRing[(page.decoded - 1 - r.window) % kAudioRing];
  BuildStatsLine(page.statsLine, sizeof page.statsLine, r);
  return page.statsLine;
}

void kw_close() {
  CloseDecoding();
  free(page.data);
  page.data = nullptr;
  page.dataSize = page.arrived = 0;
}

}  // extern "C"
