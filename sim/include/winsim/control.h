// The simulated platform's control API: what tests and the sample host use to build a
// machine, inject faults and observe what the deliverables did. Not part of Windows. This
// header holds the runtime's part and brings in kernel32's and the C runtime's.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "winsim/control_crt.h"
#include "winsim/control_kernel32.h"
#include "winsim/sdk.h"

namespace winsim {

// Returns the platform to an empty machine: no handles, no devices, no faults, no output.
// Call only while no simulated thread is running.
void Reset();

// Number of live kernel handles, registry keys, device information sets and
// device-notification registrations.
size_t LiveHandleCount();

// Fault injection: the named call (its Win32 name, or a name documented by the area that
// checks it) fails with `error` on `times` calls after letting `skip` calls pass; times -1
// means every call from then on.
void FailCall(const std::string& api, DWORD error, int times = 1, int skip = 0);
void ClearFaults();

// Injection points reached since the last Reset or ResetCallCounts: per call name (the names
// FailCall takes), how often it was made; and how many non-throwing allocations were made.
// A fault sweep runs a scenario once clean, then fails each (name, k) in turn.
std::map<std::string, uint64_t> CallCounts();
uint64_t NothrowAllocationCount();
void ResetCallCounts();

// Non-throwing allocations (new (std::nothrow)) fail `times` times after `skip` successes.
// Only executables that link the allocation hook observe this.
void FailAllocations(int times, int skip = 0);

}  // namespace winsim
