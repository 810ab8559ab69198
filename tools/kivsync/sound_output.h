// SPDX-License-Identifier: BSD-2-Clause
// Where kivsync's sound goes and how it learns when each byte was heard: on
// Linux SDL's disk output, whose file it watches grow; on Windows the system's
// output, recorded on the host by scripts/wine-sync from the sound server's
// sink. Times are milliseconds of NowMs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kivsync {

// A steady clock in milliseconds (on Windows the performance counter, which
// under Wine is the host's raw monotonic clock, as the recording's times are).
double NowMs();

struct SoundOutput;

struct OutputFormat {
  uint32_t rate, channels;  // 16-bit samples
};

// Makes the sound of tracks opened from now on go to the measured output;
// `heard` names the host's recording where there is one. Null, with a
// message, when it cannot.
SoundOutput* OpenOutput(const OutputFormat& format, const std::string& heard, std::string* error);
// Notes what the output took so far; called often during playback.
void PollOutput(SoundOutput* output);
// After playback, once the output played out: everything heard, in order.
// False, with a message, when it cannot be read.
bool FinishOutput(SoundOutput* output, std::string* error);
const std::vector<uint8_t>& HeardBytes(const SoundOutput* output);
// When byte `at` of HeardBytes was heard.
double HeardAt(const SoundOutput* output, uint64_t at);
// One line on how the times of the heard sound were found.
std::string DescribeOutput(const SoundOutput* output);
void CloseOutput(SoundOutput* output);

}  // namespace kivsync
