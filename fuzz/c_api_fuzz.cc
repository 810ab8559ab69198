// SPDX-License-Identifier: BSD-2-Clause
// Fuzzes the C decoding API: any bytes opened as a movie (in memory, from a
// file, or through callbacks that cannot tell the size) and, when the open
// accepts them, every frame's packet split and decoded (picture and every
// track), then a seek to a later key frame with the sound primed. Run with a
// low -malloc_limit_mb: no header or index may make the library allocate
// more than the input can hold.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kivo/kivo_dec.h"

namespace {

void DecodeFrom(KivoMovie* movie, const KivoMovieInfo& info, uint32_t from, uint32_t to, KivoVideoDecoder* video,
                std::vector<KivoAudioDecoder*>& audio, std::vector<int16_t>& pcm) {
  for (uint32_t n = from; n <= to; ++n) {
    KivoPacket packet;
    if (kivo_movie_read_packet(movie, n, &packet) != KIVO_DEC_OK) return;
    for (uint32_t i = 0; i < info.track_count; ++i) {
      const uint8_t* chunk;
      uint32_t size, bytes;
      kivo_packet_audio(&packet, i, &chunk, &size);
      if (!audio[i]) continue;
      // Chunks claiming more than the buffer are decoded without output.
      const uint32_t want = kivo_audio_decode_bytes(audio[i], chunk, size);
      const bool fits = want <= pcm.size() * 2;
      kivo_audio_decode(audio[i], chunk, size, fits ? pcm.data() : nullptr, fits ? want : 0, &bytes);
    }
    KivoPicture picture;
    kivo_video_decode(video, packet.video, packet.video_size, &picture);
  }
}

// The bytes behind callbacks of unknown size, as a pipeline may give them.
struct Bytes {
  const uint8_t* data;
  size_t size, at;
};
int64_t BytesRead(void* opaque, void* buffer, size_t size) {
  Bytes* b = static_cast<Bytes*>(opaque);
  const size_t n = b->at >= b->size ? 0 : (size < b->size - b->at ? size : b->size - b->at);
  memcpy(buffer, b->data + b->at, n);
  b->at += n;
  return int64_t(n);
}
int32_t BytesSeek(void* opaque, uint64_t offset) {
  static_cast<Bytes*>(opaque)->at = size_t(offset);
  return 0;
}
const KivoIo kUnknownSize = {BytesRead, BytesSeek, nullptr};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Large pictures only make runs slow; the open's own limits are tested elsewhere.
  if (size >= 28) {
    uint32_t w = data[20] | data[21] << 8 | data[22] << 16 | uint32_t(data[23]) << 24;
    uint32_t h = data[24] | data[25] << 8 | data[26] << 16 | uint32_t(data[27]) << 24;
    if (uint64_t(w) * h > 1024 * 1024) return 0;
  }
  KivoMovie* movie = nullptr;
  KivoDecError error;
  Bytes bytes = {data, size, 0};
  int32_t status;
  if (size % 3 == 1) {
    static const std::string path = "/tmp/kivo-c-api-fuzz-" + std::to_string(getpid()) + ".kiv";
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return 0;
    fwrite(data, 1, size, f);
    fclose(f);
    status = kivo_movie_open_file(path.c_str(), &movie, &error);
  } else if (size % 3 == 2) {
    status = kivo_movie_open_io(&kUnknownSize, &bytes, &movie, &error);
  } else {
    status = kivo_movie_open_memory(data, size, &movie, &error);
  }
  if (status != KIVO_DEC_OK) return 0;
  KivoMovieInfo info;
  kivo_movie_info(movie, &info);
  KivoVideoParams params;
  kivo_movie_video_params(movie, &params);
  if (size & 1) params.options |= KIVO_VIDEO_NO_SIMD;
  KivoVideoDecoder* video = nullptr;
  if (kivo_video_open(&params, &video) == KIVO_DEC_OK) {
    std::vector<KivoAudioDecoder*> audio(info.track_count < 16 ? info.track_count : 16, nullptr);
    info.track_count = static_cast<uint32_t>(audio.size());
    for (uint32_t i = 0; i < info.track_count; ++i) {
      KivoTrackInfo track;
      kivo_movie_track(movie, i, &track);
      kivo_audio_open(track.audio_word, &audio[i]);
    }
    static std::vector<int16_t> pcm(1 << 18);
    const uint32_t last = info.frame_count < 300 ? info.frame_count : 300;
    DecodeFrom(movie, info, 1, last, video, audio, pcm);
    // A seek into the second half: the sound primed, the rest decoded again.
    const uint32_t key = kivo_movie_key_frame_before(movie, last / 2 + 1);
    for (uint32_t i = 0; i < info.track_count; ++i) {
      uint64_t offset;
      kivo_movie_audio_offset(movie, i, key, &offset);
      if (audio[i]) kivo_movie_prime_audio(movie, i, key, audio[i]);
    }
    kivo_video_reset(video);
    DecodeFrom(movie, info, key, last, video, audio, pcm);
    for (KivoAudioDecoder* a : audio) kivo_audio_close(a);
    kivo_video_close(video);
  }
  kivo_movie_close(movie);
  return 0;
}
