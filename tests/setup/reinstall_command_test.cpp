// ReinstallDriverForUnpluggedModels: which remembered devices get CONFIGFLAG_REINSTALL.
#include <doctest/doctest.h>

#include <string>

#include "setup/commands.h"
#include "setup/setup_support.h"
#include "support/machine.h"
#include "winsim/control_registry.h"
#include "winsim/control.h"

using namespace setup_testing;

namespace {

DWORD Reinstall(const std::vector<std::string>& modelIds) {
  std::vector<std::string> lines;
  for (const std::string& id : modelIds) lines.push_back("%Desc%=Install, " + id + ", USB\\Class_01");
  winsim::PutFile(kInf, ModelsInf(lines));
  return devsetup::ReinstallDriverForUnpluggedModels(kInf, kModels);
}

std::optional<DWORD> Flags(DEVINST device) { return winsim::ReadDeviceRecord(device)->configFlags; }

}  // namespace

TEST_CASE("unplugged devices whose reduced first hardware id begins with a model id are marked") {
  struct Device {
    std::vector<std::string> ids;
    bool present;
  };
  const Device devices[] = {
      {{"USB\\VID_0001&PID_0002&REV_0100"}, false},             // 0
      {{"usb\\vid_0001&pid_0002&rev_0200"}, false},             // 1
      {{"USB\\VID_0001&PID_0002&REV_0100&MI_01"}, false},       // 2
      {{"USB\\VID_0001&PID_0002&REV_0100"}, true},              // 3 connected
      {{"USB\\VID_0001&PID_0003"}, false},                      // 4
      {{"REV_0100"}, false},                                    // 5 reduces to the empty id
      {{"USB\\VID_0009&PID_0009", "USB\\VID_0001&PID_0002"}, false},  // 6 only the first id counts
  };
  struct Case {
    std::vector<std::string> models;
    std::vector<int> marked;
  } cases[] = {
      {{"USB\\VID_0001&PID_0002"}, {0, 1, 2}},
      {{"USB\\VID_0001&PID_0002&REV_0100"}, {}},  // the reduced ids no longer hold the revision
      {{"USB\\VID_0001&PID_000"}, {0, 1, 2, 4}},   // a prefix
      {{"usb\\VID_0001&pid_0003", "USB\\VID_0009"}, {4, 6}},
      {{"USB\\VID_0001&PID_0002&MI_01"}, {2}},
  };
  for (const Case& c : cases) {
    testing::Machine machine;
    CAPTURE(c.models[0]);
    std::vector<DEVINST> records;
    for (size_t i = 0; i < std::size(devices); ++i)
      records.push_back(AddUsbDevice("USB\\DEV" + std::to_string(i) + "\\1", devices[i].ids, devices[i].present,
                                     CONFIGFLAG_DISABLED));
    CHECK(Reinstall(c.models) == 0);
    for (size_t i = 0; i < records.size(); ++i) {
      CAPTURE(i);
      bool marked = std::find(c.marked.begin(), c.marked.end(), static_cast<int>(i)) != c.marked.end();
      CHECK(Flags(records[i]) == (marked ? CONFIGFLAG_DISABLED | CONFIGFLAG_REINSTALL : CONFIGFLAG_DISABLED));
    }
  }
}

TEST_CASE("the flag is set with the other bits kept, however often a device matches") {
  testing::Machine machine;
  DEVINST marked = AddUsbDevice("USB\\A\\1", {"USB\\VID_0001&PID_0002"}, false, CONFIGFLAG_REINSTALL | 0x1000);
  DEVINST twice = AddUsbDevice("USB\\A\\2", {"USB\\VID_0001&PID_0002&MI_00"}, false, CONFIGFLAG_MANUAL_INSTALL);
  winsim::ResetCallCounts();
  CHECK(Reinstall({"USB\\VID_0001&PID_0002", "USB\\VID_0001"}) == 0);
  CHECK(Flags(marked) == (CONFIGFLAG_REINSTALL | 0x1000));
  CHECK(Flags(twice) == (CONFIGFLAG_MANUAL_INSTALL | CONFIGFLAG_REINSTALL));
  CHECK(Calls("SetupDiGetClassDevsA") == 2);  // a fresh set for each line, each released
}

TEST_CASE("devices whose hardware ids or flags cannot be read are passed over, never given another's id") {
  testing::Machine machine;
  // Enumerated in instance-id order: each unreadable device comes right after a matching one.
  DEVINST match = AddUsbDevice("USB\\A\\1", {"USB\\VID_0001&PID_0002"}, false);
  DEVINST noIds = AddUsbDevice("USB\\B\\1", {}, false);
  std::vector<std::string> longList = {"USB\\VID_0001&PID_0002&REV_0100"};
  while (winsim::MultiStringValue(longList).size() <= MAX_PATH) longList.push_back("USB\\VID_0001&PID_0002&REV_0100&MI_00");
  DEVINST tooLong = AddUsbDevice("USB\\C\\1", longList, false);
  DEVINST noFlags = AddUsbDevice("USB\\D\\1", {"USB\\VID_0001&PID_0002"}, false);
  winsim::SetDeviceRecordProperty(noFlags, SPDRP_CONFIGFLAGS, REG_NONE, {});
  DEVINST shortFlags = AddUsbDevice("USB\\E\\1", {"USB\\VID_0001&PID_0002"}, false);
  winsim::SetDeviceRecordProperty(shortFlags, SPDRP_CONFIGFLAGS, REG_DWORD, {0x01, 0x00});
  DEVINST unterminated = AddUsbDevice("USB\\F\\1", {}, false);
  // Exactly 260 bytes without a NUL: read in full, but no string ends within the buffer.
  std::string matchingStart = "USB\\VID_0001&PID_0002";
  std::vector<BYTE> noNul(MAX_PATH, '_');
  std::copy(matchingStart.begin(), matchingStart.end(), noNul.begin());
  winsim::SetDeviceRecordProperty(unterminated, SPDRP_HARDWAREID, REG_MULTI_SZ, noNul);
  // A short list without a terminator: the bytes past it in the buffer are an earlier
  // device's, or whatever the stack held.
  AddUsbDevice("USB\\G\\1", {"USB\\VID_0009&PID_0002"}, true);
  DEVINST shortUnterminated = AddUsbDevice("USB\\H\\1", {}, false);
  const std::string vendorOnly = "USB\\VID_0001";
  winsim::SetDeviceRecordProperty(shortUnterminated, SPDRP_HARDWAREID, REG_MULTI_SZ,
                                  std::vector<BYTE>(vendorOnly.begin(), vendorOnly.end()));

  // The second model would match the short list's text, with whatever follows it.
  CHECK(Reinstall({"USB\\VID_0001&PID_0002", "USB\\VID_0001"}) == 0);
  CHECK(Flags(match) == CONFIGFLAG_REINSTALL);
  CHECK(Flags(noIds) == 0);
  CHECK(Flags(tooLong) == 0);
  CHECK_FALSE(Flags(noFlags).has_value());  // nothing written
  CHECK(winsim::ReadDeviceRecord(shortFlags)->configFlags == std::nullopt);  // still the 2-byte value
  CHECK(Flags(unterminated) == 0);
  CHECK(Flags(shortUnterminated) == 0);
}

TEST_CASE("the reinstall command's own exit codes, with the INF closed on every path") {
  testing::Machine machine;
  DEVINST device = AddUsbDevice("USB\\A\\1", {"USB\\A"}, false);
  winsim::PutFile(kInf, ModelsInf({"%Desc%=Install, USB\\A"}));
  CHECK(devsetup::ReinstallDriverForUnpluggedModels("C:\\pkg\\missing.inf", kModels) == 0xDEADBEEF);
  CHECK(devsetup::ReinstallDriverForUnpluggedModels(kInf, "Absent") == 0xDEADFACE);
  CHECK(winsim::LiveHandleCount() == 0);
  winsim::PutFile("C:\\pkg\\empty.inf", ModelsInf({}));
  CHECK(devsetup::ReinstallDriverForUnpluggedModels("C:\\pkg\\empty.inf", kModels) == 0xDEADFACE);

  // Enumeration failures are silent.
  winsim::FailCall("SetupDiGetClassDevsA", ERROR_NOT_ENOUGH_MEMORY);
  CHECK(devsetup::ReinstallDriverForUnpluggedModels(kInf, kModels) == 0);
  winsim::FailCall("SetupDiEnumDeviceInfo", ERROR_INVALID_HANDLE);
  CHECK(devsetup::ReinstallDriverForUnpluggedModels(kInf, kModels) == 0);
  winsim::FailCall("SetupDiSetDeviceRegistryPropertyA", ERROR_ACCESS_DENIED);
  CHECK(devsetup::ReinstallDriverForUnpluggedModels(kInf, kModels) == 0);
  CHECK(Flags(device) == 0);
  CHECK(devsetup::ReinstallDriverForUnpluggedModels(kInf, kModels) == 0);
  CHECK(Flags(device) == CONFIGFLAG_REINSTALL);

  // A relative INF path is made full against the current directory, not looked for in the
  // Windows folders.
  winsim::SetDeviceRecordProperty(device, SPDRP_CONFIGFLAGS, REG_DWORD, {0, 0, 0, 0});
  winsim::SetCurrentDirectoryPath("C:\\pkg");
  CHECK(devsetup::ReinstallDriverForUnpluggedModels("tarrowin.inf", kModels) == 0);
  CHECK(Flags(device) == CONFIGFLAG_REINSTALL);
}
