// Call counting and fault injection: every simulated call that can fail passes through here.
#pragma once

#include <string_view>

#include "winsim/sdk/minwindef.h"

namespace winsim::detail {

// Every simulated call that can fail begins here with its Win32 name: the call is counted
// (CallCounts) and fails when an injected fault says so; *error then holds the error to report.
bool ConsumeFault(std::string_view api, DWORD* error);
// The same for calls that report failure through the last error: true (and the error set)
// when an injected fault makes the call fail.
bool FailsByFault(std::string_view api);
// Calls that cannot fail on Windows are counted all the same; an injected fault changes nothing.
void CountCall(std::string_view api);
bool ShouldFailAllocation();
// Forgets every fault and count, for Reset.
void ClearFaultInjection();

}  // namespace winsim::detail
