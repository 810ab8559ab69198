// Read-ahead throughput: a 100 MB movie read frame by frame through the file
// driver (read ahead into the ring, then delivered by ReadFrame, or lent in
// place by ReadFrameInPlace as the frame cycle takes it), against plain reads
// of the same file into the same frame buffer. Run it twice and read the
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

void PlainRead(benchmark::State& state) {
  const BenchMovie& movie = Movie();
  std::vector<uint8_t> frame(kFrameBytes + 8);
  for (auto _ : state) {
    os::FileHandle file = os::OpenFileRead(movie.path.c_str(), true);
    os::SeekFile(file, movie.index[0]);
    for (uint32_t f = 0; f < kFrames; ++f)
      os::ReadFileBytes(file, frame.data(), movie.index[f + 1] - movie.index[f]);
    benchmark::DoNotOptimize(frame.data());
    os::CloseFile(file);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * (movie.size - movie.index[0]));
}

// Plain reads again, but each frame lands where the ring would put it (one
// after another through a buffer of the ring's size) instead of in one small
// buffer that stays in the first-level cache: the same destination traffic
// as the read-ahead passes, without the driver.
void PlainReadThroughRingSizedBuffer(benchmark::State& state) {
  const BenchMovie& movie = Movie();
  std::vector<uint8_t> ring(kRingBytes + kFrameBytes + 8);
  for (auto _ : state) {
    os::FileHandle file = os::OpenFileRead(movie.path.c_str(), true);
    os::SeekFile(file, movie.index[0]);
    uint32_t at = 0;
    for (uint32_t f = 0; f < kFrames; ++f) {
      const uint32_t size = movie.index[f + 1] - movie.index[f];
      if (at + size > kRingBytes) at = 0;
      os::ReadFileBytes(file, ring.data() + at, size);
      at += size;
    }
    benchmark::DoNotOptimize(ring.data());
    os::CloseFile(file);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * (movie.size - movie.index[0]));
}

// As the frame cycle does in the foreground: top the ring up, then take the
// frame from it.
void ReadFrameWithReadAhead(benchmark::State& state) {
  const BenchMovie& movie = Movie();
  std::vector<uint8_t> frame(kFrameBytes + 8);
  std::vector<uint8_t> ring(kRingBytes + kReadChunk);
  std::vector<uint8_t> tables(movie.index[0]);
  for (auto _ : state) {
    IoDriver io;
    OpenFileDriver(&io, movie.path.c_str(), 0);
    io.ReadHeader(&io, 0, tables.data(), movie.index[0]);
    io.SetBuffer(&io, ring.data(), io.GetBufferSize(&io, kRingBytes), movie.size, 0);
    for (uint32_t f = 0; f < kFrames; ++f) {
      while (io.ReadAhead(&io) > 0) {
      }
      io.ReadFrame(&io, f, movie.index[f], frame.data(), movie.index[f + 1] - movie.index[f]);
    }
    benchmark::DoNotOptimize(frame.data());
    io.Close(&io);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * (movie.size - movie.index[0]));
}

// The frame cycle's way: the packet is used where it lies in the ring (and
// copied only when it wraps). The first byte of each is touched so that the
// lent bytes are really read, as a decoder would.
void ReadFrameInPlaceWithReadAhead(benchmark::State& state) {
  const BenchMovie& movie = Movie();
  std::vector<uint8_t> frame(kFrameBytes + 8);
  std::vector<uint8_t> ring(kRingBytes + kReadChunk);
  std::vector<uint8_t> tables(movie.index[0]);
  uint32_t sum = 0;
  for (auto _ : state) {
    IoDriver io;
    OpenFileDriver(&io, movie.path.c_str(), 0);
    io.ReadHeader(&io, 0, tables.data(), movie.index[0]);
    io.SetBuffer(&io, ring.data(), io.GetBufferSize(&io, kRingBytes), movie.size, 0);
    for (uint32_t f = 0; f < kFrames; ++f) {
      while (io.ReadAhead(&io) > 0) {
      }
      const uint8_t* data =
          io.ReadFrameInPlace(&io, f, movie.index[f], frame.data(), movie.index[f + 1] - movie.index[f], nullptr);
      sum += data[0];
    }
    benchmark::DoNotOptimize(sum);
    io.Close(&io);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * (movie.size - movie.index[0]));
}

BENCHMARK(PlainRead)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(ReadFrameWithReadAhead)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(ReadFrameInPlaceWithReadAhead)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(PlainReadThroughRingSizedBuffer)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(PlainRead)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(ReadFrameWithReadAhead)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(ReadFrameInPlaceWithReadAhead)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
}  // namespace kivo

BENCHMARK_MAIN();
