// SPDX-License-Identifier: BSD-2-Clause
// Whole frames: where the planes lie in the video data (alpha and luma size
// words, revisions), the plane geometry, grey and shared buffers, and frame
// data that is cut short or points outside itself.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "stream_builder.h"
#include "video/blocks.h"

// Counts every allocation the test binary makes, to show a decode makes none.
// Every form of new and delete is replaced, so that all pairs match.
static std::atomic<uint64_t> allocationCount{0};
// Out of line, so that the compiler does not pair its view of new with free.
__attribute__((noinline)) static void* CountedAllocation(size_t size) {
  allocationCount.fetch_add(1, std::memory_order_relaxed);
  return malloc(size ? size : 1);
}
__attribute__((noinline)) static void Release(void* p) { free(p); }
void* operator new(size_t size) {
  if (void* p = CountedAllocation(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) {
  if (void* p = CountedAllocation(size)) return p;
  throw std::bad_alloc();
}
void* operator new(size_t size, const std::nothrow_t&) noexcept { return CountedAllocation(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return CountedAllocation(size);
}
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }

namespace kivo {
namespace {

using test::BitWriter;

// A plane whose blocks are all `type` (Unchanged or Fill of one colour), its
// block-type and colour bundles refilled by fills every `rowsPerRefill` rows.
std::vector<uint8_t> UniformPlane(uint32_t width, uint32_t height, uint32_t type,
                                  uint32_t colour = 0, uint32_t rowsPerRefill = 6) {
  BitWriter w;
  test::IdentityTrees(w);
  uint32_t columns = width / 8, rows = height / 8;
  for (uint32_t row = 0; row < rows; row += rowsPerRefill) {
    uint32_t count = columns * (rows - row < rowsPerRefill ? rows - row : rowsPerRefill);
    w.Put(count, test::TestCountBits(kBlockTypes, width));
    w.Bit(1);
    w.Put(type, 4);
    if (row == 0) test::Refill(w, kDoubledTypes, width, {});
    if (type == kFill) {
      w.Put(count, test::TestCountBits(kColours, width));
      w.Bit(1);
      w.Put(colour >> 4, 4);
      w.Put(colour & 15, 4);
    } else if (row == 0) {
      test::Refill(w, kColours, width, {});
    }
    if (row == 0)
      for (int id = kPatternBytes; id < kBundleCount; ++id) test::Refill(w, id, width, {});
  }
  return w.Bytes();
}

void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& part) {
  out.insert(out.end(), part.begin(), part.end());
}
void AppendWord(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

struct FrameHarness {
  uint32_t width, height;
  PlaneSet planes{};
  std::vector<uint8_t> frames[2], alpha[2], cells;
  std::vector<uint8_t> bundles[kBundleCount];
  uint8_t* bundlePointers[kBundleCount];

  FrameHarness(uint32_t w, uint32_t h, bool withAlpha = false, bool shared = false)
      : width(w), height(h) {
    planes.chromaPitch = (((w + 1) >> 1) + 7) & ~7u;
    planes.chromaRows = (((h + 1) >> 1) + 7) & ~7u;
    planes.pitch = 2 * planes.chromaPitch;
    planes.rows = 2 * planes.chromaRows;
    size_t frameBytes = size_t(planes.pitch) * planes.rows +
                        2 * size_t(planes.chromaPitch) * planes.chromaRows;
    for (int i = 0; i < (shared ? 1 : 2); ++i) {
      frames[i].assign(frameBytes, 0);
      if (withAlpha) alpha[i].assign(size_t(planes.pitch) * planes.rows, 0);
    }
    for (int i = 0; i < 2; ++i) {
      planes.frameBuffers[i] = frames[shared ? 0 : i].data();
      planes.alphaBuffers[i] = withAlpha ? alpha[shared ? 0 : i].data() : nullptr;
    }
    cells.assign(size_t(planes.pitch / 16) * (planes.rows / 16) + 16, 0);
    planes.changedCells = cells.data();
    uint32_t sizes[kBundleCount];
    ComputeBundleSizes(planes.pitch, sizes);
    for (int i = 0; i < kBundleCount; ++i) {
      bundles[i].assign(sizes[i], 0);
      bundlePointers[i] = bundles[i].data();
    }
    ClearPictureBuffers(&planes);
  }

  int32_t Decode(const std::vector<uint8_t>& data, uint32_t openFlags, uint32_t videoFlags = 0) {
    return DecodeVideoFrame(&planes, bundlePointers, data.data(), uint32_t(data.size()), width,
                            height, 0, openFlags, videoFlags);
  }
  // Decode into the back buffer, then flip as the movie core does.
  int32_t Step(const std::vector<uint8_t>& data, uint32_t openFlags, uint32_t videoFlags = 0) {
    int32_t ok = Decode(data, openFlags, videoFlags);
    planes.current ^= 1;
    return ok;
  }
  const uint8_t* Newest() const { return planes.frameBuffers[planes.current]; }
  const uint8_t* Luma(uint32_t x, uint32_t y) const { return Newest() + y * planes.pitch + x; }
  const uint8_t* Chroma(int plane, uint32_t x, uint32_t y) const {
    return Newest() + planes.pitch * planes.rows + plane * planes.chromaPitch * planes.chromaRows +
           y * planes.chromaPitch + x;
  }
  uint32_t CountChangedCells() const {
    uint32_t n = 0;
    for (size_t i = 0; i < cells.size(); ++i) n += cells[i];
    return n;
  }
};

TEST(Frame, AllUnchangedFrameOf640x480Is112Bytes) {
  std::vector<uint8_t> luma = UniformPlane(640, 480, kUnchanged);
  std::vector<uint8_t> chroma = UniformPlane(320, 240, kUnchanged);
  ASSERT_EQ(luma.size(), 44u);
  ASSERT_EQ(chroma.size(), 32u);
  std::vector<uint8_t> data;
  AppendWord(data, 48);
  Append(data, luma);
  Append(data, chroma);
  Append(data, chroma);
  ASSERT_EQ(data.size(), 112u);

  FrameHarness f(640, 480);
  std::vector<uint8_t>& ref = f.frames[0];
  for (size_t i = 0; i < ref.size(); ++i) ref[i] = uint8_t(i * 13 + i / 640);
  EXPECT_EQ(f.Step(data, 0), 1);
  EXPECT_EQ(f.frames[1], f.frames[0]);
  EXPECT_EQ(f.CountChangedCells(), 0u);
}

TEST(Frame, ClearedBuffersAreBlackAndTransparent) {
  FrameHarness f(40, 24, /*withAlpha=*/true);
  f.frames[1].assign(f.frames[1].size(), 0x33);
  f.alpha[0].assign(f.alpha[0].size(), 0x44);
  ClearPictureBuffers(&f.planes);
  size_t luma = size_t(f.planes.pitch) * f.planes.rows;
  for (int b = 0; b < 2; ++b) {
    for (size_t i = 0; i < f.frames[b].size(); ++i)
      ASSERT_EQ(f.frames[b][i], i < luma ? 0 : 128) << b << " " << i;
    EXPECT_EQ(f.alpha[b], std::vector<uint8_t>(luma, 0));
  }
}

TEST(Frame, Width641LeavesTheRightmostLumaColumnsUnwritten) {
  FrameHarness f(641, 8);
  EXPECT_EQ(f.planes.pitch, 656u);
  EXPECT_EQ(f.planes.chromaPitch, 328u);
  std::vector<uint8_t> data;
  std::vector<uint8_t> luma = UniformPlane(648, 8, kFill, 200);
  AppendWord(data, uint32_t(4 + luma.size()));
  Append(data, luma);
  Append(data, UniformPlane(328, 8, kFill, 90));
  Append(data, UniformPlane(328, 8, kFill, 91));
  f.frames[1].assign(f.frames[1].size(), 0x5A);
  EXPECT_EQ(f.Step(data, 0), 1);
  for (uint32_t y = 0; y < 16; ++y)
    for (uint32_t x = 0; x < 656; ++x)
      ASSERT_EQ(*f.Luma(x, y), y < 8 && x < 648 ? 200 : 0x5A) << x << "," << y;
  EXPECT_EQ(*f.Chroma(0, 327, 7), 90);
  EXPECT_EQ(*f.Chroma(1, 0, 0), 91);
  // 41 cells across; the first cell row is marked to the last column.
  EXPECT_EQ(f.cells[40], 1);
  EXPECT_EQ(f.cells[41], 0);
}

TEST(Frame, AlphaIsSkippedByItsSizeWordUnlessAskedFor) {
  std::vector<uint8_t> alphaPlane = UniformPlane(16, 16, kFill, 255);
  std::vector<uint8_t> data;
  AppendWord(data, uint32_t(4 + alphaPlane.size() + 8));  // 8 bytes of slack after it
  Append(data, alphaPlane);
  AppendWord(data, 0xFFFFFFFF);
  AppendWord(data, 0xFFFFFFFF);
  std::vector<uint8_t> luma = UniformPlane(16, 16, kFill, 77);
  AppendWord(data, uint32_t(4 + luma.size()));
  Append(data, luma);
  Append(data, UniformPlane(8, 8, kFill, 1));
  Append(data, UniformPlane(8, 8, kFill, 2));

  FrameHarness skip(16, 16, /*withAlpha=*/true);
  EXPECT_EQ(skip.Step(data, 0, kVideoFlagAlpha), 1);
  EXPECT_EQ(*skip.Luma(15, 15), 77);
  EXPECT_EQ(*skip.Chroma(1, 7, 7), 2);
  EXPECT_EQ(skip.alpha[1], std::vector<uint8_t>(256, 0));

  FrameHarness decode(16, 16, /*withAlpha=*/true);
  EXPECT_EQ(decode.Step(data, kDecodeAlpha, kVideoFlagAlpha), 1);
  EXPECT_EQ(decode.alpha[1], std::vector<uint8_t>(256, 255));
  EXPECT_EQ(*decode.Luma(0, 0), 77);
}

TEST(Frame, RevisionIFindsChromaByTheLumaSizeWord) {
  std::vector<uint8_t> data;
  std::vector<uint8_t> luma = UniformPlane(16, 16, kFill, 30);
  AppendWord(data, uint32_t(4 + luma.size() + 12));  // chroma lies 12 bytes past luma's end
  Append(data, luma);
  for (int i = 0; i < 12; ++i) data.push_back(0xFF);
  Append(data, UniformPlane(8, 8, kFill, 40));
  Append(data, UniformPlane(8, 8, kFill, 50));
  FrameHarness f(16, 16);
  EXPECT_EQ(f.Step(data, 0), 1);
  EXPECT_EQ(*f.Luma(3, 3), 30);
  EXPECT_EQ(*f.Chroma(0, 3, 3), 40);
  EXPECT_EQ(*f.Chroma(1, 3, 3), 50);
}

TEST(Frame, EarlierRevisionsStartChromaAfterTheLumaPlanesLastWord) {
  std::vector<uint8_t> data;
  // These revisions store colours remapped around 128: 0x05 gives 0x85.
  Append(data, UniformPlane(16, 16, kFill, 0x05));
  Append(data, UniformPlane(8, 8, kFill, 0x85));
  Append(data, UniformPlane(8, 8, kFill, 0x00));
  FrameHarness f(16, 16);
  EXPECT_EQ(f.Step(data, kBeforeRevisionI), 1);
  EXPECT_EQ(*f.Luma(3, 3), 0x85);
  EXPECT_EQ(*f.Chroma(0, 3, 3), 0x7B);
  EXPECT_EQ(*f.Chroma(1, 3, 3), 0x80);
}

TEST(Frame, GreyWritesNoChromaAndSharedBuffersDecodeInPlace) {
  std::vector<uint8_t> data;
  std::vector<uint8_t> luma = UniformPlane(16, 16, kFill, 99);
  AppendWord(data, uint32_t(4 + luma.size()));
  Append(data, luma);
  FrameHarness grey(16, 16);
  grey.frames[1].assign(grey.frames[1].size(), 0x11);
  EXPECT_EQ(grey.Step(data, kDecodeGrey), 1);
  EXPECT_EQ(*grey.Luma(15, 15), 99);
  EXPECT_EQ(*grey.Chroma(0, 0, 0), 0x11);
  EXPECT_EQ(*grey.Chroma(1, 7, 7), 0x11);

  FrameHarness shared(16, 16, false, /*shared=*/true);
  ASSERT_EQ(shared.planes.frameBuffers[0], shared.planes.frameBuffers[1]);
  Append(data, UniformPlane(8, 8, kFill, 1));
  Append(data, UniformPlane(8, 8, kFill, 2));
  EXPECT_EQ(shared.Step(data, 0), 1);
  EXPECT_EQ(*shared.Luma(0, 0), 99);
  EXPECT_EQ(*shared.Chroma(1, 0, 0), 2);
  EXPECT_EQ(shared.Step(data, 0), 1);
  EXPECT_EQ(*shared.Chroma(0, 0, 0), 1);
}

TEST(MalformedFrame, SizeWordsOutsideTheDataKeepWhatCanStillBeFound) {
  std::vector<uint8_t> luma = UniformPlane(16, 16, kFill, 70);
  std::vector<uint8_t> c0 = UniformPlane(8, 8, kFill, 71), c1 = UniformPlane(8, 8, kFill, 72);
  auto frame = [&](uint32_t lumaSize) {
    std::vector<uint8_t> data;
    AppendWord(data, lumaSize);
    Append(data, luma);
    Append(data, c0);
    Append(data, c1);
    return data;
  };
  for (uint32_t bad : {0u, 3u, 100000u, 0xFFFFFFFFu}) {
    FrameHarness f(16, 16);
    for (size_t i = 0; i < f.frames[0].size(); ++i) f.frames[0][i] = uint8_t(i);
    EXPECT_EQ(f.Step(frame(bad), 0), 0) << bad;
    EXPECT_EQ(*f.Luma(9, 9), 70) << bad;        // the luma plane still decodes
    EXPECT_EQ(*f.Chroma(0, 1, 1), f.frames[0][256 + 8 + 1]) << bad;  // chroma repeats
  }
  // An alpha size word outside the data: alpha decodes to the data's end,
  // nothing after it can be found.
  std::vector<uint8_t> data;
  AppendWord(data, 1u << 30);
  Append(data, UniformPlane(16, 16, kFill, 255));
  FrameHarness a(16, 16, /*withAlpha=*/true);
  EXPECT_EQ(a.Step(data, kDecodeAlpha, kVideoFlagAlpha), 0);
  EXPECT_EQ(a.alpha[1], std::vector<uint8_t>(256, 255));
  EXPECT_EQ(*a.Luma(0, 0), 0);
}

TEST(MalformedFrame, CutDataNeverReadsPastItsSize) {
  std::vector<uint8_t> full;
  std::vector<uint8_t> luma = UniformPlane(32, 32, kFill, 70);
  AppendWord(full, uint32_t(4 + luma.size()));
  Append(full, luma);
  Append(full, UniformPlane(16, 16, kFill, 71));
  Append(full, UniformPlane(16, 16, kFill, 72));
  for (size_t keep = 0; keep < full.size(); ++keep) {
    for (uint32_t flags : {0u, kBeforeRevisionI, kDecodeAlpha}) {
      FrameHarness f(32, 32, true);
      // Each cut is copied to a buffer of exactly that size.
      std::vector<uint8_t> cut(full.begin(), full.begin() + keep);
      f.Decode(cut, flags, flags == kDecodeAlpha ? kVideoFlagAlpha : 0);
    }
  }
  // With the full data every revision and alpha layout decodes cleanly.
  FrameHarness f(32, 32);
  EXPECT_EQ(f.Decode(full, 0), 1);
  std::vector<uint8_t> empty;
  EXPECT_EQ(f.Decode(empty, 0), 0);
  EXPECT_EQ(DecodeVideoFrame(&f.planes, f.bundlePointers, nullptr, 100, 32, 32, 0, 0, 0), 0);
  // A geometry that does not match the buffers is refused outright.
  EXPECT_EQ(DecodeVideoFrame(&f.planes, f.bundlePointers, full.data(), uint32_t(full.size()), 48,
                             32, 0, 0, 0),
            0);
}

TEST(Frame, DecodingAllocatesNothing) {
  std::vector<uint8_t> data;
  std::vector<uint8_t> luma = UniformPlane(64, 48, kFill, 70);
  AppendWord(data, uint32_t(4 + luma.size()));
  Append(data, luma);
  Append(data, UniformPlane(32, 24, kFill, 71));
  Append(data, UniformPlane(32, 24, kUnchanged));
  FrameHarness f(64, 48, true);
  uint64_t before = allocationCount.load();
  int32_t clean = 1;
  for (int i = 0; i < 2000; ++i) clean &= f.Step(data, uint32_t(i & 1) * kNoProcessorExtensions);
  EXPECT_EQ(allocationCount.load() - before, 0u);
  EXPECT_EQ(clean, 1);
  std::vector<int> probe(4);  // the counter does see allocations
  EXPECT_GT(allocationCount.load() - before, 0u);
}

}  // namespace
}  // namespace kivo
