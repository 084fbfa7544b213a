// The handle table: kernel objects, registry keys, device information sets and notification
// registrations by handle value.
#pragma once

#include <map>
#include <memory>

#include "winsim/sdk/minwindef.h"

namespace winsim::detail {

struct KernelObject {
  virtual ~KernelObject() = default;
  // Waitable objects answer whether a wait would be satisfied now; Consume is called,
  // under the lock, when a wait is satisfied (auto-reset events reset there).
  virtual bool Signaled() const { return false; }
  virtual void Consume() {}
  virtual bool Waitable() const { return false; }
  // Only kernel objects can be closed with CloseHandle; keys and sets have calls of their own.
  virtual bool ClosableByCloseHandle() const { return true; }
  // Called when the last handle to the object is closed.
  virtual void OnLastHandleClosed() {}
  int waiters = 0;  // threads waiting on it now; guarded by Lock()
};

// The two low bits of a handle value are tag bits and name the same object.
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
template <typename T>
std::shared_ptr<T> LookupAs(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}
// Removes the handle; returns the object, or null when the handle was not in the table.
std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle);
// Empties the table for Reset; the caller destroys the objects once the lock is released.
std::map<uintptr_t, std::shared_ptr<KernelObject>> TakeAllHandles();

}  // namespace winsim::detail
