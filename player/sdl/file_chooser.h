// SPDX-License-Identifier: BSD-2-Clause
// Asking the desktop for movies to open: the file chooser of zenity or
// kdialog, whichever is installed, run as a child process.
#pragma once

#include <csignal>
#include <string>
#include <vector>

namespace kivo {

// The chooser program found on the PATH, or null when there is none.
const char* FindFileChooser();

// Runs the chooser and returns the files chosen (none when cancelled).
// While it runs, *child holds its process id, so that a signal handler can
// end it with the player.
std::vector<std::string> ChooseMovies(const char* chooser, volatile sig_atomic_t* child);

}  // namespace kivo
