// SPDX-License-Identifier: BSD-2-Clause
// The movie's sound service: feeding the open tracks' devices under the
// sound lock, switching the devices off and on with the prefill silence,
// where the picture stands in each track's sound, and the sound client the
// sound thread runs.
#include "io/service_thread.h"
#include "movie/movie.h"
#include "movie/movie_sound.h"
#include "sound/sound_track.h"

namespace kivo {
namespace {

void FeedTracks(Movie* movie) {
  for (uint32_t i = 0; i < movie->openTrackCount; ++i) FeedTrack(&movie->soundTracks[i]);
}

// The service proper; the foreground's call also tells the tracks the
// current frame, which the sound thread then judges the end zone by.
void Service(Movie* movie, bool foreground) {
  if (!movie || !movie->openTrackCount || !movie->soundTracks) return;
  if (!movie->soundTracks[movie->openTrackCount - 1].ops.SoundReady) return;
  if (!TryLockClient(&movie->soundClient)) return;
  if (foreground) {
    // Frame n+1 starts at StreamPosition(framesDecoded) once frame n is
    // decoded, at one more before. Once the next pass's lead-in is in, the
    // picture's end is that pass's.
    const uint32_t current = movie->currentFrame;
    const uint32_t next = movie->framesDecoded + (movie->decodedFrame == current ? 0 : 1);
    const uint32_t passes = movie->nextPassIn ? movie->frameCount : 0;
    for (uint32_t i = 0; i < movie->openTrackCount; ++i) {
      SoundTrack* t = &movie->soundTracks[i];
      t->serviceFrame = current;
      t->pictureEnd = movie->playRateNum && movie->frameCount >= current && current
                          ? StreamPosition(movie, t, next + (movie->frameCount - current) + passes)
                          : 0;
    }
  }
  FeedTracks(movie);
  UnlockClient(&movie->soundClient);
}

}  // namespace

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
