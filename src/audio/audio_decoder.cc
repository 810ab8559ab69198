// SPDX-License-Identifier: BSD-2-Clause
// Decoding audio blocks into 16-bit PCM: the decoder's one memory block, the
// packed floats, band quantisers and coefficient runs of each coded channel,
// the transform, the conversion to 16 bits, the cross-fade with the held-back
// tail of the block before, and the chunk loop of a frame.
#include "audio/audio_decoder.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "audio/audio_bits.h"
#include "audio/audio_format.h"
#include "audio/audio_kernels.h"
#include "base/memory.h"

namespace kivo {

namespace {

inline uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Coefficients from..to-1 of one run: `width`-bit magnitudes, each nonzero
// one followed by its sign bit, times the quantiser. Branch-free: zeros are
// common and unpredictable.
inline void ReadValues(AudioBits* bits, float* k, uint32_t from, uint32_t to, uint32_t width, float quantiser) {
  const uint64_t mask = (uint64_t(1) << width) - 1;
  for (uint32_t i = from; i < to; ++i) {
    if (bits->count < 16) FillAudioBits(bits);
    const uint64_t cache = bits->cache;
    const uint32_t v = static_cast<uint32_t>(cache & mask);
    const uint32_t nonzero = v != 0;
    const uint32_t sign = static_cast<uint32_t>(cache >> width) & nonzero;
    const uint32_t taken = width + nonzero;
    bits->cache = cache >> taken;
    bits->count -= taken;
    const float magnitude = static_cast<float>(v) * quantiser;
    k[i] = std::bit_cast<float>(std::bit_cast<uint32_t>(magnitude) ^ (sign << 31));
  }
}

// Reads one coded channel's coefficients k[0..N-1].
void DecodeChannel(const AudioDecoder* d, AudioBits* bits, float* k) {
  const uint32_t n = d->blockSize;
  FillAudioBits(bits);
  k[0] = PackedFloatValue(TakeAudioBits(bits, kPackedFloatBits));
  FillAudioBits(bits);
  k[1] = PackedFloatValue(TakeAudioBits(bits, kPackedFloatBits));
  float q[kMaxAudioBands];
  for (uint32_t b = 0; b < d->bandCount; ++b) q[b] = QuantiserValue(ReadAudioBits(bits, 8));

  const uint32_t* edges = d->bandEdges;
  uint32_t band = 0;
  // Undefined in the format until the first band starts, which is at the
  // first coefficient; only a rate below 1 Hz has no band at all.
  float quantiser = 0.0f;
  uint32_t j = 2;
  while (j < n) {
    FillAudioBits(bits);
    uint32_t end = TakeAudioBits(bits, 1) ? j + 8 * kCoefficientRunLengths[TakeAudioBits(bits, 4)] : j + 8;
    if (end > n) end = n;
    const uint32_t width = TakeAudioBits(bits, 4);
    if (width == 0) {
      memset(k + j, 0, (end - j) * sizeof(float));
      // edges[bandCount] * 2 = N stops the walk.
      while (2 * edges[band] < end) quantiser = q[band++];
    } else {
      // Stretches of one quantiser between band starts (a band is entered at
      // most once per coefficient, which a repeated edge would make matter).
      for (uint32_t i = j; i < end;) {
        if (i == 2 * edges[band]) quantiser = q[band++];
        uint32_t stop = 2 * edges[band] < end ? 2 * edges[band] : end;
        if (stop <= i) stop = i + 1;
        ReadValues(bits, k, i, stop, width, quantiser);
        i = stop;
      }
    }
    j = end;
  }
}

}  // namespace

AudioDecoder* OpenAudioDecoder(uint32_t sampleRate, uint32_t channels, int32_t dct, uint32_t openFlags) {
  AudioLayout layout;
  if (!ComputeAudioLayout(sampleRate, channels, dct, &layout)) return nullptr;
  const uint32_t n = layout.blockSize;
  int16_t* output = nullptr;
  uint32_t* edges = nullptr;
  int32_t* work = nullptr;
  float* table = nullptr;
  int16_t* save = nullptr;
  float* coefficients = nullptr;
  PlanBlock(&output, layout.blockBytes);
  PlanBlock(&edges, 4 * (layout.bandCount + 1));
  PlanBlock(&work, 4 * TransformWorkEntries(n));
  PlanBlock(&table, 4 * TransformTableFloats(n, layout.dct));
  PlanBlock(&save, layout.blockBytes / 2);
  PlanBlock(&coefficients, 4 * n * layout.codedChannels);
  AudioDecoder* d = static_cast<AudioDecoder*>(AllocatePlan(sizeof(AudioDecoder)));
  if (!d) return nullptr;
  d->blockSize = n;
  d->outputScale = static_cast<float>(2.0 / std::sqrt(static_cast<double>(n)));
  d->blockBytes = layout.blockBytes;
  d->overlapBytes = layout.overlapBytes;
  d->codedChannels = layout.codedChannels;
  d->output = output;
  d->firstBlock = 1;
  d->bandCount = layout.bandCount;
  d->bandEdges = edges;
  d->transformWork = work;
  d->transformTable = table;
  d->overlapSave = save;
  d->coefficients = coefficients;
  d->flags = layout.dct ? kAudioDecoderDct : 0;
  d->features = CpuFeaturesFor(openFlags);
  memcpy(edges, layout.bandEdges, 4 * (layout.bandCount + 1));
  memset(work, 0, 4 * TransformWorkEntries(n));
  memset(output, 0, layout.blockBytes);
  memset(save, 0, layout.blockBytes / 2);
  return d;
}

void CloseAudioDecoder(AudioDecoder* decoder) { MemFree(decoder); }

void ResetAudioDecoder(AudioDecoder* d) {
  if (!d) return;
  d->firstBlock = 1;
  memset(d->output, 0, d->blockBytes);
  memset(d->overlapSave, 0, d->blockBytes / 2);
}

uint32_t DecodeAudioBlock(AudioDecoder* d, const uint8_t* input, const uint8_t* end, const int16_t** samples,
                          const uint8_t** next) {
  if (!d) {
    if (next) *next = end;
    return 0;
  }
  if (samples) *samples = d->output;
  const uint32_t n = d->blockSize;
  const bool dct = d->flags & kAudioDecoderDct;
  AudioBits bits;
  StartAudioBits(&bits, input, end);
  if (dct) ReadAudioBits(&bits, 2);
  for (uint32_t c = 0; c < d->codedChannels; ++c) {
    float* k = d->coefficients + c * n;
    DecodeChannel(d, &bits, k);
    if (dct)
      InverseCosineTransform(n, k, d->transformWork, d->transformTable, d->features);
    else
      RealInverseTransform(n, k, d->transformWork, d->transformTable, d->features);
  }
  int16_t* out = d->output;
  AudioKernelsFor(d->features).toPcm(d->coefficients, d->codedChannels == 2 ? d->coefficients + n : nullptr, n,
                               d->outputScale, out);

  const uint32_t v = d->overlapBytes / 2;
  if (d->firstBlock) {
    d->firstBlock = 0;
  } else {
    const uint32_t shift = static_cast<uint32_t>(std::countr_zero(v));
    const int16_t* save = d->overlapSave;
    for (uint32_t i = 0; i < v; ++i) {
      const int32_t sum = int32_t(save[i]) * int32_t(v - i) + int32_t(out[i]) * int32_t(i);
      out[i] = static_cast<int16_t>(sum >> shift);  // rounds toward minus infinity
    }
  }
  const uint32_t kept = d->blockBytes - d->overlapBytes;
  memcpy(d->overlapSave, reinterpret_cast<const uint8_t*>(out) + kept, d->overlapBytes);

  if (next) {
    const uint64_t offset = AudioBitsNextOffset(&bits);
    *next = AudioBitsRanOut(&bits) || offset >= bits.size ? end : input + offset;
  }
  return kept;
}

uint32_t DecodeAudioChunk(AudioDecoder* decoder, const uint8_t* chunk, uint32_t size, AudioSink sink, void* context) {
  if (!decoder || size < 4) return 0;
  uint32_t left = Le32(chunk);
  const uint8_t* pos = chunk + 4;
  const uint8_t* end = chunk + size;
  uint32_t total = 0;
  while (left > 0 && pos < end) {
    const int16_t* samples;
    const uint8_t* next;
    uint32_t bytes = DecodeAudioBlock(decoder, pos, end, &samples, &next);
    if (bytes == 0) break;
    if (bytes > left) bytes = left;
    if (sink) sink(context, samples, bytes);
    left -= bytes;
    total += bytes;
    pos = next;
  }
  return total;
}

int32_t FindAudioChunk(const uint8_t* packet, uint32_t packetSize, uint32_t trackCount, uint32_t track,
                       const uint8_t** chunk, uint32_t* size) {
  if (track >= trackCount) return 0;
  uint32_t at = 0;
  for (uint32_t t = 0;; ++t) {
    if (packetSize - at < 4) return 0;
    const uint32_t p = Le32(packet + at);
    at += 4;
    const uint32_t room = packetSize - at;
    if (t == track) {
      *chunk = packet + at;
      *size = p < room ? p : room;
      return 1;
    }
    if (p > room) return 0;
    at += p;
  }
}

}  // namespace kivo
