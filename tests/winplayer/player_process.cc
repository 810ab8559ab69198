// SPDX-License-Identifier: BSD-2-Clause
// Child processes, boxes, screen pictures and inputs for the Windows player's tests.
#include "winplayer/player_process.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kivo/convert.h"
#include "movie/movie.h"
#include "movie/movie_api.h"
#include "player/command_line.h"
#include "player/version_check.h"

#include <windows.h>

namespace kivo::wintest {

std::string BuildFolder() {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, sizeof self - 1);
  std::string path(self);
  path = path.substr(0, path.rfind('\\'));  // ...\tests
  return path.substr(0, path.rfind('\\'));
}

std::string FilesFolder() {
  const std::string folder = BuildFolder() + "\\tests\\winplayer_files";
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

bool HaveDisplay() {
  // Wine hands the Unix environment over; without an X server no window opens.
  const char* display = getenv("DISPLAY");
  return display && *display;
}

bool ChildProcess::Start(const std::string& program, const std::string& arguments) {
  std::string line = "\"" + program + "\" " + arguments;
  std::vector<char> text(line.begin(), line.end());
  text.push_back(0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(program.c_str(), text.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return false;
  process = info.hProcess;
  thread = info.hThread;
  id = info.dwProcessId;
  return true;
}

int ChildProcess::Wait(uint32_t ms) {
  if (!process) return -1;
  if (WaitForSingleObject(process, ms) != WAIT_OBJECT_0) {
    Kill();
    return -1;
  }
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  CloseHandle(thread);
  process = thread = nullptr;
  return static_cast<int>(code);
}

bool ChildProcess::Running() const { return process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

void ChildProcess::SuspendMain(bool suspend) {
  if (!thread) return;
  if (suspend)
    SuspendThread(thread);
  else
    ResumeThread(thread);
}

void ChildProcess::Kill() {
  if (!process) return;
  TerminateProcess(process, 99);
  WaitForSingleObject(process, 5000);
  CloseHandle(process);
  CloseHandle(thread);
  process = thread = nullptr;
}

ChildProcess::~ChildProcess() { Kill(); }

int RunToEnd(const std::string& program, const std::string& arguments, uint32_t ms) {
  ChildProcess child;
  if (!child.Start(program, arguments)) return -2;
  return child.Wait(ms);
}

namespace {

struct WindowSearch {
  DWORD process;
  const char* caption;
  const char* windowClass;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param) {
  auto* s = reinterpret_cast<WindowSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != s->process) return TRUE;
  char text[256] = {};
  GetWindowTextA(window, text, sizeof text);
  if (strcmp(text, s->caption) != 0) return TRUE;
  if (s->windowClass) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    if (strcmp(name, s->windowClass) != 0) return TRUE;
  }
  s->found = window;
  return FALSE;
}

BOOL CALLBACK LongestText(HWND control, LPARAM param) {
  auto* best = reinterpret_cast<std::string*>(param);
  char text[4096] = {};
  GetWindowTextA(control, text, sizeof text);
  if (strlen(text) > best->size()) *best = text;
  return TRUE;
}

}  // namespace

void* FindProcessWindow(const ChildProcess& process, const char* caption, const char* windowClass, uint32_t ms) {
  for (uint32_t waited = 0;; waited += 50) {
    WindowSearch s{process.id, caption, windowClass, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&s));
    if (s.found || waited >= ms) return s.found;
    Sleep(50);
  }
}

bool WaitShown(void* window, uint32_t ms) {
  for (uint32_t waited = 0;; waited += 20) {
    if (window && IsWindowVisible(static_cast<HWND>(window))) return true;
    if (!window || waited >= ms) return false;
    Sleep(20);
  }
}

std::string BoxText(void* box) {
  std::string text;
  EnumChildWindows(static_cast<HWND>(box), LongestText, reinterpret_cast<LPARAM>(&text));
  // The box draws its line feeds as carriage return and line feed.
  std::string plain;
  for (char c : text)
    if (c != '\r') plain.push_back(c);
  return plain;
}

void PressBoxButton(void* box, int commandId) {
  PostMessageA(static_cast<HWND>(box), WM_COMMAND, MAKEWPARAM(commandId, BN_CLICKED), 0);
}

bool CaptureScreen(Picture* out) {
  HDC screen = GetDC(nullptr);
  if (!screen) return false;
  const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC memory = CreateCompatibleDC(screen);
  bool ok = bitmap && memory;
  if (ok) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    ok = BitBlt(memory, 0, 0, w, h, screen, 0, 0, SRCCOPY) != 0;
    GdiFlush();
    SelectObject(memory, old);
  }
  if (ok) {
    out->width = w;
    out->height = h;
    const auto* p = static_cast<const uint32_t*>(bits);
    out->pixels.assign(p, p + size_t(w) * h);
    for (uint32_t& v : out->pixels) v &= 0xFFFFFF;
  }
  if (memory) DeleteDC(memory);
  if (bitmap) DeleteObject(bitmap);
  ReleaseDC(nullptr, screen);
  return ok;
}

bool ClientOrigin(void* window, int* x, int* y) {
  POINT p{0, 0};
  if (!window || !ClientToScreen(static_cast<HWND>(window), &p)) return false;
  *x = p.x;
  *y = p.y;
  return true;
}

std::vector<Picture> DecodedFrames(const std::string& path) {
  std::vector<Picture> frames;
  Movie* m = OpenMovie(path.c_str(), 0);
  if (!m) return frames;
  std::vector<uint8_t> rgba(size_t(m->width) * m->height * 4);
  for (uint32_t i = 0; i < m->frameCount; ++i) {
    DoFrame(m);
    CopyToRgbaRows(m, rgba.data(), int32_t(m->width * 4), 0);
    Picture f;
    f.width = int(m->width);
    f.height = int(m->height);
    for (size_t k = 0; k < rgba.size(); k += 4)
      f.pixels.push_back(uint32_t(rgba[k]) << 16 | uint32_t(rgba[k + 1]) << 8 | rgba[k + 2]);
    frames.push_back(std::move(f));
    NextFrame(m);
  }
  CloseMovie(m);
  return frames;
}

int ClosestFrame(const Picture& screen, const std::vector<Picture>& frames, int x, int y, int* difference) {
  int best = -1, bestDifference = 256;
  for (size_t i = 0; i < frames.size(); ++i) {
    const Picture& f = frames[i];
    if (x < 0 || y < 0 || x + f.width > screen.width || y + f.height > screen.height) continue;
    int worst = 0;
    for (int r = 0; r < f.height && worst < bestDifference; ++r)
      for (int c = 0; c < f.width; ++c) {
        const uint32_t a = screen.At(x + c, y + r), b = f.At(c, r);
        for (int shift = 0; shift < 24; shift += 8) {
          const int d = std::abs(int((a >> shift) & 255) - int((b >> shift) & 255));
          if (d > worst) worst = d;
        }
      }
    if (worst < bestDifference) {
      best = int(i);
      bestDifference = worst;
    }
  }
  if (difference) *difference = bestDifference;
  return best;
}

int FrameOnScreen(const Picture& screen, const std::vector<Picture>& frames, int x, int y, int tolerance) {
  int difference = 0;
  const int i = ClosestFrame(screen, frames, x, y, &difference);
  return i >= 0 && difference <= tolerance ? i : -1;
}

bool WriteStripesY4m(const std::string& path, int width, int height, int frameCount) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  fprintf(f, "YUV4MPEG2 W%d H%d F25:1 Ip A1:1 C420jpeg\n", width, height);
  std::vector<uint8_t> y(size_t(width) * height), u(size_t(width / 2) * (height / 2), 90),
      v(size_t(width / 2) * (height / 2), 160);
  for (int i = 0; i < frameCount; ++i) {
    for (int r = 0; r < height; ++r)
      for (int c = 0; c < width; ++c) y[size_t(r) * width + c] = uint8_t((r / 20) % 2 ? 200 : (c * 2 + i * 3) & 255);
    fputs("FRAME\n", f);
    fwrite(y.data(), 1, y.size(), f);
    fwrite(u.data(), 1, u.size(), f);
    fwrite(v.data(), 1, v.size(), f);
  }
  return fclose(f) == 0;
}

bool WriteToneWav(const std::string& path, uint32_t rate, uint32_t milliseconds) {
  const uint32_t frames = uint32_t(uint64_t(rate) * milliseconds / 1000);
  std::vector<int16_t> samples;
  for (uint32_t t = 0; t < frames; ++t) {
    const auto s = int16_t(8000 * std::sin(2 * 3.14159265358979 * 441 * t / rate));
    samples.push_back(s);
    samples.push_back(s);
  }
  const uint32_t bytes = uint32_t(samples.size() * 2);
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  auto word = [f](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) fputc(int((v >> (8 * i)) & 255), f);
  };
  fputs("RIFF", f);
  word(36 + bytes, 4);
  fputs("WAVEfmt ", f);
  word(16, 4);
  word(1, 2);
  word(2, 2);
  word(rate, 4);
  word(rate * 4, 4);
  word(4, 2);
  word(16, 2);
  fputs("data", f);
  word(bytes, 4);
  fwrite(samples.data(), 1, bytes, f);
  return fclose(f) == 0;
}

void SetLastVersionCheck(const char* value) { WriteProfileStringA(kProfileSection, kVersionCheckKey, value); }

std::string LastVersionCheck() {
  char text[64] = {};
  GetProfileStringA(kProfileSection, kVersionCheckKey, "", text, sizeof text);
  return text;
}

}  // namespace kivo::wintest
