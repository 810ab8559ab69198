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
#include "movie/settings.h"
#include "sound/movie_sound.h"
#include "sound/sound_track.h"
#include "video/video_decoder.h"

namespace kivo {
namespace {

constexpr const char* kOutOfMemory = "Out of memory.";
constexpr const char* kDamagedIndex = "The frame index of this Kivo file is damaged.";
// Frame and alpha buffers together stay below this, whatever the header
// says: room for 8192 x 8192 with alpha, far from exhausting a machine.
constexpr uint64_t kPictureLimit = 512u << 20;
constexpr uint32_t kLargestSide = 65536;

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

}  // namespace

Movie* OpenMovie(const void* source, uint32_t flags) {
  // 1. Settings and the clock.
  if (!(flags & kOpenSoundTracks)) ResetSoundTrackRequest();
  const uint32_t start = GetMilliseconds();
  SetErrorText("");
  const bool inMemory = (flags & kOpenMemory) != 0;

  // 2. Header.
  uint8_t bytes[kHeaderSize];
  IoDriver io{};
  uint64_t sourceSize = UINT64_MAX;
  if (inMemory) {
    if (!source) {
      Fail("Error opening file.");
      return nullptr;
    }
    memcpy(bytes, source, kHeaderSize);
  } else {
    if (!OpenFileDriver(&io, source, flags)) {
      if (!*GetErrorText()) Fail("Error opening file.");
      return nullptr;
    }
    int64_t fileSize = os::FileSize(io.file);
    if (fileSize >= 0 && uint64_t(fileSize) >= io.baseOffset) sourceSize = uint64_t(fileSize) - io.baseOffset;
    if (io.ReadHeader(&io, 0, bytes, kHeaderSize) != kHeaderSize) memset(bytes, 0, sizeof bytes);
  }
  auto failOpen = [&](const char* text) -> Movie* {
    Fail(text);
    if (!inMemory) io.Close(&io);
    return nullptr;
  };

  // 3. Checks, then the tables against what the source can hold.
  MovieHeader h;
  ParseMovieHeader(bytes, &h);
  if (const char* bad = CheckMovieHeader(h)) return failOpen(bad);
  if (const char* bad = CheckMovieTables(h, sourceSize)) return failOpen(bad);

  // 4. Geometry.
  const uint32_t c = (((h.width + 1) >> 1) + 7) & ~7u;
  const uint32_t d = (((h.height + 1) >> 1) + 7) & ~7u;
  const uint64_t lumaBytes = uint64_t(2 * uint64_t(c)) * (2 * uint64_t(d));
  const uint64_t frameBytes = lumaBytes + 2 * uint64_t(c) * d;
  // The bundle buffers grow with the width alone (about 16 bytes a column),
  // and the decoder walks every block row even of a picture with no width: a
  // side beyond kLargestSide must not slip past the cap when the other is 0.
  const uint64_t bundleBytes = 16 * uint64_t(2 * uint64_t(c));
  if (h.width > kLargestSide || h.height > kLargestSide || 2 * frameBytes + 2 * lumaBytes + bundleBytes > kPictureLimit)
    return failOpen(kOutOfMemory);
  const uint32_t pitch = 2 * c, rows = 2 * d;
  const uint32_t cellsAcross = pitch / 16;
  const uint32_t cellCount = cellsAcross * (rows / 16);

  // 5. Flags and display mode.
  uint32_t effective = (flags | (h.videoFlags & kOpenGrey)) & ~kOpenModeMask;
  if (!(h.videoFlags & kVideoAlpha)) effective &= ~kOpenAlpha;
  uint32_t mode = (flags & kOpenModeMask) >> kOpenModeShift;
  if (mode == 7)
    mode = 0;
  else if (mode == 0)
    mode = (h.videoFlags & kVideoModeMask) >> kVideoModeShift;
  effective |= mode << kOpenModeShift;
  effective |= RevisionFlags(h.revision);
  uint32_t width = h.width, height = h.height;
  if (mode == 3 || mode == 4 || mode == 5) width *= 2;
  if (mode == 1 || mode == 2 || mode == 4 || mode == 5) height *= 2;

  // 6. Frame rate.
  uint32_t playNum = h.rateNum, playDen = h.rateDen;
  if (flags & kOpenRateOverride) {
    int32_t num, den;
    GetFrameRateOverride(&num, &den);
    if (num != -1) {
      playNum = static_cast<uint32_t>(num);
      playDen = static_cast<uint32_t>(den);
      ResetFrameRateOverride();
    }
  }
  const uint32_t fileRate = RoundedFrameRate(h.rateNum, h.rateDen);
  const uint32_t historyFrames = HistoryFrames(fileRate);

  // 7. The record with its small arrays.
  uint32_t requested = 0;
  SoundTrackRequest(&requested);
  const uint32_t records = requested ? requested : 1;
  Movie* planned = nullptr;  // addresses land in these until the record exists
  uint8_t* changedCells;
  uint32_t* history[kHistoryFigures];
  SoundTrack* tracks;
  uint32_t* selected;
  uint8_t* bundles[kBundleCount];
  uint32_t* frameIndex = nullptr;
  uint32_t* trackArrays = nullptr;
  uint32_t bundleSizes[kBundleCount];
  ComputeBundleSizes(pitch, bundleSizes);
  PlanBlock(&changedCells, cellCount + 16);
  for (uint32_t*& samples : history) PlanBlock(&samples, HistorySampleBytes(historyFrames));
  PlanBlock(&tracks, records * sizeof(SoundTrack));
  PlanBlock(&selected, records * 4);
  for (int i = 0; i < kBundleCount; ++i) PlanBlock(&bundles[i], bundleSizes[i]);
  if (!inMemory) {
    PlanBlock(&frameIndex, static_cast<uint32_t>(IndexBytes(h)));
    PlanBlock(&trackArrays, h.trackCount ? h.trackCount * 12 : 4);
  }
  const uint32_t planTotal = PlanTotal();
  void* block = AllocatePlan(sizeof(Movie));
  (void)planned;
  if (!block) return failOpen(kOutOfMemory);
  Movie* m = new (block) Movie();
  m->memoryUsed = planTotal + sizeof(Movie);
  CopyDriver(&m->io, io);
  m->io.owner = m;
  m->width = width;
  m->height = height;
  m->frameCount = h.frameCount;
  m->playRateNum = playNum;
  m->playRateDen = playDen;
  m->openFlags = effective;
  m->videoFlags = h.videoFlags;
  m->dataSize = h.dataSize;
  m->rectCount = -1;
  m->planes.pitch = pitch;
  m->planes.rows = rows;
  m->planes.chromaPitch = c;
  m->planes.chromaRows = d;
  m->planes.changedCells = changedCells;
  m->cellsAcross = cellsAcross;
  m->cellCount = cellCount;
  m->largestFrame = h.largestFrame;
  m->indexLast = h.indexLast;
  m->trackCount = h.trackCount;
  m->sourceWidth = h.width;
  m->sourceHeight = h.height;
  m->fileRateNum = h.rateNum;
  m->fileRateDen = h.rateDen;
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
  m->revision = h.revision;
  auto failMovie = [&](const char* text) -> Movie* {
    Fail(text);
    if (!inMemory) m->io.Close(&m->io);
    if (m->picturesBlock) MemFree(m->picturesBlock);
    FreeRecord(m);
    return nullptr;
  };

  // 8. Tables.
  const uint8_t* memoryBase = static_cast<const uint8_t*>(source);
  if (inMemory) {
    // A movie in memory is read in place; the words are little-endian and
    // 4-byte aligned inside it.
    const uint32_t* words = reinterpret_cast<const uint32_t*>(memoryBase + kHeaderSize);
    m->trackMaxBytes = const_cast<uint32_t*>(words);
    m->trackAudioWords = const_cast<uint32_t*>(words + h.trackCount);
    m->trackIds = const_cast<uint32_t*>(words + 2 * h.trackCount);
    m->frameIndex = const_cast<uint32_t*>(words + 3 * h.trackCount);
  } else {
    m->trackMaxBytes = trackArrays;
    m->trackAudioWords = trackArrays + h.trackCount;
    m->trackIds = trackArrays + 2 * h.trackCount;
    m->frameIndex = frameIndex;
    const uint32_t arrays = h.trackCount * 12;
    if ((arrays && m->io.ReadHeader(&m->io, -1, trackArrays, arrays) != arrays) ||
        m->io.ReadHeader(&m->io, -1, frameIndex, static_cast<uint32_t>(IndexBytes(h))) != IndexBytes(h))
      return failMovie("This Kivo file is truncated.");
    for (uint32_t i = 0; i < 3 * h.trackCount; ++i) trackArrays[i] = ReadLe32(reinterpret_cast<uint8_t*>(trackArrays + i));
    for (uint32_t i = 0; i <= h.indexLast; ++i) frameIndex[i] = ReadLe32(reinterpret_cast<uint8_t*>(frameIndex + i));
  }
  const uint32_t tablesEnd = static_cast<uint32_t>(kHeaderSize + TrackTableBytes(h) + IndexBytes(h));
  const uint32_t movieSize = h.dataSize + 8;
  // Writers put the end of the last packet at dataSize + 8, but nothing else
  // relies on it: packets may run on past it as long as they are in the file.
  // A movie in memory (or a file of unknown size) is only known to hold
  // dataSize + 8 bytes, and no packet may end beyond them.
  uint32_t indexLimit = movieSize;
  if (!inMemory && sourceSize != UINT64_MAX && sourceSize > movieSize)
    indexLimit = sourceSize > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(sourceSize);
  if (!IndexIsSound(m->frameIndex, h.frameCount, tablesEnd, indexLimit)) return failMovie(kDamagedIndex);
  const uint32_t lastEnd = m->frameIndex[h.frameCount] & ~1u;
  const uint32_t dataEnd = lastEnd > movieSize ? lastEnd : movieSize;
  // The largest packet cannot exceed the movie's data, nor the bytes the file
  // really holds; a header claiming more would only make the frame buffer absurd.
  const uint32_t available = sourceSize < dataEnd ? static_cast<uint32_t>(sourceSize) : dataEnd;
  if (m->largestFrame > available) m->largestFrame = available;
  PeakDataRate peak = ComputePeakDataRate(m->frameIndex, h.frameCount, fileRate);
  m->peakDataRate = peak.rate;
  m->peakDataFrame = peak.frame;
  const bool allKeys = AllKeyFrames(m->frameIndex, h.frameCount);

  // 9. Pictures.
  const bool alpha = (effective & kOpenAlpha) != 0;
  uint8_t* second = nullptr;
  uint8_t* alphaA = nullptr;
  uint8_t* alphaB = nullptr;
  if (!allKeys) PlanBlock(&second, static_cast<uint32_t>(frameBytes));
  if (alpha) {
    PlanBlock(&alphaA, static_cast<uint32_t>(lumaBytes));
    if (!allKeys) PlanBlock(&alphaB, static_cast<uint32_t>(lumaBytes));
  }
  const uint32_t pictures = PlanTotal() + ((static_cast<uint32_t>(frameBytes) + 31) & ~31u);
  uint8_t* first = static_cast<uint8_t*>(AllocatePlan(static_cast<uint32_t>(frameBytes)));
  if (!first) return failMovie(kOutOfMemory);
  m->picturesBlock = first;
  m->memoryUsed += pictures;
  m->planes.frameBuffers[0] = first;
  m->planes.frameBuffers[1] = allKeys ? first : second;
  m->planes.alphaBuffers[0] = alphaA;
  m->planes.alphaBuffers[1] = allKeys ? alphaA : alphaB;
  ClearPictureBuffers(&m->planes);

  // 10. Read-ahead size and simulated speed.
  uint32_t wanted = m->peakDataRate;
  if (flags & kOpenBufferSize) {
    uint32_t setting = TakeReadBufferSize();
    if (setting != kReadSettingUnset) wanted = setting;
  }
  // A ring larger than the data the file holds never fills: a header (or a
  // setting) asking for more gets no more than the file's size.
  if (wanted > available) wanted = available;
  uint32_t speed = 0;
  if (flags & kOpenReadSpeed) {
    uint32_t setting = TakeSimulatedReadSpeed();
    if (setting != kReadSettingUnset) speed = setting;
  }

  // 11. Data: in memory, preloaded, or read ahead through a ring buffer.
  const uint32_t firstFrame = m->frameIndex[0] & ~1u;
  if (inMemory) {
    m->preloaded = const_cast<uint8_t*>(memoryBase) + firstFrame;
  } else {
    m->readBufferSize = m->io.GetBufferSize(&m->io, wanted);
    if (m->readBufferSize >= static_cast<uint32_t>(uint64_t(h.dataSize) * 9 / 10)) {
      flags |= kOpenPreload;
      m->openFlags |= kOpenPreload;
    }
    if (m->openFlags & kOpenPreload) {
      // Only what the file holds is loaded; a file shorter than its header
      // says ends its data at once, as the short read of the whole would.
      const uint32_t wholeData = dataEnd - firstFrame;
      const uint32_t inFile = available > firstFrame ? available - firstFrame : 0;
      const uint32_t bytesToLoad = wholeData < inFile ? wholeData : inFile;
      m->preloaded = static_cast<uint8_t*>(MemAlloc(bytesToLoad ? bytesToLoad : 1));
      if (!m->preloaded) return failMovie(kOutOfMemory);
      m->memoryUsed += bytesToLoad;
      m->readBufferSize = 0;
      m->io.SetBuffer(&m->io, nullptr, 0, movieSize, speed);
      m->io.ReadFrame(&m->io, 0, firstFrame, m->preloaded, bytesToLoad);
      if (bytesToLoad < wholeData) m->io.endOfData.store(1);
      m->io.Close(&m->io);
      m->io.frameReadMs = 0;
    } else {
      uint8_t* frameBuffer = nullptr;
      PlanBlock(&frameBuffer, m->largestFrame ? m->largestFrame : 1);
      const uint32_t readTotal = PlanTotal() + ((m->readBufferSize + 31) & ~31u);
      m->readBlock = static_cast<uint8_t*>(AllocatePlan(m->readBufferSize));
      if (!m->readBlock) return failMovie(kOutOfMemory);
      m->memoryUsed += readTotal;
      m->frameData = m->frameBuffer = frameBuffer;
      m->io.SetBuffer(&m->io, m->readBufferSize ? m->readBlock : nullptr, m->readBufferSize, movieSize, speed);
    }
  }

  // 12. Frame 1.
  m->planes.changedCells[cellCount] = 0;
  m->currentFrame = 0xFFFFFFFFu;
  m->lateLimit = playNum ? static_cast<uint32_t>(2000ull * playDen / playNum) : 2000;
  m->videoOn = 1;
  GotoFrame(m, 1);
  m->openMs = GetMilliseconds() - start;
  m->soundTracks[0].timeScale = 0x10000;

  // 13, 14. Sound tracks and the sound thread.
  OpenSoundTracks(m);

  // 15, 16. The driver's lock hooks, then the reader thread: the hooks go in
  // first, since the thread may read ahead as soon as the client is in.
  InstallReaderLockHooks(&m->io);
  if (!m->preloaded && !(flags & kOpenNoReader)) {
    if (!readerThread) {
      readerThread = CreateServiceThread(kReaderThreadRate);
      if (readerThread) StartServiceThread(readerThread);
    }
    if (readerThread) RegisterReaderClient(readerThread, &m->io);
  }

  // 17. Fill the ring buffer before returning.
  if (!m->preloaded && !(flags & kOpenNoFill)) {
    for (;;) {
      int32_t got = m->io.ReadAhead(&m->io);
      if (got == 0) break;
      if (got < 0) YieldProcessor();
    }
  }
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
  if (m->picturesBlock) MemFree(m->picturesBlock);
  FreeRecord(m);
}

}  // namespace kivo
