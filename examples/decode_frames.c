// SPDX-License-Identifier: BSD-2-Clause
/* Decodes every frame of a Kivo movie through the C API into raw files:
 * OUT/frameNNNNN.yuv (I420: Y, then U, then V of the visible picture),
 * OUT/frameNNNNN.alpha for movies with an alpha plane, and OUT/trackID.pcm
 * (signed 16-bit native-endian samples, interleaved when stereo) per
 * playable track (trackID-INDEX.pcm for a track whose id an earlier one has).
 *
 *   decode_frames MOVIE OUT_FOLDER
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <kivo/kivo_dec.h>

static int write_rows(FILE* f, const uint8_t* plane, uint32_t pitch, uint32_t width, uint32_t rows) {
  for (uint32_t y = 0; y < rows; ++y)
    if (fwrite(plane + (size_t)y * pitch, 1, width, f) != width) return 0;
  return 1;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: decode_frames MOVIE OUT_FOLDER\n");
    return 2;
  }
  KivoMovie* movie;
  KivoDecError error;
  if (kivo_movie_open_file(argv[1], &movie, &error) != KIVO_DEC_OK) {
    fprintf(stderr, "decode_frames: %s: %s\n", argv[1], error.message);
    return 1;
  }
  KivoMovieInfo info;
  kivo_movie_info(movie, &info);
  printf("%ux%u, %u frames at %u/%u fps, %u tracks%s\n", info.width, info.height, info.frame_count, info.rate_num,
         info.rate_den, info.track_count, info.alpha ? ", alpha" : "");

  KivoVideoParams params;
  kivo_movie_video_params(movie, &params);
  KivoVideoDecoder* video;
  int32_t status = kivo_video_open(&params, &video);
  if (status != KIVO_DEC_OK) {
    fprintf(stderr, "decode_frames: %s\n", kivo_dec_error_text(status));
    kivo_movie_close(movie);
    return 1;
  }

  /* One decoder, one output file and one buffer per playable track. */
  uint32_t tracks = info.track_count;
  KivoAudioDecoder** audio = calloc(tracks ? tracks : 1, sizeof *audio);
  FILE** pcm = calloc(tracks ? tracks : 1, sizeof *pcm);
  int16_t** samples = calloc(tracks ? tracks : 1, sizeof *samples);
  uint32_t* capacity = calloc(tracks ? tracks : 1, sizeof *capacity);
  char path[4096];
  for (uint32_t i = 0; i < tracks; ++i) {
    KivoTrackInfo track;
    kivo_movie_track(movie, i, &track);
    if (!track.playable || kivo_audio_open(track.audio_word, &audio[i]) != KIVO_DEC_OK) continue;
    /* Ids may repeat: a repeated one's file takes the track's place too. */
    uint32_t earlier = 0;
    for (uint32_t j = 0; j < i; ++j) {
      KivoTrackInfo other;
      kivo_movie_track(movie, j, &other);
      earlier += other.id == track.id;
    }
    if (earlier)
      snprintf(path, sizeof path, "%s/track%u-%u.pcm", argv[2], track.id, i);
    else
      snprintf(path, sizeof path, "%s/track%u.pcm", argv[2], track.id);
    pcm[i] = fopen(path, "wb");
    capacity[i] = track.max_bytes;
    samples[i] = malloc(capacity[i] ? capacity[i] : 2);
    if (!pcm[i] || !samples[i]) {
      fprintf(stderr, "decode_frames: cannot write %s\n", path);
      return 1;
    }
  }

  int result = 0;
  for (uint32_t n = 1; n <= info.frame_count && result == 0; ++n) {
    KivoPacket packet;
    status = kivo_movie_read_packet(movie, n, &packet);
    if (status != KIVO_DEC_OK) {
      fprintf(stderr, "decode_frames: frame %u: %s\n", n, kivo_dec_error_text(status));
      result = 1;
      break;
    }
    for (uint32_t i = 0; i < tracks; ++i) {
      if (!audio[i]) continue;
      const uint8_t* chunk;
      uint32_t size, bytes;
      kivo_packet_audio(&packet, i, &chunk, &size);
      status = kivo_audio_decode(audio[i], chunk, size, samples[i], capacity[i], &bytes);
      if (status == KIVO_DEC_OK) fwrite(samples[i], 1, bytes, pcm[i]);
      else fprintf(stderr, "decode_frames: frame %u, track %u: %s\n", n, i, kivo_dec_error_text(status));
    }
    KivoPicture p;
    status = kivo_video_decode(video, packet.video, packet.video_size, &p);
    if (status == KIVO_DEC_ERROR_DATA) fprintf(stderr, "decode_frames: frame %u: %s\n", n, kivo_dec_error_text(status));
    snprintf(path, sizeof path, "%s/frame%05u.yuv", argv[2], n);
    FILE* f = fopen(path, "wb");
    if (!f || !write_rows(f, p.y, p.pitch, p.width, p.height) ||
        !write_rows(f, p.u, p.chroma_pitch, p.chroma_width, p.chroma_height) ||
        !write_rows(f, p.v, p.chroma_pitch, p.chroma_width, p.chroma_height) || fclose(f) != 0) {
      fprintf(stderr, "decode_frames: cannot write %s\n", path);
      result = 1;
    }
    if (p.alpha && result == 0) {
      snprintf(path, sizeof path, "%s/frame%05u.alpha", argv[2], n);
      f = fopen(path, "wb");
      if (!f || !write_rows(f, p.alpha, p.pitch, p.width, p.height) || fclose(f) != 0) {
        fprintf(stderr, "decode_frames: cannot write %s\n", path);
        result = 1;
      }
    }
  }

  for (uint32_t i = 0; i < tracks; ++i) {
    if (pcm[i] && fclose(pcm[i]) != 0) result = 1;
    free(samples[i]);
    kivo_audio_close(audio[i]);
  }
  free(audio);
  free(pcm);
  free(samples);
  free(capacity);
  kivo_video_close(video);
  kivo_movie_close(movie);
  return result;
}
