// SPDX-License-Identifier: BSD-2-Clause
// Writes a small movie with the container writer (two tracks, key frames
// every tenth frame), so the build has a movie to show before any encoder.
#include <cstdio>

#include "encode/container_writer.h"
#include "movie/container.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: container_sample OUT.kiv\n");
    return 1;
  }
  using namespace kivo;
  encode::MovieLayout layout;
  layout.width = 320;
  layout.height = 240;
  layout.rateNum = 25;
  layout.tracks = {{kAudio16Bit | kAudioStereo | kAudioCodingB | 22050, 1, 0},
                   {kAudio16Bit | kAudioCodingA | 11025, 7, 0}};
  std::vector<encode::FramePacket> frames(30);
  for (size_t i = 0; i < frames.size(); ++i) {
    frames[i].key = i % 10 == 0;
    frames[i].audio.resize(2);
    if (i % 2 == 0) {
      frames[i].audio[0].assign(400, 0);
      WriteLe32(frames[i].audio[0].data(), 3528);
    }
    frames[i].video.assign(100 + i * 7, 0);
  }
  std::vector<uint8_t> bytes = encode::BuildMovie(layout, frames);
  FILE* f = fopen(argv[1], "wb");
  if (!f || fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || fclose(f) != 0) {
    fprintf(stderr, "container_sample: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
