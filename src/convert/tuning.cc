// SPDX-License-Identifier: BSD-2-Clause
// The tuning words' learning rules: each undecided word times its two
// choices in turn and moves a counter toward the faster one until the
// counter runs out at either end.
#include "convert/tuning.h"

namespace kivo {

uint32_t AgeLeadWord(uint32_t word, uint32_t rows) {
  if (word == 0) return kLeadStart;
  if (WordDecided(word)) return word > kRelearnAge ? kLeadStart : word + 4 * rows;
  return word;
}

uint32_t AgeDoubleWord(uint32_t word, uint32_t rows) {
  if (word == 0) return kDoubleStart;
  if (WordDecided(word)) return word > kRelearnAge ? kDoubleStart : word + 4 * rows;
  return word;
}

uint32_t LearnLead(uint32_t word, uint32_t ticks) {
  uint32_t counter = (word >> 3) & 31;
  if (!(word & 2)) return (ticks << 8) | (counter << 3) | 2;  // next pair tries the other count
  if (ticks < (word >> 8)) return counter == 0 ? 3 : (counter - 1) << 3;
  return counter == 31 ? 1 : (counter + 1) << 3;
}

uint32_t LearnDouble(uint32_t word, uint32_t ticks) {
  uint32_t counter = (word >> 2) & 63;
  if (word & 2) return (ticks << 8) | (counter << 2);  // the next call times the copy method
  if (ticks < (word >> 8)) return counter == 0 ? 3 : ((counter - 1) << 2) | 2;
  return counter == 63 ? 1 : ((counter + 1) << 2) | 2;
}

}  // namespace kivo
