// SPDX-License-Identifier: BSD-2-Clause
// The calls the player page makes into the WebAssembly module (see
// kivo_page.cc). The page reads KwState's words straight from the module's
// memory, so the record holds 32-bit words only and its order is fixed:
// player.js names the same fields at the same word offsets.
#pragma once

#include <cstdint>

extern "C" {

struct KwState {
  // Set by the open.
  uint32_t width, height;          // the presented picture (RGBA rows of kw_copy)
  uint32_t frameCount;
  uint32_t rateNum, rateDen;       // the rate to play at; rateNum 0 = as fast as possible
  uint32_t alpha;                  // the picture has an alpha plane
  uint32_t trackRate;              // Hz of the sound track played, 0 = none (silent)
  uint32_t trackChannels;
  uint32_t pcm, rgba;              // addresses of the PCM and RGBA buffers
  // Set by kw_decode.
  uint32_t frame;                  // the frame just decoded (from 1)
  uint32_t pcmBytes;               // its PCM: 16-bit signed, interleaved
  uint32_t readError;              // the file ended early: no more frames decode
  uint32_t luma, u, v, alphaPlane; // the decoded planes (alphaPlane 0 without)
  uint32_t sourceWidth, sourceHeight, chromaWidth, chromaHeight;
  uint32_t pitch, chromaPitch;
};

// A movie arrives in pieces: kw_probe looks at the bytes there are so far
// and gives the size of the whole movie once its header and tables are
// among them (else a negative status of kivo_dec.h, with the reason in
// kw_error_text: KIVO_DEC_ERROR_DAMAGED may only mean "not enough yet").
// kw_buffer makes room for that many bytes (or fewer, when the source is
// known to hold fewer), cleared, closing the movie open before, and gives
// its address; the page copies the bytes in as they arrive and says how
// many are in place with kw_arrived. kw_open_buffer opens the movie in it
// with sound track `trackId`; extraFlags may add grey, never-skip and a
// display mode. 1 on success, else 0 with the reason in kw_error_text. A
// frame is decoded only once its packet (up to kw_packet_end) is in place.
int32_t kw_probe(const uint8_t* data, uint32_t have);
uint8_t* kw_buffer(uint32_t size);
void kw_arrived(uint32_t bytes);
int32_t kw_open_buffer(uint32_t trackId, uint32_t extraFlags);
// The same from a whole file at `path`.
int32_t kw_open(const char* path, uint32_t trackId, uint32_t extraFlags);
// Where frame `frame`'s packet ends in the movie's bytes (0 out of range).
uint32_t kw_packet_end(uint32_t frame);
const char* kw_error_text();
KwState* kw_state();
// Decodes the loaded frame's sound and picture; 1 after a read error or
// when its packet is not in place.
int32_t kw_decode();
// The picture decoded last into the RGBA rows.
void kw_copy();
// Loads the next frame (frame 1 after the last, the sound starting over).
void kw_next();
// Loads the key frame at or before `frame`, the sound readied to go on from
// it exactly as a play from frame 1 would; gives that key frame.
uint32_t kw_seek(uint32_t frame);
// Pauses (1) or resumes (0) the library's clock, for its statistics.
void kw_pause(int32_t pause);
// The statistics line of the last second of frames.
const char* kw_stats_line();
// Closes the movie and lets its bytes go.
void kw_close();

}  // extern "C"
