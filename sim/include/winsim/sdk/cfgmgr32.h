// The configuration manager calls of the simulated platform.
#pragma once

#include "winsim/sdk/minwindef.h"

#define CR_SUCCESS 0x00000000
#define CR_INVALID_POINTER 0x00000003
#define CR_INVALID_FLAG 0x00000004
#define CR_INVALID_DEVNODE 0x00000005
#define CR_NO_SUCH_DEVNODE 0x0000000D

#define DN_DRIVER_LOADED 0x00000002
#define DN_STARTED 0x00000008

extern "C" {
CONFIGRET WINAPI CM_Get_DevNode_Status(PULONG pulStatus, PULONG pulProblemNumber, DEVINST dnDevInst, ULONG ulFlags);
// Waits up to dwTimeout milliseconds for device installations to finish: WAIT_OBJECT_0 when
// none is pending, WAIT_TIMEOUT when some still are, WAIT_FAILED when the query failed.
DWORD WINAPI CMP_WaitNoPendingInstallEvents(DWORD dwTimeout);
}
