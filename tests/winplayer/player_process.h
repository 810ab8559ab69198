// SPDX-License-Identifier: BSD-2-Clause
// Running KivoPlay.exe and the tools from a Windows test: child processes,
// the message boxes and the player window they open (found by caption and
// owning process, read through their controls, dismissed with a button's
// command), a picture of the screen, and the movies made by kivenc.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kivo::wintest {

// The build folder (the test program lives in its tests folder).
std::string BuildFolder();
// A folder of this suite's own files inside the build folder, with '\'.
std::string FilesFolder();
// A display to open windows on: false under Wine with no X server.
bool HaveDisplay();

struct ChildProcess {
  void* process = nullptr;
  void* thread = nullptr;
  uint32_t id = 0;

  // The command line as Windows takes it: the program quoted, then `arguments`.
  bool Start(const std::string& program, const std::string& arguments);
  // The exit code, or -1 when it had not ended within `ms` (it is then ended).
  int Wait(uint32_t ms);
  bool Running() const;
  // Stops or restarts the process's first thread (the player's main loop,
  // which decodes the sound the device is fed from).
  void SuspendMain(bool suspend);
  void Kill();
  ~ChildProcess();
};

// Runs a program to its end; the exit code, -1 on a time-out.
int RunToEnd(const std::string& program, const std::string& arguments, uint32_t ms);

// A top-level window of `process` with this caption (and class, when given);
// null when none appears within `ms`.
void* FindProcessWindow(const ChildProcess& process, const char* caption, const char* windowClass, uint32_t ms);
// Waits until the window is shown (the player shows it once a movie is
// open and placed); false when it is not within `ms`.
bool WaitShown(void* window, uint32_t ms);
// The longest text among a message box's controls: its message.
std::string BoxText(void* box);
// Ends a message box as if the button with this command id were pressed.
void PressBoxButton(void* box, int commandId);

// The screen as 0xRRGGBB pixels, row by row from the top.
struct Picture {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(int x, int y) const { return pixels[size_t(y) * width + x]; }
};
bool CaptureScreen(Picture* out);
// The client area's top-left corner of a window on the screen.
bool ClientOrigin(void* window, int* x, int* y);

// Every frame of a movie file as the library decodes and converts it.
std::vector<Picture> DecodedFrames(const std::string& path);
// The frame of `frames` that the screen shows at (x, y), every colour
// channel within `tolerance`; -1 for none.
int FrameOnScreen(const Picture& screen, const std::vector<Picture>& frames, int x, int y, int tolerance);
// The frame closest to what the screen shows at (x, y) and its largest
// channel difference there; -1 when no frame fits on the screen.
int ClosestFrame(const Picture& screen, const std::vector<Picture>& frames, int x, int y, int* difference);

// Inputs for kivenc: stripes moving along (Y4M) and a 441 Hz tone (WAV).
bool WriteStripesY4m(const std::string& path, int width, int height, int frameCount);
bool WriteToneWav(const std::string& path, uint32_t rate, uint32_t milliseconds);

// The profile value the version check keeps.
void SetLastVersionCheck(const char* value);
std::string LastVersionCheck();

}  // namespace kivo::wintest
