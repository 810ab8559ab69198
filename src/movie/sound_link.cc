// The movie core's sound calls while no sound tracks exist: every movie
// opens without sound, and the frame cycle runs on the system clock alone.
#include "movie/sound_link.h"

namespace kivo {

struct SoundTrack {
  uint32_t timeScale;
};

uint32_t SoundTrackRecordSize() { return sizeof(SoundTrack); }
void ClearSoundTrackRecord(Movie* m, uint32_t index) { m->soundTracks[index] = SoundTrack{0}; }
uint32_t SoundTimeScale(const Movie* m) { return m->soundTracks[0].timeScale; }
void SetSoundTimeScale(Movie* m, uint32_t scale) { m->soundTracks[0].timeScale = scale; }
void OpenMovieSound(Movie* m) { m->openTrackCount = 0; }
void CloseMovieSound(Movie*) {}
void ServiceMovieSound(Movie*) {}
void SwitchMovieSound(Movie*, int32_t) {}
void PauseMovieSound(Movie*, int32_t) {}
int32_t TakeSoundSkip(Movie*) { return 0; }
void DecodeTrackPacket(Movie*, uint32_t, const uint8_t*, uint32_t) {}

}  // namespace kivo
