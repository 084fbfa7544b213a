// Handle table, fault injection and the reset of the simulated machine.
#include <atomic>
#include <map>
#include <vector>

#include "runtime/internal.h"
#include "winsim/control.h"

namespace winsim::detail {
namespace {

struct HandleTable {
  std::map<uintptr_t, std::shared_ptr<KernelObject>> objects;
  uintptr_t next = 0x1000;
  // Windows hands out a freed handle value again almost at once, so a handle used after it
  // was closed names some other object; the most recently freed value is reused first.
  std::vector<uintptr_t> freed;
};

HandleTable& Table() {
  static HandleTable table;
  return table;
}

struct Fault {
  DWORD error = 0;
  int times = 0;
  int skip = 0;
};

// Keyed for lookup by the caller's name as it stands: every simulated call passes through
// here, so no name is copied to find it.
std::map<std::string, Fault, std::less<>>& Faults() {
  static std::map<std::string, Fault, std::less<>> faults;
  return faults;
}

// How often each injection point was reached since the last Reset or ResetCallCounts.
std::map<std::string, uint64_t, std::less<>>& Counts() {
  static std::map<std::string, uint64_t, std::less<>> counts;
  return counts;
}
std::atomic<uint64_t>& AllocationCount() {
  static std::atomic<uint64_t> count{0};
  return count;
}

struct AllocationFault {
  std::atomic<int> times{0};
  std::atomic<int> skip{0};
};

AllocationFault& AllocFault() {
  static AllocationFault fault;
  return fault;
}

std::vector<std::function<void()>>& ResetHooks() {
  static std::vector<std::function<void()>> hooks;
  return hooks;
}

std::vector<std::function<void(DWORD)>>& ThreadExitHooks() {
  static std::vector<std::function<void(DWORD)>> hooks;
  return hooks;
}

uintptr_t Untagged(HANDLE handle) { return reinterpret_cast<uintptr_t>(handle) & ~uintptr_t{3}; }

}  // namespace

// Never destroyed: simulated threads that end while the process exits still notify them.
std::mutex& Lock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

std::condition_variable& StateChanged() {
  static std::condition_variable* cv = new std::condition_variable;
  return *cv;
}

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
  std::lock_guard guard(Lock());
  HandleTable& table = Table();
  uintptr_t value = table.next;
  if (table.freed.empty()) {
    table.next += 4;
  } else {
    value = table.freed.back();
    table.freed.pop_back();
  }
  table.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  std::lock_guard guard(Lock());
  auto found = Table().objects.find(Untagged(handle));
  return found == Table().objects.end() ? nullptr : found->second;
}

std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  std::lock_guard guard(Lock());
  auto found = Table().objects.find(Untagged(handle));
  if (found == Table().objects.end()) return nullptr;
  std::shared_ptr<KernelObject> object = std::move(found->second);
  Table().freed.push_back(found->first);
  Table().objects.erase(found);
  return object;
}

bool ConsumeFault(std::string_view api, DWORD* error) {
  std::lock_guard guard(Lock());
  auto counted = Counts().find(api);
  if (counted == Counts().end()) counted = Counts().emplace(std::string(api), 0).first;
  ++counted->second;
  auto found = Faults().find(api);
  if (found == Faults().end()) return false;
  Fault& fault = found->second;
  if (fault.skip > 0) {
    --fault.skip;
    return false;
  }
  if (fault.times == 0) return false;
  if (fault.times > 0) --fault.times;
  *error = fault.error;
  return true;
}

bool FailsByFault(std::string_view api) {
  DWORD error = 0;
  if (!ConsumeFault(api, &error)) return false;
  SetLastError(error);
  return true;
}

void CountCall(std::string_view api) {
  DWORD ignored = 0;
  ConsumeFault(api, &ignored);
}

bool ShouldFailAllocation() {
  AllocationCount().fetch_add(1, std::memory_order_relaxed);
  AllocationFault& fault = AllocFault();
  if (fault.times.load() == 0) return false;
  if (fault.skip.load() > 0) {
    fault.skip.fetch_sub(1);
    return false;
  }
  fault.times.fetch_sub(1);
  return true;
}

void OnReset(std::function<void()> hook) { ResetHooks().push_back(std::move(hook)); }

void OnThreadExit(std::function<void(DWORD)> hook) { ThreadExitHooks().push_back(std::move(hook)); }

void RunThreadExitHooks(DWORD threadId) {
  for (auto& hook : ThreadExitHooks()) hook(threadId);
}

}  // namespace winsim::detail

namespace winsim {

void Reset() {
  using namespace detail;
  for (auto& hook : ResetHooks()) hook();
  std::map<uintptr_t, std::shared_ptr<KernelObject>> dropped;
  {
    std::lock_guard guard(Lock());
    dropped.swap(Table().objects);
    Table().freed.clear();
    Faults().clear();
    Counts().clear();
  }
  AllocFault().times = 0;
  AllocFault().skip = 0;
  AllocationCount() = 0;
}

size_t LiveHandleCount() {
  std::lock_guard guard(detail::Lock());
  return detail::Table().objects.size();
}

void FailCall(const std::string& api, DWORD error, int times, int skip) {
  std::lock_guard guard(detail::Lock());
  detail::Faults()[api] = detail::Fault{error, times, skip};
}

void ClearFaults() {
  std::lock_guard guard(detail::Lock());
  detail::Faults().clear();
}

std::map<std::string, uint64_t> CallCounts() {
  std::lock_guard guard(detail::Lock());
  return {detail::Counts().begin(), detail::Counts().end()};
}

uint64_t NothrowAllocationCount() { return detail::AllocationCount().load(); }

void ResetCallCounts() {
  {
    std::lock_guard guard(detail::Lock());
    detail::Counts().clear();
  }
  detail::AllocationCount() = 0;
}

void FailAllocations(int times, int skip) {
  detail::AllocFault().skip = skip;
  detail::AllocFault().times = times;
}

}  // namespace winsim
