// The configuration manager: a device node's status and the wait for pending installations.
#include <chrono>

#include "machine/device_records.h"
#include "machine/install_state.h"
#include "runtime/fault_injection.h"
#include "winsim/sdk/cfgmgr32.h"

using namespace winsim::detail;

extern "C" {

CONFIGRET WINAPI CM_Get_DevNode_Status(PULONG pulStatus, PULONG pulProblemNumber, DEVINST dnDevInst, ULONG ulFlags) {
  DWORD error = 0;
  if (ConsumeFault("CM_Get_DevNode_Status", &error)) return error;  // the injected CONFIGRET
  if (pulStatus == nullptr || pulProblemNumber == nullptr) return CR_INVALID_POINTER;
  if (ulFlags != 0) return CR_INVALID_FLAG;
  auto record = FindDeviceRecord(dnDevInst);
  if (!record) return CR_INVALID_DEVNODE;
  std::lock_guard guard(Lock());
  if (!record->present) return CR_NO_SUCH_DEVNODE;  // remembered, but not in the live device tree
  *pulStatus = DN_DRIVER_LOADED | DN_STARTED;
  *pulProblemNumber = 0;
  return CR_SUCCESS;
}

DWORD WINAPI CMP_WaitNoPendingInstallEvents(DWORD dwTimeout) {
  DWORD error = 0;
  if (ConsumeFault("CMP_WaitNoPendingInstallEvents", &error)) {
    SetLastError(error);
    return WAIT_FAILED;
  }
  std::unique_lock lock(Lock());
  auto none = [] { return PendingInstallsLocked() == 0; };
  if (dwTimeout == INFINITE) {
    StateChanged().wait(lock, none);
  } else if (!StateChanged().wait_for(lock, std::chrono::milliseconds(dwTimeout), none)) {
    return WAIT_TIMEOUT;
  }
  return WAIT_OBJECT_0;
}

}  // extern "C"
