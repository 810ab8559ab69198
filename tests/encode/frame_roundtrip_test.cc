// SPDX-License-Identifier: BSD-2-Clause
// Whole frames from the writer through the decoder: random planes of every
// block type under every revision, bundle mode and tree-header kind, with
// alpha, grey and odd sizes, compared byte for byte (whole buffers, so
// samples outside the decoded areas must stay untouched) with the writer's
// own drawing of the same planes.
#include <gtest/gtest.h>

#include <random>

#include "encode/decode_harness.h"

namespace kivo::encode {
namespace {

using testing::Expected;
using testing::FirstDifference;
using testing::Picture;
using testing::Predict;

struct Content {
  bool oldColours = false;
  bool doubled = true;
  int typeSet = 0;  // 0: everything, 1: only motion and DCT, 2: only colour types
};

uint8_t Sample(std::mt19937& random, const Content& content) {
  uint32_t palette[4] = {17, 200, 90, uint32_t(1 + random() % 255)};
  uint8_t v = uint8_t(random() % 3 ? palette[random() % 4] : random() % 256);
  return content.oldColours && v == 0 ? 1 : v;
}

void RandomPixels(std::mt19937& random, const Content& content, BlockSpec& b) {
  for (auto& p : b.pixels) p = Sample(random, content);
}

void RandomCoefficients(std::mt19937& random, BlockSpec& b, bool intra) {
  for (auto& v : b.coefficients) v = 0;
  b.coefficients[0] = int16_t(intra ? random() % 2048 : int(random() % 2047) - 1023);
  int count = int(random() % 12);
  for (int i = 0; i < count; ++i) {
    int bits = 1 + int(random() % 14);
    int m = int(random() % (1u << bits));
    b.coefficients[1 + random() % 63] = int16_t(random() & 1 ? -m : m);
  }
  b.quantiser = uint8_t(random() % 16);
  if (random() % 8 == 0) b.planes = int8_t(std::min(15, CoefficientPlanes(b.coefficients) + 1));
}

// The 8x8 content of a block of `type`, drawable without motion, or with
// motion that stays inside a plane of w x h.
void RandomBlock(std::mt19937& random, const Content& content, uint32_t type, int x, int y, int w,
                 int h, BlockSpec& b) {
  b = BlockSpec{};
  b.type = uint8_t(type);
  int loX = std::max(-15, -x), hiX = std::min(15, w - 8 - x);
  int loY = std::max(-15, -y), hiY = std::min(15, h - 8 - y);
  b.dx = int8_t(loX + int(random() % uint32_t(hiX - loX + 1)));
  b.dy = int8_t(loY + int(random() % uint32_t(hiY - loY + 1)));
  RandomPixels(random, content, b);
  switch (type) {
    case kRuns:
      b.pattern = uint8_t(random() % 16);
      if (random() % 2) {
        // Runs of random lengths ending at entry 63 or 64.
        int i = 0;
        while (i < 63) {
          int length = std::min(1 + int(random() % 16), 64 - i);
          b.runs[b.runCount++] = {uint8_t(length), bool(random() % 2)};
          i += length;
        }
      }
      break;
    case kMovedResidue:
      for (auto& r : b.residue) r = int8_t(random() % 4 ? 0 : int(random() % 256) - 128);
      if (random() % 4 == 0) b.residueCode.limit = int(random() % 128);
      break;
    case kIntra:
    case kInter:
      RandomCoefficients(random, b, type == kIntra);
      break;
    case kTwoColour:
      for (auto& m : b.mask) m = uint8_t(random());
      break;
    default:
      break;
  }
}

PlaneSpec RandomPlane(std::mt19937& random, const Content& content, uint32_t w, uint32_t h) {
  PlaneSpec plane;
  InitPlane(plane, w, h);
  const uint32_t columns = w / 8, rows = h / 8;
  static const uint32_t kAll[] = {0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  static const uint32_t kMotion[] = {0, 2, 4, 5, 7};
  static const uint32_t kColour[] = {3, 6, 8, 9};
  static const uint32_t kDoubledKinds[] = {3, 5, 6, 8, 9, 0, 2, 7};
  std::vector<bool> covered(size_t(columns) * rows, false);
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < columns; ++c) {
      if (covered[size_t(r) * columns + c]) continue;
      int x = int(c * 8), y = int(r * 8);
      BlockSpec& b = BlockAt(plane, c, r);
      if (content.doubled && (r & 1) == 0 && c + 1 < columns && r + 1 < rows && random() % 6 == 0) {
        BlockSpec inner;
        uint32_t kind = kDoubledKinds[random() % 8];
        RandomBlock(random, content, kind, x, y, int(w), int(h), inner);
        inner.doubledType = uint8_t(kind);
        SetDoubled(plane, c, r, inner);
        covered[size_t(r) * columns + c + 1] = true;
        covered[size_t(r + 1) * columns + c] = true;
        covered[size_t(r + 1) * columns + c + 1] = true;
        continue;
      }
      uint32_t type = content.typeSet == 1   ? kMotion[random() % 5]
                      : content.typeSet == 2 ? kColour[random() % 4]
                                             : kAll[random() % 11];
      RandomBlock(random, content, type, x, y, int(w), int(h), b);
    }
  }
  return plane;
}

// Any valid tree header, for planes whose trees are chosen by hand.
TreeChoice RandomTree(std::mt19937& random) {
  TreeChoice c;
  c.tree = uint8_t(random() % 16);
  uint8_t perm[16];
  for (int i = 0; i < 16; ++i) perm[i] = uint8_t(i);
  if (c.tree && random() % 2) {
    c.kind = TreeHeaderKind::kExplicitList;
    c.listed = uint8_t(1 + random() % 8);
    std::shuffle(perm, perm + 16, random);
    std::sort(perm + c.listed, perm + 16);
  } else if (c.tree) {
    c.depth = uint8_t(random() % 4);
    uint32_t group = 2u << c.depth;
    for (uint32_t g = 0; g < 16; g += group) std::shuffle(perm + g, perm + g + group, random);
  }
  std::copy(perm, perm + 16, c.symbols);
  return c;
}

void RandomCoding(std::mt19937& random, PlaneCoding& coding) {
  const uint32_t rowChoices[] = {1, 2, 6, 60};
  coding.refillRows = rowChoices[random() % 4];
  for (bool& f : coding.allowFill) f = random() % 4 != 0;
  coding.allowFill[kBlockTypesBundle] = true;  // types 10 and 11 need none, but keep fills
  coding.blockTypeRuns = random() % 3 != 0;
  coding.autoTrees = random() % 2;
  if (!coding.autoTrees) {
    coding.blockTypes = RandomTree(random);
    coding.doubledTypes = RandomTree(random);
    for (auto& t : coding.colourHigh) t = RandomTree(random);
    coding.colourLow = RandomTree(random);
    coding.patternBytes = RandomTree(random);
    coding.motionX = RandomTree(random);
    coding.motionY = RandomTree(random);
    coding.runLengths = RandomTree(random);
  }
}

struct Setup {
  uint32_t width, height;
  char revision;
  bool streamAlpha, decodeAlpha, grey, chromaInStream, shared;
};

// Three frames in a row (so motion reads what the previous frame drew),
// each compared whole with the writer's drawing.
void RunFrames(const Setup& s, uint32_t seed) {
  std::mt19937 random(seed);
  Picture picture(s.width, s.height, s.streamAlpha, s.shared, seed);
  Content content;
  content.oldColours = s.revision < 'i';
  uint32_t openFlags = (s.revision < 'i' ? 0x8000u : 0) | (s.revision < 'h' ? 0x10000u : 0) |
                       (s.decodeAlpha ? 0x100000u : 0) | (s.grey ? 0x20000u : 0);
  uint32_t videoFlags = s.streamAlpha ? 0x100000u : 0;
  const uint32_t lw = LumaAreaWidth(s.width), lh = LumaAreaHeight(s.height);
  const uint32_t cw = ChromaAreaWidth(s.width), ch = ChromaAreaHeight(s.height);
  for (int frame = 0; frame < 3; ++frame) {
    content.typeSet = int(random() % 3);
    PlaneSpec luma = RandomPlane(random, content, lw, lh);
    PlaneSpec alpha = RandomPlane(random, content, lw, lh);
    PlaneSpec u = RandomPlane(random, content, cw, ch);
    PlaneSpec v = RandomPlane(random, content, cw, ch);
    for (PlaneSpec* p : {&luma, &alpha, &u, &v}) RandomCoding(random, p->coding);
    FrameSpec spec;
    spec.revision = s.revision;
    spec.luma = &luma;
    if (s.streamAlpha) spec.alpha = &alpha;
    if (s.chromaInStream) {
      spec.chroma[0] = &u;
      spec.chroma[1] = &v;
    }
    std::vector<uint8_t> data;
    std::string error;
    ASSERT_TRUE(WriteVideoFrame(spec, data, &error)) << error;

    uint8_t* written = picture.Written();
    uint8_t* writtenAlpha = s.streamAlpha ? picture.set.alphaBuffers[picture.set.current ^ 1] : nullptr;
    Expected expected = Predict(picture, spec, s.decodeAlpha, s.grey || !s.chromaInStream);
    EXPECT_EQ(picture.Decode(data, openFlags, videoFlags), 1) << "frame " << frame;
    EXPECT_EQ(FirstDifference(written, expected.frame), -1) << "frame " << frame;
    if (writtenAlpha) {
      EXPECT_EQ(FirstDifference(writtenAlpha, expected.alpha), -1) << "frame " << frame;
    }
  }
}

TEST(FrameRoundTrip, EveryRevision) {
  for (char revision : {'f', 'g', 'h', 'i'}) {
    SCOPED_TRACE(revision);
    RunFrames({64, 48, revision, false, false, false, true, false}, 100 + revision);
    RunFrames({160, 120, revision, true, true, false, true, false}, 200 + revision);
  }
}

TEST(FrameRoundTrip, AlphaGreyAndSharedBuffers) {
  // Alpha in the stream but not asked for: skipped by its size word.
  RunFrames({96, 64, 'i', true, false, false, true, false}, 301);
  RunFrames({96, 64, 'h', true, false, false, true, false}, 302);
  // Grey: chroma in the stream but not decoded, or no chroma at all.
  RunFrames({80, 72, 'i', false, false, true, true, false}, 303);
  RunFrames({80, 72, 'g', true, true, true, false, false}, 304);
  // All key frames: one buffer serves as reference and target.
  RunFrames({112, 80, 'i', true, true, false, true, true}, 305);
}

TEST(FrameRoundTrip, OddSizes) {
  const uint32_t sizes[][2] = {{641, 17}, {8, 8}, {9, 9}, {24, 40}, {31, 7}, {1, 1}, {330, 250}};
  uint32_t seed = 400;
  for (auto& size : sizes) {
    SCOPED_TRACE(::testing::Message() << size[0] << "x" << size[1]);
    RunFrames({size[0], size[1], 'i', true, true, false, true, false}, seed++);
    RunFrames({size[0], size[1], 'h', false, false, false, true, true}, seed++);
  }
}

TEST(FrameRoundTrip, ManySeeds) {
  for (uint32_t seed = 0; seed < 40; ++seed) {
    char revision = char('f' + seed % 4);
    RunFrames({uint32_t(48 + 8 * (seed % 5)), uint32_t(40 + 8 * (seed % 3)), revision, seed % 2 == 0,
               seed % 4 == 0, false, true, seed % 5 == 0},
              1000 + seed);
  }
}

TEST(Frames, AllUnchangedIs112Bytes) {
  PlaneSpec luma, u, v;
  InitPlane(luma, 640, 480);
  InitPlane(u, 320, 240);
  InitPlane(v, 320, 240);
  FrameSpec spec;
  spec.luma = &luma;
  spec.chroma[0] = &u;
  spec.chroma[1] = &v;
  std::vector<uint8_t> data;
  ASSERT_TRUE(WriteVideoFrame(spec, data, nullptr));
  ASSERT_EQ(data.size(), 112u);
  EXPECT_EQ(data[0] | data[1] << 8 | data[2] << 16 | data[3] << 24, 48);

  Picture picture(640, 480, false, false);
  uint8_t* written = picture.Written();
  std::vector<uint8_t> reference(picture.Reference(), picture.Reference() + picture.FrameBytes());
  EXPECT_EQ(picture.Decode(data, 0, 0), 1);
  // Every decoded sample is the reference; outside the areas nothing moved
  // (here the areas are the whole buffers).
  EXPECT_EQ(FirstDifference(written, reference), -1);
  for (uint8_t cell : picture.cells) ASSERT_EQ(cell, 0);

  // Revision 'h' has no size word and the same planes.
  spec.revision = 'h';
  std::vector<uint8_t> old;
  ASSERT_TRUE(WriteVideoFrame(spec, old, nullptr));
  EXPECT_EQ(old.size(), 108u);
  EXPECT_TRUE(std::equal(old.begin(), old.end(), data.begin() + 4));
}

TEST(Frames, SizeWordsCoverTheirPlanes) {
  std::mt19937 random(8);
  Content content;
  PlaneSpec alpha = RandomPlane(random, content, 48, 32);
  PlaneSpec luma = RandomPlane(random, content, 48, 32);
  PlaneSpec u = RandomPlane(random, content, 24, 16), v = RandomPlane(random, content, 24, 16);
  auto planeBytes = [](const PlaneSpec& p) {
    BitWriter w;
    EXPECT_TRUE(WritePlane(w, p, false, nullptr));
    return w.words.size() * 4;
  };
  FrameSpec spec;
  spec.alpha = &alpha;
  spec.luma = &luma;
  spec.chroma[0] = &u;
  spec.chroma[1] = &v;
  std::vector<uint8_t> data;
  ASSERT_TRUE(WriteVideoFrame(spec, data, nullptr));
  auto word = [&](size_t at) {
    return uint32_t(data[at] | data[at + 1] << 8 | data[at + 2] << 16 | uint32_t(data[at + 3]) << 24);
  };
  size_t a = word(0);
  EXPECT_EQ(a, 4 + planeBytes(alpha));
  EXPECT_EQ(word(a), 4 + planeBytes(luma));
  EXPECT_EQ(data.size(), a + word(a) + planeBytes(u) + planeBytes(v));

  std::string error;
  spec.chroma[1] = nullptr;
  EXPECT_FALSE(WriteVideoFrame(spec, data, &error));
  spec.chroma[1] = &v;
  spec.revision = 'e';
  EXPECT_FALSE(WriteVideoFrame(spec, data, &error));
  spec.revision = 'i';
  spec.luma = nullptr;
  EXPECT_FALSE(WriteVideoFrame(spec, data, &error));
}

// Block types 12 to 15 take a position and draw nothing; they travel only
// in fill refills.
TEST(Frames, TypesAboveNineOnlyTakeAPosition) {
  Picture picture(64, 16, false, false);
  PlaneSpec luma, u, v;
  InitPlane(luma, 64, 16);
  for (uint32_t c = 0; c < 8; ++c) BlockAt(luma, c, 0).type = 15;
  BlockAt(luma, 3, 1).type = kFill;
  BlockAt(luma, 3, 1).pixels[0] = 9;
  InitPlane(u, 32, 8);
  InitPlane(v, 32, 8);
  FrameSpec spec;
  spec.luma = &luma;
  spec.chroma[0] = &u;
  spec.chroma[1] = &v;
  std::vector<uint8_t> data;
  ASSERT_TRUE(WriteVideoFrame(spec, data, nullptr));
  uint8_t* written = picture.Written();
  Expected expected = Predict(picture, spec, false, false);
  EXPECT_EQ(picture.Decode(data, 0, 0), 1);
  EXPECT_EQ(FirstDifference(written, expected.frame), -1);
  EXPECT_EQ(written[8 * picture.pitch + 24], 9);
}

}  // namespace
}  // namespace kivo::encode
