// SPDX-License-Identifier: BSD-2-Clause
// The desktop's file choosers as child processes: the portal's through two
// gdbus processes (one watching for the answer, one asking), zenity's and
// kdialog's answering with one chosen path per line.
#include "player/sdl/file_chooser.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kivo {
namespace {

constexpr char kPortal[] = "org.freedesktop.portal.Desktop";
constexpr char kRequestPrefix[] = "/org/freedesktop/portal/desktop/request/";
constexpr char kResponse[] = ": org.freedesktop.portal.Request.Response (uint32 ";

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

// Starts `args` with standard output (and error, when given) on these
// descriptors; -1 when it could not be started.
pid_t Start(const char* const* args, int out, int err) {
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out, 1);
    if (err >= 0) dup2(err, 2);
    execvp(args[0], const_cast<char* const*>(args));
    _exit(127);
  }
  return pid;
}

int Reap(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// Appends what `fd` holds now; false at its end.
bool ReadSome(int fd, std::string* text) {
  char chunk[4096];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n > 0) {
      text->append(chunk, size_t(n));
      return true;
    }
    if (n == 0 || errno != EINTR) return false;
  }
}

// Takes the first whole line out of `text`.
bool TakeLine(std::string* text, std::string* line) {
  const size_t end = text->find('\n');
  if (end == std::string::npos) return false;
  *line = text->substr(0, end);
  text->erase(0, end + 1);
  return true;
}

// zenity and kdialog: one path per line on standard output; a cancelled
// chooser ends with a non-zero code, one that could not start with 127.
bool ChooseWithLines(const char* const* args, volatile sig_atomic_t* child, std::vector<std::string>* chosen) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return false;
  const pid_t pid = Start(args, out[1], -1);
  close(out[1]);
  if (pid < 0) {
    close(out[0]);
    return false;
  }
  *child = pid;
  std::string text;
  while (ReadSome(out[0], &text)) {
  }
  close(out[0]);
  const int status = Reap(pid);
  *child = 0;
  if (!WIFEXITED(status) || WEXITSTATUS(status) == 127) return false;
  if (WEXITSTATUS(status) != 0) return true;
  std::string line;
  if (!text.empty() && text.back() != '\n') text += '\n';
  while (TakeLine(&text, &line))
    if (!line.empty()) chosen->push_back(line);
  return true;
}

bool ZenityAvailable() { return OnPath("zenity"); }
bool ChooseWithZenity(volatile sig_atomic_t* child, std::vector<std::string>* chosen) {
  const char* args[] = {"zenity", "--file-selection", "--multiple", "--separator=\n",
                        "--title=Open Kivo movies", "--file-filter=Kivo movies | *.kiv *.KIV",
                        "--file-filter=All files | *", nullptr};
  return ChooseWithLines(args, child, chosen);
}

bool KdialogAvailable() { return OnPath("kdialog"); }
bool ChooseWithKdialog(volatile sig_atomic_t* child, std::vector<std::string>* chosen) {
  const char* args[] = {"kdialog", "--getopenfilename", ".", "*.kiv *.KIV|Kivo movies", "--multiple",
                        "--separate-output", "--title", "Open Kivo movies", nullptr};
  return ChooseWithLines(args, child, chosen);
}

// The portal needs a session bus: without one gdbus would try to start one.
bool PortalAvailable() {
  if (!OnPath("gdbus")) return false;
  const char* address = getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address && *address) return true;
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  struct stat st;
  return runtime && *runtime && stat((std::string(runtime) + "/bus").c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// A pipe whose buffer is full: a child writing to it waits until it is read.
bool FullPipe(int ends[2]) {
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  char filler[4096] = {};
  for (size_t size = sizeof filler; size > 0; size /= 2)
    while (write(ends[1], filler, size) > 0) {
    }
  fcntl(ends[1], F_SETFL, fcntl(ends[1], F_GETFL) & ~O_NONBLOCK);
  return true;
}

// The portal answers a request with a signal on the request's own object,
// which `gdbus monitor` reports; it closes a request whose caller leaves the
// bus, so the asking gdbus is kept from ending (its answer, the request's
// path, waits in a full pipe) until the Response came.
bool ChooseWithPortal(volatile sig_atomic_t* child, std::vector<std::string>* chosen) {
  static unsigned requests = 0;
  const std::string token = "kivo" + std::to_string(getpid()) + "_" + std::to_string(++requests);
  int watch[2];
  if (pipe2(watch, O_CLOEXEC) != 0) return false;
  const char* monitorArgs[] = {"gdbus", "monitor", "--session", "--dest", kPortal, nullptr};
  const pid_t monitor = Start(monitorArgs, watch[1], -1);
  close(watch[1]);
  if (monitor < 0) {
    close(watch[0]);
    return false;
  }
  *child = monitor;
  const std::string options = "{'handle_token': <'" + token +
                              "'>, 'multiple': <true>, 'filters': <[('Kivo movies', [(uint32 0, '*.kiv'), "
                              "(uint32 0, '*.KIV'), (uint32 1, 'video/x-kivo')]), ('All files', [(uint32 0, '*')])]>}";
  const char* callArgs[] = {"gdbus", "call", "--session", "--dest", kPortal, "--object-path",
                            "/org/freedesktop/portal/desktop", "--method",
                            "org.freedesktop.portal.FileChooser.OpenFile", "", "Open Kivo movies", options.c_str(),
                            nullptr};
  const std::string owned = std::string("The name ") + kPortal + " is owned by ";
  const std::string unowned = std::string("The name ") + kPortal + " does not have an owner";
  int held[2] = {-1, -1}, errors[2] = {-1, -1};
  pid_t call = -1;
  bool answered = false;
  std::string text, line, complaint;
  for (bool open = true; open && !answered;) {
    pollfd fds[2] = {{watch[0], POLLIN, 0}, {errors[0], POLLIN, 0}};
    if (poll(fds, call > 0 ? 2 : 1, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents) open = ReadSome(watch[0], &text);
    while (open && !answered && TakeLine(&text, &line)) {
      std::vector<std::string> paths;
      if (line.rfind(unowned, 0) == 0) {
        open = false;  // no portal, or it left
      } else if (call < 0 && line.rfind(owned, 0) == 0) {
        // gdbus subscribes to the owner's signals right after this line;
        // the call reaches the portal only after its own connection and
        // introspection round trips, and the answer waits for the user.
        if (!FullPipe(held) || pipe2(errors, O_CLOEXEC) != 0) open = false;
        else call = Start(callArgs, held[1], errors[1]);
        if (held[1] >= 0) close(held[1]);
        if (errors[1] >= 0) close(errors[1]);
        open = open && call > 0;
      } else if (int code = ParsePortalResponse(line, token, &paths); code >= 0) {
        answered = true;
        if (code == 0) *chosen = paths;
      }
    }
    // The asking gdbus ended by itself: the portal refused the request.
    if (call > 0 && fds[1].revents && !ReadSome(errors[0], &complaint) && !answered) {
      const int status = Reap(call);
      call = -1;
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) break;
    }
  }
  for (int fd : {held[0], errors[0], watch[0]})
    if (fd >= 0) close(fd);
  if (call > 0) {
    kill(call, SIGTERM);
    Reap(call);
  }
  kill(monitor, SIGTERM);
  Reap(monitor);
  *child = 0;
  return answered;
}

constexpr FileChooser kChoosers[] = {
    {"portal", PortalAvailable, ChooseWithPortal},
    {"zenity", ZenityAvailable, ChooseWithZenity},
    {"kdialog", KdialogAvailable, ChooseWithKdialog},
};

char PlainEscape(char e) {
  switch (e) {
    case 'a': return '\a';
    case 'b': return '\b';
    case 'f': return '\f';
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    case 'v': return '\v';
    default: return 0;
  }
}

// A GVariant text string literal at text[*at] (quoted with ' or ", with
// backslash escapes); *at moves past it.
bool TakeQuoted(const std::string& text, size_t* at, std::string* out) {
  if (*at >= text.size() || (text[*at] != '\'' && text[*at] != '"')) return false;
  const char quote = text[(*at)++];
  out->clear();
  while (*at < text.size()) {
    const char c = text[(*at)++];
    if (c == quote) return true;
    if (c != '\\') {
      *out += c;
      continue;
    }
    if (*at >= text.size()) return false;
    const char e = text[(*at)++];
    if (const char plain = PlainEscape(e)) {
      *out += plain;
    } else if (e == 'u' || e == 'U') {
      const size_t digits = e == 'u' ? 4 : 8;
      if (*at + digits > text.size()) return false;
      char* end = nullptr;
      const std::string hex = text.substr(*at, digits);
      const unsigned long cp = strtoul(hex.c_str(), &end, 16);
      if (end != hex.c_str() + digits || cp > 0x10FFFF) return false;
      *at += digits;
      if (cp < 0x80) {
        *out += char(cp);
      } else if (cp < 0x800) {
        *out += char(0xC0 | (cp >> 6));
        *out += char(0x80 | (cp & 0x3F));
      } else if (cp < 0x10000) {
        *out += char(0xE0 | (cp >> 12));
        *out += char(0x80 | ((cp >> 6) & 0x3F));
        *out += char(0x80 | (cp & 0x3F));
      } else {
        *out += char(0xF0 | (cp >> 18));
        *out += char(0x80 | ((cp >> 12) & 0x3F));
        *out += char(0x80 | ((cp >> 6) & 0x3F));
        *out += char(0x80 | (cp & 0x3F));
      }
    } else {
      *out += e;  // \\, \' and \"
    }
  }
  return false;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

const FileChooser* FindFileChooser() {
  for (const FileChooser& c : kChoosers)
    if (c.available()) return &c;
  return nullptr;
}

std::vector<std::string> ChooseMovies(const FileChooser** chooser, volatile sig_atomic_t* child) {
  std::vector<std::string> chosen;
  bool later = false;
  for (const FileChooser& c : kChoosers) {
    later = later || &c == *chooser;
    if (!later || !c.available()) continue;
    chosen.clear();
    if (c.choose(child, &chosen)) {
      *chooser = &c;
      return chosen;
    }
  }
  *chooser = nullptr;
  return {};
}

bool PathOfFileUri(const std::string& uri, std::string* path) {
  size_t at = 0;
  if (uri.rfind("file:///", 0) == 0) at = 7;
  else if (uri.rfind("file://localhost/", 0) == 0) at = 16;
  else return false;
  path->clear();
  for (; at < uri.size(); ++at) {
    if (uri[at] != '%') {
      *path += uri[at];
      continue;
    }
    const int high = at + 2 < uri.size() ? HexDigit(uri[at + 1]) : -1;
    const int low = high >= 0 ? HexDigit(uri[at + 2]) : -1;
    if (low < 0) return false;
    *path += char(high * 16 + low);
    at += 2;
  }
  return true;
}

int ParsePortalResponse(const std::string& line, const std::string& token, std::vector<std::string>* paths) {
  paths->clear();
  const size_t signal = line.find(kResponse);
  if (line.rfind(kRequestPrefix, 0) != 0 || signal == std::string::npos) return -1;
  const std::string object = line.substr(0, signal);
  if (object.size() <= token.size() || object.compare(object.size() - token.size(), token.size(), token) != 0 ||
      object[object.size() - token.size() - 1] != '/')
    return -1;
  const char* digits = line.c_str() + signal + strlen(kResponse);
  char* end = nullptr;
  const long code = strtol(digits, &end, 10);
  if (end == digits || code < 0) return -1;
  if (code != 0) return int(code);
  const std::string key = "'uris': <";
  size_t at = line.find(key, size_t(end - line.c_str()));
  if (at == std::string::npos) return 0;
  at += key.size();
  if (line.compare(at, 4, "@as ") == 0) at += 4;
  if (at >= line.size() || line[at++] != '[') return 0;
  std::string uri, path;
  while (TakeQuoted(line, &at, &uri)) {
    if (PathOfFileUri(uri, &path)) paths->push_back(path);
    if (line.compare(at, 2, ", ") != 0) break;
    at += 2;
  }
  return 0;
}

}  // namespace kivo
