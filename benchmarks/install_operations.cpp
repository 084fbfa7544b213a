#include "benchmarks/install_operations.h"

#include <vector>

#include "benchmarks/install_machine.h"
#include "setup/dispatch.h"

namespace bench {
namespace {

const uint64_t kPortDevices = 2;  // the package's connected port and its unplugged twin

// devsetup started with these arguments after its program name; its exit code.
int RunDevsetup(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "devsetup.exe");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  return devsetup::RunCommandLine(static_cast<int>(arguments.size()), argv.data());
}

void Add(Counts& counts, const Counts& more) {
  for (const auto& [name, count] : more) counts[name] += count;
}

// Opening the package INF under its own class, walking the models section's lines, closing it.
Counts ModelsWalk() {
  return {{"GetPrivateProfileStringA", 1}, {"SetupOpenInfFileA", 1},         {"SetupGetLineCountA", 1},
          {"SetupGetLineByIndexA", kModelLines}, {"SetupGetStringFieldA", kModelLines}, {"SetupCloseInfFile", 1}};
}

// One model's walk over the USB devices: each device's hardware ids read; the status of each
// device of the model asked; an unplugged one's config flags read and written back.
Counts MarkingWalk(uint64_t usbDevices, uint64_t ofModel, uint64_t unpluggedOfModel) {
  return {{"SetupDiGetClassDevsA", 1},
          {"SetupDiEnumDeviceInfo", usbDevices + 1},
          {"SetupDiGetDeviceRegistryPropertyA", usbDevices + unpluggedOfModel},
          {"CM_Get_DevNode_Status", ofModel},
          {"SetupDiSetDeviceRegistryPropertyA", unpluggedOfModel},
          {"SetupDiDestroyDeviceInfoList", 1}};
}

// The entry point for the best compatible driver when only the last of `nodes` names this
// co-installer: the first pass reads every node's INF marker until that one; the second ranks
// every node (parameters read, marker read again, parameters written) until the list ends.
Counts EntryCalls(uint64_t nodes) {
  return {{"SetupDiEnumDriverInfoA", nodes + nodes + 1},
          {"SetupDiGetDriverInfoDetailA", nodes + nodes},
          {"GetPrivateProfileStringA", nodes + nodes},
          {"SetupDiGetDriverInstallParamsA", nodes},
          {"SetupDiSetDriverInstallParamsA", nodes}};
}

}  // namespace

bool IsInstallOperation(const std::string& name) {
  for (const char* install : kInstallOperations)
    if (name == install) return true;
  return false;
}

bool RunInstallOperation(const Operation& operation) {
  if (operation.name == "ClassCoInstaller_Entry") {
    const CoInstallerMachine& machine = UseCoInstallerMachine(operation.size);
    SP_DEVINFO_DATA device = machine.device;
    return machine.entry(DIF_SELECTBESTCOMPATDRV, machine.set, &device, nullptr) == NO_ERROR;
  }
  UseSetupMachine(operation.size);
  if (operation.name == "UpdateDriverForPnpDev")
    return RunDevsetup({operation.name, kPortHardwareId, kPackageInf}) == 0;
  if (operation.name == "InstallOemInfs") return RunDevsetup({operation.name, kPackageDirectory}) == 0;
  return RunDevsetup({operation.name, kPackageInf, kModelsSection}) == 0;
}

Counts RequiredInstallCalls(const Operation& operation) {
  const uint64_t others = static_cast<uint64_t>(operation.size);
  if (operation.name == "ClassCoInstaller_Entry") return EntryCalls(others + 1);
  if (operation.name == "UpdateDriverForPnpDev") return {{"UpdateDriverForPlugAndPlayDevicesA", 1}};
  if (operation.name == "InstallOemInfs") return {{"SetupGetInfFileListA", 1}, {"SetupCopyOEMInfA", kPackageInfs}};
  Counts counts = ModelsWalk();
  if (operation.name == "UpdateDriverForModels") {
    counts["UpdateDriverForPlugAndPlayDevicesA"] += kModelLines;
    return counts;
  }
  // ReinstallDriverForUnpluggedModels: the port's model has both port devices, one unplugged;
  // the other model has none.
  Add(counts, MarkingWalk(others + kPortDevices, kPortDevices, 1));
  Add(counts, MarkingWalk(others + kPortDevices, 0, 0));
  return counts;
}

}  // namespace bench
