// SPDX-License-Identifier: BSD-2-Clause
// Asking the desktop for movies to open: the desktop portal's file chooser
// (through the gdbus program), else zenity's or kdialog's, whichever the
// session offers first, each run as a child process.
#pragma once

#include <csignal>
#include <string>
#include <vector>

namespace kivo {

// One kind of chooser.
struct FileChooser {
  const char* name;
  // Whether the session seems to offer it (its program on the PATH, and so on).
  bool (*available)();
  // Asks the user; false when the chooser could not be run or could not
  // answer, else true with the files chosen (none when cancelled).
  bool (*choose)(volatile sig_atomic_t* child, std::vector<std::string>* chosen);
};

// The first chooser the session seems to offer, or null when there is none.
const FileChooser* FindFileChooser();

// Runs *chooser, or the next one the session offers when it cannot answer,
// and returns the files chosen (none when cancelled). *chooser becomes the
// one that answered, or null when none could. While a chooser runs, *child
// holds its process id, so that a signal handler can end it with the player
// (a chooser's other children are the main thread's too).
std::vector<std::string> ChooseMovies(const FileChooser** chooser, volatile sig_atomic_t* child);

// The path a file:// URI names, percent-decoded; false for any other URI or
// a broken escape.
bool PathOfFileUri(const std::string& uri, std::string* path);

// A line of `gdbus monitor`: -1 unless it is the portal's Response to the
// request made with handle token `token`; else the response code (0 chosen,
// 1 cancelled, 2 ended otherwise), with the paths of the files chosen.
int ParsePortalResponse(const std::string& line, const std::string& token, std::vector<std::string>* paths);

}  // namespace kivo
