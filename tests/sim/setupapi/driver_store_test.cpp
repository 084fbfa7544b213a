// The driver store (SetupCopyOEMInfA) and driver updates (UpdateDriverForPlugAndPlayDevicesA).
#include <doctest/doctest.h>

#include <cstring>
#include <string>

#include "support/machine.h"
#include "support/unicode_file.h"
#include "winsim/control_device_records.h"
#include "winsim/control_files.h"

namespace {

std::string Inf(const std::string& models, const std::string& manufacturer = "%M%=Models,NTamd64,NTx86") {
  return "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=MEDIA\r\n[Manufacturer]\r\n" + manufacturer +
         "\r\n[Models.NTamd64]\r\n" + models + "\r\n[Models.NTx86]\r\n" + models + "\r\n[Models]\r\n" + models +
         "\r\n[Strings]\r\nM=Tarrowin\r\n";
}

std::string Copy(const char* source, DWORD style = 0) {
  char destination[MAX_PATH] = "";
  PSTR component = nullptr;
  if (!SetupCopyOEMInfA(source, "C:\\src", SPOST_PATH, style, destination, sizeof destination, nullptr, &component))
    return "error " + std::to_string(GetLastError());
  CHECK(component == destination + std::strlen(destination) - std::strlen(component));
  return destination;
}

DEVINST AddDevice(const std::string& instance, std::vector<std::string> hardwareIds,
                  std::vector<std::string> compatibleIds, bool present) {
  winsim::DeviceRecordDesc desc;
  desc.instanceId = instance;
  desc.hardwareIds = std::move(hardwareIds);
  desc.compatibleIds = std::move(compatibleIds);
  desc.present = present;
  return winsim::AddDeviceRecord(desc);
}

}  // namespace

TEST_CASE("SetupCopyOEMInfA publishes an INF once under the lowest free oemNN.inf name") {
  testing::Machine machine;
  winsim::PutFile("C:\\src\\a.inf", Inf("a=I,USB\\A"));
  winsim::PutFile("C:\\src\\b.inf", Inf("b=I,USB\\B"));
  winsim::PutFile("C:\\src\\copy-of-a.inf", Inf("a=I,USB\\A"));
  CHECK(Copy("C:\\src\\a.inf") == "C:\\Windows\\INF\\oem0.inf");
  CHECK(Copy("C:\\src\\b.inf") == "C:\\Windows\\INF\\oem1.inf");
  CHECK(Copy("C:\\src\\copy-of-a.inf") == "C:\\Windows\\INF\\oem0.inf");  // identical: not copied again
  CHECK(Copy("C:\\src\\a.inf", SP_COPY_NOOVERWRITE) == "error 80");
  CHECK(winsim::DriverStoreEntries().size() == 2);
  CHECK(winsim::GetFile("C:\\Windows\\INF\\oem1.inf") == Inf("b=I,USB\\B"));

  winsim::RemovePath("C:\\Windows\\INF\\oem0.inf");
  winsim::PutFile("C:\\src\\c.inf", Inf("c=I,USB\\C"));
  SetLastError(5);
  CHECK(Copy("C:\\src\\c.inf") == "C:\\Windows\\INF\\oem0.inf");
  CHECK(GetLastError() == 0);
  // A Unicode INF is published byte for byte.
  std::string unicode = testing::Utf16LeFile(Inf("u=I,USB\\U"));
  winsim::PutFile("C:\\src\\u.inf", unicode);
  CHECK(Copy("C:\\src\\u.inf") == "C:\\Windows\\INF\\oem2.inf");
  CHECK(winsim::GetFile("C:\\Windows\\INF\\oem2.inf") == unicode);
  winsim::RemovePath("C:\\Windows\\INF\\oem2.inf");

  char small[8];
  DWORD required = 0;
  CHECK_FALSE(SetupCopyOEMInfA("C:\\src\\c.inf", nullptr, SPOST_NONE, 0, small, sizeof small, &required, nullptr));
  CHECK(GetLastError() == ERROR_INSUFFICIENT_BUFFER);
  CHECK(required == sizeof "C:\\Windows\\INF\\oem0.inf");
}

TEST_CASE("SetupCopyOEMInfA fails for sources that are no Windows-4 INF and for callers without rights") {
  testing::Machine machine;
  winsim::PutFile("C:\\src\\a.inf", Inf("a=I,USB\\A"));
  winsim::PutFile("C:\\src\\notes.txt", "hello\r\n");
  winsim::PutFile("C:\\src\\old.inf", "[Version]\r\nSignature=$Unknown$\r\n");
  winsim::SetCurrentDirectoryPath("C:\\src");
  struct Case {
    const char* source;
    bool elevated;
    std::string result;
  } cases[] = {
      {"C:\\src\\missing.inf", true, "error 2"},
      {"C:\\nodir\\a.inf", true, "error 3"},
      {"C:\\src\\notes.txt", true, "error " + std::to_string(ERROR_WRONG_INF_STYLE)},
      // The source is named by its full path; the current directory (C:\src) is not looked in.
      {"a.inf", true, "error 2"},
      {".\\a.inf", true, "error 2"},
      {"", true, "error 2"},
      {"C:\\src\\old.inf", true, "error " + std::to_string(ERROR_WRONG_INF_STYLE)},
      {"C:\\src\\a.inf", false, "error 5"},
  };
  for (const Case& c : cases) {
    CAPTURE(std::string(c.source));
    winsim::SetCallerElevated(c.elevated);
    CHECK(Copy(c.source) == c.result);
  }
  CHECK(winsim::DriverStoreEntries().empty());
}

TEST_CASE("UpdateDriverForPlugAndPlayDevicesA installs on present devices with the id") {
  testing::Machine machine;
  winsim::PutFile("C:\\src\\a.inf", Inf("%M%=Main,USB\\VID_1&PID_2&MI_00\r\nother=Other,USB\\Class_01"));
  DEVINST byHardwareId = AddDevice("USB\\VID_1&PID_2&MI_00\\1", {"USB\\VID_1&PID_2&REV_1&MI_00", "USB\\VID_1&PID_2&MI_00"},
                                   {"USB\\Class_01"}, true);
  DEVINST byCompatibleId = AddDevice("USB\\VID_3\\1", {"USB\\VID_3"}, {"usb\\class_01"}, true);
  DEVINST unplugged = AddDevice("USB\\VID_1&PID_2&MI_00\\2", {"USB\\VID_1&PID_2&MI_00"}, {}, false);

  BOOL reboot = TRUE;
  CHECK(UpdateDriverForPlugAndPlayDevicesA(nullptr, "USB\\VID_1&PID_2&MI_00", "C:\\src\\a.inf", INSTALLFLAG_FORCE,
                                           &reboot));
  CHECK_FALSE(reboot);
  CHECK(winsim::ReadDeviceRecord(byHardwareId)->installSection == "Main");
  CHECK(winsim::ReadDeviceRecord(unplugged)->installCount == 0);

  winsim::SetRestartNeededAfterInstall(true);
  CHECK(UpdateDriverForPlugAndPlayDevicesA(nullptr, "USB\\CLASS_01", "C:\\src\\a.inf", 0, &reboot));
  CHECK(reboot);
  // The device's best driver: its hardware ids rank before its compatible ids.
  CHECK(winsim::ReadDeviceRecord(byHardwareId)->installSection == "Main");
  CHECK(winsim::ReadDeviceRecord(byCompatibleId)->installSection == "Other");
  CHECK(winsim::ReadDeviceRecord(byCompatibleId)->installedInf == "oem0.inf");
  CHECK(winsim::DriverStoreEntries().size() == 1);
}

TEST_CASE("UpdateDriverForPlugAndPlayDevicesA's failures") {
  testing::Machine machine;
  winsim::PutFile("C:\\src\\a.inf", Inf("m=I,USB\\A"));
  winsim::PutFile("C:\\src\\undecorated.inf", Inf("m=I,USB\\A", "%M%=Models"));
  AddDevice("USB\\A\\1", {"USB\\A"}, {}, true);
  AddDevice("USB\\B\\1", {"USB\\B"}, {}, true);
  const bool is64 = sizeof(void*) == 8;
  struct Case {
    const char* id;
    const char* inf;
    DWORD flags;
    bool elevated;
    DWORD error;  // 0: succeeds
  } cases[] = {
      {"USB\\A", "C:\\src\\a.inf", INSTALLFLAG_FORCE, true, 0},
      {"USB\\C", "C:\\src\\a.inf", INSTALLFLAG_FORCE, true, ERROR_NO_SUCH_DEVINST},
      {"USB\\B", "C:\\src\\a.inf", INSTALLFLAG_FORCE, true, ERROR_NO_COMPAT_DRIVERS},
      {"USB\\A", "C:\\src\\missing.inf", INSTALLFLAG_FORCE, true, ERROR_FILE_NOT_FOUND},
      {"USB\\A", "C:\\src\\a.inf", 0x10, true, ERROR_INVALID_FLAGS},
      {"", "C:\\src\\a.inf", 0, true, ERROR_INVALID_PARAMETER},
      {"USB\\A", "C:\\src\\a.inf", 0, false, ERROR_ACCESS_DENIED},
      // 64-bit Windows takes only models sections decorated for it.
      {"USB\\A", "C:\\src\\undecorated.inf", 0, true, is64 ? ERROR_NO_COMPAT_DRIVERS : 0},
  };
  for (const Case& c : cases) {
    CAPTURE(std::string(c.id));
    CAPTURE(std::string(c.inf));
    winsim::SetCallerElevated(c.elevated);
    SetLastError(0);
    CHECK(UpdateDriverForPlugAndPlayDevicesA(nullptr, c.id, c.inf, c.flags, nullptr) == (c.error == 0));
    if (c.error) CHECK(GetLastError() == c.error);
  }
}
