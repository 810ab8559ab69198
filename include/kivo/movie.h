// SPDX-License-Identifier: BSD-2-Clause
// Movies: opening and closing, the frame cycle, the one-shot settings for
// the next open, what a caller may read of an open movie, and the playback
// statistics.
//
// Threads: every call here is made from one thread, the one that opened the
// movie (the library's own reader and sound threads take care of the rest).
// Movies are opened one at a time. Every call that takes a movie ignores a
// null one.
#pragma once

#include <cstdint>

#include "kivo/export.h"

namespace kivo {

// The movie handle. Its record is the library's own and changes between
// versions; a caller reads what it needs through GetMovieInfo, GetRectList
// and GetPicture, which copy or point at the few fields meant for callers.
struct Movie;

// ---- Open flags (the second argument of OpenMovie) -------------------------
constexpr uint32_t kOpenRateOverride = 0x00001000;  // play at SetFrameRate's rate
constexpr uint32_t kOpenPreload = 0x00002000;       // read the whole movie into memory
constexpr uint32_t kOpenSoundTracks = 0x00004000;   // open the tracks of SetSoundTracks, not id 0
constexpr uint32_t kOpenBeforeI = 0x00008000;       // set by the open: revision before 'i'
constexpr uint32_t kOpenBeforeH = 0x00010000;       // set by the open: revision before 'h'
constexpr uint32_t kOpenGrey = 0x00020000;          // decode no chroma
constexpr uint32_t kOpenNoSimd = 0x00040000;        // plain integer routines only
constexpr uint32_t kOpenNeverSkip = 0x00080000;     // late frames are still copied
constexpr uint32_t kOpenAlpha = 0x00100000;         // decode the alpha plane, when the file has one
constexpr uint32_t kOpenNoFill = 0x00200000;        // do not fill the read-ahead buffer in the open
constexpr uint32_t kOpenReadSpeed = 0x00400000;     // use SetSimulatedReadSpeed's value
constexpr uint32_t kOpenHandle = 0x00800000;        // the source is an open file handle
constexpr uint32_t kOpenBufferSize = 0x01000000;    // use SetReadBufferSize's value
constexpr uint32_t kOpenMemory = 0x04000000;        // the source is a whole movie in memory
constexpr uint32_t kOpenNoReader = 0x08000000;      // no background reader thread
// Display mode, bits 28 to 30: 0 the file's own, 1 height doubled, 2 height
// interlaced, 3 width doubled, 4 both doubled, 5 width doubled and height
// interlaced, 6 interlaced at single size, 7 none whatever the file says.
constexpr uint32_t kOpenModeMask = 0x70000000;
constexpr uint32_t kOpenModeShift = 28;

// SetSoundTracks takes at most this many ids.
constexpr int kMaxSoundTracks = 8;

struct MovieRect {
  int32_t x, y, width, height;
};

// ---- Opening and closing ---------------------------------------------------

// `source` is a file name, an open file handle (kOpenHandle; an
// intptr_t file descriptor, or a Windows HANDLE, cast to a pointer, standing
// at the movie's first byte; the caller keeps and closes it) or the address
// of a whole movie in memory (kOpenMemory; it must outlive the movie).
// Returns the movie with frame 1 loaded, or null with the reason in
// GetErrorText. Consumes the one-shot settings below that the flags ask for.
KIVO_API Movie* OpenMovie(const void* source, uint32_t openFlags);
// Stops the sound, leaves the service threads and frees everything.
KIVO_API void CloseMovie(Movie* movie);
// The reason for the last failed open; empty at the start of every open.
KIVO_API const char* GetErrorText();

// ---- The frame cycle -------------------------------------------------------
// Per frame: WaitFrame until it gives 0, DoFrame, then copy the picture
// (CopyToBuffer, which runs CheckLate), GetRects and show them, and
// NextFrame. After the last frame NextFrame goes back to frame 1: the caller
// decides when a movie ends.

// 1 = the loaded frame is not due yet (the call reads ahead meanwhile),
// 0 = decode it now. 0 at once for the first frame and after a read error;
// always 1 while paused.
KIVO_API int32_t WaitFrame(Movie* movie);
// Decodes the loaded frame: its audio into the sound tracks, its picture
// into the movie's planes. 1 after a read error (nothing is decoded then).
KIVO_API int32_t DoFrame(Movie* movie);
// Loads the next frame's packet (frame 1 after the last one).
KIVO_API void NextFrame(Movie* movie);
// Loads frame `frame` (from 1; 0 is taken as 1). Frame 1 restarts the sound.
KIVO_API void GotoFrame(Movie* movie, uint32_t frame);
// Pauses (1) or resumes (0) the clock and the sound; returns the new state.
KIVO_API int32_t PauseMovie(Movie* movie, int32_t pause);
// Says whether the pass under way will go on to frame 1 after its last frame
// (1) or end there (0, the default after an open). While it will, the next
// pass's sound reaches the devices before the loop, as far ahead as they
// need it to play on without a pause; otherwise none of it is heard. Say it
// before the last second of a pass. Returns the new state.
KIVO_API int32_t SetMovieLooping(Movie* movie, int32_t looping);
// 1 when the frame is too late to be shown and its copy should be skipped.
// CopyToBuffer calls it itself; callers that copy by other means call it.
KIVO_API int32_t CheckLate(Movie* movie, uint32_t copyFlags);
// Works out the changed areas of the newest picture (at most 8 rectangles,
// in the presented picture's coordinates, top to bottom) and returns how
// many; 0 when nothing needs showing. GetRectList gives the rectangles.
// Pass the flags of the copy just made (its display option scales the
// rectangles; the movie's own is added) with the display buffer's flags
// OR-ed in: its kBlitNoBlits bit gives 0 (nothing to blit), kBlitStretched
// one rectangle. After a copy CheckLate skipped it gives 0 (the changes add
// up for the next copy made), unless never-skip is in force.
KIVO_API int32_t GetRects(Movie* movie, uint32_t copyFlags);
// The display buffer's bits GetRects reads (kBlitNoBlits and kBlitStretched
// are these): no rectangles at all, or one of the whole picture.
constexpr uint32_t kRectsNone = 0x04000000;
constexpr uint32_t kRectsWhole = 0x08000000;
// The movie's rectangle array, which the last GetRects filled (its result
// says how many are valid); the pointer stays valid until CloseMovie.
KIVO_API const MovieRect* GetRectList(const Movie* movie);

// The library's millisecond clock, the one the frame cycle runs on: never
// runs backwards. Any thread.
KIVO_API uint32_t GetMilliseconds();

// ---- One-shot settings for the next OpenMovie ------------------------------
// Each is used by the next open whose flags ask for it, then goes back to
// its default. Set them on the thread that opens.

// Frame rate override, with kOpenRateOverride; numerator -1 = none.
KIVO_API void SetFrameRate(int32_t numerator, int32_t denominator);
// Sound tracks to open by id (at most kMaxSoundTracks), with
// kOpenSoundTracks. Every open goes back to the default (the track with id 0).
KIVO_API void SetSoundTracks(uint32_t count, const uint32_t* ids);
// Read-ahead buffer size in bytes, with kOpenBufferSize; 0xFFFFFFFF = unset.
KIVO_API void SetReadBufferSize(uint32_t bytes);
// Reading slowed to this many bytes per second, with kOpenReadSpeed.
KIVO_API void SetSimulatedReadSpeed(uint32_t bytesPerSecond);

// ---- What a caller reads of an open movie ----------------------------------

struct MovieInfo {
  uint32_t width, height;              // the presented picture, after display-mode doubling
  uint32_t sourceWidth, sourceHeight;  // the decoded picture, as in the file
  uint32_t frameCount;
  uint32_t currentFrame;               // the frame whose packet is loaded (from 1)
  uint32_t lastFrame;                  // after a DoFrame: the frame just decoded
  uint32_t playRateNum, playRateDen;   // the rate played; playRateNum 0 = as fast as possible
  uint32_t fileRateNum, fileRateDen;   // the file's own rate
  uint32_t openFlags;                  // the effective open flags
  uint32_t videoFlags;                 // the file header's video flags
  uint32_t dataSize;                   // bytes of the movie
  uint32_t trackCount;                 // audio tracks in the file
  uint32_t openTrackCount;             // sound tracks playing
  int32_t readError;                   // the file ended early: no more frames decode
  int32_t paused;
  int32_t soundOn;
  // The file's own tables, for tools that show them.
  uint32_t revision;            // the stream revision letter: 'f', 'g', 'h' or 'i'
  uint32_t largestFrame;        // bytes of the largest frame packet (as the header says, at most the movie's size)
  uint32_t indexLast;           // frame index entries minus one, at least frameCount
  // The frame index, indexLast + 1 words, valid until CloseMovie: word n - 1
  // is the offset of frame n from the movie's first byte with bit 0 set for a
  // key frame, and word frameCount the end of the last frame, so frame n
  // takes (word n & ~1) - (word n - 1 & ~1) bytes.
  const uint32_t* frameIndex;
};

// Copies the movie's current values; 0 (and the record cleared) for a null
// movie. Cheap enough to call every frame.
KIVO_API int32_t GetMovieInfo(const Movie* movie, MovieInfo* info);

// Gives a movie opened without a display mode (its open flags' bits 28 to
// 30 are 0) the display mode `mode`, 1 to 6, as if the open had found it:
// the presented width and height are doubled as the mode says and later
// copies and rectangles follow it. For a player that picks a doubling once
// it knows the window; call it before the first copy. 1 when applied; 0
// for another mode or a movie that has one already.
KIVO_API int32_t SetMovieDisplayMode(Movie* movie, uint32_t mode);

// The newest decoded picture, as planes: luma and alpha sourceWidth x
// sourceHeight, the two chroma planes half size rounded up. Pointers stay
// valid until the next DoFrame; alpha is null without an alpha plane.
struct MoviePicture {
  const uint8_t* luma;
  const uint8_t* u;  // Cb
  const uint8_t* v;  // Cr
  const uint8_t* alpha;
  uint32_t width, height;
  uint32_t chromaWidth, chromaHeight;
  uint32_t pitch, chromaPitch;  // bytes from one row to the next
  uint32_t frame;               // the frame decoded last, 0 before the first DoFrame
};
KIVO_API int32_t GetPicture(const Movie* movie, MoviePicture* picture);

// ---- Playback statistics ---------------------------------------------------
// Times are milliseconds of GetMilliseconds; both calls count the time since
// the last DoFrame as the caller's copy-and-show time.

struct MovieSummary {
  uint32_t width, height;
  uint32_t totalMs;         // since the first frame was decoded
  uint32_t fileRateNum, fileRateDen;
  uint32_t playRateNum, playRateDen;
  uint32_t openMs;
  uint32_t frameCount;
  uint32_t framesPlayed;
  uint32_t framesSkipped;   // always 0: lateness skips copies, never frames
  uint32_t skippedBlits;
  uint32_t soundSkips;
  uint32_t blitMs;
  uint32_t readMs;
  uint32_t videoMs;
  uint32_t audioMs;
  uint32_t idleReadMs;
  uint32_t backgroundReadMs;
  uint32_t deviceSpeed;     // bytes per second
  uint32_t slowestMs, secondSlowestMs;
  uint32_t slowestFrame, secondSlowestFrame;
  uint32_t averageDataRate;
  uint32_t averageFrameSize;
  uint32_t memoryUsed;
  uint32_t inputMemory;
  uint32_t inputMemoryUsed;
  uint32_t peakDataRate;
  uint32_t peakDataFrame;   // from 1
};
static_assert(sizeof(MovieSummary) == 31 * 4, "the summary is 31 words");

struct RealtimeStats {
  uint32_t lastFrame;
  uint32_t playRateNum, playRateDen;
  uint32_t window;
  uint32_t spanMs;
  uint32_t videoMs, audioMs, readMs, idleReadMs, backgroundReadMs, blitMs;
  uint32_t fillTarget;
  uint32_t buffered;
  uint32_t dataRate;        // bytes per second over the window
};
static_assert(sizeof(RealtimeStats) == 14 * 4, "the realtime record is 14 words");

// The whole playback so far. Nothing happens when either pointer is null.
KIVO_API void GetSummary(Movie* movie, MovieSummary* summary);
// The last `window` frames. 0, or a window of a second's frames or more,
// gives one frame less than a second's frames (the file's rate rounded, at
// most 1000): 24 for a movie of 25 frames a second. Shorter near the
// movie's start; at least 1. The record's `window` says what was used.
KIVO_API void GetRealtime(Movie* movie, RealtimeStats* stats, uint32_t window);

}  // namespace kivo
