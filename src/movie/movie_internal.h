// Shared inside the movie core: the bookkeeping every entry point runs first.
#pragma once

#include "movie/movie.h"

namespace kivo {

// Counts the time since the last decode as the caller's blit time.
void CountBlitTime(Movie* movie);
// Blit time, then the time of the pending frame for the slowest-frame figures.
void EntryBookkeeping(Movie* movie);

}  // namespace kivo
