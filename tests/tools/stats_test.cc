// SPDX-License-Identifier: BSD-2-Clause
// kivdump --stats against the encoder's own record of what it wrote: block
// types per plane and frame, sizes, key bits, the stepping over audio
// packets, old revisions without the luma size word, and malformed frames;
// kivdump --compare against sources with known errors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "encode/container_writer.h"
#include "encode/video_encoder.h"
#include "platform/platform.h"
#include "support/test_movies.h"

#if !defined(_WIN32)
#include <sys/wait.h>

namespace kivo {
namespace {

struct DumpRun {
  int code = -1;
  std::string out, err;
};

std::string ReadAll(const std::string& path) {
  std::string text;
  if (FILE* f = fopen(path.c_str(), "rb")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    fclose(f);
  }
  return text;
}

DumpRun Kivdump(const std::string& args) {
  char self[4096];
  std::string tool = "kivdump";
  if (os::ProgramFilePath(self, sizeof self)) {
    std::string dir = self;
    dir = dir.substr(0, dir.rfind('/'));
    tool = dir.substr(0, dir.rfind('/')) + "/tools/kivdump";
  }
  const std::string base = test::TestFolder() + "/kivo_stats_run";
  const int status = system((tool + " " + args + " >" + base + ".out 2>" + base + ".err").c_str());
  DumpRun r;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = ReadAll(base + ".out");
  r.err = ReadAll(base + ".err");
  return r;
}

struct PlaneRow {
  char plane = 0;
  uint64_t bytes = 0;
  std::vector<uint64_t> counts;  // the eleven columns
  bool malformed = false;
};
struct FrameRow {
  uint32_t frame = 0, size = 0;
  bool key = false;
  std::vector<PlaneRow> planes;
};
struct Table {
  std::vector<FrameRow> frames;
  std::vector<PlaneRow> totals;  // per plane, then "all"
  uint64_t totalBytes = 0, keys = 0;
};

PlaneRow ReadPlane(std::istringstream& in, char plane, const std::string& rest) {
  PlaneRow p;
  p.plane = plane;
  in >> p.bytes;
  for (int c = 0; c < 11; ++c) {
    uint64_t v = 0;
    in >> v;
    p.counts.push_back(v);
  }
  p.malformed = rest.find("malformed") != std::string::npos;
  return p;
}

Table Parse(const std::string& text) {
  Table t;
  std::istringstream lines(text);
  std::string line;
  bool inTotals = false;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream in(line);
    std::string first;
    in >> first;
    if (first == "frame" || first == "bytes") continue;
    if (first == "total") {
      inTotals = true;
      std::string plane;
      in >> t.totalBytes >> t.keys >> plane;
      t.totals.push_back(ReadPlane(in, plane[0], line));
    } else if (first == "A" || first == "Y" || first == "U" || first == "V" || first == "all") {
      PlaneRow p = ReadPlane(in, first == "all" ? '*' : first[0], line);
      if (inTotals)
        t.totals.push_back(p);
      else if (!t.frames.empty())
        t.frames.back().planes.push_back(p);
    } else {
      FrameRow f;
      f.frame = uint32_t(std::stoul(first));
      std::string key, plane;
      in >> f.size >> key >> plane;
      f.key = key == "K";
      if (plane.size() == 1) f.planes.push_back(ReadPlane(in, plane[0], line));
      t.frames.push_back(f);
    }
  }
  return t;
}

struct Coded {
  std::vector<uint8_t> movie;
  std::vector<std::vector<uint8_t>> video;       // per frame
  std::vector<std::vector<uint32_t>> counts;     // per frame, 4 planes x 16
  std::vector<bool> keys;
};

// A picture with a drifting wave on the left, a flat right top, noise at the
// right bottom that moves, and an alpha ramp; frames are coded by rate and
// distortion and every frame's counts kept.
Coded Encode(char revision, bool alpha, bool grey, bool withAudio, uint32_t frames) {
  encode::VideoCoderSettings s;
  s.revision = revision;
  s.width = 72;
  s.height = 56;
  s.alpha = alpha;
  s.grey = grey;
  s.quality = 60;
  encode::VideoCoder coder;
  std::string error;
  EXPECT_TRUE(encode::OpenVideoCoder(coder, s, &error)) << error;
  Coded c;
  std::vector<encode::FramePacket> packets;
  for (uint32_t f = 0; f < frames; ++f) {
    encode::SourcePicture pic;
    pic.width = s.width;
    pic.height = s.height;
    pic.luma.resize(size_t(s.width) * s.height);
    for (uint32_t y = 0; y < s.height; ++y)
      for (uint32_t x = 0; x < s.width; ++x) {
        uint8_t v;
        if (x < 40)
          v = uint8_t(128 + 90 * std::sin((x + 3.0 * f) / 5.0) * std::cos(y / 6.0));
        else if (y < 24)
          v = 200;
        else
          v = uint8_t((x + 2 * f) * 37 % 101 * 2 + (y * 53) % 7);
        pic.luma[y * s.width + x] = v;
      }
    if (!grey) {
      const size_t n = size_t(encode::SourceChromaWidth(s.width)) * encode::SourceChromaHeight(s.height);
      pic.cr.assign(n, 0);
      pic.cb.assign(n, 0);
      for (size_t i = 0; i < n; ++i) {
        pic.cr[i] = uint8_t(100 + (i % 36) + f);
        pic.cb[i] = uint8_t(150 - (i / 36) * 3);
      }
    }
    if (alpha) {
      pic.alpha.resize(pic.luma.size());
      for (size_t i = 0; i < pic.alpha.size(); ++i) pic.alpha[i] = uint8_t(i % s.width < 20 ? 0 : 255);
    }
    encode::FramePacket p;
    bool key = false;
    EXPECT_TRUE(encode::EncodeVideoPicture(coder, pic, f == 3, p.video, &key, &error)) << error;
    p.key = key;
    if (withAudio) {
      // Audio packets are opaque to the video walk: only their sizes matter.
      std::vector<uint8_t> audio(f % 2 ? 0 : 10 + 4 * f, uint8_t(0xA5));
      p.audio.push_back(audio);
    }
    c.video.push_back(p.video);
    c.keys.push_back(key);
    c.counts.emplace_back(&coder.counts[0][0], &coder.counts[0][0] + 64);
    packets.push_back(p);
  }
  encode::MovieLayout layout;
  layout.revision = revision;
  layout.width = s.width;
  layout.height = s.height;
  layout.videoFlags = (alpha ? 0x100000u : 0u) | (grey ? 0x20000u : 0u);
  if (withAudio) layout.tracks.push_back({0xC0005622u, 7, 4096});
  c.movie = encode::BuildMovie(layout, packets);
  return c;
}

void ExpectCountsMatch(const Coded& c, const Table& t, const std::string& planes) {
  ASSERT_EQ(t.frames.size(), c.video.size());
  const std::string order = "AYUV";
  std::vector<uint64_t> sums(4 * 11, 0);
  for (size_t f = 0; f < t.frames.size(); ++f) {
    const FrameRow& row = t.frames[f];
    EXPECT_EQ(row.frame, f + 1);
    EXPECT_EQ(row.key, bool(c.keys[f])) << "frame " << f + 1;
    ASSERT_EQ(row.planes.size(), planes.size()) << "frame " << f + 1;
    for (size_t i = 0; i < planes.size(); ++i) {
      const PlaneRow& p = row.planes[i];
      EXPECT_EQ(p.plane, planes[i]);
      EXPECT_FALSE(p.malformed) << "frame " << f + 1 << " plane " << p.plane;
      const size_t k = order.find(p.plane);
      for (int type = 0; type < 10; ++type)
        EXPECT_EQ(p.counts[type], c.counts[f][k * 16 + type])
            << "frame " << f + 1 << " plane " << p.plane << " type " << type;
      EXPECT_EQ(p.counts[10], 0u);
      for (int col = 0; col < 11; ++col) sums[k * 11 + col] += p.counts[col];
    }
  }
  // Totals add the frames up, per plane.
  ASSERT_EQ(t.totals.size(), planes.size() + 1);
  for (size_t i = 0; i < planes.size(); ++i) {
    const size_t k = order.find(t.totals[i].plane);
    for (int col = 0; col < 11; ++col) EXPECT_EQ(t.totals[i].counts[col], sums[k * 11 + col]);
  }
}

TEST(KivdumpStats, CountsAreTheEncodersPerFramePlaneAndType) {
  const Coded c = Encode('i', true, false, true, 6);
  const std::string path = test::WriteTestFile("stats_alpha.kiv", c.movie);
  const DumpRun r = Kivdump("'" + path + "' --stats");
  ASSERT_EQ(r.code, 0) << r.err;
  const Table t = Parse(r.out);
  ExpectCountsMatch(c, t, "AYUV");
  ASSERT_EQ(t.frames.size(), 6u);

  // The content uses many types; the table must tell them apart.
  uint32_t typesSeen = 0;
  for (int type = 0; type < 10; ++type) typesSeen += t.totals.back().counts[type] > 0;
  EXPECT_GE(typesSeen, 5u);

  uint64_t sizes = 0, keys = 0;
  for (size_t f = 0; f < t.frames.size(); ++f) {
    const FrameRow& row = t.frames[f];
    // Sizes: the packet holds the audio word and packet, then the video.
    const uint32_t audio = f % 2 ? 0 : 10 + 4 * uint32_t(f);
    const uint32_t packet = 4 + audio + uint32_t(c.video[f].size());
    EXPECT_EQ(row.size, packet + (packet & 1)) << "frame " << f + 1;  // packets are kept even
    // The planes' bytes and the two size words make up the video data.
    uint64_t planes = 8;
    for (const PlaneRow& p : row.planes) planes += p.bytes;
    EXPECT_EQ(planes, c.video[f].size()) << "frame " << f + 1;
    sizes += row.size;
    keys += row.key;
  }
  EXPECT_EQ(t.totalBytes, sizes);
  EXPECT_EQ(t.keys, keys);
  EXPECT_TRUE(c.keys[0]);
  EXPECT_TRUE(t.frames[3].key);  // forced
}

TEST(KivdumpStats, OldRevisionGreyMovieHasNoLumaSizeWord) {
  const Coded c = Encode('h', false, true, false, 4);
  const std::string path = test::WriteTestFile("stats_grey_h.kiv", c.movie);
  const DumpRun r = Kivdump("'" + path + "' --stats");
  ASSERT_EQ(r.code, 0) << r.err;
  const Table t = Parse(r.out);
  ExpectCountsMatch(c, t, "Y");
  for (size_t f = 0; f < t.frames.size(); ++f)
    EXPECT_EQ(t.frames[f].planes[0].bytes, c.video[f].size()) << "frame " << f + 1;
}

TEST(KivdumpStats, MalformedFramesAreMarkedAndLaterFramesStillCounted) {
  Coded c = Encode('i', false, false, false, 4);
  // Frame 2's video data cut to a third: its planes run out, frame 3 is whole.
  std::vector<encode::FramePacket> packets(4);
  for (size_t f = 0; f < 4; ++f) {
    packets[f].key = c.keys[f];
    packets[f].video = c.video[f];
  }
  packets[1].video.resize(packets[1].video.size() / 3);
  encode::MovieLayout layout;
  layout.width = 72;
  layout.height = 56;
  const std::string path = test::WriteTestFile("stats_cut.kiv", encode::BuildMovie(layout, packets));
  const DumpRun r = Kivdump("'" + path + "' --stats");
  ASSERT_EQ(r.code, 0) << r.err;
  const Table t = Parse(r.out);
  ASSERT_EQ(t.frames.size(), 4u);
  bool marked = false;
  for (const PlaneRow& p : t.frames[1].planes) marked = marked || p.malformed;
  EXPECT_TRUE(marked) << r.out;
  for (size_t f : {size_t(0), size_t(2), size_t(3)}) {
    ASSERT_EQ(t.frames[f].planes.size(), 3u);
    for (const PlaneRow& p : t.frames[f].planes) EXPECT_FALSE(p.malformed) << "frame " << f + 1;
  }
  // Frame 1 is untouched, so its counts are still the encoder's.
  for (int type = 0; type < 10; ++type) EXPECT_EQ(t.frames[0].planes[0].counts[type], c.counts[0][16 + type]);
  EXPECT_NE(r.out.find("malformed planes"), std::string::npos);

  // A frame index pointing past the file is a row of its own, not a crash.
  std::vector<uint8_t> bytes = encode::BuildMovie(layout, packets);
  const uint32_t tableAt = 44;
  const uint32_t third = uint32_t(bytes[tableAt + 8]) | uint32_t(bytes[tableAt + 9]) << 8 |
                         uint32_t(bytes[tableAt + 10]) << 16 | uint32_t(bytes[tableAt + 11]) << 24;
  const uint32_t far = (third & 1u) | 0x7FFFFF00u;
  for (int i = 0; i < 4; ++i) bytes[tableAt + 8 + i] = uint8_t(far >> (8 * i));
  const DumpRun bad = Kivdump("'" + test::WriteTestFile("stats_far.kiv", bytes) + "' --stats");
  ASSERT_EQ(bad.code, 0) << bad.err;
  EXPECT_NE(bad.out.find("unreadable frame packet"), std::string::npos) << bad.out;

  const DumpRun notMovie = Kivdump("'" + test::WriteTestFile("stats_not.kiv", {'R', 'I', 'F', 'F', 0, 0}) + "' --stats");
  EXPECT_EQ(notMovie.code, 1);
  EXPECT_NE(notMovie.err.find("Not a Kivo file."), std::string::npos) << notMovie.err;
}

// A Y4M file of `frames` pictures whose luma is a pattern in 20..200 plus
// `lift`, and whose chroma is a ramp.
std::string WriteY4m(const std::string& name, uint32_t w, uint32_t h, uint32_t frames, int lift) {
  std::vector<uint8_t> bytes;
  const std::string header = "YUV4MPEG2 W" + std::to_string(w) + " H" + std::to_string(h) + " F25:1 C420jpeg\n";
  bytes.insert(bytes.end(), header.begin(), header.end());
  const uint32_t cw = (w + 1) / 2, ch = (h + 1) / 2;
  for (uint32_t f = 0; f < frames; ++f) {
    const std::string tag = "FRAME\n";
    bytes.insert(bytes.end(), tag.begin(), tag.end());
    for (uint32_t i = 0; i < w * h; ++i) bytes.push_back(uint8_t(20 + (i * 7 + f * 3) % 181 + lift));
    for (uint32_t i = 0; i < 2 * cw * ch; ++i) bytes.push_back(uint8_t(90 + i % 60));
  }
  return test::WriteTestFile(name, bytes);
}

double Number(const std::string& text, const std::string& after) {
  const size_t at = text.find(after);
  if (at == std::string::npos) return -1;
  return std::stod(text.substr(at + after.size()));
}

TEST(KivdumpCompare, MeasuresTheDecodedPicturesAgainstTheirSource) {
  const std::string source = WriteY4m("cmp_source.y4m", 50, 30, 3, 0);
  const std::string movie = test::TestFolder() + "/cmp_movie.kiv";
  char self[4096];
  ASSERT_TRUE(os::ProgramFilePath(self, sizeof self));
  std::string tools = self;
  tools = tools.substr(0, tools.rfind('/'));
  tools = tools.substr(0, tools.rfind('/')) + "/tools/";
  ASSERT_EQ(system((tools + "kivenc '" + source + "' --lossless --quiet -o '" + movie + "'").c_str()), 0);

  // Exact pictures.
  DumpRun r = Kivdump("'" + movie + "' --compare '" + source + "' --quiet");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Number(r.out, "luma PSNR "), 99.0) << r.out;
  EXPECT_EQ(Number(r.out, "chroma PSNR "), 99.0) << r.out;
  EXPECT_EQ(Number(r.out, "luma SSIM "), 1.0) << r.out;
  EXPECT_NE(r.out.find("3 frames"), std::string::npos) << r.out;

  // Every luma sample 4 off: a mean squared error of 16; chroma still exact;
  // the structure is the same, so SSIM stays near 1.
  const std::string lifted = WriteY4m("cmp_lifted.y4m", 50, 30, 3, 4);
  r = Kivdump("'" + movie + "' --compare '" + lifted + "' --quiet");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NEAR(Number(r.out, "luma PSNR "), 10 * std::log10(255.0 * 255.0 / 16), 0.006) << r.out;
  EXPECT_NEAR(Number(r.out, "lowest frame "), 10 * std::log10(255.0 * 255.0 / 16), 0.006) << r.out;
  EXPECT_EQ(Number(r.out, "chroma PSNR "), 99.0) << r.out;
  const double ssim = Number(r.out, "luma SSIM ");
  EXPECT_GT(ssim, 0.98);
  EXPECT_LT(ssim, 1.0);

  // One frame different: the worst frame is named, the movie's PSNR is that
  // of the mean error over all frames.
  std::vector<uint8_t> bytes;
  {
    FILE* f = fopen(source.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    int c;
    while ((c = fgetc(f)) != EOF) bytes.push_back(uint8_t(c));
    fclose(f);
  }
  const size_t frameBytes = 6 + 50 * 30 + 2 * 25 * 15;
  const size_t second = bytes.size() - 2 * frameBytes + 6;
  for (size_t i = 0; i < 50 * 30; ++i) bytes[second + i] = uint8_t(bytes[second + i] + 8);
  r = Kivdump("'" + movie + "' --compare '" + test::WriteTestFile("cmp_one.y4m", bytes) + "' --quiet");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NEAR(Number(r.out, "luma PSNR "), 10 * std::log10(255.0 * 255.0 / (64.0 / 3)), 0.006) << r.out;
  EXPECT_NEAR(Number(r.out, "lowest frame "), 10 * std::log10(255.0 * 255.0 / 64), 0.006) << r.out;
  EXPECT_NE(r.out.find("(frame 2)"), std::string::npos) << r.out;

  // Sources that do not fit the movie.
  r = Kivdump("'" + movie + "' --compare '" + WriteY4m("cmp_short.y4m", 50, 30, 2, 0) + "' --quiet");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("fewer frames"), std::string::npos) << r.err;
  r = Kivdump("'" + movie + "' --compare '" + WriteY4m("cmp_size.y4m", 48, 30, 3, 0) + "' --quiet");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("48x30"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace kivo

#endif  // !_WIN32
