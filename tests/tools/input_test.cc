// SPDX-License-Identifier: BSD-2-Clause
// The encoder's input readers: YUV4MPEG2, WAV and PNG sequences, the layouts
// they accept and the errors for those they refuse.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "encode/input_png.h"
#include "encode/input_wav.h"
#include "encode/input_y4m.h"
#include "support/test_movies.h"

#if KIVO_HAVE_PNG
#include <png.h>
#endif

namespace kivo::encode {
namespace {

std::string Write(const std::string& name, const std::string& bytes) {
  return test::WriteTestFile(name, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

std::string Plane(size_t n, uint8_t first) {
  std::string s(n, 0);
  for (size_t i = 0; i < n; ++i) s[i] = char(first + i);
  return s;
}

TEST(Y4mInput, ReadsPlanesInOrderAndStopsCleanly) {
  // 5 x 3: chroma 3 x 2. Y4M stores Cb before Cr; frame headers may carry fields.
  const std::string frame = Plane(15, 10) + Plane(6, 100) + Plane(6, 200);
  const std::string path = Write("in420.y4m", "YUV4MPEG2 W5 H3 F30000:1001 It A1:1 C420mpeg2 XYSCSS=420MPEG2\n"
                                               "FRAME\n" + frame + "FRAME Ixyz\n" + frame);
  Y4mInput in;
  std::string error;
  ASSERT_TRUE(OpenY4m(in, path, &error)) << error;
  EXPECT_EQ(in.width, 5u);
  EXPECT_EQ(in.height, 3u);
  EXPECT_EQ(in.rateNum, 30000u);
  EXPECT_EQ(in.rateDen, 1001u);
  EXPECT_FALSE(in.mono);
  EXPECT_EQ(EstimateY4mFrames(in), 2u);
  SourcePicture p;
  for (int n = 0; n < 2; ++n) {
    ASSERT_EQ(ReadY4mFrame(in, p, &error), 1) << error;
    ASSERT_EQ(p.luma.size(), 15u);
    ASSERT_EQ(p.cb.size(), 6u);
    EXPECT_EQ(p.luma[14], 24);
    EXPECT_EQ(p.cb[0], 100);
    EXPECT_EQ(p.cr[5], 205);
  }
  EXPECT_EQ(ReadY4mFrame(in, p, &error), 0);
  CloseY4m(in);
}

TEST(Y4mInput, MonoAndDefaultLayout) {
  Y4mInput in;
  std::string error;
  ASSERT_TRUE(OpenY4m(in, Write("mono.y4m", "YUV4MPEG2 W4 H2 Cmono\nFRAME\n" + Plane(8, 1)), &error));
  EXPECT_TRUE(in.mono);
  EXPECT_EQ(in.rateNum, 0u);
  SourcePicture p;
  ASSERT_EQ(ReadY4mFrame(in, p, &error), 1);
  EXPECT_TRUE(p.cr.empty() && p.cb.empty());
  EXPECT_EQ(p.luma[7], 8);
  CloseY4m(in);
  // No C field means 4:2:0.
  ASSERT_TRUE(OpenY4m(in, Write("plain.y4m", "YUV4MPEG2 W2 H2\nFRAME\n" + Plane(6, 1)), &error));
  EXPECT_FALSE(in.mono);
  ASSERT_EQ(ReadY4mFrame(in, p, &error), 1);
  EXPECT_EQ(p.cr[0], 6);
  CloseY4m(in);
}

TEST(Y4mInput, RefusesWhatItCannotRead) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* text;  // part of the message
  } cases[] = {
      {"c444.y4m", "YUV4MPEG2 W4 H4 C444\n", "C444"},
      {"p10.y4m", "YUV4MPEG2 W4 H4 C420p10\n", "C420p10"},
      {"nosize.y4m", "YUV4MPEG2 W4 C420\n", "size"},
      {"huge.y4m", "YUV4MPEG2 W99999 H4\n", "size"},
      {"badw.y4m", "YUV4MPEG2 Wx H4\n", "'Wx'"},
      {"notyuv.y4m", "RIFF....WAVE", "not a YUV4MPEG2"},
  };
  for (const Case& c : cases) {
    Y4mInput in;
    std::string error;
    EXPECT_FALSE(OpenY4m(in, Write(c.name, c.bytes), &error)) << c.name;
    EXPECT_NE(error.find(c.text), std::string::npos) << c.name << ": " << error;
    EXPECT_EQ(in.file, nullptr);
  }
  Y4mInput in;
  std::string error;
  EXPECT_FALSE(OpenY4m(in, test::TestFolder() + "/missing.y4m", &error));
  // A frame cut short, and a frame without its header.
  SourcePicture p;
  ASSERT_TRUE(OpenY4m(in, Write("cut.y4m", "YUV4MPEG2 W4 H2\nFRAME\n" + Plane(11, 0)),
                      &error));
  EXPECT_EQ(ReadY4mFrame(in, p, &error), -1);
  EXPECT_NE(error.find("frame 1"), std::string::npos) << error;
  CloseY4m(in);
  ASSERT_TRUE(OpenY4m(in, Write("nohead.y4m", "YUV4MPEG2 W4 H2\nFRAME\n" + Plane(12, 0) + "FRAMX\n"), &error));
  EXPECT_EQ(ReadY4mFrame(in, p, &error), 1);
  EXPECT_EQ(ReadY4mFrame(in, p, &error), -1);
  EXPECT_NE(error.find("frame 2"), std::string::npos) << error;
  CloseY4m(in);
}

// A WAV file from its parts.
std::string Le(uint32_t v, int bytes) {
  std::string s;
  for (int i = 0; i < bytes; ++i) s.push_back(char(v >> (8 * i)));
  return s;
}
std::string Wav(uint32_t tag, uint32_t channels, uint32_t rate, uint32_t bits, const std::string& data,
                uint32_t dataSize, const std::string& extra = "") {
  std::string fmt = Le(tag, 2) + Le(channels, 2) + Le(rate, 4) + Le(rate * channels * bits / 8, 4) +
                    Le(channels * bits / 8, 2) + Le(bits, 2);
  if (tag == 0xFFFE) fmt += Le(22, 2) + Le(bits, 2) + Le(3, 4) + Le(1, 2) + std::string(14, '\x10');
  std::string body = "WAVE" + extra + "fmt " + Le(uint32_t(fmt.size()), 4) + fmt + "data" + Le(dataSize, 4) + data;
  return "RIFF" + Le(uint32_t(body.size()), 4) + body;
}

TEST(WavInput, ReadsPcmLayoutsInPieces) {
  WavInput in;
  std::string error;
  int16_t out[16];
  // 8-bit mono: unsigned samples around 128, widened to 16 bits. An odd-sized
  // chunk ahead of the format is stepped over with its pad byte.
  ASSERT_TRUE(OpenWav(in, Write("m8.wav", Wav(1, 1, 11025, 8, std::string("\x80\xFF\x00\x81\x7F", 5), 5, "LIST" + Le(3, 4) + std::string("abc\0", 4))),
                      &error))
      << error;
  EXPECT_EQ(in.rate, 11025u);
  EXPECT_EQ(WavFrames(in), 5u);
  ASSERT_EQ(ReadWavSamples(in, out, 2, &error), 2);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 127 * 256);
  ASSERT_EQ(ReadWavSamples(in, out, 16, &error), 3);
  EXPECT_EQ(out[0], -128 * 256);
  EXPECT_EQ(out[1], 256);
  EXPECT_EQ(out[2], -256);
  EXPECT_EQ(ReadWavSamples(in, out, 16, &error), 0);
  CloseWav(in);
  // 16-bit stereo in the extensible header; a streamed size of all ones
  // reads what the file holds, whole frames only.
  const std::string data = Le(0x1234, 2) + Le(0xFFFE, 2) + Le(0x8000, 2) + Le(7, 2) + "\x01";
  ASSERT_TRUE(OpenWav(in, Write("s16.wav", Wav(0xFFFE, 2, 65535, 16, data, 0xFFFFFFFF)), &error)) << error;
  EXPECT_EQ(in.channels, 2u);
  EXPECT_EQ(in.rate, 65535u);
  EXPECT_EQ(WavFrames(in), 2u);
  ASSERT_EQ(ReadWavSamples(in, out, 8, &error), 2);
  EXPECT_EQ(out[0], 0x1234);
  EXPECT_EQ(out[1], -2);
  EXPECT_EQ(out[2], -32768);
  EXPECT_EQ(out[3], 7);
  CloseWav(in);
}

TEST(WavInput, RefusesOtherAudio) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* text;
  } cases[] = {
      {"float.wav", Wav(3, 1, 44100, 32, std::string(8, 0), 8), "not PCM"},
      {"b24.wav", Wav(1, 1, 44100, 24, std::string(6, 0), 6), "24-bit"},
      {"ch6.wav", Wav(1, 6, 44100, 16, std::string(12, 0), 12), "6 channels"},
      {"r96.wav", Wav(1, 2, 96000, 16, std::string(8, 0), 8), "96000 Hz"},
      {"r0.wav", Wav(1, 2, 0, 16, std::string(8, 0), 8), "0 Hz"},
      {"riff.wav", "RIFX1234WAVE", "not a WAV"},
      {"nodata.wav", "RIFF" + Le(4, 4) + "WAVE", "no format"},
  };
  for (const Case& c : cases) {
    WavInput in;
    std::string error;
    EXPECT_FALSE(OpenWav(in, Write(c.name, c.bytes), &error)) << c.name;
    EXPECT_NE(error.find(c.text), std::string::npos) << c.name << ": " << error;
    EXPECT_EQ(in.file, nullptr);
  }
}

#if KIVO_HAVE_PNG

std::string WritePng(const std::string& name, uint32_t w, uint32_t h, bool alpha, uint8_t seed) {
  const std::string path = test::TestFolder() + "/" + name;
  png_image image;
  memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = w;
  image.height = h;
  image.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  std::vector<uint8_t> pixels(size_t(w) * h * (alpha ? 4 : 3));
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(seed + i * 5);
  EXPECT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr));
  return path;
}

TEST(PngInput, SequenceByPatternWithAlphaAndChangingSizeRefused) {
  ASSERT_TRUE(PngSupported());
  for (int i = 1; i <= 3; ++i) WritePng("seq" + std::string(i < 10 ? "00" : "0") + std::to_string(i) + ".png", 6, 5, true, uint8_t(i));
  std::string error;
  const std::vector<std::string> files = ExpandPngPattern(test::TestFolder() + "/seq%03d.png", &error);
  ASSERT_EQ(files.size(), 3u) << error;  // counts from 1 when there is no 0
  EXPECT_NE(files[2].find("seq003.png"), std::string::npos);
  PngInput in;
  ASSERT_TRUE(OpenPngSequence(in, files, &error)) << error;
  EXPECT_TRUE(in.firstHasAlpha);
  PngOptions options;
  options.alpha = true;
  SourcePicture p;
  int frames = 0;
  while (ReadPngFrame(in, options, p, &error) == 1) {
    ++frames;
    ASSERT_EQ(p.alpha.size(), 30u);
    EXPECT_EQ(p.alpha[1], uint8_t(frames + 7 * 5));  // byte 7 of the RGBA rows
    EXPECT_EQ(p.cr.size(), 9u);
  }
  EXPECT_EQ(frames, 3);

  // A picture of another size stops the sequence with a message naming it.
  const std::string other = WritePng("other.png", 6, 4, false, 0);
  ASSERT_TRUE(OpenPngSequence(in, {files[0], other}, &error));
  EXPECT_EQ(ReadPngFrame(in, options, p, &error), 1);
  EXPECT_EQ(ReadPngFrame(in, options, p, &error), -1);
  EXPECT_NE(error.find("other.png"), std::string::npos) << error;
  EXPECT_NE(error.find("6x4"), std::string::npos) << error;

  // Grey: luma only; a file that is no PNG; a pattern that matches nothing.
  options = PngOptions{};
  options.grey = true;
  ASSERT_TRUE(OpenPngSequence(in, {other}, &error));
  ASSERT_EQ(ReadPngFrame(in, options, p, &error), 1);
  EXPECT_TRUE(p.cr.empty() && p.alpha.empty());
  EXPECT_FALSE(OpenPngSequence(in, {Write("fake.png", "not a picture")}, &error));
  EXPECT_NE(error.find("fake.png"), std::string::npos);
  EXPECT_TRUE(ExpandPngPattern(test::TestFolder() + "/none%d.png", &error).empty());
  EXPECT_TRUE(ExpandPngPattern(test::TestFolder() + "/bad%x.png", &error).empty());
  EXPECT_NE(error.find("%d"), std::string::npos) << error;
}

#endif

}  // namespace
}  // namespace kivo::encode
