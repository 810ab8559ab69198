// SPDX-License-Identifier: BSD-2-Clause
// The C decoding API: the container read from a file, memory or the
// caller's callbacks, packets split into audio chunks and video data, and
// the video and audio decoders of the movie core wrapped in handles that own
// all they write, so that any number run at once on any threads.
#include "kivo/kivo_dec.h"

#include <cstring>

#include "kivo/movie.h"
#include "audio/audio_decoder.h"
#include "base/memory.h"
#include "movie/container.h"
#include "platform/platform.h"
#include "video/video_decoder.h"

using namespace kivo;

namespace {

// A source of unknown size gets its buffers in steps, each at most twice
// what has already arrived, so that a damaged header or index cannot make
// them larger than the data that is really there.
constexpr uint32_t kFirstStep = 64u << 10;

enum SourceKind { kSourceMemory, kSourceFile, kSourceIo };

struct Source {
  SourceKind kind;
  const uint8_t* memory;
  os::FileHandle file;
  KivoIo io;
  void* opaque;
  uint64_t size;  // UINT64_MAX when unknown
  // The whole movie's size when the source holds only its start (its header
  // and tables); 0 when the source is the whole movie, or nothing is known.
  uint64_t extent;
};

// Reads exactly `size` bytes at `offset`; false when the source has fewer.
bool ReadAt(Source* s, uint64_t offset, void* buffer, uint32_t size) {
  if (size == 0) return true;
  if (s->size != UINT64_MAX && (offset > s->size || size > s->size - offset)) return false;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  switch (s->kind) {
    case kSourceMemory:
      memcpy(out, s->memory + offset, size);
      return true;
    case kSourceFile:
      if (!os::SeekFile(s->file, static_cast<int64_t>(offset))) return false;
      while (size > 0) {
        const int64_t got = os::ReadFileBytes(s->file, out, size);
        if (got <= 0) return false;
        out += got;
        size -= static_cast<uint32_t>(got);
      }
      return true;
    case kSourceIo:
      if (s->io.seek(s->opaque, offset) != 0) return false;
      while (size > 0) {
        const int64_t got = s->io.read(s->opaque, out, size);
        if (got <= 0 || uint64_t(got) > size) return false;
        out += got;
        size -= static_cast<uint32_t>(got);
      }
      return true;
  }
  return false;
}

// Reads up to `size` bytes at `offset`; the bytes read, fewer at the end of
// the source, 0 on an error.
uint32_t ReadSome(Source* s, uint64_t offset, uint8_t* buffer, uint32_t size) {
  if (s->size != UINT64_MAX) {
    if (offset >= s->size) return 0;
    if (size > s->size - offset) size = uint32_t(s->size - offset);
  }
  if (s->kind == kSourceMemory) {
    memcpy(buffer, s->memory + offset, size);
    return size;
  }
  if (s->kind == kSourceFile ? !os::SeekFile(s->file, int64_t(offset)) : s->io.seek(s->opaque, offset) != 0) return 0;
  uint32_t have = 0;
  while (have < size) {
    const int64_t got = s->kind == kSourceFile ? os::ReadFileBytes(s->file, buffer + have, size - have)
                                               : s->io.read(s->opaque, buffer + have, size - have);
    if (got <= 0 || uint64_t(got) > size - have) break;
    have += uint32_t(got);
  }
  return have;
}

void CloseSource(Source* s) {
  if (s->kind == kSourceFile && s->file != os::kNoFile) os::CloseFile(s->file);
  s->file = os::kNoFile;
}

// a * b / c rounded down, without overflow for any 64-bit a and 32-bit b, c.
uint64_t MulDiv(uint64_t a, uint64_t b, uint64_t c) {
  if (c == 0) return 0;
#if defined(__SIZEOF_INT128__)
  return static_cast<uint64_t>(static_cast<unsigned __int128>(a) * b / c);
#else
  const uint64_t q = a / c, r = a % c;
  return q * b + static_cast<uint64_t>(static_cast<long double>(r) * b / c);
#endif
}

int32_t Fail(KivoDecError* error, int32_t code, const char* message) {
  if (error) {
    error->code = code;
    error->message = message ? message : kivo_dec_error_text(code);
  }
  return code;
}

// The header check answers with its message; the same text may sit at
// another address in each unit that names it.
int32_t CodeOfHeaderText(const char* text) {
  if (strcmp(text, kNotKivoText) == 0) return KIVO_DEC_ERROR_NOT_KIVO;
  if (strcmp(text, kNoFramesText) == 0) return KIVO_DEC_ERROR_NO_FRAMES;
  return KIVO_DEC_ERROR_DAMAGED;
}

inline uint32_t Le32(const uint8_t* p) { return ReadLe32(p); }

}  // namespace

struct KivoMovie {
  Source source;
  MovieHeader header;
  uint32_t* index;        // indexLast + 1 entries
  uint32_t* trackMax;     // the three track arrays
  uint32_t* trackWords;
  uint32_t* trackIds;
  uint8_t* tables;        // the track arrays and the index, as one block
  uint8_t* packet;        // the packet buffer; null for a movie in memory
  uint32_t packetCapacity;
  uint32_t largestPacket;
  uint32_t keyFrames;
  uint64_t movieSize;
  // Where seeks start from: every seekStep frames (frame 1 + j * seekStep),
  // each track's PCM bytes before that frame and the frame whose chunk
  // carries its sound into it, so that a seek reads fewer than seekStep
  // packets' heads. seekKnown points were filled: a source that ends early
  // stops the walk at open.
  uint32_t seekStep, seekKnown;
  uint64_t* seekBytes;  // point j, track t at j * trackCount + t
  uint32_t* seekCarry;
  // The last block read for the chunks' heads: neighbouring packets' heads
  // often share one, and a caller's source pays for each read.
  uint64_t headsAt;
  uint32_t headsHave;
  uint8_t heads[4096];
};

struct KivoVideoDecoder {
  PlaneSet planes;
  uint8_t* bundles[kBundleCount];
  uint32_t width, height;
  uint32_t decodeFlags;  // the open flags the decoder reads
  uint32_t videoFlags;
};

struct KivoAudioDecoder {
  AudioDecoder* decoder;
};

extern "C" {

const char* kivo_dec_error_text(int32_t code) {
  switch (code) {
    case KIVO_DEC_OK: return "No error.";
    case KIVO_DEC_ERROR_ARGUMENT: return "A missing handle or pointer, or a frame or track out of range.";
    case KIVO_DEC_ERROR_OPEN: return "Error opening file.";
    case KIVO_DEC_ERROR_NOT_KIVO: return kNotKivoText;
    case KIVO_DEC_ERROR_NO_FRAMES: return kNoFramesText;
    case KIVO_DEC_ERROR_DAMAGED: return "The tables of this Kivo file are damaged.";
    case KIVO_DEC_ERROR_MEMORY: return "Out of memory.";
    case KIVO_DEC_ERROR_READ: return "The file ends before this frame does.";
    case KIVO_DEC_ERROR_BUFFER: return "The buffer is too small.";
    case KIVO_DEC_ERROR_DATA: return "The data is damaged; what could be decoded was.";
    default: return "Unknown error.";
  }
}

}  // extern "C"

namespace {

// `size` (at most 8) bytes at `offset`, through the block of heads.
bool ReadHead(KivoMovie* m, uint64_t offset, uint8_t* words, uint32_t size) {
  if (offset < m->headsAt || offset + size > m->headsAt + m->headsHave) {
    m->headsAt = offset;
    m->headsHave = ReadSome(&m->source, offset, m->heads, sizeof m->heads);
    if (size > m->headsHave) return false;
  }
  memcpy(words, m->heads + (offset - m->headsAt), size);
  return true;
}

// The PCM bytes that frame `frame`'s chunks of tracks 0 .. last give by
// their count words (0 for a chunk that decodes nothing), into each[t] when
// `each` is given and for track `last` into *lastBytes; *walked (when given)
// receives how many tracks' chunks the packet holds, the others giving
// nothing. Reads only the words at the chunks' heads, one read per chunk,
// and never more chunks than the packet holds.
int32_t ChunkHeads(KivoMovie* m, uint32_t frame, uint32_t last, uint32_t* each, uint32_t* lastBytes,
                   uint32_t* walked = nullptr) {
  *lastBytes = 0;
  const uint64_t base = FrameOffset(m->index, frame);
  const uint32_t size = FrameSize(m->index, frame);
  uint32_t at = 0, t = 0;
  for (; t <= last && size - at >= 4; ++t) {
    uint8_t words[8];
    const bool both = size - at >= 8;
    if (!ReadHead(m, base + at, words, both ? 8 : 4)) return KIVO_DEC_ERROR_READ;
    const uint32_t p = Le32(words);
    at += 4;
    const uint32_t room = size - at;
    const uint32_t bytes = (p < room ? p : room) > 4 ? kivo_track_chunk_bytes(m->trackMax[t], words + 4, 4) : 0;
    if (each) each[t] = bytes;
    if (t == last) *lastBytes = bytes;
    // A chunk past the packet's end leaves the tracks after it nothing.
    at = p > room ? size : at + p;
  }
  if (walked) *walked = t;
  return KIVO_DEC_OK;
}

// The seek points, walked once at open. The table is kept within what the
// index itself takes (a step of at least three frames per track), so that
// it grows with the input like everything else.
int32_t MakeSeekPoints(KivoMovie* m) {
  const uint32_t tracks = m->header.trackCount, frames = m->header.frameCount;
  if (tracks == 0) return KIVO_DEC_OK;
  const uint64_t step = tracks < 16 ? 64 : 4 * uint64_t(tracks);
  m->seekStep = step > frames ? frames : uint32_t(step);
  if (m->seekStep == 0) m->seekStep = 1;
  const uint64_t points = frames / m->seekStep + 1;
  if (points * tracks * 12 > (uint64_t(1) << 31)) return KIVO_DEC_ERROR_MEMORY;
  m->seekBytes = static_cast<uint64_t*>(MemAlloc(uint32_t(points * tracks * 8)));
  m->seekCarry = static_cast<uint32_t*>(MemAlloc(uint32_t(points * tracks * 4)));
  if (!m->seekBytes || !m->seekCarry) return KIVO_DEC_ERROR_MEMORY;
  memset(m->seekBytes, 0, size_t(points * tracks * 8));
  memset(m->seekCarry, 0, size_t(points * tracks * 4));
  m->seekKnown = 1;
  uint32_t* pcm = static_cast<uint32_t*>(MemAlloc(tracks * 4));
  if (!pcm) return KIVO_DEC_ERROR_MEMORY;
  // Frame f adds to point (f - 1) / step + 1; the frames after the last
  // point need no walk.
  for (uint32_t f = 1; uint64_t(f - 1) / m->seekStep + 1 < points; ++f) {
    const uint64_t point = (f - 1) / m->seekStep + 1;
    uint64_t* bytes = m->seekBytes + point * tracks;
    uint32_t* carry = m->seekCarry + point * tracks;
    if ((f - 1) % m->seekStep == 0) {
      memcpy(bytes, bytes - tracks, size_t(tracks) * 8);
      memcpy(carry, carry - tracks, size_t(tracks) * 4);
    }
    uint32_t unused, walked;
    if (ChunkHeads(m, f, tracks - 1, pcm, &unused, &walked) != KIVO_DEC_OK) break;
    for (uint32_t t = 0; t < walked; ++t) {
      bytes[t] += pcm[t];
      if (pcm[t]) carry[t] = f;
    }
    if (f % m->seekStep == 0) m->seekKnown = uint32_t(point) + 1;
  }
  MemFree(pcm);
  return KIVO_DEC_OK;
}

// The last filled seek point at or before `frame` (frame 1 + j * seekStep).
uint32_t SeekPointBefore(const KivoMovie* m, uint32_t frame) {
  const uint32_t point = (frame - 1) / m->seekStep;
  return point < m->seekKnown ? point : m->seekKnown - 1;
}

// Reads `bytes` at `offset` into *buffer, which grows to hold them: at once
// when the source's size is known (the caller has checked that they fit),
// else in steps as the bytes arrive. False with *status set when the source
// ends first or memory is short; the buffer then stays valid.
bool ReadGrowing(Source* s, uint64_t offset, uint32_t bytes, uint8_t** buffer, uint32_t* capacity, int32_t* status) {
  uint32_t have = 0;
  while (have < bytes) {
    if (have == *capacity) {
      uint32_t grown = bytes;
      if (s->size == UINT64_MAX) {
        const uint64_t step = have < kFirstStep ? kFirstStep : 2 * uint64_t(have);
        if (step < grown) grown = uint32_t(step);
      }
      uint8_t* bigger = static_cast<uint8_t*>(MemAlloc(grown));
      if (!bigger) {
        *status = KIVO_DEC_ERROR_MEMORY;
        return false;
      }
      if (have) memcpy(bigger, *buffer, have);
      MemFree(*buffer);
      *buffer = bigger;
      *capacity = grown;
    }
    const uint32_t part = (bytes < *capacity ? bytes : *capacity) - have;
    if (!ReadAt(s, offset + have, *buffer + have, part)) {
      *status = KIVO_DEC_ERROR_READ;
      return false;
    }
    have += part;
  }
  return true;
}

// Reads and checks the header and tables and makes the movie, refusing what
// the player refuses with its texts; closes the source on failure.
int32_t OpenSource(Source* source, KivoMovie** out, KivoDecError* error) {
  if (error) *error = KivoDecError{KIVO_DEC_OK, kivo_dec_error_text(KIVO_DEC_OK)};
  auto fail = [&](int32_t code, const char* text) {
    CloseSource(source);
    return Fail(error, code, text);
  };
  // A source shorter than a header has no magic, as the player sees it.
  uint8_t bytes[kHeaderSize];
  if (!ReadAt(source, 0, bytes, kHeaderSize)) memset(bytes, 0, kHeaderSize);
  MovieHeader h;
  ParseMovieHeader(bytes, &h);
  if (const char* bad = CheckMovieHeader(h)) return fail(CodeOfHeaderText(bad), bad);
  if (const char* bad = CheckMovieTables(h, source->size)) return fail(KIVO_DEC_ERROR_DAMAGED, bad);
  if (const char* bad = CheckPictureSize(h.width, h.height)) return fail(KIVO_DEC_ERROR_MEMORY, bad);

  KivoMovie* m = static_cast<KivoMovie*>(MemAlloc(sizeof(KivoMovie)));
  if (!m) return fail(KIVO_DEC_ERROR_MEMORY, nullptr);
  memset(static_cast<void*>(m), 0, sizeof *m);
  m->source = *source;
  m->header = h;
  auto failMovie = [&](int32_t code, const char* text) {
    MemFree(m->seekBytes);
    MemFree(m->seekCarry);
    MemFree(m->tables);
    MemFree(m->packet);
    MemFree(m);
    return fail(code, text);
  };
  const uint32_t tableBytes = static_cast<uint32_t>(TrackTableBytes(h) + IndexBytes(h));
  uint32_t tableCapacity = 0;
  int32_t status = KIVO_DEC_OK;
  if (!ReadGrowing(source, kHeaderSize, tableBytes, &m->tables, &tableCapacity, &status))
    return status == KIVO_DEC_ERROR_MEMORY ? failMovie(status, nullptr)
                                           : failMovie(KIVO_DEC_ERROR_DAMAGED, "This Kivo file is truncated.");
  uint32_t* words = reinterpret_cast<uint32_t*>(m->tables);
  for (uint32_t i = 0; i < tableBytes / 4; ++i) words[i] = Le32(m->tables + 4 * i);
  m->trackMax = words;
  m->trackWords = words + h.trackCount;
  m->trackIds = words + 2 * h.trackCount;
  m->index = words + 3 * h.trackCount;

  // Packets normally end at dataSize + 8, but may run on past it as long as
  // the source holds them, as the player plays them.
  const uint32_t movieSize = h.dataSize + 8;
  const uint64_t whole = source->extent ? source->extent : source->size;
  uint32_t limit = movieSize;
  if (whole != UINT64_MAX && whole > movieSize) limit = whole > UINT32_MAX ? UINT32_MAX : uint32_t(whole);
  if (!IndexIsSound(m->index, h.frameCount, kHeaderSize + tableBytes, limit))
    return failMovie(KIVO_DEC_ERROR_DAMAGED, "The frame index of this Kivo file is damaged.");
  m->movieSize = movieSize;
  for (uint32_t n = 1; n <= h.frameCount; ++n) {
    const uint32_t size = FrameSize(m->index, n);
    if (size > m->largestPacket) m->largestPacket = size;
    if (IsKeyFrame(m->index, n)) ++m->keyFrames;
  }
  // A packet larger than the source cannot be read: the buffer never needs
  // more. Of unknown size, it grows as packets arrive.
  if (source->kind != kSourceMemory && source->size != UINT64_MAX) {
    m->packetCapacity = m->largestPacket < source->size ? m->largestPacket : uint32_t(source->size);
    if (m->packetCapacity == 0) m->packetCapacity = 1;
    m->packet = static_cast<uint8_t*>(MemAlloc(m->packetCapacity));
    if (!m->packet) return failMovie(KIVO_DEC_ERROR_MEMORY, nullptr);
  }
  if (MakeSeekPoints(m) != KIVO_DEC_OK) return failMovie(KIVO_DEC_ERROR_MEMORY, nullptr);
  *out = m;
  return KIVO_DEC_OK;
}

bool ValidFrame(const KivoMovie* m, uint32_t frame) { return m && frame >= 1 && frame <= m->header.frameCount; }

// The packet of `frame`, from memory in place or read into the buffer.
int32_t LoadPacket(KivoMovie* m, uint32_t frame, const uint8_t** data, uint32_t* size) {
  const uint32_t offset = FrameOffset(m->index, frame);
  const uint32_t bytes = FrameSize(m->index, frame);
  *size = bytes;
  *data = nullptr;
  if (m->source.kind == kSourceMemory) {
    if (uint64_t(offset) + bytes > m->source.size) return KIVO_DEC_ERROR_READ;
    *data = m->source.memory + offset;
    return KIVO_DEC_OK;
  }
  if (m->source.size != UINT64_MAX && uint64_t(offset) + bytes > m->source.size) return KIVO_DEC_ERROR_READ;
  int32_t status = KIVO_DEC_OK;
  if (!ReadGrowing(&m->source, offset, bytes, &m->packet, &m->packetCapacity, &status)) return status;
  *data = m->packet;
  return KIVO_DEC_OK;
}

void FillPicture(const KivoVideoDecoder* d, KivoPicture* p) {
  const CurrentPlanes c =
      GetCurrentPlanes(d->planes, (d->decodeFlags & kOpenBeforeH) != 0, (d->decodeFlags & kDecodeAlpha) != 0);
  p->y = c.y;
  p->u = c.u;
  p->v = c.v;
  p->alpha = c.alpha;
  p->width = d->width;
  p->height = d->height;
  p->chroma_width = (d->width + 1) / 2;
  p->chroma_height = (d->height + 1) / 2;
  p->pitch = d->planes.pitch;
  p->chroma_pitch = d->planes.chromaPitch;
}

}  // namespace

extern "C" {

int32_t kivo_movie_open_file(const char* path, KivoMovie** movie, KivoDecError* error) {
  if (!movie) return Fail(error, KIVO_DEC_ERROR_ARGUMENT, nullptr);
  *movie = nullptr;
  if (!path) return Fail(error, KIVO_DEC_ERROR_ARGUMENT, nullptr);
  Source s{};
  s.kind = kSourceFile;
  s.file = os::OpenFileRead(path, false);
  if (s.file == os::kNoFile) return Fail(error, KIVO_DEC_ERROR_OPEN, nullptr);
  const int64_t size = os::FileSize(s.file);
  s.size = size >= 0 ? uint64_t(size) : UINT64_MAX;
  return OpenSource(&s, movie, error);
}

int32_t kivo_movie_open_tables(const void* data, size_t size, uint64_t movieSize, KivoMovie** movie,
                               KivoDecError* error) {
  if (!movie) return Fail(error, KIVO_DEC_ERROR_ARGUMENT, nullptr);
  *movie = nullptr;
  if (!data) return Fail(error, KIVO_DEC_ERROR_ARGUMENT, nullptr);
  Source s{};
  s.kind = kSourceMemory;
  s.memory = static_cast<const uint8_t*>(data);
  s.size = size;
  s.extent = movieSize;
  s.file = os::kNoFile;
  return OpenSource(&s, movie, error);
}

// A movie wholly in memory is its own tables and packets.
int32_t kivo_movie_open_memory(const void* data, size_t size, KivoMovie** movie, KivoDecError* error) {
  return kivo_movie_open_tables(data, size, size, movie, error);
}

int32_t kivo_movie_open_io(const KivoIo* io, void* opaque, KivoMovie** movie, KivoDecError* error) {
  if (!movie) return Fail(error, KIVO_DEC_ERROR_ARGUMENT, nullptr);
  *movie = nullptr;
  if (!io || !io->read || !io->seek) return Fail(error, KIVO_DEC_ERROR_ARGUMENT, nullptr);
  Source s{};
  s.kind = kSourceIo;
  s.io = *io;
  s.opaque = opaque;
  s.file = os::kNoFile;
  const int64_t size = io->size ? io->size(opaque) : -1;
  s.size = size >= 0 ? uint64_t(size) : UINT64_MAX;
  return OpenSource(&s, movie, error);
}

void kivo_movie_close(KivoMovie* m) {
  if (!m) return;
  CloseSource(&m->source);
  MemFree(m->seekBytes);
  MemFree(m->seekCarry);
  MemFree(m->tables);
  MemFree(m->packet);
  MemFree(m);
}

int32_t kivo_movie_info(const KivoMovie* m, KivoMovieInfo* info) {
  if (!m || !info) return KIVO_DEC_ERROR_ARGUMENT;
  memset(info, 0, sizeof *info);
  const MovieHeader& h = m->header;
  info->width = h.width;
  info->height = h.height;
  info->rate_num = h.rateNum;
  info->rate_den = h.rateDen;
  info->frame_count = h.frameCount;
  info->duration_ns = kivo_movie_frame_time(m, h.frameCount + 1);
  info->alpha = (h.videoFlags & kVideoAlpha) ? 1 : 0;
  info->grey = (h.videoFlags & kVideoGrey) ? 1 : 0;
  info->revision = h.revision;
  info->display_mode = (h.videoFlags & kVideoModeMask) >> kVideoModeShift;
  info->track_count = h.trackCount;
  info->largest_packet = m->largestPacket;
  info->key_frame_count = m->keyFrames;
  info->size = m->movieSize;
  return KIVO_DEC_OK;
}

int32_t kivo_movie_track(const KivoMovie* m, uint32_t index, KivoTrackInfo* t) {
  if (t) memset(t, 0, sizeof *t);
  if (!m || !t || index >= m->header.trackCount) return KIVO_DEC_ERROR_ARGUMENT;
  const uint32_t word = m->trackWords[index];
  t->id = m->trackIds[index];
  t->sample_rate = word & kAudioRateMask;
  t->channels = (word & kAudioStereo) ? 2 : 1;
  t->bits = (word & kAudio16Bit) ? 16 : 8;
  t->coding = !TrackPlayable(word) ? KIVO_CODING_NONE : TrackUsesDct(word) ? KIVO_CODING_DCT : KIVO_CODING_RDFT;
  t->playable = TrackPlayable(word) ? 1 : 0;
  t->max_bytes = m->trackMax[index];
  t->audio_word = word;
  return KIVO_DEC_OK;
}

int32_t kivo_movie_is_key_frame(const KivoMovie* m, uint32_t frame) {
  return ValidFrame(m, frame) && IsKeyFrame(m->index, frame) ? 1 : 0;
}

uint32_t kivo_movie_key_frame_before(const KivoMovie* m, uint32_t frame) {
  if (!m) return 0;
  if (frame > m->header.frameCount) frame = m->header.frameCount;
  while (frame > 1 && !IsKeyFrame(m->index, frame)) --frame;
  return frame ? frame : 1;
}

uint64_t kivo_movie_frame_time(const KivoMovie* m, uint32_t frame) {
  if (!m || frame < 1 || m->header.rateNum == 0) return 0;
  return MulDiv(uint64_t(frame - 1) * 1000000000u, m->header.rateDen, m->header.rateNum);
}

uint32_t kivo_movie_frame_at(const KivoMovie* m, uint64_t timeNs) {
  if (!m) return 0;
  const MovieHeader& h = m->header;
  if (h.rateNum == 0 || h.rateDen == 0) return 1;
  if (timeNs >= kivo_movie_frame_time(m, h.frameCount)) return h.frameCount;
  // The last frame whose start is at or before the time.
  uint64_t n = MulDiv(timeNs, h.rateNum, uint64_t(h.rateDen)) / 1000000000u + 1;
  if (n > h.frameCount) n = h.frameCount;
  while (n > 1 && kivo_movie_frame_time(m, uint32_t(n)) > timeNs) --n;
  while (n < h.frameCount && kivo_movie_frame_time(m, uint32_t(n + 1)) <= timeNs) ++n;
  return uint32_t(n);
}

int32_t kivo_packet_split(const uint8_t* data, uint32_t size, uint32_t trackCount, KivoPacket* p) {
  if (!p) return KIVO_DEC_ERROR_ARGUMENT;
  memset(p, 0, sizeof *p);
  if (!data && size) return KIVO_DEC_ERROR_ARGUMENT;
  p->data = data;
  p->size = size;
  p->track_count = trackCount;
  // Each chunk is cut to what the packet holds; a packet that ends inside
  // the chunks has no video data.
  uint32_t at = 0;
  for (uint32_t t = 0; t < trackCount; ++t) {
    if (size - at < 4) {
      at = size;
      break;
    }
    uint32_t chunk = Le32(data + at);
    at += 4;
    if (chunk > size - at) chunk = size - at;
    at += chunk;
  }
  p->video = data ? data + at : nullptr;
  p->video_size = size - at;
  return KIVO_DEC_OK;
}

int32_t kivo_packet_audio(const KivoPacket* p, uint32_t index, const uint8_t** chunk, uint32_t* size) {
  if (chunk) *chunk = nullptr;
  if (size) *size = 0;
  if (!p || !chunk || !size || index >= p->track_count) return KIVO_DEC_ERROR_ARGUMENT;
  if (!p->data || !FindAudioChunk(p->data, p->size, p->track_count, index, chunk, size)) {
    *chunk = nullptr;
    *size = 0;
  }
  return KIVO_DEC_OK;
}

int32_t kivo_movie_packet_place(const KivoMovie* m, uint32_t frame, uint64_t* offset, uint32_t* size) {
  if (!ValidFrame(m, frame) || !offset || !size) return KIVO_DEC_ERROR_ARGUMENT;
  *offset = FrameOffset(m->index, frame);
  *size = FrameSize(m->index, frame);
  return KIVO_DEC_OK;
}

int32_t kivo_movie_read_packet(KivoMovie* m, uint32_t frame, KivoPacket* packet) {
  if (packet) memset(packet, 0, sizeof *packet);
  if (!ValidFrame(m, frame) || !packet) return KIVO_DEC_ERROR_ARGUMENT;
  const uint8_t* data;
  uint32_t size;
  const int32_t status = LoadPacket(m, frame, &data, &size);
  if (status != KIVO_DEC_OK) return status;
  kivo_packet_split(data, size, m->header.trackCount, packet);
  packet->frame = frame;
  packet->key_frame = IsKeyFrame(m->index, frame) ? 1 : 0;
  return KIVO_DEC_OK;
}

int32_t kivo_movie_video_params(const KivoMovie* m, KivoVideoParams* params) {
  if (params) memset(params, 0, sizeof *params);
  if (!m || !params) return KIVO_DEC_ERROR_ARGUMENT;
  params->width = m->header.width;
  params->height = m->header.height;
  params->video_flags = m->header.videoFlags;
  params->revision = m->header.revision;
  if (m->keyFrames == m->header.frameCount) params->options |= KIVO_VIDEO_ONE_PICTURE;
  return KIVO_DEC_OK;
}

int32_t kivo_video_open(const KivoVideoParams* params, KivoVideoDecoder** out) {
  if (!out) return KIVO_DEC_ERROR_ARGUMENT;
  *out = nullptr;
  if (!params) return KIVO_DEC_ERROR_ARGUMENT;
  const uint32_t width = params->width, height = params->height;
  const uint32_t c = uint32_t(((uint64_t(width) + 1) / 2 + 7) & ~uint64_t(7));
  const uint32_t d = uint32_t(((uint64_t(height) + 1) / 2 + 7) & ~uint64_t(7));
  const uint64_t lumaBytes = uint64_t(2 * uint64_t(c)) * (2 * uint64_t(d));
  const uint64_t frameBytes = lumaBytes + 2 * uint64_t(c) * d;
  if (CheckPictureSize(width, height)) return KIVO_DEC_ERROR_MEMORY;
  // Every frame a key frame: the player keeps one picture, which is both
  // the reference and the target, and its blocks read what this frame has
  // already drawn. The same pictures need the same buffers.
  const bool onePicture = (params->options & KIVO_VIDEO_ONE_PICTURE) != 0;
  const bool alpha = (params->video_flags & kVideoAlpha) && !(params->options & KIVO_VIDEO_NO_ALPHA);
  uint32_t flags = (params->video_flags & kDecodeGrey) | RevisionFlags(uint8_t(params->revision));
  if (alpha) flags |= kDecodeAlpha;
  if (params->options & KIVO_VIDEO_NO_SIMD) flags |= kNoProcessorExtensions;

  const uint32_t pitch = 2 * c, rows = 2 * d;
  uint8_t* frames[2];
  uint8_t* alphas[2] = {nullptr, nullptr};
  uint8_t* cells;
  uint8_t* bundles[kBundleCount];
  uint32_t bundleSizes[kBundleCount];
  ComputeBundleSizes(pitch, bundleSizes);
  const int pictures = onePicture ? 1 : 2;
  for (int i = 0; i < pictures; ++i) PlanBlock(&frames[i], static_cast<uint32_t>(frameBytes));
  if (alpha)
    for (int i = 0; i < pictures; ++i) PlanBlock(&alphas[i], static_cast<uint32_t>(lumaBytes));

  PlanBlock(&cells, (pitch / 16) * (rows / 16) + 16);
  for (int i = 0; i < kBundleCount; ++i) PlanBlock(&bundles[i], bundleSizes[i]);
  KivoVideoDecoder* v = static_cast<KivoVideoDecoder*>(AllocatePlan(sizeof(KivoVideoDecoder)));
  if (!v) return KIVO_DEC_ERROR_MEMORY;
  memset(static_cast<void*>(v), 0, sizeof *v);
  v->planes.frameBuffers[0] = frames[0];
  v->planes.frameBuffers[1] = onePicture ? frames[0] : frames[1];
  v->planes.alphaBuffers[0] = alphas[0];
  v->planes.alphaBuffers[1] = onePicture ? alphas[0] : alphas[1];
  v->planes.pitch = pitch;
  v->planes.rows = rows;
  v->planes.chromaPitch = c;
  v->planes.chromaRows = d;
  v->planes.changedCells = cells;
  memcpy(v->bundles, bundles, sizeof bundles);
  v->width = width;
  v->height = height;
  v->decodeFlags = flags;
  v->videoFlags = params->video_flags;
  kivo_video_reset(v);
  *out = v;
  return KIVO_DEC_OK;
}

void kivo_video_reset(KivoVideoDecoder* v) {
  if (!v) return;
  v->planes.current = 0;
  ClearPictureBuffers(&v->planes);
  memset(v->planes.changedCells, 0, (v->planes.pitch / 16) * (v->planes.rows / 16) + 16);
}

int32_t kivo_video_decode(KivoVideoDecoder* v, const uint8_t* data, uint32_t size, KivoPicture* picture) {
  if (picture) memset(picture, 0, sizeof *picture);
  if (!v || (!data && size)) return KIVO_DEC_ERROR_ARGUMENT;
  const int32_t clean = DecodeVideoFrame(&v->planes, v->bundles, data, size, v->width, v->height, 0,
                                         v->decodeFlags, v->videoFlags);
  v->planes.current ^= 1;
  if (picture) FillPicture(v, picture);
  return clean ? KIVO_DEC_OK : KIVO_DEC_ERROR_DATA;
}

int32_t kivo_video_picture(const KivoVideoDecoder* v, KivoPicture* picture) {
  if (picture) memset(picture, 0, sizeof *picture);
  if (!v || !picture) return KIVO_DEC_ERROR_ARGUMENT;
  FillPicture(v, picture);
  return KIVO_DEC_OK;
}

void kivo_video_close(KivoVideoDecoder* v) { MemFree(v); }

int32_t kivo_audio_open(uint32_t word, KivoAudioDecoder** out) {
  if (!out) return KIVO_DEC_ERROR_ARGUMENT;
  *out = nullptr;
  if (!TrackPlayable(word)) return KIVO_DEC_ERROR_ARGUMENT;
  KivoAudioDecoder* a = static_cast<KivoAudioDecoder*>(MemAlloc(sizeof(KivoAudioDecoder)));
  if (!a) return KIVO_DEC_ERROR_MEMORY;
  a->decoder = OpenAudioDecoder(word & kAudioRateMask, (word & kAudioStereo) ? 2 : 1, TrackUsesDct(word));
  if (!a->decoder) {
    MemFree(a);
    return KIVO_DEC_ERROR_MEMORY;
  }
  *out = a;
  return KIVO_DEC_OK;
}

uint32_t kivo_audio_chunk_bytes(const uint8_t* chunk, uint32_t size) {
  return chunk && size >= 4 ? Le32(chunk) : 0;
}

uint32_t kivo_audio_decode_bytes(const KivoAudioDecoder* a, const uint8_t* chunk, uint32_t size) {
  const uint32_t count = kivo_audio_chunk_bytes(chunk, size);
  if (!a || count == 0) return 0;
  // Every block takes at least one word of the chunk.
  const uint64_t blocks = (uint64_t(size) - 4 + 3) / 4;
  const uint64_t most = blocks * (a->decoder->blockBytes - a->decoder->overlapBytes);
  return count < most ? count : uint32_t(most);
}

uint32_t kivo_track_chunk_bytes(uint32_t maxBytes, const uint8_t* chunk, uint32_t size) {
  const uint32_t bytes = kivo_audio_chunk_bytes(chunk, size);
  return maxBytes && bytes > maxBytes ? maxBytes : bytes;
}

namespace {

struct PcmOut {
  uint8_t* at;
};

void AppendPcm(void* context, const int16_t* samples, uint32_t bytes) {
  PcmOut* out = static_cast<PcmOut*>(context);
  memcpy(out->at, samples, bytes);
  out->at += bytes;
}

}  // namespace

int32_t kivo_audio_decode(KivoAudioDecoder* a, const uint8_t* chunk, uint32_t size, int16_t* pcm, uint32_t capacity,
                          uint32_t* bytes) {
  if (bytes) *bytes = 0;
  if (!a || (!chunk && size)) return KIVO_DEC_ERROR_ARGUMENT;
  if (pcm && capacity < kivo_audio_decode_bytes(a, chunk, size)) return KIVO_DEC_ERROR_BUFFER;
  PcmOut out{reinterpret_cast<uint8_t*>(pcm)};
  const uint32_t total = DecodeAudioChunk(a->decoder, chunk, size, pcm ? AppendPcm : nullptr, &out);
  if (bytes) *bytes = total;
  return KIVO_DEC_OK;
}

void kivo_audio_reset(KivoAudioDecoder* a) {
  if (a) ResetAudioDecoder(a->decoder);
}

void kivo_audio_close(KivoAudioDecoder* a) {
  if (!a) return;
  CloseAudioDecoder(a->decoder);
  MemFree(a);
}

int32_t kivo_movie_audio_carry(KivoMovie* m, uint32_t index, uint32_t frame, uint32_t* carry) {
  if (carry) *carry = 0;
  if (!m || !carry || index >= m->header.trackCount || frame < 1) return KIVO_DEC_ERROR_ARGUMENT;
  if (frame > m->header.frameCount + 1) frame = m->header.frameCount + 1;
  // Only the last block decoded carries over (its tail is blended into the
  // next block), so the latest chunk that decodes a block is enough: looked
  // for back to the seek point before the frame, which knows it from there.
  const uint32_t point = SeekPointBefore(m, frame);
  for (uint32_t f = frame - 1; f > point * m->seekStep; --f) {
    uint32_t bytes;
    const int32_t status = ChunkHeads(m, f, index, nullptr, &bytes);
    if (status != KIVO_DEC_OK) return status;
    if (bytes) {
      *carry = f;
      return KIVO_DEC_OK;
    }
  }
  *carry = m->seekCarry[uint64_t(point) * m->header.trackCount + index];
  return KIVO_DEC_OK;
}

int32_t kivo_movie_prime_audio(KivoMovie* m, uint32_t index, uint32_t frame, KivoAudioDecoder* a) {
  if (!m || !a) return KIVO_DEC_ERROR_ARGUMENT;
  ResetAudioDecoder(a->decoder);
  uint32_t carry;
  int32_t status = kivo_movie_audio_carry(m, index, frame, &carry);
  if (status != KIVO_DEC_OK || carry == 0) return status;
  KivoPacket packet;
  status = kivo_movie_read_packet(m, carry, &packet);
  if (status != KIVO_DEC_OK) return status;
  const uint8_t* chunk;
  uint32_t size;
  kivo_packet_audio(&packet, index, &chunk, &size);
  return kivo_audio_decode(a, chunk, size, nullptr, 0, nullptr);
}

int32_t kivo_movie_audio_offset(KivoMovie* m, uint32_t index, uint32_t frame, uint64_t* bytes) {
  if (bytes) *bytes = 0;
  if (!m || !bytes || index >= m->header.trackCount || frame < 1) return KIVO_DEC_ERROR_ARGUMENT;
  if (frame > m->header.frameCount + 1) frame = m->header.frameCount + 1;
  // From the seek point before the frame on, only the chunks' heads.
  const uint32_t point = SeekPointBefore(m, frame);
  uint64_t total = m->seekBytes[uint64_t(point) * m->header.trackCount + index];
  for (uint32_t f = point * m->seekStep + 1; f < frame; ++f) {
    uint32_t pcm;
    const int32_t status = ChunkHeads(m, f, index, nullptr, &pcm);
    if (status != KIVO_DEC_OK) return status;
    total += pcm;
  }
  *bytes = total;
  return KIVO_DEC_OK;
}

}  // extern "C"
