// Call counting and fault injection of calls and of non-throwing allocations.
#include "runtime/fault_injection.h"

#include <atomic>
#include <map>
#include <string>

#include "runtime/reset.h"
#include "winsim/sdk/winbase.h"
#include "winsim/control.h"

namespace winsim::detail {
namespace {

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

}  // namespace

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

void ClearFaultInjection() {
  {
    std::lock_guard guard(Lock());
    Faults().clear();
    Counts().clear();
  }
  AllocFault().times = 0;
  AllocFault().skip = 0;
  AllocationCount() = 0;
}

}  // namespace winsim::detail

namespace winsim {

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
