// SPDX-License-Identifier: BSD-2-Clause
// Every member of the converter family, every display option, colour and
// gray, whole and by changed cells, plain and every fast family the
// processor has: random planes of odd sizes at odd places and all four
// destination alignments, against the per-pixel models.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "convert/harness.h"

namespace kivo::test {
namespace {

struct Family : ConvertFixture {};

std::vector<uint8_t> RandomMap(std::mt19937& rng, const Planes& p, int mode) {
  std::vector<uint8_t> map(size_t(p.pitch / 16) * (p.rows / 16) + 16, 0);
  std::bernoulli_distribution half(0.5);
  for (size_t i = 0; i + 16 < map.size(); ++i) map[i] = mode == 0 ? 0 : half(rng) ? uint8_t(1 + i % 3) : 0;
  return map;
}

TEST_F(Family, EveryFormatOptionAndFamilyMatchesItsModel) {
  std::mt19937 rng(20240611);
  uint32_t align = 0;
  int runs = 0;
  for (int code = 1; code <= 14; ++code) {
    for (uint32_t option = 0; option < 8; ++option) {
      for (int gray = 0; gray < 2; ++gray) {
        for (int family : FamiliesToTest()) {
          for (int changed = 0; changed < 2; ++changed) {
            std::uniform_int_distribution<uint32_t> width(1, changed ? 90 : 75), height(1, changed ? 52 : 37);
            bool alpha = rng() & 1;
            Planes p = RandomPlanes(rng, width(rng), height(rng), alpha);
            Job job;
            job.code = code;
            job.option = option;
            job.gray = gray;
            job.exchange = rng() & 1;
            job.hasAlpha = alpha;
            job.x = rng() % 6;
            job.y = rng() % 3;
            std::vector<uint8_t> map;
            if (changed) {
              map = RandomMap(rng, p, rng() % 4 == 0 ? 0 : 1);
              job.map = map.data();
              job.mapRow = p.pitch / 16;
            } else if (rng() % 2) {
              // A part of the picture, from odd or even source coordinates.
              job.sx = rng() % 4;
              job.sy = rng() % 4;
              if (job.sx >= p.width || job.sy >= p.height) job.sx = job.sy = 0;
              job.width = 1 + rng() % (p.width - job.sx);
              job.height = 1 + rng() % (p.height - job.sy);
            }
            Output out = RunJob(job, p, family, align++ & 3);
            ASSERT_EQ(out.firstDifference, "")
                << "code " << code << " option " << option << " gray " << gray << " " << FamilyName(family)
                << (changed ? " changed" : " full") << " size " << p.width << "x" << p.height << " at " << job.x << ","
                << job.y << " from " << job.sx << "," << job.sy << " area " << job.width << "x" << job.height
                << " alpha " << alpha << " exchange " << job.exchange << " align " << ((align - 1) & 3);
            ++runs;
          }
        }
      }
    }
  }
  EXPECT_GE(runs, 14 * 8 * 2 * 2 * static_cast<int>(FamiliesToTest().size()));
}

// Packed YUV changed cells scattered over bands of many cells, so that the
// walk meets stretches of one cell and of several, with and without the
// pitches the display options double, and (on the wide picture) maps of
// more than 64 cells a band: the stretches, whatever converts them, land
// where the model's areas put them.
TEST_F(Family, PackedYuvScatteredCellsMatchTheModel) {
  std::mt19937 rng(5);
  std::bernoulli_distribution sparse(0.2);
  const Planes pictures[] = {RandomPlanes(rng, 16 * 13 + 5, 16 * 4 + 3, false),
                             RandomPlanes(rng, 16 * 70 + 5, 16 * 2 + 3, false)};
  for (const Planes& p : pictures) {
    const bool wide = p.width > 1024;
    std::vector<uint8_t> map(size_t(p.pitch / 16) * (p.rows / 16) + 16, 0);
    for (int code : {13, 14}) {
      for (uint32_t option : {0u, 2u, 6u}) {
        for (int gray = 0; gray < (wide ? 1 : 2); ++gray) {
          for (int family : FamiliesToTest()) {
            for (uint32_t align = 0; align < (wide ? 1u : 4u); ++align) {
              for (size_t i = 0; i + 16 < map.size(); ++i) map[i] = sparse(rng) ? 1 : 0;
              Job job;
              job.code = code;
              job.option = option;
              job.gray = gray;
              job.exchange = rng() & 1;
              job.map = map.data();
              job.mapRow = p.pitch / 16;
              Output out = RunJob(job, p, family, align);
              ASSERT_EQ(out.firstDifference, "") << p.width << " wide, code " << code << " option " << option
                                                 << " gray " << gray << " " << FamilyName(family) << " align " << align;
            }
          }
        }
      }
    }
  }
}

// The first byte at which two runs' buffers differ, or "" when none does.
std::string FirstDifference(const Output& a, const Output& b) {
  if (a.got.size() != b.got.size()) return "buffers of different sizes";
  for (size_t i = 0; i < a.got.size(); ++i)
    if (a.got[i] != b.got[i])
      return "byte " + std::to_string(i) + ": " + std::to_string(a.got[i]) + " against " + std::to_string(b.got[i]);
  return "";
}

TEST_F(Family, BelowY236TheFastFamiliesGiveThePlainColours) {
  std::mt19937 rng(7);
  for (int code = 1; code <= 14; ++code) {
    for (uint32_t option : {0u, 1u, 3u, 4u, 6u}) {
      Planes p = RandomPlanes(rng, 37 + rng() % 40, 9 + rng() % 20, true, 235);
      Job job;
      job.code = code;
      job.option = option;
      job.hasAlpha = true;
      job.x = rng() % 4;
      for (uint32_t align = 0; align < 4; ++align) {
        Output plain = RunJob(job, p, -1, align);
        for (int family : FamiliesToTest()) {
          if (family < 0) continue;
          Output fast = RunJob(job, p, family, align);
          EXPECT_EQ(FirstDifference(fast, plain), "")
              << "code " << code << " option " << option << " " << FamilyName(family) << " size " << p.width << "x"
              << p.height << " at x " << job.x << " align " << align;
        }
      }
    }
  }
}

}  // namespace
}  // namespace kivo::test
