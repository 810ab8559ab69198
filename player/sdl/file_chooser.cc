// SPDX-License-Identifier: BSD-2-Clause
// The desktop's file chooser as a child process: its standard output holds
// one chosen path per line.
#include "player/sdl/file_chooser.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kivo {
namespace {

bool OnPath(const char* program) {
  const char* path = getenv("PATH");
  if (!path) return false;
  std::string folders = path;
  for (size_t start = 0; start <= folders.size();) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string candidate = (end > start ? folders.substr(start, end - start) : ".") + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

const char* FindFileChooser() {
  for (const char* chooser : {"zenity", "kdialog"})
    if (OnPath(chooser)) return chooser;
  return nullptr;
}

std::vector<std::string> ChooseMovies(const char* chooser, volatile sig_atomic_t* child) {
  std::vector<std::string> chosen;
  if (!chooser) return chosen;
  const bool zenity = strcmp(chooser, "zenity") == 0;
  const char* zenityArgs[] = {"zenity", "--file-selection", "--multiple", "--separator=\n",
                              "--title=Open Kivo movies", "--file-filter=Kivo movies | *.kiv *.KIV",
                              "--file-filter=All files | *", nullptr};
  const char* kdialogArgs[] = {"kdialog", "--getopenfilename", ".", "*.kiv *.KIV|Kivo movies", "--multiple",
                               "--separate-output", "--title", "Open Kivo movies", nullptr};
  const char* const* args = zenity ? zenityArgs : kdialogArgs;
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return chosen;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    execvp(args[0], const_cast<char* const*>(args));
    _exit(127);
  }
  close(out[1]);
  if (pid < 0) {
    close(out[0]);
    return chosen;
  }
  *child = pid;
  std::string text;
  char chunk[4096];
  for (;;) {
    const ssize_t n = read(out[0], chunk, sizeof chunk);
    if (n > 0) text.append(chunk, size_t(n));
    else if (n == 0 || errno != EINTR) break;
  }
  close(out[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  *child = 0;
  // A cancelled chooser ends with a non-zero code.
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return chosen;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) chosen.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return chosen;
}

}  // namespace kivo
