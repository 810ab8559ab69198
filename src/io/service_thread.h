// SPDX-License-Identifier: BSD-2-Clause
// Periodic service threads: a worker that wakes at a fixed rate, asks each
// registered client how urgent its work is and runs the most urgent client
// whose lock it can take without waiting, until no client has work.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace kivo {

struct ServiceClient;
using ServicePriority = uint32_t (*)(ServiceClient* client, uint32_t tick);
using ServiceWork = void (*)(ServiceClient* client, uint32_t tick);

// Embedded in the object it serves (the reader client in an IoDriver, the
// sound client in a Movie).
struct ServiceClient {
  ServiceClient* next;
  os::Mutex* mutex;  // created at registration, closed at removal
  ServiceClient* nextByPriority;
  uint32_t priority;
  ServicePriority priorityFunction;
  ServiceWork workFunction;
  uint32_t lastServicedTick;
  void* owner;  // the IoDriver or Movie this client serves
  // A work call that could do nothing sets this to its tick; the worker then
  // leaves the client out until the next wake-up instead of spinning on it.
  uint32_t idleTick;
};

struct ServiceThread;

constexpr uint32_t kReaderThreadRate = 5;   // wake-ups per second
constexpr uint32_t kSoundThreadRate = 20;

// Allocates a thread record (state created, no clients, tick 1, period
// 1000 / rate ms) and its worker; null when rate is 0 or anything fails.
ServiceThread* CreateServiceThread(uint32_t rate);
// Created or paused -> running. Resuming a paused thread releases the thread
// mutex its pause took, so it must run on the thread that paused it.
void StartServiceThread(ServiceThread* thread);
// Waits until the worker is outside any pass and holds it there.
void PauseServiceThread(ServiceThread* thread);
// Ends the worker, waits for it and frees the record.
void StopServiceThread(ServiceThread* thread);

// Stores the functions, clears the client's scheduling fields, creates its
// mutex and publishes it at the head of the list. 1 on success, 0 when no
// mutex could be made (the client is then not registered).
int32_t RegisterClient(ServiceThread* thread, ServiceClient* client, ServicePriority priority, ServiceWork work);

constexpr uint32_t kDestroyEmptyThreads = 1;  // UnregisterClients flag
constexpr uint32_t kReaderThreadDestroyed = 1;
constexpr uint32_t kSoundThreadDestroyed = 2;

// Removes the reader client from the reader thread and the sound client from
// the sound thread (any of them may be null), waits until no pass can still
// touch them and closes their mutexes. With kDestroyEmptyThreads a thread
// left without clients is stopped and freed; the result says which were.
uint32_t UnregisterClients(ServiceThread* readerThread, ServiceClient* readerClient, ServiceThread* soundThread,
                           ServiceClient* soundClient, uint32_t flags);

// Client locks, for the foreground and the IoDriver hooks. They nest on one
// thread: a thread that holds a client's lock takes it again at once (the
// worker holds the reader lock while ReadAhead takes it through its hook).
void LockClient(ServiceClient* client);
int32_t TryLockClient(ServiceClient* client);  // 1 also when the client has no mutex
void UnlockClient(ServiceClient* client);
// Both locks, without holding one while waiting for the other.
void LockTwoClients(ServiceClient* a, ServiceClient* b);
void YieldProcessor();

// Service threads alive in the process.
uint32_t ServiceThreadCount();

}  // namespace kivo
