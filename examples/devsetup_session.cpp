// devsetup on the simulated default machine, as the package installer would run it: each
// command a process of its own, its exit code and what it changed on the machine shown.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "winsim/control.h"
#include "winsim/control_device_records.h"
#include "winsim/control_files.h"
#include "winsim/machine.h"
#include "winsim/machine_file.h"

namespace {

std::vector<std::string> g_devsetup;  // the launcher, if any, then the program
int g_unexpected = 0;

std::string ProgramDirectory() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  std::string self = length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
  return self.substr(0, self.find_last_of('/'));
}

// Runs one command line; `expected` and its meaning are what the installer would read.
void Run(const std::vector<std::string>& arguments, uint32_t expected, const char* meaning) {
  std::string line = "devsetup";
  for (const std::string& argument : arguments)
    line += argument.find(' ') == std::string::npos ? " " + argument : " \"" + argument + "\"";
  std::printf("> %s\n", line.c_str());
  std::vector<std::string> command = g_devsetup;
  command.insert(command.end(), arguments.begin(), arguments.end());
  winsim::ProcessRun run = winsim::RunProcessOnMachine(command);
  if (!run.standardOutput.empty()) std::printf("  output: %s", run.standardOutput.c_str());
  if (run.exitCode == expected) {
    std::printf("  exit code 0x%08X: %s\n", expected, meaning);
    return;
  }
  ++g_unexpected;
  if (run.exitCode) {
    std::printf("  UNEXPECTED exit code 0x%08X (expected 0x%08X: %s)\n", *run.exitCode, expected, meaning);
  } else {
    std::printf("  UNEXPECTED: the process did not end normally\n");
  }
}

void ShowDevice(const char* label, DEVINST device) {
  auto record = winsim::ReadDeviceRecord(device);
  std::printf("  %s %s: %s, driver %s%s%s, config flags 0x%08X\n", label, record->instanceId.c_str(),
              record->present ? "connected" : "unplugged", record->installedInf.empty() ? "none" : record->installedInf.c_str(),
              record->installSection.empty() ? "" : " section ", record->installSection.c_str(),
              record->configFlags.value_or(0));
}

}  // namespace

// Arguments, if any, are the launcher that starts devsetup (qemu-i386 for the 32-bit build).
int main(int argc, char* argv[]) {
  g_devsetup.assign(argv + 1, argv + argc);
  g_devsetup.push_back(ProgramDirectory() + "/devsetup");
  winsim::Reset();
  winsim::DefaultMachine machine = winsim::LoadDefaultMachine();
  const std::string inf = winsim::kDefaultPackageInf;
  const std::string directory = inf.substr(0, inf.find_last_of('\\'));
  const std::string models = sizeof(void*) == 8 ? "Tarrowin.NTamd64" : "Tarrowin.NTx86";
  ShowDevice("hidden-port device", machine.hiddenPortRecord);
  ShowDevice("remembered device ", machine.unpluggedRecord);

  // Started in the package folder with relative paths, as an installer may start it: devsetup
  // hands Windows full paths.
  winsim::SetCurrentDirectoryPath(directory);
  std::printf("  (current directory: %s)\n", directory.c_str());
  Run({"InstallOemInf", inf.substr(directory.size() + 1), "."}, 0, "copied into the driver store");
  for (const auto& entry : winsim::DriverStoreEntries())
    std::printf("  driver store: %s from %s, media %s\n", entry.publishedName.c_str(), entry.sourcePath.c_str(),
                entry.mediaLocation.c_str());

  Run({"UpdateDriverForPnpDev", "USB\\VID_1A86&PID_0A3C&MI_00", inf}, 0, "installed, no restart needed");
  ShowDevice("hidden-port device", machine.hiddenPortRecord);
  Run({"UpdateDriverForModels", inf, models}, 0, "every model line done");
  std::printf("  hidden-port device: driver installed %u time(s)\n",
              winsim::ReadDeviceRecord(machine.hiddenPortRecord)->installCount);
  Run({"UpdateDriverForPnpDev", "USB\\VID_1A86&PID_FFFF", inf}, 1, "no connected device has the id");

  Run({"ReinstallDriverForUnpluggedModels", inf, models}, 0, "unplugged devices of the models marked");
  ShowDevice("remembered device ", machine.unpluggedRecord);

  Run({"CheckPendingInstallEvents"}, 0, "no installation pending");
  winsim::SetPendingInstalls(1);
  std::printf("  (the machine now has one device installation in progress)\n");
  Run({"CheckPendingInstallEvents"}, 1, "installations pending");

  Run({"installoeminf", inf, directory}, 0, "no command: letter case counts");
  return g_unexpected == 0 ? 0 : 1;
}
