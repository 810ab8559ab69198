// Opening and closing movies, and the frame cycle: the operations a player
// drives a movie with. Every operation ignores a null movie.
#pragma once

#include <cstdint>

#include "movie/movie.h"

namespace kivo {

// `source` is a file name, an open file handle (kOpenHandle; pass the
// os::FileHandle cast to a pointer) or the address of a whole movie in
// memory (kOpenMemory). Null on failure, with the reason in GetErrorText.
Movie* OpenMovie(const void* source, uint32_t openFlags);
void CloseMovie(Movie* movie);

int32_t WaitFrame(Movie* movie);     // 1 = not due yet, 0 = decode now
int32_t DoFrame(Movie* movie);       // 1 after a read error
void NextFrame(Movie* movie);
void GotoFrame(Movie* movie, uint32_t frame);
int32_t PauseMovie(Movie* movie, int32_t pause);
// Run by every copy into a display buffer before it copies: 1 = skip it.
int32_t CheckLate(Movie* movie, uint32_t copyFlags);
int32_t GetRects(Movie* movie, uint32_t copyFlags);

}  // namespace kivo
