// Control API of the simulated machine's device records, driver store and installation state:
// how tests build machines for the device installation calls and read back what they did.
// Not part of Windows.
//
// A record is a device the system remembers: present (in the live device tree) or only
// remembered (unplugged). A record whose instance id equals that of a device plugged with
// PlugDevice (winsim/machine.h) follows that device's plugging and unplugging.
//
// Faults go through the core control API (winsim/control.h), by Win32 name, for example
// FailCall("SetupDiEnumDeviceInfo", ERROR_NO_MORE_ITEMS), FailCall("SetupCopyOEMInfA", 5),
// FailCall("UpdateDriverForPlugAndPlayDevicesA", ERROR_NO_SUCH_DEVINST),
// FailCall("CMP_WaitNoPendingInstallEvents", ERROR_ACCESS_DENIED).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "winsim/sdk.h"

namespace winsim {

// GUID_DEVCLASS_MEDIA, the setup class of sound, video and game controllers.
inline constexpr GUID kMediaDeviceClass = {
    0x4D36E96C, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

struct DeviceRecordDesc {
  // Device instance id; its first component is the enumerator ("USB\\VID_1A86&PID_0A3C\\5&1&0&2").
  std::string instanceId;
  // SPDRP_HARDWAREID and SPDRP_COMPATIBLEIDS as REG_MULTI_SZ; an empty list: no such property.
  std::vector<std::string> hardwareIds;
  std::vector<std::string> compatibleIds;
  // SPDRP_CONFIGFLAGS; none: no such property.
  std::optional<DWORD> configFlags = 0;
  bool present = true;
  GUID classGuid = kMediaDeviceClass;
  std::string description;  // SPDRP_DEVICEDESC; empty: no such property
};

// Adds a record; returns its device-instance handle (SP_DEVINFO_DATA::DevInst).
DEVINST AddDeviceRecord(const DeviceRecordDesc& desc);
// The device is connected (true) or only remembered (false).
void SetDeviceRecordPresent(DEVINST devInst, bool present);
// Stores a property's exact bytes and type (a malformed list, a value of any length);
// an empty `data` with type REG_NONE removes the property.
void SetDeviceRecordProperty(DEVINST devInst, DWORD property, DWORD type, const std::vector<BYTE>& data);

struct DeviceRecordState {
  std::string instanceId;
  bool present = false;
  std::vector<std::string> hardwareIds;   // the property's strings, as stored now
  std::optional<DWORD> configFlags;
  // The driver a device installation put on the device: its INF in the driver store
  // ("oem0.inf"), the INF path the installation was given, and the models line's section.
  std::string installedInf;
  std::string installedFromInf;
  std::string installSection;
  unsigned installCount = 0;               // how often a driver was installed on it
};
std::optional<DeviceRecordState> ReadDeviceRecord(DEVINST devInst);

// Installation state of the machine. A fresh machine runs its callers as administrators,
// needs no restart after an installation and has no installation pending.
void SetCallerElevated(bool elevated);
void SetRestartNeededAfterInstall(bool needed);
// Installations in progress: CMP_WaitNoPendingInstallEvents waits for them to reach 0.
void SetPendingInstalls(unsigned count);

// The driver store: the INFs that SetupCopyOEMInfA (or a device installation) published in the
// system INF folder, in publishing order. Their text is the file InfDirectoryPath()\name.
struct DriverStoreEntry {
  std::string publishedName;  // "oem0.inf"
  std::string sourcePath;     // the source INF path exactly as the caller gave it
  std::string mediaLocation;  // the source media location as given (empty for none)
};
std::vector<DriverStoreEntry> DriverStoreEntries();


}  // namespace winsim
