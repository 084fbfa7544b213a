// Shared machinery of the simulated platform's areas.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "winsim/sdk.h"
#include "winsim/control.h"

namespace winsim::detail {

// One lock and one condition guard every waitable state change, so a wait can never miss
// a wake-up. Nothing calls into deliverable code while holding it.
std::mutex& Lock();
std::condition_variable& StateChanged();

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

// Handle table. The two low bits of a handle value are tag bits and name the same object.
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
template <typename T>
std::shared_ptr<T> LookupAs(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}
// Signals an event object (no-op for other objects); the handle may be gone already.
void SetEventObject(KernelObject& event);
// Removes the handle; returns the object, or null when the handle was not in the table.
std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle);

// Every simulated call that can fail begins here with its Win32 name: the call is counted
// (CallCounts) and fails when an injected fault says so; *error then holds the error to report.
bool ConsumeFault(std::string_view api, DWORD* error);
// The same for calls that report failure through the last error: true (and the error set)
// when an injected fault makes the call fail.
bool FailsByFault(std::string_view api);
// Calls that cannot fail on Windows are counted all the same; an injected fault changes nothing.
void CountCall(std::string_view api);

// What the system itself does with events (a request completes, GetOverlappedResult waits):
// no call of the deliverables, so neither counted nor injectable.
BOOL SetEventState(HANDLE event, bool signaled);
DWORD WaitForObject(HANDLE handle, DWORD milliseconds);
bool ShouldFailAllocation();

// Areas register what Reset must clear and what happens when a simulated thread ends.
void OnReset(std::function<void()> hook);
void OnThreadExit(std::function<void(DWORD threadId)> hook);
void RunThreadExitHooks(DWORD threadId);

// A module that is part of every machine (ksuser.dll): Reset brings it back, at the same
// address, after a test removed it or one of its procedures.
void RegisterSystemModule(const std::string& name, const std::vector<ModuleExport>& exports);

// A text file's contents as the ANSI ("A") calls see them: UTF-16LE text that starts with its
// byte-order mark converted to the system ANSI code page ('?' for what it cannot hold), any
// other text as it is.
std::string AnsiTextOf(const std::string& bytes);

// Registers a hook at static-initialisation time.
struct ResetRegistration {
  explicit ResetRegistration(std::function<void()> hook) { OnReset(std::move(hook)); }
};

}  // namespace winsim::detail

#include <vector>

#include "winsim/machine.h"

namespace winsim::detail {

// One device interface of the machine, present or not. Areas keep shared pointers to it.
struct InterfaceRecord {
  std::string path;
  GUID category = GUID_NULL;
  std::optional<std::vector<BYTE>> friendlyName;
  DWORD friendlyNameType = REG_SZ;
  bool hasKey = true;
  FilterDesc filter;
  DeviceId device = 0;
  std::string instanceId;
  // Its path in upper case: SetupDiGetClassDevsA lists interfaces by it (the registry's key
  // order). Made once, when it is plugged.
  std::string listingName;
  // Its path in lower case: what the driver's per-interface state is kept by. Made once too,
  // since every request on its files looks the state up.
  std::string lowerPath;
  bool present = false;  // guarded by Lock()
};

// Finds an interface by path without regard to letter case, present or not.
std::shared_ptr<InterfaceRecord> FindInterface(const std::string& path);
// The present interfaces of a category in the order SetupDiGetClassDevsA lists them: by name
// without regard to case, interfaces of one name in the order they arrived.
std::vector<std::shared_ptr<InterfaceRecord>> PresentInterfaces(const GUID& category);
// Every interface of a category the machine has seen, present or not, listed by name, those of
// one name in plug order.
std::vector<std::shared_ptr<InterfaceRecord>> KnownInterfaces(const GUID& category);
bool IsPresent(const InterfaceRecord& record);

// Called, without the lock held, whenever an interface arrives or leaves.
void OnInterfaceChange(std::function<void(const InterfaceRecord& record, bool arrived)> hook);

std::string GuidString(const GUID& guid);  // "{6994ad04-93ef-11d0-a3cc-00a0c9223196}", lower case
std::string Lower(std::string text);

}  // namespace winsim::detail

#include <map>

namespace winsim::detail {

struct RegistryValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

// A key of its own, outside the machine's registry tree, holding these values (names in
// lower case): the device-interface keys. Closed with RegCloseKey like any key.
HKEY OpenKeyHandle(std::map<std::string, RegistryValue> values);

}  // namespace winsim::detail
