// SPDX-License-Identifier: BSD-2-Clause
// The service threads: the worker's wake-up loop and its passes over the
// clients, pausing and stopping, registration, and the client locks.
#include "io/service_thread.h"

#include <atomic>
#include <new>

#include "base/memory.h"

namespace kivo {

enum ServiceState : int32_t { kCreated = 0, kRunning = 1, kPaused = 2, kStopping = 3, kPausing = 4 };

struct ServiceThread {
  std::atomic<int32_t> state;
  uint32_t period;
  os::Event* wake;  // set only to stop the worker
  os::Thread* thread;
  os::Mutex* mutex;  // held by the worker for a pass, by the owner while paused
  std::atomic<ServiceClient*> clients;  // newest first
  uint32_t tick;                        // the worker's, under the mutex
  std::atomic<uint32_t> clientCount;
};

namespace {

std::atomic<uint32_t> liveThreads{0};

// Up to this many clients' mutexes are tried in one go.
constexpr int kTriedAtOnce = 16;

// ---- Client locks that nest on one thread --------------------------------
// The platform's mutexes need not be recursive, so each thread notes the
// client mutexes it holds and how often it took them.
struct HeldLock {
  os::Mutex* mutex;
  uint32_t depth;
};
constexpr int kHeldSlots = 4;
thread_local HeldLock heldLocks[kHeldSlots];

HeldLock* FindHeld(os::Mutex* mutex) {
  for (HeldLock& h : heldLocks)
    if (h.depth && h.mutex == mutex) return &h;
  return nullptr;
}

// A thread holds at most a couple of client locks; beyond the slots a lock
// still works, it just does not nest.
void NoteHeld(os::Mutex* mutex) {
  for (HeldLock& h : heldLocks) {
    if (h.depth == 0) {
      h.mutex = mutex;
      h.depth = 1;
      return;
    }
  }
}

// ---- Worker --------------------------------------------------------------

void InsertByPriority(ServiceClient** sorted, ServiceClient* client) {
  ServiceClient** link = sorted;
  // Equal priorities: the newcomer goes first.
  while (*link && (*link)->priority > client->priority) link = &(*link)->nextByPriority;
  client->nextByPriority = *link;
  *link = client;
}

// Passes over the clients until none has work or the owner wants the thread.
void RunPasses(ServiceThread* t, uint32_t tick) {
  for (;;) {
    ServiceClient* sorted = nullptr;
    for (ServiceClient* c = t->clients.load(std::memory_order_acquire); c; c = c->next) {
      if (t->state.load(std::memory_order_acquire) != kRunning) return;
      if (c->idleTick == tick) continue;
      c->priority = c->priorityFunction(c, tick);
      if (c->priority) InsertByPriority(&sorted, c);
    }
    if (!sorted) return;
    ServiceClient* chosen = nullptr;
    int tried = 0;
    for (ServiceClient* c = sorted; c && tried < kTriedAtOnce; c = c->nextByPriority, ++tried) {
      if (TryLockClient(c)) {
        chosen = c;
        break;
      }
    }
    if (chosen) {
      chosen->workFunction(chosen, tick);
      UnlockClient(chosen);
    } else {
      os::SleepMs(0);  // every lock is held by the foreground for a moment
    }
  }
}

void WorkerMain(void* arg) {
  ServiceThread* t = static_cast<ServiceThread*>(arg);
  for (;;) {
    if (os::WaitEvent(t->wake, t->period)) return;
    os::LockMutex(t->mutex);
    int32_t state = t->state.load(std::memory_order_acquire);
    if (state == kStopping) {
      os::UnlockMutex(t->mutex);
      return;
    }
    if (state == kRunning && t->clients.load(std::memory_order_acquire)) {
      ++t->tick;
      RunPasses(t, t->tick);
    }
    os::UnlockMutex(t->mutex);
  }
}

void DestroyRecord(ServiceThread* t) {
  if (t->mutex) os::DestroyMutexObject(t->mutex);
  if (t->wake) os::DestroyEventObject(t->wake);
  t->~ServiceThread();
  MemFree(t);
}

// From paused (the caller holds the thread mutex): end the worker and free.
void StopPaused(ServiceThread* t) {
  os::SignalEvent(t->wake);
  t->state.store(kStopping, std::memory_order_release);
  os::UnlockMutex(t->mutex);
  os::JoinThread(t->thread);
  DestroyRecord(t);
  liveThreads.fetch_sub(1);
}

bool IsListed(ServiceThread* t, ServiceClient* client) {
  for (ServiceClient* c = t->clients.load(std::memory_order_acquire); c; c = c->next)
    if (c == client) return true;
  return false;
}

// Only while the worker is paused: it reads the links during a pass.
void Unlink(ServiceThread* t, ServiceClient* client) {
  ServiceClient* head = t->clients.load(std::memory_order_relaxed);
  if (head == client) {
    t->clients.store(client->next, std::memory_order_release);
  } else {
    for (ServiceClient* c = head; c; c = c->next) {
      if (c->next == client) {
        c->next = client->next;
        break;
      }
    }
  }
  client->next = nullptr;
  t->clientCount.fetch_sub(1);
}

}  // namespace

ServiceThread* CreateServiceThread(uint32_t rate) {
  if (rate == 0) return nullptr;
  void* memory = MemAlloc(sizeof(ServiceThread));
  if (!memory) return nullptr;
  ServiceThread* t = new (memory) ServiceThread{};
  t->state.store(kCreated);
  t->period = 1000 / rate ? 1000 / rate : 1;
  t->tick = 1;
  t->mutex = os::CreateMutexObject();
  t->wake = os::CreateEventObject();
  // The worker idles until the state says running, as if created suspended.
  if (t->mutex && t->wake) t->thread = os::StartThread(WorkerMain, t);
  if (!t->thread) {
    DestroyRecord(t);
    return nullptr;
  }
  liveThreads.fetch_add(1);
  return t;
}

void StartServiceThread(ServiceThread* thread) {
  if (!thread) return;
  int32_t old = thread->state.exchange(kRunning, std::memory_order_acq_rel);
  if (old == kPaused) os::UnlockMutex(thread->mutex);
}

void PauseServiceThread(ServiceThread* thread) {
  if (!thread || thread->state.load() == kPaused) return;
  thread->state.store(kPausing, std::memory_order_release);
  os::LockMutex(thread->mutex);
  thread->state.store(kPaused, std::memory_order_release);
}

void StopServiceThread(ServiceThread* thread) {
  if (!thread) return;
  if (thread->state.load() != kPaused) PauseServiceThread(thread);
  StopPaused(thread);
}

int32_t RegisterClient(ServiceThread* thread, ServiceClient* client, ServicePriority priority, ServiceWork work) {
  if (!thread || !client) return 0;
  client->mutex = os::CreateMutexObject();
  if (!client->mutex) return 0;
  client->priorityFunction = priority;
  client->workFunction = work;
  client->nextByPriority = nullptr;
  client->priority = 0;
  client->lastServicedTick = 0;
  client->idleTick = 0;
  client->next = thread->clients.load(std::memory_order_relaxed);
  // The client is complete before this store publishes it to the worker.
  thread->clients.store(client, std::memory_order_release);
  thread->clientCount.fetch_add(1);
  return 1;
}

uint32_t UnregisterClients(ServiceThread* readerThread, ServiceClient* readerClient, ServiceThread* soundThread,
                           ServiceClient* soundClient, uint32_t flags) {
  // Registration and removal both run on the owner's thread, so the lists
  // can be searched here without stopping the workers, which only read them.
  bool readerFound = readerThread && readerClient && IsListed(readerThread, readerClient);
  bool soundFound = soundThread && soundClient && IsListed(soundThread, soundClient);
  ServiceThread* threads[2] = {readerFound ? readerThread : nullptr, soundFound ? soundThread : nullptr};
  if (threads[0] == threads[1]) threads[1] = nullptr;

  // Hold both workers outside their passes (asking both first, so that they
  // leave together), then unlink.
  bool paused[2] = {false, false};
  for (int i = 0; i < 2; ++i) {
    if (threads[i] && threads[i]->state.load() != kPaused) {
      threads[i]->state.store(kPausing, std::memory_order_release);
      paused[i] = true;
    }
  }
  for (int i = 0; i < 2; ++i) {
    if (paused[i]) {
      os::LockMutex(threads[i]->mutex);
      threads[i]->state.store(kPaused, std::memory_order_release);
    }
  }
  if (readerFound) Unlink(readerThread, readerClient);
  if (soundFound) Unlink(soundThread, soundClient);

  uint32_t result = 0;
  for (int i = 0; i < 2; ++i) {
    ServiceThread* t = threads[i];
    if (!t) continue;
    if ((flags & kDestroyEmptyThreads) && t->clientCount.load() == 0) {
      StopPaused(t);  // paused here or before: the owner holds its mutex
      if (t == readerThread) result |= kReaderThreadDestroyed;
      if (t == soundThread) result |= kSoundThreadDestroyed;
    } else if (paused[i]) {
      StartServiceThread(t);
    }
  }

  if (readerFound) {
    os::DestroyMutexObject(readerClient->mutex);
    readerClient->mutex = nullptr;
  }
  if (soundFound) {
    os::DestroyMutexObject(soundClient->mutex);
    soundClient->mutex = nullptr;
  }
  return result;
}

void LockClient(ServiceClient* client) {
  os::Mutex* mutex = client ? client->mutex : nullptr;
  if (!mutex) return;
  if (HeldLock* h = FindHeld(mutex)) {
    ++h->depth;
    return;
  }
  os::LockMutex(mutex);
  NoteHeld(mutex);
}

int32_t TryLockClient(ServiceClient* client) {
  os::Mutex* mutex = client ? client->mutex : nullptr;
  if (!mutex) return 1;
  if (HeldLock* h = FindHeld(mutex)) {
    ++h->depth;
    return 1;
  }
  if (!os::TryLockMutex(mutex)) return 0;
  NoteHeld(mutex);
  return 1;
}

void UnlockClient(ServiceClient* client) {
  os::Mutex* mutex = client ? client->mutex : nullptr;
  if (!mutex) return;
  HeldLock* h = FindHeld(mutex);
  if (h && --h->depth > 0) return;
  os::UnlockMutex(mutex);
}

void LockTwoClients(ServiceClient* a, ServiceClient* b) {
  os::Mutex* ma = a ? a->mutex : nullptr;
  os::Mutex* mb = b ? b->mutex : nullptr;
  if (!ma || !mb || ma == mb || FindHeld(ma) || FindHeld(mb)) {
    // One of them is missing or already ours: nothing to wait for together.
    LockClient(a);
    if (mb != ma) LockClient(b);
    return;
  }
  os::LockBothMutexes(ma, mb);
  NoteHeld(ma);
  NoteHeld(mb);
}

void YieldProcessor() { os::SleepMs(0); }

uint32_t ServiceThreadCount() { return liveThreads.load(); }

}  // namespace kivo
