// SPDX-License-Identifier: BSD-2-Clause
// The lead a Windows back end allows for when its system reports no latency:
// the position's jump beyond real time just after a start.
#include <gtest/gtest.h>

#include "sound/start_lead.h"

namespace kivo {
namespace {

TEST(StartLead, AJumpBeyondRealTimeAtAStartIsHeldSoundAndStaysThroughAResume) {
  constexpr uint32_t kBytesPerSecond = 88200;
  StartLead w;
  // A position that keeps to real time, even one that starts late, holds
  // nothing back.
  StartLeadWatch(w, 1000000, kBytesPerSecond);
  for (uint64_t us = 0; us <= 100000; us += 5000)
    StartLeadNote(w, 1000000 + us, us > 20000 ? static_cast<uint32_t>((us - 20000) * 88 / 1000) : 0);
  EXPECT_EQ(w.lead, 0u);
  // 100 ms counted at once, 12 ms after the start: 88 ms of it unheard.
  StartLeadWatch(w, 2000000, kBytesPerSecond);
  StartLeadNote(w, 2012000, 8820);
  EXPECT_EQ(w.lead, 8820u - 1058u);
  // Past the first moments a catch-up after a stall is not a lead.
  StartLeadNote(w, 2200000, 8820 + 30000);
  EXPECT_EQ(w.lead, 8820u - 1058u);
  // A resume whose position moves on at real time keeps what is held.
  StartLeadWatch(w, 3000000, kBytesPerSecond);
  StartLeadNote(w, 3050000, 4410);
  EXPECT_EQ(w.lead, 8820u - 1058u);
}

}  // namespace
}  // namespace kivo
