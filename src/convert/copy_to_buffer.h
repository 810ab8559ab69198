// Copying a movie's newest picture into a caller's pixel buffer in any of
// the destination formats, with the lateness check and the read-ahead
// top-up that go with every copy.
#pragma once

#include "kivo/convert.h"  // CopyToBuffer, CopyToRgbaRows
#include "movie/movie.h"
