// SPDX-License-Identifier: BSD-2-Clause
// Taking entries off the movie list: separators and quotes, what each entry
// names, the ".kiv" rule, and the POSIX spelling of names.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "player/movie_list.h"

namespace kivo {
namespace {

TEST(MovieList, EntriesComeOffTheFrontOneAtATime) {
  char list[kCommandLineSize] = "  \"my movie\" , intro|1024 :126976 , ,last.kiv  ";
  MovieEntry e;
  ASSERT_TRUE(TakeMovieEntry(list, &e, kWindowsNames));
  EXPECT_EQ(e.kind, kEntryFile);
  EXPECT_STREQ(e.name, "my movie.kiv");
  EXPECT_STREQ(list, "intro|1024 :126976 , ,last.kiv");

  ASSERT_TRUE(TakeMovieEntry(list, &e, kWindowsNames));
  EXPECT_EQ(e.kind, kEntryFileAtOffset);
  EXPECT_STREQ(e.name, "intro");
  EXPECT_EQ(e.offset, 1024u);

  ASSERT_TRUE(TakeMovieEntry(list, &e, kWindowsNames));
  EXPECT_EQ(e.kind, kEntryOwnProgram);
  EXPECT_EQ(e.offset, 126976u);
  EXPECT_STREQ(e.name, "");
  // Only one ',' goes with the blanks after an entry; the second one starts
  // the next entry, which runs to the next blank.
  EXPECT_STREQ(list, ",last.kiv");
  ASSERT_TRUE(TakeMovieEntry(list, &e, kWindowsNames));
  EXPECT_STREQ(e.name, ",last.kiv");
  EXPECT_FALSE(TakeMovieEntry(list, &e, kWindowsNames));
  EXPECT_STREQ(list, "");
}

TEST(MovieList, QuotesAndOddEntries) {
  char unclosed[kCommandLineSize] = "\"half open name ";
  MovieEntry e;
  ASSERT_TRUE(TakeMovieEntry(unclosed, &e, kWindowsNames));
  EXPECT_STREQ(e.name, "\"half open name.kiv");
  EXPECT_STREQ(unclosed, "");

  char padded[kCommandLineSize] = "\"  spaced  \"next";
  ASSERT_TRUE(TakeMovieEntry(padded, &e, kWindowsNames));
  EXPECT_STREQ(e.name, "spaced.kiv");
  EXPECT_STREQ(padded, "next");

  // Entries that only look like offsets are names.
  struct Case { const char* text; int32_t kind; const char* name; uint64_t offset; } cases[] = {
      {":12ab", kEntryFile, ":12ab.kiv", 0},
      {":", kEntryFile, ":.kiv", 0},
      {"|77", kEntryFile, "|77.kiv", 0},
      {"a|b|5", kEntryFileAtOffset, "a|b", 5},
      {"clip|", kEntryFile, "clip|.kiv", 0},
      {":99999999999999999999", kEntryFile, ":99999999999999999999.kiv", 0},
      {":9223372036854775807", kEntryOwnProgram, "", 9223372036854775807ull},
      {"C:\\films.old\\intro", kEntryFile, "C:\\films.old\\intro.kiv", 0},
      {"C:\\films\\intro.mov", kEntryFile, "C:\\films\\intro.mov", 0},
      {"d:x", kEntryFile, "d:x.kiv", 0},
      {"films.old/intro", kEntryFile, "films.old/intro", 0},  // '/' is no separator here
  };
  for (const Case& c : cases) {
    ClassifyMovieEntry(c.text, &e, kWindowsNames);
    EXPECT_EQ(e.kind, c.kind) << c.text;
    EXPECT_STREQ(e.name, c.name) << c.text;
    EXPECT_EQ(e.offset, c.offset) << c.text;
  }
}

#if !defined(_WIN32)  // POSIX names
TEST(MovieList, MissingNamedMoviesReadAsListEntries) {
  MovieEntry e;
  ClassifyNamedMovie("/nowhere/films.old/intro", &e);
  EXPECT_STREQ(e.name, "/nowhere/films.old/intro.kiv");
  ClassifyNamedMovie("/nowhere/big.bin|4096", &e);
  EXPECT_EQ(e.kind, kEntryFileAtOffset);
  EXPECT_STREQ(e.name, "/nowhere/big.bin");
}
#endif

}  // namespace
}  // namespace kivo

namespace kivo {
namespace {

// Arbitrary lines built from the characters the parser cares about: the
// working buffer stays terminated within its size, and taking entries ends
// with every name inside its record.
TEST(MovieList, ArbitraryLinesStayInsideTheirBuffers) {
  const char alphabet[] = "/-!\"LlFfDdWwAaIiTt0123456789.;,|:\\ \t~xq";
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1664525u + 1013904223u, seed >> 8; };
  std::string defaultLine, real, profile;
  for (int round = 0; round < 3000; ++round) {
    for (std::string* s : {&defaultLine, &real, &profile}) {
      s->clear();
      uint32_t n = next() % 1400;
      for (uint32_t i = 0; i < n; ++i) s->push_back(alphabet[next() % (sizeof alphabet - 1)]);
    }
    uint32_t (*readProfile)(void*, char*, uint32_t) = [](void* c, char* out, uint32_t size) {
      const std::string& p = *static_cast<const std::string*>(c);
      uint32_t n = p.size() < size - 1 ? static_cast<uint32_t>(p.size()) : size - 1;
      p.copy(out, n);
      out[n] = 0;
      return n;
    };
    CommandLineSources sources{defaultLine.c_str(), real.c_str(), readProfile, &profile, 640, 480};
    ParsedCommandLine parsed;
    ParseCommandLine(sources, &parsed);
    size_t length = strnlen(parsed.movieList, kCommandLineSize);
    ASSERT_LT(length, kCommandLineSize);
    MovieEntry e;
    size_t taken = 0;
    while (TakeMovieEntry(parsed.movieList, &e, round % 2 ? kPosixNames : kWindowsNames)) {
      ASSERT_LT(strnlen(e.name, sizeof e.name), sizeof e.name);
      ASSERT_LE(++taken, length);
    }
  }
}

}  // namespace
}  // namespace kivo
