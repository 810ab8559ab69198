// SPDX-License-Identifier: BSD-2-Clause
// Fuzzes the C decoding API: any bytes opened as a movie in memory and, when
// the open accepts them, every frame's packet split and decoded (picture and
// every track), then a seek to a later key frame with the sound primed.
#include <cstdint>
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
      const uint32_t want = kivo_audio_chunk_bytes(chunk, size);
      const bool fits = want <= pcm.size() * 2;
      kivo_audio_decode(audio[i], chunk, size, fits ? pcm.data() : nullptr, fits ? want : 0, &bytes);
    }
    KivoPicture picture;
    kivo_video_decode(video, packet.video, packet.video_size, &picture);
  }
}

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
  if (kivo_movie_open_memory(data, size, &movie, &error) != KIVO_DEC_OK) return 0;
  KivoMovieInfo info;
  kivo_movie_info(movie, &info);
  KivoVideoParams params;
  kivo_movie_video_params(movie, &params);
  params.options = size & 1 ? KIVO_VIDEO_NO_SIMD : 0;
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
