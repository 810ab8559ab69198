// SPDX-License-Identifier: BSD-2-Clause
// A movie's audio tracks: what they hold, and decoding one track's audio
// frame by frame apart from the sound output, for programs that want the
// PCM itself (writing it to a file, feeding their own mixer).
//
// Threads: a track decoder owns its work area; decode on the movie's thread
// (the movie calls are single-threaded). Programs that decode on several
// threads at once use the C API of kivo/kivo_dec.h.
#pragma once

#include <cstdint>

#include "kivo/export.h"

namespace kivo {

struct Movie;

struct TrackInfo {
  uint32_t id;          // the id SetSoundTracks and OpenTrackDecoder take
  uint32_t sampleRate;  // Hz
  uint32_t channels;    // 1 or 2
  uint32_t bits;        // of the sound output: 16, or 8 for tracks meant for 8-bit devices
  int32_t playable;     // the track is coded in a way the library decodes
  uint32_t maxBytes;    // the most PCM bytes one frame of the track decodes to
  uint32_t coding;      // kTrackCodingNone, kTrackCodingRdft or kTrackCodingDct
  uint32_t audioWord;   // the track table's format word as stored: rate, bits, channels, coding
};

// TrackInfo::coding: how the track's audio is transformed.
constexpr uint32_t kTrackCodingNone = 0;  // neither coding bit: not playable
constexpr uint32_t kTrackCodingRdft = 1;  // the real DFT
constexpr uint32_t kTrackCodingDct = 2;   // the DCT

// Track `index` (0 .. MovieInfo::trackCount - 1, in file order); 0 (and the
// record cleared) when there is no such track.
KIVO_API int32_t GetTrackInfo(const Movie* movie, uint32_t index, TrackInfo* info);

// Receives decoded 16-bit signed PCM (interleaved when stereo), in order.
typedef void (*AudioSink)(void* context, const int16_t* samples, uint32_t bytes);

// One track's decoder, independent of the sound output.
struct TrackDecoder;

// A decoder for the track with id `trackId`; null when the movie has no
// playable track of that id or memory is short. Close it before the movie.
KIVO_API TrackDecoder* OpenTrackDecoder(const Movie* movie, uint32_t trackId);
// Decodes the track's audio in the frame packet now loaded; call it once per
// frame, before DoFrame, in frame order from frame 1 (a decoder carries
// state from one frame to the next). Returns the bytes handed to `sink`; 0
// after a read error.
KIVO_API uint32_t DecodeTrackAudio(TrackDecoder* decoder, const Movie* movie, AudioSink sink, void* context);
KIVO_API void CloseTrackDecoder(TrackDecoder* decoder);

}  // namespace kivo
