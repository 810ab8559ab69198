// SPDX-License-Identifier: BSD-2-Clause
// Helpers for the plugin's tests:
//   gst_test_movie make OUT.kiv [KIND]
//                                    a 12 s movie, 160x96 at 10 fps, key frames
//                                    every 30 frames, tracks 4 (stereo) and 7 (mono);
//                                    KIND alpha, grey, greyalpha; tall: meant to be
//                                    shown at double height; twins: both tracks with
//                                    id 4; silent: 3 s, track 7 without sound; long: 3000
//                                    frames; keys: every frame a key frame whose
//                                    blocks read what the frame drew already
//   gst_test_movie planes IN.y4m OUT [FIRST [luma|ALPHA]]
//                                    the planes of a Y4M file from frame FIRST
//                                    (from 1) on, without the frame headers: the
//                                    luma alone, or each frame followed by its
//                                    alpha plane from the raw file ALPHA
//   gst_test_movie describe IN.kiv   the picture's kind (alpha, grey or colour) on
//                                    one line, the playable tracks' ids on the next
//   gst_test_movie place IN.kiv FRAME
//                                    the file offset of frame FRAME's packet
//   gst_test_movie offset IN.kiv TRACK FRAME
//                                    the PCM bytes of track TRACK (0-based) before
//                                    frame FRAME's chunk
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "encode/audio_encoder.h"
#include "encode/container_writer.h"
#include "encode/encoder.h"
#include "encode/video_encoder.h"
#include "encode/video_writer.h"
#include "kivo/kivo_dec.h"

namespace {

namespace enc = kivo::encode;

bool Write(const char* path, const std::vector<uint8_t>& movie) {
  FILE* f = fopen(path, "wb");
  return f && fwrite(movie.data(), 1, movie.size(), f) == movie.size() && fclose(f) == 0;
}

// The top block row filled, every row below moved from the row above: in a
// movie of key frames alone, the player's one picture is the reference too.
int MakeKeys(const char* path) {
  constexpr uint32_t w = 64, h = 48;
  enc::MovieLayout layout;
  layout.width = w;
  layout.height = h;
  std::vector<enc::FramePacket> packets(8);
  for (uint32_t f = 0; f < packets.size(); ++f) {
    enc::PlaneSpec planes[3];
    for (int i = 0; i < 3; ++i) {
      enc::PlaneSpec& p = planes[i];
      enc::InitPlane(p, i ? enc::ChromaAreaWidth(w) : enc::LumaAreaWidth(w), i ? enc::ChromaAreaHeight(h) : enc::LumaAreaHeight(h));
      for (uint32_t c = 0; c < p.width / 8; ++c) {
        enc::BlockAt(p, c, 0).type = enc::kFill;
        enc::BlockAt(p, c, 0).pixels[0] = uint8_t(50 + 20 * f + 9 * i + 3 * c);
        for (uint32_t r = 1; r < p.height / 8; ++r) {
          enc::BlockAt(p, c, r).type = enc::kMoved;
          enc::BlockAt(p, c, r).dy = -8;
        }
      }
    }
    enc::FrameSpec spec;
    spec.luma = &planes[0];
    spec.chroma[0] = &planes[1];
    spec.chroma[1] = &planes[2];
    std::string error;
    if (!enc::WriteVideoFrame(spec, packets[f].video, &error)) return fprintf(stderr, "%s\n", error.c_str()), 1;
    packets[f].key = true;
  }
  return Write(path, enc::BuildMovie(layout, packets)) ? 0 : 1;
}

int Make(const char* path, const std::string& kind) {
  if (kind == "keys") return MakeKeys(path);
  constexpr uint32_t w = 160, h = 96, rate = 10;
  const uint32_t frames = kind == "long" ? 3000 : kind == "silent" ? 30 : 120;
  enc::VideoCoderSettings vs;
  vs.width = w;
  vs.height = h;
  vs.rateNum = rate;
  vs.keyInterval = 30;
  vs.effort = 0;
  vs.alpha = kind == "alpha" || kind == "greyalpha";
  vs.grey = kind == "grey" || kind == "greyalpha";
  enc::VideoCoder coder;
  std::string error;
  if (!enc::OpenVideoCoder(coder, vs, &error)) return fprintf(stderr, "%s\n", error.c_str()), 1;
  enc::MovieLayout layout;
  layout.width = w;
  layout.height = h;
  layout.rateNum = rate;
  layout.videoFlags = (vs.alpha ? 0x100000u : 0) | (vs.grey ? 0x20000u : 0) | (kind == "tall" ? 1u << 28 : 0);
  std::vector<enc::FramePacket> packets(frames);
  const enc::AudioTrackSettings tracks[2] = {{22050, 2, 16, enc::AudioMode::kRdft, 75},
                                             {11025, 1, 16, enc::AudioMode::kDct, 75}};
  const uint32_t ids[2] = {4, kind == "twins" ? 4u : 7u};
  for (int t = 0; t < 2; ++t) {
    const uint32_t n = tracks[t].rate * frames / rate;
    std::vector<int16_t> samples(size_t(n) * tracks[t].channels);
    for (uint32_t i = 0; i < n; ++i)
      for (uint32_t c = 0; c < tracks[t].channels; ++c)
        samples[i * tracks[t].channels + c] = int16_t(7000 * std::sin(i * 0.04 * (c + 1 + t)) + 2500 * std::sin(i * 0.3));
    std::vector<std::vector<uint8_t>> audio;
    if (!enc::EncodeAudio(tracks[t], samples.data(), n, frames, rate, 1, audio, &error))
      return fprintf(stderr, "%s\n", error.c_str()), 1;
    layout.tracks.push_back({enc::AudioTrackWord(tracks[t]), ids[t], 0});
    if (kind == "silent" && t == 1)
      for (auto& chunk : audio) chunk.clear();
    for (uint32_t f = 0; f < frames; ++f) packets[f].audio.push_back(audio[f]);
  }
  for (uint32_t f = 0; f < frames; ++f) {
    enc::SourcePicture p;
    p.width = w;
    p.height = h;
    p.luma.resize(size_t(w) * h);
    if (!vs.grey) {
      p.cr.resize(size_t(w / 2) * (h / 2));
      p.cb.resize(p.cr.size());
    }
    if (vs.alpha) {
      p.alpha.resize(p.luma.size());
      for (size_t i = 0; i < p.alpha.size(); ++i) p.alpha[i] = uint8_t((i % w) * 255 / (w - 1) ^ (f & 31));
    }
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        const uint32_t sx = x + 2 * f;
        uint32_t v = 30 + (sx * 3 + y * 5) % 140 + ((sx / 9 + y / 7) & 1) * 50;
        if (x >= f % 120 && x < f % 120 + 24 && y >= 30 && y < 60) v = 235;
        p.luma[size_t(y) * w + x] = uint8_t(v);
      }
    for (size_t i = 0; i < p.cr.size(); ++i) {
      p.cr[i] = uint8_t(100 + (i + f) % 60);
      p.cb[i] = uint8_t(150 - (i / 80 + f) % 50);
    }
    bool key = false;
    if (!enc::EncodeVideoPicture(coder, p, f == 0, packets[f].video, &key, &error))
      return fprintf(stderr, "%s\n", error.c_str()), 1;
    packets[f].key = key;
  }
  enc::CloseVideoCoder(coder);
  return Write(path, enc::BuildMovie(layout, packets)) ? 0 : 1;
}

int Planes(const char* in, const char* out, uint32_t first, const std::string& extra) {
  FILE* f = fopen(in, "rb");
  if (!f) return 1;
  char header[256];
  if (!fgets(header, sizeof header, f)) return 1;
  uint32_t w = 0, h = 0;
  for (char* t = strtok(header, " \n"); t; t = strtok(nullptr, " \n")) {
    if (t[0] == 'W') w = uint32_t(atoi(t + 1));
    if (t[0] == 'H') h = uint32_t(atoi(t + 1));
  }
  const size_t frameBytes = size_t(w) * h + 2 * size_t((w + 1) / 2) * ((h + 1) / 2);
  std::vector<char> frame(frameBytes);
  FILE* o = fopen(out, "wb");
  if (!o) return 1;
  const bool lumaOnly = extra == "luma";
  FILE* alpha = !extra.empty() && !lumaOnly ? fopen(extra.c_str(), "rb") : nullptr;
  if (!extra.empty() && !lumaOnly && !alpha) return 1;
  std::vector<char> alphaPlane(size_t(w) * h);
  char mark[6];
  for (uint32_t n = 1; fread(mark, 1, 6, f) == 6; ++n) {
    if (fread(frame.data(), 1, frameBytes, f) != frameBytes) return 1;
    if (alpha && fread(alphaPlane.data(), 1, alphaPlane.size(), alpha) != alphaPlane.size()) return 1;
    if (n < first) continue;
    fwrite(frame.data(), 1, lumaOnly ? alphaPlane.size() : frameBytes, o);
    if (alpha) fwrite(alphaPlane.data(), 1, alphaPlane.size(), o);
  }
  if (alpha) fclose(alpha);
  fclose(f);
  return fclose(o) == 0 ? 0 : 1;
}

int Describe(const char* path) {
  KivoMovie* m = nullptr;
  if (kivo_movie_open_file(path, &m, nullptr) != KIVO_DEC_OK) return 1;
  KivoMovieInfo info;
  kivo_movie_info(m, &info);
  printf("%s\n", info.alpha ? "alpha" : info.grey ? "grey" : "colour");
  for (uint32_t i = 0; i < info.track_count; ++i) {
    KivoTrackInfo track;
    kivo_movie_track(m, i, &track);
    if (track.playable && track.sample_rate) printf("%u ", track.id);
  }
  printf("\n");
  kivo_movie_close(m);
  return 0;
}

int Place(const char* path, uint32_t frame) {
  KivoMovie* m = nullptr;
  uint64_t offset = 0;
  uint32_t size = 0;
  if (kivo_movie_open_file(path, &m, nullptr) != KIVO_DEC_OK) return 1;
  const int32_t status = kivo_movie_packet_place(m, frame, &offset, &size);
  kivo_movie_close(m);
  if (status != KIVO_DEC_OK) return 1;
  printf("%llu\n", static_cast<unsigned long long>(offset));
  return 0;
}

int Offset(const char* path, uint32_t track, uint32_t frame) {
  KivoMovie* m = nullptr;
  uint64_t bytes = 0;
  if (kivo_movie_open_file(path, &m, nullptr) != KIVO_DEC_OK) return 1;
  const int32_t status = kivo_movie_audio_offset(m, track, frame, &bytes);
  kivo_movie_close(m);
  if (status != KIVO_DEC_OK) return 1;
  printf("%llu\n", static_cast<unsigned long long>(bytes));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if ((argc == 3 || argc == 4) && !strcmp(argv[1], "make")) return Make(argv[2], argc == 4 ? argv[3] : "");
  if (argc >= 4 && argc <= 6 && !strcmp(argv[1], "planes"))
    return Planes(argv[2], argv[3], argc >= 5 ? uint32_t(atoi(argv[4])) : 1, argc == 6 ? argv[5] : "");
  if (argc == 3 && !strcmp(argv[1], "describe")) return Describe(argv[2]);
  if (argc == 4 && !strcmp(argv[1], "place")) return Place(argv[2], uint32_t(atoi(argv[3])));
  if (argc == 5 && !strcmp(argv[1], "offset")) return Offset(argv[2], uint32_t(atoi(argv[3])), uint32_t(atoi(argv[4])));
  fprintf(stderr, "usage: gst_test_movie make OUT.kiv [KIND] | planes IN.y4m OUT [FIRST [luma|ALPHA]] | describe IN.kiv | place IN.kiv FRAME | offset IN.kiv TRACK FRAME\n");
  return 2;
}
