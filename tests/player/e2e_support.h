// SPDX-License-Identifier: BSD-2-Clause
// Helpers of the end-to-end tests of the Linux player: child processes with
// their standard error kept, a private X server, screenshots, the pictures
// and sound kivdump writes, and a movie with sound made with the encoder's
// own writers.
#pragma once

#if !defined(_WIN32)

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kivo::e2e {

// The build folder of the running test binary.
std::string BuildDir();
bool OnPath(const char* tool);
void Pause(int ms);

// A child process with its standard error kept in a file.
struct Child {
  pid_t pid = -1;
  std::string errorFile;

  // `env` comes before the test's own environment, so it wins.
  bool Start(const std::vector<std::string>& args, const std::vector<std::string>& env, const std::string& err);
  // The exit code, -2 for a signal, or -1 when it had to be killed after `ms`.
  int Wait(int ms);
  void Signal(int signal);
  void Kill();
  std::string Errors() const;
  ~Child() { Kill(); }
};

// A private X server on a free display number.
struct XServer {
  Child server;
  std::string display;

  bool Start(const char* screen = "1024x768x24");
  // Runs a shell command on this display; its standard output.
  std::string Run(const std::string& command) const;
};

// An RGB picture of the screen or of a decoded frame.
struct Rgb {
  int width = 0, height = 0;
  std::vector<uint8_t> bytes;  // R, G, B

  const uint8_t* at(int x, int y) const { return &bytes[(size_t(y) * width + x) * 3]; }
  // Whether `picture` is shown exactly at (atX, atY).
  bool SameAs(const Rgb& picture, int atX, int atY) const;
  // The largest channel difference of `picture` at (atX, atY) (256 when it
  // does not fit).
  int Distance(const Rgb& picture, int atX, int atY) const;
};

// The whole screen; false when it could not be taken.
bool Screenshot(const XServer& x, const std::string& path, Rgb* out);
// An 8-bit RGB or RGBA PNG file (alpha dropped); false without libpng.
bool ReadPng(const std::string& path, Rgb* out);
// Every frame of a movie as `kivdump --png` writes them into `folder`.
std::vector<Rgb> DumpedFrames(const std::string& movie, const std::string& folder);
// A track's PCM as `kivdump --wav` writes it (the data chunk's bytes).
bool DumpedSound(const std::string& movie, uint32_t track, const std::string& wav, std::vector<uint8_t>* pcm);

// A profile of the test's own under `folder`, with the version check done,
// so that no question stops the player.
void WriteQuietProfile(const std::string& folder);

// Inputs for the encoder: moving stripes in Y4M, and a 441 Hz tone in WAV.
void WriteStripesY4m(const std::string& path, int width, int height, int frameCount);
void WriteToneWav(const std::string& path, uint32_t rate, uint32_t seconds);

// A movie of moving stripes with one 22050 Hz 16-bit stereo track (id 0, the one played by default)
// written with the encoder's video coding and its audio block writer: a few
// steady partials, one block of sound per frame (735/32 frames per second),
// eight in the first frame.
std::vector<uint8_t> WrittenSoundMovie(uint32_t frames);

}  // namespace kivo::e2e

#endif  // !_WIN32
