#include "benchmarks/install_machine.h"

#include <stdexcept>
#include <string>
#include <vector>

#include "benchmarks/bench_machine.h"
#include "winsim/control.h"
#include "winsim/control_device_records.h"
#include "winsim/control_driver_nodes.h"
#include "winsim/control_files.h"

namespace bench {
namespace {

void Require(bool condition, const char* what) {
  if (!condition) throw std::runtime_error(what);
}

std::string ModelsInf(const std::string& provider, const std::string& modelLines) {
  return "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=MEDIA\r\nProvider=" + provider +
         "\r\n\r\n[Manufacturer]\r\n%Mfg%=Models,NTamd64\r\n\r\n[Models.NTamd64]\r\n" + modelLines +
         "\r\n[Install]\r\n\r\n[Strings]\r\nMfg=\"" + provider + "\"\r\n";
}

void AddUsbDevice(const std::string& instanceId, const std::vector<std::string>& hardwareIds, bool present) {
  winsim::DeviceRecordDesc desc;
  desc.instanceId = instanceId;
  desc.hardwareIds = hardwareIds;
  desc.present = present;
  winsim::AddDeviceRecord(desc);
}

// Another vendor's device and its INF, published in the driver store as its installation did.
void AddOtherDevice(int serial) {
  const std::string product = "PID_" + std::to_string(1000 + serial);
  AddUsbDevice("USB\\VID_046D&" + product + "\\" + std::to_string(serial),
               {"USB\\VID_046D&" + product + "&REV_1200", "USB\\VID_046D&" + product}, true);
  const std::string source = "C:\\drivers\\device" + std::to_string(serial) + ".inf";
  winsim::PutFile(source, ModelsInf("Other" + std::to_string(serial),
                                    "%Mfg%=Install,USB\\VID_046D&" + product + "\r\n"));
  Require(SetupCopyOEMInfA(source.c_str(), "C:\\drivers", SPOST_PATH, 0, nullptr, 0, nullptr, nullptr),
          "an INF cannot be published");
}

void BuildSetupMachine(int others) {
  const std::string portLine = std::string("%Mfg%=Install,") + kPortHardwareId + "\r\n";
  winsim::PutFile(kPackageInf, ModelsInf("Tarrowin", portLine + "%Mfg%=Install,USB\\VID_1A86&PID_0A3D\r\n"));
  winsim::PutFile(std::string(kPackageDirectory) + "\\tarrowin_port.inf", ModelsInf("Tarrowin", portLine));
  const std::vector<std::string> portIds = {"USB\\VID_1A86&PID_0A3C&REV_0100&MI_00", kPortHardwareId};
  AddUsbDevice("USB\\VID_1A86&PID_0A3C&MI_00\\7&1C2D3E4F&0&0000", portIds, true);
  AddUsbDevice("USB\\VID_1A86&PID_0A3C&MI_00\\7&2A3B4C5D&0&0000", portIds, false);
  for (int i = 0; i < others; ++i) AddOtherDevice(i);
}

CoInstallerMachine g_coInstaller;

std::string NodeInf(int index, bool namesClassHook) {
  const std::string path = "C:\\Windows\\INF\\oem" + std::to_string(index) + ".inf";
  winsim::PutFile(path, "[Version]\r\nSignature=\"$WINDOWS NT$\"\r\n[CustomClassCoInstaller]\r\nUseClassCoInstaller=" +
                            std::string(namesClassHook ? "classhook.dll" : "othercoinst.dll") + "\r\n");
  return path;
}

void BuildCoInstallerMachine(int nodes) {
  winsim::DeviceRecordDesc record;
  record.instanceId = "USB\\VID_1A86&PID_0A3C&MI_00\\7&1C2D3E4F&0&0000";
  record.hardwareIds = {"USB\\VID_1A86&PID_0A3C&REV_0100&MI_00", kPortHardwareId};
  DEVINST device = winsim::AddDeviceRecord(record);
  std::vector<winsim::DriverNodeDesc> drivers;
  for (int i = 0; i <= nodes; ++i) {
    winsim::DriverNodeDesc node;
    node.infFileName = NodeInf(i, i == nodes);
    node.rank = 0x80FF0001;  // untrusted
    drivers.push_back(node);
  }
  winsim::SetCompatibleDrivers(device, drivers);

  winsim::SetModulePath("classhook.dll", "C:\\Windows\\System32\\classhook.dll");
  HMODULE module = LoadLibraryA("classhook.dll");
  Require(module != nullptr, "classhook.dll cannot be loaded");
  g_coInstaller.entry = reinterpret_cast<CoInstallerMachine::Entry>(
      reinterpret_cast<void*>(GetProcAddress(module, "ClassCoInstaller_Entry")));
  Require(g_coInstaller.entry != nullptr, "classhook.dll has no ClassCoInstaller_Entry");
  g_coInstaller.set = SetupDiGetClassDevsA(&winsim::kMediaDeviceClass, nullptr, nullptr, DIGCF_PRESENT);
  g_coInstaller.device.cbSize = sizeof g_coInstaller.device;
  Require(SetupDiEnumDeviceInfo(g_coInstaller.set, 0, &g_coInstaller.device), "the device is not listed");
}

}  // namespace

void UseSetupMachine(int others) {
  if (BeginMachine("devsetup/" + std::to_string(others), [] {})) BuildSetupMachine(others);
}

const CoInstallerMachine& UseCoInstallerMachine(int nodes) {
  auto release = [] {
    SetupDiDestroyDeviceInfoList(g_coInstaller.set);
    FreeLibrary(GetModuleHandleA("classhook.dll"));
    g_coInstaller = CoInstallerMachine{};
  };
  if (BeginMachine("classhook/" + std::to_string(nodes), release)) BuildCoInstallerMachine(nodes);
  return g_coInstaller;
}

}  // namespace bench
