// SPDX-License-Identifier: BSD-2-Clause
// Read-ahead throughput: a 100 MB movie read frame by frame through the file
// driver (read ahead into the ring, then delivered by ReadFrame, or lent in
// place by ReadFrameInPlace as the frame cycle takes it), against plain reads
// of the same file into the same frame buffer, and the in-place read again
// with one chunk per ReadAhead instead of batches. Run it twice and read the
// second figures: the first run warms the page cache.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "encode/container_writer.h"
#include "io/io_driver.h"
#include "movie/container.h"

namespace kivo {
namespace {

constexpr uint32_t kFrames = 2500;
constexpr uint32_t kFrameBytes = 40000;  // 2500 x 40000: 100 MB
constexpr uint32_t kRingBytes = 25 * kFrameBytes;  // one second at 25 frames/s

struct BenchMovie {
  std::string path;
  std::vector<uint32_t> index;
  uint32_t size = 0;
};

const BenchMovie& Movie() {
  static BenchMovie movie = [] {
    BenchMovie m;
    const char* folder = std::getenv("TMPDIR");
    m.path = std::string(folder && *folder ? folder : "/tmp") + "/kivo_io_read_bench.kiv";
    encode::MovieLayout layout;
    layout.width = 320;
    layout.height = 240;
    std::vector<encode::FramePacket> frames(kFrames);
    for (uint32_t f = 0; f < kFrames; ++f) {
      frames[f].key = f == 0;
      frames[f].video.assign(kFrameBytes, static_cast<uint8_t>(f));
    }
    std::vector<uint8_t> bytes = encode::BuildMovie(layout, frames);
    m.size = static_cast<uint32_t>(bytes.size());
    for (uint32_t i = 0; i <= kFrames; ++i) m.index.push_back(ReadLe32(bytes.data() + kHeaderSize + 4 * i) & ~1u);
    std::FILE* out = std::fopen(m.path.c_str(), "wb");
    if (out) {
      std::fwrite(bytes.data(), 1, bytes.size(), out);
      std::fclose(out);
    }
    return m;
  }();
  return movie;
}

// Plain reads of every frame, each into one buffer (span 0), or landing one
// after another through `span` bytes as the ring receives them: the same
// destination traffic as the read-ahead passes, without the driver.
void PlainReads(benchmark::State& state, uint32_t span) {
  const BenchMovie& movie = Movie();
  std::vector<uint8_t> buffer(span + kFrameBytes + 8);
  for (auto _ : state) {
    os::FileHandle file = os::OpenFileRead(movie.path.c_str(), true);
    os::SeekFile(file, movie.index[0]);
    uint32_t at = 0;
    for (uint32_t f = 0; f < kFrames; ++f) {
      const uint32_t size = movie.index[f + 1] - movie.index[f];
      if (at + size > span) at = 0;
      os::ReadFileBytes(file, buffer.data() + at, size);
      if (span) at += size;
    }
    benchmark::DoNotOptimize(buffer.data());
    os::CloseFile(file);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * (movie.size - movie.index[0]));
}

void PlainRead(benchmark::State& state) { PlainReads(state, 0); }
void PlainReadThroughRingSizedBuffer(benchmark::State& state) { PlainReads(state, kRingBytes); }

// The frame cycle's two ways of taking a packet after topping the ring up:
// ReadFrame copies it out; ReadFrameInPlace uses it where it lies in the
// ring (copying only packets that wrap). The first byte of each is touched
// so that lent bytes are really read, as a decoder would. `batch` is the
// most one ReadAhead reads (kReadChunk: one chunk a call).
void ReadThroughDriver(benchmark::State& state, bool inPlace, uint32_t batch = kReadBatch) {
  const BenchMovie& movie = Movie();
  std::vector<uint8_t> frame(kFrameBytes + 8);
  std::vector<uint8_t> ring(kRingBytes + kReadChunk);
  std::vector<uint8_t> tables(movie.index[0]);
  uint32_t sum = 0;
  for (auto _ : state) {
    IoDriver io;
    OpenFileDriver(&io, movie.path.c_str(), 0);
    io.readBatch = batch;
    io.ReadHeader(&io, 0, tables.data(), movie.index[0]);
    io.SetBuffer(&io, ring.data(), io.GetBufferSize(&io, kRingBytes), movie.size, 0);
    for (uint32_t f = 0; f < kFrames; ++f) {
      while (io.ReadAhead(&io) > 0) {
      }
      const uint32_t size = movie.index[f + 1] - movie.index[f];
      const uint8_t* data = frame.data();
      if (inPlace)
        data = io.ReadFrameInPlace(&io, f, movie.index[f], frame.data(), size, nullptr);
      else
        io.ReadFrame(&io, f, movie.index[f], frame.data(), size);
      sum += data[0];
    }
    benchmark::DoNotOptimize(sum);
    io.Close(&io);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * (movie.size - movie.index[0]));
}

void ReadFrameWithReadAhead(benchmark::State& state) { ReadThroughDriver(state, false); }
void ReadFrameInPlaceWithReadAhead(benchmark::State& state) { ReadThroughDriver(state, true); }
void ReadFrameInPlaceOneChunkPerReadAhead(benchmark::State& state) { ReadThroughDriver(state, true, kReadChunk); }

BENCHMARK(PlainRead)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(ReadFrameWithReadAhead)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(ReadFrameInPlaceWithReadAhead)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(ReadFrameInPlaceOneChunkPerReadAhead)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(PlainReadThroughRingSizedBuffer)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(PlainRead)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(ReadFrameWithReadAhead)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(ReadFrameInPlaceWithReadAhead)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(ReadFrameInPlaceOneChunkPerReadAhead)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
}  // namespace kivo

BENCHMARK_MAIN();
