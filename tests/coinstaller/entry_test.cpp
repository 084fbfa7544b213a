// classhook's entry point on the simulated device installer. (Under Wine it cannot run: Wine 8
// lacks SetupDiGetDriverInstallParamsA, which aborts the process; it is tested here only.)
#include <doctest/doctest.h>

#include <string>
#include <vector>

#include "coinstaller/classhook_module.h"
#include "support/machine.h"
#include "support/unicode_file.h"
#include "winsim/control_device_records.h"
#include "winsim/control_driver_nodes.h"
#include "winsim/control_files.h"

namespace {

const DWORD kRank = 0x80FF0001;  // untrusted
const DWORD kTrusted = kRank & 0x7FFFFFFF;

std::string Inf(const std::string& name, const std::string& marker, bool unicode = false) {
  std::string path = "C:\\Windows\\INF\\" + name;
  std::string text = "[Version]\r\nSignature=\"$WINDOWS NT$\"\r\n" +
                     (marker.empty() ? std::string() : "[CustomClassCoInstaller]\r\nUseClassCoInstaller=" + marker + "\r\n");
  winsim::PutFile(path, unicode ? testing::Utf16LeFile(text) : text);
  return path;
}

// A device with one compatible driver per INF, in this order.
struct Device {
  DEVINST devInst = 0;
  HDEVINFO set = INVALID_HANDLE_VALUE;
  SP_DEVINFO_DATA data{};
  explicit Device(const std::vector<winsim::DriverNodeDesc>& drivers) {
    winsim::DeviceRecordDesc record;
    record.instanceId = "USB\\VID_1A86&PID_0A3C\\1";
    record.hardwareIds = {"USB\\VID_1A86&PID_0A3C"};
    devInst = winsim::AddDeviceRecord(record);
    winsim::SetCompatibleDrivers(devInst, drivers);
    set = SetupDiGetClassDevsA(&winsim::kMediaDeviceClass, nullptr, nullptr, DIGCF_PRESENT);
    data.cbSize = sizeof data;
    REQUIRE(SetupDiEnumDeviceInfo(set, 0, &data));
  }
  ~Device() { SetupDiDestroyDeviceInfoList(set); }
  std::vector<DWORD> Flags() const {
    std::vector<DWORD> flags;
    for (auto state : winsim::CompatibleDriverStates(devInst)) flags.push_back(state.flags);
    return flags;
  }
  std::vector<DWORD> Ranks() const {
    std::vector<DWORD> ranks;
    for (auto state : winsim::CompatibleDriverStates(devInst)) ranks.push_back(state.rank);
    return ranks;
  }
};

winsim::DriverNodeDesc Node(const std::string& inf, std::vector<std::string> ids = {"USB\\VID_1A86&PID_0A3C"}) {
  winsim::DriverNodeDesc node;
  node.infFileName = inf;
  node.hardwareIds = std::move(ids);
  node.rank = kRank;
  return node;
}

}  // namespace

TEST_CASE("the entry point ranks only for DIF_SELECTBESTCOMPATDRV and always returns NO_ERROR") {
  testing::Machine machine;
  testing::ClassHook hook;
  Device device({Node(Inf("a.inf", "classhook.dll"))});
  for (DI_FUNCTION dif : {0x01u, 0x02u, 0x16u, 0x18u, 0x19u, 0xFFFFFFFFu}) {
    CAPTURE(dif);
    winsim::ResetCallCounts();
    CHECK(hook.entry(dif, device.set, &device.data, nullptr) == NO_ERROR);
    for (const auto& [name, count] : winsim::CallCounts()) CHECK_MESSAGE(name.rfind("Setup", 0) != 0, name);
  }
  CHECK(device.Ranks() == std::vector<DWORD>{kRank});
  CHECK(hook.entry(DIF_SELECTBESTCOMPATDRV, device.set, &device.data, nullptr) == NO_ERROR);
  CHECK(device.Ranks() == std::vector<DWORD>{kTrusted});
}

TEST_CASE("drivers whose INF names this co-installer win, every other candidate is marked unusable") {
  const DWORD bad = DNF_BAD_DRIVER;
  struct Case {
    const char* title;
    std::vector<std::string> markers;  // per node; "" = no marker section
    std::vector<std::vector<std::string>> ids;  // per node; empty = the default id
    std::vector<DWORD> ranks;
    std::vector<DWORD> flags;
    bool unicode = false;  // every INF in UTF-16LE
  };
  const std::vector<std::string> fits = {"X"};  // fits into the 808-byte detail buffer
  const Case cases[] = {
      {"three without the marker: nothing changes", {"", "", ""}, {}, {kRank, kRank, kRank}, {0, 0, 0}},
      {"the second names it in other letters", {"", "CLASSHOOK.DLL", "other.dll"}, {}, {kRank, kTrusted, kRank},
       {bad, 0, bad}},
      {"a marker naming another file alone changes nothing", {"other.dll", "NULL", ""}, {}, {kRank, kRank, kRank},
       {0, 0, 0}},
      {"hardware ids that fit the detail buffer name nothing", {"", "classhook.dll"}, {fits, {}},
       {kRank, kTrusted}, {bad, 0}},
      {"a fitting driver alone changes nothing", {"", ""}, {fits, fits}, {kRank, kRank}, {0, 0}},
      {"a comment after the marker is not part of it", {"other.dll", "classhook.dll ; ours", "\"ClassHook.dll\"\t;q"},
       {}, {kRank, kTrusted, kTrusted}, {bad, 0, 0}},
      {"the marker in a Unicode INF", {"", "classhook.dll"}, {}, {kRank, kTrusted}, {bad, 0}, true},
  };
  for (const Case& c : cases) {
    CAPTURE(c.title);
    testing::Machine machine;
    testing::ClassHook hook;
    std::vector<winsim::DriverNodeDesc> nodes;
    for (size_t i = 0; i < c.markers.size(); ++i) {
      std::string name = std::to_string(i);
      name.insert(0, 1, 'n');
      name += ".inf";
      std::string inf = Inf(name, c.markers[i], c.unicode);
      nodes.push_back(i < c.ids.size() && !c.ids[i].empty() ? Node(inf, c.ids[i]) : Node(inf));
    }
    Device device(nodes);
    CHECK(hook.entry(DIF_SELECTBESTCOMPATDRV, device.set, &device.data, nullptr) == NO_ERROR);
    CHECK(device.Ranks() == c.ranks);
    CHECK(device.Flags() == c.flags);
  }
}

TEST_CASE("failed SetupAPI calls only skip work") {
  testing::Machine machine;
  testing::ClassHook hook;
  Device device({Node(Inf("a.inf", "")), Node(Inf("b.inf", "classhook.dll")), Node(Inf("c.inf", ""))});
  // Second pass: the second node's parameters cannot be read; it is left alone.
  winsim::FailCall("SetupDiGetDriverInstallParamsA", ERROR_INVALID_PARAMETER, 1, 1);
  CHECK(hook.entry(DIF_SELECTBESTCOMPATDRV, device.set, &device.data, nullptr) == NO_ERROR);
  CHECK(device.Ranks() == std::vector<DWORD>{kRank, kRank, kRank});
  CHECK(device.Flags() == std::vector<DWORD>{DNF_BAD_DRIVER, 0, DNF_BAD_DRIVER});
  // A detail call failing otherwise than for the buffer means "does not name it".
  Device other({Node(Inf("d.inf", "classhook.dll"))});
  winsim::FailCall("SetupDiGetDriverInfoDetailA", ERROR_INVALID_PARAMETER, -1);
  CHECK(hook.entry(DIF_SELECTBESTCOMPATDRV, other.set, &other.data, nullptr) == NO_ERROR);
  winsim::ClearFaults();
  CHECK(winsim::CompatibleDriverStates(other.devInst)[0].rank == kRank);
}

TEST_CASE("a candidate whose INF details cannot be read in the ranking pass is left alone") {
  // Detail calls: the first pass reads nodes 0 and 1 (which names this co-installer), the
  // ranking pass nodes 0, 1 and 2 as calls 3, 4 and 5.
  const DWORD bad = DNF_BAD_DRIVER;
  struct Case {
    int skip;  // detail calls that pass before one fails
    DWORD error;
    std::vector<DWORD> ranks;
    std::vector<DWORD> flags;
  } cases[] = {
      {3, ERROR_NOT_ENOUGH_MEMORY, {kRank, kRank, kRank}, {bad, 0, bad}},  // never unusable for it
      {2, ERROR_NOT_ENOUGH_MEMORY, {kRank, kTrusted, kRank}, {0, 0, bad}},
      {4, ERROR_FILE_NOT_FOUND, {kRank, kTrusted, kRank}, {bad, 0, 0}},
      {1, ERROR_NOT_ENOUGH_MEMORY, {kRank, kRank, kRank}, {0, 0, 0}},  // the first pass finds none
  };
  for (const Case& c : cases) {
    CAPTURE(c.skip);
    testing::Machine machine;
    testing::ClassHook hook;
    Device device({Node(Inf("a.inf", "")), Node(Inf("b.inf", "classhook.dll")), Node(Inf("c.inf", "other.dll"))});
    winsim::FailCall("SetupDiGetDriverInfoDetailA", c.error, 1, c.skip);
    CHECK(hook.entry(DIF_SELECTBESTCOMPATDRV, device.set, &device.data, nullptr) == NO_ERROR);
    winsim::ClearFaults();
    CHECK(device.Ranks() == c.ranks);
    CHECK(device.Flags() == c.flags);
  }
}
