// newdev's UpdateDriverForPlugAndPlayDevicesA: installs an INF's driver on every present device
// that has the given hardware or compatible id.
#include <cstring>

#include "machine/device_records.h"
#include "machine/driver_store.h"
#include "kernel32/file_system.h"
#include "setupapi/inf_parser.h"
#include "machine/install_state.h"
#include "winsim/sdk/newdev.h"
#include "winsim/sdk/setupapi.h"
#include "runtime/last_error.h"
#include "runtime/fault_injection.h"
#include "runtime/text.h"

namespace winsim::detail {
namespace {

// The models sections an INF offers this platform: on 64-bit Windows only those decorated
// NTamd64; on 32-bit Windows those decorated NTx86 or NT, else the undecorated one.
std::vector<const InfSection*> ModelsSections(const InfDocument& inf) {
  const bool is64 = sizeof(void*) == 8;
  const std::string platform = is64 ? "ntamd64" : "ntx86";
  std::vector<const InfSection*> sections;
  const InfSection* manufacturer = inf.Find("Manufacturer");
  if (!manufacturer) return sections;
  for (const InfLine& line : manufacturer->lines) {
    if (line.fields.empty()) continue;
    std::string base = inf.Substitute(line.fields[0]);
    bool decorated = false;
    for (size_t i = 1; i < line.fields.size(); ++i) {
      std::string decoration = Lower(inf.Substitute(line.fields[i]));
      if (decoration == platform || decoration.rfind(platform + ".", 0) == 0 || (!is64 && decoration == "nt")) {
        if (const InfSection* section = inf.Find(base + "." + decoration)) sections.push_back(section);
        decorated = true;
      }
    }
    if (!decorated && !is64)
      if (const InfSection* section = inf.Find(base)) sections.push_back(section);
  }
  return sections;
}

struct ChosenDriver {
  std::string installSection;
};

// The INF's best driver for a device: the models line whose ids hold the device's earliest id
// (hardware ids first, then compatible ids).
std::optional<ChosenDriver> BestDriver(const InfDocument& inf, const std::vector<std::string>& deviceIds) {
  auto sections = ModelsSections(inf);
  for (const std::string& id : deviceIds)
    for (const InfSection* section : sections)
      for (const InfLine& line : section->lines)
        for (size_t i = 1; i < line.fields.size(); ++i)
          if (Lower(inf.Substitute(line.fields[i])) == Lower(id))
            return ChosenDriver{inf.Substitute(line.fields[0])};
  return std::nullopt;
}

std::vector<std::string> DeviceIdsLocked(const DeviceRecord& record) {
  std::vector<std::string> ids = MultiSzStringsLocked(record, SPDRP_HARDWAREID);
  for (const std::string& id : MultiSzStringsLocked(record, SPDRP_COMPATIBLEIDS)) ids.push_back(id);
  return ids;
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace
}  // namespace winsim::detail

using namespace winsim::detail;

extern "C" BOOL WINAPI UpdateDriverForPlugAndPlayDevicesA(HWND, LPCSTR HardwareId, LPCSTR FullInfPath,
                                                          DWORD InstallFlags, PBOOL bRebootRequired) {
  DWORD error = 0;
  if (ConsumeFault("UpdateDriverForPlugAndPlayDevicesA", &error)) return Fail(error);
  if (HardwareId == nullptr || *HardwareId == '\0' || FullInfPath == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (InstallFlags & ~INSTALLFLAG_BITS) return Fail(ERROR_INVALID_FLAGS);
  if (bRebootRequired) *bRebootRequired = FALSE;
  std::optional<std::string> contents = ReadWholeFile(FullInfPath, &error);
  InfDocument inf;
  if (!contents || !ParseInfOfStyle(*contents, INF_STYLE_WIN4, &inf, &error, nullptr)) return Fail(error);
  if (!CallerIsAdministrator()) return Fail(ERROR_ACCESS_DENIED);

  // The present devices that carry the id, each with the driver the INF has for it.
  std::vector<std::pair<std::shared_ptr<DeviceRecord>, std::optional<ChosenDriver>>> targets;
  const std::string wanted = Lower(HardwareId);
  for (const auto& record : AllDeviceRecords()) {
    std::vector<std::string> ids;
    {
      std::lock_guard guard(Lock());
      if (!record->present) continue;
      ids = DeviceIdsLocked(*record);
    }
    for (const std::string& id : ids)
      if (Lower(id) == wanted) {
        targets.emplace_back(record, BestDriver(inf, ids));
        break;
      }
  }
  if (targets.empty()) return Fail(ERROR_NO_SUCH_DEVINST);

  bool installed = false;
  for (const auto& [record, driver] : targets) {
    if (!driver) continue;
    bool alreadyPresent = false;
    std::string published = PublishInf(*contents, FullInfPath, DirectoryOf(FullInfPath), &alreadyPresent);
    std::lock_guard guard(Lock());
    record->installedInf = published;
    record->installedFromInf = FullInfPath;
    record->installSection = driver->installSection;
    ++record->installCount;
    installed = true;
  }
  if (!installed) return Fail(ERROR_NO_COMPAT_DRIVERS);
  if (bRebootRequired && RestartNeededAfterInstall()) *bRebootRequired = TRUE;
  // Success leaves the thread's last error as it was, as Windows calls commonly do.
  return TRUE;
}
