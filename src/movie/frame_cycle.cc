// SPDX-License-Identifier: BSD-2-Clause
// The frame cycle: the schedule and its re-basing (kept on the sound the
// device plays when there is sound), lateness and skipped copies, sound
// skips, loops and jumps, loading and decoding frame packets, and the
// changed area cut into at most eight rectangles.
#include <cstring>

#include "base/clock.h"
#include "base/memory.h"
#include "io/service_thread.h"
#include "movie/container.h"
#include "movie/movie_api.h"
#include "movie/movie_internal.h"
#include "movie/movie_sound.h"
#include "sound/sound_track.h"
#include "video/video_decoder.h"

namespace kivo {
namespace {

bool SoundOpen(const Movie* m) { return m->openTrackCount > 0; }

void ServiceSound(Movie* m) {
  if (SoundOpen(m)) SoundService(m);
}

// 0 is the mark of an unset clock, also when the clock passes 0 on its wrap.
void SetClockBase(Movie* m, uint32_t now) {
  m->clockBase = now ? now : 1;
  m->clockBaseFrame = m->framesDecoded - 1;
}

// Due time of the next frame, relative to clockBase, modulo 2^32 like the
// clock. Worked out in 64 bits throughout: a loop with sound never re-bases
// the schedule, and in 32 bits the frames times 1000 would wrap after
// 4,294,968 frames (47.7 hours at 25 frames a second), putting every later
// frame 171.8 million ms late. In parts, so that no product overflows.
uint32_t ScheduleOffset(const Movie* m) {
  if (!m->playRateNum) return 0;
  const uint64_t ms = uint64_t(m->framesDecoded - m->clockBaseFrame) * 1000u;
  const uint64_t num = m->playRateNum, den = m->playRateDen;
  const uint64_t t = ms / num * den + ms % num * den / num;
  const uint64_t scale = m->soundTracks[0].timeScale;
  return static_cast<uint32_t>(t / 65536u * scale + t % 65536u * scale / 65536u);
}

// A schedule set from the sound puts the next frame where its sound is
// heard. 0 stays the mark of an unset clock.
void SetClockFromSound(Movie* m, uint32_t now, int32_t dueIn) {
  SetClockBase(m, now);
  m->clockBase = now + static_cast<uint32_t>(dueIn) - ScheduleOffset(m);
  if (m->clockBase == 0) m->clockBase = 1;
  m->syncFrame = m->framesDecoded;
}

void EnsureClockBase(Movie* m) {
  if (m->clockBase != 0) return;
  const uint32_t now = GetMilliseconds();
  int32_t dueIn = 0;
  if (m->soundOn && m->framesDecoded && SoundDueIn(m, m->framesDecoded, &dueIn))
    SetClockFromSound(m, now, dueIn);
  else
    SetClockBase(m, now);
}

// Once a frame, the schedule is moved towards the sound the device plays:
// by an eighth of the difference (at least a millisecond) once it reaches
// 4 ms, so that a device clock a little fast or slow is followed without a
// jump and the readings' jitter moves nothing; a difference of more than
// the late limit (the sound restarted, or went on without the picture) is
// taken at once.
void FollowSound(Movie* m, uint32_t now) {
  if (m->syncFrame == m->framesDecoded || m->clockBase == 0) return;
  int32_t dueIn = 0;
  if (!SoundDueIn(m, m->framesDecoded, &dueIn)) return;
  m->syncFrame = m->framesDecoded;
  const int32_t error = static_cast<int32_t>(m->clockBase + ScheduleOffset(m) - (now + static_cast<uint32_t>(dueIn)));
  const int32_t limit = static_cast<int32_t>(m->lateLimit);
  int32_t step = 0;
  if (error > limit || error < -limit) {
    if (m->catchUpMs) return;  // a catch-up already under way ends first
    step = error;
  } else if (m->catchUpMs == 0 && (error >= 4 || error <= -4)) {
    step = error / 8;
    if (step == 0) step = error > 0 ? 1 : -1;
  }
  m->clockBase -= static_cast<uint32_t>(step);
  if (m->clockBase == 0) m->clockBase = 1;
}

uint32_t Elapsed(const Movie* m, uint32_t now) { return now - m->catchUpMs - m->clockBase; }

bool Preloaded(const Movie* m) { return m->preloaded != nullptr; }

}  // namespace

bool NeverSkip(const Movie* m, uint32_t copyFlags) {
  return (copyFlags & kOpenNeverSkip) || (m->openFlags & kOpenNeverSkip);
}

bool CopySkipped(const Movie* m, uint32_t copyFlags) { return m->copySkipped && !NeverSkip(m, copyFlags); }

void TopUpReadAhead(Movie* m, TopUp when) {
  IoDriver& io = m->io;
  if (Preloaded(m) || !io.ReadAhead) return;
  const bool aroundWork = when == TopUp::kAroundWork;
  if (aroundWork && (io.chunkInProgress.load(std::memory_order_relaxed) || FillPercent(&io) >= 75)) return;
  if (!io.TryLock || io.TryLock(&io)) {
    io.ReadAhead(&io);
    if (io.Unlock) io.Unlock(&io);
  } else if (aroundWork && !(m->openFlags & kOpenNoReader) && io.Yield) {
    io.Yield(&io);
  }
}

void CountBlitTime(Movie* m) {
  if (m->decodeEnd != 0) {
    m->blitMs += GetMilliseconds() - m->decodeEnd;
    m->decodeEnd = 0;
  }
}

void EntryBookkeeping(Movie* m) {
  CountBlitTime(m);
  if (m->slowStart != 0) {
    uint32_t d = GetMilliseconds() - m->slowStart;
    m->slowStart = 0;
    if (d > m->slowestMs) {
      m->secondSlowestMs = m->slowestMs;
      m->secondSlowestFrame = m->slowestFrame;
      m->slowestMs = d;
      m->slowestFrame = m->currentFrame;
    } else if (d > m->secondSlowestMs) {
      m->secondSlowestMs = d;
      m->secondSlowestFrame = m->currentFrame;
    }
  }
}

int32_t WaitFrame(Movie* m) {
  if (!m) return 0;
  if ((m->framesDecoded == 0 && !m->paused) || m->readError) return 0;
  EnsureClockBase(m);
  ServiceSound(m);
  EntryBookkeeping(m);
  // Tracks whose devices did not come back on (a sound device that went
  // away at a restart) must not stop the picture for good: the schedule then
  // runs as for a movie without sound.
  const bool followsSound = SoundOpen(m) && m->soundOn;
  if (!m->paused) {
    if (m->playRateNum == 0) return 0;
    uint32_t now = GetMilliseconds();
    if (followsSound) FollowSound(m, now);
    uint32_t e = Elapsed(m, now);
    uint32_t t = ScheduleOffset(m);
    if (static_cast<int32_t>(e - t) >= 0) {
      uint32_t late = e - t;
      if (static_cast<int32_t>(late) > static_cast<int32_t>(m->lateLimit)) {
        if (!followsSound) {
          SetClockBase(m, now);
        } else {
          m->catchUpMs = late;
          m->catchUpStep = static_cast<uint32_t>(uint64_t(late) * m->playRateDen / m->playRateNum);
        }
      }
      if (m->catchUpMs < m->catchUpStep)
        m->catchUpMs = 0;
      else
        m->catchUpMs -= m->catchUpStep;
      return 0;
    }
  }
  TopUpReadAhead(m, TopUp::kWhileWaiting);
  return 1;
}

namespace {

// Decodes the audio packets at the front of the loaded frame into the rings
// of the open tracks, or only steps over them; returns where the video data
// begins. `sizes` gets each open track's packet size (0 = no sound).
uint32_t DecodeAudioPackets(Movie* m, const uint8_t* packet, uint32_t size, bool decode,
                            uint32_t* sizes = nullptr) {
  uint32_t at = 0;
  if (!SoundOpen(m)) decode = false;
  if (decode) LockClient(&m->soundClient);
  for (uint32_t t = 0; t < m->trackCount; ++t) {
    if (size - at < 4) {
      at = size;
      break;
    }
    uint32_t p = ReadLe32(packet + at);
    at += 4;
    if (p > size - at) p = size - at;  // a packet cannot run past its frame
    int open = -1;
    for (uint32_t i = 0; i < m->openTrackCount; ++i)
      if (m->selectedTracks[i] == t) open = static_cast<int>(i);
    if (open >= 0 && sizes) sizes[open] = p;
    if (decode && open >= 0 && p != 0) DecodeSoundPacket(m, static_cast<uint32_t>(open), packet + at, p);
    at += p;
  }
  if (decode) UnlockClient(&m->soundClient);
  return at;
}

// Which tracks the packet just loaded brings sound for; a track that gets
// none hands over all it holds, and starts playing if it was still waiting
// for more.
void NoteLoadedPacket(Movie* m, uint32_t size) {
  if (!SoundOpen(m) || !m->frameData || m->readError || m->packetShort) return;
  uint32_t sizes[kMaxSoundTracks] = {};
  DecodeAudioPackets(m, m->frameData, size, false, sizes);
  NoteSoundPackets(m, sizes);
}

// The next pass's lead-in goes in when the loaded packet n is the last
// before the pass's end that leaves the device the sound it needs ahead
// (an output may hold more than the frame a loop would leave it) and every
// track can take it then; later packets bring no more.
bool NextPassDue(Movie* m, uint32_t n) {
  if (!m->looping || !SoundOpen(m) || !m->framesDecoded || m->nextPassIn || !m->loopSound) return false;
  if (!m->playRateNum || !m->playRateDen || m->readError || m->packetShort || n < 2 || n > m->frameCount)
    return false;
  // The frames whose packets come after this one last less than the lead:
  // after * 1000 * den < lead * num, without a product that could overflow.
  const uint64_t after = m->frameCount - n;
  if (after > (uint64_t(kSoundLeadMs) * m->playRateNum - 1) / (1000ull * m->playRateDen)) return false;
  return NextPassFits(m, m->frameCount - n + 1);
}

}  // namespace

void KeepLoopSound(Movie* m) {
  if (!SoundOpen(m) || !m->frameData || m->packetShort || m->readError || m->currentFrame != 1) return;
  const uint32_t bytes = DecodeAudioPackets(m, m->frameData, FrameSize(m->frameIndex, 1), false);
  if (!bytes) return;
  if (m->preloaded) {
    m->loopSound = m->frameData;
  } else {
    m->loopSound = static_cast<uint8_t*>(MemAlloc(bytes));
    if (!m->loopSound) return;  // the lead-in then goes in at the loop
    std::memcpy(m->loopSound, m->frameData, bytes);
    m->memoryUsed += bytes;
  }
  m->loopSoundBytes = bytes;
}

int32_t DoFrame(Movie* m) {
  if (!m) return 0;
  if (m->decodedFrame == m->currentFrame) return 0;
  IoDriver& io = m->io;
  io.foregroundBusy.store(1, std::memory_order_release);
  m->decodeStart = GetMilliseconds();
  uint32_t now[kHistoryFigures];
  now[kHistoryTime] = m->decodeStart;
  now[kHistoryVideo] = m->videoMs;
  now[kHistoryAudio] = m->audioMs;
  now[kHistoryBlit] = m->blitMs;
  now[kHistoryRead] = io.frameReadMs;
  now[kHistoryIdleRead] = io.idleReadMs;
  now[kHistoryBackgroundRead] = io.backgroundReadMs;
  RecordFrame(&m->history, now);
  if (m->firstFrameTime == 0) {
    m->history.samples[kHistoryTime][1] = m->decodeStart - (m->fileRateNum ? 1000u * m->fileRateDen / m->fileRateNum : 0);
    io.idleReadMs = 0;
    io.backgroundReadMs = 0;
    m->firstFrameTime = m->decodeStart ? m->decodeStart : 1;  // 0 stays "no frame yet"
  } else {
    ServiceSound(m);
  }
  m->slowStart = m->decodeStart;
  if (m->packetShort) m->readError = 1;
  if (m->readError || !m->frameData) return 1;

  // Once the next pass's lead-in is in, the pass's last packets are not
  // decoded for sound: what they might carry lies past the picture's end
  // (cut at a loop anyway), or would land behind the lead-in.
  uint32_t size = FrameSize(m->frameIndex, m->currentFrame);
  uint32_t videoAt = DecodeAudioPackets(m, m->frameData, size, !m->audioDecodedAhead && !m->nextPassIn);
  m->audioDecodedAhead = 0;

  uint32_t a = GetMilliseconds();
  if (m->videoOn) {
    if (!m->copySkipped) memset(m->planes.changedCells, 0, m->cellCount);
    TopUpReadAhead(m, TopUp::kAroundWork);
    DecodeVideoFrame(&m->planes, m->bundleBuffers, m->frameData + videoAt, size - videoAt, m->sourceWidth,
                     m->sourceHeight, IsKeyFrame(m->frameIndex, m->currentFrame), m->openFlags, m->videoFlags);
    m->planes.current ^= 1;
  }
  ServiceSound(m);
  m->rectCount = -1;
  m->framesDecoded += 1;
  EnsureClockBase(m);
  uint32_t b = GetMilliseconds();
  m->audioMs += a - m->decodeStart;
  m->videoMs += b - a;
  m->decodeEnd = b;
  m->decodedFrame = m->lastFrame = m->currentFrame;
  io.foregroundBusy.store(0, std::memory_order_release);
  return 0;
}

void NextFrame(Movie* m) {
  if (!m) return;
  IoDriver& io = m->io;
  if (SoundOpen(m) && CheckSoundSkips(m)) {
    m->soundSkips += 1;
    LockTwoClients(&m->soundClient, &io.readerClient);
    SwitchSound(m, 0);
    while (!Preloaded(m) && FillPercent(&io) < 90)
      if (io.ReadAhead(&io) == 0) break;
    m->clockBase = 0;
    m->catchUpMs = 0;
    SwitchSound(m, 1);
    UnlockClient(&io.readerClient);
    UnlockClient(&m->soundClient);
  }
  io.foregroundBusy.store(1, std::memory_order_release);
  ServiceSound(m);
  CountBlitTime(m);
  GotoFrame(m, m->currentFrame >= m->frameCount ? 1 : m->currentFrame + 1);
  io.foregroundBusy.store(0, std::memory_order_release);
}

void GotoFrame(Movie* m, uint32_t n) {
  if (!m) return;
  if (n == 0) n = 1;
  if (n > m->frameCount) n = m->frameCount;
  uint32_t k = n - 1;
  ServiceSound(m);
  const bool loop = n == 1 && m->currentFrame >= m->frameCount;
  const bool next = n == m->currentFrame + 1;
  m->lastFrame = m->currentFrame;
  if (SoundOpen(m) && m->framesDecoded) {
    // The sound plays on through a loop, and the schedule with it; a jump
    // starts both again from frame n.
    if (loop) {
      if (!m->nextPassIn) LoopSound(m, 0);
    } else if (!next) {
      RestartSound(m, n);
      m->nextPassIn = 0;
      m->clockBase = 0;
      m->catchUpMs = 0;
    }
  } else if (n == 1) {
    if (m->soundOn) {
      SwitchSound(m, 0);
      SwitchSound(m, 1);
    }
    m->clockBase = 0;
    m->catchUpMs = 0;
  }
  uint32_t offset = m->frameIndex[k] & ~1u;
  uint32_t size = FrameSize(m->frameIndex, n);
  // The end of the data is reached at the first packet that does not come
  // whole, not when the read-ahead first meets the end of the file: the
  // packets already read before it are still played.
  if (Preloaded(m)) {
    const uint32_t at = offset - (m->frameIndex[0] & ~1u);
    m->packetShort = at > m->preloadedBytes || size > m->preloadedBytes - at;
    if (!m->packetShort) m->frameData = m->preloaded + at;
  } else if (size > m->largestFrame) {
    // Such a packet would not fit the frame buffer: a read that came back short.
    m->packetShort = 1;
  } else {
    // Every reader of the packet (the decoders, the track decoders of
    // callers) is done with it before the next read, which is when the
    // ring lets go of a packet lent in place.
    uint32_t delivered = 0;
    m->frameData = m->io.ReadFrameInPlace(&m->io, k, offset, m->frameBuffer, size, &delivered);
    m->packetShort = delivered < size;
  }
  if (m->packetShort) m->io.endOfData = 1;
  m->currentFrame = n;
  m->audioDecodedAhead = 0;
  NoteLoadedPacket(m, size);
  // The next pass's sound goes in before the loop, from the packets of frame
  // 1 kept at the open, so that the device plays on without a gap however
  // much its output holds; failing that, at the loop as soon as frame 1's
  // packet is there, a frame before the picture.
  if (loop && SoundOpen(m) && m->framesDecoded && m->frameData && !m->readError && !m->packetShort) {
    if (!m->nextPassIn) DecodeAudioPackets(m, m->frameData, size, true);
    m->audioDecodedAhead = 1;
  }
  if (loop) {
    m->nextPassIn = 0;
  } else if (next && NextPassDue(m, n)) {
    LoopSound(m, m->frameCount - n + 1);
    DecodeAudioPackets(m, m->loopSound, m->loopSoundBytes, true);
    m->nextPassIn = 1;
  }
  ServiceSound(m);
  if (SoundOpen(m) && m->framesDecoded) StartSound(m);
}

int32_t PauseMovie(Movie* m, int32_t pause) {
  if (!m) return 0;
  EntryBookkeeping(m);
  pause = pause ? 1 : 0;
  if (m->paused && !pause) {
    m->clockBase = 0;
    m->catchUpMs = 0;
  }
  m->paused = pause;
  PauseSoundTracks(m, pause);
  return m->paused;
}

int32_t SetMovieLooping(Movie* m, int32_t looping) {
  if (!m) return 0;
  m->looping = looping ? 1 : 0;
  return m->looping;
}

int32_t CheckLate(Movie* m, uint32_t copyFlags) {
  if (!m) return 0;
  if (!SoundOpen(m) || m->playRateNum == 0 || m->paused) return 0;
  EnsureClockBase(m);
  // Both modulo 2^32: what counts is how far apart they are, which stays
  // right when either has passed 2^32 ms (49.7 days without a re-base).
  const int32_t late = static_cast<int32_t>(Elapsed(m, GetMilliseconds()) - ScheduleOffset(m));
  if (late < 0) {
    m->copySkipped = 0;
    return 0;
  }
  if (static_cast<uint32_t>(late) <= m->lateLimit) {
    m->copySkipped = 0;
    m->lateRun = 0;
    return 0;
  }
  m->lateRun += 1;
  if (m->lateRun > 3) {
    m->lateRun = 0;
    return 0;
  }
  if (NeverSkip(m, copyFlags)) return 0;
  m->copySkipped = 1;
  m->skippedBlits += 1;
  m->io.foregroundBusy.store(0, std::memory_order_release);
  return 1;
}

}  // namespace kivo
