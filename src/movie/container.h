// SPDX-License-Identifier: BSD-2-Clause
// The movie container: the 44-byte header, the track table (three arrays of
// trackCount words) and the frame index, and what is derived from them.
// All words are unsigned 32-bit little-endian.
#pragma once

#include <cstdint>

namespace kivo {

constexpr uint32_t kHeaderSize = 44;

constexpr uint32_t kVideoAlpha = 0x00100000;      // every frame carries an alpha plane
constexpr uint32_t kVideoGrey = 0x00020000;       // no chroma planes
constexpr uint32_t kVideoModeMask = 0x70000000;   // display mode meant for the movie
constexpr uint32_t kVideoModeShift = 28;

// Track audio word.
constexpr uint32_t kAudioRateMask = 0x0000FFFF;
constexpr uint32_t kAudio16Bit = 0x40000000;
constexpr uint32_t kAudioStereo = 0x20000000;
constexpr uint32_t kAudioCodingA = 0x80000000;    // transform coding by the real DFT
constexpr uint32_t kAudioCodingB = 0x10000000;    // by the DCT when bit 31 is clear

// A track is playable when either coding bit is set; coding A wins when both are.
inline bool TrackPlayable(uint32_t audioWord) { return (audioWord & (kAudioCodingA | kAudioCodingB)) != 0; }
inline bool TrackUsesDct(uint32_t audioWord) { return (audioWord & kAudioCodingB) && !(audioWord & kAudioCodingA); }

struct MovieHeader {
  uint8_t magic[3];
  uint8_t revision;
  uint32_t dataSize;      // file size minus 8
  uint32_t frameCount;
  uint32_t largestFrame;  // bytes of the largest frame packet
  uint32_t indexLast;     // index entries minus one
  uint32_t width, height;
  uint32_t rateNum, rateDen;
  uint32_t videoFlags;
  uint32_t trackCount;
};

inline uint32_t ReadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void WriteLe32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

void ParseMovieHeader(const uint8_t bytes[kHeaderSize], MovieHeader* header);

constexpr const char* kNotKivoText = "Not a Kivo file.";
constexpr const char* kNoFramesText = "The file doesn't contain any compressed frames yet.";

// The magic and frame-count checks of an open: null when the header is
// playable, else the message for the user.
const char* CheckMovieHeader(const MovieHeader& header);

// Guards the tables against what the source can hold before anything is
// allocated for them: the track table and index must fit in `sourceSize`
// bytes (pass UINT64_MAX when the size is unknown), the index must reach
// entry frameCount, and the sizes must stay far from the 32-bit limit.
// Null when they do, else the message for the user.
const char* CheckMovieTables(const MovieHeader& header, uint64_t sourceSize);

// The pictures a header asks for stay within what the library serves (each
// side at most 65536, frame and alpha buffers together at most 512 MiB):
// null when they do, else "Out of memory.", as the open reports it.
constexpr const char* kOutOfMemoryText = "Out of memory.";
const char* CheckPictureSize(uint32_t width, uint32_t height);

// Bytes of the three track arrays and of the index.
inline uint64_t TrackTableBytes(const MovieHeader& h) { return uint64_t(h.trackCount) * 12; }
inline uint64_t IndexBytes(const MovieHeader& h) { return (uint64_t(h.indexLast) + 1) * 4; }

// Open-flag bits the revision letter sets for the decoder and the conversion.
uint32_t RevisionFlags(uint8_t revision);

// (rateNum + rateDen / 2) / rateDen, at least 1.
uint32_t RoundedFrameRate(uint32_t rateNum, uint32_t rateDen);

// Size of frame n (from 1): the difference of its index entry and the next.
inline uint32_t FrameSize(const uint32_t* frameIndex, uint32_t n) {
  return (frameIndex[n] & ~1u) - (frameIndex[n - 1] & ~1u);
}
inline uint32_t FrameOffset(const uint32_t* frameIndex, uint32_t n) { return frameIndex[n - 1] & ~1u; }
inline bool IsKeyFrame(const uint32_t* frameIndex, uint32_t n) { return frameIndex[n - 1] & 1u; }

struct PeakDataRate {
  uint32_t rate;   // most bytes in any R consecutive frames
  uint32_t frame;  // first 0-based index where it is reached
};
PeakDataRate ComputePeakDataRate(const uint32_t* frameIndex, uint32_t frameCount, uint32_t roundedRate);

// Entries must grow, start after the tables (`tablesEnd`) and stay within
// `limit` (the most of the source the movie may read), so that every frame
// size is what its packet really spans.
bool IndexIsSound(const uint32_t* frameIndex, uint32_t frameCount, uint32_t tablesEnd, uint32_t limit);

bool AllKeyFrames(const uint32_t* frameIndex, uint32_t frameCount);

uint32_t AverageFrameSize(const MovieHeader& header, const uint32_t* frameIndex);
uint32_t AverageDataRate(const MovieHeader& header, const uint32_t* frameIndex);

}  // namespace kivo
