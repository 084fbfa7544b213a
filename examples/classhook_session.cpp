// classhook on the simulated default machine: registered for the package's class as the
// installer registers it (rundll32), then called by the device installer when it chooses the
// best driver for the hidden-port device, which has three candidate drivers.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "winsim/control.h"
#include "winsim/control_device_records.h"
#include "winsim/control_driver_nodes.h"
#include "winsim/control_files.h"
#include "winsim/machine.h"

namespace {

const char kMediaClass[] = "{4d36e96c-e325-11ce-bfc1-08002be10318}";
const char kCoInstallersKey[] = "SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers";
const DWORD kUntrustedRank = 0x80000000;  // DRIVER_UNTRUSTED_RANK

typedef void(CALLBACK* RundllEntry)(HWND, HINSTANCE, LPSTR, int);
typedef DWORD(CALLBACK* CoInstallerEntry)(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA, PCOINSTALLER_CONTEXT_DATA);

int g_unexpected = 0;

void Expect(bool condition, const char* what) {
  if (condition) return;
  ++g_unexpected;
  std::printf("  UNEXPECTED: %s\n", what);
}

FARPROC Export(const char* module, const char* name) {
  HMODULE handle = LoadLibraryA(module);
  return handle ? GetProcAddress(handle, name) : nullptr;
}

// rundll32 classhook.dll,ClassCoInstaller_Register {class}
void RegisterForClass() {
  std::printf("> rundll32 classhook.dll,ClassCoInstaller_Register %s\n", kMediaClass);
  auto registerExport = reinterpret_cast<RundllEntry>(
      reinterpret_cast<void*>(Export("classhook.dll", "ClassCoInstaller_Register")));
  Expect(registerExport != nullptr, "classhook.dll or its export was not found");
  if (registerExport == nullptr) return;
  std::vector<char> commandLine(kMediaClass, kMediaClass + sizeof kMediaClass);
  registerExport(nullptr, nullptr, commandLine.data(), 1);  // SW_SHOWNORMAL
}

// The class's co-installer list as the device installer reads it: up to the first empty string.
std::vector<std::string> CoInstallersOfClass() {
  std::vector<std::string> entries;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCoInstallersKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return entries;
  char list[1024] = {};
  DWORD size = sizeof list - 2;  // two zeros stay, whatever the value holds
  if (RegQueryValueExA(key, kMediaClass, nullptr, nullptr, reinterpret_cast<BYTE*>(list), &size) == ERROR_SUCCESS) {
    for (const char* entry = list; *entry != '\0'; entry += std::strlen(entry) + 1) entries.emplace_back(entry);
  }
  RegCloseKey(key);
  return entries;
}

// Three candidates for the hidden-port device, as the device installer has built them: the
// system's USB audio class driver, another vendor's driver that asks for its own co-installer,
// and the package's driver (its INF published as oem0.inf), untrusted as a test-signed driver is.
std::vector<std::string> GiveCandidates(DEVINST device) {
  const std::string package = *winsim::GetFile(winsim::kDefaultPackageInf);  // names classhook.dll
  const std::vector<std::pair<std::string, std::string>> infs = {
      {"usbaudio.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=MEDIA\r\n"},
      {"oem1.inf",
       "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=MEDIA\r\n[CustomClassCoInstaller]\r\nUseClassCoInstaller=othercoinst.dll\r\n"},
      {"oem0.inf", package},
  };
  const DWORD ranks[] = {0x00FF2001, 0x00FF0001, kUntrustedRank | 0x00FF0000};
  std::vector<winsim::DriverNodeDesc> nodes;
  std::vector<std::string> names;
  for (size_t i = 0; i < infs.size(); ++i) {
    winsim::DriverNodeDesc node;
    node.infFileName = winsim::InfDirectoryPath() + "\\" + infs[i].first;
    winsim::PutFile(node.infFileName, infs[i].second);
    node.hardwareIds = {i == 0 ? "USB\\Class_01&SubClass_03" : "USB\\VID_1A86&PID_0A3C&MI_00"};
    node.rank = ranks[i];
    nodes.push_back(node);
    names.push_back(infs[i].first);
  }
  winsim::SetCompatibleDrivers(device, nodes);
  return names;
}

// Each candidate's rank and flags; returns the one the installer would choose: the best
// (lowest) rank among the usable ones, trusted ranks before untrusted ones.
size_t ShowRanking(DEVINST device, const std::vector<std::string>& names) {
  std::vector<winsim::DriverInstallState> states = winsim::CompatibleDriverStates(device);
  size_t chosen = states.size();
  for (size_t i = 0; i < states.size(); ++i) {
    const bool unusable = (states[i].flags & DNF_BAD_DRIVER) != 0;
    std::printf("  %-13s rank 0x%08X %-9s flags 0x%08X%s\n", names[i].c_str(), states[i].rank,
                (states[i].rank & kUntrustedRank) ? "untrusted" : "trusted", states[i].flags,
                unusable ? " unusable (DNF_BAD_DRIVER)" : "");
    if (!unusable && (chosen == states.size() || states[i].rank < states[chosen].rank)) chosen = i;
  }
  if (chosen < states.size()) std::printf("  the installer would choose %s\n", names[chosen].c_str());
  return chosen;
}

// DIF_SELECTBESTCOMPATDRV for the device: each co-installer of its class is loaded and called
// before the installer picks the best remaining candidate.
void SelectBestDriver(DEVINST device) {
  std::printf("> device installer: DIF_SELECTBESTCOMPATDRV for the hidden-port device\n");
  HDEVINFO set = SetupDiGetClassDevsA(&winsim::kMediaDeviceClass, nullptr, nullptr, DIGCF_PRESENT);
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  bool found = false;
  for (DWORD index = 0; !found && SetupDiEnumDeviceInfo(set, index, &data); ++index) found = data.DevInst == device;
  Expect(found, "the hidden-port device is not in the class's device set");
  for (const std::string& entry : CoInstallersOfClass()) {
    const size_t comma = entry.find(',');
    auto coInstaller = reinterpret_cast<CoInstallerEntry>(reinterpret_cast<void*>(
        Export(entry.substr(0, comma).c_str(), entry.substr(comma + 1).c_str())));
    std::printf("  calls %s: ", entry.c_str());
    DWORD result = found && coInstaller ? coInstaller(DIF_SELECTBESTCOMPATDRV, set, &data, nullptr) : ~0u;
    std::printf("%s\n", result == NO_ERROR ? "NO_ERROR" : "not called");
    Expect(result == NO_ERROR, "the co-installer did not answer NO_ERROR");
  }
  SetupDiDestroyDeviceInfoList(set);
}

}  // namespace

int main() {
  winsim::Reset();
  winsim::DefaultMachine machine = winsim::LoadDefaultMachine();
  RegisterForClass();
  std::vector<std::string> entries = CoInstallersOfClass();
  for (const std::string& entry : entries) std::printf("  co-installers of the class: %s\n", entry.c_str());
  Expect(entries == std::vector<std::string>{"classhook.dll,ClassCoInstaller_Entry"}, "not registered");

  std::vector<std::string> names = GiveCandidates(machine.hiddenPortRecord);
  std::printf("  candidates before (the installer alone would choose by rank):\n");
  Expect(ShowRanking(machine.hiddenPortRecord, names) == 1, "another choice before");
  SelectBestDriver(machine.hiddenPortRecord);
  std::printf("  candidates after: the package's node made trusted, every other unusable\n");
  Expect(ShowRanking(machine.hiddenPortRecord, names) == 2, "the package's driver is not chosen");
  return g_unexpected == 0 ? 0 : 1;
}
