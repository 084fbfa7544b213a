// Each scenario is one devsetup command line on a machine where it succeeds. Under a fault the
// exit code must still say what happened: success only when the work was done, the command's
// own failure codes only when nothing was, and a device record changed only as the command
// changes it.
#include "campaign/setup_scenarios.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "setup/dispatch.h"
#include "setup/setup_support.h"
#include "winsim/control.h"
#include "winsim/control_device_records.h"

namespace campaign {
namespace {

using setup_testing::AddUsbDevice;
using setup_testing::kInf;
using setup_testing::kModels;
using setup_testing::ModelsInf;

const DWORD kInfNotOpened = 0xDEADBEEF;
const DWORD kNoLines = 0xE000020B;  // ERROR_NO_SUCH_DEVINST, UpdateDriverForModels' empty section
const DWORD kReinstallNoLines = 0xDEADFACE;
const DWORD kListingFailed = 0xFFFFFFFF;
const DWORD kReinstallFlag = 0x20;  // CONFIGFLAG_REINSTALL

// devsetup run with this command line; its exit code with all 32 bits.
DWORD RunDevsetup(const std::vector<std::string>& words) {
  std::vector<std::string> args = {"devsetup.exe"};
  args.insert(args.end(), words.begin(), words.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return static_cast<DWORD>(devsetup::RunCommandLine(static_cast<int>(args.size()), argv.data()));
}

// The source paths of the driver store, in publishing order.
std::vector<std::string> StoredSources() {
  std::vector<std::string> sources;
  for (const winsim::DriverStoreEntry& entry : winsim::DriverStoreEntries()) sources.push_back(entry.sourcePath);
  return sources;
}

bool Installed(DEVINST device) { return winsim::ReadDeviceRecord(device)->installCount > 0; }

// A line whose hardware id cannot be read names no device: the command passes it over.
bool LineMayBeSkipped(const FaultPoint& point) { return point.call == "SetupGetStringFieldA"; }

// Run from the package folder with relative paths, as an installer may start it.
class InstallOemInfScenario : public Scenario {
 public:
  void Build() override {
    winsim::PutFile(kInf, ModelsInf({"%Desc%=Install, USB\\VID_1A86&PID_0A3C"}));
    winsim::SetCurrentDirectoryPath("C:\\pkg");
  }
  void Run(Checks& checks) override {
    DWORD exit = RunDevsetup({"InstallOemInf", "tarrowin.inf", "."});
    std::vector<std::string> stored = StoredSources();
    checks.Expect(!checks.Clean() || exit == 0, "exit code " + Hex(exit) + " in the clean run");
    checks.Expect(!checks.Clean() || stored == std::vector<std::string>{kInf}, "the store holds no full source path");
    checks.Expect((exit == 0) == (stored.size() == 1), "exit code " + Hex(exit) + " with " +
                                                           std::to_string(stored.size()) + " INFs in the store");
  }
};

class InstallOemInfsScenario : public Scenario {
 public:
  void Build() override {
    // Three different INFs: the store keeps one copy of identical ones.
    for (const char* name : {"a", "b", "c"})
      winsim::PutFile(std::string(kDirectory) + "\\" + name + ".inf",
                      ModelsInf({std::string("%Desc%=Install, USB\\VID_1A86&PID_0A3") + name}));
  }
  void Run(Checks& checks) override {
    DWORD exit = RunDevsetup({"InstallOemInfs", kDirectory});
    std::vector<std::string> stored = StoredSources();
    const std::vector<std::string> all = {"C:\\pkg\\infs\\a.inf", "C:\\pkg\\infs\\b.inf", "C:\\pkg\\infs\\c.inf"};
    checks.Expect(!checks.Clean() || exit == 0, "exit code " + Hex(exit) + " in the clean run");
    // Copies stop at the first failure: what is in the store is the listing's first INFs.
    checks.Expect(stored.size() <= all.size() && std::equal(stored.begin(), stored.end(), all.begin()),
                  "the store does not hold the listing's first INFs in order");
    checks.Expect((exit == 0) == (stored.size() == all.size()),
                  "exit code " + Hex(exit) + " with " + std::to_string(stored.size()) + " of 3 INFs in the store");
    checks.Expect(exit != kListingFailed || stored.empty(), "copies made although the listing failed");
    const std::vector<std::string> debug = winsim::DebugOutput();
    bool message = std::find(debug.begin(), debug.end(), "SetupGetInfFileList() failed\n") != debug.end();
    checks.Expect(message == (exit == kListingFailed), "the listing message does not go with exit code " + Hex(exit));
  }

 private:
  static constexpr const char* kDirectory = "C:\\pkg\\infs";
};

class UpdateForPnpDevScenario : public Scenario {
 public:
  void Build() override {
    winsim::PutFile(kInf, ModelsInf({"%Desc%=Install, USB\\VID_1A86&PID_0A3C"}));
    m_device = AddUsbDevice("USB\\VID_1A86&PID_0A3C\\1", {"USB\\VID_1A86&PID_0A3C&REV_0100", "USB\\VID_1A86&PID_0A3C"},
                            true);
  }
  void Run(Checks& checks) override {
    DWORD exit = RunDevsetup({"UpdateDriverForPnpDev", "USB\\VID_1A86&PID_0A3C", kInf});
    bool installed = Installed(m_device);
    checks.Expect(!checks.Clean() || exit == 0, "exit code " + Hex(exit) + " in the clean run");
    // The device is connected and no restart is needed: 1 and 2 would be false statements.
    checks.Expect(exit != 1 && exit != 2, "exit code " + Hex(exit) + " for a connected device, no restart needed");
    checks.Expect((exit == 0) == installed,
                  "exit code " + Hex(exit) + (installed ? " with" : " without") + " the driver installed");
  }

 private:
  DEVINST m_device = 0;
};

// Three model lines: a connected device, an id no connected device has, another connected one.
class UpdateForModelsScenario : public Scenario {
 public:
  void Build() override {
    winsim::PutFile(kInf, ModelsInf({"%A%=Install, USB\\VID_1A86&PID_0A3C", "%N%=Install, USB\\VID_1A86&PID_0FFF",
                                     "%B%=Install, USB\\VID_1A86&PID_0B5D"}));
    m_first = AddUsbDevice("USB\\VID_1A86&PID_0A3C\\1", {"USB\\VID_1A86&PID_0A3C"}, true);
    m_last = AddUsbDevice("USB\\VID_1A86&PID_0B5D\\1", {"USB\\VID_1A86&PID_0B5D"}, true);
  }
  void Run(Checks& checks) override {
    DWORD exit = RunDevsetup({"UpdateDriverForModels", kInf, kModels});
    bool first = Installed(m_first), last = Installed(m_last);
    std::string state = "exit code " + Hex(exit) + ", first device " + (first ? "installed" : "not installed") +
                        ", last device " + (last ? "installed" : "not installed");
    checks.Expect(!checks.Clean() || exit == 0, state + " in the clean run");
    if (exit == 0) {
      checks.Expect((first && last) || LineMayBeSkipped(checks.Point()), state);
    } else if (exit == kInfNotOpened || exit == kNoLines) {
      checks.Expect(!first && !last, state + ": the section was not walked");
    } else {
      // The walk stops at the failed update: the last line's device cannot have its driver.
      checks.Expect(!last, state + ": a line after the failure was tried");
    }
  }

 private:
  DEVINST m_first = 0;
  DEVINST m_last = 0;
};

// Two model lines; unplugged devices of the models, a connected one, an unplugged other model.
class ReinstallScenario : public Scenario {
 public:
  void Build() override {
    winsim::PutFile(kInf, ModelsInf({"%A%=Install, USB\\VID_1A86&PID_0A3C", "%B%=Install, USB\\VID_1A86&PID_0B5D"}));
    m_devices = {
        {AddUsbDevice("USB\\VID_1A86&PID_0A3C\\1", {"USB\\VID_1A86&PID_0A3C&REV_0100"}, false, 0x400), 0x400, 0x420},
        {AddUsbDevice("USB\\VID_1A86&PID_0A3C\\2", {"USB\\VID_1A86&PID_0A3C&REV_0100"}, true, 0x400), 0x400, 0x400},
        {AddUsbDevice("USB\\VID_1A86&PID_0B5D&MI_00\\1", {"usb\\vid_1a86&pid_0b5d&rev_0200&MI_00"}, false, 0), 0, 0x20},
        {AddUsbDevice("USB\\VID_1A86&PID_0C00\\1", {"USB\\VID_1A86&PID_0C00"}, false, 0x1), 0x1, 0x1},
    };
  }
  void Run(Checks& checks) override {
    DWORD exit = RunDevsetup({"ReinstallDriverForUnpluggedModels", kInf, kModels});
    checks.Expect(!checks.Clean() || exit == 0, "exit code " + Hex(exit) + " in the clean run");
    checks.Expect(exit == 0 || exit == kInfNotOpened || exit == kReinstallNoLines, "exit code " + Hex(exit));
    for (size_t i = 0; i < m_devices.size(); ++i) {
      const Device& device = m_devices[i];
      std::optional<DWORD> flags = winsim::ReadDeviceRecord(device.devInst)->configFlags;
      std::string what = "device " + std::to_string(i) + " has flags " + (flags ? Hex(*flags) : "none");
      if (checks.Clean()) {
        checks.Expect(flags == device.after, what + ", expected " + Hex(device.after));
      } else if (exit != 0) {
        checks.Expect(flags == device.before, what + " although the section was not walked");
      } else {
        // A device the fault kept the command from reaching stays as it was; no other bits.
        checks.Expect(flags == device.after || flags == device.before, what);
      }
    }
  }

 private:
  struct Device {
    DEVINST devInst;
    DWORD before;
    DWORD after;  // after a clean run
  };
  std::vector<Device> m_devices;
};

class PendingScenario : public Scenario {
 public:
  void Run(Checks& checks) override {
    DWORD exit = RunDevsetup({"CheckPendingInstallEvents"});
    checks.Expect(exit == 0 || (exit == 1 && !checks.Clean()), "exit code " + Hex(exit));
  }
};

}  // namespace

std::vector<ScenarioEntry> SetupScenarios() {
  return {
      Entry<InstallOemInfScenario>("devsetup: InstallOemInf"),
      Entry<InstallOemInfsScenario>("devsetup: InstallOemInfs, three INFs"),
      Entry<UpdateForPnpDevScenario>("devsetup: UpdateDriverForPnpDev"),
      Entry<UpdateForModelsScenario>("devsetup: UpdateDriverForModels, three lines"),
      Entry<ReinstallScenario>("devsetup: ReinstallDriverForUnpluggedModels"),
      Entry<PendingScenario>("devsetup: CheckPendingInstallEvents"),
  };
}

}  // namespace campaign
