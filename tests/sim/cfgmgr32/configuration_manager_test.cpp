// The configuration manager's view of device records, as setup programs meet it.
#include <doctest/doctest.h>

#include <chrono>

#include "support/machine.h"
#include "winsim/control_device_records.h"

TEST_CASE("CM_Get_DevNode_Status: unplugged devices are not in the live device tree") {
  testing::Machine machine;
  DEVINST present = winsim::AddDeviceRecord({"USB\\A\\1", {}, {}, 0, true, winsim::kMediaDeviceClass, ""});
  DEVINST unplugged = winsim::AddDeviceRecord({"USB\\B\\1", {}, {}, 0, false, winsim::kMediaDeviceClass, ""});
  ULONG status = 0, problem = 0;
  CHECK(CM_Get_DevNode_Status(&status, &problem, present, 0) == CR_SUCCESS);
  CHECK((status & DN_STARTED) != 0);
  CHECK(CM_Get_DevNode_Status(&status, &problem, unplugged, 0) == CR_NO_SUCH_DEVNODE);
  CHECK(CM_Get_DevNode_Status(&status, &problem, 0x7777, 0) == CR_INVALID_DEVNODE);
  CHECK(CM_Get_DevNode_Status(nullptr, &problem, present, 0) == CR_INVALID_POINTER);
  CHECK(CM_Get_DevNode_Status(&status, &problem, present, 1) == CR_INVALID_FLAG);
  winsim::SetDeviceRecordPresent(unplugged, true);
  CHECK(CM_Get_DevNode_Status(&status, &problem, unplugged, 0) == CR_SUCCESS);
}

TEST_CASE("CMP_WaitNoPendingInstallEvents answers at once for a timeout of 0") {
  testing::Machine machine;
  CHECK(CMP_WaitNoPendingInstallEvents(0) == WAIT_OBJECT_0);
  winsim::SetPendingInstalls(2);
  auto start = std::chrono::steady_clock::now();
  CHECK(CMP_WaitNoPendingInstallEvents(0) == WAIT_TIMEOUT);
  CHECK(std::chrono::steady_clock::now() - start < std::chrono::milliseconds(500));
  winsim::FailCall("CMP_WaitNoPendingInstallEvents", ERROR_ACCESS_DENIED);
  CHECK(CMP_WaitNoPendingInstallEvents(0) == WAIT_FAILED);
  CHECK(GetLastError() == ERROR_ACCESS_DENIED);
}
