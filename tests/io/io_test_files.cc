// SPDX-License-Identifier: BSD-2-Clause
// Test movies on disk and the virtual clock.
#include "io_test_files.h"

#include <cstdio>
#include <cstdlib>

#include "base/clock.h"
#include "encode/container_writer.h"
#include "movie/container.h"

namespace kivo::test {
namespace {

std::string TestFolder() {
  for (const char* name : {"KIVO_TEST_TMP", "TMPDIR", "TEMP", "TMP"}) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  return "/tmp";
}

uint64_t virtualNs = 0;
uint32_t sleeps = 0;

uint64_t VirtualCounter() { return virtualNs; }
uint64_t VirtualFrequency() { return 1000000000ull; }
uint32_t VirtualTick() { return static_cast<uint32_t>(virtualNs / 1000000); }
void VirtualSleep(uint32_t ms) {
  ++sleeps;
  virtualNs += uint64_t(ms ? ms : 1) * 1000000;
}
const ClockSource virtualSource = {VirtualCounter, VirtualFrequency, VirtualTick, VirtualSleep};

}  // namespace

TestMovie MakeTestMovie(const std::string& name, const std::vector<uint32_t>& videoSizes, uint32_t prefix) {
  encode::MovieLayout layout;
  layout.width = 64;
  layout.height = 48;
  std::vector<encode::FramePacket> frames(videoSizes.size());
  for (size_t f = 0; f < frames.size(); ++f) {
    frames[f].key = f == 0;
    frames[f].video.resize(videoSizes[f]);
    for (uint32_t i = 0; i < videoSizes[f]; ++i) frames[f].video[i] = static_cast<uint8_t>(i * 7 + f * 13 + 1);
  }
  std::vector<uint8_t> movie = encode::BuildMovie(layout, frames);

  TestMovie result;
  result.path = TestFolder() + "/" + name;
  result.prefix = prefix;
  result.file.assign(prefix, 0xEE);
  result.file.insert(result.file.end(), movie.begin(), movie.end());
  for (size_t i = 0; i <= frames.size(); ++i)
    result.index.push_back(ReadLe32(movie.data() + kHeaderSize + 4 * i) & ~1u);
  std::FILE* out = std::fopen(result.path.c_str(), "wb");
  if (out) {
    std::fwrite(result.file.data(), 1, result.file.size(), out);
    std::fclose(out);
  }
  return result;
}

bool OpenTestDriver(IoDriver* io, const TestMovie& movie, uint8_t* ring, uint32_t ringSize, uint32_t speed,
                    uint32_t dataSize) {
  if (!OpenFileDriver(io, movie.path.c_str(), 0)) return false;
  uint8_t header[kHeaderSize];
  if (io->ReadHeader(io, 0, header, kHeaderSize) != kHeaderSize) return false;
  std::vector<uint8_t> tables(movie.index[0] - kHeaderSize);
  if (io->ReadHeader(io, -1, tables.data(), static_cast<uint32_t>(tables.size())) != tables.size()) return false;
  io->SetBuffer(io, ring, ringSize, dataSize ? dataSize : movie.MovieSize(), speed);
  return true;
}

bool RingConsistent(const IoDriver& io) {
  return io.buffered.load() + io.freeBytes.load() + io.heldBytes == io.bufferSize &&
         io.filePos == io.consumerPos + io.buffered.load();
}

void UseVirtualClock() {
  virtualNs = 0;
  sleeps = 0;
  SetClockSource(&virtualSource);
  GetMilliseconds();  // the first reading sets the origin at 0
}
void AdvanceVirtualClock(uint32_t ms) { virtualNs += uint64_t(ms) * 1000000; }
uint32_t VirtualClockSleeps() { return sleeps; }
void UsePlatformClock() { SetClockSource(nullptr); }

}  // namespace kivo::test
