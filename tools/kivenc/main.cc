// SPDX-License-Identifier: BSD-2-Clause
// kivenc: reads the pictures and sound, codes every frame and writes the
// movie by way of a temporary file, with a progress line on standard error.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "encode/container_writer.h"
#include "encode/encoder.h"
#include "encode/input_png.h"
#include "encode/input_wav.h"
#include "encode/input_y4m.h"
#include "encode/movie_file_writer.h"
#include "encode/output_file.h"
#include "encode/video_encoder.h"
#include "kivo/version.h"
#include "movie/container.h"
#include "options.h"

#if defined(_WIN32)
#include <io.h>
#define KIVENC_UNLINK _unlink
#define KIVENC_WRITE _write
#define KIVENC_EXIT _exit
#else
#include <sys/stat.h>
#include <unistd.h>
#define KIVENC_UNLINK unlink
#define KIVENC_WRITE write
#define KIVENC_EXIT _exit
#endif

namespace kivo::tools {
namespace {

using encode::SourcePicture;

struct Failure {
  std::string text;
};

// The temporary files of the movie being written, for removal when the
// program is interrupted (only what a signal handler may do: unlink, write,
// _exit).
char pendingSpill[4096], pendingTemp[4096];

extern "C" void OnInterrupt(int) {
  if (pendingSpill[0]) KIVENC_UNLINK(pendingSpill);
  if (pendingTemp[0]) KIVENC_UNLINK(pendingTemp);
  static const char kText[] = "\nkivenc: interrupted; nothing written\n";
  (void)!KIVENC_WRITE(2, kText, sizeof kText - 1);
  KIVENC_EXIT(1);
}

void SetPending(const std::string& spill, const std::string& temp) {
  if (spill.size() >= sizeof pendingSpill || temp.size() >= sizeof pendingTemp) return;
  memcpy(pendingTemp, temp.c_str(), temp.size() + 1);
  memcpy(pendingSpill, spill.c_str(), spill.size() + 1);
}

// Whether a progress line is open on standard error (an error message then
// starts on a line of its own).
bool progressOpen = false;

bool IsY4m(const std::string& path) {
  if (path.find('%') != std::string::npos) return false;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return false;
  char head[10] = {};
  const size_t n = fread(head, 1, 10, f);
  fclose(f);
  return n == 10 && memcmp(head, "YUV4MPEG2 ", 10) == 0;
}

// Pictures from either kind of input.
struct PictureSource {
  bool y4m = false;
  encode::Y4mInput y4mInput;
  encode::PngInput pngInput;
  encode::PngOptions pngOptions;
  uint32_t width = 0, height = 0, total = 0;

  ~PictureSource() { encode::CloseY4m(y4mInput); }

  void Open(const EncodeOptions& o) {
    std::string error;
    y4m = o.inputs.size() == 1 && IsY4m(o.inputs[0]);
    if (y4m) {
      if (!encode::OpenY4m(y4mInput, o.inputs[0], &error)) throw Failure{error};
      width = y4mInput.width;
      height = y4mInput.height;
      total = encode::EstimateY4mFrames(y4mInput);
      return;
    }
    if (!encode::PngSupported()) throw Failure{"this build cannot read PNG files; give a YUV4MPEG2 file"};
    std::vector<std::string> files;
    for (const std::string& input : o.inputs) {
      if (IsY4m(input)) throw Failure{input + ": a YUV4MPEG2 file must be the only input"};
      std::vector<std::string> more = encode::ExpandPngPattern(input, &error);
      if (more.empty()) throw Failure{error};
      files.insert(files.end(), more.begin(), more.end());
    }
    if (!encode::OpenPngSequence(pngInput, files, &error)) throw Failure{error};
    if (o.alpha && !pngInput.firstHasAlpha) throw Failure{files[0] + ": --alpha needs PNG pictures with alpha"};
    width = pngInput.width;
    height = pngInput.height;
    total = static_cast<uint32_t>(files.size());
  }

  bool Next(SourcePicture& picture) {
    std::string error;
    const int r = y4m ? encode::ReadY4mFrame(y4mInput, picture, &error)
                      : encode::ReadPngFrame(pngInput, pngOptions, picture, &error);
    if (r < 0) throw Failure{error};
    return r > 0;
  }
};

// The sound tracks: each WAV file read as far as the next frame's audio
// needs and coded into that frame's packet.
struct SoundTracks {
  std::vector<encode::WavInput>* wavs = nullptr;
  std::vector<encode::AudioEncoder> encoders;
  std::vector<int16_t> buffer;

  void Open(const EncodeOptions& o, std::vector<encode::WavInput>& inputs, uint32_t rateNum, uint32_t rateDen) {
    wavs = &inputs;
    encoders.resize(inputs.size());
    std::string error;
    for (size_t t = 0; t < inputs.size(); ++t) {
      encode::AudioTrackSettings a;
      a.rate = inputs[t].rate;
      a.channels = inputs[t].channels;
      a.bits = inputs[t].bits;
      a.mode = o.audioMode;
      a.quality = o.audioQuality;
      if (!encode::OpenAudioEncoder(encoders[t], a, rateNum, rateDen, &error)) throw Failure{inputs[t].path + ": " + error};
    }
  }

  void Code(encode::FramePacket& packet) {
    packet.audio.resize(encoders.size());
    std::string error;
    for (size_t t = 0; t < encoders.size(); ++t) {
      encode::AudioEncoder& e = encoders[t];
      encode::WavInput& wav = (*wavs)[t];
      const uint64_t wanted = encode::AudioInputWanted(e);
      while (!e.inputEnded && e.inputFrames < wanted) {
        const uint32_t frames = static_cast<uint32_t>(std::min<uint64_t>(wanted - e.inputFrames, 1 << 16));
        buffer.resize(size_t(frames) * wav.channels);
        const int64_t got = encode::ReadWavSamples(wav, buffer.data(), frames, &error);
        if (got < 0) throw Failure{error};
        if (got == 0) encode::EndAudioInput(e);
        else encode::AddAudioInput(e, buffer.data(), static_cast<uint32_t>(got));
      }
      if (!encode::EncodeAudioFrame(e, packet.audio[t], &error)) throw Failure{wav.path + ": " + error};
    }
  }

  // Sound beyond what the frames carry (the lead-in included) is dropped.
  void ReportLeftOver(const EncodeOptions& o, double fps) const {
    for (size_t t = 0; t < encoders.size(); ++t) {
      const uint64_t total = encode::WavFrames((*wavs)[t]), carried = encode::AudioFramesCarried(encoders[t]);
      if (total <= carried) continue;
      const double seconds = double(total - carried) / encoders[t].settings.rate;
      if (seconds * fps < 1) continue;
      fprintf(stderr, "%skivenc: sound track %u: the last %.2f s come after the last picture and are left out\n",
              progressOpen ? "\n" : "", o.audio[t].id, seconds);
      progressOpen = false;
    }
  }
};

std::string Clock(double seconds) {
  const long s = seconds < 0 ? 0 : static_cast<long>(seconds + 0.5);
  char text[32];
  if (s >= 3600) snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

struct Progress {
  bool quiet;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now(), last = start;
  size_t width = 0;

  void Show(uint32_t frame, uint32_t total, uint64_t bytes, double fps, bool final) {
    if (quiet) return;
    const auto now = std::chrono::steady_clock::now();
    if (!final && now - last < std::chrono::milliseconds(250)) return;
    last = now;
    const double seconds = std::chrono::duration<double>(now - start).count();
    const double rate = seconds > 0 ? frame / seconds : 0;
    const double dataRate = frame ? double(bytes) / frame * fps : 0;
    char text[160];
    int n = snprintf(text, sizeof text, "frame %u", frame);
    if (total >= frame && total) n += snprintf(text + n, sizeof text - n, "/%u", total);
    n += snprintf(text + n, sizeof text - n, "  %.1f fps  %.0f kB/s", rate, dataRate / 1000);
    if (final) snprintf(text + n, sizeof text - n, "  took %s", Clock(seconds).c_str());
    else if (total > frame && rate > 0) snprintf(text + n, sizeof text - n, "  %s left", Clock((total - frame) / rate).c_str());
    std::string line = text;
    const size_t shown = line.size();
    if (line.size() < width) line.append(width - line.size(), ' ');
    width = shown;
    fprintf(stderr, "\r%s%s", line.c_str(), final ? "\n" : "");
    progressOpen = !final;
    fflush(stderr);
  }
};

// The same file by device and inode, whatever names lead to it.
bool SameFile(const std::string& a, const std::string& b) {
#if defined(_WIN32)
  return a == b;
#else
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
#endif
}

// The output must not be one of the inputs: writing it would destroy the
// source while it is read.
void RefuseInputAsOutput(const EncodeOptions& o) {
  std::vector<std::string> inputs = o.inputs;
  for (const AudioInput& a : o.audio) inputs.push_back(a.path);
  for (const std::string& input : inputs)
    if (SameFile(input, o.output))
      throw Failure{o.output + ": is also an input (" + input + "); choose another output"};
}

void Run(const EncodeOptions& o) {
  RefuseInputAsOutput(o);
  PictureSource source;
  source.pngOptions.alpha = o.alpha;
  source.pngOptions.grey = o.grey;
  source.pngOptions.beforeH = o.revision < 'h';
  source.Open(o);
  if (source.y4m && o.alpha) throw Failure{"--alpha needs PNG input; a YUV4MPEG2 file has no alpha"};

  std::vector<encode::WavInput> wavs(o.audio.size());
  struct WavCloser {
    std::vector<encode::WavInput>& w;
    ~WavCloser() {
      for (auto& x : w) encode::CloseWav(x);
    }
  } closeWavs{wavs};
  std::string error;
  for (size_t t = 0; t < o.audio.size(); ++t)
    if (!encode::OpenWav(wavs[t], o.audio[t].path, &error)) throw Failure{error};

  encode::EncoderSettings settings;
  settings.revision = o.revision;
  settings.width = source.width;
  settings.height = source.height;
  settings.alpha = o.alpha;
  settings.grey = o.grey || (source.y4m && source.y4mInput.mono);
  settings.quality = o.quality;
  settings.targetDataRate = o.dataRate;
  settings.rateNum = o.rateNum ? o.rateNum : source.y4m && source.y4mInput.rateNum ? source.y4mInput.rateNum : 25;
  settings.rateDen = o.rateNum ? o.rateDen : source.y4m && source.y4mInput.rateNum ? source.y4mInput.rateDen : 1;
  // The exact coding, or the choice by rate and distortion.
  encode::VideoEncoder exact;
  encode::VideoCoder coder;
  struct CoderCloser {
    encode::VideoCoder& c;
    ~CoderCloser() { encode::CloseVideoCoder(c); }
  } closeCoder{coder};
  if (o.lossless) {
    if (!encode::OpenVideoEncoder(exact, settings, &error)) throw Failure{error};
  } else {
    encode::VideoCoderSettings c;
    c.revision = settings.revision;
    c.width = settings.width;
    c.height = settings.height;
    c.alpha = settings.alpha;
    c.grey = settings.grey;
    c.quality = settings.quality;
    c.targetBytesPerSecond = settings.targetDataRate;
    c.rateNum = settings.rateNum;
    c.rateDen = settings.rateDen;
    c.keyInterval = o.keyInterval;
    c.effort = o.effort;
    c.threads = o.threads ? o.threads : std::max(1u, std::thread::hardware_concurrency());
    if (!encode::OpenVideoCoder(coder, c, &error)) throw Failure{error};
  }

  encode::MovieLayout layout;
  layout.revision = o.revision;
  layout.width = settings.width;
  layout.height = settings.height;
  layout.rateNum = settings.rateNum;
  layout.rateDen = settings.rateDen;
  layout.videoFlags = (settings.alpha ? kVideoAlpha : 0) | (settings.grey ? kVideoGrey : 0) |
                      (o.displayMode << kVideoModeShift);
  SoundTracks sound;
  sound.Open(o, wavs, settings.rateNum, settings.rateDen);
  for (size_t t = 0; t < o.audio.size(); ++t)
    layout.tracks.push_back({encode::AudioTrackWord(sound.encoders[t].settings), o.audio[t].id, 0});
  encode::MovieFileWriter writer;
  struct Abandon {
    encode::MovieFileWriter& w;
    bool done = false;
    ~Abandon() {
      if (!done) encode::AbandonMovieFile(w);
    }
  } abandon{writer};
  if (!encode::BeginMovieFile(writer, o.output, layout, &error)) throw Failure{error};
  SetPending(writer.spillPath, writer.tempPath);

  Progress progress{o.quiet};
  const double fps = double(settings.rateNum) / settings.rateDen;
  SourcePicture picture;
  encode::FramePacket packet;
  uint32_t frame = 0;
  while (source.Next(picture)) {
    packet.video.clear();
    bool key = false;
    const bool due = frame % o.keyInterval == 0;
    const bool coded = o.lossless ? encode::EncodeVideoFrame(exact, picture, due, packet.video, &key, &error)
                                  : encode::EncodeVideoPicture(coder, picture, due, packet.video, &key, &error);
    if (!coded) throw Failure{"frame " + std::to_string(frame + 1) + ": " + error};
    packet.key = key;
    sound.Code(packet);
    if (!encode::AddMovieFrame(writer, packet, &error)) throw Failure{error};
    ++frame;
    progress.Show(frame, source.total, encode::MovieBytesSoFar(writer), fps, false);
  }
  if (frame == 0) throw Failure{"the input holds no pictures"};
  if (!encode::FinishMovieFile(writer, &error)) throw Failure{error};
  abandon.done = true;
  progress.Show(frame, frame, encode::MovieBytesSoFar(writer), fps, true);
  sound.ReportLeftOver(o, fps);
}

}  // namespace
}  // namespace kivo::tools

int main(int argc, char** argv) {
  using namespace kivo::tools;
  EncodeOptions options;
  std::string error;
  if (!ParseEncodeOptions(argc, argv, &options, &error)) {
    fprintf(stderr, "kivenc: %s\nTry 'kivenc --help' for more information.\n", error.c_str());
    return 2;
  }
  if (options.help) {
    fputs(kEncodeUsage, stdout);
    return StandardOutputWritten("kivenc") ? 0 : 1;
  }
  if (options.version) {
    printf("kivenc %s (Kivo library %s, ABI %u)\n", KIVO_VERSION_TEXT, kivo::GetLibraryVersionText(),
           unsigned(KIVO_ABI_VERSION));
    return StandardOutputWritten("kivenc") ? 0 : 1;
  }
  signal(SIGINT, OnInterrupt);
  signal(SIGTERM, OnInterrupt);
  try {
    Run(options);
  } catch (const Failure& f) {
    fprintf(stderr, "%skivenc: %s\n", progressOpen ? "\n" : "", f.text.c_str());
    return 1;
  } catch (const std::exception& e) {
    fprintf(stderr, "%skivenc: %s\n", progressOpen ? "\n" : "", e.what());
    return 1;
  }
  return 0;
}
