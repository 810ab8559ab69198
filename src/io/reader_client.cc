// SPDX-License-Identifier: BSD-2-Clause
// The driver's side of the reader thread: its client's priority and work,
// and the lock hooks that make the client's mutex the driver's lock.
#include "io/io_driver.h"

namespace kivo {
namespace {

void HookLock(IoDriver* io) { LockClient(&io->readerClient); }
int32_t HookTryLock(IoDriver* io) { return TryLockClient(&io->readerClient); }
void HookUnlock(IoDriver* io) { UnlockClient(&io->readerClient); }
void HookYield(IoDriver* io) {
  (void)io;
  YieldProcessor();
}

}  // namespace

void InstallReaderLockHooks(IoDriver* io) {
  io->Lock = HookLock;
  io->TryLock = HookTryLock;
  io->Unlock = HookUnlock;
  io->Yield = HookYield;
}

uint32_t ReaderPriority(ServiceClient* client, uint32_t tick) {
  const IoDriver* io = static_cast<const IoDriver*>(client->owner);
  uint32_t r = FillPercent(io);
  if (r < 50) return 0xFFFFFFFFu - r;
  if (client->lastServicedTick == tick) return 0;
  return 0x80000000u - client->lastServicedTick;
}

void ReaderWork(ServiceClient* client, uint32_t tick) {
  IoDriver* io = static_cast<IoDriver*>(client->owner);
  // 0: full, or nothing left to read (end of data) - asking again in this
  // wake-up would only spin.
  if (io->ReadAhead(io) <= 0) client->idleTick = tick;
  client->lastServicedTick = tick;
}

int32_t RegisterReaderClient(ServiceThread* thread, IoDriver* io) {
  io->readerClient.owner = io;
  return RegisterClient(thread, &io->readerClient, ReaderPriority, ReaderWork);
}

}  // namespace kivo
