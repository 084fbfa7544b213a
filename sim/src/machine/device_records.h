// Device records of the simulated machine, shared by the areas that act on devices: device
// information sets of devices (setupapi/device_record_sets.cpp), device installation (newdev),
// the driver nodes of the class installer's calls and the configuration manager.
//
// Another area finds the record of a device-instance handle with FindDeviceRecord. Every field
// of a record is guarded by Lock().
#pragma once

#include <map>

#include "advapi32/registry.h"
#include "machine/devices.h"
#include "runtime/reset.h"
#include "winsim/control_device_records.h"
#include "winsim/sdk/setupapi.h"

namespace winsim::detail {

struct DeviceRecord {
  std::string instanceId;
  DEVINST devInst = 0;
  GUID classGuid = GUID_NULL;
  bool present = false;
  std::map<DWORD, RegistryValue> properties;  // SPDRP_* -> stored type and bytes
  std::string installedInf;
  std::string installedFromInf;
  std::string installSection;
  unsigned installCount = 0;
};

std::shared_ptr<DeviceRecord> FindDeviceRecord(DEVINST devInst);
// Every record, sorted by instance id without regard to case (the order Windows lists them).
std::vector<std::shared_ptr<DeviceRecord>> AllDeviceRecords();

// The ids of a REG_MULTI_SZ property of a record (hardware or compatible ids); call with
// Lock() held.
std::vector<std::string> MultiSzStringsLocked(const DeviceRecord& record, DWORD property);

// Records follow the plugging of the machine's devices of the same instance id.
void FollowInterfacePresence(const InterfaceRecord& device, bool arrived);

// For a process that takes over another's machine (machine_file.cpp).
void RestoreDeviceRecords(const std::vector<DeviceRecord>& records);

}  // namespace winsim::detail
