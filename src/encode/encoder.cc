// SPDX-License-Identifier: BSD-2-Clause
// The simplest exact coding: Unchanged where the reference already holds the
// block, Fill for flat blocks, Raw for the rest.
#include "encode/encoder.h"

#include "encode/encode_error.h"

#include <algorithm>
#include <cstring>

#include "movie/container.h"

namespace kivo::encode {
namespace {

constexpr uint32_t kLargestSide = 16384;

// Copies a w x h source plane into the coded area, repeating the last column
// and row into the padding so that edge blocks stay flat where they can.
void Pad(const uint8_t* src, uint32_t w, uint32_t h, uint8_t* dst, uint32_t aw, uint32_t ah, uint8_t floor) {
  for (uint32_t y = 0; y < ah; ++y) {
    const uint8_t* row = src + size_t(std::min(y, h - 1)) * w;
    uint8_t* out = dst + size_t(y) * aw;
    for (uint32_t x = 0; x < aw; ++x) out[x] = std::max(row[std::min(x, w - 1)], floor);
  }
}

void CodePlane(VideoEncoder::Plane& plane, bool useReference, uint32_t counts[16]) {
  const uint32_t columns = plane.areaWidth / 8, rows = plane.areaHeight / 8, pitch = plane.areaWidth;
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < columns; ++c) {
      BlockSpec& b = plane.spec.blocks[size_t(r) * columns + c];
      const uint8_t* want = plane.wanted.data() + size_t(r) * 8 * pitch + c * 8;
      const uint8_t* ref = plane.reference.data() + size_t(r) * 8 * pitch + c * 8;
      bool same = useReference, flat = true;
      for (uint32_t y = 0; y < 8; ++y) {
        for (uint32_t x = 0; x < 8; ++x) {
          const uint8_t v = want[y * pitch + x];
          b.pixels[y * 8 + x] = v;
          same = same && v == ref[y * pitch + x];
          flat = flat && v == want[0];
        }
      }
      b.type = same ? kUnchanged : flat ? kFill : kRaw;
      ++counts[b.type];
    }
  }
}

}  // namespace

bool OpenVideoEncoder(VideoEncoder& encoder, const EncoderSettings& s, std::string* error) {
  if (s.revision < 'f' || s.revision > 'i') return Fail(error, "the revision must be f, g, h or i");
  if (s.width == 0 || s.height == 0 || s.width > kLargestSide || s.height > kLargestSide)
    return Fail(error, "the picture size must be 1 to 16384 on each side");
  encoder = VideoEncoder{};
  encoder.settings = s;
  for (uint32_t p = 0; p < 4; ++p) {
    VideoEncoder::Plane& plane = encoder.planes[p];
    plane.present = p == 0 ? s.alpha : p == 1 ? true : !s.grey;
    if (!plane.present) continue;
    plane.areaWidth = p < 2 ? LumaAreaWidth(s.width) : ChromaAreaWidth(s.width);
    plane.areaHeight = p < 2 ? LumaAreaHeight(s.height) : ChromaAreaHeight(s.height);
    const size_t bytes = size_t(plane.areaWidth) * plane.areaHeight;
    plane.reference.assign(bytes, 0);
    plane.wanted.assign(bytes, 0);
    InitPlane(plane.spec, plane.areaWidth, plane.areaHeight);
  }
  return true;
}

bool EncodeVideoFrame(VideoEncoder& e, const SourcePicture& picture, bool key, std::vector<uint8_t>& out,
                      bool* isKey, std::string* error) {
  const EncoderSettings& s = e.settings;
  const uint8_t* sources[4];
  if (!PlanesInCodingOrder(picture, s.width, s.height, s.revision, s.alpha, sources, error)) return false;
  const uint8_t floor = SampleFloor(s.revision);
  const bool useReference = e.haveReference && !key;
  e.lastCounts = BlockCounts{};
  bool anyUnchanged = false;
  for (uint32_t p = 0; p < 4; ++p) {
    VideoEncoder::Plane& plane = e.planes[p];
    if (!plane.present) continue;
    if (sources[p]) {
      const uint32_t w = p < 2 ? s.width : SourceChromaWidth(s.width);
      const uint32_t h = p < 2 ? s.height : SourceChromaHeight(s.height);
      Pad(sources[p], w, h, plane.wanted.data(), plane.areaWidth, plane.areaHeight, floor);
    } else {
      // A mono source in a colour movie: neutral chroma.
      std::fill(plane.wanted.begin(), plane.wanted.end(), uint8_t(128));
    }
    CodePlane(plane, useReference, e.lastCounts.counts[p]);
    anyUnchanged = anyUnchanged || e.lastCounts.counts[p][kUnchanged] > 0;
  }
  FrameSpec frame;
  frame.revision = s.revision;
  frame.alpha = s.alpha ? &e.planes[0].spec : nullptr;
  frame.luma = &e.planes[1].spec;
  if (!s.grey) {
    frame.chroma[0] = &e.planes[2].spec;
    frame.chroma[1] = &e.planes[3].spec;
  }
  std::string why;
  if (!WriteVideoFrame(frame, out, &why)) return Fail(error, "video coding failed: " + why);
  // Raw and Fill reproduce the wanted picture exactly: it is the decoder's
  // next reference.
  for (VideoEncoder::Plane& plane : e.planes)
    if (plane.present) plane.reference.swap(plane.wanted);
  e.haveReference = true;
  ++e.framesDone;
  if (isKey) *isKey = !anyUnchanged;
  return true;
}

bool AudioCodingAvailable() { return true; }

bool EncodeAudio(const AudioTrackSettings& track, const int16_t* samples, uint32_t frames, uint32_t movieFrames,
                 uint32_t rateNum, uint32_t rateDen, std::vector<std::vector<uint8_t>>& packets, std::string* error) {
  AudioEncoder encoder;
  if (!OpenAudioEncoder(encoder, track, rateNum, rateDen, error)) return false;
  AddAudioInput(encoder, samples, frames);
  EndAudioInput(encoder);
  packets.assign(movieFrames, {});
  for (uint32_t f = 0; f < movieFrames; ++f)
    if (!EncodeAudioFrame(encoder, packets[f], error)) return false;
  return true;
}

}  // namespace kivo::encode
