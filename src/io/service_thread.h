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
};

struct ServiceThread;

}  // namespace kivo
