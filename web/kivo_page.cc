// SPDX-License-Identifier: BSD-2-Clause
// The player page's side of the library: one movie at a time, decoded frame
// by frame on the page's thread, its sound track handed to the page as PCM
// and its picture as RGBA rows. The page keeps the time (its sound clock);
// these calls only decode. Plain C calls with numbers and pointers, so that
// the page's script can reach them in the WebAssembly module.
#include "kivo_page.h"

#include <cstring>
#include <new>

#include "kivo/kivo.h"
#include "player/summary_text.h"

namespace {

using namespace kivo;

// GetRealtime looks at most one second back; a ring of that many frames of
// audio time is enough for any rate the header can give.
constexpr uint32_t kAudioRing = 1024;

struct Page {
  Movie* movie = nullptr;
  TrackDecoder* track = nullptr;
  uint32_t trackId = 0;
  uint8_t* pcm = nullptr;  // one frame's PCM, the track's largest
  uint32_t pcmCapacity = 0;
  uint8_t* rgba = nullptr;  // the presented picture
  uint32_t audioMs = 0;     // the page's audio decoding, summed
  uint32_t audioRing[kAudioRing] = {};
  uint32_t decoded = 0;
  KwState state = {};
  char statsLine[kStatsTextSize] = {};
};

Page page;

void ReleaseBuffers() {
  delete[] page.pcm;
  delete[] page.rgba;
  page.pcm = page.rgba = nullptr;
  page.pcmCapacity = 0;
}

// The module's memory is 32-bit: an address is what the page reads.
uint32_t Address(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

void AppendPcm(void* context, const int16_t* samples, uint32_t bytes) {
  Page* p = static_cast<Page*>(context);
  // The decoder never hands over more than the track's largest frame; what
  // would not fit is dropped rather than written past the buffer.
  const uint32_t room = p->pcmCapacity - p->state.pcmBytes;
  if (bytes > room) bytes = room;
  memcpy(p->pcm + p->state.pcmBytes, samples, bytes);
  p->state.pcmBytes += bytes;
}

// Opens the track decoder for the sound from frame 1 on.
void StartTrack() {
  CloseTrackDecoder(page.track);
  page.track = page.state.trackRate ? OpenTrackDecoder(page.movie, page.trackId) : nullptr;
}

}  // namespace

extern "C" {

int32_t kw_open(const char* path, uint32_t trackId, uint32_t extraFlags) {
  kw_close();
  // Read (through the read-ahead buffer, as kivdump reads) and decoded on
  // the page's thread: no reader or sound threads.
  const uint32_t flags = (extraFlags & (kOpenGrey | kOpenNeverSkip | kOpenModeMask)) | kOpenNoReader | kOpenAlpha;
  Movie* movie = OpenMovie(path, flags);
  if (!movie) return 0;
  MovieInfo info;
  GetMovieInfo(movie, &info);
  page.movie = movie;
  KwState& s = page.state;
  s = KwState{};
  s.width = info.width;
  s.height = info.height;
  s.frameCount = info.frameCount;
  s.rateNum = info.playRateNum;
  s.rateDen = info.playRateDen;
  s.alpha = (info.openFlags & kOpenAlpha) ? 1 : 0;
  for (uint32_t i = 0; i < info.trackCount; ++i) {
    TrackInfo t;
    if (GetTrackInfo(movie, i, &t) && t.id == trackId && t.playable) {
      s.trackRate = t.sampleRate;
      s.trackChannels = t.channels;
      page.pcmCapacity = t.maxBytes;
    }
  }
  page.trackId = trackId;
  page.rgba = new (std::nothrow) uint8_t[size_t(info.width) * info.height * 4 + 4];
  page.pcm = new (std::nothrow) uint8_t[page.pcmCapacity + 4];
  if (!page.rgba || !page.pcm) {
    kw_close();
    return 0;
  }
  s.pcm = Address(page.pcm);
  s.rgba = Address(page.rgba);
  StartTrack();
  if (s.trackRate && !page.track) s.trackRate = 0;  // no memory for its decoder: played silent
  return 1;
}

const char* kw_error_text() { return GetErrorText(); }

KwState* kw_state() { return &page.state; }

int32_t kw_decode() {
  KwState& s = page.state;
  if (!page.movie) return 1;
  MovieInfo info;
  GetMovieInfo(page.movie, &info);
  s.frame = info.currentFrame;
  s.pcmBytes = 0;
  const uint32_t before = GetMilliseconds();
  if (page.track) DecodeTrackAudio(page.track, page.movie, AppendPcm, &page);
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
  // Back at frame 1: the track decoder carries state from frame to frame,
  // so the sound starts over with a fresh one.
  if (info.currentFrame == 1) StartTrack();
}

void kw_pause(int32_t pause) { PauseMovie(page.movie, pause); }

const char* kw_stats_line() {
  if (!page.movie) return "";
  RealtimeStats r;
  GetRealtime(page.movie, &r, 0);
  // The sound is decoded by the page's track decoder, not inside DoFrame:
  // its time over the same frames stands in for the library's audio time.
  if (page.decoded > r.window && r.window < kAudioRing)
    r.audioMs = page.audioRing[(page.decoded - 1) % kAudioRing] -
                page.audioRing[(page.decoded - 1 - r.window) % kAudioRing];
  BuildStatsLine(page.statsLine, sizeof page.statsLine, r);
  return page.statsLine;
}

void kw_close() {
  CloseTrackDecoder(page.track);
  page.track = nullptr;
  CloseMovie(page.movie);
  page.movie = nullptr;
  ReleaseBuffers();
  page.audioMs = page.decoded = 0;
  page.state = KwState{};
}

}  // extern "C"
