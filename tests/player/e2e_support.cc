// SPDX-License-Identifier: BSD-2-Clause
// Child processes, the private X server, screenshots, kivdump's outputs and
// the written sound movie of the end-to-end tests.
#include "player/e2e_support.h"

#if !defined(_WIN32)

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#if KIVO_HAVE_PNG
#include <png.h>
#endif

#include "audio/audio_format.h"
#include "encode/audio_writer.h"
#include "encode/container_writer.h"
#include "encode/encoder.h"

extern char** environ;

namespace kivo::e2e {

std::string BuildDir() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "";
  self[n] = 0;
  std::string path(self);
  path = path.substr(0, path.rfind('/'));  // .../tests
  return path.substr(0, path.rfind('/'));  // the build folder
}

bool OnPath(const char* tool) {
  const std::string command = std::string("command -v ") + tool + " >/dev/null 2>&1";
  return system(command.c_str()) == 0;
}

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool Child::Start(const std::vector<std::string>& args, const std::vector<std::string>& env, const std::string& err) {
  errorFile = err;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv, envp;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  for (char** e = environ; *e; ++e) envp.push_back(*e);
  envp.push_back(nullptr);
  const int r = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (r != 0) pid = -1;
  return r == 0;
}

int Child::Wait(int ms) {
  for (int waited = 0; waited < ms; waited += 20) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      pid = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
    }
    Pause(20);
  }
  Kill();
  return -1;
}

void Child::Signal(int signal) {
  if (pid > 0) kill(pid, signal);
}

void Child::Kill() {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  pid = -1;
}

std::string Child::Errors() const {
  std::ifstream f(errorFile);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

bool XServer::Start(const char* screen) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const std::string fd = std::to_string(fds[1]);
  const char* argv[] = {"Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen, "-nolisten", "tcp", nullptr};
  const int r = posix_spawnp(&server.pid, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (r != 0) {
    server.pid = -1;
    close(fds[0]);
    return false;
  }
  // The server writes its display number once it takes clients.
  char number[16] = {};
  ssize_t n = 0, got;
  while (n < ssize_t(sizeof number - 1) && (got = read(fds[0], number + n, 1)) == 1 && number[n] != '\n') ++n;
  close(fds[0]);
  number[n] = 0;
  if (n == 0) return false;
  display = std::string(":") + number;
  return true;
}

std::string XServer::Run(const std::string& command) const {
  const std::string full = "DISPLAY=" + display + " " + command + " 2>/dev/null";
  std::string out;
  FILE* p = popen(full.c_str(), "r");
  if (!p) return out;
  char chunk[256];
  size_t k;
  while ((k = fread(chunk, 1, sizeof chunk, p)) > 0) out.append(chunk, k);
  pclose(p);
  return out;
}

bool Rgb::SameAs(const Rgb& picture, int atX, int atY) const { return Distance(picture, atX, atY) == 0; }

int Rgb::Distance(const Rgb& picture, int atX, int atY) const {
  if (atX < 0 || atY < 0 || atX + picture.width > width || atY + picture.height > height || picture.width == 0)
    return 256;
  int worst = 0;
  for (int y = 0; y < picture.height; ++y) {
    const uint8_t* a = at(atX, atY + y);
    const uint8_t* b = picture.at(0, y);
    for (int i = 0; i < picture.width * 3; ++i) {
      const int d = std::abs(int(a[i]) - int(b[i]));
      if (d > worst) worst = d;
    }
  }
  return worst;
}

bool Screenshot(const XServer& x, const std::string& path, Rgb* out) {
  x.Run("import -window root -depth 8 ppm:" + path);
  std::ifstream f(path, std::ios::binary);
  std::string magic;
  int maxValue = 0;
  f >> magic >> out->width >> out->height >> maxValue;
  f.get();
  if (magic != "P6" || maxValue != 255 || out->width <= 0) return false;
  out->bytes.resize(size_t(out->width) * out->height * 3);
  f.read(reinterpret_cast<char*>(out->bytes.data()), std::streamsize(out->bytes.size()));
  return bool(f);
}

bool ReadPng(const std::string& path, Rgb* out) {
#if KIVO_HAVE_PNG
  png_image image;
  memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  out->width = int(image.width);
  out->height = int(image.height);
  out->bytes.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out->bytes.data(), 0, nullptr)) {
    png_image_free(&image);
    return false;
  }
  return true;
#else
  (void)path;
  (void)out;
  return false;
#endif
}

std::vector<Rgb> DumpedFrames(const std::string& movie, const std::string& folder) {
  std::vector<Rgb> frames;
  mkdir(folder.c_str(), 0755);
  // Pictures of an earlier, longer movie must not count.
  for (int n = 1;; ++n) {
    char name[32];
    snprintf(name, sizeof name, "/frame%05d.png", n);
    if (remove((folder + name).c_str()) != 0) break;
  }
  const std::string command = BuildDir() + "/tools/kivdump " + movie + " --png " + folder + " >/dev/null 2>&1";
  if (system(command.c_str()) != 0) return frames;
  for (int n = 1;; ++n) {
    char name[32];
    snprintf(name, sizeof name, "/frame%05d.png", n);
    Rgb f;
    if (!ReadPng(folder + name, &f)) break;
    frames.push_back(std::move(f));
  }
  return frames;
}

bool DumpedSound(const std::string& movie, uint32_t track, const std::string& wav, std::vector<uint8_t>* pcm) {
  const std::string command =
      BuildDir() + "/tools/kivdump " + movie + " --wav " + std::to_string(track) + " " + wav + " >/dev/null 2>&1";
  if (system(command.c_str()) != 0) return false;
  std::ifstream f(wav, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) return false;
  auto word = [&](size_t at) {
    return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
           uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
  };
  for (size_t at = 12; at + 8 <= bytes.size();) {
    const uint32_t size = word(at + 4);
    if (bytes.compare(at, 4, "data") == 0) {
      if (at + 8 + size > bytes.size()) return false;
      pcm->assign(bytes.begin() + std::ptrdiff_t(at + 8), bytes.begin() + std::ptrdiff_t(at + 8 + size));
      return true;
    }
    at += 8 + size + (size & 1);
  }
  return false;
}

void WriteQuietProfile(const std::string& folder) {
  mkdir(folder.c_str(), 0755);
  mkdir((folder + "/kivo").c_str(), 0755);
  std::ofstream(folder + "/kivo/profile.ini") << "[Orlo Video Tools]\nLastVersionCheckDate=9999-12-31\n";
}

void WriteStripesY4m(const std::string& path, int width, int height, int frameCount) {
  std::ofstream f(path, std::ios::binary);
  f << "YUV4MPEG2 W" << width << " H" << height << " F25:1 Ip A1:1 C420jpeg\n";
  std::vector<char> y(size_t(width) * height), u(size_t(width / 2) * (height / 2), char(90)),
      v(size_t(width / 2) * (height / 2), char(160));
  for (int i = 0; i < frameCount; ++i) {
    for (int r = 0; r < height; ++r)
      for (int c = 0; c < width; ++c) y[size_t(r) * width + c] = char((r / 20) % 2 ? 200 : (c * 2 + i * 3) & 255);
    f << "FRAME\n";
    f.write(y.data(), std::streamsize(y.size()));
    f.write(u.data(), std::streamsize(u.size()));
    f.write(v.data(), std::streamsize(v.size()));
  }
}

void WriteToneWav(const std::string& path, uint32_t rate, uint32_t seconds) {
  std::vector<int16_t> samples;
  for (uint32_t t = 0; t < rate * seconds; ++t) {
    const auto s = int16_t(8000 * std::sin(2 * 3.14159265358979 * 441 * t / rate));
    samples.push_back(s);
    samples.push_back(s);
  }
  const uint32_t bytes = uint32_t(samples.size() * 2);
  auto word = [](std::ofstream& f, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) f.put(char((v >> (8 * i)) & 255));
  };
  std::ofstream f(path, std::ios::binary);
  f << "RIFF";
  word(f, 36 + bytes, 4);
  f << "WAVEfmt ";
  word(f, 16, 4);
  word(f, 1, 2);
  word(f, 2, 2);
  word(f, rate, 4);
  word(f, rate * 4, 4);
  word(f, 4, 2);
  word(f, 16, 2);
  f << "data";
  word(f, bytes, 4);
  f.write(reinterpret_cast<const char*>(samples.data()), std::streamsize(bytes));
}

std::vector<uint8_t> WrittenSoundMovie(uint32_t frames) {
  constexpr uint32_t kWidth = 96, kHeight = 64, kRate = 22050, kLeadBlocks = 8;
  constexpr uint32_t kTrackWord = 0x70000000u | kRate;  // 16-bit stereo, DCT coding
  encode::EncoderSettings settings;
  settings.width = kWidth;
  settings.height = kHeight;
  settings.rateNum = 735;
  settings.rateDen = 32;
  encode::VideoEncoder video;
  std::string error;
  if (!encode::OpenVideoEncoder(video, settings, &error)) return {};
  AudioLayout layout;
  if (!ComputeAudioLayout(kRate, 2, 1, &layout)) return {};

  // Each coded channel: a few partials whose strength changes slowly from
  // block to block, so that every stretch of the sound is unlike the others.
  auto channel = [&](uint32_t block, uint32_t which) {
    encode::AudioChannelCode code;
    code.k0 = encode::PackFloat(0);
    code.k1 = encode::PackFloat(0);
    for (uint8_t& b : code.bands) b = 40;
    code.values.assign(layout.blockSize, 0);
    const uint32_t bins[3] = {9 + which * 4, 27 + which, 61};
    for (uint32_t i = 0; i < 3; ++i)
      code.values[bins[i]] = int32_t(60 + (block * (7 + i * 5) + which * 13) % 90) * (i == 1 ? -1 : 1);
    return code;
  };

  encode::MovieLayout movie;
  movie.width = kWidth;
  movie.height = kHeight;
  movie.rateNum = 735;
  movie.rateDen = 32;
  movie.tracks.push_back({kTrackWord, 0, 0});
  std::vector<encode::FramePacket> packets(frames);
  encode::SourcePicture picture;
  picture.width = kWidth;
  picture.height = kHeight;
  picture.luma.resize(size_t(kWidth) * kHeight);
  picture.cr.assign(size_t(kWidth / 2) * (kHeight / 2), 160);
  picture.cb.assign(size_t(kWidth / 2) * (kHeight / 2), 90);
  uint32_t block = 0;
  for (uint32_t f = 0; f < frames; ++f) {
    for (uint32_t r = 0; r < kHeight; ++r)
      for (uint32_t c = 0; c < kWidth; ++c)
        picture.luma[size_t(r) * kWidth + c] = uint8_t((r / 16) % 2 ? 200 : (c * 2 + f * 5) & 255);
    bool isKey = false;
    if (!encode::EncodeVideoFrame(video, picture, f % 10 == 0, packets[f].video, &isKey, &error)) return {};
    packets[f].key = isKey;
    std::vector<std::vector<uint8_t>> blocks;
    for (uint32_t b = 0; b < (f == 0 ? kLeadBlocks : 1); ++b, ++block) {
      const encode::AudioChannelCode channels[2] = {channel(block, 0), channel(block, 1)};
      blocks.push_back(encode::WriteAudioBlock(layout, channels));
      if (blocks.back().empty()) return {};
    }
    // A block yields its PCM less what it holds back for the next.
    const uint32_t yield = layout.blockBytes - layout.overlapBytes;
    packets[f].audio.push_back(encode::BuildAudioChunk(uint32_t(blocks.size()) * yield, blocks));
  }
  return encode::BuildMovie(movie, packets);
}

}  // namespace kivo::e2e

#endif  // !_WIN32
