// SPDX-License-Identifier: BSD-2-Clause
// OpenMovie and CloseMovie: the movie record and its buffers in a few grouped
// blocks, the header and tables checked before they are trusted, reading
// ahead or preloading, and everything released again by the close.
#include <cstring>
#include <new>

#include "base/clock.h"
#include "base/error_text.h"
#include "base/memory.h"
#include "io/io_driver.h"
#include "io/read_settings.h"
#include "io/service_thread.h"
#include "movie/container.h"
#include "movie/movie_api.h"
#include "movie/movie_internal.h"
#include "movie/movie_sound.h"
#include "movie/settings.h"
#include "sound/sound_track.h"
#include "video/video_decoder.h"

namespace kivo {
namespace {

constexpr const char* kOutOfMemory = "Out of memory.";
constexpr const char* kDamagedIndex = "The frame index of this Kivo file is damaged.";

ServiceThread* readerThread = nullptr;

void Fail(const char* text) { SetErrorText(text); }

// The header is read before the record exists; the driver then moves into it.
void CopyDriver(IoDriver* to, const IoDriver& from) {
  to->ReadHeader = from.ReadHeader;
  to->ReadFrame = from.ReadFrame;
  to->GetBufferSize = from.GetBufferSize;
  to->SetBuffer = from.SetBuffer;
  to->ReadAhead = from.ReadAhead;
  to->Close = from.Close;
  to->ReadFrameInPlace = from.ReadFrameInPlace;
  to->endOfData.store(from.endOfData.load());
  to->bytesRead.store(from.bytesRead.load());
  to->readMs.store(from.readMs.load());
  to->frameReadMs = from.frameReadMs;
  to->bufferSize = from.bufferSize;
  to->fillTarget.store(from.fillTarget.load());
  to->file = from.file;
  to->filePos = from.filePos;
  to->consumerPos = from.consumerPos;
  to->borrowedHandle = from.borrowedHandle;
  to->baseOffset = from.baseOffset;
  to->dataSize = from.dataSize;
  to->readBatch = from.readBatch;
}

void FreeRecord(Movie* m) {
  if (!m) return;
  m->~Movie();
  memset(static_cast<void*>(m), 0, sizeof(Movie));
  MemFree(m);
}

// What the open has found out so far, handed from step to step.
struct Opening {
  const void* source;
  uint32_t flags;       // the caller's; kOpenPreload is added when the movie fits the read-ahead
  bool inMemory;
  uint32_t start;       // the clock when the open began
  IoDriver io;          // the file driver, until the record holds it
  uint64_t sourceSize;  // bytes from the movie's first byte to the file's end; UINT64_MAX: unknown
  MovieHeader h;
  // The planes: chroma c x d, luma and alpha pitch x rows.
  uint32_t c, d, pitch, rows, cellsAcross, cellCount;
  uint64_t lumaBytes, frameBytes;
  // The effective flags, the presented size, the rates.
  uint32_t effective, width, height;
  uint32_t playNum, playDen, fileRate;
  // Found with the tables: where the movie's data ends and what the source holds of it.
  uint32_t movieSize, dataEnd, available;
  bool allKeys;
};

// Before the record exists: the driver is closed again.
Movie* FailBeforeRecord(Opening* o, const char* text) {
  Fail(text);
  if (!o->inMemory) o->io.Close(&o->io);
  return nullptr;
}

// After it: the driver, the pictures and the record go.
Movie* FailWithRecord(Movie* m, const Opening& o, const char* text) {
  Fail(text);
  if (!o.inMemory) m->io.Close(&m->io);
  if (m->loopSound && !m->preloaded) MemFree(m->loopSound);
  if (m->picturesBlock) MemFree(m->picturesBlock);
  FreeRecord(m);
  return nullptr;
}

// The one-shot settings the flags do not ask for go back to their defaults,
// the clock starts and the last open's error is forgotten.
void BeginOpen(Opening* o, const void* source, uint32_t flags) {
  if (!(flags & kOpenSoundTracks)) ResetSoundTrackRequest();
  o->source = source;
  o->flags = flags;
  o->start = GetMilliseconds();
  SetErrorText("");
  o->inMemory = (flags & kOpenMemory) != 0;
  o->sourceSize = UINT64_MAX;
}

// The header's bytes, from memory or through a newly opened file driver;
// false (with the error text set) when there is no source to read.
bool ReadMovieHeader(Opening* o, uint8_t (&bytes)[kHeaderSize]) {
  if (o->inMemory) {
    if (!o->source) {
      Fail("Error opening file.");
      return false;
    }
    memcpy(bytes, o->source, kHeaderSize);
    return true;
  }
  IoDriver& io = o->io;
  if (!OpenFileDriver(&io, o->source, o->flags)) {
    if (!*GetErrorText()) Fail("Error opening file.");
    return false;
  }
  int64_t fileSize = os::FileSize(io.file);
  if (fileSize >= 0 && uint64_t(fileSize) >= io.baseOffset) o->sourceSize = uint64_t(fileSize) - io.baseOffset;
  if (io.ReadHeader(&io, 0, bytes, kHeaderSize) != kHeaderSize) memset(bytes, 0, kHeaderSize);
  return true;
}

// The plane sizes; the error text when the pictures would be absurdly large.
const char* WorkOutGeometry(Opening* o) {
  const MovieHeader& h = o->h;
  o->c = (((h.width + 1) >> 1) + 7) & ~7u;
  o->d = (((h.height + 1) >> 1) + 7) & ~7u;
  o->lumaBytes = uint64_t(2 * uint64_t(o->c)) * (2 * uint64_t(o->d));
  o->frameBytes = o->lumaBytes + 2 * uint64_t(o->c) * o->d;
  if (const char* bad = CheckPictureSize(h.width, h.height)) return bad;
  o->pitch = 2 * o->c;
  o->rows = 2 * o->d;
  o->cellsAcross = o->pitch / 16;
  o->cellCount = o->cellsAcross * (o->rows / 16);
  return nullptr;
}

// The effective flags with the display mode (the caller's, else the file's)
// and the presented size it gives.
void WorkOutFlagsAndMode(Opening* o) {
  const MovieHeader& h = o->h;
  uint32_t effective = (o->flags | (h.videoFlags & kOpenGrey)) & ~kOpenModeMask;
  if (!(h.videoFlags & kVideoAlpha)) effective &= ~kOpenAlpha;
  uint32_t mode = (o->flags & kOpenModeMask) >> kOpenModeShift;
  if (mode == 7)
    mode = 0;
  else if (mode == 0)
    mode = (h.videoFlags & kVideoModeMask) >> kVideoModeShift;
  effective |= mode << kOpenModeShift;
  effective |= RevisionFlags(h.revision);
  o->effective = effective;
  o->width = h.width;
  o->height = h.height;
  if (mode == 3 || mode == 4 || mode == 5) o->width *= 2;
  if (mode == 1 || mode == 2 || mode == 4 || mode == 5) o->height *= 2;
}

// The rate played: the file's, or the override the flags ask for.
void WorkOutRates(Opening* o) {
  o->playNum = o->h.rateNum;
  o->playDen = o->h.rateDen;
  if (o->flags & kOpenRateOverride) {
    int32_t num, den;
    GetFrameRateOverride(&num, &den);
    if (num != -1) {
      o->playNum = static_cast<uint32_t>(num);
      o->playDen = static_cast<uint32_t>(den);
      ResetFrameRateOverride();
    }
  }
  o->fileRate = RoundedFrameRate(o->h.rateNum, o->h.rateDen);
}

// The record in one block with its small arrays (changed cells, statistics
// history, sound track records, bundle buffers, and for a file the tables),
// cleared. Null when the block cannot be had.
Movie* MakeRecord(const Opening& o, uint32_t** trackArrays, uint32_t** frameIndex) {
  const MovieHeader& h = o.h;
  uint32_t requested = 0;
  SoundTrackRequest(&requested);
  const uint32_t records = requested ? requested : 1;
  const uint32_t historyFrames = HistoryFrames(o.fileRate);
  uint8_t* changedCells;
  uint32_t* history[kHistoryFigures];
  SoundTrack* tracks;
  uint32_t* selected;
  uint8_t* bundles[kBundleCount];
  uint32_t bundleSizes[kBundleCount];
  ComputeBundleSizes(o.pitch, bundleSizes);
  PlanBlock(&changedCells, o.cellCount + 16);
  for (uint32_t*& samples : history) PlanBlock(&samples, HistorySampleBytes(historyFrames));
  PlanBlock(&tracks, records * sizeof(SoundTrack));
  PlanBlock(&selected, records * 4);
  for (int i = 0; i < kBundleCount; ++i) PlanBlock(&bundles[i], bundleSizes[i]);
  if (!o.inMemory) {
    PlanBlock(frameIndex, static_cast<uint32_t>(IndexBytes(h)));
    PlanBlock(trackArrays, h.trackCount ? h.trackCount * 12 : 4);
  }
  const uint32_t planTotal = PlanTotal();
  void* block = AllocatePlan(sizeof(Movie));
  if (!block) return nullptr;
  Movie* m = new (block) Movie();
  m->memoryUsed = planTotal + sizeof(Movie);
  m->planes.changedCells = changedCells;
  m->history.frames = historyFrames;
  for (uint32_t f = 0; f < kHistoryFigures; ++f) {
    m->history.samples[f] = history[f];
    memset(history[f], 0, HistorySampleBytes(historyFrames));
  }
  m->soundTracks = tracks;
  memset(static_cast<void*>(tracks), 0, records * sizeof(SoundTrack));
  m->selectedTracks = selected;
  m->requestedTracks = records;
  for (int i = 0; i < kBundleCount; ++i) m->bundleBuffers[i] = bundles[i];
  return m;
}

// The record takes over the file driver and what the header and the open's
// reckoning said.
void FillRecord(Movie* m, const Opening& o) {
  const MovieHeader& h = o.h;
  CopyDriver(&m->io, o.io);
  m->io.owner = m;
  m->width = o.width;
  m->height = o.height;
  m->frameCount = h.frameCount;
  m->playRateNum = o.playNum;
  m->playRateDen = o.playDen;
  m->openFlags = o.effective;
  m->videoFlags = h.videoFlags;
  m->dataSize = h.dataSize;
  m->rectCount = -1;
  m->planes.pitch = o.pitch;
  m->planes.rows = o.rows;
  m->planes.chromaPitch = o.c;
  m->planes.chromaRows = o.d;
  m->cellsAcross = o.cellsAcross;
  m->cellCount = o.cellCount;
  m->largestFrame = h.largestFrame;
  m->indexLast = h.indexLast;
  m->trackCount = h.trackCount;
  m->sourceWidth = h.width;
  m->sourceHeight = h.height;
  m->fileRateNum = h.rateNum;
  m->fileRateDen = h.rateDen;
  m->revision = h.revision;
}

// The track tables and the frame index: read in place from a movie in
// memory, else read from the file into the record's arrays.
bool ReadTables(Movie* m, const Opening& o, uint32_t* trackArrays, uint32_t* frameIndex) {
  const MovieHeader& h = o.h;
  if (o.inMemory) {
    // A movie in memory is read in place; the words are little-endian and
    // 4-byte aligned inside it.
    const uint32_t* words = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(o.source) + kHeaderSize);
    m->trackMaxBytes = const_cast<uint32_t*>(words);
    m->trackAudioWords = const_cast<uint32_t*>(words + h.trackCount);
    m->trackIds = const_cast<uint32_t*>(words + 2 * h.trackCount);
    m->frameIndex = const_cast<uint32_t*>(words + 3 * h.trackCount);
    return true;
  }
  m->trackMaxBytes = trackArrays;
  m->trackAudioWords = trackArrays + h.trackCount;
  m->trackIds = trackArrays + 2 * h.trackCount;
  m->frameIndex = frameIndex;
  const uint32_t arrays = h.trackCount * 12;
  if ((arrays && m->io.ReadHeader(&m->io, -1, trackArrays, arrays) != arrays) ||
      m->io.ReadHeader(&m->io, -1, frameIndex, static_cast<uint32_t>(IndexBytes(h))) != IndexBytes(h))
    return false;
  for (uint32_t i = 0; i < 3 * h.trackCount; ++i) trackArrays[i] = ReadLe32(reinterpret_cast<uint8_t*>(trackArrays + i));
  for (uint32_t i = 0; i <= h.indexLast; ++i) frameIndex[i] = ReadLe32(reinterpret_cast<uint8_t*>(frameIndex + i));
  return true;
}

// The index checked against what the source holds, and what follows from
// it: the largest packet, the peak data rate, whether every frame is a key.
bool CheckIndex(Movie* m, Opening* o) {
  const MovieHeader& h = o->h;
  const uint32_t tablesEnd = static_cast<uint32_t>(kHeaderSize + TrackTableBytes(h) + IndexBytes(h));
  o->movieSize = h.dataSize + 8;
  // Writers put the end of the last packet at dataSize + 8, but nothing else
  // relies on it: packets may run on past it as long as they are in the file.
  // A movie in memory (or a file of unknown size) is only known to hold
  // dataSize + 8 bytes, and no packet may end beyond them.
  uint32_t indexLimit = o->movieSize;
  if (!o->inMemory && o->sourceSize != UINT64_MAX && o->sourceSize > o->movieSize)
    indexLimit = o->sourceSize > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(o->sourceSize);
  if (!IndexIsSound(m->frameIndex, h.frameCount, tablesEnd, indexLimit)) return false;
  const uint32_t lastEnd = m->frameIndex[h.frameCount] & ~1u;
  o->dataEnd = lastEnd > o->movieSize ? lastEnd : o->movieSize;
  // The largest packet cannot exceed the movie's data, nor the bytes the file
  // really holds; a header claiming more would only make the frame buffer absurd.
  o->available = o->sourceSize < o->dataEnd ? static_cast<uint32_t>(o->sourceSize) : o->dataEnd;
  if (m->largestFrame > o->available) m->largestFrame = o->available;
  PeakDataRate peak = ComputePeakDataRate(m->frameIndex, h.frameCount, o->fileRate);
  m->peakDataRate = peak.rate;
  m->peakDataFrame = peak.frame;
  o->allKeys = AllKeyFrames(m->frameIndex, h.frameCount);
  return true;
}

// The two plane sets (one when every frame is a key) with their alpha
// planes, in one block, cleared.
bool MakePictures(Movie* m, const Opening& o) {
  const bool alpha = (o.effective & kOpenAlpha) != 0;
  uint8_t* second = nullptr;
  uint8_t* alphaA = nullptr;
  uint8_t* alphaB = nullptr;
  if (!o.allKeys) PlanBlock(&second, static_cast<uint32_t>(o.frameBytes));
  if (alpha) {
    PlanBlock(&alphaA, static_cast<uint32_t>(o.lumaBytes));
    if (!o.allKeys) PlanBlock(&alphaB, static_cast<uint32_t>(o.lumaBytes));
  }
  const uint32_t pictures = PlanTotal() + ((static_cast<uint32_t>(o.frameBytes) + 31) & ~31u);
  uint8_t* first = static_cast<uint8_t*>(AllocatePlan(static_cast<uint32_t>(o.frameBytes)));
  if (!first) return false;
  m->picturesBlock = first;
  m->memoryUsed += pictures;
  m->planes.frameBuffers[0] = first;
  m->planes.frameBuffers[1] = o.allKeys ? first : second;
  m->planes.alphaBuffers[0] = alphaA;
  m->planes.alphaBuffers[1] = o.allKeys ? alphaA : alphaB;
  ClearPictureBuffers(&m->planes);
  return true;
}

// The read-ahead size asked for: the peak data rate, or the setting the
// flags ask for, never more than the file holds.
uint32_t ReadAheadSize(const Movie* m, const Opening& o) {
  uint32_t wanted = m->peakDataRate;
  if (o.flags & kOpenBufferSize) {
    uint32_t setting = TakeReadBufferSize();
    if (setting != kReadSettingUnset) wanted = setting;
  }
  // A ring larger than the data the file holds never fills: a header (or a
  // setting) asking for more gets no more than the file's size.
  return wanted > o.available ? o.available : wanted;
}

// The simulated read speed the flags ask for, 0 for none.
uint32_t SimulatedSpeed(const Opening& o) {
  if (!(o.flags & kOpenReadSpeed)) return 0;
  const uint32_t setting = TakeSimulatedReadSpeed();
  return setting != kReadSettingUnset ? setting : 0;
}

// The whole data loaded at once; the file is closed after.
bool Preload(Movie* m, const Opening& o, uint32_t firstFrame, uint32_t speed) {
  // Only what the file holds is loaded; a file shorter than its header
  // says ends its data at the first packet that does not fit in it.
  const uint32_t wholeData = o.dataEnd - firstFrame;
  const uint32_t inFile = o.available > firstFrame ? o.available - firstFrame : 0;
  const uint32_t bytesToLoad = wholeData < inFile ? wholeData : inFile;
  m->preloaded = static_cast<uint8_t*>(MemAlloc(bytesToLoad ? bytesToLoad : 1));
  if (!m->preloaded) return false;
  m->memoryUsed += bytesToLoad;
  m->readBufferSize = 0;
  m->io.SetBuffer(&m->io, nullptr, 0, o.movieSize, speed);
  m->preloadedBytes = m->io.ReadFrame(&m->io, 0, firstFrame, m->preloaded, bytesToLoad);
  if (bytesToLoad < wholeData) m->io.endOfData.store(1);
  m->io.Close(&m->io);
  m->io.frameReadMs = 0;
  return true;
}

// The data: read in place from memory, preloaded (asked for, or when the
// read-ahead would hold nine tenths of it), or read ahead through a ring
// with a frame buffer for packets the ring cannot lend.
bool SetUpData(Movie* m, Opening* o) {
  const uint32_t wanted = ReadAheadSize(m, *o);
  const uint32_t speed = SimulatedSpeed(*o);
  const uint32_t firstFrame = m->frameIndex[0] & ~1u;
  if (o->inMemory) {
    m->preloaded = const_cast<uint8_t*>(static_cast<const uint8_t*>(o->source)) + firstFrame;
    m->preloadedBytes = o->available > firstFrame ? o->available - firstFrame : 0;
    return true;
  }
  m->readBufferSize = m->io.GetBufferSize(&m->io, wanted);
  if (m->readBufferSize >= static_cast<uint32_t>(uint64_t(o->h.dataSize) * 9 / 10)) {
    o->flags |= kOpenPreload;
    m->openFlags |= kOpenPreload;
  }
  if (m->openFlags & kOpenPreload) return Preload(m, *o, firstFrame, speed);
  uint8_t* frameBuffer = nullptr;
  PlanBlock(&frameBuffer, m->largestFrame ? m->largestFrame : 1);
  const uint32_t readTotal = PlanTotal() + ((m->readBufferSize + 31) & ~31u);
  m->readBlock = static_cast<uint8_t*>(AllocatePlan(m->readBufferSize));
  if (!m->readBlock) return false;
  m->memoryUsed += readTotal;
  m->frameData = m->frameBuffer = frameBuffer;
  m->io.SetBuffer(&m->io, m->readBufferSize ? m->readBlock : nullptr, m->readBufferSize, o->movieSize, speed);
  return true;
}

// Frame 1's packet loaded, the late limit set (two frames' time, 2 s for a
// movie played as fast as possible) and the open's time taken.
void LoadFrameOne(Movie* m, const Opening& o) {
  m->planes.changedCells[m->cellCount] = 0;
  m->currentFrame = 0xFFFFFFFFu;
  m->lateLimit = o.playNum ? static_cast<uint32_t>(2000ull * o.playDen / o.playNum) : 2000;
  m->videoOn = 1;
  GotoFrame(m, 1);
  m->openMs = GetMilliseconds() - o.start;
  m->soundTracks[0].timeScale = 0x10000;
}

// The driver's lock hooks, then the reader thread (made on first need): the
// hooks go in first, since the thread may read ahead as soon as the client
// is in.
void StartReader(Movie* m, uint32_t flags) {
  InstallReaderLockHooks(&m->io);
  if (m->preloaded || (flags & kOpenNoReader)) return;
  if (!readerThread) {
    readerThread = CreateServiceThread(kReaderThreadRate);
    if (readerThread) StartServiceThread(readerThread);
  }
  if (readerThread) RegisterReaderClient(readerThread, &m->io);
}

// The read-ahead filled before the open returns, unless the flags say not to.
void FillReadAhead(Movie* m, uint32_t flags) {
  if (m->preloaded || (flags & kOpenNoFill)) return;
  for (;;) {
    int32_t got = m->io.ReadAhead(&m->io);
    if (got == 0) break;
    if (got < 0) YieldProcessor();
  }
}

}  // namespace

Movie* OpenMovie(const void* source, uint32_t flags) {
  Opening o{};
  BeginOpen(&o, source, flags);
  uint8_t bytes[kHeaderSize];
  if (!ReadMovieHeader(&o, bytes)) return nullptr;
  ParseMovieHeader(bytes, &o.h);
  if (const char* bad = CheckMovieHeader(o.h)) return FailBeforeRecord(&o, bad);
  if (const char* bad = CheckMovieTables(o.h, o.sourceSize)) return FailBeforeRecord(&o, bad);
  if (const char* bad = WorkOutGeometry(&o)) return FailBeforeRecord(&o, bad);
  WorkOutFlagsAndMode(&o);
  WorkOutRates(&o);
  uint32_t* trackArrays = nullptr;
  uint32_t* frameIndex = nullptr;
  Movie* m = MakeRecord(o, &trackArrays, &frameIndex);
  if (!m) return FailBeforeRecord(&o, kOutOfMemory);
  FillRecord(m, o);
  if (!ReadTables(m, o, trackArrays, frameIndex)) return FailWithRecord(m, o, "This Kivo file is truncated.");
  if (!CheckIndex(m, &o)) return FailWithRecord(m, o, kDamagedIndex);
  if (!MakePictures(m, o)) return FailWithRecord(m, o, kOutOfMemory);
  if (!SetUpData(m, &o)) return FailWithRecord(m, o, kOutOfMemory);
  LoadFrameOne(m, o);
  OpenSoundTracks(m);
  KeepLoopSound(m);
  StartReader(m, o.flags);
  FillReadAhead(m, o.flags);
  return m;
}

void CloseMovie(Movie* m) {
  if (!m) return;
  EntryBookkeeping(m);
  m->paused = 1;
  CloseSoundTracks(m);
  if (readerThread && m->io.readerClient.mutex &&
      (UnregisterClients(readerThread, &m->io.readerClient, nullptr, nullptr, kDestroyEmptyThreads) &
       kReaderThreadDestroyed))
    readerThread = nullptr;
  if (m->readBlock) {
    m->io.Close(&m->io);
    MemFree(m->readBlock);
  } else if (m->preloaded && !(m->openFlags & kOpenMemory)) {
    MemFree(m->preloaded);
  }
  if (m->loopSound && !m->preloaded) MemFree(m->loopSound);
  if (m->picturesBlock) MemFree(m->picturesBlock);
  FreeRecord(m);
}

}  // namespace kivo
