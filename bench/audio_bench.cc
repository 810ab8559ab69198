// SPDX-License-Identifier: BSD-2-Clause
// Audio decoding speed: whole-track decoding as a real-time factor for each
// block layout, and the two inverse transforms against FFTW's fastest float
// inverse real transform and its DCT-III on the same lengths (when FFTW is
// installed), with the copy of the input that every run makes measured
// alone as the floor. Plain and AVX kernels side by side.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <random>
#include <vector>

#include "audio/audio_decoder.h"
#include "audio/audio_format.h"
#include "audio/audio_kernels.h"
#include "encode/audio_writer.h"

#ifdef KIVO_HAVE_FFTW
#include <fftw3.h>
#endif

namespace kivo {
namespace {

std::vector<float> Input(uint32_t n) {
  std::mt19937 gen(n);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> a(n + 2);
  for (float& v : a) v = dist(gen);
  return a;
}

// Every run starts from the same input, so each measures one transform of
// ordinary numbers; this is what that copy costs.
void CopyOnly(benchmark::State& state) {
  const uint32_t n = static_cast<uint32_t>(state.range(0));
  const std::vector<float> in = Input(n);
  std::vector<float> a(n + 2);
  for (auto _ : state) {
    memcpy(a.data(), in.data(), n * sizeof(float));
    benchmark::DoNotOptimize(a.data());
    benchmark::ClobberMemory();
  }
}

template <bool kCosine>
void KivoTransform(benchmark::State& state) {
  const uint32_t n = static_cast<uint32_t>(state.range(0));
  const uint32_t level = static_cast<uint32_t>(state.range(1));
  if (level && !(DetectedCpuFeatures() & kCpuAvx)) {
    state.SkipWithError("kernel level not available");
    return;
  }
  SetCpuFeatureMask(level ? kCpuAll : 0);
  state.SetLabel(AudioKernelsFor(CpuFeatures()).name);
  const std::vector<float> in = Input(n);
  std::vector<float> a(n);
  std::vector<int32_t> work(TransformWorkEntries(n), 0);
  std::vector<float> table(TransformTableFloats(n, kCosine));
  for (auto _ : state) {
    memcpy(a.data(), in.data(), n * sizeof(float));
    if (kCosine)
      InverseCosineTransform(n, a.data(), work.data(), table.data());
    else
      RealInverseTransform(n, a.data(), work.data(), table.data());
    benchmark::DoNotOptimize(a.data());
    benchmark::ClobberMemory();
  }
  SetCpuFeatureMask(kCpuAll);
}

#ifdef KIVO_HAVE_FFTW
template <bool kCosine>
void FftwTransform(benchmark::State& state) {
  const uint32_t n = static_cast<uint32_t>(state.range(0));
  const std::vector<float> in = Input(n);
  float* src = fftwf_alloc_real(n + 2);
  float* dst = fftwf_alloc_real(n + 2);
  fftwf_plan plan = kCosine ? fftwf_plan_r2r_1d(static_cast<int>(n), src, dst, FFTW_REDFT01, FFTW_MEASURE)
                            : fftwf_plan_dft_c2r_1d(static_cast<int>(n), reinterpret_cast<fftwf_complex*>(src), dst,
                                                    FFTW_MEASURE);
  for (auto _ : state) {
    memcpy(src, in.data(), (kCosine ? n : n + 2) * sizeof(float));
    fftwf_execute(plan);
    benchmark::DoNotOptimize(dst);
    benchmark::ClobberMemory();
  }
  fftwf_destroy_plan(plan);
  fftwf_free(src);
  fftwf_free(dst);
}
#endif

void Lengths(benchmark::internal::Benchmark* b) {
  for (int n = 512; n <= 4096; n *= 2) b->Args({n, 0})->Args({n, 1});
}
void PlainLengths(benchmark::internal::Benchmark* b) {
  for (int n = 512; n <= 4096; n *= 2) b->Arg(n);
}

struct TrackLayout {
  uint32_t rate, channels;
  int32_t dct;
};
constexpr TrackLayout kTracks[9] = {{11025, 1, 1},  {11025, 2, 0}, {11025, 2, 1}, {22050, 1, 0}, {22050, 2, 0},
                                    {22050, 2, 1},  {44100, 1, 1}, {44100, 2, 0}, {44100, 2, 1}};

// Blocks shaped like music: quantised values that shrink with frequency,
// about a third of them zero, so most runs are 3 to 8 bits wide.
std::vector<uint8_t> MusicChunk(const AudioLayout& layout, uint32_t blocks, std::mt19937& gen) {
  std::vector<std::vector<uint8_t>> coded;
  for (uint32_t b = 0; b < blocks; ++b) {
    std::vector<encode::AudioChannelCode> ch(layout.codedChannels);
    for (encode::AudioChannelCode& c : ch) {
      c.k0 = encode::PackFloat(1000.0f);
      c.k1 = encode::PackFloat(-50.0f);
      for (uint8_t& q : c.bands) q = 40;
      c.values.assign(layout.blockSize, 0);
      for (uint32_t i = 2; i < layout.blockSize; ++i) {
        const int32_t top = static_cast<int32_t>(200.0 / (1.0 + i / 16.0)) + 1;
        if (gen() % 3) c.values[i] = static_cast<int32_t>(gen() % (2 * top + 1)) - top;
      }
    }
    coded.push_back(encode::WriteAudioBlock(layout, ch.data()));
  }
  return encode::BuildAudioChunk(blocks * (layout.blockBytes - layout.overlapBytes), coded);
}

// Decoding a track of 32 blocks; "realtime" is seconds of sound per second.
void TrackDecode(benchmark::State& state) {
  const TrackLayout& t = kTracks[state.range(0)];
  const uint32_t level = static_cast<uint32_t>(state.range(1));
  if (level && !(DetectedCpuFeatures() & kCpuAvx)) {
    state.SkipWithError("kernel level not available");
    return;
  }
  SetCpuFeatureMask(level ? kCpuAll : 0);
  AudioLayout layout;
  ComputeAudioLayout(t.rate, t.channels, t.dct, &layout);
  std::mt19937 gen(state.range(0));
  const uint32_t blocks = 32;
  const std::vector<uint8_t> chunk = MusicChunk(layout, blocks, gen);
  AudioDecoder* d = OpenAudioDecoder(t.rate, t.channels, t.dct);
  const double seconds = double(blocks) * (layout.blockBytes - layout.overlapBytes) / (2.0 * t.channels * t.rate);
  for (auto _ : state) {
    benchmark::DoNotOptimize(DecodeAudioChunk(d, chunk.data(), static_cast<uint32_t>(chunk.size()), nullptr, nullptr));
  }
  CloseAudioDecoder(d);
  state.counters["realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["kbit/s"] = chunk.size() * 8 / seconds / 1000;
  state.SetLabel(std::to_string(t.rate) + (t.channels == 2 ? (t.dct ? " stereo DCT " : " stereo RDFT ") : " mono ") +
                 AudioKernelsFor(CpuFeatures()).name);
  SetCpuFeatureMask(kCpuAll);
}

void Tracks(benchmark::internal::Benchmark* b) {
  for (int i = 0; i < 9; ++i) b->Args({i, 0})->Args({i, 1});
}

BENCHMARK(TrackDecode)->Apply(Tracks);
BENCHMARK(CopyOnly)->Apply(PlainLengths);
BENCHMARK(KivoTransform<false>)->Name("RealInverseTransform")->Apply(Lengths);
BENCHMARK(KivoTransform<true>)->Name("InverseCosineTransform")->Apply(Lengths);
#ifdef KIVO_HAVE_FFTW
BENCHMARK(FftwTransform<false>)->Name("fftwf_c2r")->Apply(PlainLengths);
BENCHMARK(FftwTransform<true>)->Name("fftwf_redft01")->Apply(PlainLengths);
#endif

}  // namespace
}  // namespace kivo

BENCHMARK_MAIN();
