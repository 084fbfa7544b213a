// The program's own exit codes. Every other code is a status (0, 1, 2) or a Windows error.
#pragma once

#include "platform/win32.h"

namespace devsetup {

constexpr DWORD kExitInfNotOpened = 0xDEADBEEF;
constexpr DWORD kExitReinstallSectionEmpty = 0xDEADFACE;
constexpr DWORD kExitListingFailed = 0xFFFFFFFF;

// The code of a platform call that failed: its last error, or E_FAIL (0x80004005) when it left
// none, so that the failure never ends a command as a success.
inline DWORD FailureCode(DWORD lastError) { return lastError != 0 ? lastError : static_cast<DWORD>(E_FAIL); }

}  // namespace devsetup
