// Playback statistics handed to the player: the summary of the whole
// playback so far and the figures of the last second of frames.
#pragma once

#include <cstdint>

#include "kivo/movie.h"  // MovieSummary, RealtimeStats, GetSummary, GetRealtime
#include "movie/movie.h"

namespace kivo {

}  // namespace kivo
