// newdev.dll of the simulated platform: driver updates for Plug and Play devices.
#pragma once

#include "winsim/sdk/minwindef.h"

#define INSTALLFLAG_FORCE 0x00000001
#define INSTALLFLAG_BITS 0x00000007

extern "C" {
BOOL WINAPI UpdateDriverForPlugAndPlayDevicesA(HWND hwndParent, LPCSTR HardwareId, LPCSTR FullInfPath,
                                               DWORD InstallFlags, PBOOL bRebootRequired);
}
