// Device records through SetupAPI, as setup programs meet them.
#include <doctest/doctest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/machine.h"
#include "winsim/control_registry.h"
#include "winsim/control_device_records.h"
#include "winsim/machine.h"

namespace {

DEVINST AddUsb(const std::string& instance, std::vector<std::string> ids, bool present, DWORD flags = 0) {
  winsim::DeviceRecordDesc desc;
  desc.instanceId = instance;
  desc.hardwareIds = std::move(ids);
  desc.present = present;
  desc.configFlags = flags;
  return winsim::AddDeviceRecord(desc);
}

std::vector<DEVINST> Enumerate(HDEVINFO set) {
  std::vector<DEVINST> found;
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &data); ++index) found.push_back(data.DevInst);
  CHECK(GetLastError() == ERROR_NO_MORE_ITEMS);
  return found;
}

std::vector<DEVINST> ListDevices(const GUID* classGuid, const char* enumerator, DWORD flags) {
  HDEVINFO set = SetupDiGetClassDevsA(classGuid, enumerator, nullptr, flags);
  REQUIRE(set != INVALID_HANDLE_VALUE);
  auto found = Enumerate(set);
  CHECK(SetupDiDestroyDeviceInfoList(set));
  return found;
}

// The first member of a fresh USB set, for property calls.
struct UsbSet {
  UsbSet() {
    set = SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_ALLCLASSES);
    data.cbSize = sizeof data;
    REQUIRE(SetupDiEnumDeviceInfo(set, 0, &data));
  }
  ~UsbSet() { SetupDiDestroyDeviceInfoList(set); }
  HDEVINFO set;
  SP_DEVINFO_DATA data{};
};

}  // namespace

TEST_CASE("device sets: enumerator, all classes, present only, instance-id order") {
  testing::Machine machine;
  DEVINST unplugged = AddUsb("USB\\VID_0001&PID_0002\\5&2&0&1", {"USB\\VID_0001&PID_0002&REV_0100"}, false);
  DEVINST present = AddUsb("usb\\VID_0001&PID_0001\\5&2&0&2", {"USB\\VID_0001&PID_0001"}, true);
  winsim::DeviceRecordDesc hd;
  hd.instanceId = "HDAUDIO\\FUNC_01\\4&1";
  hd.classGuid = GUID_NULL;
  DEVINST other = winsim::AddDeviceRecord(hd);

  CHECK(ListDevices(nullptr, "USB", DIGCF_ALLCLASSES) == std::vector<DEVINST>{present, unplugged});
  CHECK(ListDevices(nullptr, "usb", DIGCF_ALLCLASSES | DIGCF_PRESENT) == std::vector<DEVINST>{present});
  CHECK(ListDevices(nullptr, nullptr, DIGCF_ALLCLASSES).size() == 3);
  CHECK(ListDevices(&GUID_NULL, nullptr, 0) == std::vector<DEVINST>{other});
  CHECK(ListDevices(nullptr, "PCI", DIGCF_ALLCLASSES).empty());

  SetLastError(0);
  CHECK(SetupDiGetClassDevsA(nullptr, "USB", nullptr, 0) == INVALID_HANDLE_VALUE);
  CHECK(GetLastError() == ERROR_INVALID_PARAMETER);
}

TEST_CASE("SetupDiEnumDeviceInfo checks the set and cbSize") {
  testing::Machine machine;
  AddUsb("USB\\A\\1", {"USB\\A"}, true);
  HDEVINFO set = SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_ALLCLASSES);
  SP_DEVINFO_DATA data{};
  struct Case {
    HDEVINFO set;
    DWORD cbSize;
    DWORD index;
    DWORD error;
  } cases[] = {
      {set, sizeof(SP_DEVINFO_DATA) + 4, 0, ERROR_INVALID_USER_BUFFER},
      {set, sizeof(SP_DEVINFO_DATA) - 4, 0, ERROR_INVALID_USER_BUFFER},
      {set, sizeof(SP_DEVINFO_DATA), 1, ERROR_NO_MORE_ITEMS},
      {INVALID_HANDLE_VALUE, sizeof(SP_DEVINFO_DATA), 0, ERROR_INVALID_HANDLE},
  };
  for (const Case& c : cases) {
    data.cbSize = c.cbSize;
    CHECK_FALSE(SetupDiEnumDeviceInfo(c.set, c.index, &data));
    CHECK(GetLastError() == c.error);
  }
  CHECK(winsim::LiveHandleCount() == 1);
  CHECK(SetupDiDestroyDeviceInfoList(set));
}

TEST_CASE("hardware ids: any length, the size rules, and errors for absent properties") {
  testing::Machine machine;
  std::vector<std::string> ids;
  for (int i = 0; i < 12; ++i) ids.push_back("USB\\VID_1A86&PID_0A3C&REV_01" + std::to_string(10 + i));
  AddUsb("USB\\VID_1A86&PID_0A3C\\1", ids, false);
  UsbSet usb;
  std::vector<BYTE> expected = winsim::MultiStringValue(ids);
  REQUIRE(expected.size() > MAX_PATH);

  BYTE buffer[MAX_PATH];
  std::memset(buffer, 0xAB, sizeof buffer);
  DWORD type = 0, required = 0;
  CHECK_FALSE(SetupDiGetDeviceRegistryPropertyA(usb.set, &usb.data, SPDRP_HARDWAREID, &type, buffer, sizeof buffer,
                                                &required));
  CHECK(GetLastError() == ERROR_INSUFFICIENT_BUFFER);
  CHECK(required == expected.size());
  CHECK(type == REG_MULTI_SZ);
  CHECK(buffer[0] == 0xAB);  // left as it was

  std::vector<BYTE> whole(required);
  CHECK(SetupDiGetDeviceRegistryPropertyA(usb.set, &usb.data, SPDRP_HARDWAREID, nullptr, whole.data(), required,
                                          nullptr));
  CHECK(whole == expected);

  CHECK_FALSE(SetupDiGetDeviceRegistryPropertyA(usb.set, &usb.data, SPDRP_COMPATIBLEIDS, nullptr, buffer,
                                                sizeof buffer, nullptr));
  CHECK(GetLastError() == ERROR_INVALID_DATA);
  CHECK_FALSE(SetupDiGetDeviceRegistryPropertyA(usb.set, &usb.data, SPDRP_MAXIMUM_PROPERTY, nullptr, buffer,
                                                sizeof buffer, nullptr));
  CHECK(GetLastError() == ERROR_INVALID_REG_PROPERTY);
  SP_DEVINFO_DATA wrong = usb.data;
  wrong.cbSize = 3;
  CHECK_FALSE(SetupDiGetDeviceRegistryPropertyA(usb.set, &wrong, SPDRP_HARDWAREID, nullptr, buffer, sizeof buffer,
                                                nullptr));
  CHECK(GetLastError() == ERROR_INVALID_USER_BUFFER);
}

TEST_CASE("config flags: read and written as 4 bytes, by administrators only") {
  testing::Machine machine;
  DEVINST device = AddUsb("USB\\A\\1", {"USB\\A"}, false, CONFIGFLAG_DISABLED);
  UsbSet usb;
  DWORD flags = 0;
  CHECK(SetupDiGetDeviceRegistryPropertyA(usb.set, &usb.data, SPDRP_CONFIGFLAGS, nullptr,
                                          reinterpret_cast<BYTE*>(&flags), sizeof flags, nullptr));
  CHECK(flags == CONFIGFLAG_DISABLED);

  flags |= CONFIGFLAG_REINSTALL;
  const BYTE* bytes = reinterpret_cast<const BYTE*>(&flags);
  CHECK_FALSE(SetupDiSetDeviceRegistryPropertyA(usb.set, &usb.data, SPDRP_CONFIGFLAGS, bytes, 2));
  CHECK(GetLastError() == ERROR_INVALID_DATA);
  winsim::SetCallerElevated(false);
  CHECK_FALSE(SetupDiSetDeviceRegistryPropertyA(usb.set, &usb.data, SPDRP_CONFIGFLAGS, bytes, sizeof flags));
  CHECK(GetLastError() == ERROR_ACCESS_DENIED);
  winsim::SetCallerElevated(true);
  CHECK(SetupDiSetDeviceRegistryPropertyA(usb.set, &usb.data, SPDRP_CONFIGFLAGS, bytes, sizeof flags));
  CHECK(winsim::ReadDeviceRecord(device)->configFlags == (CONFIGFLAG_DISABLED | CONFIGFLAG_REINSTALL));
  CHECK_FALSE(SetupDiSetDeviceRegistryPropertyA(usb.set, &usb.data, SPDRP_CAPABILITIES, bytes, sizeof flags));
  CHECK(GetLastError() == ERROR_INVALID_REG_PROPERTY);
}

TEST_CASE("a record follows the plugged device of the same instance id") {
  testing::Machine machine;
  const std::string instance = "USB\\VID_1A86&PID_0A3C&MI_00\\7&1C2D3E4F&0&0000";
  DEVINST record = AddUsb(instance, {"USB\\VID_1A86&PID_0A3C&REV_0100&MI_00"}, false);
  winsim::InterfaceDesc audio;
  winsim::DeviceId device = winsim::PlugDevice({instance, {audio}});
  CHECK(winsim::ReadDeviceRecord(record)->present);
  winsim::UnplugDevice(device);
  CHECK_FALSE(winsim::ReadDeviceRecord(record)->present);
}

TEST_CASE("a device's data names a member of its own set only") {
  testing::Machine machine;
  AddUsb("USB\\VID_0001&PID_0001\\1", {"USB\\VID_0001&PID_0001"}, true);
  AddUsb("USB\\VID_0001&PID_0002\\2", {"USB\\VID_0001&PID_0002"}, true);
  winsim::DeviceRecordDesc hd;
  hd.instanceId = "HDAUDIO\\FUNC_01\\4&1";
  hd.hardwareIds = {"HDAUDIO\\FUNC_01"};
  winsim::AddDeviceRecord(hd);
  UsbSet usb;  // holds the two USB records
  HDEVINFO audio = SetupDiGetClassDevsA(nullptr, "HDAUDIO", nullptr, DIGCF_ALLCLASSES);
  SP_DEVINFO_DATA second{};
  second.cbSize = sizeof second;
  REQUIRE(SetupDiEnumDeviceInfo(usb.set, 1, &second));

  SP_DEVINFO_DATA highBits = second;
  highBits.Reserved |= ~static_cast<ULONG_PTR>(0xFFFFFFFF);
  struct Case {
    const char* name;
    HDEVINFO set;
    SP_DEVINFO_DATA data;
    DWORD error;
  } cases[] = {
      {"the second member", usb.set, second, ERROR_SUCCESS},
      {"a member of another set", audio, second, ERROR_INVALID_PARAMETER},
      {"no device at all", usb.set, SP_DEVINFO_DATA{sizeof(SP_DEVINFO_DATA), {}, 0, 0}, ERROR_INVALID_PARAMETER},
  };
  for (Case& c : cases) {
    CAPTURE(c.name);
    BYTE ids[MAX_PATH];
    SetLastError(ERROR_SUCCESS);
    BOOL ok = SetupDiGetDeviceRegistryPropertyA(c.set, &c.data, SPDRP_HARDWAREID, nullptr, ids, sizeof ids, nullptr);
    CHECK(ok == (c.error == ERROR_SUCCESS));
    CHECK(GetLastError() == c.error);
    if (ok) CHECK(std::string(reinterpret_cast<char*>(ids)) == "USB\\VID_0001&PID_0002");
  }
  if (sizeof(ULONG_PTR) > sizeof(DEVINST)) {
    CHECK_FALSE(SetupDiGetDeviceRegistryPropertyA(usb.set, &highBits, SPDRP_HARDWAREID, nullptr, nullptr, 0, nullptr));
    CHECK(GetLastError() == ERROR_INVALID_PARAMETER);
  }
  CHECK(SetupDiDestroyDeviceInfoList(audio));
}

TEST_CASE("records of the same instance id in any letter case follow a plugged device; longer ids do not") {
  testing::Machine machine;
  DEVINST same = AddUsb("USB\\VID_1A86&PID_0A3C\\7&1", {"USB\\VID_1A86&PID_0A3C"}, false);
  DEVINST otherCase = AddUsb("usb\\vid_1a86&pid_0a3c\\7&1", {"USB\\VID_1A86&PID_0A3C"}, false);
  DEVINST longer = AddUsb("USB\\VID_1A86&PID_0A3C\\7&10", {"USB\\VID_1A86&PID_0A3C"}, false);
  DEVINST before = AddUsb("USB\\VID_1A86&PID_0A3C\\7&0", {"USB\\VID_1A86&PID_0A3C"}, false);
  winsim::InterfaceDesc audio;
  winsim::DeviceId device = winsim::PlugDevice({"Usb\\Vid_1A86&Pid_0A3C\\7&1", {audio}});
  struct Case {
    DEVINST record;
    bool follows;
  } cases[] = {{same, true}, {otherCase, true}, {longer, false}, {before, false}};
  for (bool plugged : {true, false}) {
    if (!plugged) winsim::UnplugDevice(device);
    for (const Case& c : cases) {
      CAPTURE(c.record);
      CHECK(winsim::ReadDeviceRecord(c.record)->present == (c.follows && plugged));
    }
  }
}
