// What the movie core asks of the sound side: the few calls the open, the
// close and the frame cycle make on a movie's sound tracks. Until the sound
// tracks are built, movies play silent through these.
#pragma once

#include <cstdint>

#include "movie/movie.h"

namespace kivo {

// Bytes of one SoundTrack record, for the open's plan; and a record made empty.
uint32_t SoundTrackRecordSize();
void ClearSoundTrackRecord(Movie* movie, uint32_t index);
// The factor on the frame clock, 16.16, of the first record.
uint32_t SoundTimeScale(const Movie* movie);
void SetSoundTimeScale(Movie* movie, uint32_t scale);

// Open steps for the sound tracks (selection, devices, rings, decoders, the
// sound thread); the close's counterpart (pause, last service, unregister,
// devices, decoders and rings).
void OpenMovieSound(Movie* movie);
void CloseMovieSound(Movie* movie);

void ServiceMovieSound(Movie* movie);
void SwitchMovieSound(Movie* movie, int32_t on);
void PauseMovieSound(Movie* movie, int32_t pause);
// Clears every track's ran-dry flag; 1 when one counts as a sound skip at
// the current frame (not at frame 1 and not in the track's end zone).
int32_t TakeSoundSkip(Movie* movie);
// Decodes one audio packet of the open track `openIndex` into its ring.
void DecodeTrackPacket(Movie* movie, uint32_t openIndex, const uint8_t* packet, uint32_t size);

}  // namespace kivo
