// SPDX-License-Identifier: BSD-2-Clause
// Shared inside the movie core: the bookkeeping every entry point runs first,
// and the foreground's reading ahead.
#pragma once

#include "movie/movie.h"

namespace kivo {

// Counts the time since the last decode as the caller's blit time.
void CountBlitTime(Movie* movie);
// Blit time, then the time of the pending frame for the slowest-frame figures.
void EntryBookkeeping(Movie* movie);

// Late copies are made all the same: the copy's flags or the movie's say so.
bool NeverSkip(const Movie* movie, uint32_t copyFlags);
// The lateness check skipped the last copy and never-skip is not in force:
// the newest picture is not on show, and its changes wait for the next copy.
bool CopySkipped(const Movie* movie, uint32_t copyFlags);

// Keeps frame 1's sound packets for the lead-in of the next pass (run by the
// open once the tracks are open and frame 1 is loaded).
void KeepLoopSound(Movie* movie);

// When the foreground reads a chunk ahead itself: while it waits for a
// frame's time, whenever the reader is free; around a decode or a copy, only
// below three quarters full and when the reader thread is not at a chunk
// (busy, it is given the processor instead).
enum class TopUp { kWhileWaiting, kAroundWork };
// Reads one chunk ahead as `when` says; nothing for a movie in memory.
void TopUpReadAhead(Movie* movie, TopUp when);

}  // namespace kivo
