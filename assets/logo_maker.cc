// SPDX-License-Identifier: BSD-2-Clause
// Build step: writes the built-in logo movie as a C++ source (a 4-byte
// aligned array the player opens in memory), or the short demo movie with
// its sound track.
//   logo_maker source OUT.cc
//   logo_maker demo OUT.kiv
//   logo_maker logo OUT.kiv   (the logo as a movie file, to look at)
#include <cmath>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "assets/logo_art.h"
#include "encode/audio_encoder.h"
#include "encode/container_writer.h"
#include "movie/container.h"

namespace {

bool WriteAll(const std::string& path, const std::string& text) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
  return fclose(f) == 0 && ok;
}

std::string LogoSource(const std::vector<uint8_t>& movie) {
  std::string s =
      "// Written by the build (assets/logo_maker): the built-in logo movie.\n"
      "#include \"player/logo_movie.h\"\n\n"
      "namespace kivo {\n\nnamespace {\n\n"
      "// The movie's words are read in place, so the array keeps their alignment.\n"
      "alignas(4) const unsigned char kLogoMovie[" +
      std::to_string(movie.size()) + "] = {";
  char hex[8];
  for (size_t i = 0; i < movie.size(); ++i) {
    if (i % 16 == 0) s += "\n   ";
    snprintf(hex, sizeof hex, " 0x%02x,", movie[i]);
    s += hex;
  }
  s += "\n};\n\n}  // namespace\n\n"
       "const void* BuiltInLogoMovie() { return kLogoMovie; }\n"
       "uint32_t BuiltInLogoSize() { return sizeof kLogoMovie; }\n\n"
       "}  // namespace kivo\n";
  return s;
}

// ---- The demo's sound -----------------------------------------------------

constexpr uint32_t kSoundRate = 22050;
constexpr double kPi = 3.14159265358979323846;

// A bell-like tone: a sine with a little of its octave, struck and dying away.
double Bell(double hz, double t) {
  if (t < 0) return 0;
  const double attack = t < 0.008 ? t / 0.008 : 1.0;
  return attack * std::exp(-3.5 * t) * (std::sin(2 * kPi * hz * t) + 0.3 * std::sin(4 * kPi * hz * t));
}

// The movie's length of a rising and falling C major arpeggio over a soft
// C major chord, the melody panned with the ball as it crosses the picture.
// Interleaved stereo.
std::vector<int16_t> DemoSound() {
  using namespace kivo::logo;
  const uint32_t frames = kSoundRate * kDemoFrames / kDemoRate;
  const double notes[] = {523.25, 659.26, 783.99, 1046.50, 783.99, 659.26, 587.33, 523.25};  // C5 E5 G5 C6 G5 E5 D5 C5
  const double chord[] = {261.63, 329.63, 392.00};                                           // C4 E4 G4
  const double noteLength = double(kDemoFrames) / kDemoRate / 8;
  std::vector<int16_t> pcm(size_t(frames) * 2);
  const uint32_t half = kDemoFrames / 2;
  for (uint32_t i = 0; i < frames; ++i) {
    const double t = double(i) / kSoundRate;
    const uint32_t note = uint32_t(t / noteLength) < 8 ? uint32_t(t / noteLength) : 7;
    // This note and the tail of the one before.
    double melody = Bell(notes[note], t - note * noteLength);
    if (note > 0) melody += Bell(notes[note - 1], t - (note - 1) * noteLength);
    double pad = 0;
    for (double hz : chord) pad += std::sin(2 * kPi * hz * t);
    pad *= t < 0.3 ? t / 0.3 : 1.0;
    // The ball's place, 0 at the left edge to 1 at the right, as the picture draws it.
    const uint32_t frame = i * kDemoRate / kSoundRate;
    const uint32_t step = frame < half ? frame : kDemoFrames - 1 - frame;
    const double place = double(step) / (half - 1);
    const double left = std::cos(place * kPi / 2), right = std::sin(place * kPi / 2);
    // The last tenth of a second fades out, so the loop starts again without a click.
    const double end = double(frames - i) / (kSoundRate / 10.0);
    const double fade = end < 1 ? end : 1;
    const double l = fade * (0.3 * melody * (0.4 + 0.6 * left) + 0.05 * pad);
    const double r = fade * (0.3 * melody * (0.4 + 0.6 * right) + 0.05 * pad);
    pcm[2 * size_t(i)] = int16_t(std::lround(l * 32767));
    pcm[2 * size_t(i) + 1] = int16_t(std::lround(r * 32767));
  }
  return pcm;
}

// The demo's pictures as the artwork encodes them, packed again with the
// sound as track 0.
std::vector<uint8_t> DemoWithSound() {
  const std::vector<uint8_t> pictures = kivo::logo::BuildDemoMovie();
  kivo::MovieHeader h;
  kivo::ParseMovieHeader(pictures.data(), &h);
  if (h.trackCount != 0) throw std::runtime_error("the demo's pictures already have sound");
  std::vector<uint32_t> index(h.frameCount + 1);
  for (uint32_t i = 0; i <= h.frameCount; ++i) index[i] = kivo::ReadLe32(pictures.data() + kivo::kHeaderSize + 4 * i);

  kivo::encode::AudioTrackSettings sound;
  sound.rate = kSoundRate;
  sound.channels = 2;
  kivo::encode::AudioEncoder encoder;
  std::string error;
  if (!kivo::encode::OpenAudioEncoder(encoder, sound, h.rateNum, h.rateDen, &error)) throw std::runtime_error(error);
  const std::vector<int16_t> pcm = DemoSound();
  kivo::encode::AddAudioInput(encoder, pcm.data(), uint32_t(pcm.size() / 2));
  kivo::encode::EndAudioInput(encoder);

  kivo::encode::MovieLayout layout;
  layout.revision = char(h.revision);
  layout.width = h.width;
  layout.height = h.height;
  layout.rateNum = h.rateNum;
  layout.rateDen = h.rateDen;
  layout.videoFlags = h.videoFlags;
  layout.tracks.push_back({kivo::encode::AudioTrackWord(sound), 0, 0});
  std::vector<kivo::encode::FramePacket> packets(h.frameCount);
  for (uint32_t n = 1; n <= h.frameCount; ++n) {
    kivo::encode::FramePacket& p = packets[n - 1];
    const uint8_t* video = pictures.data() + kivo::FrameOffset(index.data(), n);
    p.key = kivo::IsKeyFrame(index.data(), n);
    p.video.assign(video, video + kivo::FrameSize(index.data(), n));
    p.audio.resize(1);
    if (!kivo::encode::EncodeAudioFrame(encoder, p.audio[0], &error)) throw std::runtime_error(error);
  }
  return kivo::encode::BuildMovie(layout, packets);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc == 3 ? argv[1] : "";
  try {
    if (mode == "source") {
      if (WriteAll(argv[2], LogoSource(kivo::logo::BuildLogoMovie()))) return 0;
    } else if (mode == "demo" || mode == "logo") {
      const std::vector<uint8_t> movie =
          mode == "demo" ? DemoWithSound() : kivo::logo::BuildLogoMovie();
      if (WriteAll(argv[2], std::string(movie.begin(), movie.end()))) return 0;
    } else {
      fprintf(stderr, "usage: logo_maker source OUT.cc | logo_maker demo OUT.kiv | logo_maker logo OUT.kiv\n");
      return 1;
    }
    fprintf(stderr, "logo_maker: cannot write %s\n", argv[2]);
  } catch (const std::exception& e) {
    fprintf(stderr, "logo_maker: %s\n", e.what());
  }
  return 1;
}
