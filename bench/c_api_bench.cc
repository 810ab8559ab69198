// SPDX-License-Identifier: BSD-2-Clause
// Decoding a whole movie through the C API against the movie API the player
// uses: the same decoders behind both, so the two should run at one speed.
// Also a seek's work in a 30,000-frame movie file (20 minutes at 25 fps, two
// tracks): at 1 %, 50 % and 99 %, each track's sound offset and carrying
// chunk and the key frame's packet, and the open that readies them.
// The movie is 640x480 at 25 fps with a stereo 22050 Hz track, coded by the
// encoder's rate-distortion choice from moving textured pictures; set
// KIVO_BENCH_MOVIE to a .kiv file to measure that one instead.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "encode/audio_encoder.h"
#include "encode/container_writer.h"
#include "encode/encoder.h"
#include "encode/video_encoder.h"
#include "kivo/kivo.h"
#include "kivo/kivo_dec.h"
#include "movie/container.h"

namespace {

namespace enc = kivo::encode;

std::vector<uint8_t> MakeMovie() {
  constexpr uint32_t w = 640, h = 480, frames = 50;
  enc::VideoCoderSettings vs;
  vs.width = w;
  vs.height = h;
  vs.keyInterval = 25;
  vs.effort = 0;
  enc::VideoCoder coder;
  std::string error;
  if (!enc::OpenVideoCoder(coder, vs, &error)) return {};
  enc::AudioTrackSettings as;
  as.rate = 22050;
  as.channels = 2;
  const uint32_t sampleFrames = as.rate * frames / 25;
  std::vector<int16_t> samples(size_t(sampleFrames) * 2);
  for (uint32_t i = 0; i < sampleFrames; ++i)
    for (uint32_t c = 0; c < 2; ++c)
      samples[2 * i + c] = int16_t(8000 * std::sin(i * 0.05 * (c + 1)) + 2000 * std::sin(i * 0.31));
  std::vector<std::vector<uint8_t>> audio;
  if (!enc::EncodeAudio(as, samples.data(), sampleFrames, frames, 25, 1, audio, &error)) return {};
  enc::MovieLayout layout;
  layout.width = w;
  layout.height = h;
  layout.tracks.push_back({enc::AudioTrackWord(as), 0, 0});
  std::vector<enc::FramePacket> packets(frames);
  for (uint32_t f = 0; f < frames; ++f) {
    enc::SourcePicture p;
    p.width = w;
    p.height = h;
    p.luma.resize(size_t(w) * h);
    p.cr.resize(size_t(w / 2) * (h / 2));
    p.cb.resize(p.cr.size());
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        const uint32_t sx = x + 3 * f;
        p.luma[size_t(y) * w + x] = uint8_t(30 + (sx * 3 + y * 5) % 150 + ((sx / 9 + y / 7) & 1) * 60);
      }
    for (size_t i = 0; i < p.cr.size(); ++i) {
      p.cr[i] = uint8_t(100 + (i + f) % 60);
      p.cb[i] = uint8_t(140 - (i / 320 + f) % 50);
    }
    bool key = false;
    if (!enc::EncodeVideoPicture(coder, p, f == 0, packets[f].video, &key, &error)) return {};
    packets[f].key = key;
    packets[f].audio.push_back(audio[f]);
  }
  enc::CloseVideoCoder(coder);
  return enc::BuildMovie(layout, packets);
}

const std::vector<uint8_t>& BenchMovie() {
  static const std::vector<uint8_t> movie = [] {
    if (const char* path = getenv("KIVO_BENCH_MOVIE")) {
      std::vector<uint8_t> bytes;
      if (FILE* f = fopen(path, "rb")) {
        int c;
        while ((c = fgetc(f)) != EOF) bytes.push_back(uint8_t(c));
        fclose(f);
      }
      return bytes;
    }
    return MakeMovie();
  }();
  return movie;
}

// The player's way: the frame cycle, with each track decoded apart from the
// sound output (as kivdump does).
void BM_MovieApi(benchmark::State& state) {
  using namespace kivo;
  const std::vector<uint8_t>& bytes = BenchMovie();
  uint64_t frames = 0;
  for (auto _ : state) {
    Movie* m = OpenMovie(bytes.data(), kOpenMemory | kOpenAlpha | kOpenNoReader | (7u << kOpenModeShift));
    if (!m) {
      state.SkipWithError("the movie does not open");
      return;
    }
    MovieInfo info;
    GetMovieInfo(m, &info);
    std::vector<TrackDecoder*> tracks;
    for (uint32_t i = 0; i < info.trackCount; ++i) {
      TrackInfo t;
      GetTrackInfo(m, i, &t);
      if (t.playable) tracks.push_back(OpenTrackDecoder(m, t.id));
    }
    for (uint32_t n = 1; n <= info.frameCount; ++n) {
      for (TrackDecoder* t : tracks) DecodeTrackAudio(t, m, [](void*, const int16_t*, uint32_t) {}, nullptr);
      DoFrame(m);
      MoviePicture p;
      GetPicture(m, &p);
      benchmark::DoNotOptimize(p.luma[0]);
      NextFrame(m);
    }
    frames += info.frameCount;
    for (TrackDecoder* t : tracks) CloseTrackDecoder(t);
    CloseMovie(m);
  }
  state.counters["fps"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
}

void BM_CApi(benchmark::State& state) {
  const std::vector<uint8_t>& bytes = BenchMovie();
  uint64_t frames = 0;
  std::vector<int16_t> pcm(1 << 20);
  for (auto _ : state) {
    KivoMovie* m;
    if (kivo_movie_open_memory(bytes.data(), bytes.size(), &m, nullptr) != KIVO_DEC_OK) {
      state.SkipWithError("the movie does not open");
      return;
    }
    KivoMovieInfo info;
    kivo_movie_info(m, &info);
    KivoVideoParams params;
    kivo_movie_video_params(m, &params);
    KivoVideoDecoder* video;
    kivo_video_open(&params, &video);
    std::vector<KivoAudioDecoder*> audio(info.track_count, nullptr);
    for (uint32_t i = 0; i < info.track_count; ++i) {
      KivoTrackInfo t;
      kivo_movie_track(m, i, &t);
      kivo_audio_open(t.audio_word, &audio[i]);
    }
    for (uint32_t n = 1; n <= info.frame_count; ++n) {
      KivoPacket packet;
      kivo_movie_read_packet(m, n, &packet);
      for (uint32_t i = 0; i < info.track_count; ++i) {
        if (!audio[i]) continue;
        const uint8_t* chunk;
        uint32_t size, out;
        kivo_packet_audio(&packet, i, &chunk, &size);
        kivo_audio_decode(audio[i], chunk, size, pcm.data(), uint32_t(pcm.size() * 2), &out);
      }
      KivoPicture p;
      kivo_video_decode(video, packet.video, packet.video_size, &p);
      benchmark::DoNotOptimize(p.y[0]);
    }
    frames += info.frame_count;
    for (KivoAudioDecoder* a : audio) kivo_audio_close(a);
    kivo_video_close(video);
    kivo_movie_close(m);
  }
  state.counters["fps"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
}

// The long movie's file: key frames every 250 frames, chunks of two tracks
// that carry only their counts (a seek reads no more of them), 2 KB of video.
const std::string& LongMovie() {
  static const std::string path = [] {
    constexpr uint32_t frames = 30000;
    enc::MovieLayout layout;
    layout.width = layout.height = 64;
    layout.tracks.push_back({0x80000000u | 0x40000000u | 22050, 1, 0});
    layout.tracks.push_back({0x10000000u | 11025, 2, 0});
    std::vector<enc::FramePacket> packets(frames);
    for (uint32_t f = 0; f < frames; ++f) {
      packets[f].key = f % 250 == 0;
      for (uint32_t t = 0; t < 2; ++t) {
        const uint32_t count = 1700 + (f * 7 + t) % 200;
        packets[f].audio.push_back({uint8_t(count), uint8_t(count >> 8), 0, 0, 1, 2, 3, 4});
      }
      packets[f].video.assign(2048, uint8_t(f));
    }
    const std::vector<uint8_t> movie = enc::BuildMovie(layout, packets);
    const char* tmp = getenv("TMPDIR");
    std::string p = std::string(tmp && *tmp ? tmp : "/tmp") + "/kivo-seek-bench.kiv";
    FILE* f = fopen(p.c_str(), "wb");
    if (!f || fwrite(movie.data(), 1, movie.size(), f) != movie.size() || fclose(f) != 0) return std::string();
    return p;
  }();
  return path;
}

void BM_OpenLong(benchmark::State& state) {
  for (auto _ : state) {
    KivoMovie* m;
    if (kivo_movie_open_file(LongMovie().c_str(), &m, nullptr) != KIVO_DEC_OK) {
      state.SkipWithError("the movie does not open");
      return;
    }
    kivo_movie_close(m);
  }
}

void BM_SeekLong(benchmark::State& state) {
  KivoMovie* m;
  if (kivo_movie_open_file(LongMovie().c_str(), &m, nullptr) != KIVO_DEC_OK) {
    state.SkipWithError("the movie does not open");
    return;
  }
  const uint32_t key = kivo_movie_key_frame_before(m, uint32_t(30000 * state.range(0) / 100));
  for (auto _ : state) {
    for (uint32_t t = 0; t < 2; ++t) {
      uint64_t offset;
      uint32_t carry;
      kivo_movie_audio_offset(m, t, key, &offset);
      kivo_movie_audio_carry(m, t, key, &carry);
      benchmark::DoNotOptimize(offset + carry);
    }
    KivoPacket packet;
    kivo_movie_read_packet(m, key, &packet);
    benchmark::DoNotOptimize(packet.size);
  }
  kivo_movie_close(m);
}

BENCHMARK(BM_MovieApi)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CApi)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenLong)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SeekLong)->Arg(1)->Arg(50)->Arg(99)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
