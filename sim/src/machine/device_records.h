// Device records of the simulated machine, shared by the areas that act on devices: device
// information sets of devices (device_records.cpp), device installation (newdev.cpp) and the
// driver nodes of the class installer's calls.
//
// Another area finds the record an HDEVINFO and SP_DEVINFO_DATA name with DeviceRecordOfSet,
// or the record of a device-instance handle with FindDeviceRecord. Every field of a record
// is guarded by Lock().
#pragma once

#include <map>

#include "runtime/internal.h"
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

// The record that `data` names as a member of `set`. On failure returns null with the error
// SetupAPI reports: ERROR_INVALID_HANDLE (not a set of device records), ERROR_INVALID_PARAMETER
// (no data, or a device that is not a member), ERROR_INVALID_USER_BUFFER (wrong cbSize).
std::shared_ptr<DeviceRecord> DeviceRecordOfSet(HDEVINFO set, const SP_DEVINFO_DATA* data, DWORD* error);

// The ids of a REG_MULTI_SZ property of a record (hardware or compatible ids); call with
// Lock() held.
std::vector<std::string> MultiSzStringsLocked(const DeviceRecord& record, DWORD property);

// SetupDiGetClassDevsA without DIGCF_DEVICEINTERFACE: a set of the device records of a class
// (or of every class with DIGCF_ALLCLASSES), of one enumerator when one is given, and only of
// present devices with DIGCF_PRESENT. Returns INVALID_HANDLE_VALUE with the last error set.
HDEVINFO NewDeviceRecordSet(const GUID* classGuid, PCSTR enumerator, DWORD flags);
// SetupDiDestroyDeviceInfoList for a set of device records; false when `set` is none.
bool DestroyDeviceRecordSet(HDEVINFO set);

// For a process that takes over another's machine (machine_file.cpp).
void RestoreDeviceRecords(const std::vector<DeviceRecord>& records);

}  // namespace winsim::detail
