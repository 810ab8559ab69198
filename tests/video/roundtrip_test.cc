// SPDX-License-Identifier: BSD-2-Clause
// Streams made by the stream writer from random block descriptions, decoded
// and compared with the writer's own model of the picture: the two sides
// were written apart from each other, so agreement checks both readings.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "encode/video_writer.h"
#include "stream_builder.h"

namespace kivo {
namespace {

namespace enc = kivo::encode;

struct Options {
  bool oldColours = false;  // revisions before 'i': no colour 0
  bool doubled = true;
};

uint8_t Colour(std::mt19937& rng, const Options& o) {
  uint8_t c = uint8_t(rng());
  return o.oldColours && c == 0 ? 1 : c;
}

// A block the stream can carry and both sides must draw alike: motion stays
// inside the decoded area, doubled blocks stay inside the plane.
void RandomBlock(std::mt19937& rng, enc::BlockSpec& b, uint32_t type, uint32_t x, uint32_t y,
                 uint32_t width, uint32_t height, const Options& o) {
  b = enc::BlockSpec{};
  b.type = uint8_t(type);
  auto motion = [&] {
    int lo = -int(x) > -15 ? -int(x) : -15, hi = int(width - 8 - x) < 15 ? int(width - 8 - x) : 15;
    b.dx = int8_t(lo + int(rng() % uint32_t(hi - lo + 1)));
    lo = -int(y) > -15 ? -int(y) : -15, hi = int(height - 8 - y) < 15 ? int(height - 8 - y) : 15;
    b.dy = int8_t(lo + int(rng() % uint32_t(hi - lo + 1)));
  };
  uint32_t inner = type;
  if (type == enc::kMoved || type == enc::kMovedResidue || type == enc::kInter) motion();
  uint8_t palette[4] = {Colour(rng, o), Colour(rng, o), Colour(rng, o), Colour(rng, o)};
  switch (inner) {
    case enc::kFill:
      b.pixels[0] = palette[0];
      break;
    case enc::kTwoColour:
      b.pixels[0] = palette[0];
      b.pixels[1] = palette[1];
      for (uint8_t& m : b.mask) m = uint8_t(rng());
      break;
    case enc::kRaw:
      for (uint8_t& p : b.pixels) p = Colour(rng, o);
      break;
    case enc::kRuns: {
      b.pattern = uint8_t(rng() % 16);
      uint8_t last = palette[0];
      for (uint8_t& p : b.pixels) p = last = rng() % 3 ? last : palette[rng() % 4];
      break;
    }
    case enc::kIntra:
    case enc::kInter: {
      b.quantiser = uint8_t(rng() % 16);
      b.coefficients[0] = int16_t(inner == enc::kIntra ? rng() % 2048 : int(rng() % 2047) - 1023);
      uint32_t count = rng() % 12, big = rng() % 4 == 0 ? 8000 : 60;
      for (uint32_t i = 0; i < count; ++i)
        b.coefficients[1 + rng() % 63] = int16_t(int(rng() % (2 * big + 1)) - int(big));
      break;
    }
    case enc::kMovedResidue:
      for (int i = 0; i < 64; ++i)
        if (rng() % 5 == 0) b.residue[i] = int8_t(int(rng() % 61) - 30);
      if (rng() % 3 == 0) b.residueCode.limit = int(rng() % 8);  // often stops early
      break;
    default:
      break;
  }
}

enc::PlaneSpec RandomPlane(std::mt19937& rng, uint32_t width, uint32_t height, const Options& o) {
  enc::PlaneSpec plane;
  enc::InitPlane(plane, width, height);
  const uint32_t columns = width / 8, rows = height / 8;
  // Most planes lean to a few types, so that fills and runs of values occur.
  uint32_t favourite = rng() % 12;
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < columns; ++c) {
      enc::BlockSpec& b = enc::BlockAt(plane, c, r);
      if (b.type == enc::kDoubled) {  // the marker below a doubled block
        ++c;
        continue;
      }
      uint32_t type = rng() % 3 == 0 ? favourite : rng() % 16;
      if (type >= 12) type = 10 + type % 2;  // 12 to 15 only come from fills
      if (type == enc::kDoubled) {
        if (!o.doubled || (r & 1) || c + 1 >= columns || r + 1 >= rows) {
          type = enc::kFill;
        } else {
          enc::BlockSpec inner;
          const uint8_t kinds[] = {3, 5, 6, 8, 9, 9, 6, 2};
          uint8_t kind = kinds[rng() % 8];
          RandomBlock(rng, inner, kind, c * 8, r * 8, width, height, o);
          inner.type = enc::kDoubled;
          inner.doubledType = kind;
          enc::SetDoubled(plane, c, r, inner);
          ++c;
          continue;
        }
      }
      RandomBlock(rng, b, type, c * 8, r * 8, width, height, o);
    }
  }
  enc::PlaneCoding& coding = plane.coding;
  coding.refillRows = 1 + rng() % 6;
  for (bool& allow : coding.allowFill) allow = rng() % 4 != 0;
  coding.blockTypeRuns = rng() % 2;
  coding.autoTrees = rng() % 5 != 0;
  return plane;
}

std::vector<uint8_t> Reference(std::mt19937& rng, size_t bytes) {
  std::vector<uint8_t> ref(bytes);
  for (uint8_t& v : ref) v = uint8_t(rng());
  return ref;
}

TEST(RoundTrip, RandomPlanesDecodeAsTheWriterDrawsThem) {
  std::mt19937 rng(2024);
  const uint32_t sizes[][2] = {{8, 8}, {16, 16}, {24, 40}, {64, 48}, {120, 72}, {328, 24}};
  int planes = 0;
  for (int trial = 0; trial < 240; ++trial) {
    uint32_t width = sizes[trial % 6][0], height = sizes[trial % 6][1];
    Options o;
    o.oldColours = trial % 5 == 4;
    enc::PlaneSpec spec = RandomPlane(rng, width, height, o);
    enc::BitWriter w;
    std::string error;
    ASSERT_TRUE(enc::WritePlane(w, spec, o.oldColours, &error)) << error;
    std::vector<uint8_t> bytes = enc::WriterBytes(w);

    // Pitch and buffer rows with room beside the area, as in a movie.
    test::PlaneHarness p(width, height, width + 16, height + 8);
    p.ref = Reference(rng, p.ref.size());
    p.openFlags = o.oldColours ? kBeforeRevisionI : 0;
    p.features = trial % 2 == 1 ? CpuFeatures() : 0;  // both transforms must give the writer's pixels
    std::vector<uint8_t> expected = p.dst;
    enc::DrawPlane(spec, p.ref.data(), expected.data(), p.pitch);
    PlaneOutcome outcome = p.Decode(bytes);
    ASSERT_TRUE(outcome.clean) << "trial " << trial;
    EXPECT_EQ(outcome.bytesUsed, bytes.size()) << "trial " << trial;
    for (uint32_t y = 0; y < p.planeRows; ++y)
      for (uint32_t x = 0; x < p.pitch; ++x)
        ASSERT_EQ(p.At(x, y), expected[size_t(y) * p.pitch + x])
            << "trial " << trial << " at " << x << "," << y << " block type "
            << int(spec.blocks[(y / 8) * (width / 8) + x / 8].type);
    ++planes;
  }
  EXPECT_EQ(planes, 240);
}

TEST(RoundTrip, FramesOfEveryRevisionWithAlphaAndGrey) {
  std::mt19937 rng(99);
  const uint32_t sizes[][2] = {{33, 17}, {64, 48}, {17, 50}};
  for (int trial = 0; trial < 48; ++trial) {
    uint32_t width = sizes[trial % 3][0], height = sizes[trial % 3][1];
    char revision = char('f' + trial % 4);
    bool alpha = trial % 3 == 1, grey = trial % 5 == 2;
    Options o;
    o.oldColours = revision < 'i';
    uint32_t lw = enc::LumaAreaWidth(width), lh = enc::LumaAreaHeight(height);
    uint32_t cw = enc::ChromaAreaWidth(width), ch = enc::ChromaAreaHeight(height);
    enc::PlaneSpec luma = RandomPlane(rng, lw, lh, o);
    enc::PlaneSpec alphaPlane = RandomPlane(rng, lw, lh, o);
    enc::PlaneSpec c0 = RandomPlane(rng, cw, ch, o), c1 = RandomPlane(rng, cw, ch, o);
    enc::FrameSpec frame;
    frame.revision = revision;
    frame.luma = &luma;
    if (alpha) frame.alpha = &alphaPlane;
    if (!grey) frame.chroma[0] = &c0, frame.chroma[1] = &c1;
    std::vector<uint8_t> data;
    std::string error;
    ASSERT_TRUE(enc::WriteVideoFrame(frame, data, &error)) << error;

    // Decoded twice: once as written, once with alpha asked for (when present)
    // and the planes' reference frames random.
    PlaneSet ps{};
    ps.chromaPitch = cw;
    ps.chromaRows = ch;
    ps.pitch = 2 * cw;
    ps.rows = 2 * ch;
    size_t lumaBytes = size_t(ps.pitch) * ps.rows, chromaBytes = size_t(cw) * ch;
    std::vector<uint8_t> frames[2] = {Reference(rng, lumaBytes + 2 * chromaBytes),
                                      Reference(rng, lumaBytes + 2 * chromaBytes)};
    std::vector<uint8_t> alphas[2] = {Reference(rng, lumaBytes), Reference(rng, lumaBytes)};
    std::vector<uint8_t> cells(size_t(ps.pitch / 16) * (ps.rows / 16) + 16, 0);
    for (int i = 0; i < 2; ++i) {
      ps.frameBuffers[i] = frames[i].data();
      ps.alphaBuffers[i] = alphas[i].data();
    }
    ps.changedCells = cells.data();
    ps.current = trial & 1;
    test::PlaneHarness bundles(ps.pitch, 8);
    std::vector<uint8_t> expected = frames[ps.current ^ 1];
    std::vector<uint8_t> expectedAlpha = alphas[ps.current ^ 1];
    const uint8_t* ref = frames[ps.current].data();
    enc::DrawPlane(luma, ref, expected.data(), ps.pitch);
    if (!grey) {
      enc::DrawPlane(c0, ref + lumaBytes, expected.data() + lumaBytes, cw);
      enc::DrawPlane(c1, ref + lumaBytes + chromaBytes, expected.data() + lumaBytes + chromaBytes,
                     cw);
    }
    if (alpha) enc::DrawPlane(alphaPlane, alphas[ps.current].data(), expectedAlpha.data(), ps.pitch);

    uint32_t flags = (revision < 'i' ? kBeforeRevisionI : 0) | (revision < 'h' ? 0x10000 : 0) |
                     (grey ? kDecodeGrey : 0) | (alpha ? kDecodeAlpha : 0) |
                     (trial % 4 < 2 ? kNoProcessorExtensions : 0);
    EXPECT_EQ(DecodeVideoFrame(&ps, bundles.bufferPointers, data.data(), uint32_t(data.size()),
                               width, height, 1, flags, alpha ? kVideoFlagAlpha : 0),
              1)
        << "trial " << trial;
    EXPECT_EQ(frames[ps.current ^ 1], expected) << "trial " << trial << " revision " << revision;
    EXPECT_EQ(alphas[ps.current ^ 1], expectedAlpha) << "trial " << trial;
  }
}

}  // namespace
}  // namespace kivo
