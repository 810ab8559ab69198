// SPDX-License-Identifier: BSD-2-Clause
// A movie's sound tracks from open to close: which tracks are taken, their
// devices, rings and decoders, the sound thread they are fed from, pausing,
// loops and jumps, the sound-skip check and the release at close.
#include <cmath>

#include "audio/audio_decoder.h"
#include "base/memory.h"
#include "io/service_thread.h"
#include "movie/container.h"
#include "movie/movie.h"
#include "movie/movie_sound.h"
#include "movie/settings.h"
#include "sound/sound_system.h"

namespace kivo {
namespace {

// The process's sound thread and the movies registered with it.
ServiceThread* soundThread = nullptr;
uint32_t soundClients = 0;

// The track's rate, following a changed frame rate.
uint32_t TrackRate(const Movie* m, uint32_t rate) {
  if (!m->playRateNum || !m->playRateDen || !m->fileRateNum) return rate;
  const double scaled = double(rate) * m->fileRateDen * m->playRateNum / (double(m->fileRateNum) * m->playRateDen);
  // Far beyond anything a device takes; kept in range for the conversion.
  if (!(scaled < 4.0e9)) return 0xFFFFFFFFu;
  return static_cast<uint32_t>(std::llround(scaled));
}

// Frames after this one are the last three quarters of a second.
int32_t EndZoneFrame(const Movie* m) {
  const uint64_t divisor = uint64_t(m->fileRateDen) * 4;
  const uint64_t frames = divisor ? uint64_t(m->fileRateNum) * 3 / divisor : 0;
  return static_cast<int32_t>(m->frameCount - static_cast<uint32_t>(frames));
}

// Picks the requested tracks into selectedTracks, each file track once.
uint32_t SelectTracks(Movie* m) {
  uint32_t requested = 0;
  const uint32_t* ids = SoundTrackRequest(&requested);
  uint32_t count = 0;
  for (uint32_t r = 0; r < requested && count < m->requestedTracks; ++r) {
    for (uint32_t t = 0; t < m->trackCount; ++t) {
      if (m->trackIds[t] != ids[r]) continue;
      bool taken = false;
      for (uint32_t k = 0; k < count; ++k) taken = taken || m->selectedTracks[k] == t;
      if (!taken) m->selectedTracks[count++] = t;
      break;
    }
  }
  ResetSoundTrackRequest();
  return count;
}

// Opens the device, ring and decoder of file track `track` into `t`.
bool OpenTrack(Movie* m, SoundTrack* t, uint32_t track, SoundOpenFunction open) {
  const uint32_t word = m->trackAudioWords[track];
  if (!(word & (kAudioCodingA | kAudioCodingB))) return false;
  const uint32_t fileRate = word & kAudioRateMask;
  const uint32_t rate = TrackRate(m, fileRate);
  const uint32_t bits = word & kAudio16Bit ? 16 : 8;
  const uint32_t channels = word & kAudioStereo ? 2 : 1;
  if (!open(t, rate, bits, channels, m->openFlags, m)) return false;

  const uint64_t ringSize = (uint64_t(m->trackMaxBytes[track]) + 255) & ~uint64_t(255);
  uint8_t* ring = ringSize <= 0xFFFFFF00u ? static_cast<uint8_t*>(MemAlloc(static_cast<uint32_t>(ringSize))) : nullptr;
  if (!ring) {
    t->ops.SoundClose(t);
    return false;
  }
  // A track without its decoder must never be decoded: it is dropped.
  const int32_t dct = (word & kAudioCodingB) && !(word & kAudioCodingA);
  AudioDecoder* decoder = OpenAudioDecoder(fileRate, channels, dct, m->openFlags);
  if (!decoder) {
    t->ops.SoundClose(t);
    MemFree(ring);
    return false;
  }
  CountOpenedSoundTrack();
  t->ringSize = static_cast<uint32_t>(ringSize);
  t->ringStart = t->ringWrite = t->ringRead = ring;
  t->ringEnd = ring + t->ringSize;
  t->ringBuffered = 0;
  t->eightBit = !(word & kAudio16Bit);
  const uint32_t latency = t->latencyMs < 750 ? t->latencyMs : 750;
  const uint32_t prefill = static_cast<uint32_t>(uint64_t(rate) * channels * 2 * (750 - latency) / 1000) & ~3u;
  t->prefillBytes = prefill < t->ringSize ? prefill : t->ringSize;
  t->decoder = decoder;
  t->endZoneFrame = EndZoneFrame(m);
  if (t->alignMask == 0) t->alignMask = 0xFFFFFFFFu;
  t->serviceFrame = m->currentFrame;
  m->memoryUsed += t->ringSize;
  return true;
}

void Register(Movie* m) {
  if (!soundThread) {
    soundThread = CreateServiceThread(kSoundThreadRate);
    if (!soundThread) return;
    StartServiceThread(soundThread);
  }
  m->soundClient.owner = m;
  if (RegisterClient(soundThread, &m->soundClient, SoundClientPriority, SoundClientWork)) {
    ++soundClients;
  } else if (soundClients == 0) {
    // The foreground still feeds the devices; a thread without clients goes.
    StopServiceThread(soundThread);
    soundThread = nullptr;
  }
}

}  // namespace

void OpenSoundTracks(Movie* m) {
  if (!m) return;
  const uint32_t selected = SelectTracks(m);
  const SoundOpenFunction open = InstalledSoundOpen();
  uint32_t opened = 0;
  for (uint32_t k = 0; k < selected && open; ++k) {
    const uint32_t track = m->selectedTracks[k];
    SoundTrack* t = &m->soundTracks[opened];
    if (OpenTrack(m, t, track, open))
      m->selectedTracks[opened++] = track;
    else
      *t = SoundTrack{};
  }
  m->openTrackCount = opened;
  for (uint32_t i = 0; i < m->requestedTracks; ++i)
    if (m->soundTracks[i].timeScale == 0) m->soundTracks[i].timeScale = 0x10000;
  if (!opened) return;
  m->soundOn = 1;
  Register(m);
}

void CloseSoundTracks(Movie* m) {
  if (!m || !m->openTrackCount) return;
  PauseSoundTracks(m, 1);
  if (soundThread && m->soundClient.mutex) {
    if (UnregisterClients(nullptr, nullptr, soundThread, &m->soundClient, kDestroyEmptyThreads) &
        kSoundThreadDestroyed)
      soundThread = nullptr;
    if (soundClients) --soundClients;
  }
  for (uint32_t i = 0; i < m->openTrackCount; ++i) {
    SoundTrack* t = &m->soundTracks[i];
    if (t->ops.SoundClose) t->ops.SoundClose(t);
    CloseAudioDecoder(t->decoder);
    MemFree(t->ringStart);
    t->decoder = nullptr;
    t->ringStart = t->ringEnd = t->ringRead = t->ringWrite = nullptr;
    t->ringBuffered = 0;
    t->ops = SoundDriver{};
  }
  m->openTrackCount = 0;
  m->soundOn = 0;
}

void PauseSoundTracks(Movie* m, int32_t pause) {
  if (!m || !m->openTrackCount) return;
  LockClient(&m->soundClient);
  for (uint32_t i = 0; i < m->openTrackCount; ++i) {
    SoundTrack* t = &m->soundTracks[i];
    if (t->ops.SoundPause) t->ops.SoundPause(t, pause);
  }
  UnlockClient(&m->soundClient);
  if (m->framesDecoded) SoundService(m);
}

namespace {

// Ring bytes of one frame's sound in track t.
uint64_t FrameBytes(const Movie* m, const SoundTrack* t) {
  return StreamPosition(m, t, m->framesDecoded + 1) - StreamPosition(m, t, m->framesDecoded);
}

// From here on the stream position `at` is heard with the frame `frames`
// after the next one.
void Anchor(const Movie* m, SoundTrack* t, uint64_t at, uint32_t frames = 0) {
  t->anchorFrame = m->framesDecoded + frames;
  t->anchorPos = at;
}

// Whole sample frames of the excess a loop cuts from the ring.
uint32_t LoopCut(const SoundTrack* t, uint64_t excess) {
  const uint32_t frameBytes = 2 * (t->channels ? t->channels : 1);
  return static_cast<uint32_t>(excess < t->ringBuffered ? excess : t->ringBuffered) / frameBytes * frameBytes;
}

}  // namespace

int32_t CheckSoundSkips(Movie* m) {
  if (!m || !m->openTrackCount) return 0;
  int32_t due = 0;
  LockClient(&m->soundClient);
  for (uint32_t i = 0; i < m->openTrackCount; ++i) {
    SoundTrack* t = &m->soundTracks[i];
    if (!t->soundSkipped) continue;
    t->soundSkipped = 0;
    // Only a track whose frames bring sound ran dry because the frames fell
    // behind; one whose sound ended just went quiet.
    if (m->currentFrame > 1 && t->endZoneFrame >= static_cast<int32_t>(m->currentFrame) && !t->packetsEnded)
      due = 1;
  }
  UnlockClient(&m->soundClient);
  return due;
}

void LoopSound(Movie* m, uint32_t framesLeft) {
  if (!m || !m->openTrackCount) return;
  LockClient(&m->soundClient);
  for (uint32_t i = 0; i < m->openTrackCount; ++i) {
    SoundTrack* t = &m->soundTracks[i];
    if (!t->ringStart) continue;
    const uint64_t pass = StreamPosition(m, t, m->framesDecoded + framesLeft);
    if (pass >= t->streamWritten) {
      const uint64_t gap = pass - t->streamWritten;
      if (gap <= 2 * FrameBytes(m, t) && gap <= t->ringSize - t->ringBuffered) {
        // Rounding, or a track a little shorter than the picture.
        AppendSilence(t, static_cast<uint32_t>(gap));
      } else {
        // The track ended well before the picture: its device has played
        // out, and starts again with frame 1's sound.
        if (t->ops.SoundOnOff && t->ops.SoundOnOff(t, 0) == 0) t->ops.SoundOnOff(t, 1);
        EmptyRing(t);
        Anchor(m, t, t->streamWritten, framesLeft);
      }
    } else {
      // Sound beyond the picture's end: what the ring still holds of it is
      // cut; what the device already has plays first.
      const uint64_t excess = t->streamWritten - pass;
      const uint32_t cut = LoopCut(t, excess);
      uint32_t write = static_cast<uint32_t>(t->ringWrite - t->ringStart);
      write = write >= cut ? write - cut : write + t->ringSize - cut;
      t->ringWrite = t->ringStart + write;
      t->ringBuffered -= cut;
      t->streamWritten -= cut;
      if (excess > cut) Anchor(m, t, t->streamWritten, framesLeft);
    }
  }
  UnlockClient(&m->soundClient);
}

int32_t NextPassFits(Movie* m, uint32_t framesLeft) {
  if (!m || !m->openTrackCount) return 0;
  int32_t fits = 1;
  LockClient(&m->soundClient);
  for (uint32_t i = 0; i < m->openTrackCount && fits; ++i) {
    SoundTrack* t = &m->soundTracks[i];
    if (!t->ringStart) continue;
    const uint64_t pass = StreamPosition(m, t, m->framesDecoded + framesLeft);
    uint64_t room = t->ringSize - t->ringBuffered;
    if (pass >= t->streamWritten) {
      const uint64_t gap = pass - t->streamWritten;
      fits = t->packetsEnded && gap <= 2 * FrameBytes(m, t) && gap + t->leadBytes <= room;
    } else {
      room += LoopCut(t, t->streamWritten - pass);
      fits = t->leadBytes <= room;
    }
    fits = fits && static_cast<int32_t>(m->currentFrame) > t->endZoneFrame;
  }
  UnlockClient(&m->soundClient);
  return fits;
}

void RestartSound(Movie* m, uint32_t n) {
  if (!m || !m->openTrackCount) return;
  if (m->soundOn) {
    SwitchSound(m, 0);
    SwitchSound(m, 1);
  }
  LockClient(&m->soundClient);
  for (uint32_t i = 0; i < m->openTrackCount; ++i) {
    SoundTrack* t = &m->soundTracks[i];
    if (!t->ringStart) continue;
    // Frame n's packet carries sound a lead-in (less one frame) ahead of its
    // own time: silence stands in for what the jump left out.
    uint32_t lead = 0;
    if (n > 1) {
      const uint64_t frame = FrameBytes(m, t);
      lead = t->leadBytes > frame ? static_cast<uint32_t>(t->leadBytes - frame) : t->prefillBytes;
      lead &= ~3u;
    }
    PrefillRing(t, lead);
    Anchor(m, t, t->streamWritten - t->ringBuffered);
  }
  UnlockClient(&m->soundClient);
}

void NoteSoundPackets(Movie* m, const uint32_t* bytes) {
  if (!m || !m->openTrackCount) return;
  LockClient(&m->soundClient);
  for (uint32_t i = 0; i < m->openTrackCount; ++i) m->soundTracks[i].packetsEnded = bytes[i] == 0;
  UnlockClient(&m->soundClient);
}

void DecodeSoundPacket(Movie* m, uint32_t openIndex, const uint8_t* chunk, uint32_t size) {
  if (!m || openIndex >= m->openTrackCount) return;
  SoundTrack* t = &m->soundTracks[openIndex];
  if (!t->decoder) return;
  const uint64_t before = t->streamWritten;
  DecodeAudioChunk(t->decoder, chunk, size, AppendPcmSink, t);
  if (m->currentFrame == 1 && t->leadBytes == 0 && t->streamWritten > before) {
    // The first packet's sound leads the picture: after a sound skip the
    // silence put in stands for that lead, less the frame it belongs to.
    t->leadBytes = static_cast<uint32_t>(t->streamWritten - before);
    const uint64_t frame = FrameBytes(m, t);
    if (t->leadBytes > frame) {
      const uint32_t prefill = static_cast<uint32_t>(t->leadBytes - frame) & ~3u;
      t->prefillBytes = prefill < t->ringSize ? prefill : t->ringSize;
    }
  }
}

void AppendPcmSink(void* track, const int16_t* samples, uint32_t bytes) {
  AppendPcm(static_cast<SoundTrack*>(track), reinterpret_cast<const uint8_t*>(samples), bytes);
}

ServiceThread* SoundServiceThread() { return soundThread; }

}  // namespace kivo
