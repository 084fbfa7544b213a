// The compatible drivers of the simulated machine's devices, as the device installer has built
// them before it asks a co-installer to help choose the best one. Part of the control API,
// not of Windows. Faults by Win32 name through FailCall (winsim/control.h).
#pragma once

#include <string>
#include <vector>

#include "winsim/sdk.h"

namespace winsim {

struct DriverNodeDesc {
  // The INF that describes the driver, a Windows path ("C:\\Windows\\INF\\oem3.inf").
  std::string infFileName;
  std::string section = "Install";
  std::string description = "USB Audio Device";
  std::string manufacturer = "Tarrowin";
  std::string provider = "Tarrowin";
  // The models line's hardware id, then its compatible ids; any number, any length.
  std::vector<std::string> hardwareIds = {"USB\\VID_1A86&PID_0A3C"};
  DWORD rank = 0;
  DWORD flags = 0;
};

// Replaces the compatible driver list of a device record (its device-instance handle), in the
// order SetupDiEnumDriverInfoA lists it.
void SetCompatibleDrivers(DEVINST device, const std::vector<DriverNodeDesc>& drivers);

// The install parameters of each compatible driver now, in list order.
struct DriverInstallState {
  DWORD rank = 0;
  DWORD flags = 0;
};
std::vector<DriverInstallState> CompatibleDriverStates(DEVINST device);

}  // namespace winsim
