// SPDX-License-Identifier: BSD-2-Clause
// The movie handle: everything needed to play one movie, made at its open in
// a few grouped blocks and released by its close. Fields keep the names the
// rest of the library reads them by.
#pragma once

#include <cstdint>

#include "io/io_driver.h"
#include "io/service_thread.h"
#include "kivo/movie.h"
#include "movie/statistics.h"
#include "video/plane_set.h"

namespace kivo {

struct SoundTrack;

struct Movie {
  uint32_t width, height;          // presented size, after display-mode doubling
  uint32_t frameCount;
  uint32_t currentFrame;           // frame whose packet is loaded (from 1)
  uint32_t lastFrame;
  uint32_t playRateNum, playRateDen;
  int32_t readError;
  uint32_t openFlags;
  uint32_t videoFlags;
  uint32_t dataSize;
  MovieRect rects[8];
  int32_t rectCount;               // -1 = not yet worked out for the newest frame
  PlaneSet planes;
  uint32_t cellsAcross;
  uint32_t cellCount;
  uint32_t largestFrame;
  uint32_t indexLast;
  uint32_t trackCount;
  uint32_t peakDataRate, peakDataFrame;
  int32_t paused;
  uint8_t* frameData;              // packet of currentFrame (in the ring, or in frameBuffer)
  uint8_t* frameBuffer;            // largestFrame bytes: a packet that cannot be used in the ring
  uint8_t* preloaded;              // frame 1 of a preloaded or in-memory movie
  uint32_t preloadedBytes;         // of the data from frame 1 on: less than the header's when the file is cut short
  int32_t packetShort;             // currentFrame's packet did not come whole: the data ends before it
  uint32_t* frameIndex;
  IoDriver io;
  uint8_t* readBlock;
  uint32_t readBufferSize;
  uint32_t sourceWidth, sourceHeight;
  uint32_t* selectedTracks;
  uint32_t* trackMaxBytes;
  uint32_t* trackAudioWords;
  uint32_t* trackIds;
  uint32_t framesDecoded;
  uint32_t firstFrameTime;
  uint32_t decodeStart, decodeEnd;
  uint32_t clockBase, clockBaseFrame;
  uint32_t lateLimit;
  uint32_t slowStart;
  uint32_t slowestMs, slowestFrame, secondSlowestMs, secondSlowestFrame;
  int32_t soundOn;
  int32_t videoOn;
  uint32_t memoryUsed;
  uint32_t videoMs, audioMs, blitMs;
  uint32_t openMs;
  uint32_t fileRateNum, fileRateDen;
  FrameHistory history;            // the statistics' running totals of recent frames
  uint32_t decodedFrame;
  uint32_t openTrackCount;
  uint32_t soundSkips;
  SoundTrack* soundTracks;
  int32_t copySkipped;             // CheckLate skipped the last copy: changed cells add up until one is made
  uint32_t skippedBlits;
  uint8_t* bundleBuffers[kBundleCount];
  uint32_t lateRun;
  uint32_t catchUpMs, catchUpStep;
  uint32_t syncFrame;              // framesDecoded when the schedule was last set by the sound
  int32_t audioDecodedAhead;       // the loaded packet's sound went in when it was loaded (a loop)
  // Frame 1's sound packets (the front of its packet), from which the next
  // pass's lead-in goes in before a loop: in the movie's data when it is in
  // memory, else a copy made at the open.
  uint8_t* loopSound;
  uint32_t loopSoundBytes;
  int32_t looping;                 // the caller will go on to frame 1 after the last frame
  int32_t nextPassIn;              // the next pass's lead-in is in the rings: the pass's packets bring no more sound
  ServiceClient soundClient;
  // Kept by the open for the frame cycle and the summary.
  uint8_t revision;
  uint32_t requestedTracks;        // SoundTrack records planned (at least 1)
  uint8_t* picturesBlock;          // the block of the frame and alpha buffers
};

}  // namespace kivo
