// SPDX-License-Identifier: BSD-2-Clause
// Opening and closing movies, and the frame cycle: the operations a player
// drives a movie with. They are declared, with their contract, in the public
// header; this one adds the library's own record for code inside it.
#pragma once

#include "kivo/movie.h"
#include "movie/movie.h"
