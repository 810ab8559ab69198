// SPDX-License-Identifier: BSD-2-Clause
// The audio decoder: one track's state, the decoding of a block into 16-bit
// PCM, the chunk loop that runs a frame's chunk through it, and the two
// in-place inverse transforms it rebuilds each channel with. A decoder owns
// all it writes, so decoders of different tracks run on any threads at once.
#pragma once

#include <cstdint>

#include "base/processor.h"
#include "kivo/audio.h"  // AudioSink

namespace kivo {

struct AudioDecoder {
  uint32_t blockSize;        // N: transform length
  float outputScale;         // 2 / sqrt(N)
  uint32_t blockBytes;
  uint32_t overlapBytes;
  uint32_t codedChannels;
  int16_t* output;           // blockBytes bytes: the block just decoded
  uint32_t firstBlock;       // 1 until the first block is decoded
  uint32_t bandCount;
  uint32_t* bandEdges;       // bandCount + 1 entries, in frequency bins
  int32_t* transformWork;    // entry 0 = 0 until the transform tables are built
  float* transformTable;
  int16_t* overlapSave;      // the held-back tail of the previous block
  float* coefficients;       // codedChannels * N: coded channel c at floats c*N .. c*N+N-1
  uint32_t flags;
  uint32_t features;         // processor extensions it may use (base/processor.h)
};

constexpr uint32_t kAudioDecoderDct = 1;  // flags: channels coded apart, DCT

// A decoder for `channels` (1 or 2) at `sampleRate` Hz; `dct` nonzero for DCT
// mode. Null when memory is short or the channel count is neither 1 nor 2.
// `openFlags` may refuse processor extensions (kNoProcessorExtensions).
AudioDecoder* OpenAudioDecoder(uint32_t sampleRate, uint32_t channels, int32_t dct, uint32_t openFlags = 0);
void CloseAudioDecoder(AudioDecoder* decoder);
// Back to the state of a new decoder: the next block is a first block.
void ResetAudioDecoder(AudioDecoder* decoder);

// Decodes the block at `input`, reading nothing at or beyond `end`. Returns
// the PCM bytes made available (blockBytes - overlapBytes), which start at
// decoder->output (also stored in *samples when given) and stay valid until
// the next call on this decoder. *next (when given) receives where the next
// block starts, never beyond `end`: a block whose bits run out before its
// end is finished with zero bits and gives `end`. Returns 0 (and `end`) only
// for a null decoder.
uint32_t DecodeAudioBlock(AudioDecoder* decoder, const uint8_t* input, const uint8_t* end, const int16_t** samples,
                          const uint8_t** next);

// The chunk loop for one track in one frame: `chunk` is the first byte after
// the chunk's size field and `size` that field (P). Reads D, then decodes
// blocks while D is left and the chunk has bytes left, handing min(block
// output, D) bytes of each to `sink`. Returns the bytes handed over. P below 4
// has no D and gives nothing.
uint32_t DecodeAudioChunk(AudioDecoder* decoder, const uint8_t* chunk, uint32_t size, AudioSink sink, void* context);

// Finds the chunk of track `track` (0-based, file order) among the
// `trackCount` chunks that open a frame packet of `packetSize` bytes: sets
// *chunk past its size field and *size to P cut to what the packet holds.
// Returns 0 when the packet ends before that chunk's size field.
int32_t FindAudioChunk(const uint8_t* packet, uint32_t packetSize, uint32_t trackCount, uint32_t track,
                       const uint8_t** chunk, uint32_t* size);

// Entries of transformWork for transforms up to length n: round(sqrt(n/2)) + 2.
uint32_t TransformWorkEntries(uint32_t n);
// Floats of transformTable: n/2 for the real transform, 5n/4 for the cosine one.
inline uint32_t TransformTableFloats(uint32_t n, int32_t dct) { return dct ? n / 4 * 5 : n / 2; }

// In place on n floats (n a power of two from 64 to 8192; other n leave the
// array alone), building the tables in work/table first when they are too
// small for n. RealInverseTransform takes a[0] = R[0], a[1] = R[n/2],
// a[2j], a[2j+1] = R[j], I[j] and gives, for k < n,
//   (R[0] + R[n/2] cos(pi k)) / 2 + sum_{0<j<n/2} R[j] cos(2 pi jk/n) + I[j] sin(2 pi jk/n).
// InverseCosineTransform gives C[k] = sum_j a[j] cos(pi j (k + 1/2) / n).
// Neither scales its result. `features` chooses the kernels, which give the
// same numbers at every level.
void RealInverseTransform(uint32_t n, float* a, int32_t* work, float* table, uint32_t features = CpuFeatures());
void InverseCosineTransform(uint32_t n, float* a, int32_t* work, float* table, uint32_t features = CpuFeatures());

}  // namespace kivo
