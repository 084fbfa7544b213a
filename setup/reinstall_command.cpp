// ReinstallDriverForUnpluggedModels: remembered but unplugged USB devices of the section's
// models get CONFIGFLAG_REINSTALL, so the system installs the driver afresh when they return.
#include <cstring>
#include <string>

#include "platform/owners.h"
#include "setup/commands.h"
#include "setup/exit_codes.h"
#include "setup/full_path.h"
#include "setup/hardware_id.h"
#include "setup/inf_reading.h"

namespace devsetup {
namespace {

// The first string of the device's hardware-id list; false when the list cannot be read (no
// such property, longer than 260 bytes) or its first string does not end within the bytes the
// read returned. Only those bytes count: past them the buffer holds what an earlier device's
// list left there.
bool ReadFirstHardwareId(HDEVINFO set, SP_DEVINFO_DATA* device, std::string* firstId) {
  BYTE ids[MAX_PATH] = {};  // and cleared, should a platform report more than it wrote
  DWORD size = 0;
  if (!SetupDiGetDeviceRegistryPropertyA(set, device, SPDRP_HARDWAREID, nullptr, ids, sizeof ids, &size) ||
      size > sizeof ids)
    return false;
  const char* text = reinterpret_cast<const char*>(ids);
  size_t length = strnlen(text, size);
  if (length == size) return false;
  firstId->assign(text, length);
  return true;
}

bool IsUnplugged(DEVINST devInst) {
  ULONG status = 0;
  ULONG problem = 0;
  return CM_Get_DevNode_Status(&status, &problem, devInst, 0) == CR_NO_SUCH_DEVNODE;
}

// Sets CONFIGFLAG_REINSTALL with the other bits kept; a device whose flags cannot be read
// as 4 bytes is left as it is.
void SetReinstallFlag(HDEVINFO set, SP_DEVINFO_DATA* device) {
  DWORD flags = 0;
  DWORD size = 0;
  if (!SetupDiGetDeviceRegistryPropertyA(set, device, SPDRP_CONFIGFLAGS, nullptr, reinterpret_cast<BYTE*>(&flags),
                                         sizeof flags, &size) ||
      size != sizeof flags)
    return;
  flags |= CONFIGFLAG_REINSTALL;
  SetupDiSetDeviceRegistryPropertyA(set, device, SPDRP_CONFIGFLAGS, reinterpret_cast<const BYTE*>(&flags),
                                    sizeof flags);
}

}  // namespace

void MarkUnpluggedForReinstall(const char* modelId) {
  UniqueDevInfo set(SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_ALLCLASSES));
  if (!set) return;
  SP_DEVINFO_DATA device;
  std::memset(&device, 0, sizeof device);
  device.cbSize = sizeof device;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(set.get(), index, &device); ++index) {
    std::string firstId;
    if (!ReadFirstHardwareId(set.get(), &device, &firstId)) continue;  // never the previous device's id
    if (!ModelIdMatches(ReduceHardwareId(firstId), modelId)) continue;
    if (IsUnplugged(device.DevInst)) SetReinstallFlag(set.get(), &device);
  }
}

DWORD ReinstallDriverForUnpluggedModels(const char* infPath, const char* modelsSection) {
  UniqueInf inf = OpenInfOfOwnClass(FullPath(infPath).c_str());
  if (!inf) return kExitInfNotOpened;
  return WalkModelLines(inf.get(), modelsSection, kExitReinstallSectionEmpty, [](const char* modelId) {
    MarkUnpluggedForReinstall(modelId);
    return std::optional<DWORD>();
  });
}

}  // namespace devsetup
