// Events and waits as the other areas use them.
#pragma once

#include <memory>

#include "runtime/handle_table.h"

namespace winsim::detail {

// Counts the calling thread among the objects' waiters for as long as it waits; made and
// destroyed under Lock(). Setting an event wakes waiting threads only when it has waiters of
// its own: as on Windows, a thread waiting on one object is not woken by every other.
class WaitingOn {
 public:
  WaitingOn(const std::shared_ptr<KernelObject>* objects, size_t count) : m_objects(objects), m_count(count) {
    for (size_t i = 0; i < m_count; ++i) ++m_objects[i]->waiters;
  }
  ~WaitingOn() {
    for (size_t i = 0; i < m_count; ++i) --m_objects[i]->waiters;
  }
  WaitingOn(const WaitingOn&) = delete;
  WaitingOn& operator=(const WaitingOn&) = delete;

 private:
  const std::shared_ptr<KernelObject>* m_objects;
  size_t m_count;
};

// Signals an event object (no-op for other objects); the handle may be gone already.
void SetEventObject(KernelObject& event);

// What the system itself does with events (a request completes, GetOverlappedResult waits):
// no call of the deliverables, so neither counted nor injectable.
BOOL SetEventState(HANDLE event, bool signaled);
DWORD WaitForObject(HANDLE handle, DWORD milliseconds);

}  // namespace winsim::detail
