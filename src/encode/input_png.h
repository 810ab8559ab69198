// SPDX-License-Identifier: BSD-2-Clause
// Streams pictures out of a sequence of PNG files (RGB or RGBA, any bit depth
// the PNG library can turn into 8-bit RGBA), converted to the player's YUV.
// Every file must have the size of the first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "encode/input_picture.h"

namespace kivo::encode {

struct PngOptions {
  bool alpha = false;        // fill SourcePicture::alpha from the PNG alpha (opaque without one)
  bool grey = false;         // luma only
  // Revisions 'f' and 'g': their player exchanges red and blue on the way
  // out, and stores the blue-difference plane first. The colours are
  // converted with red and blue exchanged and the planes handed back so that
  // the stream order (cb first) carries them: the RGB picture comes out right.
  bool beforeH = false;
};

struct PngInput {
  std::vector<std::string> files;
  uint32_t next = 0;  // index of the next file to read
  uint32_t width = 0, height = 0;
  bool firstHasAlpha = false;
  std::vector<uint8_t> rgba;  // one picture, reused
};

// False when this build cannot read PNG files.
bool PngSupported();

// The files named by a pattern with one printf-style integer field ("%d",
// "%04d"): numbers from 0 (or 1 when there is no file 0) on, up to the first
// missing one. A name without '%' stands for itself. Empty, with *error set,
// when no file matches.
std::vector<std::string> ExpandPngPattern(const std::string& pattern, std::string* error);

// Reads the first file's header to learn the size. False, with *error set,
// for a missing or unreadable file.
bool OpenPngSequence(PngInput& in, const std::vector<std::string>& files, std::string* error);
// Reads and converts the next file: 1 for a picture, 0 after the last file,
// -1 with *error set for an unreadable file or one whose size differs.
int ReadPngFrame(PngInput& in, const PngOptions& options, SourcePicture& out, std::string* error);

}  // namespace kivo::encode
