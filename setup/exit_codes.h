// The program's own exit codes. Every other code is a status (0, 1, 2) or a Windows error.
#pragma once

#include "platform/win32.h"

namespace devsetup {

constexpr DWORD kExitInfNotOpened = 0xDEADBEEF;
constexpr DWORD kExitReinstallSectionEmpty = 0xDEADFACE;
constexpr DWORD kExitListingFailed = 0xFFFFFFFF;

}  // namespace devsetup
