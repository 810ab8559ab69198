// SPDX-License-Identifier: BSD-2-Clause
// The track rings: appending decoded PCM, the prefill silence, and feeding
// a track's device from its ring (converting to 8 bits on the way when the
// device takes 8-bit samples).
#include <cstring>

#include "sound/sound_track.h"

namespace kivo {
namespace {

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

}  // namespace

void FeedTrack(SoundTrack* t) {
  if (!t->ops.SoundReady || !t->ringStart || !t->ops.SoundReady(t)) return;
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

void EmptyRing(SoundTrack* t) {
  t->ringWrite = t->ringRead = t->ringStart;
  t->ringBuffered = 0;
}

}  // namespace kivo
