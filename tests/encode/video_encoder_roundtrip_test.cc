// SPDX-License-Identifier: BSD-2-Clause
// The encoder's own picture of every frame against what the decoder makes of
// the frame's bytes, sample for sample, over moving synthetic content, every
// revision, alpha, grey, key frames and odd sizes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "encode/decode_harness.h"
#include "encode/video_encoder.h"
#include "encode/video_encoder_content.h"

namespace kivo::encode {
namespace {

using testing::MakePicture;
using testing::Picture;
using testing::Scene;

struct Case {
  Scene scene;
  uint32_t width, height;
  char revision;
  bool alpha, grey;
  uint32_t quality, keyInterval, target;
};

// First differing (x, y) of plane p between the coder and the decoder, or "".
std::string Compare(const VideoCoder& coder, Picture& pic, int p) {
  const VideoCoderPlane& plane = coder.planes[p];
  const uint8_t* mine = CodedPlane(coder, p);
  const uint8_t* base = p == 0 ? pic.set.alphaBuffers[pic.set.current] : pic.set.frameBuffers[pic.set.current];
  uint32_t pitch = pic.pitch;
  if (p >= 2) {
    base += size_t(pic.pitch) * pic.rows + (p == 3 ? size_t(pic.chromaPitch) * pic.chromaRows : 0);
    pitch = pic.chromaPitch;
  }
  for (uint32_t y = 0; y < plane.height; ++y)
    for (uint32_t x = 0; x < plane.width; ++x)
      if (mine[size_t(y) * plane.width + x] != base[size_t(y) * pitch + x])
        return "plane " + std::to_string(p) + " at " + std::to_string(x) + "," + std::to_string(y);
  return "";
}

void RunCase(const Case& c, uint32_t frames) {
  VideoCoderSettings s;
  s.width = c.width;
  s.height = c.height;
  s.revision = c.revision;
  s.alpha = c.alpha;
  s.grey = c.grey;
  s.quality = c.quality;
  s.keyInterval = c.keyInterval;
  s.targetBytesPerSecond = c.target;
  s.rateNum = 10;
  VideoCoder coder;
  std::string error;
  ASSERT_TRUE(OpenVideoCoder(coder, s, &error)) << error;
  Picture pic(c.width, c.height, c.alpha, false);
  uint32_t openFlags = (c.alpha ? kDecodeAlpha : 0) | (c.grey ? kDecodeGrey : 0) |
                       (c.revision < 'i' ? kBeforeRevisionI : 0);
  uint32_t videoFlags = c.alpha ? kVideoFlagAlpha : 0;
  std::vector<uint8_t> bytes;
  for (uint32_t f = 0; f < frames; ++f) {
    bool key = false;
    ASSERT_TRUE(EncodeVideoPicture(coder, MakePicture(c.scene, c.width, c.height, f, c.alpha), false, bytes,
                                   &key, &error))
        << error;
    if (f == 0 || (c.keyInterval && f % c.keyInterval == 0)) {
      EXPECT_TRUE(key) << "frame " << f;
    }
    ASSERT_EQ(pic.Decode(bytes, openFlags, videoFlags), 1) << "frame " << f;
    for (int p = 0; p < 4; ++p) {
      if (coder.planes[p].present) {
        ASSERT_EQ(Compare(coder, pic, p), "") << "frame " << f;
      }
    }
  }
}

TEST(VideoEncoderRoundTrip, ReconstructionEqualsDecoderOnEveryScene) {
  const Scene scenes[] = {Scene::kPan, Scene::kFade, Scene::kNoise, Scene::kFlat, Scene::kText, Scene::kMixed};
  for (Scene scene : scenes) {
    SCOPED_TRACE(int(scene));
    for (uint32_t quality : {20u, 75u, 100u}) {
      SCOPED_TRACE(quality);
      RunCase({scene, 96, 64, 'i', false, false, quality, 0, 0}, 6);
    }
  }
}

TEST(VideoEncoderRoundTrip, RevisionsAlphaGreyKeysAndOddSizes) {
  RunCase({Scene::kMixed, 83, 45, 'i', true, false, 60, 3, 0}, 7);
  RunCase({Scene::kPan, 50, 37, 'h', false, false, 70, 0, 0}, 5);
  RunCase({Scene::kText, 64, 40, 'g', false, false, 90, 2, 0}, 5);
  RunCase({Scene::kFade, 72, 24, 'f', true, false, 40, 0, 0}, 5);
  RunCase({Scene::kMixed, 57, 63, 'i', false, true, 80, 0, 0}, 5);
  // A tight rate target drives lambda up to the cheapest codings.
  RunCase({Scene::kNoise, 64, 48, 'i', false, false, 90, 0, 3000}, 12);
}

}  // namespace
}  // namespace kivo::encode
