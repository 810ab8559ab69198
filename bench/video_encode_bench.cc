// SPDX-License-Identifier: BSD-2-Clause
// Video encoder speed at 640x480 per setting, and luma PSNR against data
// rate on moving synthetic content (pans, text, noise and flat areas).
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

#include "encode/video_encoder.h"
#include "encode/video_encoder_content.h"

namespace kivo::encode {
namespace {

using testing::MakePicture;
using testing::Scene;

constexpr uint32_t kWidth = 640, kHeight = 480, kFrames = 25;

const std::vector<SourcePicture>& Pictures(Scene scene) {
  static std::vector<SourcePicture> pictures[6];
  auto& list = pictures[int(scene)];
  if (list.empty())
    for (uint32_t t = 0; t < kFrames; ++t) list.push_back(MakePicture(scene, kWidth, kHeight, t));
  return list;
}

double LumaPsnr(const VideoCoder& coder, const SourcePicture& picture) {
  const uint8_t* coded = CodedPlane(coder, 1);
  const uint32_t stride = coder.planes[1].width;
  double sum = 0;
  for (uint32_t y = 0; y < kHeight; ++y)
    for (uint32_t x = 0; x < kWidth; ++x) {
      const double d = double(coded[size_t(y) * stride + x]) - picture.luma[size_t(y) * kWidth + x];
      sum += d * d;
    }
  const double mse = sum / (double(kWidth) * kHeight);
  return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

// Encodes the scene's second once per iteration; reports frames per second
// (of wall-clock time, so that threads count), bytes per second of movie,
// the busiest second and the mean luma PSNR.
void Encode(benchmark::State& state, Scene scene, uint32_t effort, uint32_t quality, uint32_t target,
            uint32_t threads) {
  const auto& pictures = Pictures(scene);
  double psnr = 0, bytes = 0, busiest = 0;
  uint64_t frames = 0;
  for (auto _ : state) {
    VideoCoderSettings s;
    s.width = kWidth;
    s.height = kHeight;
    s.effort = effort;
    s.quality = quality;
    s.targetBytesPerSecond = target;
    s.threads = threads;
    VideoCoder coder;
    std::string error;
    if (!OpenVideoCoder(coder, s, &error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    std::vector<uint8_t> out;
    psnr = bytes = 0;
    for (const SourcePicture& picture : pictures) {
      bool key = false;
      if (!EncodeVideoPicture(coder, picture, false, out, &key, &error)) {
        state.SkipWithError(error.c_str());
        return;
      }
      bytes += double(out.size());
      psnr += LumaPsnr(coder, picture);
    }
    busiest = double(coder.busiestSecond);
    frames += pictures.size();
  }
  state.counters["fps"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
  state.counters["psnr_db"] = psnr / kFrames;
  state.counters["bytes_per_s"] = bytes * 25 / kFrames;
  state.counters["busiest_s"] = busiest;
}

void Register() {
  const std::pair<const char*, Scene> scenes[] = {{"pan", Scene::kPan}, {"mixed", Scene::kMixed}};
  for (const auto& [name, scene] : scenes) {
    for (uint32_t effort : {0u, 1u, 2u})
      benchmark::RegisterBenchmark(("speed/" + std::string(name) + "/effort" + std::to_string(effort)).c_str(),
                                   Encode, scene, effort, 75u, 0u, 1u)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime()
          ->Iterations(1);
    // The default setting on one thread and on two, one after the other, for
    // the ratio.
    for (uint32_t threads : {1u, 2u})
      benchmark::RegisterBenchmark(("threads/" + std::string(name) + "/" + std::to_string(threads)).c_str(), Encode,
                                   scene, 1u, 75u, 0u, threads)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime()
          ->Iterations(3);
    for (uint32_t target : {500000u, 1000000u, 2000000u})
      benchmark::RegisterBenchmark(("rate/" + std::string(name) + "/" + std::to_string(target)).c_str(), Encode,
                                   scene, 1u, 100u, target, 1u)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime()
          ->Iterations(1);
  }
}

const bool registered = (Register(), true);

}  // namespace
}  // namespace kivo::encode
BENCHMARK_MAIN();
