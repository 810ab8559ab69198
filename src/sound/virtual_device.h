// SPDX-License-Identifier: BSD-2-Clause
// Virtual back ends of both device layers, for tests: they consume sound at
// a speed the test sets, measured on the library clock (so a virtual clock
// drives them and nothing waits), hand every byte they play to a sink, and
// can be stalled, kept from starting, or made to fail.
#pragma once

#include <cstdint>

#include "sound/sound_device.h"

namespace kivo {

// Chosen by name: UseSoundDevice("virtual").

// Receives the bytes a device played, in order. `device` numbers the devices
// (queues and looping buffers alike) in the order they were opened since the
// last reset, from 0. The first byte is heard at `heardMs` on the library
// clock (the device latency included), each further one 1 / `bytesPerMs`
// later. Called with the virtual devices' lock held.
using VirtualSink = void (*)(void* context, uint32_t device, const uint8_t* bytes, uint32_t count, double heardMs,
                             double bytesPerMs);

// Failures and misbehaviour to simulate; bits of SetVirtualFailures.
constexpr uint32_t kVirtualFailOpen = 0x01;        // the queue's open, the looping object's creation
constexpr uint32_t kVirtualFailLoad = 0x02;        // the looping layer's library is missing
constexpr uint32_t kVirtualFailBuffer = 0x04;      // a looping buffer cannot be made
constexpr uint32_t kVirtualFailCooperation = 0x08; // the cooperative level is refused

// What a test can see of one device.
struct VirtualDeviceInfo {
  int32_t open;            // opened and not yet closed (or released)
  int32_t looping;         // a looping buffer (else a queue)
  SoundFormat format;
  uint32_t frequency;      // the looping buffer's applied rate
  int32_t pan, volume;     // the looping buffer's applied values
  uint32_t rightLeft;      // the queue's applied volume word
  int32_t volumeSet;       // a volume was applied at all
  int32_t playing;         // looping buffer started (not stopped), or queue not paused
  uint32_t playCursor;     // looping buffer
  uint32_t queued;         // headers waiting in the queue
  uint64_t played;         // bytes consumed (queue: of its headers; loop: cursor travel)
  uint32_t playCalls;
};

// Back to defaults: normal speed, no stall, no failures, no sink, no devices.
// Only between tests: no device may be open.
void ResetVirtualSound();
void SetVirtualSink(VirtualSink sink, void* context);
// Consumption speed in percent of the library clock (100 normal, 0 stalled,
// 100.5 a device clock half a percent fast).
void SetVirtualSpeed(double percent);
// Sound the output holds beyond the device's buffers: it is heard this long
// after the device took it, and the devices report it as their latency.
void SetVirtualLatency(uint32_t ms);
void SetVirtualFailures(uint32_t failures);
// The next `count` looping-buffer locks answer "buffer lost".
void LoseVirtualBuffers(uint32_t count);
// The next `count` starts of a looping buffer are taken without starting it.
void IgnoreVirtualPlays(uint32_t count);
// The looping buffer's write cursor runs this many bytes ahead of its play
// cursor while playing (default 0: ahead by 10 ms of sound;
// kVirtualNoWriteLead: on it, as on an output that takes sound a period at
// a time).
constexpr uint32_t kVirtualNoWriteLead = 0xFFFFFFFFu;
void SetVirtualWriteLead(uint32_t bytes);

// Moves a device's count of bytes played on, as if it had played that many
// more: a test starts the position a driver reads just below its wrap.
void ShiftVirtualPosition(uint32_t device, uint64_t bytes);

uint32_t VirtualDeviceCount();  // opened since the reset
VirtualDeviceInfo GetVirtualDevice(uint32_t device);
uint32_t VirtualObjectsCreated();
uint32_t VirtualObjectsHeld();
uint32_t VirtualPrimaryFormats();  // the output's format was set this often
// Consumes what the elapsed time allows on every device now.
void AdvanceVirtualDevices();

}  // namespace kivo
