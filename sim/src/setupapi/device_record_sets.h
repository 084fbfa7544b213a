// Device information sets of device records, as the other SetupAPI areas reach them.
#pragma once

#include "machine/device_records.h"

namespace winsim::detail {

// The record that `data` names as a member of `set`. On failure returns null with the error
// SetupAPI reports: ERROR_INVALID_HANDLE (not a set of device records), ERROR_INVALID_PARAMETER
// (no data, or a device that is not a member), ERROR_INVALID_USER_BUFFER (wrong cbSize).
std::shared_ptr<DeviceRecord> DeviceRecordOfSet(HDEVINFO set, const SP_DEVINFO_DATA* data, DWORD* error);

// SetupDiGetClassDevsA without DIGCF_DEVICEINTERFACE: a set of the device records of a class
// (or of every class with DIGCF_ALLCLASSES), of one enumerator when one is given, and only of
// present devices with DIGCF_PRESENT. Returns INVALID_HANDLE_VALUE with the last error set.
HDEVINFO NewDeviceRecordSet(const GUID* classGuid, PCSTR enumerator, DWORD flags);
// SetupDiDestroyDeviceInfoList for a set of device records; false when `set` is none.
bool DestroyDeviceRecordSet(HDEVINFO set);

}  // namespace winsim::detail
