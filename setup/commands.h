// The six commands of devsetup. Each takes its arguments as narrow strings and returns the
// process exit code, all 32 bits of it.
#pragma once

#include "platform/win32.h"

namespace devsetup {

DWORD UpdateDriverForPnpDev(const char* hardwareId, const char* infPath);
DWORD UpdateDriverForModels(const char* infPath, const char* modelsSection);
DWORD InstallOemInf(const char* infPath, const char* sourceMediaLocation);
DWORD InstallOemInfs(const char* directory);
DWORD ReinstallDriverForUnpluggedModels(const char* infPath, const char* modelsSection);
DWORD CheckPendingInstallEvents();

// Marks the unplugged USB devices whose first hardware id, less its revision, begins with the
// model id.
void MarkUnpluggedForReinstall(const char* modelId);

}  // namespace devsetup
