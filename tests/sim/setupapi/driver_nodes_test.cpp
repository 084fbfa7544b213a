// The compatible driver lists of device records, as a class co-installer walks them.
#include <doctest/doctest.h>

#include <string>
#include <vector>

#include "support/machine.h"
#include "winsim/control_device_records.h"
#include "winsim/control_driver_nodes.h"

namespace {

std::vector<winsim::DriverNodeDesc> Nodes(const std::vector<DWORD>& ranks) {
  std::vector<winsim::DriverNodeDesc> nodes;
  for (DWORD rank : ranks) {
    winsim::DriverNodeDesc node;
    node.infFileName = "C:\\Windows\\INF\\oem" + std::to_string(rank) + ".inf";
    node.rank = rank;
    nodes.push_back(node);
  }
  return nodes;
}

// Two devices of one set, each with a list of its own.
struct TwoDevices {
  TwoDevices() {
    for (const char* instance : {"USB\\VID_0001\\1", "USB\\VID_0002\\2"}) {
      winsim::DeviceRecordDesc desc;
      desc.instanceId = instance;
      devInsts.push_back(winsim::AddDeviceRecord(desc));
    }
    set = SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_ALLCLASSES);
    for (SP_DEVINFO_DATA& device : data) {
      device.cbSize = sizeof device;
      REQUIRE(SetupDiEnumDeviceInfo(set, static_cast<DWORD>(&device - data), &device));
    }
  }
  ~TwoDevices() { SetupDiDestroyDeviceInfoList(set); }
  SP_DRVINFO_DATA_V2_A Driver(int device, DWORD index) {
    SP_DRVINFO_DATA_V2_A driver{};
    driver.cbSize = sizeof driver;
    REQUIRE(SetupDiEnumDriverInfoA(set, &data[device], SPDIT_COMPATDRIVER, index, &driver));
    return driver;
  }
  // The rank the node has, or 0 with the call's error.
  DWORD Rank(int device, SP_DRVINFO_DATA_V2_A driver, DWORD* error) {
    SP_DRVINSTALL_PARAMS params{};
    params.cbSize = sizeof params;
    SetLastError(ERROR_SUCCESS);
    BOOL ok = SetupDiGetDriverInstallParamsA(set, &data[device], &driver, &params);
    *error = GetLastError();
    return ok ? params.Rank : 0;
  }
  std::vector<DEVINST> devInsts;
  HDEVINFO set = INVALID_HANDLE_VALUE;
  SP_DEVINFO_DATA data[2]{};
};

}  // namespace

TEST_CASE("a driver information names a node of its own device's current list only") {
  testing::Machine machine;
  TwoDevices devices;
  winsim::SetCompatibleDrivers(devices.devInsts[0], Nodes({10, 11, 12}));
  winsim::SetCompatibleDrivers(devices.devInsts[1], Nodes({20, 21}));
  SP_DRVINFO_DATA_V2_A firstOfFirst = devices.Driver(0, 0), lastOfFirst = devices.Driver(0, 2);
  SP_DRVINFO_DATA_V2_A lastOfSecond = devices.Driver(1, 1);
  SP_DRVINFO_DATA_V2_A none = firstOfFirst;
  none.Reserved = 0;
  struct Case {
    const char* name;
    int device;
    SP_DRVINFO_DATA_V2_A driver;
    DWORD rank;
    DWORD error;
  } cases[] = {
      {"its own first", 0, firstOfFirst, 10, ERROR_SUCCESS},
      {"its own last", 0, lastOfFirst, 12, ERROR_SUCCESS},
      {"the other's, on its own device", 1, lastOfSecond, 21, ERROR_SUCCESS},
      {"a node of the list before, on the list after it", 1, firstOfFirst, 0, ERROR_INVALID_PARAMETER},
      {"a node of the list after, on the list before it", 0, lastOfSecond, 0, ERROR_INVALID_PARAMETER},
      {"no node", 0, none, 0, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    CAPTURE(c.name);
    DWORD error = 0;
    CHECK(devices.Rank(c.device, c.driver, &error) == c.rank);
    CHECK(error == c.error);
  }

  // A list made afresh knows none of the old list's nodes.
  winsim::SetCompatibleDrivers(devices.devInsts[0], Nodes({30, 31, 32}));
  DWORD error = 0;
  CHECK(devices.Rank(0, lastOfFirst, &error) == 0);
  CHECK(error == ERROR_INVALID_PARAMETER);
  CHECK(devices.Rank(0, devices.Driver(0, 2), &error) == 32);
}

TEST_CASE("SetupDiEnumDriverInfoA ends with ERROR_NO_MORE_ITEMS after the last node and for a device without a list") {
  testing::Machine machine;
  TwoDevices devices;
  winsim::SetCompatibleDrivers(devices.devInsts[0], Nodes({10, 11}));
  struct Case {
    int device;
    DWORD index;
  } cases[] = {{0, 2}, {0, 0xFFFFFFFF}, {1, 0}};
  for (const Case& c : cases) {
    CAPTURE(c.device);
    CAPTURE(c.index);
    SP_DRVINFO_DATA_V2_A driver{};
    driver.cbSize = sizeof driver;
    CHECK_FALSE(SetupDiEnumDriverInfoA(devices.set, &devices.data[c.device], SPDIT_COMPATDRIVER, c.index, &driver));
    CHECK(GetLastError() == ERROR_NO_MORE_ITEMS);
  }
  CHECK(winsim::CompatibleDriverStates(devices.devInsts[1]).empty());
}
