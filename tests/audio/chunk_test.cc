// SPDX-License-Identifier: BSD-2-Clause
// The chunk loop of a frame: P and D, blocks until D is used up or the chunk
// ends, the last block cut to D with its tail still kept, a well-formed
// chunk read to its last byte, malformed sizes kept inside the chunk, and
// finding a track's chunk in a frame packet.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "audio/audio_decoder.h"
#include "audio/audio_streams.h"

namespace kivo {
namespace {

using encode::AudioChannelCode;
using test::CollectedPcm;
using test::CollectPcm;
using test::Layout;
using test::ZeroChannel;

// A 22050 Hz stereo DCT block of exactly `bytes` bytes, its content set by
// `seed`: the first `count` coefficients (alternating between the channels)
// get 7-bit values, so each adds about a byte; the size grows with count one
// word at a time, and a binary search finds it.
std::vector<uint8_t> BlockOfSize(const AudioLayout& layout, uint32_t bytes, uint32_t seed) {
  auto make = [&](uint32_t count) {
    std::mt19937 gen(seed);
    std::vector<AudioChannelCode> ch(2, ZeroChannel(layout, float(seed % 200), -3.0f, 40));
    for (uint32_t i = 0; i < count; ++i) ch[i % 2].values[2 + i / 2] = int32_t(64 + gen() % 64) * (gen() % 2 ? 1 : -1);
    return encode::WriteAudioBlock(layout, ch.data());
  };
  uint32_t lo = 0, hi = 2 * (layout.blockSize - 2);
  while (lo < hi) {
    const uint32_t mid = (lo + hi) / 2;
    if (make(mid).size() < bytes)
      lo = mid + 1;
    else
      hi = mid;
  }
  std::vector<uint8_t> block = make(lo);
  EXPECT_EQ(block.size(), bytes);
  return block;
}

struct Track {
  AudioDecoder* d;
  Track(uint32_t rate, uint32_t channels, bool dct) : d(OpenAudioDecoder(rate, channels, dct)) {}
  ~Track() { CloseAudioDecoder(d); }
  uint32_t Run(const std::vector<uint8_t>& chunk, CollectedPcm* out) {
    return DecodeAudioChunk(d, chunk.data(), static_cast<uint32_t>(chunk.size()), CollectPcm, out);
  }
};

TEST(AudioChunks, FirstPacketOfEighteenBlocksEndsAtTheChunkEnd) {
  const AudioLayout layout = Layout(22050, 2, true);
  std::vector<std::vector<uint8_t>> blocks;
  uint32_t total = 0;
  for (uint32_t i = 0; i < 18; ++i) {
    blocks.push_back(BlockOfSize(layout, i == 17 ? 612 : 568, i));
    total += static_cast<uint32_t>(blocks.back().size());
  }
  ASSERT_EQ(total, 10268u);
  const std::vector<uint8_t> chunk = encode::BuildAudioChunk(69120, blocks);
  ASSERT_EQ(chunk.size(), 10272u);  // P

  // Each block starts where the one before ended.
  Track walk(22050, 2, true);
  const uint8_t* pos = chunk.data() + 4;
  for (uint32_t i = 0; i < 18; ++i) {
    const uint8_t* next;
    ASSERT_EQ(DecodeAudioBlock(walk.d, pos, chunk.data() + chunk.size(), nullptr, &next), 3840u);
    EXPECT_EQ(next, pos + blocks[i].size()) << i;
    pos = next;
  }
  EXPECT_EQ(pos, chunk.data() + chunk.size());

  Track t(22050, 2, true);
  CollectedPcm pcm;
  EXPECT_EQ(t.Run(chunk, &pcm), 69120u);
  EXPECT_EQ(pcm.calls, std::vector<uint32_t>(18, 3840));
  EXPECT_EQ(0, memcmp(pcm.bytes.data() + 17 * 3840, walk.d->output, 3840));

  // The following packet holds exactly one block.
  const std::vector<uint8_t> next = encode::BuildAudioChunk(3840, {BlockOfSize(layout, 696, 99)});
  ASSERT_EQ(next.size(), 700u);
  CollectedPcm more;
  EXPECT_EQ(t.Run(next, &more), 3840u);
  EXPECT_EQ(more.calls, std::vector<uint32_t>{3840});
}

TEST(AudioChunks, EmptyChunksDecodeNothing) {
  const AudioLayout layout = Layout(11025, 1, true);
  const std::vector<uint8_t> block = encode::WriteAudioBlock(layout, std::vector<AudioChannelCode>{ZeroChannel(layout, 5)}.data());
  Track t(11025, 1, true);
  CollectedPcm pcm;
  // P = 0: no D field at all; P below 4 cannot hold one.
  EXPECT_EQ(DecodeAudioChunk(t.d, block.data(), 0, CollectPcm, &pcm), 0u);
  EXPECT_EQ(DecodeAudioChunk(t.d, block.data(), 3, CollectPcm, &pcm), 0u);
  // P > 0 and D = 0: no block is decoded, so the next one is still the first.
  EXPECT_EQ(t.Run(encode::BuildAudioChunk(0, {block}), &pcm), 0u);
  EXPECT_TRUE(pcm.calls.empty());
  EXPECT_EQ(t.d->firstBlock, 1u);
}

// D ending inside a block drops the rest of its output, but its tail is
// kept and fades into the next block as if nothing had been cut.
TEST(AudioChunks, LastBlockCutByDKeepsItsTail) {
  const AudioLayout layout = Layout(22050, 1, false);
  std::mt19937 gen(4);
  std::vector<std::vector<uint8_t>> blocks;
  for (int i = 0; i < 4; ++i) {
    AudioChannelCode ch = test::RandomChannel(layout, gen, 6);
    blocks.push_back(encode::WriteAudioBlock(layout, &ch));
  }
  Track whole(22050, 1, false), cut(22050, 1, false);
  CollectedPcm all, part;
  EXPECT_EQ(whole.Run(encode::BuildAudioChunk(4 * 1920, blocks), &all), 4 * 1920u);
  EXPECT_EQ(cut.Run(encode::BuildAudioChunk(2 * 1920 + 100, {blocks[0], blocks[1], blocks[2]}), &part),
            2 * 1920u + 100);
  EXPECT_EQ(part.calls, (std::vector<uint32_t>{1920, 1920, 100}));
  EXPECT_EQ(0, memcmp(part.bytes.data(), all.bytes.data(), part.bytes.size()));
  CollectedPcm after;
  cut.Run(encode::BuildAudioChunk(1920, {blocks[3]}), &after);
  EXPECT_EQ(0, memcmp(after.bytes.data(), all.bytes.data() + 3 * 1920, 1920));
}

// The loop stops at the chunk's end whatever D says, and a block that runs
// out of bits there is the last one.
TEST(AudioChunks, OversizedDStopsAtTheChunkEnd) {
  const AudioLayout layout = Layout(22050, 2, true);
  const std::vector<uint8_t> a = BlockOfSize(layout, 568, 1), b = BlockOfSize(layout, 568, 2);
  Track t(22050, 2, true);
  CollectedPcm pcm;
  EXPECT_EQ(t.Run(encode::BuildAudioChunk(20 * 3840, {a, b}), &pcm), 2 * 3840u);
  if (HasFailure()) return;  // the next one would run for a million blocks
  EXPECT_EQ(t.Run(encode::BuildAudioChunk(0xFFFFFFFF, {a, b}), &pcm), 2 * 3840u);

  std::vector<uint8_t> chunk = encode::BuildAudioChunk(0xFFFFFFFF, {a, b});
  chunk.resize(4 + 568 + 300);  // the second block loses its end
  std::vector<uint8_t> padded = chunk;
  padded.resize(4 + 2 * 568 + 64, 0);
  memset(padded.data() + chunk.size(), 0, padded.size() - chunk.size());
  Track cutTrack(22050, 2, true), zeroTrack(22050, 2, true);
  CollectedPcm cutPcm, zeroPcm;
  std::vector<uint8_t> exact(chunk);  // nothing readable after its end
  EXPECT_EQ(cutTrack.Run(exact, &cutPcm), 2 * 3840u);
  DecodeAudioChunk(zeroTrack.d, padded.data(), static_cast<uint32_t>(padded.size()), CollectPcm, &zeroPcm);
  ASSERT_GE(zeroPcm.bytes.size(), 2 * 3840u);
  EXPECT_EQ(0, memcmp(cutPcm.bytes.data(), zeroPcm.bytes.data(), 2 * 3840));
}

TEST(AudioChunks, FindingATracksChunk) {
  // Three tracks: 8 bytes, none, 12 bytes; then 5 bytes of video.
  std::vector<uint8_t> packet;
  auto put = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) packet.push_back(uint8_t(v >> (8 * i)));
  };
  put(8);
  put(1000);
  put(11);
  put(0);
  put(12);
  for (int i = 0; i < 12; ++i) packet.push_back(uint8_t(i));
  for (int i = 0; i < 5; ++i) packet.push_back(0xEE);
  const uint32_t size = static_cast<uint32_t>(packet.size());
  const uint8_t* chunk = nullptr;
  uint32_t p = 99;
  ASSERT_EQ(FindAudioChunk(packet.data(), size, 3, 0, &chunk, &p), 1);
  EXPECT_EQ(chunk, packet.data() + 4);
  EXPECT_EQ(p, 8u);
  ASSERT_EQ(FindAudioChunk(packet.data(), size, 3, 1, &chunk, &p), 1);
  EXPECT_EQ(chunk, packet.data() + 16);
  EXPECT_EQ(p, 0u);
  ASSERT_EQ(FindAudioChunk(packet.data(), size, 3, 2, &chunk, &p), 1);
  EXPECT_EQ(chunk, packet.data() + 20);
  EXPECT_EQ(p, 12u);
  EXPECT_EQ(FindAudioChunk(packet.data(), size, 3, 3, &chunk, &p), 0);
  // A size larger than the packet is cut to it; tracks after it are missing.
  packet[12] = 0xFF;  // track 1 claims 255 bytes
  ASSERT_EQ(FindAudioChunk(packet.data(), size, 3, 1, &chunk, &p), 1);
  EXPECT_EQ(p, size - 16);
  EXPECT_EQ(FindAudioChunk(packet.data(), size, 3, 2, &chunk, &p), 0);
  EXPECT_EQ(FindAudioChunk(packet.data(), 2, 3, 0, &chunk, &p), 0);
}

}  // namespace
}  // namespace kivo
