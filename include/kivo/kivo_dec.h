// SPDX-License-Identifier: BSD-2-Clause
/* The Kivo decoding API for C and every language that calls C: reading a
 * movie's container, and decoding its video into planes and its audio
 * tracks into 16-bit PCM. No clock, no sound output, no display.
 *
 * Three kinds of handle, each opaque:
 *   KivoMovie           the container: facts, tracks, key frames, packets;
 *   KivoVideoDecoder    one movie's pictures, fed with each packet's video data;
 *   KivoAudioDecoder    one track's sound, fed with each packet's audio chunk.
 * The decoders need no KivoMovie: a framework that splits packets itself
 * (kivo_packet_split) can run them on their own.
 *
 *   KivoMovie* movie; KivoDecError error;
 *   if (kivo_movie_open_file("film.kiv", &movie, &error) != KIVO_DEC_OK) fail(error.message);
 *   KivoVideoParams params; kivo_movie_video_params(movie, &params);
 *   KivoVideoDecoder* video; kivo_video_open(&params, &video);
 *   for (uint32_t n = 1; n <= info.frame_count; ++n) {
 *     KivoPacket packet; KivoPicture picture;
 *     if (kivo_movie_read_packet(movie, n, &packet) != KIVO_DEC_OK) break;
 *     kivo_video_decode(video, packet.video, packet.video_size, &picture);
 *     ... picture.y, picture.u, picture.v, picture.alpha ...
 *   }
 *
 * Frames are numbered from 1. Times are nanoseconds from the start of frame 1.
 *
 * Threads: the library keeps no mutable state shared between handles. Any
 * number of handles may be open at once and each may be used from any
 * thread; one handle must not be used by two threads at the same time.
 * Nothing is allocated after a handle is opened, except the packet buffer of
 * a source of unknown size, which grows as packets arrive. No buffer is
 * larger than what the source holds.
 *
 * Functions that can fail return a status: KIVO_DEC_OK (0) or a negative
 * KIVO_DEC_ERROR_* code; kivo_dec_error_text names each. */
#ifndef KIVO_KIVO_DEC_H
#define KIVO_KIVO_DEC_H

#include <stddef.h>
#include <stdint.h>

#include "kivo/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Status codes ------------------------------------------------------ */
#define KIVO_DEC_OK 0
#define KIVO_DEC_ERROR_ARGUMENT (-1)  /* a null handle or pointer, or a frame or track out of range */
#define KIVO_DEC_ERROR_OPEN (-2)      /* the source cannot be opened or its header read */
#define KIVO_DEC_ERROR_NOT_KIVO (-3)  /* the source is not a Kivo movie */
#define KIVO_DEC_ERROR_NO_FRAMES (-4) /* the movie holds no frames */
#define KIVO_DEC_ERROR_DAMAGED (-5)   /* the header, track table or frame index is damaged or cut short */
#define KIVO_DEC_ERROR_MEMORY (-6)    /* memory is short, or the picture is larger than the library serves */
#define KIVO_DEC_ERROR_READ (-7)      /* a frame packet cannot be read in full: the file ends early */
#define KIVO_DEC_ERROR_BUFFER (-8)    /* the caller's buffer is too small; nothing was decoded */
#define KIVO_DEC_ERROR_DATA (-9)      /* malformed data: what could be decoded was, the output is usable */

/* A failed open's code and a sentence for the user (static text). */
typedef struct KivoDecError {
  int32_t code;
  const char* message;
} KivoDecError;

/* A sentence for any status code (static text, never null). */
KIVO_API const char* kivo_dec_error_text(int32_t code);

/* ---- Opening a movie ---------------------------------------------------- */

typedef struct KivoMovie KivoMovie;

/* The caller's source: bytes of the movie from its first byte on. */
typedef struct KivoIo {
  /* Reads up to `size` bytes at the current position into `buffer`;
   * returns the bytes read (0 at the end), or a negative number on error. */
  int64_t (*read)(void* opaque, void* buffer, size_t size);
  /* Moves to `offset` bytes from the movie's first byte; 0 on success. */
  int32_t (*seek)(void* opaque, uint64_t offset);
  /* The movie's size in bytes, or -1 when unknown. May be null. */
  int64_t (*size)(void* opaque);
} KivoIo;

/* Each open gives KIVO_DEC_OK and the movie in *movie, or a code and
 * null; `error` (may be null) receives the code and the message. A movie
 * opens exactly when the player opens it, and a refusal carries the
 * player's text. The open walks the chunks' heads once (a few words a
 * frame), so that the seeking calls below read the heads of a bounded number
 * of packets (fewer than 64 in movies of up to 16 tracks). */
KIVO_API int32_t kivo_movie_open_file(const char* path, KivoMovie** movie, KivoDecError* error);
/* `data` must stay valid and unchanged until the movie is closed. */
KIVO_API int32_t kivo_movie_open_memory(const void* data, size_t size, KivoMovie** movie, KivoDecError* error);
/* A movie of which the caller holds the start alone, as a demuxer that is
 * fed the file in order holds it: `data` (`size` bytes from the movie's
 * first byte, the header and tables whole) must stay valid and unchanged
 * until the close; `movie_size` is the whole movie's size in bytes, 0 when
 * unknown. Everything but reading packets works: the caller splits the
 * packets it receives with kivo_packet_split. */
KIVO_API int32_t kivo_movie_open_tables(const void* data, size_t size, uint64_t movie_size, KivoMovie** movie,
                                        KivoDecError* error);
/* `io` is copied; `opaque` is handed to its functions until the close. */
KIVO_API int32_t kivo_movie_open_io(const KivoIo* io, void* opaque, KivoMovie** movie, KivoDecError* error);
/* A null movie is ignored. */
KIVO_API void kivo_movie_close(KivoMovie* movie);

/* ---- What the movie holds ----------------------------------------------- */

typedef struct KivoMovieInfo {
  uint32_t width, height;       /* the decoded picture */
  uint32_t rate_num, rate_den;  /* frames per second = rate_num / rate_den */
  uint32_t frame_count;
  uint64_t duration_ns;         /* frame_count frames at the frame rate; 0 without a rate */
  int32_t alpha;                /* every frame carries an alpha plane */
  int32_t grey;                 /* no chroma: the U and V planes stay 128 */
  uint32_t revision;            /* the stream revision letter: 'f', 'g', 'h' or 'i' */
  uint32_t display_mode;        /* the doubling the file asks a player for: 0 none, 1 to 6 */
  uint32_t track_count;         /* audio tracks in the file, playable or not */
  uint32_t largest_packet;      /* bytes of the largest frame packet */
  uint32_t key_frame_count;
  uint64_t size;                /* bytes of the movie */
} KivoMovieInfo;
KIVO_API int32_t kivo_movie_info(const KivoMovie* movie, KivoMovieInfo* info);

#define KIVO_CODING_NONE 0 /* not playable */
#define KIVO_CODING_RDFT 1
#define KIVO_CODING_DCT 2

typedef struct KivoTrackInfo {
  uint32_t id;           /* chosen by the movie's author; ids need not be consecutive */
  uint32_t sample_rate;  /* Hz */
  uint32_t channels;     /* 1 or 2 */
  uint32_t bits;         /* the depth the track was made for (16 or 8); the decoder always gives 16 */
  uint32_t coding;       /* KIVO_CODING_* */
  int32_t playable;
  uint32_t max_bytes;    /* the most PCM bytes one packet of the track decodes to */
  uint32_t audio_word;   /* the track table's word as stored, for kivo_audio_open */
} KivoTrackInfo;
/* Track `index` (0 .. track_count - 1, in file order). */
KIVO_API int32_t kivo_movie_track(const KivoMovie* movie, uint32_t index, KivoTrackInfo* track);

/* 1 when frame `frame` is a key frame, 0 when not or out of range. */
KIVO_API int32_t kivo_movie_is_key_frame(const KivoMovie* movie, uint32_t frame);
/* The nearest key frame at or before `frame` (frames past the end count as
 * the last): decoding from it gives exactly what a decode from frame 1
 * gives. 1 when there is none (decoding starts from cleared pictures), 0
 * for a null movie. */
KIVO_API uint32_t kivo_movie_key_frame_before(const KivoMovie* movie, uint32_t frame);
/* The frame on screen at `time_ns` (1 .. frame_count); 0 for a null movie. */
KIVO_API uint32_t kivo_movie_frame_at(const KivoMovie* movie, uint64_t time_ns);
/* When frame `frame` starts to show. */
KIVO_API uint64_t kivo_movie_frame_time(const KivoMovie* movie, uint32_t frame);

/* ---- Packets ------------------------------------------------------------- */

/* One frame packet: one audio chunk per track of the file, then the video. */
typedef struct KivoPacket {
  uint32_t frame;          /* 0 for a packet split by kivo_packet_split */
  int32_t key_frame;
  const uint8_t* data;     /* the whole packet */
  uint32_t size;
  const uint8_t* video;    /* the video data: the rest of the packet after the chunks */
  uint32_t video_size;
  uint32_t track_count;
} KivoPacket;

/* Reads frame `frame`'s packet into the movie's own buffer (valid until the
 * next read on this movie) and splits it. KIVO_DEC_ERROR_READ when the
 * source ends before the packet does. */
KIVO_API int32_t kivo_movie_read_packet(KivoMovie* movie, uint32_t frame, KivoPacket* packet);
/* The packet's size and file offset, for callers that read it themselves. */
KIVO_API int32_t kivo_movie_packet_place(const KivoMovie* movie, uint32_t frame, uint64_t* offset, uint32_t* size);
/* Splits a packet held by the caller (`track_count` from the movie's info). */
KIVO_API int32_t kivo_packet_split(const uint8_t* data, uint32_t size, uint32_t track_count, KivoPacket* packet);
/* Track `index`'s chunk of a split packet, for kivo_audio_decode: the bytes
 * after its size word, cut to what the packet holds. A track without audio
 * in this packet gives size 0. */
KIVO_API int32_t kivo_packet_audio(const KivoPacket* packet, uint32_t index, const uint8_t** chunk, uint32_t* size);

/* ---- Video --------------------------------------------------------------- */

typedef struct KivoVideoDecoder KivoVideoDecoder;

#define KIVO_VIDEO_NO_SIMD 1  /* plain integer routines only (the output is the same) */
#define KIVO_VIDEO_NO_ALPHA 2 /* skip the alpha plane of a movie that has one */
/* Every frame of the movie is a key frame: one picture is both reference and
 * target, as the player decodes such movies (their pictures differ with two).
 * kivo_movie_video_params sets it; a caller that fills the parameters itself
 * must carry it over. */
#define KIVO_VIDEO_ONE_PICTURE 4

typedef struct KivoVideoParams {
  uint32_t width, height;
  uint32_t video_flags;  /* the header's video flags (alpha, grey) */
  uint32_t revision;     /* 'f', 'g', 'h' or 'i' */
  uint32_t options;      /* KIVO_VIDEO_* */
} KivoVideoParams;
KIVO_API int32_t kivo_movie_video_params(const KivoMovie* movie, KivoVideoParams* params);

/* 4:2:0 planes of the picture, valid until the next decode or reset. */
typedef struct KivoPicture {
  const uint8_t* y;
  const uint8_t* u;      /* Cb */
  const uint8_t* v;      /* Cr */
  const uint8_t* alpha;  /* null without an alpha plane */
  uint32_t width, height;              /* of Y and alpha */
  uint32_t chroma_width, chroma_height;  /* (width + 1) / 2, (height + 1) / 2 */
  uint32_t pitch, chroma_pitch;        /* bytes from one row to the next */
} KivoPicture;

/* A decoder whose pictures start cleared: Y and alpha 0, U and V 128. */
KIVO_API int32_t kivo_video_open(const KivoVideoParams* params, KivoVideoDecoder** decoder);
/* Decodes one packet's video data on top of the picture before it and
 * gives the new picture. KIVO_DEC_ERROR_DATA when the data was malformed:
 * the picture then holds what could be decoded. */
KIVO_API int32_t kivo_video_decode(KivoVideoDecoder* decoder, const uint8_t* data, uint32_t size,
                                   KivoPicture* picture);
/* The picture last decoded (the cleared one before any decode). */
KIVO_API int32_t kivo_video_picture(const KivoVideoDecoder* decoder, KivoPicture* picture);
/* Clears the pictures again, as after the open. */
KIVO_API void kivo_video_reset(KivoVideoDecoder* decoder);
KIVO_API void kivo_video_close(KivoVideoDecoder* decoder);

/* ---- Audio --------------------------------------------------------------- */

typedef struct KivoAudioDecoder KivoAudioDecoder;

/* A decoder for a track of `audio_word` (KivoTrackInfo.audio_word).
 * KIVO_DEC_ERROR_ARGUMENT for a track that is not playable. */
KIVO_API int32_t kivo_audio_open(uint32_t audio_word, KivoAudioDecoder** decoder);
/* The PCM bytes a chunk decodes to at most (its first word). */
KIVO_API uint32_t kivo_audio_chunk_bytes(const uint8_t* chunk, uint32_t size);
/* The same, cut to `max_bytes` (KivoTrackInfo.max_bytes; 0 = no limit): the
 * most the track's chunks give, so that a damaged count word cannot time or
 * size anything beyond what the track really holds. */
KIVO_API uint32_t kivo_track_chunk_bytes(uint32_t max_bytes, const uint8_t* chunk, uint32_t size);
/* The PCM bytes `decoder` makes of a chunk at most: its first word, cut to
 * what the chunk's bytes can carry, so that a damaged word cannot ask for
 * more memory than the input justifies. */
KIVO_API uint32_t kivo_audio_decode_bytes(const KivoAudioDecoder* decoder, const uint8_t* chunk, uint32_t size);
/* Decodes a chunk into signed 16-bit native-endian samples, interleaved
 * when stereo; *bytes receives the bytes written. `pcm` must hold
 * kivo_audio_decode_bytes bytes (else KIVO_DEC_ERROR_BUFFER and nothing is
 * decoded; kivo_audio_chunk_bytes is always enough). A null `pcm` decodes
 * without output, to carry the decoder's state over a chunk. Chunks go in frame order: each continues the sound of
 * the one before. */
KIVO_API int32_t kivo_audio_decode(KivoAudioDecoder* decoder, const uint8_t* chunk, uint32_t size, int16_t* pcm,
                                   uint32_t capacity, uint32_t* bytes);
/* Back to the state after the open. */
KIVO_API void kivo_audio_reset(KivoAudioDecoder* decoder);
KIVO_API void kivo_audio_close(KivoAudioDecoder* decoder);

/* ---- Seeking ------------------------------------------------------------- */

/* Readies `decoder` (of track `index`) to continue at frame `frame` exactly
 * as a decode from frame 1 would: resets it and decodes, without output,
 * the track's last chunk before that frame. Reads packets through the
 * movie's buffer, so call it before reading `frame`'s packet. */
KIVO_API int32_t kivo_movie_prime_audio(KivoMovie* movie, uint32_t index, uint32_t frame, KivoAudioDecoder* decoder);
/* For callers whose decoder is elsewhere (a framework's decoder element):
 * the frame whose chunk of track `index` carries the sound into `frame`,
 * in *carry (0 when there is none). Decoding that chunk without output
 * after a reset is what kivo_movie_prime_audio does. */
KIVO_API int32_t kivo_movie_audio_carry(KivoMovie* movie, uint32_t index, uint32_t frame, uint32_t* carry);
/* The PCM bytes track `index` holds before frame `frame`'s chunk (the sum
 * of the chunks' kivo_track_chunk_bytes), so that its sound can be timed. */
KIVO_API int32_t kivo_movie_audio_offset(KivoMovie* movie, uint32_t index, uint32_t frame, uint64_t* bytes);

#ifdef __cplusplus
}
#endif

#endif /* KIVO_KIVO_DEC_H */
