// SPDX-License-Identifier: BSD-2-Clause
// How far a device's reported position runs ahead of the sound heard, for
// back ends whose system reports no latency. At a start the position can
// jump by what the system takes into buffers of its own before it plays
// (under Wine some 50 to 100 ms): further than can have played in the time
// since. That excess, seen in the first moments after a start, is sound the
// position counts that is not heard yet; a position that never outruns real
// time gives none. What is held stays held through a pause, and a resume
// shows no jump when the system kept its buffers running: the largest
// excess seen since the device opened stands.
#pragma once

#include <cstdint>

namespace kivo {

constexpr uint64_t kStartLeadWatchUs = 100000;

struct StartLead {
  uint64_t startUs = 0;  // on any microsecond clock
  uint32_t bytesPerSecond = 0;
  uint32_t lead = 0;  // bytes
  bool watching = false;
};

inline void StartLeadWatch(StartLead& w, uint64_t nowUs, uint32_t bytesPerSecond) {
  w.startUs = nowUs;
  w.bytesPerSecond = bytesPerSecond;
  w.watching = true;
}

// `advanced`: bytes the position moved since the start.
inline void StartLeadNote(StartLead& w, uint64_t nowUs, uint32_t advanced) {
  if (!w.watching) return;
  const uint64_t since = nowUs - w.startUs;
  if (since > kStartLeadWatchUs) {
    w.watching = false;
    return;
  }
  const uint64_t couldPlay = since * w.bytesPerSecond / 1000000;
  if (advanced > couldPlay && advanced - couldPlay > w.lead) w.lead = static_cast<uint32_t>(advanced - couldPlay);
}

}  // namespace kivo
