// SPDX-License-Identifier: BSD-2-Clause
// A movie's audio tracks for callers: their formats, and one track decoded
// frame by frame apart from the sound output, so that every byte of it can
// be kept.
#include "kivo/audio.h"

#include <cstring>

#include "audio/audio_decoder.h"
#include "base/memory.h"
#include "movie/container.h"
#include "movie/movie.h"

namespace kivo {

struct TrackDecoder {
  uint32_t position;  // in the file's track table
  AudioDecoder* decoder;
};

int32_t GetTrackInfo(const Movie* m, uint32_t index, TrackInfo* info) {
  if (!info) return 0;
  memset(info, 0, sizeof *info);
  if (!m || index >= m->trackCount) return 0;
  const uint32_t word = m->trackAudioWords[index];
  info->id = m->trackIds[index];
  info->sampleRate = word & kAudioRateMask;
  info->channels = (word & kAudioStereo) ? 2 : 1;
  info->bits = (word & kAudio16Bit) ? 16 : 8;
  info->playable = TrackPlayable(word) ? 1 : 0;
  info->maxBytes = m->trackMaxBytes[index];
  // Coding A wins when both bits are set, as the decoder's choice does.
  info->coding = (word & kAudioCodingA) ? kTrackCodingRdft : (word & kAudioCodingB) ? kTrackCodingDct : kTrackCodingNone;
  info->audioWord = word;
  return 1;
}

TrackDecoder* OpenTrackDecoder(const Movie* m, uint32_t trackId) {
  if (!m) return nullptr;
  uint32_t i = 0;
  while (i < m->trackCount && m->trackIds[i] != trackId) ++i;
  if (i == m->trackCount) return nullptr;
  const uint32_t word = m->trackAudioWords[i];
  if (!TrackPlayable(word)) return nullptr;
  TrackDecoder* t = static_cast<TrackDecoder*>(MemAlloc(sizeof(TrackDecoder)));
  if (!t) return nullptr;
  t->position = i;
  t->decoder = OpenAudioDecoder(word & kAudioRateMask, (word & kAudioStereo) ? 2 : 1, TrackUsesDct(word), m->openFlags);
  if (!t->decoder) {
    MemFree(t);
    return nullptr;
  }
  return t;
}

uint32_t DecodeTrackAudio(TrackDecoder* t, const Movie* m, AudioSink sink, void* context) {
  if (!t || !m || !sink || m->readError || m->packetShort) return 0;
  if (m->currentFrame < 1 || m->currentFrame > m->frameCount || !m->frameData) return 0;
  const uint8_t* chunk;
  uint32_t size;
  if (!FindAudioChunk(m->frameData, FrameSize(m->frameIndex, m->currentFrame), m->trackCount, t->position, &chunk,
                      &size))
    return 0;
  return DecodeAudioChunk(t->decoder, chunk, size, sink, context);
}

void CloseTrackDecoder(TrackDecoder* t) {
  if (!t) return;
  CloseAudioDecoder(t->decoder);
  MemFree(t);
}

}  // namespace kivo
