// The track rings and the sound service: appending decoded PCM, moving it
// into the drivers (converting to 8 bits on the way when the device takes
// 8-bit samples), switching the devices off and on with the prefill silence,
// where the picture stands in each track's sound, and the sound client the
// sound thread runs.
#include <cstring>

#include "io/service_thread.h"
#include "movie/movie.h"
#include "sound/movie_sound.h"

namespace kivo {
namespace {

// Sound the device needs decoded beyond the frame on show: a frame, the
// device's own buffering, a service period and a feeding step.
constexpr int64_t kSoundLeadMs = 250;

uint32_t Offset(const SoundTrack* t, const uint8_t* p) { return static_cast<uint32_t>(p - t->ringStart); }

// Copies m ring bytes from ringRead to the device, or m/2 bytes of 8-bit
// samples (each sample's high byte plus 128), and moves ringRead behind them.
void CopyOut(SoundTrack* t, uint8_t* to, uint32_t m) {
  const uint32_t size = t->ringSize;
  uint32_t pos = Offset(t, t->ringRead);
  if (pos >= size) pos = 0;
  if (!t->eightBit) {
    const uint32_t first = m < size - pos ? m : size - pos;
    std::memcpy(to, t->ringStart + pos, first);
    std::memcpy(to + first, t->ringStart, m - first);
  } else {
    uint32_t p = pos;
    for (uint32_t k = 0; k < m / 2; ++k) {
      uint32_t high = p + 1;
      if (high >= size) high -= size;
      to[k] = static_cast<uint8_t>(t->ringStart[high] + 0x80);
      p += 2;
      if (p >= size) p -= size;
    }
  }
  uint32_t end = pos + m;
  if (end > size) end -= size;
  t->ringRead = t->ringStart + end;
}

// Ring bytes the device may have: sound past the picture's end waits for
// the next frame (at a loop the ring's part of it is cut), unless the device
// has not started, which it must to play anything.
uint32_t Feedable(SoundTrack* t) {
  const uint64_t next = t->streamWritten - t->ringBuffered;
  if (!t->pictureEnd || next + t->ringBuffered <= t->pictureEnd) return t->ringBuffered;
  uint32_t held = 0;
  if (!t->ops.SoundHeld || !t->ops.SoundHeld(t, &held)) return t->ringBuffered;
  return next < t->pictureEnd ? static_cast<uint32_t>(t->pictureEnd - next) : 0;
}

void FeedTracks(Movie* movie) {
  for (uint32_t i = 0; i < movie->openTrackCount; ++i) {
    SoundTrack* t = &movie->soundTracks[i];
    if (!t->ops.SoundReady || !t->ringStart || !t->ops.SoundReady(t)) continue;
    // Ring bytes of one sample frame: what is handed over is always whole.
    const uint32_t frameBytes = 2 * (t->channels ? t->channels : 1);
    for (;;) {
      // In the last 750 ms, and once the frames bring no more sound, every
      // byte goes out: nothing comes after it to make up a whole write.
      const bool endZone = static_cast<int32_t>(t->serviceFrame) > t->endZoneFrame || t->packetsEnded;
      const uint32_t ready = Feedable(t);
      if (ready <= t->minWrite && !(endZone && ready >= frameBytes)) break;
      uint8_t* address = nullptr;
      uint32_t count = 0;
      if (!t->ops.SoundLock(t, &address, &count)) break;
      uint32_t m = t->eightBit ? count * 2 : count;
      if (m > ready) m = ready;
      if (!endZone) m &= t->eightBit ? t->alignMask << 1 : t->alignMask;
      m -= m % frameBytes;
      if (m == 0) {
        t->ops.SoundUnlock(t, 0);
        break;
      }
      t->ringBuffered -= m;
      CopyOut(t, address, m);
      t->ops.SoundUnlock(t, t->eightBit ? m / 2 : m);
      if (!t->ops.SoundReady(t)) break;
    }
  }
}

// The service proper; the foreground's call also tells the tracks the
// current frame, which the sound thread then judges the end zone by.
void Service(Movie* movie, bool foreground) {
  if (!movie || !movie->openTrackCount || !movie->soundTracks) return;
  if (!movie->soundTracks[movie->openTrackCount - 1].ops.SoundReady) return;
  if (!TryLockClient(&movie->soundClient)) return;
  if (foreground) {
    // Frame n+1 starts at StreamPosition(framesDecoded) once frame n is
    // decoded, at one more before.
    const uint32_t current = movie->currentFrame;
    const uint32_t next = movie->framesDecoded + (movie->decodedFrame == current ? 0 : 1);
    for (uint32_t i = 0; i < movie->openTrackCount; ++i) {
      SoundTrack* t = &movie->soundTracks[i];
      t->serviceFrame = current;
      t->pictureEnd = movie->playRateNum && movie->frameCount >= current && current
                          ? StreamPosition(movie, t, next + (movie->frameCount - current))
                          : 0;
    }
  }
  FeedTracks(movie);
  UnlockClient(&movie->soundClient);
}

}  // namespace

// The ring emptied, then `bytes` of silence ending at ringWrite: the silence
// takes the stream positions just before the sound that follows.
void PrefillRing(SoundTrack* t, uint32_t bytes) {
  EmptyRing(t);
  const uint32_t fill = bytes < t->ringSize ? bytes : t->ringSize;
  uint32_t read = Offset(t, t->ringWrite);
  if (read >= fill) {
    read -= fill;
    std::memset(t->ringStart + read, 0, fill);
  } else {
    const uint32_t tail = fill - read;
    std::memset(t->ringStart, 0, read);
    read = t->ringSize - tail;
    std::memset(t->ringStart + read, 0, tail);
  }
  t->ringRead = t->ringStart + read;
  t->ringBuffered = fill;
}

void AppendPcm(SoundTrack* t, const uint8_t* data, uint32_t n) {
  if (!t || !t->ringStart || !t->ringSize || !data || !n) return;
  t->streamWritten += n;
  const uint32_t size = t->ringSize;
  if (n > size) {
    // More than the ring holds: only the newest ringSize bytes could stay.
    data += n - size;
    n = size;
  }
  const uint32_t room = size - t->ringBuffered;
  if (n > room) {
    const uint32_t drop = n - room;
    uint32_t read = Offset(t, t->ringRead) + drop;
    if (read > size) read -= size;
    t->ringRead = t->ringStart + read;
    t->ringBuffered -= drop;
  }
  t->ringBuffered += n;
  const uint32_t write = Offset(t, t->ringWrite);
  const uint32_t before = size - write;
  if (before < n) {
    std::memcpy(t->ringStart + write, data, before);
    std::memcpy(t->ringStart, data + before, n - before);
    t->ringWrite = t->ringStart + (n - before);
  } else {
    std::memcpy(t->ringStart + write, data, n);
    t->ringWrite += n;
  }
}

void AppendSilence(SoundTrack* t, uint32_t n) {
  static const uint8_t kZeros[4096] = {};
  while (n) {
    const uint32_t k = n < sizeof(kZeros) ? n : static_cast<uint32_t>(sizeof(kZeros));
    AppendPcm(t, kZeros, k);
    n -= k;
  }
}

uint64_t StreamPosition(const Movie* movie, const SoundTrack* t, uint32_t frame) {
  const uint64_t perSecond = uint64_t(t->sampleRate) * (t->channels ? t->channels : 1) * 2;
  if (!movie->playRateNum) return t->anchorPos;
  const uint64_t frames = frame - t->anchorFrame;
  const uint64_t q = perSecond * movie->playRateDen;
  const uint64_t bytes = frames * (q / movie->playRateNum) + frames * (q % movie->playRateNum) / movie->playRateNum;
  const uint32_t frameBytes = 2 * (t->channels ? t->channels : 1);
  return t->anchorPos + bytes / frameBytes * frameBytes;
}

int32_t SoundDueIn(Movie* movie, uint32_t frame, int32_t* ms) {
  if (!movie || !movie->openTrackCount || !movie->soundTracks) return 0;
  if (!TryLockClient(&movie->soundClient)) return 0;
  int32_t found = 0;
  for (uint32_t i = 0; i < movie->openTrackCount && !found; ++i) {
    SoundTrack* t = &movie->soundTracks[i];
    uint32_t held = 0;
    if (!t->ringStart || !t->ops.SoundHeld || !t->sampleRate) continue;
    // A frame whose sound is not decoded yet (the track ended, or the frames
    // fell behind) cannot be timed by this track.
    const uint64_t at = StreamPosition(movie, t, frame);
    if (at > t->streamWritten || !t->ops.SoundHeld(t, &held)) continue;
    const uint64_t next = t->streamWritten - t->ringBuffered;  // the next byte the device gets
    const int64_t ahead = static_cast<int64_t>(at - next) + int64_t(t->eightBit ? uint64_t(held) * 2 : held);
    const int64_t perSecond = int64_t(t->sampleRate) * (t->channels ? t->channels : 1) * 2;
    *ms = static_cast<int32_t>(ahead * 1000 / perSecond);
    // A picture shown when its sound is heard leaves the device only the
    // sound its packets carry ahead of it (the first packet's lead, less the
    // frame it belongs to). A movie that carries too little ahead (the
    // encoder leads by 0.75 s) would starve the device: its picture keeps
    // ahead of its sound by what is missing, while sound still comes.
    const uint64_t frameBytes = StreamPosition(movie, t, frame + 1) - at;
    const int64_t lead = t->leadBytes > frameBytes ? int64_t(t->leadBytes - frameBytes) : 0;
    const int64_t leadMs = lead * 1000 / perSecond;
    if (leadMs < kSoundLeadMs && !t->packetsEnded) *ms -= static_cast<int32_t>(kSoundLeadMs - leadMs);
    found = 1;
  }
  UnlockClient(&movie->soundClient);
  return found;
}

void StartSound(Movie* movie) {
  if (!movie || !movie->openTrackCount) return;
  if (!TryLockClient(&movie->soundClient)) return;
  for (uint32_t i = 0; i < movie->openTrackCount; ++i) {
    SoundTrack* t = &movie->soundTracks[i];
    if (t->ops.SoundStart && t->packetsEnded) t->ops.SoundStart(t);
  }
  UnlockClient(&movie->soundClient);
}

void EmptyRing(SoundTrack* t) {
  t->ringWrite = t->ringRead = t->ringStart;
  t->ringBuffered = 0;
}

void SoundService(Movie* movie) { Service(movie, true); }

int32_t SwitchSound(Movie* movie, int32_t on) {
  if (!movie) return 0;
  bool locked = false;
  int32_t anyOn = 0;
  for (uint32_t i = 0; i < movie->openTrackCount; ++i) {
    SoundTrack* t = &movie->soundTracks[i];
    if (!t->ops.SoundOnOff) continue;
    if (!locked) {
      LockClient(&movie->soundClient);
      locked = true;
    }
    if (t->ops.SoundOnOff(t, on ? 1 : 0)) {
      anyOn = 1;
      if (!movie->soundOn) {
        movie->soundOn = 1;
        movie->clockBase = 0;
        movie->catchUpMs = 0;
      }
    } else if (movie->soundOn) {
      // Only the first track that goes off is emptied and pre-filled.
      if (t->ringStart) PrefillRing(t, t->prefillBytes);
      movie->soundOn = 0;
    }
  }
  if (locked) UnlockClient(&movie->soundClient);
  return anyOn;
}

uint32_t SoundClientPriority(ServiceClient* client, uint32_t tick) {
  if (client->lastServicedTick == tick) return 0;
  return 0xFFFFFFFFu - client->lastServicedTick;
}

void SoundClientWork(ServiceClient* client, uint32_t tick) {
  Movie* movie = static_cast<Movie*>(client->owner);
  if (movie && movie->openTrackCount) Service(movie, false);
  client->lastServicedTick = tick;
}

}  // namespace kivo
