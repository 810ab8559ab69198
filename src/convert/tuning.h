// SPDX-License-Identifier: BSD-2-Clause
// The two tuning words a converter learns its faster choices in, timed
// with the processor's tick counter: which leading count a row pair starts
// with, and which method writes a row twice.
#pragma once

#include <cstdint>

namespace kivo {

// Leading-count word: bit 0 decided, bit 1 use the source-aligned count
// (else the destination-aligned one), bits 3 to 7 a counter (16 at the
// start), bits 8 and up the last time of the destination-aligned count.
constexpr uint32_t kLeadStart = 128;
// Row-doubling word: bit 0 decided, bit 1 (while learning) the next timed
// call converts twice, bits 2 to 7 a counter (32 at the start), bits 8 and
// up the last time of converting twice. Decided: 1 convert twice, 3 copy.
constexpr uint32_t kDoubleStart = 130;
// A decided word grows by four per row converted and is learnt afresh
// once it passes this.
constexpr uint32_t kRelearnAge = 8192;

// Before each call: a new word starts learning, a decided one ages.
uint32_t AgeLeadWord(uint32_t word, uint32_t rows);
uint32_t AgeDoubleWord(uint32_t word, uint32_t rows);

inline bool WordDecided(uint32_t word) { return (word & 1) != 0; }
inline bool LeadUsesSourceCount(uint32_t word) { return (word & 2) != 0; }
// Decided or not, bit 1 says which method runs: convert twice while
// learning with it set, the copy method once decided with it set.
inline bool DoubleConvertsTwice(uint32_t word) { return WordDecided(word) ? (word & 2) == 0 : (word & 2) != 0; }

// After timing one row pair (`ticks` elapsed) with the count the word chose.
uint32_t LearnLead(uint32_t word, uint32_t ticks);
// After timing one doubled group step with the method the word chose.
uint32_t LearnDouble(uint32_t word, uint32_t ticks);

}  // namespace kivo
