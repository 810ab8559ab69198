// SPDX-License-Identifier: BSD-2-Clause
// The streaming movie writer: the same layout as BuildMovie, in two passes
// over files instead of one in memory.
#include "encode/movie_file_writer.h"

#include "encode/encode_error.h"
#include "encode/output_file.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "movie/container.h"

namespace kivo::encode {
namespace {

bool Put32(FILE* f, uint32_t v) {
  uint8_t b[4];
  WriteLe32(b, v);
  return fwrite(b, 1, 4, f) == 4;
}

bool PutBytes(FILE* f, const std::vector<uint8_t>& bytes) {
  return bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
}

// Frame offsets are 32-bit with bit 0 taken by the key-frame bit.
constexpr uint64_t kLargestMovie = 0xFFFFFFFEull;

}  // namespace

bool BeginMovieFile(MovieFileWriter& w, const std::string& outPath, const MovieLayout& layout, std::string* error) {
  AbandonMovieFile(w);
  w = MovieFileWriter{};
  w.outPath = outPath;
  w.layout = layout;
  w.maxBytes.assign(layout.tracks.size(), 0);
  // The packets wait in a fresh file beside the output; the output itself
  // is opened (and checked) only once they are all there.
  w.spill = CreateTempBeside(outPath, &w.spillPath, error);
  return w.spill != nullptr;
}

bool AddMovieFrame(MovieFileWriter& w, const FramePacket& frame, std::string* error) {
  if (!w.spill) return Fail(error, "the movie is not open for writing");
  const size_t tracks = w.layout.tracks.size();
  uint64_t written = frame.video.size() + 4 * tracks;
  for (size_t t = 0; t < tracks && t < frame.audio.size(); ++t) {
    const std::vector<uint8_t>& a = frame.audio[t];
    written += a.size();
    if (a.size() >= 4) w.maxBytes[t] = std::max(w.maxBytes[t], ReadLe32(a.data()));
  }
  // Packets start at even offsets: bit 0 of an index entry is the key bit.
  const uint64_t size = written + (written & 1);
  const uint64_t head = kHeaderSize + 12 * uint64_t(tracks) + 4 * (uint64_t(w.sizes.size()) + 2);
  if (head + w.total + size > kLargestMovie) return Fail(error, "the movie would exceed 4 GB");
  bool ok = true;
  for (size_t t = 0; t < tracks; ++t) {
    static const std::vector<uint8_t> none;
    const std::vector<uint8_t>& a = t < frame.audio.size() ? frame.audio[t] : none;
    ok = ok && Put32(w.spill, static_cast<uint32_t>(a.size())) && PutBytes(w.spill, a);
  }
  ok = ok && PutBytes(w.spill, frame.video);
  if (ok && written < size) ok = fputc(0, w.spill) != EOF;
  if (!ok) return Fail(error, FileError(w.spillPath));
  w.sizes.push_back(static_cast<uint32_t>(size));
  w.keys.push_back(frame.key ? 1 : 0);
  w.largest = std::max(w.largest, static_cast<uint32_t>(size));
  w.total += size;
  return true;
}

bool FinishMovieFile(MovieFileWriter& w, std::string* error) {
  if (!w.spill) return Fail(error, "the movie is not open for writing");
  if (w.sizes.empty()) {
    AbandonMovieFile(w);
    return Fail(error, "no frames to write");
  }
  if (fflush(w.spill) != 0 || fseek(w.spill, 0, SEEK_SET) != 0) {
    const std::string text = FileError(w.spillPath);
    AbandonMovieFile(w);
    return Fail(error, text);
  }
  const uint32_t tracks = static_cast<uint32_t>(w.layout.tracks.size());
  const uint32_t frames = static_cast<uint32_t>(w.sizes.size());
  const uint32_t first = kHeaderSize + 12 * tracks + 4 * (frames + 1);
  const uint32_t total = first + static_cast<uint32_t>(w.total);
  OutputFile output;
  if (!OpenOutput(output, w.outPath, error)) {
    AbandonMovieFile(w);
    return false;
  }
  w.tempPath = output.temp;
  FILE* out = output.file;
  FILE* in = w.spill;
  bool ok = true;
  {
    const uint8_t magic[4] = {'K', 'I', 'V', static_cast<uint8_t>(w.layout.revision)};
    ok = fwrite(magic, 1, 4, out) == 4;
    for (uint32_t v : {total - 8, frames, w.largest, frames, w.layout.width, w.layout.height, w.layout.rateNum,
                       w.layout.rateDen, w.layout.videoFlags, tracks})
      ok = ok && Put32(out, v);
    for (uint32_t t = 0; t < tracks; ++t)
      ok = ok && Put32(out, w.layout.tracks[t].maxBytes ? w.layout.tracks[t].maxBytes : w.maxBytes[t]);
    for (uint32_t t = 0; t < tracks; ++t) ok = ok && Put32(out, w.layout.tracks[t].audioWord);
    for (uint32_t t = 0; t < tracks; ++t) ok = ok && Put32(out, w.layout.tracks[t].id);
    uint32_t offset = first;
    for (uint32_t i = 0; i < frames; ++i) {
      ok = ok && Put32(out, offset | w.keys[i]);
      offset += w.sizes[i];
    }
    ok = ok && Put32(out, offset);
    std::vector<uint8_t> chunk(1 << 16);
    size_t n;
    while (ok && (n = fread(chunk.data(), 1, chunk.size(), in)) > 0) ok = fwrite(chunk.data(), 1, n, out) == n;
    ok = ok && !ferror(in);
  }
  if (!ok) {
    const std::string text = FileError(ferror(in) ? w.spillPath : w.outPath);
    AbandonOutput(output);
    AbandonMovieFile(w);
    return Fail(error, text);
  }
  const bool committed = CommitOutput(output, error);
  w.tempPath.clear();
  AbandonMovieFile(w);  // the spill file goes either way
  if (!committed) return false;
  w.sizes.clear();
  return true;
}

void AbandonMovieFile(MovieFileWriter& w) {
  if (w.spill) fclose(w.spill);
  w.spill = nullptr;
  std::error_code ec;
  if (!w.spillPath.empty()) std::filesystem::remove(w.spillPath, ec);
  if (!w.tempPath.empty()) std::filesystem::remove(w.tempPath, ec);
  w.spillPath.clear();
  w.tempPath.clear();
}

}  // namespace kivo::encode
