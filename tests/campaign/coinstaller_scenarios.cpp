// classhook loaded and called as its callers do: the device installer choosing among three
// candidate drivers, and rundll32 running each registration export. Under a fault a driver
// node is either left alone or changed as the ranking rule changes it, and the class's
// co-installer list is either unchanged or fully edited: never cut, never without the other
// co-installers' entries.
#include "campaign/coinstaller_scenarios.h"

#include <optional>
#include <string>
#include <vector>

#include "winsim/control.h"
#include "winsim/control_device_records.h"
#include "winsim/control_driver_nodes.h"
#include "winsim/control_files.h"
#include "winsim/control_registry.h"

namespace campaign {
namespace {

typedef DWORD(CALLBACK* CoInstallerEntry)(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA, PCOINSTALLER_CONTEXT_DATA);
typedef void(CALLBACK* RundllEntry)(HWND, HINSTANCE, LPSTR, int);

const char kModuleName[] = "classhook.dll";
const char kListKey[] = "SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers";
const char kClass[] = "{4d36e96c-e325-11ce-bfc1-08002be10318}";
const char kOwnEntry[] = "classhook.dll,ClassCoInstaller_Entry";
const char kOtherEntry[] = "othercoinst.dll,OtherCoInstaller";
const char kThirdEntry[] = "thirdcoinst.dll,ThirdCoInstaller";
const char kOldEntry[] = "tawusbaudio_coinst.dll,CoInstallerEntry";

const DWORD kUntrustedRank = 0x80FF0001;
const DWORD kTrustedRank = kUntrustedRank & 0x7FFFFFFF;

// The library as its callers hold it: loaded, one export found, freed at the end. A load that
// fails (DllMain refuses, the loader cannot) leaves `proc` null.
class LoadedClassHook {
 public:
  explicit LoadedClassHook(const char* exportName) {
    m_module = LoadLibraryA(kModuleName);
    if (m_module) proc = GetProcAddress(m_module, exportName);
  }
  ~LoadedClassHook() {
    if (m_module) FreeLibrary(m_module);
  }
  LoadedClassHook(const LoadedClassHook&) = delete;
  LoadedClassHook& operator=(const LoadedClassHook&) = delete;
  template <typename Function>
  Function As() const {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(proc));
  }
  FARPROC proc = nullptr;

 private:
  HMODULE m_module = nullptr;
};

void PlaceModule() { winsim::SetModulePath(kModuleName, "C:\\Windows\\System32\\classhook.dll"); }

// Three candidates, of which the second names this co-installer (in capitals) and the third
// another one.
class EntryScenario : public Scenario {
 public:
  void Build() override {
    PlaceModule();
    winsim::DeviceRecordDesc record;
    record.instanceId = "USB\\VID_1A86&PID_0A3C\\1";
    record.hardwareIds = {"USB\\VID_1A86&PID_0A3C"};
    m_devInst = winsim::AddDeviceRecord(record);
    std::vector<winsim::DriverNodeDesc> nodes;
    for (const char* marker : {"", "CLASSHOOK.DLL", "othercoinst.dll"}) {
      winsim::DriverNodeDesc node;
      node.infFileName = "C:\\Windows\\INF\\oem" + std::to_string(nodes.size()) + ".inf";
      std::string markerSection = *marker ? std::string("[CustomClassCoInstaller]\r\nUseClassCoInstaller=") + marker + "\r\n" : "";
      winsim::PutFile(node.infFileName, "[Version]\r\nSignature=\"$WINDOWS NT$\"\r\n" + markerSection);
      node.rank = kUntrustedRank;
      nodes.push_back(node);
    }
    winsim::SetCompatibleDrivers(m_devInst, nodes);
    // The device installer's own set, made before it calls the co-installer.
    m_set = SetupDiGetClassDevsA(&winsim::kMediaDeviceClass, nullptr, nullptr, DIGCF_PRESENT);
    m_device.cbSize = sizeof m_device;
    SetupDiEnumDeviceInfo(m_set, 0, &m_device);
  }

  void Run(Checks& checks) override {
    {
      LoadedClassHook hook("ClassCoInstaller_Entry");
      checks.Expect(!checks.Clean() || hook.proc != nullptr, "the entry point was not found in the clean run");
      if (hook.proc) {
        DWORD result = hook.As<CoInstallerEntry>()(DIF_SELECTBESTCOMPATDRV, m_set, &m_device, nullptr);
        checks.Expect(result == NO_ERROR, "the entry point returned " + Hex(result));
      }
    }
    SetupDiDestroyDeviceInfoList(m_set);
    CheckNodes(checks, winsim::CompatibleDriverStates(m_devInst));
  }

 private:
  void CheckNodes(Checks& checks, const std::vector<winsim::DriverInstallState>& states) {
    const bool names[] = {false, true, false};
    for (size_t i = 0; i < states.size(); ++i) {
      const winsim::DriverInstallState& node = states[i];
      std::string what = "node " + std::to_string(i) + ": rank " + Hex(node.rank) + ", flags " + Hex(node.flags);
      bool left = node.rank == kUntrustedRank && node.flags == 0;
      bool ranked = names[i] ? node.rank == kTrustedRank && node.flags == 0
                             : node.rank == kUntrustedRank && node.flags == DNF_BAD_DRIVER;
      if (checks.Clean()) {
        checks.Expect(ranked, what + " after the clean run");
      } else {
        // A marker that cannot be read is indistinguishable from an INF without one.
        bool markerUnread = names[i] && checks.Point().call == "GetPrivateProfileStringA" &&
                            node.rank == kUntrustedRank && node.flags == DNF_BAD_DRIVER;
        checks.Expect(left || ranked || markerUnread, what);
      }
    }
  }

  DEVINST m_devInst = 0;
  HDEVINFO m_set = INVALID_HANDLE_VALUE;
  SP_DEVINFO_DATA m_device{};
};

using List = std::optional<std::vector<std::string>>;  // none: no such value

// One registration export run by rundll32 on a class whose list holds `before`; a clean run
// leaves `after`.
class RegistrationScenario : public Scenario {
 public:
  RegistrationScenario(const char* exportName, const List& before, const List& after)
      : m_export(exportName) {
    if (before) m_before = winsim::MultiStringValue(*before);
    if (after) m_after = winsim::MultiStringValue(*after);
  }
  void Build() override {
    PlaceModule();
    if (m_before) winsim::SetRegistryValue(kListKey, kClass, REG_MULTI_SZ, *m_before);
  }
  void Run(Checks& checks) override {
    {
      LoadedClassHook hook(m_export);
      checks.Expect(!checks.Clean() || hook.proc != nullptr, std::string(m_export) + " was not found in the clean run");
      if (hook.proc) {
        std::vector<char> commandLine(kClass, kClass + sizeof kClass);  // rundll32's writable copy
        hook.As<RundllEntry>()(nullptr, nullptr, commandLine.data(), 1);
      }
    }
    std::optional<winsim::RegistryData> value = winsim::GetRegistryValue(kListKey, kClass);
    bool unchanged = Holds(value, m_before);
    bool edited = Holds(value, m_after);
    checks.Expect(checks.Clean() ? edited : edited || unchanged,
                  value ? "the list holds " + Describe(value->data) : std::string("the list value is gone"));
  }

 private:
  static bool Holds(const std::optional<winsim::RegistryData>& value, const std::optional<std::vector<BYTE>>& list) {
    if (!list) return !value;
    return value && value->type == REG_MULTI_SZ && value->data == *list;
  }
  static std::string Describe(const std::vector<BYTE>& data) {
    std::string text;
    for (BYTE b : data) text += b ? static_cast<char>(b) : '|';
    return "\"" + text + "\"";
  }

  const char* m_export;
  std::optional<std::vector<BYTE>> m_before;
  std::optional<std::vector<BYTE>> m_after;
};

ScenarioEntry Registration(const char* name, const char* exportName, const List& before, const List& after) {
  return ScenarioEntry{name, [=] { return std::unique_ptr<Scenario>(new RegistrationScenario(exportName, before, after)); }};
}

}  // namespace

std::vector<ScenarioEntry> CoInstallerScenarios() {
  return {
      Entry<EntryScenario>("classhook: entry point, three candidates"),
      Registration("classhook: Register on a class without a list", "ClassCoInstaller_Register", std::nullopt,
                   List{{kOwnEntry}}),
      Registration("classhook: Register after another co-installer", "ClassCoInstaller_Register", List{{kOtherEntry}},
                   List{{kOtherEntry, kOwnEntry}}),
      Registration("classhook: Unregister between two others", "ClassCoInstaller_Unregister",
                   List{{kOtherEntry, kOwnEntry, kThirdEntry}}, List{{kOtherEntry, kThirdEntry}}),
      Registration("classhook: Unregister the only entry", "ClassCoInstaller_Unregister", List{{kOwnEntry}},
                   std::nullopt),
      Registration("classhook: UnregisterOld beside another", "ClassCoInstaller_UnregisterOld",
                   List{{kOldEntry, kOtherEntry}}, List{{kOtherEntry}}),
  };
}

}  // namespace campaign
