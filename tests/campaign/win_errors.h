// For each simulated call a sweep can fail: the error Windows really reports for it when it
// fails on a valid argument, or why it is not failed at all.
#pragma once

#include <optional>
#include <string>

#include "winsim/sdk.h"

namespace campaign {

struct InjectedError {
  DWORD error = 0;
  const char* why = "";  // when Windows reports it
};

// The error to inject into `call`; nullopt when the call is not known to the table (the sweep
// then fails, so that a new injection point is never skipped without a decision).
std::optional<InjectedError> ErrorFor(const std::string& call);

// Calls that fail on Windows only when given an invalid handle or argument, which the
// product never passes: failing them would test a Windows that does not exist. Returns the
// reason, or null when the call is injectable.
const char* NotInjectableReason(const std::string& call);

}  // namespace campaign
