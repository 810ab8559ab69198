// SPDX-License-Identifier: BSD-2-Clause
// The Kivo movie library: everything a program uses to open, decode, show
// and hear movies. Include this one header.
//
//   kivo::Movie* movie = kivo::OpenMovie("film.kiv", 0);
//   for (;;) {
//     while (kivo::WaitFrame(movie)) idle();
//     kivo::DoFrame(movie);
//     kivo::CopyToBuffer(movie, pixels, pitch, height, 0, 0, kivo::kFormatBgrx32);
//     kivo::NextFrame(movie);
//   }
//   kivo::CloseMovie(movie);
//
// At start-up, KIVO_CHECK_VERSION() tells whether the library the program
// runs on is the one it was compiled for.
#pragma once

#include "kivo/audio.h"
#include "kivo/convert.h"
#include "kivo/display.h"
#include "kivo/movie.h"
#include "kivo/sound.h"
#include "kivo/version.h"

namespace kivo {

// The public records a program allocates or reads, in the order the version
// check compares their sizes. The library is built with the same list.
#define KIVO_PUBLIC_RECORDS(X) \
  X(MovieInfo) X(MoviePicture) X(MovieRect) X(MovieSummary) X(RealtimeStats) X(BlitBuffer) X(TrackInfo) \
  X(LibraryVersion)
#define KIVO_RECORD_SIZE_(record) static_cast<uint32_t>(sizeof(::kivo::record)),

inline int32_t CheckHeaderVersion() {
  static const uint32_t sizes[] = {KIVO_PUBLIC_RECORDS(KIVO_RECORD_SIZE_)};
  return CheckLibraryVersion(KIVO_API_VERSION, KIVO_ABI_VERSION, sizes, sizeof sizes / sizeof sizes[0]);
}

}  // namespace kivo

// 1 when the running library serves this program, else 0.
#define KIVO_CHECK_VERSION() (::kivo::CheckHeaderVersion())
