// The machines devsetup and classhook are measured on: many device records, a driver store
// that holds an INF for each of them, and a device with many compatible drivers.
#pragma once

#include "winsim/sdk.h"

namespace bench {

// devsetup's INF (class MEDIA) and the models section its commands name: two model lines, the
// package's port ("USB\VID_1A86&PID_0A3C&MI_00") and a model no device has.
inline constexpr char kPackageInf[] = "C:\\pkg\\tarrowin.inf";
inline constexpr char kPackageDirectory[] = "C:\\pkg";
inline constexpr char kModelsSection[] = "Models.NTamd64";
inline constexpr char kPortHardwareId[] = "USB\\VID_1A86&PID_0A3C&MI_00";
inline constexpr int kModelLines = 2;
// The INF files in the package directory, the package INF among them.
inline constexpr int kPackageInfs = 2;

// devsetup's machine: the package's port connected and a second one remembered but unplugged,
// beside `others` other connected USB devices, each with its own INF in the driver store.
void UseSetupMachine(int others);

// classhook's machine: the package's device with `nodes` compatible drivers whose INFs name
// another co-installer, then its own driver, whose INF names classhook.dll; each driver has an
// INF of its own. classhook.dll is loaded.
struct CoInstallerMachine {
  typedef DWORD(CALLBACK* Entry)(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA, PCOINSTALLER_CONTEXT_DATA);
  Entry entry = nullptr;
  HDEVINFO set = INVALID_HANDLE_VALUE;  // the device's set, as the device installer holds it
  SP_DEVINFO_DATA device{};
};
const CoInstallerMachine& UseCoInstallerMachine(int nodes);

}  // namespace bench
